#include "shares/FolderWalk.h"

#include <QFile>

#include <sys/stat.h>

void FolderWalk::Start(QString const& i_root)
{
    m_entered.clear();
    m_stack.clear();
    m_reachedAgain = 0;
    m_firstReachedAgain.clear();
    if (Enter(i_root) == Arrival::Unreachable)
        m_stack.push_back(nullptr);
}

FolderWalk::Arrival FolderWalk::Enter(QString const& i_path)
{
    struct stat l_status;
    if (::stat(QFile::encodeName(i_path).constData(), &l_status) != 0)
        return Arrival::Unreachable;
    auto const [l_entry, l_isNew] =
        m_entered.try_emplace(Id{l_status.st_dev, l_status.st_ino}, true);
    if (!l_isNew)
    {
        if (l_entry->second)
            return Arrival::Loop;
        if (m_reachedAgain++ == 0)
            m_firstReachedAgain = i_path;
        return Arrival::Again;
    }
    m_stack.push_back(&l_entry->second);
    return Arrival::First;
}

void FolderWalk::Leave()
{
    if (bool* const lp_inside = m_stack.back())
        *lp_inside = false;
    m_stack.pop_back();
    // A walk over a large share entered many folders; none needs keeping once it ends.
    if (m_stack.empty())
        std::unordered_map<Id, bool, IdHash>().swap(m_entered);
}
