#include "shares/FolderWalk.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <utility>

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
    m_putOff.clear();
    m_nextPutOff = 0;
    m_taken = c_none;
    m_arrivedAgain = 0;
    m_firstOtherArrival = -1;
    m_firstOther.clear();
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
    std::size_t const l_taken = std::exchange(m_taken, c_none);
    // A taken link may lead to a file by now: the walk would list it as an empty folder.
    struct stat l_status;
    if (::stat(QFile::encodeName(i_path).constData(), &l_status) != 0 || !S_ISDIR(l_status.st_mode))
        return Arrival::Unreachable;
    auto const [l_entry, l_isNew] =
        m_entered.try_emplace(Id{l_status.st_dev, l_status.st_ino}, State::Inside);
    State& l_state = l_entry->second;
    if (!l_isNew && l_state == State::Inside)
        return Arrival::Loop;
    // A folder put off is entered once the walk gets to it through its real parent, by a
    // path whose last component is no link, under the path the parent was entered by; or,
    // where the walk never got there, through the link taken for it.
    bool const l_atTaken = l_taken != c_none && m_putOff[l_taken].mp_state == &l_state;
    bool const l_enters = l_isNew ? !(i_isLink && LeadsBelowRoot(i_path))
                                  : l_state == State::Ahead && (!i_isLink || l_atTaken);
    if (!l_enters)
    {
        if (l_isNew)
        {
            l_state = State::Ahead;
            m_putOff.push_back({&l_state, i_path, m_arrivedAgain});
        }
        else if (m_firstOtherArrival < 0)
        {
            m_firstOtherArrival = m_arrivedAgain;
            m_firstOther = i_path;
        }
        ++m_arrivedAgain;
        return Arrival::Again;
    }
    if (l_atTaken)
        m_putOff[l_taken].m_enteredThere = true;
    l_state = State::Inside;
    m_stack.push_back(&l_state);
    return Arrival::First;
}

void FolderWalk::Leave()
{
    if (State* const lp_state = m_stack.back())
        *lp_state = State::Left;
    m_stack.pop_back();
    if (m_stack.empty())
        End();
}

QString FolderWalk::TakePutOff()
{
    while (m_nextPutOff < m_putOff.size())
    {
        std::size_t const l_index = m_nextPutOff++;
        if (*m_putOff[l_index].mp_state == State::Ahead)
        {
            m_taken = l_index;
            return m_putOff[l_index].m_link;
        }
    }
    return {};
}

void FolderWalk::End()
{
    // A link that a folder was entered under in the end added that folder; any other link
    // to a folder put off added nothing, like the paths met to folders walked before.
    m_reachedAgain = m_arrivedAgain;
    m_firstReachedAgain = m_firstOther;
    int l_firstArrival = m_firstOtherArrival;
    for (PutOff const& l_putOff : m_putOff)
        if (l_putOff.m_enteredThere)
            --m_reachedAgain;
        else if (l_firstArrival < 0 || l_putOff.m_arrival < l_firstArrival)
        {
            l_firstArrival = l_putOff.m_arrival;
            m_firstReachedAgain = l_putOff.m_link;
        }
    // A walk over a large share entered many folders; none needs keeping once it ends.
    std::unordered_map<Id, State, IdHash>().swap(m_entered);
    std::vector<PutOff>().swap(m_putOff);
    m_nextPutOff = 0;
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
