// Path events: pattern trees, registrations, the store's internal per-type-pair
// handlers and the verification of a pattern around a change.

#include "store/Data.h"

namespace
{
bool IsConnectionFiring(PathNodeRelation relation)
{
    return relation == PathConnected || relation == PathConnecting;
}

bool IsDisconnectionFiring(PathNodeRelation relation)
{
    return relation == PathNotConnected || relation == PathDisconnecting;
}
} // namespace

void Data::FreeRegistration(PathNodeHandlerInfo* info)
{
    StoreOperation::DeferDelete(info->mp_handler);
    StoreOperation::DeferDelete(info->mp_root);
    StoreOperation::DeferCall([](void* p) { delete static_cast<PathNodeHandlerInfo*>(p); }, info);
}

PathNode::PathNode(Data* data, char const* typeName)
    : mp_data(data), mp_parent(nullptr), m_relation(PathConnected),
      mp_type(data->GetType(typeName)), m_hasValue(false)
{
}

PathNode::PathNode(ItemPtr item)
    : mp_data(item.GetType()->GetData()), mp_parent(nullptr), m_relation(PathConnected),
      mp_type(item.GetType()), m_hasValue(true), m_value(item.GetValue())
{
}

PathNode::PathNode(PathNode* parent, char const* typeName, PathNodeRelation relation)
    : mp_data(parent->mp_data), mp_parent(parent), m_relation(relation),
      mp_type(parent->mp_data->GetType(typeName)), m_hasValue(false)
{
    parent->m_children.insert(std::make_pair(this, relation));
}

PathNode::PathNode(PathNode* parent, ItemPtr item, PathNodeRelation relation)
    : mp_data(parent->mp_data), mp_parent(parent), m_relation(relation), mp_type(item.GetType()),
      m_hasValue(true), m_value(item.GetValue())
{
    parent->m_children.insert(std::make_pair(this, relation));
}

PathNode::~PathNode()
{
    for (auto const& l_child : m_children)
        delete l_child.first;
}

void Data::GetPathNodePairs(PathNode* node, std::map<TypePair, PathNodePairInfo>& result)
{
    for (auto const& [lp_child, l_relation] : node->m_children)
    {
        PathNodePairInfo& l_info = result[TypePair(node->mp_type, lp_child->mp_type)];
        l_info.mp_parent = node;
        l_info.mp_child = lp_child;
        l_info.m_relation = l_relation;
        GetPathNodePairs(lp_child, result);
    }
}

void Data::AddPathEventHandler(PathNode* root, EventHandlerBase<ItemPtr>* handler)
{
    auto* lp_info = new PathNodeHandlerInfo;
    lp_info->mp_handler = handler;
    lp_info->mp_root = root;
    GetPathNodePairs(root, lp_info->m_pairs);

    if (lp_info->m_pairs.empty())
    {
        // A root alone: nothing to watch, the handler is never called.
        FreeRegistration(lp_info);
        return;
    }
    // Check the schema before installing anything, so a throw leaves no half registration.
    for (auto const& [l_pair, l_pairInfo] : lp_info->m_pairs)
        if ((IsConnectionFiring(l_pairInfo.m_relation) ||
             IsDisconnectionFiring(l_pairInfo.m_relation)) &&
            !l_pair.first->IsRelated(l_pair.second))
        {
            FreeRegistration(lp_info);
            throw new NotRelatedException;
        }

    for (auto const& [l_pair, l_pairInfo] : lp_info->m_pairs)
    {
        if (IsConnectionFiring(l_pairInfo.m_relation))
        {
            std::set<PathNodeHandlerInfo*>& l_set = m_pathConnectionHandlers[l_pair];
            if (l_set.empty() && !m_pathConnectionInternal.count(l_pair))
            {
                auto* lp_internal = CreateHandler(this, &Data::OnPathNodeEventConnection);
                AddConnectionEventHandler(l_pair.first, l_pair.second, lp_internal);
                m_pathConnectionInternal[l_pair] = lp_internal;
            }
            l_set.insert(lp_info);
        }
        else if (IsDisconnectionFiring(l_pairInfo.m_relation))
        {
            std::set<PathNodeHandlerInfo*>& l_set = m_pathDisconnectionHandlers[l_pair];
            if (l_set.empty() && !m_pathDisconnectionInternal.count(l_pair))
            {
                auto* lp_internal = CreateHandler(this, &Data::OnPathNodeEventDisconnection);
                AddDisconnectionEventHandler(l_pair.first, l_pair.second, lp_internal);
                m_pathDisconnectionInternal[l_pair] = lp_internal;
            }
            l_set.insert(lp_info);
        }
    }
    m_pathRegistrations.insert(lp_info);
}

