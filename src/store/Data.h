#pragma once

// The item store: typed items joined by relations, their synchronous change events,
// item sets and queries, the reachability sweep and path events. One global store, `d`,
// lives for the whole process: it is never destroyed, so handlers that run during static
// destruction still find it.
//
// Everything runs on the GUI thread, so nothing here locks. Schema misuse throws pointers
// to newly allocated, empty exception objects; nothing catches them, because a wrong
// schema is a programming error that must not go unnoticed.
//
// Handlers may change the store while it is notifying them, so:
// - Every store operation that can fire events counts as one "store operation" (see
//   `StoreOperation`); handlers retired, path registrations dropped and types destroyed
//   during an operation are freed only when the outermost operation returns, so no
//   address is reused while any handler runs.
// - Removed items live longer still: a handler may remove the very item that NewItem,
//   GetItem or Connect is about to hand back, so they are freed only once control is
//   back in the event loop (see "Removed items" below).
// - Disconnecting two items that are not connected does nothing and fires nothing.
// - Connecting an item that has been removed does nothing.
// - A `One` end that a Connect is emptying for its new item cannot be refilled by the
//   handlers of that emptying (see Item::Connect).
//
// Removed items. Item::Remove takes the item out of its type's table and disconnects it
// from everything; the item itself stays readable until the end of the current pass of
// the Qt event loop (QObject::deleteLater rules: a nested loop does not end the pass that
// started it). Outside a running event loop (start-up before the loop runs, benchmarks,
// tests) there is no pass to wait for: it stays until the next outermost store
// operation has ended. Until then a handle to it answers:
//   IsRemoved() true; GetType(), GetValue() and the value readers as before;
//   no connections (IsDisconnectedFromAll() true, operator[] null, GetItems() empty);
//   Connect/+= changes nothing and returns the other handle; NewItem(flag) creates
//   nothing and returns a null handle; Disconnect and Remove do nothing.
// Its type no longer finds it: HasItem(value) is null, NewItem(value) makes a new item.

// Usage in short:
//   Type* user = d.NewType("user", Primary);               // name, Primacy, null?, create-on-get?
//   Type* online = d.NewType("is_online", Tertiary, true); // a null (flag) type
//   user->RelateToType(online, Many, One);  // a: how many users one flag holds; b: flags per user
//   ItemPtr bob = user->NewItem("bob");     // or (*user)["bob"] / GetItem / HasItem (never creates)
//   bob.NewItem("is_online");               // flag on the shared null item; bob["is_online"] reads it
//   bob += d["user_note"]->NewItem(text);   // connect; bob -= x or bob.Disconnect("user_note")
//   bob["user_note"].AsString();            // readers: AsStdString/AsString/AsInt/AsUInt64/AsPtr<T>
//   for (ItemPtr u : g("user")) ...;  for (auto& [type, items] : bob.Connections()) ...
//   Handlers: a class deriving DataHandler (its destructor calls RemoveDataHandlers() first)
//     user->m_itemRemovedEvent.AddHandler(CreateHandler(this, &Me::OnUserRemoved));
//     d.AddConnectionEventHandler(user, online, CreateHandler(this, &Me::OnPair)); // (ConnectionInfo&)
//     auto* root = new PathNode(&d, "user"); new PathNode(root, "is_online", PathConnecting);
//     d.AddPathEventHandler(root, CreateHandler(this, &Me::OnUserOnline));     // (ItemPtr root)
//   `explicit operator bool`: write `if (item)` or item.IsNotNull(), not `bool b = item`.

#include "store/ConnectionTable.h"
#include "store/ValueIndex.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

class Data;
class Type;
class Item;
class ItemPtr;
class ItemSet;
class PathNode;
class DataHandler;

// ---------------------------------------------------------------------------------
// Enumerations

enum OneOrMany : int
{
    One = 0,
    Many = 1
};

enum Primacy : int
{
    Primary = 0,
    Secondary = 1,
    Tertiary = 2
};

enum PathNodeRelation : int
{
    PathConnected = 0,
    PathConnectedSilent = 1,
    PathConnecting = 2,
    PathNotConnected = 3,
    PathNotConnectedSilent = 4,
    PathDisconnecting = 5
};

