#pragma once

// One results tab: the result tree (filled, ordered and filtered by the search form),
// the related searches the server suggests for the search text, and the filter row with
// its help, the saved filters, the filter edit and the clear and save buttons.
//
// Saved filters are saved `saved_filter` items keyed by the filter simplified and in
// lower case; every open tab's box follows every change. A wish-list tab never shows
// related searches.

#include "store/Data.h"

#include <QString>
#include <QWidget>

class QLineEdit;
class QShowEvent;
class QTreeWidget;
class Ui_SearchResultsForm;

class SearchResultsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    SearchResultsForm(QString i_searchText, bool i_isWishListSearch, QWidget* ip_parent = nullptr);
    ~SearchResultsForm() override;

    // Registers the tree for tab focus, fills the saved filters and follows their changes.
    void Init();

    QTreeWidget* searchResults() const;
    QLineEdit* filterEdit() const;
    QTreeWidget* CorrelationsWidget() const;
    QString SearchText() const { return m_searchText; }

    // Stores what Sort() applies.
    void SetSortingParamters(int i_column, Qt::SortOrder i_order);
    int SortColumn() const { return m_sortColumn; }

    // A filter text as saved filters are keyed: simplified, lower case, UTF-8.
    static Value NormalisedFilter(QString const& i_text);

public slots:
    void OnFilterHelpClicked();
    void OnSearchCorrelations(QString i_search);
    // Relabels the save button; filtering the tree is the search form's work.
    void OnFilterTextChanged(QString i_text);
    void OnSaveFilterClicked();
    void OnSavedFiltersBoxIndexChanged(int i_index);
    void OnClearFilterClicked();
    void Sort();

protected:
    void showEvent(QShowEvent* ip_event) override;

private:
    void PopulateCorrelations();
    void OnSavedFilterAdded(ItemPtr i_filter);
    void OnSavedFilterRemoved(ItemPtr i_filter);

    Ui_SearchResultsForm* ui;
    int m_sortColumn;
    Qt::SortOrder m_sortOrder;
    QString m_searchText;
};