void Data::RemovePathEventHandler(PathNodeHandlerInfo* info)
{
    if (!m_pathRegistrations.erase(info))
        return;
    StoreOperation l_operation;
    for (auto const& [l_pair, l_pairInfo] : info->m_pairs)
    {
        bool const l_connection = IsConnectionFiring(l_pairInfo.m_relation);
        if (!l_connection && !IsDisconnectionFiring(l_pairInfo.m_relation))
            continue;
        auto& l_table = l_connection ? m_pathConnectionHandlers : m_pathDisconnectionHandlers;
        auto& l_internal = l_connection ? m_pathConnectionInternal : m_pathDisconnectionInternal;
        auto& l_handlers = l_connection ? m_connectionHandlers : m_disconnectionHandlers;
        auto const l_it = l_table.find(l_pair);
        if (l_it == l_table.end())
            continue;
        l_it->second.erase(info);
        if (!l_it->second.empty())
            continue;
        l_table.erase(l_it);
        auto const l_internalIt = l_internal.find(l_pair);
        if (l_internalIt == l_internal.end())
            continue;
        EventHandlerBase<ConnectionInfo&>* lp_internal = l_internalIt->second;
        l_internal.erase(l_internalIt);
        // Out of the pair's handler set at once; freed when the outermost operation
        // ends (it may be the very handler running now).
        lp_internal->m_removed = true;
        auto const l_handlersIt = l_handlers.find(l_pair);
        if (l_handlersIt != l_handlers.end())
            l_handlersIt->second.RemoveHandler(lp_internal);
        else
            StoreOperation::DeferDelete(lp_internal);
    }
    FreeRegistration(info);
}

void Data::OnPathNodeEventConnection(ConnectionInfo& info)
{
    OnPathNodeEvent(info, true);
}

void Data::OnPathNodeEventDisconnection(ConnectionInfo& info)
{
    OnPathNodeEvent(info, false);
}

void Data::OnPathNodeEvent(ConnectionInfo& info, bool connection)
{
    StoreOperation l_operation;
    ItemPtr const l_x = info.first;
    ItemPtr const l_y = info.second;
    TypePair const l_pair(l_x.GetType(), l_y.GetType());
    auto& l_table = connection ? m_pathConnectionHandlers : m_pathDisconnectionHandlers;
    auto const l_it = l_table.find(l_pair);
    if (l_it == l_table.end())
        return;
    std::vector<PathNodeHandlerInfo*> const l_copy(l_it->second.begin(), l_it->second.end());
    for (PathNodeHandlerInfo* lp_info : l_copy)
    {
        // Dropped by a nested notification meanwhile? Its record is still allocated (the
        // freeing waits for the outermost operation) but it is no longer in the table.
        auto const l_live = l_table.find(l_pair);
        if (l_live == l_table.end() || !l_live->second.count(lp_info))
            continue;
        if (lp_info->mp_handler->m_removed)
        {
            RemovePathEventHandler(lp_info);
            continue;
        }
        auto const l_pairIt = lp_info->m_pairs.find(l_pair);
        if (l_pairIt == lp_info->m_pairs.end())
            continue;
        PathNodePairInfo const l_pairInfo = l_pairIt->second;
        ItemPtr l_root;
        if (VerifyPathNodeParentNodeConnections(l_x, l_pairInfo.mp_parent, l_pairInfo.mp_child,
                                                l_root) &&
            VerifyPathNodeSubNodeConnections(l_y, l_pairInfo.mp_child, nullptr) &&
            l_root.IsNotNull())
        {
            lp_info->mp_handler->Handle(l_root);
        }
    }
}

bool Data::VerifyPathNodeSubNodeConnections(ItemPtr item, PathNode* node, PathNode* exclude)
{
    if (node->m_hasValue && item.GetValue() != node->m_value)
        return false;
    for (auto const& [lp_child, l_relation] : node->m_children)
    {
        if (lp_child == exclude)
            continue;
        ItemRange const l_items = item->ConnectedItemsOf(lp_child->mp_type);
        switch (l_relation)
        {
        case PathConnecting:
        case PathDisconnecting:
            return false;
        case PathConnected:
        case PathConnectedSilent:
        {
            if (!l_items)
                return false;
            bool l_any = false;
            for (ItemPtr const& l_z : *l_items)
                if (VerifyPathNodeSubNodeConnections(l_z, lp_child, nullptr))
                {
                    l_any = true;
                    break;
                }
            if (!l_any)
                return false;
            break;
        }
        case PathNotConnected:
        case PathNotConnectedSilent:
        {
            if (!l_items)
                break;
            bool l_anyFails = false;
            for (ItemPtr const& l_z : *l_items)
                if (!VerifyPathNodeSubNodeConnections(l_z, lp_child, nullptr))
                {
                    l_anyFails = true;
                    break;
                }
            if (!l_anyFails)
                return false;
            break;
        }
        }
    }
    return true;
}

bool Data::VerifyPathNodeParentNodeConnections(ItemPtr item, PathNode* node, PathNode* from,
                                               ItemPtr& root)
{
    // Also checks the node's fixed value.
    if (!VerifyPathNodeSubNodeConnections(item, node, from))
        return false;
    if (!node->mp_parent)
    {
        root = item;
        return true;
    }
    ItemRange const l_parents = item->ConnectedItemsOf(node->mp_parent->mp_type);
    switch (node->m_relation)
    {
    case PathConnecting:
    case PathDisconnecting:
        return false;
    case PathConnected:
    case PathConnectedSilent:
        if (!l_parents)
            return false;
        for (ItemPtr const& l_q : *l_parents)
            if (VerifyPathNodeParentNodeConnections(l_q, node->mp_parent, node, root))
                return true;
        return false;
    case PathNotConnected:
    case PathNotConnectedSilent:
        // Holds without reaching the root, so there is no root item to hand over; the
        // caller skips the call rather than hand a handler a null root.
        if (!l_parents)
            return true;
        for (ItemPtr const& l_q : *l_parents)
        {
            ItemPtr l_ignored;
            if (!VerifyPathNodeParentNodeConnections(l_q, node->mp_parent, node, l_ignored))
                return true;
        }
        return false;
    }
    return false;
}