// ---------------------------------------------------------------------------------
// Exceptions: empty classes, thrown as `throw new X`.

class TypeNotFoundException
{
};
class TypeAlreadyExistsException
{
};
class AlreadyRelatedException
{
};
class NotRelatedException
{
};
class NullTypeException
{
};

// ---------------------------------------------------------------------------------
// Value: the key of an item, one byte string compared byte-wise (unsigned).

class Value
{
public:
    Value() = default;
    Value(char const* text);
    Value(char* text) : Value(static_cast<char const*>(text)) {}
    Value(std::string bytes) : m_bytes(std::move(bytes)) {}
    Value(QString const& text);
    Value(QByteArray const& bytes);
    Value(int number);
    Value(unsigned int number);
    Value(long long number);
    Value(long number) : Value(static_cast<long long>(number)) {}
    Value(unsigned long long number);
    Value(unsigned long number) : Value(static_cast<unsigned long long>(number)) {}
    // Any object pointer: its address as unsigned 64-bit decimal text.
    template <class T>
    Value(T* pointer)
        : Value(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(pointer)))
    {
    }

    std::string const& GetBytes() const { return m_bytes; }
    std::string const& AsStdString() const { return m_bytes; }
    QString AsString() const;
    int AsInt() const;
    unsigned int AsUInt() const;
    long long AsInt64() const;
    unsigned long long AsUInt64() const;
    template <class T> T* AsPtr() const
    {
        return reinterpret_cast<T*>(static_cast<std::uintptr_t>(AsUInt64()));
    }
    bool IsEmpty() const { return m_bytes.empty(); }

    bool operator<(Value const& other) const { return m_bytes < other.m_bytes; }
    bool operator==(Value const& other) const { return m_bytes == other.m_bytes; }
    bool operator!=(Value const& other) const { return m_bytes != other.m_bytes; }

private:
    std::string m_bytes;
};

// ---------------------------------------------------------------------------------
// ItemPtr: a non-owning handle to an item (null when empty). Not cleared when the item
// is removed; using it afterwards is a caller's error.

using TypeItemSets = std::map<Type*, ItemSet>;

class ItemPtr
{
public:
    ItemPtr() = default;
    ItemPtr(Item* item) : mp_item(item) {}

    bool IsNull() const { return mp_item == nullptr; }
    bool IsNotNull() const { return mp_item != nullptr; }
    explicit operator bool() const { return mp_item != nullptr; }
    bool operator==(ItemPtr const& other) const { return mp_item == other.mp_item; }
    bool operator!=(ItemPtr const& other) const { return mp_item != other.mp_item; }
    bool operator<(ItemPtr const& other) const
    {
        return std::less<Item*>()(mp_item, other.mp_item);
    }
    Item* operator->() const { return mp_item; }
    Item* GetPtr() const { return mp_item; }

    // Connect and += return the other item's handle, so attributes can be chained.
    ItemPtr Connect(ItemPtr other) const;
    ItemPtr operator+=(ItemPtr other) const { return Connect(other); }
    void Disconnect(ItemPtr other) const;
    ItemPtr operator-=(ItemPtr other) const
    {
        Disconnect(other);
        return other;
    }
    void Disconnect(char const* typeName) const;
    bool IsConnected(ItemPtr other) const;
    bool IsConnected(Type* type) const;
    bool IsConnected(char const* typeName) const;
    bool IsDisconnectedFromAll() const;

    // The connected item of the named type with the lowest address, or null; never
    // creates. operator[] on a null handle gives null.
    ItemPtr operator[](char const* typeName) const;
    ItemPtr GetItem(char const* typeName) const;
    ItemPtr HasItem(char const* typeName) const;
    // The connected items of the named type (empty when none or for a null handle).
    ItemSet GetItems(char const* typeName) const;
    // Replaces `result` when there are connected items of that type, else leaves it.
    void GetItems(char const* typeName, ItemSet& result) const;
    // Sets a flag or adds an anonymous node of the named null type. Shareable flags go
    // to the type's one global null item, so a flag costs a connection, not an item.
    ItemPtr NewItem(char const* nullTypeName) const;
    void Remove() const;
    Type* GetType() const;
    Value const& GetValue() const;
    void GetConnectedItems(TypeItemSets& result) const;
    // Connections by type as (type, ItemRange), read-only (no copy), valid until the
    // item's connections change. Needs a non-null handle.
    ConnectionGroups Connections() const;

