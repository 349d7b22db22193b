#include "shares/FolderWalk.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>

namespace
{
// Empty when the path cannot be resolved.
QByteArray CanonicalPath(QString const& i_path)
{
    QByteArray const l_path = QFile::encodeName(i_path);
#ifdef Q_OS_LINUX
    // The kernel resolves the path in one look-up and names the folder it found, whereas
    // realpath() looks up every leading part of the path again, one call each: quadratic
    // in the depth of the link.
    int const l_folder = ::open(l_path.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (l_folder >= 0)
    {
        char l_name[PATH_MAX];
        ssize_t const l_size =
            ::readlink(("/proc/self/fd/" + std::to_string(l_folder)).c_str(), l_name, PATH_MAX);
        ::close(l_folder);
        // Anything else (a name cut short, one outside this process's root) is no path.
        if (l_size > 0 && l_size < PATH_MAX && l_name[0] == '/')
            return QByteArray(l_name, l_size);
    }
#endif
    char* const lp_resolved = ::realpath(l_path.constData(), nullptr);
    if (!lp_resolved)
        return {};
    QByteArray const l_resolved(lp_resolved);
    std::free(lp_resolved);
    return l_resolved;
}
} // namespace

void FolderWalk::Start(QString const& i_root)
{
    m_entered.clear();
    m_stack.clear();
    m_reachedAgain = 0;
    m_firstReachedAgain.clear();
    m_root = i_root;
    m_canonicalRoot.clear();
    m_haveCanonicalRoot = false;
    if (Enter(i_root, false) == Arrival::Unreachable)
        m_stack.push_back(nullptr);
}

FolderWalk::Arrival FolderWalk::Enter(QString const& i_path, bool i_isLink)
{
    struct stat l_status;
    if (::stat(QFile::encodeName(i_path).constData(), &l_status) != 0)
        return Arrival::Unreachable;
    auto const [l_entry, l_isNew] =
        m_entered.try_emplace(Id{l_status.st_dev, l_status.st_ino}, State::Inside);
    if (!l_isNew && l_entry->second == State::Inside)
        return Arrival::Loop;
    // A folder waited for is entered once the walk gets to it by a path whose last
    // component is no link: its real parent, which the walk is in, lies below the root
    // too and so was entered under its own path, which that path goes on from.
    bool const l_enters = l_isNew ? !(i_isLink && LeadsBelowRoot(i_path))
                                  : l_entry->second == State::Ahead && !i_isLink;
    if (!l_enters)
    {
        if (l_isNew)
            l_entry->second = State::Ahead;
        if (m_reachedAgain++ == 0)
            m_firstReachedAgain = i_path;
        return Arrival::Again;
    }
    l_entry->second = State::Inside;
    m_stack.push_back(&l_entry->second);
    return Arrival::First;
}

void FolderWalk::Leave()
{
    if (State* const lp_state = m_stack.back())
        *lp_state = State::Left;
    m_stack.pop_back();
    // A walk over a large share entered many folders; none needs keeping once it ends.
    if (m_stack.empty())
        std::unordered_map<Id, State, IdHash>().swap(m_entered);
}

bool FolderWalk::LeadsBelowRoot(QString const& i_link)
{
    if (!m_haveCanonicalRoot)
    {
        m_canonicalRoot = CanonicalPath(m_root);
        m_haveCanonicalRoot = true;
    }
    QByteArray const l_target = CanonicalPath(i_link);
    if (m_canonicalRoot.isEmpty() || l_target.isEmpty())
        return false;
    // "/" is the one canonical path that ends in a separator.
    QByteArray const l_prefix =
        m_canonicalRoot.endsWith('/') ? m_canonicalRoot : m_canonicalRoot + '/';
    if (l_target != m_canonicalRoot && !l_target.startsWith(l_prefix))
        return false;
    // The walk lists no hidden entries, so it never gets below a hidden folder.
    QByteArray const l_below = l_target.mid(l_prefix.size());
    return !l_below.startsWith('.') && !l_below.contains("/.");
}
