#pragma once

// The sizes of one folder's files, each looked up by its name relative to the open
// folder: a look-up by full path resolves every component of the path again, which for
// a new file was a good part of the cost of indexing it. The folder is opened at the
// first look-up; a name it cannot look up is asked of the file's own entry.

#include <QFileInfo>
#include <QString>

#include <utility>

class FolderFileSizes
{
public:
    explicit FolderFileSizes(QString i_folder) : m_folder(std::move(i_folder)) {}
    ~FolderFileSizes();
    FolderFileSizes(FolderFileSizes const&) = delete;
    FolderFileSizes& operator=(FolderFileSizes const&) = delete;

    // The size of an entry listed in the folder, as QFileInfo::size() gives it (links
    // followed).
    qint64 Of(QFileInfo const& i_entry);

private:
    QString m_folder;
    int m_descriptor = -1;
    bool m_opened = false;
};
