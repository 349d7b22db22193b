#pragma once

// A peer that downloads from the client, for tests on 127.0.0.1 only. It listens on a
// free port that the client is given as the user's address, and tells each connection
// the client opens by its introduction frame (u8 1, name, type, u32 0).
//   "P": it reads the client's peer messages, answers every transfer offer (40) with a
//        transfer response (41) as the test chose, and sends messages of its own.
//   "F": it reads the client's raw u32 transfer token, sends its 8-byte start offset in
//        pieces (a pause after each, so that each arrives on its own), reads the file's
//        bytes and closes once the offered size has arrived.
// All bytes are written and read by hand (FakePeer's builders).
//
//     FakeDownloader l_carol("carol");
//     SetAddress("carol", l_carol.Listen());
//     l_carol.SetOffset(100, {3, 5});
//     ... the client offers a file and opens the file connection ...
//     QVERIFY(l_carol.WaitForFileClosed());
//     QCOMPARE(l_carol.FileBytes(), l_content.mid(100));

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

#include <memory>
#include <vector>

class QTcpSocket;

class FakeDownloader : public QObject
{
    Q_OBJECT

public:
    enum class Answer
    {
        Accept,
        Refuse,
        Silent
    };

    // A transfer offer (peer message 40) as it arrived.
    struct Offer
    {
        quint32 direction = 0;
        quint32 token = 0;
        QByteArray path;
        qint64 size = -1;
    };

    explicit FakeDownloader(QByteArray user, QObject* parent = nullptr);
    ~FakeDownloader() override;

    // Listens on 127.0.0.1 at a free port and returns it (0 on failure).
    quint16 Listen();

    // How offers are answered from now on (accept by default).
    void SetAnswer(Answer answer, QByteArray reason = {});
    // The start offset the next file connections send, cut into pieces of these sizes
    // (what the pieces leave over goes last).
    void SetOffset(qint64 offset, QList<int> pieces = {8});
    // With false, file connections never send their offset (the client waits for it).
    void SetSendOffset(bool send) { m_sendOffset = send; }
    // Whether a file connection is closed once the offered size has arrived (default).
    void SetCloseWhenComplete(bool close) { m_closeWhenComplete = close; }

    // --- messaging side ----------------------------------------------------------------
    // Sends a peer message (code and fields) as a plain frame on the client's "P"
    // connection, once it is there.
    bool Send(QByteArray const& payload, int timeoutMs = 3000);
    // The payloads of the client's messages with this code, in arrival order.
    QList<QByteArray> MessagesWithCode(quint32 code) const;
    bool WaitForMessages(quint32 code, qsizetype count, int timeoutMs = 3000);
    QList<Offer> const& Offers() const { return m_offers; }
    // Peer message 41 as this peer builds it.
    static QByteArray ResponsePayload(quint32 token, bool accepted, QByteArray const& reason = {});

    // --- file-transfer side --------------------------------------------------------------
    int FileConnectionCount() const { return static_cast<int>(m_files.size()); }
    bool WaitForFileConnections(int count, int timeoutMs = 3000);
    // The raw token bytes and the file bytes of the newest (or the given) connection.
    QByteArray Token(int index = -1) const;
    QByteArray FileBytes(int index = -1) const;
    bool WaitForFileBytes(qint64 count, int timeoutMs = 3000);
    // True once the newest file connection has ended, whichever side closed it.
    bool WaitForFileClosed(int timeoutMs = 3000);
    // Ends the newest file connection at once.
    void AbortFileConnection();

private:
    struct Connection;

    void OnNewConnection();
    void OnReadyRead(Connection& io_connection);
    // False until the whole introduction frame is there; then the connection's kind is set.
    bool ReadIntroduction(Connection& io_connection);
    void ReadMessages(Connection& io_connection);
    void ReadFile(Connection& io_connection);
    void SendOffsetPieces(QTcpSocket* socket, QByteArray rest, QList<int> pieces);
    Connection* Newest(int index) const;

    QByteArray m_user;
    QTcpServer m_server;
    Answer m_answer = Answer::Accept;
    QByteArray m_reason;
    qint64 m_offset = 0;
    QList<int> m_pieces{8};
    bool m_sendOffset = true;
    bool m_closeWhenComplete = true;
    std::vector<std::unique_ptr<Connection>> m_connections;
    Connection* mp_messages = nullptr;
    std::vector<Connection*> m_files;
    QList<QByteArray> m_frames;
    QList<Offer> m_offers;
};