    // Readers: raw bytes, text (ToQString) and Qt base-10 numbers; 0/"" for null.
    std::string AsStdString() const;
    QString AsString() const;
    int AsInt() const;
    unsigned int AsUInt() const;
    long long AsInt64() const;
    unsigned long long AsUInt64() const;
    template <class T> T* AsPtr() const
    {
        return reinterpret_cast<T*>(static_cast<std::uintptr_t>(AsUInt64()));
    }

private:
    Item* mp_item = nullptr;
};

// ---------------------------------------------------------------------------------
// ItemSet: an ordered set of handles, ordered by item address (cheap to compare and
// stable for the item's whole life, unlike its value's text).

using ItemList = std::vector<ItemPtr>;

class ItemSet : public std::set<ItemPtr>
{
public:
    using std::set<ItemPtr>::set;
    ItemSet() = default;
    ItemSet(ItemSet const&) = default;
    ItemSet(ItemSet&&) = default;
    ItemSet& operator=(ItemSet const&) = default;
    ItemSet& operator=(ItemSet&&) = default;

    // A copy of one item's group of connections.
    ItemSet(ItemRange const& range) : std::set<ItemPtr>(range.begin(), range.end()) {}

    // The member with the lowest address, or a null handle.
    operator ItemPtr() const { return empty() ? ItemPtr() : *begin(); }

    // Algebra.
    void Add(ItemSet const& other);
    ItemSet operator+(ItemSet const& other) const;
    ItemSet Common(ItemSet const& other) const;

    // Connection filters (direct connections).
    ItemSet Connected(ItemSet const& other) const;
    ItemSet NotConnected(ItemSet const& other) const;
    ItemSet Connected(ItemPtr item) const;
    ItemSet NotConnected(ItemPtr item) const;
    ItemSet Connected(char const* typeName) const;
    ItemSet NotConnected(char const* typeName) const;
    ItemSet Connected(char const* typeName, Value const& value) const;
    ItemSet NotConnected(char const* typeName, Value const& value) const;

    // Gathering and bulk changes.
    ItemSet GetItems(char const* typeName) const;
    void Disconnect(char const* typeName) const;
    void Remove() const;

    // Sorted views (true = ascending). Descending is the exact reverse of ascending.
    ItemList SortAlphabetic(bool ascending = true) const;
    ItemList SortNumeric(bool ascending = true) const;
    ItemList SortAlphabeticBy(char const* typeName, bool ascending = true) const;
    ItemList SortNumericBy(char const* typeName, bool ascending = true) const;
    // A caller's strict weak ordering; equal members keep address order.
    template <class Compare> ItemList Sort(Compare compare) const;
};

// ---------------------------------------------------------------------------------
// Events and handlers

// The argument of connection events: first the item on whose side the event is
// reported, second the other item.
class ConnectionInfo
{
public:
    ConnectionInfo() = default;
    ConnectionInfo(ItemPtr a, ItemPtr b) : first(a), second(b) {}
    ItemPtr first;
    ItemPtr second;
};

class EventHandlerRoot
{
public:
    EventHandlerRoot() = default;
    EventHandlerRoot(EventHandlerRoot const&) = delete;
    EventHandlerRoot& operator=(EventHandlerRoot const&) = delete;
    virtual ~EventHandlerRoot();

    bool IsRemoved() const { return m_removed; }

    // Set by DataHandler::RemoveDataHandlers; a removed handler is never called again.
    bool m_removed = false;
    // The DataHandler whose set holds this handler (null when none or retired).
    DataHandler* mp_dataHandler = nullptr;
};

template <class Arg> class EventHandlerBase : public EventHandlerRoot
{
public:
    ~EventHandlerBase() override = default;
    virtual void Handle(Arg argument) = 0;
};

template <class Owner, class Arg> class EventHandler : public EventHandlerBase<Arg>
{
public:
    using Function = void (Owner::*)(Arg);
    EventHandler(Owner* owner, Function function) : mp_object(owner), mp_function(function) {}
    void Handle(Arg argument) override { (mp_object->*mp_function)(argument); }

    Owner* mp_object;
    Function mp_function;
};

