#include "ui/dialogs/DiagnosticsForm.h"

#include "store/Log.h"
#include "ui/dialogs/PlainTextLines.h"
#include "ui_DiagnosticsForm.h"

#include <QHeaderView>
#include <QTextBrowser>
#include <QThread>

DiagnosticsForm* diagnosticsForm = nullptr;

namespace
{
QString StatusText(bool i_online)
{
    return i_online ? QStringLiteral("Online") : QStringLiteral("Offline");
}

// Types are declared once per process; a second form (tests build several) reuses them.
Type* DeclareType(char const* i_name, Primacy i_primacy, bool i_null, bool i_createOnGet)
{
    if (Type* const lp_type = d.HasType(i_name))
        return lp_type;
    return d.NewType(i_name, i_primacy, i_null, i_createOnGet);
}

void Relate(char const* i_first, char const* i_second, OneOrMany i_a, OneOrMany i_b)
{
    Type* const lp_first = d.GetType(i_first);
    Type* const lp_second = d.GetType(i_second);
    if (!lp_first->IsRelated(lp_second))
        lp_first->RelateToType(lp_second, i_a, i_b);
}

int const c_maxLogLines = 10000;

char const* const c_logAttributes[] = {"log_area", "log_text", "log_level", "log_time",
                                       "log_order"};
} // namespace

DiagnosticsForm::DiagnosticsForm(QWidget* ip_parent)
    : QWidget(ip_parent), ui(new Ui_DiagnosticsForm)
{
    ui->setupUi(this);
    diagnosticsForm = this;

    QTreeWidget* const lp_tree = ui->trackedUsersTree;
    lp_tree->setColumnCount(2);
    lp_tree->setHeaderLabels({QStringLiteral("User"), QString()});
    lp_tree->setColumnWidth(0, 300);
    lp_tree->setColumnWidth(1, 100);

    mp_logType = DeclareType("log", Primary, false, true);
    mp_logWidgetType = DeclareType("log_widget", Primary, false, true);
    Relate("log", "log_widget", One, One);

    SetLogReceiver(
        [this](QString const& i_area, int i_level, QString const& i_text, ItemPtr const& i_item)
        {
            if (QThread::currentThread() == thread())
            {
                Log(i_area, i_level, i_text, i_item);
                return;
            }
            // The store and the views belong to the GUI thread. The line keeps the time
            // it was logged at; the item is not used and must not cross threads.
            QString const l_line = FormatLogLine(i_level, i_text);
            QMetaObject::invokeMethod(
                this, [this, i_area, l_line] { AppendLine(i_area, l_line); },
                Qt::QueuedConnection);
        });
}

DiagnosticsForm::~DiagnosticsForm()
{
    SetLogReceiver(LogReceiver());
    RemoveDataHandlers();
    // The items name this form's views and rows, which go with it.
    mp_logWidgetType->RemoveAllItems();
    mp_logType->RemoveAllItems();
    if (Type* const lp_nodes = d.HasType("track_user_node"))
        lp_nodes->RemoveAllItems();
    delete ui;
    if (diagnosticsForm == this)
        diagnosticsForm = nullptr;
}

void DiagnosticsForm::WatchUsers(char const* i_flag, PathNodeRelation i_relation,
                                 void (DiagnosticsForm::*ip_handler)(ItemPtr))
{
    PathNode* const lp_root = new PathNode(&d, "user");
    new PathNode(lp_root, i_flag, i_relation);
    d.AddPathEventHandler(lp_root, CreateHandler(this, ip_handler));
}

void DiagnosticsForm::Init()
{
    WatchUsers("is_tracked", PathConnecting, &DiagnosticsForm::OnUserTracked);
    WatchUsers("is_tracked", PathDisconnecting, &DiagnosticsForm::OnUserUntracked);
    WatchUsers("is_online", PathConnecting, &DiagnosticsForm::OnUserOnline);
    WatchUsers("is_online", PathDisconnecting, &DiagnosticsForm::OnUserOffline);

    DeclareType("track_user_node", Primary, false, true);
    Relate("track_user_node", "user", One, One);

    // The entries of a user's item log. Nothing writes them yet; the item log dialog
    // needs the types to exist.
    DeclareType("item_log", Secondary, true, false);
    Relate("item_log", "user", Many, Many);
    for (char const* lp_attribute : c_logAttributes)
    {
        DeclareType(lp_attribute, Tertiary, false, true);
        Relate("item_log", lp_attribute, Many, One);
    }
}

void DiagnosticsForm::Log(QString i_area, int i_level, QString i_text, ItemPtr /*i_item*/)
{
    AppendLine(i_area, FormatLogLine(i_level, i_text));
}

void DiagnosticsForm::RegisterLoggableItemType(QString /*i_type*/)
{
}

void DiagnosticsForm::AppendLine(QString const& i_area, QString const& i_line)
{
    QByteArray l_key = i_area.toUtf8();
    qsizetype const l_zero = l_key.indexOf('\0');
    if (l_zero >= 0)
        l_key.truncate(l_zero);
    ItemPtr const l_log = mp_logType->GetItem(Value(l_key));
    QTextBrowser* lp_view = nullptr;
    if (ItemPtr const l_widget = l_log["log_widget"])
        lp_view = l_widget.AsPtr<QTextBrowser>();
    else
    {
        lp_view = new QTextBrowser(this);
        // A tab is kept for the whole run: the oldest lines drop off its top.
        lp_view->document()->setMaximumBlockCount(c_maxLogLines);
        ui->logTabWidget->addTab(lp_view, i_area);
        l_log += mp_logWidgetType->GetItem(Value(lp_view));
    }
    AppendPlainLine(lp_view, i_line);
}

QTextBrowser* DiagnosticsForm::AreaView(QString const& i_area) const
{
    ItemPtr const l_widget = mp_logType->HasItem(Value(i_area))["log_widget"];
    return l_widget ? l_widget.AsPtr<QTextBrowser>() : nullptr;
}

QString DiagnosticsForm::LogText(QString const& i_area) const
{
    QTextBrowser* const lp_view = AreaView(i_area);
    return lp_view ? lp_view->toPlainText() : QString();
}

void DiagnosticsForm::OnUserTracked(ItemPtr i_user)
{
    QTreeWidgetItem* const lp_row = new QTreeWidgetItem(ui->trackedUsersTree);
    lp_row->setText(0, i_user.AsString());
    lp_row->setText(1, StatusText(i_user.IsConnected("is_online")));
    i_user += d["track_user_node"]->GetItem(Value(lp_row));
}

void DiagnosticsForm::OnUserUntracked(ItemPtr i_user)
{
    ItemPtr const l_node = i_user["track_user_node"];
    if (!l_node)
        return;
    delete l_node.AsPtr<QTreeWidgetItem>();
    l_node.Remove();
}

void DiagnosticsForm::SetUserStatus(ItemPtr i_user, bool i_online)
{
    if (ItemPtr const l_node = i_user["track_user_node"])
        l_node.AsPtr<QTreeWidgetItem>()->setText(1, StatusText(i_online));
}

void DiagnosticsForm::OnUserOnline(ItemPtr i_user)
{
    SetUserStatus(i_user, true);
}

void DiagnosticsForm::OnUserOffline(ItemPtr i_user)
{
    SetUserStatus(i_user, false);
}
