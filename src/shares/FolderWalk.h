#pragma once

// The real folders one walk of a shared folder has entered, told apart by device and
// inode. Links are followed, so the same folder can be met under many paths: a link back
// up the tree would be walked for ever, and two links per level to the level below make
// the paths double with every level. A walk therefore enters each real folder once.
//
// Telling a folder by its identity takes one stat() of its path, whatever its depth;
// resolving each path to its canonical form would cost a look-up per component and make
// a deep chain of folders cubic. GUI thread only, like the walk.

#include <QString>

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <unordered_map>
#include <vector>

class FolderWalk
{
public:
    enum class Arrival
    {
        First,       // not met before in this walk: it is entered
        Loop,        // a folder the walk is inside of, reached through a link back up
        Again,       // walked before in this walk, reached through another path
        Unreachable, // cannot be looked up (gone, or its path is past the system's limit)
    };

    // Whether a folder has been entered and not yet left.
    bool IsUnderWay() const { return !m_stack.empty(); }
    // Forgets the folders of the walk before and enters the walk's first folder, even one
    // that cannot be looked up: a shared folder gone from the disk still has its files
    // removed by its walk.
    void Start(QString const& i_root);
    // Looks the folder up; when it is met first it is entered and must be left with
    // Leave().
    Arrival Enter(QString const& i_path);
    void Leave();

    // Folders met again through another path in this walk, and the path of the first.
    int ReachedAgain() const { return m_reachedAgain; }
    QString const& FirstReachedAgain() const { return m_firstReachedAgain; }

private:
    struct Id
    {
        dev_t m_device;
        ino_t m_inode;
        bool operator==(Id const&) const = default;
    };
    struct IdHash
    {
        std::size_t operator()(Id const& i_id) const
        {
            return std::hash<ino_t>()(i_id.m_inode) * 31 + std::hash<dev_t>()(i_id.m_device);
        }
    };

    // Every folder entered in this walk; true while the walk is inside it.
    std::unordered_map<Id, bool, IdHash> m_entered;
    // The folders the walk is inside of, innermost last; null for one not looked up.
    std::vector<bool*> m_stack;
    int m_reachedAgain = 0;
    QString m_firstReachedAgain;
};
