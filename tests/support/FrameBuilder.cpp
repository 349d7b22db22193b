#include "support/FrameBuilder.h"

FrameBuilder::FrameBuilder(quint32 code)
{
    U32(code);
}

QByteArray FrameBuilder::LittleEndian(quint64 value, int bytes)
{
    QByteArray l_bytes;
    for (int l_index = 0; l_index < bytes; ++l_index)
        l_bytes.append(static_cast<char>((value >> (8 * l_index)) & 0xFF));
    return l_bytes;
}

QByteArray FrameBuilder::Framed(QByteArray const& payload)
{
    return LittleEndian(static_cast<quint64>(payload.size()), 4) + payload;
}

FrameBuilder& FrameBuilder::U8(quint8 value)
{
    m_payload.append(static_cast<char>(value));
    return *this;
}

FrameBuilder& FrameBuilder::Bool(bool value)
{
    return U8(value ? 1 : 0);
}

FrameBuilder& FrameBuilder::U16(quint16 value)
{
    m_payload += LittleEndian(value, 2);
    return *this;
}

FrameBuilder& FrameBuilder::U32(quint32 value)
{
    m_payload += LittleEndian(value, 4);
    return *this;
}

FrameBuilder& FrameBuilder::I32(qint32 value)
{
    return U32(static_cast<quint32>(value));
}

FrameBuilder& FrameBuilder::U64(quint64 value)
{
    m_payload += LittleEndian(value, 8);
    return *this;
}

FrameBuilder& FrameBuilder::Str(QByteArray const& bytes)
{
    U32(static_cast<quint32>(bytes.size()));
    m_payload += bytes;
    return *this;
}

FrameBuilder& FrameBuilder::Str(QString const& text)
{
    return Str(text.toUtf8());
}

FrameBuilder& FrameBuilder::Str(char const* text)
{
    return Str(QByteArray(text));
}

FrameBuilder& FrameBuilder::StrList(QStringList const& texts)
{
    U32(static_cast<quint32>(texts.size()));
    for (QString const& l_text : texts)
        Str(l_text);
    return *this;
}

FrameBuilder& FrameBuilder::Stats(quint32 speed, quint64 counter, quint32 files, quint32 folders)
{
    return U32(speed).U64(counter).U32(files).U32(folders);
}

FrameBuilder& FrameBuilder::Raw(QByteArray const& bytes)
{
    m_payload += bytes;
    return *this;
}

QByteArray FrameBuilder::LoginAccepted(QString const& greeting)
{
    return FrameBuilder(1)
        .U8(1)
        .Str(greeting)
        .U32(0x7F000001)
        .Str("0123456789abcdef0123456789abcdef")
        .Frame();
}

QByteArray FrameBuilder::LoginRefused(QString const& reason)
{
    return FrameBuilder(1).U8(0).Str(reason).Frame();
}
