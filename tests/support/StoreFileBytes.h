#pragma once

// Store files built by hand, so that tests state the format independently of the
// writer, and plain whole-file reads and writes.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QPair>
#include <QString>
#include <QtEndian>

// Little-endian integers, single bytes and length-prefixed strings, in order.
class FileBytes
{
public:
    FileBytes& Int(qint32 value)
    {
        char l_bytes[4];
        qToLittleEndian<qint32>(value, l_bytes);
        m_bytes.append(l_bytes, 4);
        return *this;
    }
    FileBytes& Byte(char value)
    {
        m_bytes.append(value);
        return *this;
    }
    FileBytes& Str(QByteArray const& text)
    {
        Int(qint32(text.size()));
        m_bytes.append(text);
        return *this;
    }
    QByteArray const& Bytes() const { return m_bytes; }

private:
    QByteArray m_bytes;
};

struct Section
{
    QByteArray m_name;
    bool m_null;
    QList<QPair<qint32, QByteArray>> m_items; // id and value (ignored when m_null)
};

// A well-formed store file from its parts.
inline QByteArray StoreFile(QList<Section> const& sections,
                            QList<QPair<qint32, qint32>> const& pairs)
{
    FileBytes l_bytes;
    l_bytes.Int(qint32(sections.size()));
    for (Section const& l_section : sections)
    {
        l_bytes.Str(l_section.m_name).Byte(l_section.m_null ? 1 : 0);
        l_bytes.Int(qint32(l_section.m_items.size()));
        for (auto const& l_item : l_section.m_items)
        {
            l_bytes.Int(l_item.first);
            if (!l_section.m_null)
                l_bytes.Str(l_item.second);
        }
    }
    l_bytes.Int(qint32(pairs.size()));
    for (auto const& l_pair : pairs)
        l_bytes.Int(l_pair.first).Int(l_pair.second);
    return l_bytes.Bytes();
}

inline QByteArray ReadFile(QString const& path)
{
    QFile l_file(path);
    if (!l_file.open(QIODevice::ReadOnly))
        return QByteArray();
    return l_file.readAll();
}

inline bool WriteFile(QString const& path, QByteArray const& bytes)
{
    QFile l_file(path);
    return l_file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           l_file.write(bytes) == bytes.size();
}
