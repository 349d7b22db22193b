// The reachability sweep. Marking uses an explicit stack, so a chain of any length of
// Secondary items needs no recursion.

#include "store/Data.h"

namespace
{
enum SweepState : std::uint8_t
{
    NotCandidate = 0, // not in the mark set: marked, orphaned or created meanwhile
    InMarkSet = 1
};
} // namespace

void Data::GetTypeOwningTypes(Type* type, std::vector<Type*>& result) const
{
    result.clear();
    for (auto const& [lp_other, l_relation] : type->Relations())
        if (l_relation.m_ownedBy)
            result.push_back(lp_other);
}

int Data::RemoveDisconnectedItems()
{
    StoreOperation l_operation;
    int l_count = 0;

    // 1. Classify: orphans (lacking an owner) to the removal list, the rest to the mark set.
    std::vector<Item*> l_removal;
    std::vector<Item*> l_candidates;
    std::vector<Type*> l_owners;
    for (auto const& [l_name, lp_type] : m_types)
    {
        GetTypeOwningTypes(lp_type, l_owners);
        auto const l_classify = [&](Item* item)
        {
            for (Type* lp_owner : l_owners)
                if (!item->IsConnected(lp_owner))
                {
                    item->m_sweepState = NotCandidate;
                    l_removal.push_back(item);
                    return;
                }
            item->m_sweepState = InMarkSet;
            l_candidates.push_back(item);
        };
        if (lp_type->IsNull())
            for (Item* lp_item : lp_type->NullItems())
                l_classify(lp_item);
        else
            for (Item* lp_item : lp_type->KeyedItems())
                l_classify(lp_item);
    }

    // 2. Remove the orphans in address order; skip those a handler removed already.
    std::sort(l_removal.begin(), l_removal.end(), std::less<Item*>());
    for (Item* lp_item : l_removal)
        if (!lp_item->IsRemoved())
        {
            lp_item->Remove();
            ++l_count;
        }

    // 3. Mark from every Primary item (no events fire here, so the tables stand still).
    std::vector<Item*> l_stack;
    for (auto const& [l_name, lp_type] : m_types)
    {
        if (lp_type->GetPrimacy() != Primary)
            continue;
        auto const l_mark = [&l_stack](Item* root)
        {
            if (root->m_sweepState != InMarkSet)
                return;
            root->m_sweepState = NotCandidate;
            if (root->GetType()->GetPrimacy() == Tertiary)
                return;
            l_stack.push_back(root);
            while (!l_stack.empty())
            {
                Item* const lp_item = l_stack.back();
                l_stack.pop_back();
                for (auto const& [lp_connectedType, l_items] : lp_item->Connections())
                {
                    if (lp_connectedType->GetPrimacy() == Primary)
                        continue;
                    bool const l_passOn = lp_connectedType->GetPrimacy() != Tertiary;
                    for (ItemPtr const& l_connected : l_items)
                    {
                        Item* const lp_next = l_connected.GetPtr();
                        if (lp_next->m_sweepState != InMarkSet)
                            continue;
                        lp_next->m_sweepState = NotCandidate;
                        if (l_passOn)
                            l_stack.push_back(lp_next);
                    }
                }
            }
        };
        if (lp_type->IsNull())
            for (Item* lp_item : lp_type->NullItems())
                l_mark(lp_item);
        else
            for (Item* lp_item : lp_type->KeyedItems())
                l_mark(lp_item);
    }

    // 4. Remove what is still in the mark set, in address order, each at most once.
    std::vector<Item*> l_unreachable;
    for (Item* lp_item : l_candidates)
        if (lp_item->m_sweepState == InMarkSet && !lp_item->IsRemoved())
            l_unreachable.push_back(lp_item);
    for (Item* lp_item : l_candidates)
        lp_item->m_sweepState = NotCandidate;
    std::sort(l_unreachable.begin(), l_unreachable.end(), std::less<Item*>());
    for (Item* lp_item : l_unreachable)
        if (!lp_item->IsRemoved())
        {
            lp_item->Remove();
            ++l_count;
        }
    return l_count;
}
