#include "ui/search/SearchResultsForm.h"

#include "net/server/Server.h"
#include "ui/search/FilterHelpDialog.h"
#include "ui_SearchResultsForm.h"
#include "widgets/EventToolBar.h"
#include "widgets/UIFunctions.h"

#include <QShowEvent>

namespace
{
int const c_correlationsWidth = 150;
} // namespace

SearchResultsForm::SearchResultsForm(QString i_searchText, bool i_isWishListSearch, QWidget* ip_parent)
    : QWidget(ip_parent), ui(new Ui_SearchResultsForm), m_sortColumn(0),
      m_sortOrder(Qt::DescendingOrder), m_searchText(i_searchText)
{
    ui->setupUi(this);
    connect(ui->pushButton, &QPushButton::clicked, this, &SearchResultsForm::OnFilterHelpClicked);
    connect(ui->saveFilterButton, &QPushButton::clicked, this, &SearchResultsForm::OnSaveFilterClicked);
    connect(ui->filterEdit, &QLineEdit::textChanged, this, &SearchResultsForm::OnFilterTextChanged);
    connect(ui->savedFiltersBox, &QComboBox::currentIndexChanged, this,
            &SearchResultsForm::OnSavedFiltersBoxIndexChanged);
    connect(ui->pushButton_2, &QPushButton::clicked, this, &SearchResultsForm::OnClearFilterClicked);

    ui->searchResultsTreeWidget->setSortingEnabled(false);
    ui->correlationsWidget->hide();
    ui->correlationsWidget->setHeaderLabels({QStringLiteral("related searches")});

    if (!i_isWishListSearch)
    {
        PopulateCorrelations();
        if (gp_server)
            connect(gp_server, &Server::SearchCorrelations, this, &SearchResultsForm::OnSearchCorrelations);
    }
}

SearchResultsForm::~SearchResultsForm()
{
    RemoveDataHandlers();
    delete ui;
}

void SearchResultsForm::Init()
{
    RegisterWidgetForTabFocus(ui->searchResultsTreeWidget, 2);
    Type* const lp_filters = d["saved_filter"];
    for (ItemPtr const& l_filter : lp_filters->GetItems())
        ui->savedFiltersBox->addItem(l_filter.AsString());
    lp_filters->m_itemAddedEvent.AddHandler(CreateHandler(this, &SearchResultsForm::OnSavedFilterAdded));
    lp_filters->m_itemRemovedEvent.AddHandler(CreateHandler(this, &SearchResultsForm::OnSavedFilterRemoved));
}

QTreeWidget* SearchResultsForm::searchResults() const
{
    return ui->searchResultsTreeWidget;
}

QLineEdit* SearchResultsForm::filterEdit() const
{
    return ui->filterEdit;
}

QTreeWidget* SearchResultsForm::CorrelationsWidget() const
{
    return ui->correlationsWidget;
}

void SearchResultsForm::SetSortingParamters(int i_column, Qt::SortOrder i_order)
{
    m_sortColumn = i_column;
    m_sortOrder = i_order;
}

void SearchResultsForm::Sort()
{
    // With sorting off this sorts once and sets the column the rows' ordering reads.
    ui->searchResultsTreeWidget->sortByColumn(m_sortColumn, m_sortOrder);
}

Value SearchResultsForm::NormalisedFilter(QString const& i_text)
{
    return Value(i_text.simplified().toLower());
}

void SearchResultsForm::OnFilterTextChanged(QString i_text)
{
    bool const l_isSaved = d["saved_filter"]->HasItem(NormalisedFilter(i_text)).IsNotNull();
    QString const l_save = tr("Save Filter");
    QString const l_remove = tr("Remove Filter");
    if (l_isSaved && ui->saveFilterButton->text() == l_save)
        ui->saveFilterButton->setText(l_remove);
    else if (!l_isSaved && ui->saveFilterButton->text() == l_remove)
        ui->saveFilterButton->setText(l_save);
}

void SearchResultsForm::OnSaveFilterClicked()
{
    Value const l_filter = NormalisedFilter(ui->filterEdit->text());
    Type* const lp_filters = d["saved_filter"];
    if (ItemPtr const l_saved = lp_filters->HasItem(l_filter))
        l_saved.Remove();
    else if (!l_filter.IsEmpty())
        lp_filters->NewItem(l_filter);
}

void SearchResultsForm::OnSavedFilterAdded(ItemPtr i_filter)
{
    ui->savedFiltersBox->addItem(i_filter.AsString());
    OnFilterTextChanged(ui->filterEdit->text());
}

void SearchResultsForm::OnSavedFilterRemoved(ItemPtr i_filter)
{
    // Entry 0 is the box's title, never a saved filter, even one spelt like it.
    QComboBox* const lp_box = ui->savedFiltersBox;
    QString const l_text = i_filter.AsString();
    for (int l_index = 1; l_index < lp_box->count(); ++l_index)
        if (lp_box->itemText(l_index) == l_text)
        {
            lp_box->removeItem(l_index);
            break;
        }
    OnFilterTextChanged(ui->filterEdit->text());
}

void SearchResultsForm::OnSavedFiltersBoxIndexChanged(int i_index)
{
    if (i_index <= 0)
        return;
    ui->filterEdit->setText(ui->savedFiltersBox->itemText(i_index));
    ui->savedFiltersBox->setCurrentIndex(0);
}

void SearchResultsForm::OnClearFilterClicked()
{
    ui->filterEdit->clear();
}

void SearchResultsForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void SearchResultsForm::OnSearchCorrelations(QString i_search)
{
    if (i_search == m_searchText)
        PopulateCorrelations();
}

void SearchResultsForm::PopulateCorrelations()
{
    QTreeWidget* const lp_list = ui->correlationsWidget;
    lp_list->clear();
    lp_list->hide();

    ItemPtr const l_text = d["search_request_text"]->HasItem(Value(m_searchText));
    if (!l_text)
        return;
    // Highest rank first; related searches without a rank are left out.
    ItemList const l_correlations = l_text.GetItems("search_correlation").SortNumericBy("correlation_rank", false);
    if (l_correlations.empty())
        return;
    for (ItemPtr const& l_correlation : l_correlations)
    {
        auto* const lp_row = new QTreeWidgetItem(lp_list);
        lp_row->setText(0, l_correlation["correlation_text"].AsString());
    }
    lp_list->show();
    // Sizes that do not add up to the splitter's width are scaled to it; once laid out,
    // its own width keeps the list at exactly its width.
    QSplitter* const lp_splitter = ui->splitter;
    int const l_total = lp_splitter->isVisible() ? lp_splitter->width() - lp_splitter->handleWidth() : width();
    lp_splitter->setSizes({l_total - c_correlationsWidth, c_correlationsWidth});
}

void SearchResultsForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(this);
}
