// Types: relations, keyed and null items, bulk removal.

#include "store/Data.h"
#include "store/StoreCensus.h"

#include <algorithm>

Type::Type(Data* data, std::string name, Primacy primacy, bool isNull, bool createOnGet)
    : mp_data(data), m_name(std::move(name)), m_primacy(primacy), m_isNull(isNull),
      m_createOnGet(createOnGet)
{
}

void Type::RelateToType(Type* other, OneOrMany a, OneOrMany b, bool owns)
{
    if (m_relations.count(other))
        throw new AlreadyRelatedException;
    RelationInfo& l_mine = m_relations[other];
    l_mine.m_thisOneOrMany = a;
    l_mine.m_otherOneOrMany = b;
    l_mine.m_owns = owns;
    l_mine.m_ownedBy = false;
    RelationInfo& l_theirs = other->m_relations[this];
    l_theirs.m_thisOneOrMany = b;
    l_theirs.m_otherOneOrMany = a;
    l_theirs.m_owns = false;
    l_theirs.m_ownedBy = owns;
    if (other == this)
    {
        // One entry serves both sides of a relation of a type to itself.
        l_theirs.m_owns = owns;
    }
}

bool Type::IsRelated(Type* other) const
{
    return m_relations.count(other) != 0;
}

RelationInfo const& Type::GetRelation(Type* other) const
{
    auto const l_it = m_relations.find(other);
    if (l_it == m_relations.end())
        throw new NotRelatedException;
    return l_it->second;
}

Item* Type::CreateItem(Value value)
{
    return new Item(this, std::move(value));
}

template <class V> ItemPtr Type::NewKeyedItem(V&& value, bool knownNew)
{
    if (m_isNull)
        throw new NullTypeException;
    // A value past the largest (the common case of a load) is new without a look-up.
    bool const l_past = m_items.empty() || (*m_items.rbegin())->GetValue() < value;
    if (!l_past && !knownNew)
        if (Item* const lp_found = m_index.Find(value.GetBytes()))
            return ItemPtr(lp_found);
    StoreOperation l_operation;
    auto const l_it = l_past ? m_items.end() : m_items.lower_bound(value);
    Item* const lp_item = CreateItem(std::forward<V>(value));
    m_items.insert(l_it, lp_item);
    m_index.Insert(lp_item);
    {
        ItemPtr l_new(lp_item);
        m_itemAddedEvent.Notify(l_new);
    }
    {
        ItemPtr l_new(lp_item);
        mp_data->m_itemAddedEvent.Notify(l_new);
    }
    return ItemPtr(lp_item);
}

ItemPtr Type::NewItem(Value const& value)
{
    return NewKeyedItem(value, false);
}

ItemPtr Type::NewItem(Value&& value)
{
    return NewKeyedItem(std::move(value), false);
}

ItemPtr Type::GetItem(Value const& value)
{
    if (m_isNull)
        throw new NullTypeException;
    if (Item* const lp_found = m_index.Find(value.GetBytes()))
        return ItemPtr(lp_found);
    if (!m_createOnGet)
        return ItemPtr();
    // The look-up above found nothing: no second one.
    return NewKeyedItem(value, true);
}

ItemPtr Type::GetItem(Value&& value)
{
    if (m_isNull)
        throw new NullTypeException;
    if (Item* const lp_found = m_index.Find(value.GetBytes()))
        return ItemPtr(lp_found);
    if (!m_createOnGet)
        return ItemPtr();
    // A temporary value moves into the new item instead of being copied, unless its
    // bytes sit in a larger heap block than they need: a copy is exact, and a million
    // items keep what they are given.
    if (value.GetBytes().capacity() > std::max(value.GetBytes().size(), std::string().capacity()))
        return NewKeyedItem(value, true);
    return NewKeyedItem(std::move(value), true);
}

ItemPtr Type::HasItem(Value const& value) const
{
    if (m_isNull)
        throw new NullTypeException;
    return ItemPtr(m_index.Find(value.GetBytes()));
}

ItemPtr Type::NewItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    StoreOperation l_operation;
    Item* const lp_item = CreateItem(Value());
    // Items made in a row tend to lie at rising addresses: try the end first.
    m_nullItems.emplace_hint(m_nullItems.end(), lp_item);
    {
        ItemPtr l_new(lp_item);
        m_itemAddedEvent.Notify(l_new);
    }
    {
        ItemPtr l_new(lp_item);
        mp_data->m_itemAddedEvent.Notify(l_new);
    }
    return ItemPtr(lp_item);
}

ItemPtr Type::GetGlobalNullItem()
{
    if (!m_isNull)
        throw new NullTypeException;
    if (!m_nullItems.empty())
        return ItemPtr(*m_nullItems.begin());
    return NewItem();
}

ItemSet Type::GetItems() const
{
    if (m_isNull)
        return ItemSet(m_nullItems.begin(), m_nullItems.end());
    std::vector<Item*> l_items(m_items.begin(), m_items.end());
    std::sort(l_items.begin(), l_items.end(), std::less<Item*>());
    ItemSet l_result;
    for (Item* lp_item : l_items)
        l_result.insert(l_result.end(), ItemPtr(lp_item));
    return l_result;
}

void Type::GetItems(ItemSet& result) const
{
    if (m_isNull)
    {
        result = ItemSet(m_nullItems.begin(), m_nullItems.end());
        return;
    }
    for (Item* lp_item : m_items)
        result.insert(ItemPtr(lp_item));
}

void Type::RemoveAllItems()
{
    StoreOperation l_operation;
    std::vector<Item*> const l_copy =
        m_isNull ? std::vector<Item*>(m_nullItems.begin(), m_nullItems.end())
                 : std::vector<Item*>(m_items.begin(), m_items.end());
    // Removed items stay allocated until the outermost operation ends, so one that a
    // handler removed meanwhile can still be asked (Remove then does nothing).
    for (Item* lp_item : l_copy)
        lp_item->Remove();
}

void Type::Remove()
{
    StoreOperation l_operation;
    RemoveAllItems();
    auto const l_it = mp_data->m_types.find(m_name);
    if (l_it != mp_data->m_types.end() && l_it->second == this)
        mp_data->m_types.erase(l_it);
    Type* lp_self = this;
    mp_data->m_typeRemovedEvent.Notify(lp_self);
    mp_data->ForgetType(this);
    StoreOperation::DeferDelete(this);
}

std::size_t Type::HeapBytes() const
{
    return m_index.CapacityBytes() ? StoreCensus::HeapBlock(m_index.CapacityBytes()) : 0;
}
