// ActionSetToolBar: the item types, the forms' registrations and per-widget settings,
// active keys and the end of a widget's records. The rebuilds that follow the focus,
// the buttons and the triggers are in ActionSetToolBarView.cpp.

#include "store/Schema.h"
#include "widgets/ActionSetToolBar.h"

#include "widgets/UIFunctions.h"

#include <QAction>
#include <QApplication>

ActionSetToolBar* actionBar = nullptr;

namespace
{
// Every type is create-on-get and run-only: the forms register everything anew each run.
TypeSpec const c_types[] = {
    {"toolbar_action_set", Primary, false},
    {"toolbar_action", Primary, true},
    {"toolbar_action_id", Primary, false},
    {"toolbar_action_order", Tertiary, false},
    {"toolbar_action_widget", Primary, false},
    {"action_key_value_pair", Primary, true},
    {"action_key", Secondary, false},
    {"action_value", Tertiary, false},
    {"action_key_column_pair", Primary, true},
    {"action_column", Tertiary, false},
    {"active_action_key", Primary, false},
    {"active_action_value", Tertiary, false},
    {"widget_action_text", Tertiary, false},
    {"widget_action_text_pair", Primary, true},
    {"widget_action_hidden", Tertiary, true},
    {"toolbar_action_object", Secondary, false},
    {"toolbar_action_icon", Tertiary, false},
    {"toolbar_action_text", Tertiary, false},
    {"needs_list_selection", Tertiary, true},
};

RelationSpec const c_relations[] = {
    {"toolbar_action_set", "toolbar_action", One, Many},
    {"toolbar_action", "toolbar_action_id", Many, One},
    {"toolbar_action", "toolbar_action_order", One, One},
    {"toolbar_action", "toolbar_action_icon", Many, One},
    {"toolbar_action", "toolbar_action_text", Many, One},
    {"toolbar_action", "needs_list_selection", Many, One},
    {"toolbar_action_set", "toolbar_action_widget", One, Many},
    {"action_key_value_pair", "toolbar_action_widget", Many, One},
    {"action_key_value_pair", "action_key", Many, One},
    {"action_key_value_pair", "action_value", Many, One},
    {"action_key_column_pair", "toolbar_action_widget", Many, One},
    {"action_key_column_pair", "action_key", Many, One},
    {"action_key_column_pair", "action_column", Many, One},
    {"active_action_key", "active_action_value", Many, One},
    // A text item is shared by every widget and id that use its text, so which widget
    // shows it for which id is a pair of its own: linked to widgets and ids directly, two
    // ids of one widget (or one id of two widgets) sharing a text were mistaken for each
    // other.
    {"widget_action_text_pair", "toolbar_action_widget", Many, One},
    {"widget_action_text_pair", "toolbar_action_id", Many, One},
    {"widget_action_text_pair", "widget_action_text", Many, One},
    {"widget_action_hidden", "toolbar_action_widget", Many, One},
    {"widget_action_hidden", "toolbar_action_id", Many, One},
    {"toolbar_action", "toolbar_action_object", One, One},
};

// Removes a shared value item once nothing holds it any more.
void RemoveIfUnused(ItemPtr i_item)
{
    if (i_item && i_item.IsDisconnectedFromAll())
        i_item.Remove();
}
} // namespace

ActionSetToolBar::ActionSetToolBar(QWidget* ip_parent)
    : QToolBar(ip_parent),
      m_orderCounter(0),
      m_inFocusChange(false),
      m_initialised(false)
{
    actionBar = this;
    DeclareTypes(c_types);
    RelateTypes(c_relations);

    connect(qApp, &QApplication::focusChanged, this,
            &ActionSetToolBar::OnApplicationFocusChanged);
    AddSupportKestruneButton();
}

ActionSetToolBar::~ActionSetToolBar()
{
    if (actionBar == this)
        actionBar = nullptr;
}

ItemPtr ActionSetToolBar::WidgetRecord(QObject const* ip_widget)
{
    if (!ip_widget)
        return ItemPtr();
    return d["toolbar_action_widget"]->HasItem(Value(ip_widget));
}

void ActionSetToolBar::AddSetAction(QString i_set, QString i_id, QString i_text, QString i_icon,
                                    bool i_needsSelection)
{
    ItemPtr const l_set = d["toolbar_action_set"]->GetItem(Value(i_set));
    ItemPtr const l_action = d["toolbar_action"]->NewItem();
    l_set += l_action;
    l_action += d["toolbar_action_id"]->GetItem(Value(i_id));
    l_action += d["toolbar_action_icon"]->GetItem(Value(i_icon));
    l_action += d["toolbar_action_text"]->GetItem(Value(i_text));
    l_action += d["toolbar_action_order"]->GetItem(Value(m_orderCounter));
    ++m_orderCounter;
    if (i_needsSelection)
        l_action.NewItem("needs_list_selection");
}

void ActionSetToolBar::AddSetActions(std::span<SetActionSpec const> i_actions)
{
    for (SetActionSpec const& l_action : i_actions)
        AddSetAction(QString::fromLatin1(l_action.m_set), QString::fromLatin1(l_action.m_id),
                     QString::fromLatin1(l_action.m_text), QString::fromLatin1(l_action.m_icon),
                     l_action.m_needsSelection);
}

