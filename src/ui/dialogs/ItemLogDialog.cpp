#include "ui/dialogs/ItemLogDialog.h"

#include "store/Log.h"
#include "ui/dialogs/PlainTextLines.h"
#include "ui_ItemLogDialog.h"

#include <QDateTime>
#include <QTextBrowser>

ItemLogDialog::ItemLogDialog(ItemPtr i_item, QWidget* ip_parent)
    : QDialog(ip_parent), ui(new Ui_ItemLogDialog), m_item(i_item), mp_allView(nullptr)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    PathNode* const lp_root = new PathNode(&d, "item_log");
    new PathNode(lp_root, m_item, PathConnecting);
    d.AddPathEventHandler(lp_root, CreateHandler(this, &ItemLogDialog::OnItemLog));
    m_item.GetType()->m_itemRemovedEvent.AddHandler(
        CreateHandler(this, &ItemLogDialog::OnItemRemoved));

    mp_allView = new QTextBrowser(this);
    ui->logTabWidget->addTab(mp_allView, QStringLiteral("All"));
    for (ItemPtr const& l_entry : m_item.GetItems("item_log").SortNumericBy("log_order"))
        OnItemLog(l_entry);
}

ItemLogDialog::~ItemLogDialog()
{
    RemoveDataHandlers();
    delete ui;
}

bool ItemLogDialog::CompareLogItemDates(ItemPtr i_first, ItemPtr i_second)
{
    return QDateTime::fromString(i_first["log_time"].AsString(), Qt::TextDate) <
           QDateTime::fromString(i_second["log_time"].AsString(), Qt::TextDate);
}

QTextBrowser* ItemLogDialog::AreaView(QString const& i_area)
{
    QTabWidget* const lp_tabs = ui->logTabWidget;
    for (int l_tab = 0; l_tab < lp_tabs->count(); ++l_tab)
        if (lp_tabs->tabText(l_tab) == i_area)
            if (QTextBrowser* const lp_view = qobject_cast<QTextBrowser*>(lp_tabs->widget(l_tab)))
                return lp_view;
    QTextBrowser* const lp_view = new QTextBrowser(this);
    lp_tabs->addTab(lp_view, i_area);
    return lp_view;
}

void ItemLogDialog::OnItemLog(ItemPtr i_entry)
{
    QTextBrowser* const lp_view = AreaView(i_entry["log_area"].AsString());
    QString const l_line = QLatin1Char('[') + i_entry["log_time"].AsString() +
                           QLatin1String("] ") +
                           IndentLogText(i_entry["log_level"].AsInt(), i_entry["log_text"].AsString());
    AppendPlainLine(lp_view, l_line);
    AppendPlainLine(mp_allView, l_line);
}

void ItemLogDialog::OnItemRemoved(ItemPtr i_item)
{
    // The entries go with the item; nothing more can be shown for it.
    if (i_item != m_item)
        return;
    RemoveDataHandlers();
    close();
}
