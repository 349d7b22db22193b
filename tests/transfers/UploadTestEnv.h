#pragma once

// Shared set-up of the upload tests: the peer network's fixture (a Server logged in as
// "alice" at a FakeServer, a listening PeerMessenger), the share index with one public
// folder of the test's own, and the transfer manager. Downloading peers are
// FakeDownloaders whose addresses the client knows.

#include "TransferTestEnv.h"
#include "shares/SharedFoldersManager.h"
#include "support/FakeDownloader.h"
#include "transfers/UploadThread.h"

#include <QSignalSpy>

namespace UploadTestEnv
{
using namespace TransferTestEnv;

class UploadFixture
{
public:
    bool SetUp()
    {
        if (!m_peer.SetUp() || !m_share.isValid())
            return false;
        mp_shares = std::make_unique<SharedFoldersManager>(nullptr);
        mp_manager = std::make_unique<TransferQueueManager>();
        mp_shares->AddSharedFolder(m_share.path()).NewItem("shared_public");
        return transferQueueManager == mp_manager.get();
    }

    void TearDown()
    {
        Reset();
        mp_manager.reset();
        mp_shares.reset();
        m_peer.TearDown();
    }

    // No upload, no connection, default limits, nobody online: each test starts here.
    void Reset()
    {
        SetSetting("upload_slots", "0");
        for (ItemPtr const& l_entry : d["upload_entry"]->GetItems())
            mp_manager->RemoveUpload(l_entry);
        for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
            mp_manager->RemoveDownload(l_entry);
        d["is_online"]->GetItems().GetItems("user").Disconnect("is_online");
        SetSetting("upload_slots", "1");
        SetSetting("max_queued_uploads_per_user", "200");
        SetSetting("check_for_empty_shares", "no");
        mp_manager->SetUploadSpeedLimit(0);
        mp_manager->EnableUploadSpeedLimit(false);
        ClearConnections();
        m_peer.fake().ClearFrames();
    }

    // Writes the file below the public folder and indexes it; returns the name a peer
    // asks for it by ("\" separators).
    QString Share(QString const& name, QByteArray const& bytes)
    {
        QString const l_path = m_share.path() + "/" + name;
        WriteFile(l_path, bytes);
        mp_shares->AddSharedFiles(m_share.path(), m_share.path());
        return QString(l_path).replace('/', '\\');
    }

    // The same for a file of that size whose bytes are not written (a sparse file).
    QString ShareSized(QString const& name, qint64 size)
    {
        QString const l_path = m_share.path() + "/" + name;
        QFile l_file(l_path);
        if (!l_file.open(QIODevice::WriteOnly) || !l_file.resize(size))
            return QString();
        l_file.close();
        mp_shares->AddSharedFiles(m_share.path(), m_share.path());
        return QString(l_path).replace('/', '\\');
    }

    // A downloading peer whose address the client knows, online unless told otherwise
    // (coming online starts its queued uploads).
    std::unique_ptr<FakeDownloader> Downloader(QByteArray const& name,
                                               FakeDownloader::Answer answer = FakeDownloader::Answer::Accept,
                                               bool online = true)
    {
        auto l_peer = std::make_unique<FakeDownloader>(name);
        l_peer->SetAnswer(answer, "Cancelled");
        SetAddress(QString::fromLatin1(name), l_peer->Listen());
        SetOnline(QString::fromLatin1(name), online);
        return l_peer;
    }

    PeerTestEnv::Fixture& peer() { return m_peer; }
    TransferQueueManager& manager() { return *mp_manager; }
    SharedFoldersManager& shares() { return *mp_shares; }
    QString ShareFolder() const { return m_share.path(); }

private:
    PeerTestEnv::Fixture m_peer;
    QTemporaryDir m_share;
    std::unique_ptr<SharedFoldersManager> mp_shares;
    std::unique_ptr<TransferQueueManager> mp_manager;
};

inline QByteArray UploadStatus(ItemPtr entry)
{
    return QByteArray::fromStdString(entry["upload_entry_status"].AsStdString());
}

// The upload of that user, or null.
inline ItemPtr UploadOf(QString const& user, QString const& requested)
{
    ItemPtr const l_name = d["filename_as_requested"]->HasItem(Value(requested));
    return l_name ? d.GetItem(User(user), l_name, "upload_entry") : ItemPtr();
}

// Peer message 50 as the client sends it.
inline QByteArray Denial(QString const& file, QByteArray const& reason)
{
    return Code(50, FakePeer::Text(file.toUtf8()) + FakePeer::Text(reason));
}

// Peer message 40 as the client sends it.
inline QByteArray OfferOf(quint32 token, QString const& file, qint64 size)
{
    return Code(40, U32(1) + U32(token) + FakePeer::Text(file.toUtf8()) + FakePeer::I64(size));
}
} // namespace UploadTestEnv
