#pragma once

// Store idioms shared by the handlers of incoming server messages. A flag is a
// connection to the flag type's item, an attribute a connection to the value's item
// (shared by everyone with that value); the relations hold one of each per user or
// room, so setting one replaces the old one.

#include "store/Data.h"

#include <QString>

namespace IncomingItems
{
// The item named by `i_name`, created on first mention.
inline ItemPtr Named(Type* ip_type, QString const& i_name)
{
    return ip_type->NewItem(Value(i_name));
}

// The item named by `i_name` when the store already holds one; never creates.
inline ItemPtr Existing(Type* ip_type, QString const& i_name)
{
    return ip_type->HasItem(Value(i_name));
}

inline void SetFlag(ItemPtr i_item, char const* i_flag)
{
    i_item.NewItem(i_flag);
}

inline void ClearFlag(ItemPtr i_item, char const* i_flag)
{
    i_item.Disconnect(i_flag);
}

inline void SetAttribute(ItemPtr i_item, Type* ip_attribute, Value const& i_value)
{
    i_item.Connect(ip_attribute->NewItem(i_value));
}

// True when an existing user of that name is on the ignored list. Looking never
// creates a user: chat from strangers must not fill the store.
inline bool IsIgnored(QString const& i_user)
{
    ItemPtr const l_user = Existing(d["user"], i_user);
    return l_user.IsNotNull() && l_user.IsConnected("is_ignored");
}
} // namespace IncomingItems
