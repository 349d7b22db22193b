// Handler ownership and the deferred freeing of store objects.

#include "store/Data.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

namespace
{
struct Pending
{
    void* mp_object;
    void (*mp_deleter)(void*);
};

std::vector<Pending>& PendingList()
{
    // Never freed: deferred objects may still be queued while the process ends.
    static auto* const lp_list = new std::vector<Pending>();
    return *lp_list;
}

// Items removed during the running outermost operation.
std::vector<Item*>& RemovedNow()
{
    static auto* const lp_list = new std::vector<Item*>();
    return *lp_list;
}

// Outside an event loop: items of earlier operations, freed when the next one ends.
std::vector<Item*>& RemovedEarlier()
{
    static auto* const lp_list = new std::vector<Item*>();
    return *lp_list;
}

// Whether an event loop of the application's thread is running here, so that a
// deleteLater() is sure to be acted on when control gets back to it.
bool IsInEventLoop()
{
    QCoreApplication* const lp_application = QCoreApplication::instance();
    return lp_application && lp_application->thread() == QThread::currentThread() &&
           QThread::currentThread()->loopLevel() > 0;
}
} // namespace

// Not in the anonymous namespace: StoreOperation names it as a friend.
class RemovedItemReaper;

static std::set<RemovedItemReaper*>& Reapers()
{
    static auto* const lp_set = new std::set<RemovedItemReaper*>();
    return *lp_set;
}

// Holds the items removed by one outermost operation until Qt deletes it, which
// deleteLater() puts off until control returns to the event loop that was running when
// the operation ended; a nested loop started meanwhile does not count. A child of the
// application, so that whatever is still waiting goes with it.
class RemovedItemReaper final : public QObject
{
public:
    explicit RemovedItemReaper(std::vector<Item*> items)
        : QObject(QCoreApplication::instance()), m_items(std::move(items))
    {
        Reapers().insert(this);
    }
    ~RemovedItemReaper() override
    {
        Reapers().erase(this);
        StoreOperation::FreeItems(m_items);
    }
    std::size_t Count() const { return m_items.size(); }

private:
    std::vector<Item*> m_items;
};

EventHandlerRoot::~EventHandlerRoot()
{
    if (mp_dataHandler)
        mp_dataHandler->m_dataHandlers.erase(this);
}

DataHandler::~DataHandler()
{
    RemoveDataHandlers();
}

void DataHandler::RemoveDataHandlers()
{
    for (EventHandlerRoot* lp_handler : m_dataHandlers)
    {
        lp_handler->m_removed = true;
        lp_handler->mp_dataHandler = nullptr;
    }
    m_dataHandlers.clear();
}

void DataHandler::AddDataHandler(EventHandlerRoot* handler)
{
    if (handler->mp_dataHandler && handler->mp_dataHandler != this)
        handler->mp_dataHandler->m_dataHandlers.erase(handler);
    handler->mp_dataHandler = this;
    m_dataHandlers.insert(handler);
}

void StoreOperation::DeferCall(void (*deleter)(void*), void* object)
{
    if (!object)
        return;
    if (s_depth == 0)
    {
        deleter(object);
        return;
    }
    PendingList().push_back({object, deleter});
    s_pending = true;
}

void StoreOperation::DeferDelete(EventHandlerRoot* handler)
{
    DeferCall([](void* p) { delete static_cast<EventHandlerRoot*>(p); }, handler);
}

void StoreOperation::DeferDelete(Item* item)
{
    if (!item)
        return;
    RemovedNow().push_back(item);
    s_pending = true;
    if (s_depth == 0)
        Flush();
}

void StoreOperation::DeferDelete(Type* type)
{
    DeferCall([](void* p) { delete static_cast<Type*>(p); }, type);
}

void StoreOperation::DeferDelete(PathNode* tree)
{
    DeferCall([](void* p) { delete static_cast<PathNode*>(p); }, tree);
}

void StoreOperation::Flush()
{
    // Deleting may queue more (a type's events retire their handlers); keep going.
    ++s_depth;
    std::vector<Pending>& l_list = PendingList();
    while (!l_list.empty())
    {
        std::vector<Pending> l_batch;
        l_batch.swap(l_list);
        for (Pending const& l_pending : l_batch)
            l_pending.mp_deleter(l_pending.mp_object);
    }
    --s_depth;
    // Removed items outlive the operation: the caller may hold a handle to one that a
    // handler removed before the operation could return it.
    std::vector<Item*> l_removed;
    l_removed.swap(RemovedNow());
    if (IsInEventLoop())
    {
        if (!l_removed.empty())
            (new RemovedItemReaper(std::move(l_removed)))->deleteLater();
        // Left over from outside the loop: this is a later operation.
        FreeItems(RemovedEarlier());
    }
    else
    {
        FreeItems(RemovedEarlier());
        RemovedEarlier().swap(l_removed);
    }
    s_pending = !RemovedEarlier().empty();
}

void StoreOperation::FreeRemovedItems()
{
    if (s_depth != 0)
        return;
    std::vector<RemovedItemReaper*> const l_reapers(Reapers().begin(), Reapers().end());
    for (RemovedItemReaper* lp_reaper : l_reapers)
        delete lp_reaper;
    FreeItems(RemovedEarlier());
    FreeItems(RemovedNow());
    s_pending = false;
}

std::size_t StoreOperation::RemovedItemsWaiting()
{
    std::size_t l_count = RemovedNow().size() + RemovedEarlier().size();
    for (RemovedItemReaper const* lp_reaper : Reapers())
        l_count += lp_reaper->Count();
    return l_count;
}

void StoreOperation::FreeItems(std::vector<Item*>& items)
{
    std::vector<Item*> l_items;
    l_items.swap(items);
    for (Item* lp_item : l_items)
        delete lp_item;
}