// Base of every component that registers handlers. The component's destructor must
// call RemoveDataHandlers() first (this base destructor calls it again, harmlessly).
class DataHandler
{
public:
    DataHandler() = default;
    DataHandler(DataHandler const&) = delete;
    DataHandler& operator=(DataHandler const&) = delete;
    virtual ~DataHandler();

    // Flags every handler of this owner removed and forgets them.
    void RemoveDataHandlers();
    // Enters a handler in this owner's set (the registration will own it).
    void AddDataHandler(EventHandlerRoot* handler);

    // Convenience: makes an EventHandler bound to `owner` and `function` and enters it
    // in this owner's set. Hand the result to exactly one registration, e.g.
    //   d["user"]->m_itemAddedEvent.AddHandler(CreateHandler(this, &Me::OnUserAdded));
    template <class Owner, class Arg>
    EventHandler<Owner, Arg>* CreateHandler(std::type_identity_t<Owner>* owner,
                                            void (Owner::*function)(Arg))
    {
        auto* lp_handler = new EventHandler<Owner, Arg>(owner, function);
        AddDataHandler(lp_handler);
        return lp_handler;
    }

    std::set<EventHandlerRoot*> m_dataHandlers;
};

// Counts nested store operations and notifications; frees what was removed during them
// when the outermost one ends. Create one on the stack around any store work that must
// keep removed items' addresses valid (all store operations do so themselves).
class StoreOperation
{
public:
    StoreOperation() { ++s_depth; }
    ~StoreOperation()
    {
        if (--s_depth == 0 && s_pending)
            Flush();
    }
    StoreOperation(StoreOperation const&) = delete;
    StoreOperation& operator=(StoreOperation const&) = delete;

    static int Depth() { return s_depth; }
    static void DeferDelete(EventHandlerRoot* handler);
    // A removed item: freed at the end of the event-loop pass (see "Removed items").
    static void DeferDelete(Item* item);
    static void DeferDelete(Type* type);
    static void DeferDelete(PathNode* tree);
    // Calls `deleter(object)` now when no operation runs, else when the outermost ends.
    static void DeferCall(void (*deleter)(void*), void* object);
    // Frees every removed item now, for programs that must not wait for the next
    // operation or pass (benchmarks timing their own work); no handle to a removed
    // item may be used afterwards. Does nothing inside a store operation.
    static void FreeRemovedItems();
    // Removed items not yet freed (for tests and diagnostics).
    static std::size_t RemovedItemsWaiting();

private:
    static void Flush();
    static void FreeItems(std::vector<Item*>& items);
    static inline int s_depth = 0;
    static inline bool s_pending = false;
    friend class Data;
    friend class RemovedItemReaper;
};

// A set of handlers over one argument type, ordered by handler address; it owns them.
template <class T> class Event
{
public:
    using Handler = EventHandlerBase<T>;
    Event() = default;
    Event(Event const&) = delete;
    Event& operator=(Event const&) = delete;
    Event(Event&& other) noexcept : m_handlers(std::move(other.m_handlers)) {}
    ~Event()
    {
        for (Handler* lp_handler : m_handlers)
            StoreOperation::DeferDelete(lp_handler);
    }

    void AddHandler(Handler* handler) { m_handlers.insert(handler); }
    // Takes a handler out of the set without calling it again; it is deleted (deferred).
    void RemoveHandler(Handler* handler)
    {
        if (m_handlers.erase(handler))
            StoreOperation::DeferDelete(handler);
    }
    bool IsEmpty() const { return m_handlers.empty(); }
    std::size_t Count() const { return m_handlers.size(); }

    template <class X> void Notify(X&& argument)
    {
        if (m_handlers.empty())
            return;
        StoreOperation l_operation;
        std::vector<Handler*> const l_copy(m_handlers.begin(), m_handlers.end());
        for (Handler* lp_handler : l_copy)
        {
            auto const l_it = m_handlers.find(lp_handler);
            if (l_it == m_handlers.end())
                continue; // retired and dropped by a nested notification
            if (!lp_handler->m_removed)
                lp_handler->Handle(argument);
            else
            {
                m_handlers.erase(l_it);
                StoreOperation::DeferDelete(lp_handler);
            }
        }
    }

    std::set<Handler*> m_handlers;
};

