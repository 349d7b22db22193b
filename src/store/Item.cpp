// Items: connect, disconnect, flags, removal and unique-item navigation, and the
// ItemPtr operations that forward to them.

#include "store/Data.h"

bool Item::IsConnected(Item const* other) const
{
    return m_connections.Contains(other->mp_type, other);
}

bool Item::IsConnected(Type* type) const
{
    return !m_connections.Find(type).empty();
}

void Item::GetConnectedItems(TypeItemSets& result) const
{
    result.clear();
    for (auto const& [lp_type, l_items] : m_connections.Groups())
        result.emplace_hint(result.end(), lp_type, ItemSet(l_items));
}

namespace
{
// A `One` end that a running Connect is emptying so that `mp_incoming` can take it.
struct EndBeingFilled
{
    Item* mp_holder;
    Type* mp_otherType;
    Item* mp_incoming;
};

std::vector<EndBeingFilled>& EndsBeingFilled()
{
    static auto* const lp_ends = new std::vector<EndBeingFilled>();
    return *lp_ends;
}

// True when a Connect further out is emptying this end for another item that is still
// there: a write made now would be replaced as soon as that Connect goes on.
bool IsEndClaimedByAnother(Item* holder, Type* otherType, Item* incoming)
{
    for (EndBeingFilled const& l_end : EndsBeingFilled())
        if (l_end.mp_holder == holder && l_end.mp_otherType == otherType &&
            l_end.mp_incoming != incoming && !l_end.mp_incoming->IsRemoved())
            return true;
    return false;
}

// Claims the `One` ends of one Connect while it empties them (claimed on the first
// displacement only, so plain connections pay nothing), released before its own
// connection events fire.
class EndClaim
{
public:
    EndClaim(Item* a, Item* b, RelationInfo const& relation)
        : mp_a(a), mp_b(b), m_relation(relation)
    {
    }
    ~EndClaim() { Release(); }
    EndClaim(EndClaim const&) = delete;
    EndClaim& operator=(EndClaim const&) = delete;

    void Claim()
    {
        if (m_claimed)
            return;
        m_claimed = true;
        m_mark = EndsBeingFilled().size();
        if (m_relation.m_otherOneOrMany == One)
            EndsBeingFilled().push_back({mp_a, mp_b->GetType(), mp_b});
        if (m_relation.m_thisOneOrMany == One)
            EndsBeingFilled().push_back({mp_b, mp_a->GetType(), mp_a});
    }
    void Release()
    {
        // Claims nest like the calls that make them, so this one's are on top.
        if (m_claimed)
            EndsBeingFilled().resize(m_mark);
        m_claimed = false;
    }

private:
    Item* mp_a;
    Item* mp_b;
    RelationInfo m_relation;
    bool m_claimed = false;
    std::size_t m_mark = 0;
};
} // namespace

ItemPtr Item::Connect(Item* other)
{
    StoreOperation l_operation;
    Item* const lp_a = this;
    Item* const lp_b = other;
    Type* const lp_aType = lp_a->mp_type;
    Type* const lp_bType = lp_b->mp_type;
    RelationInfo const l_relation = lp_aType->GetRelation(lp_bType);
    // A `One` end is replaced by first disconnecting its occupant, with every handler of
    // that disconnection. Such a handler may well fill the end again (a settings watcher
    // writing a default whenever a key loses its value); emptying it once more would run
    // the handler once more, for ever. So while this Connect empties its ends it claims
    // them, and a Connect made by those handlers that would put another item into a
    // claimed end is left undone: this write replaces it the moment the handler returns,
    // so the store ends as if it had been made and undone, without the handler running
    // again. Each end is emptied once per occupant, each handler runs once per occupant,
    // the written item is the one left connected, and a `One` end never holds two items.
    // Handlers of the new connection's own events run after the claim is released: what
    // they write is a later write and stands.
    if (!EndsBeingFilled().empty() &&
        ((l_relation.m_otherOneOrMany == One && IsEndClaimedByAnother(lp_a, lp_bType, lp_b)) ||
         (l_relation.m_thisOneOrMany == One && IsEndClaimedByAnother(lp_b, lp_aType, lp_a))))
        return ItemPtr(lp_b);
    EndClaim l_claim(lp_a, lp_b, l_relation);
    // Handlers run between the displacements, so the live state is checked again after
    // each of them.
    for (;;)
    {
        if (lp_a->m_removed || lp_b->m_removed)
            return ItemPtr(lp_b);
        ItemRange const l_aHeld = lp_a->m_connections.Find(lp_bType);
        if (l_aHeld)
        {
            if (l_aHeld.Contains(lp_b))
                return ItemPtr(lp_b);
            if (l_relation.m_otherOneOrMany == One)
            {
                l_claim.Claim();
                lp_a->DisconnectNoCheck(l_aHeld.First());
                continue;
            }
        }
        if (l_relation.m_thisOneOrMany == One)
        {
            if (ItemRange const l_bHeld = lp_b->m_connections.Find(lp_aType))
            {
                l_claim.Claim();
                lp_b->DisconnectNoCheck(l_bHeld.First());
                continue;
            }
        }
        break;
    }
    l_claim.Release();
    lp_a->m_connections.Insert(lp_bType, lp_b);
    lp_b->m_connections.Insert(lp_aType, lp_a);

    Data* const lp_data = lp_aType->GetData();
    {
        ConnectionInfo l_info(lp_a, lp_b);
        lp_aType->m_connectedEvent.Notify(l_info);
    }
    {
        ConnectionInfo l_info(lp_a, lp_b);
        lp_data->m_connectedEvent.Notify(l_info);
    }
    {
        ConnectionInfo l_info(lp_b, lp_a);
        lp_bType->m_connectedEvent.Notify(l_info);
    }
    lp_data->NotifyConnectionEventHandlers(lp_a, lp_b);
    return ItemPtr(lp_b);
}

