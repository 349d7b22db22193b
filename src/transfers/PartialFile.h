#pragma once

// A partial file of the downloading folder and what is kept about it outside that
// folder: the record of who writes it, and the place where bytes go that no download
// may resume. Both lie under the download folder beside "downloading" and "complete",
// in folders that show, so that they go wherever the user moves the download folder's
// contents. Nothing kept there can be taken for a partial file, which always lies below
// the downloading folder.
//
// A record is found by the file's real path below the real downloading folder, not by
// the path a download spells: downloads whose paths lead to one file, through a link
// or on a file system that ignores case, meet at one record. A path kept as text still
// holds after the download folder is moved or copied to another disk.
//
// A record speaks for its partial file only when it is the one record of that file: one
// lost, unreadable or contradicted leaves the writer unknown, and bytes of an unknown
// writer are never resumed. So whatever befalls the records costs at most a download
// fetched again.

#include <QString>

#include <optional>
#include <string>

class QFile;
class QFileInfo;

class PartialFile
{
public:
    // The download that writes the partial file: its user and its remote path (remote
    // folder, "\" and file name, the bytes the peer gave).
    struct Writer
    {
        QString user;
        std::string remotePath;
        bool operator==(Writer const&) const = default;
    };

    // i_path: the partial file, in file-system form and cleaned; i_relative: its part
    // below the downloading folder. When the path does not end with that part, nothing
    // is read, written or moved.
    PartialFile(QString const& i_path, QString const& i_relative);

    QString const& Path() const { return m_path; }
    // The writer that every record of the file names, i_keptElsewhere included; none
    // when no record names one, or when two disagree or one cannot be read.
    std::optional<Writer> ReadWriter(std::optional<Writer> const& i_keptElsewhere) const;
    // Records the writer and syncs the record to disk before returning, so that it is
    // there before the partial file's first byte. False when it could not be, or when a
    // record of the file is left elsewhere that could not be removed; o_error then names
    // the folder and the system's reason.
    bool WriteWriter(Writer const& i_writer, QString& o_error) const;
    void RemoveWriter() const;
    // Moves the partial file into the set-aside folder, below the same relative folder,
    // under a name nothing there has yet: a name taken, by a file or by a folder, gets
    // the next number. The new path, or an empty one and the reason when the file could
    // not be moved. Nothing is ever replaced. Records then speak of the file that will
    // be made at the path.
    QString SetAside(QString& o_error);
    // The partial file opened to append, made empty when missing; null and the reason
    // when anything but a file of its own lies there. No byte goes through a link.
    QFile* OpenToAppend(QString& o_error) const;

    // Whether the file is one of the records, wherever it lies: records tell whom the
    // user downloads from, and are never shared.
    static bool IsRecord(QFileInfo const& i_file);

    // Moves the records that the version before kept in a hidden folder of the download
    // folder to where they now lie, so that they go along with a move by hand too.
    static void BringRecordsIntoView(QString const& i_downloadFolder);

private:
    // The key of the records: the file's real path below the real downloading folder,
    // or all of it for a file that a link leads out of that folder.
    void Locate();
    // Where records are kept, in the order they are looked for.
    QStringList RecordFolders() const;
    QString RecordName() const;
    // The writer in the record at that path; none when it holds no record of this file.
    std::optional<Writer> ReadRecord(QString const& i_path) const;
    // The system's reason when nothing could be written in that folder, else empty.
    QString WriteRecord(QString const& i_folder, Writer const& i_writer) const;

    QString m_path;
    QString m_relative;
    // The download folder the partial file belongs to; empty when unknown.
    QString m_base;
    QString m_key;
};