// ---------------------------------------------------------------------------------
// Relations and items

struct RelationInfo
{
    // How many items of this type one item of the other type may hold.
    OneOrMany m_thisOneOrMany = Many;
    // How many items of the other type one item of this type may hold.
    OneOrMany m_otherOneOrMany = Many;
    // This type owns the other type.
    bool m_owns = false;
    // The other type owns this type.
    bool m_ownedBy = false;
};

using Path = std::vector<Type*>;
using ItemPaths = std::map<Item*, Path>;

class Item
{
public:
    Type* GetType() const { return mp_type; }
    Value const& GetValue() const { return m_value; }
    bool IsRemoved() const { return m_removed; }
    ConnectionGroups Connections() const { return m_connections.Groups(); }
    // Where the connection storage lies, for callers that fetch it ahead.
    void const* ConnectionsAddress() const { return m_connections.Address(); }
    // For the store's census (StoreCensus).
    std::size_t ConnectionsHeapBytes() const { return m_connections.HeapBytes(); }
    std::size_t ConnectionCount() const { return m_connections.Count(); }

    ItemPtr Connect(Item* other);
    // Connect(first, second) for each pair in turn, with the events and results of those
    // calls in the same order; long lists go faster as the items are fetched ahead.
    static void ConnectAll(std::vector<std::pair<Item*, Item*>> const& pairs);
    // Room for `count` more connections (a hint; see ConnectionTable::ReserveMore).
    void ReserveConnections(std::size_t count) { m_connections.ReserveMore(count); }
    void Disconnect(Item* other);
    void Disconnect(char const* typeName);
    bool IsConnected(Item const* other) const;
    bool IsConnected(Type* type) const;
    bool IsDisconnectedFromAll() const { return m_connections.empty(); }
    // The connected items of `type`, false when none (a view, no copy; see ItemRange).
    ItemRange ConnectedItemsOf(Type* type) const { return m_connections.Find(type); }
    ItemPtr NewItem(char const* nullTypeName);
    void Remove();
    void GetConnectedItems(TypeItemSets& result) const;
    void GetUniqueItems(ItemPaths& result);
    void GetUniqueToItems(ItemPaths& result);
    void GetUniqueItemsFromOrTo(Path const& path, ItemPaths& result, bool forward);

private:
    friend class Type;
    friend class Data;
    Item(Type* type, Value value) : mp_type(type), m_value(std::move(value)) {}
    ~Item() = default;
    friend class StoreOperation;
    void DisconnectNoCheck(Item* other);

    Type* mp_type;
    Value m_value;
    ConnectionTable m_connections;
    bool m_removed = false;
    std::uint8_t m_sweepState = 0; // used only inside Data::RemoveDisconnectedItems
};

// Orders keyed items by value; transparent so a Value can be looked up directly.
struct ItemValueLess
{
    using is_transparent = void;
    bool operator()(Item const* a, Item const* b) const { return a->GetValue() < b->GetValue(); }
    bool operator()(Item const* a, Value const& b) const { return a->GetValue() < b; }
    bool operator()(Value const& a, Item const* b) const { return a < b->GetValue(); }
};

class Type
{
public:
    // Events.
    Event<ItemPtr> m_itemAddedEvent;
    Event<ItemPtr> m_itemRemovedEvent;
    Event<ConnectionInfo> m_connectedEvent;
    Event<ConnectionInfo> m_disconnectedEvent;

    Data* GetData() const { return mp_data; }
    std::string const& Name() const { return m_name; }
    Primacy GetPrimacy() const { return m_primacy; }
    bool IsNull() const { return m_isNull; }
    bool IsCreateOnGet() const { return m_createOnGet; }

    // Relations.
    void RelateToType(Type* other, OneOrMany a, OneOrMany b, bool owns = false);
    void RelateToType(std::string const& otherName, OneOrMany a, OneOrMany b);
    bool IsRelated(Type* other) const;
    RelationInfo const& GetRelation(Type* other) const;
    void GetRelatedTypes(std::map<Type*, RelationInfo>& result) const { result = m_relations; }
    std::map<Type*, RelationInfo> const& Relations() const { return m_relations; }