void ActionSetToolBar::RegisterWidget(QWidget* ip_widget, QString i_set)
{
    if (!ip_widget)
        return;
    ItemPtr const l_record =
        d["toolbar_action_widget"]->GetItem(Value(static_cast<QObject const*>(ip_widget)));
    l_record += d["toolbar_action_set"]->GetItem(Value(i_set));
    connect(ip_widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed,
            Qt::UniqueConnection);
}

void ActionSetToolBar::AddWidgetKey(QWidget* ip_widget, QString i_key, QString i_value)
{
    ItemPtr const l_record = WidgetRecord(ip_widget);
    if (!l_record)
        return;
    ItemPtr const l_pair = d["action_key_value_pair"]->NewItem();
    l_pair += l_record;
    l_pair += d["action_key"]->GetItem(Value(i_key));
    l_pair += d["action_value"]->GetItem(Value(i_value));
}

void ActionSetToolBar::AddWidgetColumnKey(QWidget* ip_widget, QString i_key, int i_column)
{
    ItemPtr const l_record = WidgetRecord(ip_widget);
    if (!l_record)
        return;
    ItemPtr const l_pair = d["action_key_column_pair"]->NewItem();
    l_pair += l_record;
    l_pair += d["action_key"]->GetItem(Value(i_key));
    l_pair += d["action_column"]->GetItem(Value(i_column));
}

QList<QAction*> ActionSetToolBar::ShownActions(ItemPtr i_id) const
{
    QList<QAction*> l_shown;
    for (ItemPtr const& l_action : i_id.GetItems("toolbar_action"))
    {
        ItemPtr const l_object = l_action["toolbar_action_object"];
        if (l_object)
            l_shown.append(static_cast<QAction*>(l_object.AsPtr<QObject>()));
    }
    return l_shown;
}

void ActionSetToolBar::SetWidgetActionText(QWidget* ip_widget, QString i_id, QString i_text)
{
    ItemPtr const l_record = WidgetRecord(ip_widget);
    ItemPtr const l_id = d["toolbar_action_id"]->HasItem(Value(i_id));
    if (!l_record || !l_id)
        return;
    ItemPtr l_pair = d.GetItem(l_record, l_id, "widget_action_text_pair");
    if (!l_pair)
    {
        l_pair = d["widget_action_text_pair"]->NewItem();
        l_pair += l_record;
        l_pair += l_id;
    }
    ItemPtr const l_old = l_pair["widget_action_text"];
    ItemPtr const l_text = d["widget_action_text"]->GetItem(Value(i_text));
    if (l_old != l_text)
    {
        if (l_old)
        {
            l_pair.Disconnect(l_old);
            // A text no pair uses any more says nothing.
            RemoveIfUnused(l_old);
        }
        l_pair += l_text;
    }
    if (ip_widget == mp_currentWidget)
        for (QAction* lp_action : ShownActions(l_id))
            lp_action->setText(i_text);
}

void ActionSetToolBar::SetWidgetActionHidden(QWidget* ip_widget, QString i_id, bool i_hidden)
{
    ItemPtr const l_record = WidgetRecord(ip_widget);
    ItemPtr const l_id = d["toolbar_action_id"]->HasItem(Value(i_id));
    if (!l_record || !l_id)
        return;
    ItemPtr const l_marker = d.GetItem(l_record, l_id, "widget_action_hidden");
    if (!i_hidden)
    {
        // The button comes back with the next rebuild.
        if (l_marker)
            l_marker.Remove();
        return;
    }
    if (l_marker)
        return;
    ItemPtr const l_newMarker = d["widget_action_hidden"]->NewItem();
    l_newMarker += l_record;
    l_newMarker += l_id;
    if (ip_widget == mp_currentWidget)
        for (QAction* lp_action : ShownActions(l_id))
            lp_action->setVisible(false);
}

QString ActionSetToolBar::GetKey(QString i_key) const
{
    ItemPtr const l_key = d["active_action_key"]->HasItem(Value(i_key));
    return l_key["active_action_value"].AsString();
}

void ActionSetToolBar::SetActiveKey(ItemPtr i_key, QString const& i_value)
{
    ItemPtr const l_old = i_key["active_action_value"];
    ItemPtr const l_value = d["active_action_value"]->GetItem(Value(i_value));
    i_key += l_value;
    if (l_old != l_value)
        RemoveIfUnused(l_old);
}

void ActionSetToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver)
        return;
    ItemPtr const l_record = WidgetRecord(ip_widget);
    bool const l_isCurrent = (ip_widget && ip_widget == mp_currentWidget.data()) ||
                             (l_record && l_record == m_currentWidgetRecord);
    if (l_isCurrent)
    {
        Clear();
        AddSupportKestruneButton();
        m_currentWidgetRecord = ItemPtr();
        mp_currentWidget = nullptr;
    }
    if (l_record)
        ForgetWidget(l_record);
}

void ActionSetToolBar::ForgetWidget(ItemPtr i_record)
{
    if (i_record == m_currentWidgetRecord)
        m_currentWidgetRecord = ItemPtr();
    for (ItemPtr const& l_pair : i_record.GetItems("action_key_value_pair"))
    {
        ItemPtr const l_value = l_pair["action_value"];
        l_pair.Remove();
        RemoveIfUnused(l_value);
    }
    i_record.GetItems("action_key_column_pair").Remove();
    i_record.GetItems("widget_action_hidden").Remove();
    for (ItemPtr const& l_pair : i_record.GetItems("widget_action_text_pair"))
    {
        ItemPtr const l_text = l_pair["widget_action_text"];
        l_pair.Remove();
        RemoveIfUnused(l_text);
    }
    i_record.Remove();
}
