#include "store/ExtendedAsciiTranslator.h"

#include <QByteArray>

QString ToQString(std::string const& bytes)
{
    // Text ends at the first zero byte, whatever the container says.
    std::string::size_type const l_end = bytes.find('\0');
    QByteArray const l_raw(bytes.data(), static_cast<qsizetype>(
                                             l_end == std::string::npos ? bytes.size() : l_end));
    QString const l_utf8 = QString::fromUtf8(l_raw);
    if (l_utf8.toUtf8() == l_raw)
        return l_utf8;
    return QString::fromLatin1(l_raw);
}
