// Handler ownership and the deferred freeing of store objects.

#include "store/Data.h"

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
} // namespace

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
    DeferCall([](void* p) { delete static_cast<Item*>(p); }, item);
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
    s_pending = false;
    --s_depth;
}
