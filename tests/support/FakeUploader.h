#pragma once

// A peer that uploads to the client, for tests on 127.0.0.1 only. Its messaging side
// is a listening FakePeer that the client connects to when it first sends to the
// user; over it the uploader offers files (peer message 40) and collects the client's
// answers (41). For an accepted offer it opens a file-transfer connection of its own
// to the client's listening port: the introduction frame naming itself with type "F",
// then the raw u32 transfer token; it reads the client's 8-byte start offset and sends
// the file's bytes from there. All bytes are written by hand (FakePeer's builders).
//
//     FakeUploader l_bob("bob");
//     SetAddress("bob", l_bob.Listen());
//     ... the client sends bob a message, so the messaging connection opens ...
//     l_bob.Offer(7, "music\\song.mp3", l_content.size());
//     l_bob.OpenFileConnection(clientPort, 7);
//     qint64 l_offset = l_bob.ReadOffset();
//     l_bob.SendFrom(l_content, l_offset);

#include "support/FakePeer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

class FakeUploader : public QObject
{
    Q_OBJECT

public:
    explicit FakeUploader(QByteArray user, QObject* parent = nullptr);

    // Peer message 40: u32 direction, u32 token, path bytes as a string, i64 size.
    static QByteArray OfferPayload(quint32 token, QByteArray const& path, qint64 size,
                                   quint32 direction = 1);

    // --- messaging side ----------------------------------------------------------------
    QByteArray const& User() const { return m_user; }
    quint16 Listen() { return m_messages.Listen(); }
    FakePeer& Messages() { return m_messages; }
    // Waits for the client's messaging connection, then sends the offer on it.
    bool Offer(quint32 token, QByteArray const& path, qint64 size, quint32 direction = 1);
    // The payloads of the client's messages with this code, in arrival order.
    QList<QByteArray> MessagesWithCode(quint32 code) const;
    bool WaitForMessages(quint32 code, qsizetype count, int timeoutMs = 3000);

    // --- file-transfer side --------------------------------------------------------------
    // A new connection to the client's plain port: introduction, then the token.
    // Earlier file connections stay open until the client or the test closes them.
    bool OpenFileConnection(quint16 clientPort, quint32 token);
    // The newest file connection, or the one opened as number `index` (from 0).
    FakePeer& File() { return *m_files.back(); }
    FakePeer& File(int index) { return *m_files.at(index); }
    // The client's start offset on the newest file connection, or -1 when 8 bytes did
    // not arrive in time.
    qint64 ReadOffset(int timeoutMs = 3000);
    // Sends the content from the offset on; with a count, only that many bytes of it.
    bool SendFrom(QByteArray const& content, qint64 offset, qint64 count = -1);
    // Sends one byte of the content from the offset on every interval, until the
    // content ends or the connection goes.
    void Trickle(QByteArray const& content, qint64 offset, int intervalMs);
    void CloseFileConnection();

private:
    QByteArray m_user;
    FakePeer m_messages;
    std::vector<std::unique_ptr<FakePeer>> m_files;
    QTimer m_trickle;
    QByteArray m_trickleBytes;
};
