#pragma once

// Shared by the peer message tests: a fake peer with an open "P" connection, every signal
// a received message raises written down as one line, and a message sent with a known one
// behind it, which tells whether the connection went on.

#include "PeerTestEnv.h"
#include "net/records/FileInfo.h"
#include "support/ShareBytes.h"

#include <type_traits>

namespace MessageTestEnv
{
using namespace PeerTestEnv;
inline QByteArray Text(QByteArray const& bytes) { return FakePeer::Text(bytes); }
inline QByteArray U8(std::uint8_t value) { return FakePeer::U8(value); }
inline QByteArray I64(std::int64_t value) { return FakePeer::I64(value); }

inline QString Str(QString const& text) { return text; }
inline QString Str(std::string const& bytes) { return QString::fromStdString(bytes); }
inline QString Str(bool value) { return value ? "true" : "false"; }
template <class N> requires std::is_arithmetic_v<N> QString Str(N value) { return QString::number(value); }
inline QString Str(AttributeTranslationTable const& table)
{
    QStringList l_names;
    for (auto const& [code, name] : table)
        l_names << QString("%1:%2").arg(code).arg(Str(name));
    return "{" + l_names.join(",") + "}";
}
// Folder=name:size:extension:pair count of each file.
inline QString Str(FileInfoMap const& share)
{
    QStringList l_folders;
    for (auto const& [folder, files] : share)
    {
        QStringList l_files;
        for (FileInfo const& l_file : files)
            l_files << QString("%1:%2:%3:%4").arg(Str(l_file.m_name)).arg(l_file.m_size)
                           .arg(Str(l_file.m_attributes.m_extension)).arg(l_file.m_attributes.m_pairs.size());
        l_folders << Str(folder) + "=" + l_files.join(",");
    }
    return "{" + l_folders.join(";") + "}";
}

class Recorder
{
public:
    Recorder()
    {
        Watch(&PeerMessenger::FileTransferRequested, "FileTransferRequested");
        Watch(&PeerMessenger::FileTransferResponse, "FileTransferResponse");
        Watch(&PeerMessenger::QueueUploadRequested, "QueueUploadRequested");
        Watch(&PeerMessenger::QueueDownloadRequested, "QueueDownloadRequested");
        Watch(&PeerMessenger::UploadDenied, "UploadDenied");
        Watch(&PeerMessenger::DownloadPlaceInLine, "DownloadPlaceInLine");
        Watch(&PeerMessenger::UploadPlaceInLineRequested, "UploadPlaceInLineRequested");
        Watch(&PeerMessenger::SharedFilesInFolderRequested, "SharedFilesInFolderRequested");
        Watch(&PeerMessenger::UserShare, "UserShare");
        QObject::connect(peerMessenger, &PeerMessenger::UploadFailed, &m_context, [this](QString user, std::string file) {
            if (file == "sentinel")
                ++m_sentinels;
            else
                m_lines << "UploadFailed " + user + " " + Str(file);
        });
        QObject::connect(peerMessenger, &PeerMessenger::SearchResults, &m_context,
                         [this](ItemPtr results) { m_results << results; });
    }

    QStringList m_lines;
    QList<ItemPtr> m_results;
    int m_sentinels = 0;

private:
    template <class... A> void Watch(void (PeerMessenger::*signal)(A...), char const* name)
    {
        QObject::connect(peerMessenger, signal, &m_context, [this, name](A... args) {
            QStringList l_parts{name};
            (l_parts << ... << Str(args));
            m_lines << l_parts.join(" ");
        });
    }

    QObject m_context;
};

inline bool Open(quint16 port, FakePeer& peer, QByteArray const& user)
{
    std::size_t const l_before = User(user).GetItems("peer_socket").size();
    return peer.ConnectTo(port) && peer.Send(InitFrameOf(user, "P")) &&
           QTest::qWaitFor([&] { return User(user).GetItems("peer_socket").size() > l_before; }, 3000);
}

// Sends the message and message 46 for "sentinel" behind it; true once the sentinel
// arrived with the connection still open, or, when it should close, once it closed
// without handling the sentinel.
inline bool SendAndSettle(Recorder& recorder, FakePeer& peer, QByteArray const& payload, bool closes,
                          int timeoutMs = 5000)
{
    int const l_before = recorder.m_sentinels;
    if (!peer.Send(FakePeer::PlainFrame(payload) + FakePeer::PlainFrame(Code(46, Text("sentinel")))))
        return false;
    if (closes)
        return peer.WaitForDisconnected(timeoutMs) && recorder.m_sentinels == l_before;
    return QTest::qWaitFor([&] { return recorder.m_sentinels > l_before; }, timeoutMs) && !peer.IsDisconnected();
}
} // namespace MessageTestEnv