    // Keyed items.
    ItemPtr NewItem(Value const& value);
    // The same; a new item takes the value over instead of copying it.
    ItemPtr NewItem(Value&& value);
    ItemPtr GetItem(Value const& value);
    ItemPtr GetItem(Value&& value);
    ItemPtr operator[](Value const& value) { return GetItem(value); }
    ItemPtr HasItem(Value const& value) const;
    // Null items.
    ItemPtr NewItem();
    ItemPtr GetGlobalNullItem();
    ItemPtr GetGlobalItem() { return GetGlobalNullItem(); }

    // All items (keyed or null), ordered by address.
    ItemSet GetItems() const;
    // Adds the keyed items to `result`; for a null type replaces it with the null items.
    void GetItems(ItemSet& result) const;
    std::size_t GetItemCount() const { return m_isNull ? m_nullItems.size() : m_items.size(); }
    // Makes room for `count` more keyed items, so a bulk load does not grow the value
    // look-up table step by step.
    void ReserveItems(std::size_t count) { m_index.Reserve(m_index.Size() + count); }
    // The low address bits this type's items may use (48 at first): the value look-up
    // table keeps hash bits above them while no item reaches there, plain addresses after.
    void SetItemAddressBits(unsigned bits) { m_index.SetAddressBits(bits); }
    // Keyed items in value order / null items in address order (read-only, no copy).
    std::set<Item*, ItemValueLess> const& KeyedItems() const { return m_items; }
    std::set<Item*> const& NullItems() const { return m_nullItems; }

    void RemoveAllItems();
    void Remove();
    // Heap bytes of the type's own tables beside its items (for StoreCensus).
    std::size_t HeapBytes() const;

private:
    friend class Data;
    friend class Item;
    friend class StoreOperation;
    Type(Data* data, std::string name, Primacy primacy, bool isNull, bool createOnGet);
    ~Type() = default;
    Item* CreateItem(Value value);
    // `knownNew`: the caller has just looked the value up and not found it.
    template <class V> ItemPtr NewKeyedItem(V&& value, bool knownNew);

    Data* mp_data;
    std::string m_name;
    Primacy m_primacy;
    bool m_isNull;
    bool m_createOnGet;
    std::map<Type*, RelationInfo> m_relations;
    std::set<Item*, ItemValueLess> m_items; // the order
    mutable ValueIndex m_index;             // the look-ups (settles on use)
    std::set<Item*> m_nullItems;
};

// ---------------------------------------------------------------------------------
// Path events

class PathNode
{
public:
    // Root matching any item of the named type.
    PathNode(Data* data, char const* typeName);
    // Root matching only the given item (its type and value).
    explicit PathNode(ItemPtr item);
    // Child step to items of the named type / fixed to the given item.
    PathNode(PathNode* parent, char const* typeName, PathNodeRelation relation);
    PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation);
    ~PathNode();
    PathNode(PathNode const&) = delete;
    PathNode& operator=(PathNode const&) = delete;

    Data* mp_data;
    PathNode* mp_parent;
    PathNodeRelation m_relation;
    Type* mp_type;
    bool m_hasValue;
    Value m_value;
    std::set<std::pair<PathNode*, PathNodeRelation>> m_children;
};

// ---------------------------------------------------------------------------------
// The store

using TypePair = std::pair<Type*, Type*>;

class Data : public DataHandler
{
public:
    struct PathNodePairInfo
    {
        PathNode* mp_parent = nullptr;
        PathNode* mp_child = nullptr;
        PathNodeRelation m_relation = PathConnected;
    };
    struct PathNodeHandlerInfo
    {
        std::map<TypePair, PathNodePairInfo> m_pairs;
        EventHandlerBase<ItemPtr>* mp_handler = nullptr;
        PathNode* mp_root = nullptr;
    };

    Data();
    ~Data() override;

    // Events.
    Event<Type*> m_typeAddedEvent;
    Event<Type*> m_typeRemovedEvent;
    Event<ItemPtr> m_itemAddedEvent;
    Event<ItemPtr> m_itemRemovedEvent;
    Event<ConnectionInfo> m_connectedEvent;
    Event<ConnectionInfo> m_disconnectedEvent;

