#pragma once

// The log entries attached to one item (`item_log` entries with their `log_area`,
// `log_text`, `log_level`, `log_time` and `log_order`): an "All" tab and one tab per
// area, the existing entries in `log_order` and later ones as they are attached. Lines
// read "[time] " + three spaces per level above 1 + text, shown as they are. The dialog
// closes when its item is removed, and deletes itself when closed.

#include "store/Data.h"

#include <QDialog>

class QTextBrowser;
class Ui_ItemLogDialog;

class ItemLogDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    ItemLogDialog(ItemPtr i_item, QWidget* ip_parent = nullptr);
    ~ItemLogDialog() override;

    // Store path handler: one entry was attached to the item.
    void OnItemLog(ItemPtr i_entry);
    // Whether the first entry's `log_time` is earlier than the second's.
    static bool CompareLogItemDates(ItemPtr i_first, ItemPtr i_second);

    Ui_ItemLogDialog* Form() const { return ui; }

private:
    void OnItemRemoved(ItemPtr i_item);
    QTextBrowser* AreaView(QString const& i_area);

    Ui_ItemLogDialog* ui;
    ItemPtr m_item;
    QTextBrowser* mp_allView;
};
