#include "ui/chat/ChatLogFiles.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>

namespace
{
// File names are limited to 255 bytes on the usual file systems; 200 bytes of name,
// the hash marker, the hash and ".log" stay well below.
constexpr int c_maxNameBytes = 200;

bool NeedsEscape(char i_byte, int i_index)
{
    return i_byte == '%' || i_byte == '/' || i_byte == '\0' || (i_index == 0 && i_byte == '.');
}

QByteArray Escaped(QByteArray const& i_bytes)
{
    static char const c_hex[] = "0123456789ABCDEF";
    QByteArray l_out;
    l_out.reserve(i_bytes.size());
    for (int l_index = 0; l_index < i_bytes.size(); ++l_index) {
        char const l_byte = i_bytes.at(l_index);
        if (!NeedsEscape(l_byte, l_index)) {
            l_out.append(l_byte);
            continue;
        }
        unsigned char const l_value = static_cast<unsigned char>(l_byte);
        l_out.append('%');
        l_out.append(c_hex[l_value >> 4]);
        l_out.append(c_hex[l_value & 0x0f]);
    }
    return l_out;
}

// The longest prefix of at most i_limit bytes that ends neither inside a UTF-8 sequence
// nor inside a "%XX" escape.
int CutPosition(QByteArray const& i_escaped, int i_limit)
{
    int l_cut = i_limit;
    while (l_cut > 0 && (static_cast<unsigned char>(i_escaped.at(l_cut)) & 0xc0) == 0x80)
        --l_cut;
    for (int l_back = 1; l_back <= 2 && l_cut - l_back >= 0; ++l_back)
        if (i_escaped.at(l_cut - l_back) == '%') {
            l_cut -= l_back;
            break;
        }
    return l_cut;
}
} // namespace

QString ChatLogFolder(ChatLogKind i_kind)
{
    return QDir::homePath() + (i_kind == ChatLogKind::Room ? QStringLiteral("/Kestrune Chat Logs/Rooms/")
                                                           : QStringLiteral("/Kestrune Chat Logs/Users/"));
}

QString ChatLogFileName(QString const& i_name)
{
    QByteArray const l_utf8 = i_name.toUtf8();
    QByteArray l_escaped = Escaped(l_utf8);
    if (l_escaped.size() > c_maxNameBytes) {
        QByteArray const l_hash =
            QCryptographicHash::hash(l_utf8, QCryptographicHash::Sha256).toHex().left(16);
        l_escaped = l_escaped.left(CutPosition(l_escaped, c_maxNameBytes)) + "%h" + l_hash;
    }
    return QString::fromUtf8(l_escaped) + QStringLiteral(".log");
}

QString ChatLogPath(ChatLogKind i_kind, QString const& i_name)
{
    return ChatLogFolder(i_kind) + ChatLogFileName(i_name);
}
