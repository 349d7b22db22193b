// Item sets: algebra, connection filters, bulk changes and sorted views.

#include "store/Data.h"

#include <iterator>
#include <map>

void ItemSet::Add(ItemSet const& other)
{
    insert(other.begin(), other.end());
}

ItemSet ItemSet::operator+(ItemSet const& other) const
{
    ItemSet l_result(*this);
    l_result.Add(other);
    return l_result;
}

ItemSet ItemSet::Common(ItemSet const& other) const
{
    ItemSet l_result;
    std::set_intersection(begin(), end(), other.begin(), other.end(),
                          std::inserter(l_result, l_result.end()));
    return l_result;
}

namespace
{
// Whether one of the item's connected items, of any type, lies in the set.
bool IsConnectedToAnyOf(ItemPtr i_item, ItemSet const& i_set)
{
    for (auto const& [lp_type, l_items] : i_item->Connections())
        for (ItemPtr const& l_connected : l_items)
            if (i_set.count(l_connected))
                return true;
    return false;
}
} // namespace

ItemSet ItemSet::Connected(ItemSet const& other) const
{
    ItemSet l_result;
    if (size() < other.size())
    {
        // Walk this set: keep each member one of whose connected items lies in `other`.
        for (ItemPtr const& l_member : *this)
            if (IsConnectedToAnyOf(l_member, other))
                l_result.insert(l_result.end(), l_member);
    }
    else
    {
        // Walk the other set: keep every member of this set connected to one of its items.
        for (ItemPtr const& l_walked : other)
            for (auto const& [lp_type, l_items] : l_walked->Connections())
                for (ItemPtr const& l_connected : l_items)
                    if (count(l_connected))
                        l_result.insert(l_connected);
    }
    return l_result;
}

ItemSet ItemSet::NotConnected(ItemSet const& other) const
{
    ItemSet l_result;
    for (ItemPtr const& l_member : *this)
        if (!IsConnectedToAnyOf(l_member, other))
            l_result.insert(l_result.end(), l_member);
    return l_result;
}

ItemSet ItemSet::Connected(ItemPtr item) const
{
    ItemSet l_result;
    if (item.IsNull())
        return l_result;
    for (ItemPtr const& l_member : *this)
        if (l_member->IsConnected(item.GetPtr()))
            l_result.insert(l_result.end(), l_member);
    return l_result;
}

ItemSet ItemSet::NotConnected(ItemPtr item) const
{
    if (item.IsNull())
        return *this;
    ItemSet l_result;
    for (ItemPtr const& l_member : *this)
        if (!l_member->IsConnected(item.GetPtr()))
            l_result.insert(l_result.end(), l_member);
    return l_result;
}

ItemSet ItemSet::Connected(char const* typeName) const
{
    Type* const lp_type = d.GetType(typeName);
    ItemSet l_result;
    for (ItemPtr const& l_member : *this)
        if (l_member->IsConnected(lp_type))
            l_result.insert(l_result.end(), l_member);
    return l_result;
}

ItemSet ItemSet::NotConnected(char const* typeName) const
{
    Type* const lp_type = d.GetType(typeName);
    ItemSet l_result;
    for (ItemPtr const& l_member : *this)
        if (!l_member->IsConnected(lp_type))
            l_result.insert(l_result.end(), l_member);
    return l_result;
}

ItemSet ItemSet::Connected(char const* typeName, Value const& value) const
{
    ItemPtr const l_item = d.GetType(typeName)->HasItem(value);
    if (l_item.IsNull())
        return ItemSet();
    return Connected(l_item);
}

ItemSet ItemSet::NotConnected(char const* typeName, Value const& value) const
{
    ItemPtr const l_item = d.GetType(typeName)->HasItem(value);
    if (l_item.IsNull())
        return *this;
    return NotConnected(l_item);
}

ItemSet ItemSet::GetItems(char const* typeName) const
{
    return d.GetItems(*this, typeName);
}

void ItemSet::Disconnect(char const* typeName) const
{
    d.GetType(typeName); // an unknown name throws even for an empty set
    StoreOperation l_operation;
    std::vector<ItemPtr> const l_copy(begin(), end());
    for (ItemPtr const& l_member : l_copy)
        if (!l_member->IsRemoved()) // a handler may have removed it meanwhile
            l_member.Disconnect(typeName);
}

void ItemSet::Remove() const
{
    StoreOperation l_operation;
    std::vector<ItemPtr> const l_copy(begin(), end());
    for (ItemPtr const& l_member : l_copy)
        l_member->Remove(); // does nothing when a handler got there first
}

namespace
{
template <class Key>
ItemList Flatten(std::map<Key, std::vector<ItemPtr>> const& groups, bool ascending)
{
    ItemList l_list;
    for (auto const& [l_key, l_members] : groups)
        l_list.insert(l_list.end(), l_members.begin(), l_members.end());
    if (!ascending)
        std::reverse(l_list.begin(), l_list.end());
    return l_list;
}
} // namespace

ItemList ItemSet::SortAlphabetic(bool ascending) const
{
    std::map<QString, std::vector<ItemPtr>> l_groups;
    for (ItemPtr const& l_member : *this)
        l_groups[l_member.AsString()].push_back(l_member);
    return Flatten(l_groups, ascending);
}

ItemList ItemSet::SortNumeric(bool ascending) const
{
    std::map<long long, std::vector<ItemPtr>> l_groups;
    for (ItemPtr const& l_member : *this)
        l_groups[l_member.AsInt64()].push_back(l_member);
    return Flatten(l_groups, ascending);
}

ItemList ItemSet::SortAlphabeticBy(char const* typeName, bool ascending) const
{
    std::map<QString, std::vector<ItemPtr>> l_groups;
    for (ItemPtr const& l_member : *this)
    {
        ItemPtr const l_key = l_member[typeName];
        if (l_key)
            l_groups[l_key.AsString()].push_back(l_member);
    }
    return Flatten(l_groups, ascending);
}

ItemList ItemSet::SortNumericBy(char const* typeName, bool ascending) const
{
    std::map<long long, std::vector<ItemPtr>> l_groups;
    for (ItemPtr const& l_member : *this)
    {
        ItemPtr const l_key = l_member[typeName];
        if (l_key)
            l_groups[l_key.AsInt64()].push_back(l_member);
    }
    return Flatten(l_groups, ascending);
}
