#pragma once

// Builds wire bytes by hand, little-endian, one byte at a time. It deliberately
// shares no code with the client's stream classes, so that a byte-order or length
// mistake in those cannot be mirrored here and pass unnoticed.
//
//     QByteArray l_frame = FrameBuilder(13).Str("room").Str("hello").Frame();
//
// Payload() is the code followed by the fields; Frame() puts the u32 length of the
// payload in front. Static helpers below build the central server's own messages;
// add one per incoming message a test needs.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class FrameBuilder
{
public:
    // An empty payload (for raw peer or distributed-network bodies).
    FrameBuilder() = default;
    // A payload that starts with the u32 message code.
    explicit FrameBuilder(quint32 code);

    FrameBuilder& U8(quint8 value);
    FrameBuilder& Bool(bool value);
    FrameBuilder& U16(quint16 value);
    FrameBuilder& U32(quint32 value);
    FrameBuilder& I32(qint32 value);
    FrameBuilder& U64(quint64 value);
    // u32 byte count, then the bytes as given.
    FrameBuilder& Str(QByteArray const& bytes);
    // The UTF-8 bytes of the text, as above.
    FrameBuilder& Str(QString const& text);
    FrameBuilder& Str(char const* text);
    // u32 count, then each text as a string.
    FrameBuilder& StrList(QStringList const& texts);
    // A user's statistics: u32 speed, u64 counter, u32 files, u32 folders.
    FrameBuilder& Stats(quint32 speed, quint64 counter, quint32 files, quint32 folders);
    // Bytes appended as they are.
    FrameBuilder& Raw(QByteArray const& bytes);

    QByteArray const& Payload() const { return m_payload; }
    QByteArray Frame() const { return Framed(m_payload); }

    // `bytes` little-endian bytes of value.
    static QByteArray LittleEndian(quint64 value, int bytes);
    // u32 length of the payload, then the payload.
    static QByteArray Framed(QByteArray const& payload);

    // Server message 1, login accepted: u8 1, greeting, u32 own address, a hash text.
    static QByteArray LoginAccepted(QString const& greeting = QStringLiteral("Welcome"));
    // Server message 1, login refused: u8 0, the reason.
    static QByteArray LoginRefused(QString const& reason);

private:
    QByteArray m_payload;
};