    // Types.
    Type* NewType(std::string const& name, Primacy primacy, bool isNull = false,
                  bool createOnGet = false);
    Type* AddType(std::string const& name, Primacy primacy, bool isNull = false,
                  bool createOnGet = false)
    {
        return NewType(name, primacy, isNull, createOnGet);
    }
    Type* GetType(std::string const& name) const;
    Type* HasType(std::string const& name) const;
    Type* operator[](std::string const& name) const { return GetType(name); }
    void GetTypes(std::map<std::string, Type*>& result) const { result = m_types; }
    std::map<std::string, Type*> const& Types() const { return m_types; }
    void RemoveAllItems();

    // Per-type-pair handlers.
    void AddConnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void AddDisconnectionEventHandler(Type* a, Type* b, EventHandlerBase<ConnectionInfo&>* handler);
    void NotifyConnectionEventHandlers(Item* a, Item* b);
    void NotifyDisconnectionEventHandlers(Item* a, Item* b);

    // Queries.
    ItemSet GetItems(ItemSet const& set, char const* typeName);
    ItemSet GetItemSubset(ItemSet const& set, char const* typeName);
    ItemSet GetItems(ItemPtr a, ItemPtr b, char const* typeName);
    ItemPtr GetItem(ItemSet const& set, char const* typeName);
    ItemPtr GetItem(ItemPtr a, ItemPtr b, char const* typeName);

    // Sweep.
    int RemoveDisconnectedItems();
    void GetTypeOwningTypes(Type* type, std::vector<Type*>& result) const;

    // Path events.
    void AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler);
    void RemovePathEventHandler(PathNodeHandlerInfo* info);
    void OnPathNodeEventConnection(ConnectionInfo& info);
    void OnPathNodeEventDisconnection(ConnectionInfo& info);
    void GetPathNodePairs(PathNode* node, std::map<TypePair, PathNodePairInfo>& result);
    bool VerifyPathNodeSubNodeConnections(ItemPtr item, PathNode* node, PathNode* exclude);
    bool VerifyPathNodeParentNodeConnections(ItemPtr item, PathNode* node, PathNode* from,
                                             ItemPtr& root);

    // Tables (public for inspection; change them only through the operations above).
    std::map<std::string, Type*> m_types;
    std::map<TypePair, Event<ConnectionInfo&>> m_connectionHandlers;
    std::map<TypePair, Event<ConnectionInfo&>> m_disconnectionHandlers;
    std::map<TypePair, std::set<PathNodeHandlerInfo*>> m_pathConnectionHandlers;
    std::map<TypePair, EventHandlerBase<ConnectionInfo&>*> m_pathConnectionInternal;
    std::map<TypePair, std::set<PathNodeHandlerInfo*>> m_pathDisconnectionHandlers;
    std::map<TypePair, EventHandlerBase<ConnectionInfo&>*> m_pathDisconnectionInternal;
    // Number of live path registrations (for tests and diagnostics).
    std::set<PathNodeHandlerInfo*> m_pathRegistrations;

private:
    void OnPathNodeEvent(ConnectionInfo& info, bool connection);
    // Frees a registration's handler, pattern tree and record (deferred).
    static void FreeRegistration(PathNodeHandlerInfo* info);
    void ForgetType(Type* type);
    friend class Type;
};

// The one global store. A heap instance that is never freed.
extern Data& d;

// Shorthands for the most common lookups: the item of the named type with that value
// (never creates), and all items of the named type.
ItemSet i(char const* typeName, Value const& value);
ItemSet g(char const* typeName);

// ---------------------------------------------------------------------------------
// Inline definitions

struct ItemRange::const_iterator::Arrow
{
    ItemPtr m_item;
    ItemPtr const* operator->() const { return &m_item; }
};

inline ItemPtr ItemRange::const_iterator::operator*() const
{
    return ItemPtr(GetPtr());
}

inline ItemRange::const_iterator::Arrow ItemRange::const_iterator::operator->() const
{
    return Arrow{ItemPtr(GetPtr())};
}

template <class Compare> ItemList ItemSet::Sort(Compare compare) const
{
    ItemList l_list(begin(), end());
    std::stable_sort(l_list.begin(), l_list.end(), compare);
    return l_list;
}

inline void Type::RelateToType(std::string const& otherName, OneOrMany a, OneOrMany b)
{
    RelateToType(mp_data->GetType(otherName), a, b, false);
}