void Item::ConnectAll(std::vector<std::pair<Item*, Item*>> const& pairs)
{
    // Connecting is bound by memory latency: each item and its connection table sit
    // somewhere else on the heap. Announcing the items some pairs ahead, and their
    // tables a little later (once the item itself has arrived), lets the misses of
    // many pairs overlap. Items removed meanwhile stay allocated while the operation
    // runs, so the look-ahead never reads freed memory.
    constexpr std::size_t c_itemsAhead = 16;
    constexpr std::size_t c_tablesAhead = 8;
    StoreOperation l_operation;
    auto const l_fetchItem = [](Item* item)
    {
        __builtin_prefetch(item);
        __builtin_prefetch(reinterpret_cast<char const*>(item) + sizeof(Item) - 1);
    };
    auto const l_fetchTable = [](Item* item)
    {
        __builtin_prefetch(item->m_connections.Address());
    };
    std::size_t const l_count = pairs.size();
    for (std::size_t l_index = 0; l_index < l_count; ++l_index)
    {
        if (l_index + c_itemsAhead < l_count)
        {
            l_fetchItem(pairs[l_index + c_itemsAhead].first);
            l_fetchItem(pairs[l_index + c_itemsAhead].second);
        }
        if (l_index + c_tablesAhead < l_count)
        {
            l_fetchTable(pairs[l_index + c_tablesAhead].first);
            l_fetchTable(pairs[l_index + c_tablesAhead].second);
        }
        pairs[l_index].first->Connect(pairs[l_index].second);
    }
}

void Item::Disconnect(Item* other)
{
    StoreOperation l_operation;
    if (!IsConnected(other))
        return; // not connected: nothing changes, nothing fires
    DisconnectNoCheck(other);
}

void Item::DisconnectNoCheck(Item* other)
{
    Item* const lp_a = this;
    Item* const lp_b = other;
    lp_a->m_connections.Erase(lp_b->mp_type, lp_b);
    lp_b->m_connections.Erase(lp_a->mp_type, lp_a);

    Data* const lp_data = lp_a->mp_type->GetData();
    {
        ConnectionInfo l_info(lp_a, lp_b);
        lp_a->mp_type->m_disconnectedEvent.Notify(l_info);
    }
    {
        ConnectionInfo l_info(lp_a, lp_b);
        lp_data->m_disconnectedEvent.Notify(l_info);
    }
    {
        ConnectionInfo l_info(lp_b, lp_a);
        lp_b->mp_type->m_disconnectedEvent.Notify(l_info);
    }
    lp_data->NotifyDisconnectionEventHandlers(lp_a, lp_b);
}

void Item::Disconnect(char const* typeName)
{
    Type* const lp_type = mp_type->GetData()->GetType(typeName);
    StoreOperation l_operation;
    ItemRange const l_live = ConnectedItemsOf(lp_type);
    if (!l_live)
        return;
    std::vector<ItemPtr> const l_copy(l_live.begin(), l_live.end());
    for (ItemPtr const& l_other : l_copy)
    {
        // Check the live table: a handler may have disconnected or removed it meanwhile.
        if (m_connections.Contains(lp_type, l_other.GetPtr()))
            DisconnectNoCheck(l_other.GetPtr());
        else if (!IsConnected(lp_type))
            return;
    }
}

ItemPtr Item::NewItem(char const* nullTypeName)
{
    Type* const lp_flagType = mp_type->GetData()->GetType(nullTypeName);
    RelationInfo const l_relation = mp_type->GetRelation(lp_flagType);
    if (!lp_flagType->IsNull())
        throw new NullTypeException;
    StoreOperation l_operation;
    // A removed item takes no connection: a node made for it would be left orphaned.
    if (m_removed)
        return ItemPtr();
    if (l_relation.m_otherOneOrMany == One)
    {
        if (ItemRange const l_held = ConnectedItemsOf(lp_flagType))
            return ItemPtr(l_held.First());
        ItemPtr const l_flag = l_relation.m_thisOneOrMany == Many ? lp_flagType->GetGlobalNullItem()
                                                                  : lp_flagType->NewItem();
        Connect(l_flag.GetPtr());
        return l_flag;
    }
    ItemPtr const l_node = lp_flagType->NewItem();
    Connect(l_node.GetPtr());
    return l_node;
}

