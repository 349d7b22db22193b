#pragma once

// A stand-in for another client on a peer connection, for tests on 127.0.0.1 only.
// It either connects to a port or listens on a free one and accepts the first
// connection. Everything it sends is spelled out byte by byte in the test support
// (never through the client's own stream or framing code), so a mistake in the
// production encoder cannot be mirrored by the test. Incoming bytes are kept raw and,
// in either framing, cut into frames.
//
// Frame layouts (little-endian):
//   plain       u32 length L, L payload bytes
//   obfuscated  u32 key K in clear, then the 4 + L bytes of the plain frame masked:
//               group g of four bytes is XORed with K rotated left by g + 1 bits,
//               byte j of a group with byte j of that key (least significant first)

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>

#include <cstdint>

class QTcpServer;
class QTcpSocket;

class FakePeer : public QObject
{
    Q_OBJECT

public:
    explicit FakePeer(QObject* parent = nullptr);
    ~FakePeer() override;

    // --- byte builders -------------------------------------------------------------
    static QByteArray U8(std::uint8_t value);
    static QByteArray U32(std::uint32_t value);
    static QByteArray I64(std::int64_t value);
    // u32 byte count, then the bytes.
    static QByteArray Text(QByteArray const& bytes);
    static QByteArray PlainFrame(QByteArray const& payload);
    // The masked form of `plain` (length field and payload) under key, without the key.
    static QByteArray Mask(QByteArray const& plain, std::uint32_t key);
    // K in clear, then the plain frame of the payload masked with K.
    static QByteArray ObfuscatedFrame(QByteArray const& payload, std::uint32_t key);
    // First frames: u8 1, name, type, u32 0 / u8 0, token.
    static QByteArray InitPayload(QByteArray const& user, QByteArray const& type);
    static QByteArray PiercingPayload(std::uint32_t token);

    // --- connection ----------------------------------------------------------------
    // Connects to 127.0.0.1:port; true once connected (bounded wait).
    bool ConnectTo(quint16 port, int timeoutMs = 3000);
    // Listens on 127.0.0.1 at a free port and returns it (0 on failure); the first
    // incoming connection becomes this peer's socket.
    quint16 Listen();
    bool WaitForAccepted(int timeoutMs = 3000);

    // Whether incoming bytes are cut as obfuscated frames.
    void SetObfuscated(bool obfuscated) { m_isObfuscated = obfuscated; }

    // Writes all bytes at once and flushes.
    bool Send(QByteArray const& bytes);
    // Writes one byte at a time; after each byte the event loop runs for pauseMs so
    // that the other side sees every byte in a read of its own.
    bool SendByteByByte(QByteArray const& bytes, int pauseMs = 2);
    void Close();

    // --- what arrived ----------------------------------------------------------------
    QByteArray const& Received() const { return m_received; }
    // Complete frames cut from the received bytes, payloads unmasked.
    QList<QByteArray> const& Frames() const { return m_frames; }
    // The clear keys of the obfuscated frames received, in order.
    QList<std::uint32_t> const& Keys() const { return m_keys; }
    bool WaitForBytes(qsizetype count, int timeoutMs = 3000);
    bool WaitForFrames(qsizetype count, int timeoutMs = 3000);
    // True once the other side closed the connection (or it was never open).
    bool IsDisconnected() const;
    bool WaitForDisconnected(int timeoutMs = 3000);
    QTcpSocket* Socket() const { return mp_socket; }

private:
    void OnNewConnection();
    void OnReadyRead();
    void OnDisconnected();
    void Adopt(QTcpSocket* socket);
    void CutFrames();

    QTcpServer* mp_server = nullptr;
    QPointer<QTcpSocket> mp_socket;
    bool m_isObfuscated = false;
    bool m_isDisconnected = false;
    QByteArray m_received;
    qsizetype m_cutOffset = 0;
    QList<QByteArray> m_frames;
    QList<std::uint32_t> m_keys;
};
