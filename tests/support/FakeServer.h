#pragma once

// A stand-in for the central server: a QTcpServer on 127.0.0.1 on a free port that
// cuts what a client sends into frames (u32 little-endian length, then the payload
// starting with the u32 code), records them in arrival order and sends whatever bytes
// a test scripts. Frames are parsed by hand, not with the client's stream classes.
//
//     FakeServer l_fake;
//     QVERIFY(l_fake.Listen());
//     l_fake.SetReply(1, FrameBuilder::LoginAccepted());   // answer every login
//     ... point the client at 127.0.0.1:l_fake.Port() and connect ...
//     QVERIFY(l_fake.WaitForCode(1));
//
// Every Wait* call runs the event loop for at most its time-out and returns whether
// the condition came true.

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtGlobal>

class FakeServer : public QObject
{
    Q_OBJECT

public:
    struct Frame
    {
        int connection = 0;  // 1 for the first accepted connection, 2 for the next...
        quint32 code = 0;    // the first four payload bytes; 0 when the payload is shorter
        QByteArray payload;  // code and fields, without the length prefix
        // The fields alone (the payload after the code).
        QByteArray Fields() const { return payload.mid(4); }
    };

    explicit FakeServer(QObject* parent = nullptr);
    ~FakeServer() override;

    // Listens on 127.0.0.1 on a free port (again after StopListening, on the same
    // port when it is still free).
    bool Listen();
    quint16 Port() const { return m_port; }
    // Refuses further connections; the current client stays connected.
    void StopListening();

    // Number of connections accepted so far.
    int AcceptedCount() const { return m_acceptedCount; }
    // Whether the newest accepted connection is still open.
    bool HasClient() const;
    bool WaitForAccepted(int count, int timeoutMs = 3000);
    bool WaitForClientGone(int timeoutMs = 3000);

    QList<Frame> const& Frames() const { return m_frames; }
    QList<quint32> Codes() const;
    // Frames with this code, in arrival order.
    QList<Frame> FramesWithCode(quint32 code) const;
    bool HasCode(quint32 code) const { return !FramesWithCode(code).isEmpty(); }
    void ClearFrames() { m_frames.clear(); }
    // Every byte received on the newest connection, framing included.
    QByteArray const& RawReceived() const { return m_raw; }

    bool WaitForFrames(int count, int timeoutMs = 3000);
    bool WaitForCode(quint32 code, int timeoutMs = 3000);
    // Runs the event loop for the given time; for checks that nothing arrives.
    void Idle(int milliseconds);

    // Bytes to send each time a frame with this code arrives (for instance an accepted
    // login for code 1). Replaces an earlier reply for the code.
    void SetReply(quint32 code, QByteArray const& bytes);
    void ClearReply(quint32 code);

    // Writes bytes to the newest connection as they are, in one write.
    void Send(QByteArray const& bytes);
    // Writes them in pieces of the given size, flushing each piece.
    void SendInPieces(QByteArray const& bytes, int pieceSize);
    // Resets the newest connection (an abrupt drop).
    void DropClient();
    // Closes the newest connection in order.
    void CloseClient();

signals:
    void FrameReceived(quint32 code);

private:
    void OnNewConnection();
    void OnReadyRead(QTcpSocket* socket, int connection);
    void ParseFrames(int connection);

    QTcpServer m_server;
    quint16 m_port = 0;
    QPointer<QTcpSocket> mp_client;
    int m_acceptedCount = 0;
    QMap<int, QByteArray> m_pending;  // unparsed bytes per connection
    QByteArray m_raw;
    QList<Frame> m_frames;
    QMap<quint32, QByteArray> m_replies;
};