void Item::Remove()
{
    if (m_removed)
        return;
    StoreOperation l_operation;
    m_removed = true;
    // 1. Out of the type's table: lookups no longer find it.
    if (mp_type->IsNull())
        mp_type->m_nullItems.erase(this);
    else
    {
        auto const l_it = mp_type->m_items.find(m_value);
        if (l_it != mp_type->m_items.end() && *l_it == this)
            mp_type->m_items.erase(l_it);
        mp_type->m_index.Erase(this);
    }
    // 2. Item-removed events while every connection still stands.
    {
        ItemPtr l_self(this);
        mp_type->m_itemRemovedEvent.Notify(l_self);
    }
    {
        ItemPtr l_self(this);
        mp_type->GetData()->m_itemRemovedEvent.Notify(l_self);
    }
    // 3. One disconnection per connection, by type address then item address. Taking
    //    the first live connection each time skips what handlers have already undone;
    //    nothing can be connected to a removed item.
    while (!m_connections.empty())
        DisconnectNoCheck(m_connections.First());
    // 4. Freed when the outermost store operation ends.
    StoreOperation::DeferDelete(this);
}

void Item::GetUniqueItems(ItemPaths& result)
{
    GetUniqueItemsFromOrTo(Path(), result, true);
    result.erase(this);
}

void Item::GetUniqueToItems(ItemPaths& result)
{
    GetUniqueItemsFromOrTo(Path(), result, false);
    result.erase(this);
}

void Item::GetUniqueItemsFromOrTo(Path const& path, ItemPaths& result, bool forward)
{
    Path l_path = path;
    l_path.push_back(mp_type);
    result[this] = l_path;
    for (auto const& [lp_type, l_items] : m_connections.Groups())
    {
        RelationInfo const& l_relation = mp_type->GetRelation(lp_type);
        if (forward)
        {
            if (l_relation.m_otherOneOrMany != One)
                continue;
            Item* const lp_next = l_items.First();
            if (!result.count(lp_next))
                lp_next->GetUniqueItemsFromOrTo(l_path, result, true);
        }
        else
        {
            if (l_relation.m_thisOneOrMany != One)
                continue;
            for (ItemPtr const& l_next : l_items)
                if (!result.count(l_next.GetPtr()))
                    l_next->GetUniqueItemsFromOrTo(l_path, result, false);
        }
    }
}

// ---------------------------------------------------------------------------------
// ItemPtr forwards

ItemPtr ItemPtr::Connect(ItemPtr other) const
{
    return mp_item->Connect(other.mp_item);
}

void ItemPtr::Disconnect(ItemPtr other) const
{
    mp_item->Disconnect(other.mp_item);
}

void ItemPtr::Disconnect(char const* typeName) const
{
    mp_item->Disconnect(typeName);
}

bool ItemPtr::IsConnected(ItemPtr other) const
{
    if (!mp_item || !other.mp_item)
        return false;
    return mp_item->IsConnected(other.mp_item);
}

bool ItemPtr::IsConnected(Type* type) const
{
    return mp_item && mp_item->IsConnected(type);
}

bool ItemPtr::IsConnected(char const* typeName) const
{
    Type* const lp_type = d.GetType(typeName);
    return mp_item && mp_item->IsConnected(lp_type);
}

bool ItemPtr::IsDisconnectedFromAll() const
{
    return !mp_item || mp_item->IsDisconnectedFromAll();
}

ItemPtr ItemPtr::operator[](char const* typeName) const
{
    if (!mp_item)
        return ItemPtr();
    return GetItem(typeName);
}

ItemPtr ItemPtr::GetItem(char const* typeName) const
{
    ItemRange const l_set =
        mp_item->ConnectedItemsOf(mp_item->GetType()->GetData()->GetType(typeName));
    return l_set ? ItemPtr(l_set.First()) : ItemPtr();
}

ItemPtr ItemPtr::HasItem(char const* typeName) const
{
    return GetItem(typeName);
}

ItemSet ItemPtr::GetItems(char const* typeName) const
{
    ItemSet l_result;
    GetItems(typeName, l_result);
    return l_result;
}

void ItemPtr::GetItems(char const* typeName, ItemSet& result) const
{
    if (!mp_item)
    {
        result.clear();
        return;
    }
    Type* const lp_type = mp_item->GetType()->GetData()->GetType(typeName);
    if (!mp_item->GetType()->IsRelated(lp_type))
        throw new NotRelatedException;
    if (ItemRange const l_set = mp_item->ConnectedItemsOf(lp_type))
        result = ItemSet(l_set);
}

ItemPtr ItemPtr::NewItem(char const* nullTypeName) const
{
    return mp_item->NewItem(nullTypeName);
}

void ItemPtr::Remove() const
{
    mp_item->Remove();
}

Type* ItemPtr::GetType() const
{
    return mp_item->GetType();
}

Value const& ItemPtr::GetValue() const
{
    return mp_item->GetValue();
}

void ItemPtr::GetConnectedItems(TypeItemSets& result) const
{
    mp_item->GetConnectedItems(result);
}

ConnectionGroups ItemPtr::Connections() const
{
    return mp_item->Connections();
}
