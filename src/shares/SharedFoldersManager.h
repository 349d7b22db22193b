#pragma once

// The share index: the folders the user shares with their access rules, every folder
// and file below them, the lower-case search tokens of every file path and the MP3
// details of the files, all as items of the store. One instance, reached through
// sharedFoldersManager.
//
// Shared folders and files are held as local paths with "/" separators. A file is a
// `shared_file` node joined to one `shared_file_folder` (its folder's path), one
// `shared_file_name` and one `shared_file_size`; a folder item is joined to every shared
// folder it lies under. Names and folder paths each carry a lower-case twin, so a path
// is found whatever its letter case or doubled separators.
//
// The implementation is split by responsibility:
//   SharedFoldersManager.cpp   construction (schema, saved types, wiring), destruction,
//                              the lower-case twins
//   SharedFoldersAccess.cpp    path lookup, access rules, attribute text, browsed shares
//   SharedFoldersScanning.cpp  adding a folder, the folder walk, rescans, search tokens
//   SharedFoldersMp3.cpp       storing the MP3 scanner's answers
//   SharedFoldersServer.cpp    what the server hears after each login
//   SharedFoldersShareList.cpp share lists and folder contents for other users
//   SharedFoldersSearch.cpp    answering the searches of other users
//
// Everything runs on the GUI thread; only the MP3 scanner runs on its own thread and
// touches no item.

#include "net/records/AttributeTranslationTable.h"
#include "net/records/FileInfoMap.h"
#include "net/server/MemStream.h"
#include "net/server/UserStats.h"
#include "shares/FolderWalk.h"
#include "shares/MP3Scanner.h"
#include "store/Data.h"

#include <QFileInfo>
#include <QObject>
#include <QString>
#include <QThread>

#include <cstdint>
#include <functional>
#include <set>
#include <vector>

class SharedFoldersManager : public QObject, public DataHandler
{
    Q_OBJECT

public:
    // Needs gp_server, dataSaver, the settings types, the server's user types and the
    // peer network's MP3 attribute types. Sets sharedFoldersManager.
    explicit SharedFoldersManager(QObject* ip_parent = nullptr);
    // Stops the scanner thread; a scan under way ends first.
    ~SharedFoldersManager() override;

    // --- Lookups and access rules (SharedFoldersAccess.cpp) --------------------
    // The shared file at a local path ("/" separators), ignoring letter case and
    // repeated separators; null when none. Never touches the disk.
    ItemPtr GetSharedFileItem(QString i_path);
    // The shared folders the user may see. Never creates the user.
    ItemSet GetUserSharedFolders(QString i_user);
    // Whether the user may see the file (creates the user item when absent).
    bool IsFileSharedWithUser(ItemPtr i_file, QString i_user);
    // Bitrate, " VBR"/" CBR" and ", " play length of an item carrying those attributes.
    QString GetFileItemDisplayString(ItemPtr i_item);
    // Drops the share of that user that is being browsed, if any.
    void RemoveUserShare(QString i_user);
    // The key form of a path or name: runs of separators made one, one trailing
    // separator dropped, lower case.
    static QString LowerCaseKey(QString const& i_path);

    // --- Walking the shared folders (SharedFoldersScanning.cpp) ----------------
    // The shared folder with exactly this path, created and walked when new.
    ItemPtr AddSharedFolder(QString i_path);
    // Brings the index of folder i_folder (and everything below it) under shared folder
    // i_sharedFolder in step with the disk.
    void AddSharedFiles(QString i_sharedFolder, QString i_folder);
    // Walks every shared folder again, drops what is gone and reports the counts.
    void RescanShares();
    // The start-up rescan.
    void Init();
    // Files the client keeps for itself in folders a user may share: no walk indexes a
    // file the test picks out. The transfer queues register it; until then every file is
    // indexed.
    void SetPrivateFileTest(std::function<bool(QFileInfo const&)> i_isPrivate);
    // Joins the file to the search tokens of its lower-case path.
    void TokenizeSharedFile(ItemPtr i_file);
    static bool IsSearchTokenSeparator(QChar i_char);

    // --- Share lists and folder contents (SharedFoldersShareList.cpp) ----------
    // Every folder the user may see (each once, "\" separators, empty ones too) with
    // the records of its files; the table is left as it is.
    void GetSharedFilesAsUserShare(QString i_user, FileInfoMap& io_share,
                                   AttributeTranslationTable& io_table);
    // The complete share-list message for the user; empty when it could not be
    // compressed, and then nothing is to be sent.
    MemStream GetSharedFilesMessage(QString i_user);

    // --- Answering searches (SharedFoldersSearch.cpp) --------------------------
    // Sends the user one compressed reply when 1 to 200 visible files match the
    // search, and nothing otherwise.
    void ProcessSearch(QString i_user, unsigned int i_req, QString i_searchText);
    // What a reply tells of the upload side: whether a slot is free and how many
    // uploads wait. The transfer queues register it; until then a reply offers no free
    // slot and an empty queue.
    void SetUploadQueueState(std::function<bool()> i_isFreeToUpload,
                             std::function<std::uint32_t()> i_queuedUploadCount);

signals:
    void MP3ScanRequired(QString i_file);
    void SharedFilesRescanned(int i_filesAdded, int i_filesRemoved);

public slots:
    // After each login: the share counts and a request for the own statistics.
    void OnConnectedToServer();
    void OnReceivedUserStats(QString i_user, UserStats i_stats);
    void OnMP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode, int i_frequency,
                      bool i_isVBR, int i_bitrate);
    void OnDNetSearchRequest(QString i_user, unsigned int i_req, QString i_searchText);
    void OnFilesInFoldersRequested(QString i_user, unsigned int i_req, QString i_folder);

private:
    void CreateData();
    // i_isLink: the last component of i_folder is a link.
    void AddSharedFiles(QString i_sharedFolder, QString i_folder, bool i_isLink);
    void OnSharedFileNameAdded(ItemPtr i_name);
    void OnSharedFileFolderAdded(ItemPtr i_folder);
    // Folder-contents requests, share-list requests and searches reach the index from
    // the peer network and the distributed network, when those exist.
    void ConnectAnswers();
    void ConnectSearches();
    void DisconnectAnswers();

    QThread m_scannerThread;
    MP3Scanner m_scanner;
    qint32 m_filesAdded;
    qint32 m_filesRemoved;
    // Folders whose walk is under way, as the walk names them.
    std::set<QString> m_foldersBeingAdded;
    // The real folders the walk of one shared folder has entered: each is walked once.
    FolderWalk m_walk;
    // Types looked up on every new name and folder.
    Type* mp_lowercaseNames = nullptr;
    Type* mp_lowercaseFolders = nullptr;
    std::function<bool(QFileInfo const&)> m_isPrivateFile;
    std::function<bool()> m_isFreeToUpload;
    std::function<std::uint32_t()> m_queuedUploadCount;
};

extern SharedFoldersManager* sharedFoldersManager;
