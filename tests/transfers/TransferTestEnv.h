#pragma once

// Shared set-up of the transfer tests: the peer network's fixture (a Server logged in
// as "alice" at a FakeServer, a listening PeerMessenger), the transfer manager, and a
// download folder of the test's own.

#include "net/peer/PeerTestEnv.h"
#include "shares/SharedFoldersManager.h"
#include "store/Log.h"
#include "support/FakeUploader.h"
#include "support/LogCapture.h"
#include "transfers/DownloadThread.h"
#include "transfers/TransferQueueManager.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

namespace TransferTestEnv
{
using namespace PeerTestEnv;

inline QString const c_queueArea = QStringLiteral("Transfer Queue");

class TransferFixture
{
public:
    // With i_ownFolder the downloads go to a temporary folder of the test's own.
    bool SetUp(bool i_ownFolder = true)
    {
        if (!m_peer.SetUp() || !m_folder.isValid())
            return false;
        // The share index comes first: uploads point at its shared files.
        mp_shares = std::make_unique<SharedFoldersManager>(nullptr);
        mp_manager = std::make_unique<TransferQueueManager>();
        if (i_ownFolder)
            SetSetting("download_folder", m_folder.path());
        return transferQueueManager == mp_manager.get();
    }

    void TearDown()
    {
        for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
            mp_manager->RemoveDownload(l_entry);
        mp_manager.reset();
        mp_shares.reset();
        ClearConnections();
        m_peer.TearDown();
    }

    PeerTestEnv::Fixture& peer() { return m_peer; }
    TransferQueueManager& manager() { return *mp_manager; }
    QString Folder() const { return m_folder.path(); }

private:
    PeerTestEnv::Fixture m_peer;
    QTemporaryDir m_folder;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<TransferQueueManager> mp_manager;
};

inline QByteArray Status(ItemPtr entry)
{
    return QByteArray::fromStdString(entry["download_entry_status"].AsStdString());
}

inline void SetOnline(QString const& user, bool online)
{
    if (online)
        User(user).NewItem("is_online");
    else
        User(user).Disconnect("is_online");
}

inline QByteArray ReadFile(QString const& path)
{
    QFile l_file(path);
    return l_file.open(QIODevice::ReadOnly) ? l_file.readAll() : QByteArray();
}

inline bool WriteFile(QString const& path, QByteArray const& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile l_file(path);
    return l_file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           l_file.write(bytes) == bytes.size();
}

inline QByteArray Sha1(QByteArray const& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

// Bytes that differ from block to block, so that a misplaced block shows.
inline QByteArray Content(qsizetype size)
{
    QByteArray l_bytes(size, '\0');
    for (qsizetype l_at = 0; l_at < size; ++l_at)
        l_bytes[l_at] = char((l_at * 7 + l_at / 8192) & 0xFF);
    return l_bytes;
}

// Every file below the folder, relative to it, in "/" form.
inline QStringList FilesBelow(QString const& folder)
{
    QStringList l_files;
    QDir const l_root(folder);
    QDirIterator l_it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (l_it.hasNext())
        l_files.append(l_root.relativeFilePath(l_it.next()));
    l_files.sort();
    return l_files;
}
} // namespace TransferTestEnv
