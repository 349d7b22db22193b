#pragma once

// Where chat logs live: one file per room under "Kestrune Chat Logs/Rooms/" and one per
// user under "Kestrune Chat Logs/Users/" in the home folder, named after the room or the
// user with ".log".
//
// Room and user names come from the server and from other users, so they are never used
// as file names unchecked. ChatLogFileName is the one mapping from a name to its file
// name, and everything that reads or writes a log goes through ChatLogPath:
// - a plain name stays byte for byte what it is;
// - "%", "/" and the zero character, and a "." at the start, become "%" and two
//   upper-case hexadecimal digits, so no name climbs out of the folder or hides as a
//   dot file, and two different names never share a file;
// - a name that is still longer than 200 bytes keeps its first bytes (cut on a character
//   boundary) followed by "%h" and 16 hexadecimal digits of a hash of the whole name;
//   "%h" never appears in a short name's file name, so long and short names stay apart.

#include <QString>

enum class ChatLogKind
{
    Room,
    User
};

// The folder of the kind's logs, with a trailing "/".
QString ChatLogFolder(ChatLogKind i_kind);
// The file name of a room's or user's log, ".log" included.
QString ChatLogFileName(QString const& i_name);
// The folder followed by the file name.
QString ChatLogPath(ChatLogKind i_kind, QString const& i_name);
