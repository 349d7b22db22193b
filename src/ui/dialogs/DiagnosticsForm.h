#pragma once

// The "Diagnostics" page of the main window: the users tracked at the central server with
// their online state, and one log tab per area in which every Log line of the program
// ends. One instance, reached through diagnosticsForm; it is the log receiver from its
// construction to its destruction. There is no log file; each tab keeps its last 10,000
// lines.
//
// Store types: `log` (one per area, keyed by the area's UTF-8 name) names its view through
// `log_widget` (keyed by the view's address); `track_user_node` (keyed by a row's
// address) ties a tracked user to its row. Init also declares the item-log types that
// ItemLogDialog reads: `item_log` entries joined to `user` items, each with one
// `log_area`, `log_text`, `log_level`, `log_time` and `log_order`. None is saved.

#include "store/Data.h"

#include <QString>
#include <QWidget>

class QTextBrowser;
class Ui_DiagnosticsForm;

class DiagnosticsForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    explicit DiagnosticsForm(QWidget* ip_parent = nullptr);
    ~DiagnosticsForm() override;

    // Once, after the server's user types exist: the tracked-user handlers and types.
    void Init();

    // Appends "[date] " + indentation + text to the area's tab, made on first use. The
    // text is shown as it is. GUI thread; the log receiver re-posts other threads' lines.
    void Log(QString i_area, int i_level, QString i_text, ItemPtr i_item);
    // Does nothing; kept for callers that announce the item types they log about.
    void RegisterLoggableItemType(QString i_type);

    // Store path handlers, each with the user item.
    void OnUserTracked(ItemPtr i_user);
    void OnUserUntracked(ItemPtr i_user);
    void OnUserOnline(ItemPtr i_user);
    void OnUserOffline(ItemPtr i_user);

    // The area's lines as plain text; empty when it has no tab.
    QString LogText(QString const& i_area) const;
    Ui_DiagnosticsForm* Form() const { return ui; }

private:
    void AppendLine(QString const& i_area, QString const& i_line);
    QTextBrowser* AreaView(QString const& i_area) const;
    void SetUserStatus(ItemPtr i_user, bool i_online);
    void WatchUsers(char const* i_flag, PathNodeRelation i_relation,
                    void (DiagnosticsForm::*ip_handler)(ItemPtr));

    Ui_DiagnosticsForm* ui;
    Type* mp_logType;
    Type* mp_logWidgetType;
};

extern DiagnosticsForm* diagnosticsForm;
