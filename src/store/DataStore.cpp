// The store: types, per-type-pair handlers, queries and the global store `d`.

#include "store/Data.h"

// The one global store: a heap instance that is never freed, so no handler meets a
// destroyed store after `main` returns.
Data& d = *new Data();

Data::Data() = default;

Data::~Data()
{
    RemoveDataHandlers();
    {
        StoreOperation l_operation;
        RemoveAllItems();
        for (PathNodeHandlerInfo* lp_info : m_pathRegistrations)
            FreeRegistration(lp_info);
        m_pathRegistrations.clear();
        for (auto const& [l_name, lp_type] : m_types)
            StoreOperation::DeferDelete(lp_type);
        m_types.clear();
        m_connectionHandlers.clear();
        m_disconnectionHandlers.clear();
    }
}

Type* Data::NewType(std::string const& name, Primacy primacy, bool isNull, bool createOnGet)
{
    if (m_types.count(name))
        throw new TypeAlreadyExistsException;
    StoreOperation l_operation;
    Type* lp_type = new Type(this, name, primacy, isNull, createOnGet);
    m_types[name] = lp_type;
    m_typeAddedEvent.Notify(lp_type);
    return lp_type;
}

Type* Data::GetType(std::string const& name) const
{
    auto const l_it = m_types.find(name);
    if (l_it == m_types.end())
        throw new TypeNotFoundException;
    return l_it->second;
}

Type* Data::HasType(std::string const& name) const
{
    auto const l_it = m_types.find(name);
    return l_it == m_types.end() ? nullptr : l_it->second;
}

void Data::RemoveAllItems()
{
    StoreOperation l_operation;
    std::map<std::string, Type*> const l_types = m_types;
    for (auto const& [l_name, lp_type] : l_types)
    {
        auto const l_it = m_types.find(l_name);
        if (l_it != m_types.end() && l_it->second == lp_type)
            lp_type->RemoveAllItems();
    }
}

void Data::AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler)
{
    if (!a->IsRelated(b))
    {
        StoreOperation::DeferDelete(handler); // the registration owned it
        throw new NotRelatedException;
    }
    m_connectionHandlers[TypePair(a, b)].AddHandler(handler);
}

void Data::AddDisconnectionEventHandler(Type* a, Type* b,
                                        EventHandlerBase<ConnectionInfo&>* handler)
{
    if (!a->IsRelated(b))
    {
        StoreOperation::DeferDelete(handler); // the registration owned it
        throw new NotRelatedException;
    }
    m_disconnectionHandlers[TypePair(a, b)].AddHandler(handler);
}

namespace
{
void NotifyPair(std::map<TypePair, Event<ConnectionInfo&>>& table, Item* a, Item* b)
{
    if (table.empty())
        return;
    auto const l_it = table.find(TypePair(a->GetType(), b->GetType()));
    if (l_it == table.end())
        return;
    ConnectionInfo l_info(a, b);
    l_it->second.Notify(l_info);
}
} // namespace

void Data::NotifyConnectionEventHandlers(Item* a, Item* b)
{
    NotifyPair(m_connectionHandlers, a, b);
    NotifyPair(m_connectionHandlers, b, a);
}

void Data::NotifyDisconnectionEventHandlers(Item* a, Item* b)
{
    NotifyPair(m_disconnectionHandlers, a, b);
    NotifyPair(m_disconnectionHandlers, b, a);
}

void Data::ForgetType(Type* type)
{
    // Not used by any component (no type is ever removed); keeps the tables free of
    // a dead type's address so that a later type at the same address starts clean.
    for (auto const& [lp_other, l_relation] : type->m_relations)
        if (lp_other != type)
            lp_other->m_relations.erase(type);
    auto const l_involves = [type](TypePair const& pair)
    { return pair.first == type || pair.second == type; };
    auto const l_retireInternal = [&](std::map<TypePair, EventHandlerBase<ConnectionInfo&>*>& table)
    {
        for (auto l_it = table.begin(); l_it != table.end();)
        {
            if (l_involves(l_it->first))
            {
                l_it->second->m_removed = true;
                l_it = table.erase(l_it);
            }
            else
                ++l_it;
        }
    };
    l_retireInternal(m_pathConnectionInternal);
    l_retireInternal(m_pathDisconnectionInternal);
    for (auto* lp_table : {&m_pathConnectionHandlers, &m_pathDisconnectionHandlers})
        std::erase_if(*lp_table, [&](auto const& entry) { return l_involves(entry.first); });
    // The per-type-pair handler sets stay (one may be notifying right now); their
    // handlers are retired and freed by the set's next notification.
    for (auto* lp_table : {&m_connectionHandlers, &m_disconnectionHandlers})
        for (auto& [l_pair, l_event] : *lp_table)
            if (l_involves(l_pair))
                for (EventHandlerBase<ConnectionInfo&>* lp_handler : l_event.m_handlers)
                    lp_handler->m_removed = true;
}

// ---------------------------------------------------------------------------------
// Queries

ItemSet Data::GetItems(ItemSet const& set, char const* typeName)
{
    Type* const lp_type = GetType(typeName);
    ItemSet l_result;
    for (ItemPtr const& l_member : set)
    {
        if (!l_member->GetType()->IsRelated(lp_type))
            throw new NotRelatedException;
        if (ItemRange const l_set = l_member->ConnectedItemsOf(lp_type))
            l_result.insert(l_set.begin(), l_set.end());
    }
    return l_result;
}

ItemSet Data::GetItemSubset(ItemSet const& set, char const* typeName)
{
    Type* const lp_type = GetType(typeName);
    if (set.empty())
        return ItemSet();
    std::vector<ItemRange> l_sets;
    l_sets.reserve(set.size());
    std::size_t l_smallest = 0;
    for (ItemPtr const& l_member : set)
    {
        ItemRange const l_set = l_member->ConnectedItemsOf(lp_type);
        if (!l_set)
            return ItemSet();
        if (!l_sets.empty() && l_set.size() < l_sets[l_smallest].size())
            l_smallest = l_sets.size();
        l_sets.push_back(l_set);
    }
    // Walk the smallest group and keep what every other group holds: the result is
    // built in order, once, and the large groups are only searched.
    ItemSet l_result;
    for (ItemPtr const& l_candidate : l_sets[l_smallest])
    {
        bool l_inAll = true;
        for (std::size_t l_index = 0; l_inAll && l_index < l_sets.size(); ++l_index)
            l_inAll = l_index == l_smallest || l_sets[l_index].Contains(l_candidate.GetPtr());
        if (l_inAll)
            l_result.insert(l_result.end(), l_candidate);
    }
    return l_result;
}

ItemSet Data::GetItems(ItemPtr a, ItemPtr b, char const* typeName)
{
    ItemSet l_set;
    l_set.insert(a);
    l_set.insert(b);
    return GetItemSubset(l_set, typeName);
}

ItemPtr Data::GetItem(ItemSet const& set, char const* typeName)
{
    return GetItemSubset(set, typeName);
}

ItemPtr Data::GetItem(ItemPtr a, ItemPtr b, char const* typeName)
{
    return GetItems(a, b, typeName);
}

ItemSet i(char const* typeName, Value const& value)
{
    ItemSet l_result;
    ItemPtr const l_item = d.GetType(typeName)->HasItem(value);
    if (l_item)
        l_result.insert(l_item);
    return l_result;
}

ItemSet g(char const* typeName)
{
    return d.GetType(typeName)->GetItems();
}
