#pragma once

// The main window's toolbar of commands, which follows the keyboard focus. Forms declare
// named action sets and register the widgets that have commands under one set each;
// when the focus moves into a registered widget (or anything inside it) the toolbar
// shows that widget's set, with the texts and hidden flags the widget chose for itself.
// A triggered command is announced with the widget and the action id; the receiving
// form reads the command's context ("keys": the room, the user...) with GetKey. Keys
// come from fixed pairs attached to a widget and from columns of the first selected row
// of the tree the focus is in.
//
// The availability button (left) and the privileges button (right) are always there.
//
// All state lives in run-only store items keyed by the widgets' addresses. A widget's
// records go with the widget, so a later widget at the same address starts clean.
//
// One instance, reached through actionBar. GUI thread only.

#include "store/Data.h"

#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QToolBar>
#include <QTreeWidget>

#include <span>

class ActionSetToolBar : public QToolBar
{
    Q_OBJECT

public:
    // Declares the toolbar's item types (once per run) and sets actionBar.
    explicit ActionSetToolBar(QWidget* ip_parent = nullptr);
    ~ActionSetToolBar() override;

    // Follows focus changes from now on and listens for the server's privileges time.
    void Init();

    // Adds one action to the set (made on first use). Actions show in the order they
    // were added, across all sets. i_needsSelection: the action does nothing while the
    // tree the focus is in has no selected row.
    void AddSetAction(QString i_set, QString i_id, QString i_text, QString i_icon,
                      bool i_needsSelection);
    // One row of a form's command table, for AddSetActions.
    struct SetActionSpec
    {
        char const* m_set;
        char const* m_id;
        char const* m_text;
        char const* m_icon;
        bool m_needsSelection;
    };
    // AddSetAction for every row, in order.
    void AddSetActions(std::span<SetActionSpec const> i_actions);
    // Binds the widget to the set (the last registration wins).
    void RegisterWidget(QWidget* ip_widget, QString i_set);
    // A fixed key of the widget, made active whenever the widget becomes current. A
    // second pair for the same key does not replace the first.
    void AddWidgetKey(QWidget* ip_widget, QString i_key, QString i_value);
    // A key taken, when an action is triggered, from that column of the first selected
    // row of the current tree.
    void AddWidgetColumnKey(QWidget* ip_widget, QString i_key, int i_column);
    // The widget's own text for an action id; shown at once when the widget is current.
    void SetWidgetActionText(QWidget* ip_widget, QString i_id, QString i_text);
    // Hides the action for this widget (at once when current); false unhides it from the
    // next rebuild on.
    void SetWidgetActionHidden(QWidget* ip_widget, QString i_id, bool i_hidden);
    // The value of an active key, or empty text. Active keys are global: a key keeps the
    // last value any widget or row gave it.
    QString GetKey(QString i_key) const;

    // (seconds + 43200) / 86400 in 64-bit arithmetic: whole days, halves rounded up.
    static qint64 PrivilegeDays(qint64 i_seconds);

    // For tests and the main window's diagnostics: the shown set and widget.
    QString CurrentSetName() const { return m_currentSetName; }
    QWidget* CurrentWidget() const { return mp_currentWidget.data(); }
    QTreeWidget* CurrentTree() const { return mp_currentTree.data(); }
    QPushButton* StatusButton() const { return mp_statusButton.data(); }
    QPushButton* PrivilegesButton() const { return mp_privilegesButton.data(); }

signals:
    void ActionTriggered(QWidget* ip_widget, QString i_action);

public slots:
    void OnActionTriggered(bool i_checked);
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);
    void OnSupportKestruneButtonClicked();
    void OnReceivedOwnPrivilegesStatus(int i_seconds);
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnStatusButtonClicked();

private:
    void Clear();
    void ClearAndDeleteActions();
    void ChangeSet(QWidget* ip_widget, QString i_set);
    void AddSupportKestruneButton();
    // The registered record of a widget, or null; never creates one.
    static ItemPtr WidgetRecord(QObject const* ip_widget);
    // Drops a widget's record with its keys, markers and text links.
    void ForgetWidget(ItemPtr i_record);
    // Gives an active key a value, dropping a value item nothing else holds.
    static void SetActiveKey(ItemPtr i_key, QString const& i_value);
    // Every shown QAction that stands for an action with this id.
    QList<QAction*> ShownActions(ItemPtr i_id) const;

    QString m_currentSetName;
    ItemPtr m_currentWidgetRecord;
    QPointer<QTreeWidget> mp_currentTree;
    QPointer<QWidget> mp_currentWidget;
    quint64 m_orderCounter;
    bool m_inFocusChange;
    QPointer<QPushButton> mp_privilegesButton;
    QPointer<QPushButton> mp_statusButton;
    bool m_initialised;
};

extern ActionSetToolBar* actionBar;
