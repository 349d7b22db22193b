#pragma once

// The real folders one walk of a shared folder has entered, told apart by device and
// inode. Links are followed, so the same folder can be met under many paths: a link back
// up the tree would be walked for ever, and two links per level to the level below make
// the paths double with every level. A walk therefore enters each real folder once.
//
// A folder below the shared folder is entered under its own path, whichever path the walk
// meets first: a link to it adds nothing, even one listed before the folder. Only a
// folder that the walk cannot reach without links (outside the shared folder, or below
// one of its hidden folders) is entered under a link's path, the first met.
//
// Whether the walk gets to a folder by its own path shows only at its end: a folder on the
// way may be passed through but not listed, or named in bytes that are no text (the name
// read does not lead back to it). So each folder a link put off keeps that first link's
// path, and what the walk has not entered by its end is entered under it, in the order
// the links were met; a walk through such a link may put off more, and so on until none
// is left. Each real folder is still entered once.
//
// Telling a folder by its identity takes one stat() of its path, whatever its depth;
// resolving each path to its canonical form would cost a look-up per component and make
// a deep chain of folders cubic. So only a link to a folder not met before is resolved,
// to tell where it leads. GUI thread only, like the walk.

#include <QByteArray>
#include <QString>

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <limits>
#include <unordered_map>
#include <vector>

class FolderWalk
{
public:
    enum class Arrival
    {
        First,       // not met before in this walk: it is entered
        Loop,        // a folder the walk is inside of, reached through a link back up
        Again,       // walked before, or to be walked under another path, in this walk
        Unreachable, // no folder, or cannot be looked up (gone, path past the system's limit)
    };

    // Whether a folder has been entered and not yet left.
    bool IsUnderWay() const { return !m_stack.empty(); }
    // Forgets the folders of the walk before and enters the walk's first folder, even one
    // that cannot be looked up: a shared folder gone from the disk still has its files
    // removed by its walk.
    void Start(QString const& i_root);
    // Looks the folder up; when it is met first it is entered and must be left with
    // Leave(). i_isLink: the last component of the path is a link.
    Arrival Enter(QString const& i_path, bool i_isLink);
    void Leave();
    // Once the walk's first folder is through: the path of the first link to a folder put
    // off and not entered since, which the next Enter() of that path enters; null when
    // there is none left.
    QString TakePutOff();

    // Once the walk has ended: the paths that added nothing (links and other paths to a
    // folder walked or to be walked under another path), and the first of them.
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

    enum class State : char
    {
        Inside, // entered, not yet left
        Left,
        Ahead, // put off: met through a link, to be entered under another path
    };

    // A folder met first through a link that leads below the walk's first folder.
    struct PutOff
    {
        State* mp_state;
        QString m_link;
        int m_arrival; // among the paths that added nothing when met
        bool m_enteredThere = false;
    };
    static constexpr std::size_t c_none = std::numeric_limits<std::size_t>::max();

    // Whether a link leads to a folder that the walk may reach under its own path.
    bool LeadsBelowRoot(QString const& i_link);
    // Tells which of the paths that added nothing were skipped, and forgets the folders.
    void End();

    // Every folder met in this walk.
    std::unordered_map<Id, State, IdHash> m_entered;
    // The folders the walk is inside of, innermost last; null for one not looked up.
    std::vector<State*> m_stack;
    QString m_root;
    // Of the walk's first folder, worked out for the first link met: a walk without
    // links does without it.
    QByteArray m_canonicalRoot;
    bool m_haveCanonicalRoot = false;
    // In the order met; those before m_nextPutOff were taken.
    std::vector<PutOff> m_putOff;
    std::size_t m_nextPutOff = 0;
    // The one taken last, until the next Enter().
    std::size_t m_taken = c_none;
    // Counted while walking, and the first met that did not put a folder off.
    int m_arrivedAgain = 0;
    int m_firstOtherArrival = -1;
    QString m_firstOther;
    int m_reachedAgain = 0;
    QString m_firstReachedAgain;
};
