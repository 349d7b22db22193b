#pragma once

// The path by which the file system itself knows a file: every link on the way followed
// and every name as its folder lists it. Spellings that lead to one file (through a link
// the user made, or on a file system that ignores case or Unicode form) have one real
// path, so what is kept by a file's path text follows the file, not the spelling.

#include <QHash>
#include <QString>
#include <QStringList>

#include <functional>

// Paths looked up by one object share what their folders list: each name is looked
// up once.
class RealPath
{
public:
    // A folder's real path. Folders missing at the end keep their names as spelled,
    // which is what they will be listed as once made.
    QString OfFolder(QString const& i_path);
    // A file's real path: its folder's, and the name the folder lists for it. A link
    // there is named, not followed; a missing file keeps its name as spelled.
    QString OfFile(QString const& i_path);

    // Which of a folder's names, i_listed, an existing entry reached by i_spelled is
    // listed under: the spelling itself when listed; else the one name that differs
    // from it only in case or Unicode form; else the name that i_isSame, told by the
    // file system, says is that entry; else the spelling.
    static QString ListedName(QString const& i_spelled, QStringList const& i_listed,
                              std::function<bool(QString const&)> const& i_isSame);

private:
    QString NameInFolder(QString const& i_folder, QString const& i_spelled);
    QString ListNameInFolder(QString const& i_folder, QString const& i_spelled);

    // The folder, "/" and the name as spelled, to the name as listed.
    QHash<QString, QString> m_names;
};
