#include "store/GeneralFunctions.h"

#include <QRegularExpression>

namespace
{
bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool IsSeparator(QChar c)
{
    return c == QLatin1Char('\\') || c == QLatin1Char('/');
}

std::string DropOneTrailingSeparator(std::string const& path)
{
    if (!path.empty() && IsSeparator(path.back()))
        return path.substr(0, path.size() - 1);
    return path;
}

std::string::size_type FindLastSeparator(std::string const& path)
{
    return path.find_last_of("\\/");
}

qsizetype FindLastSeparator(QString const& path)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i)
        if (IsSeparator(path.at(i)))
            return i;
    return -1;
}
} // namespace

QString FormatSeconds(long seconds)
{
    long const l_days = seconds / 86400;
    long const l_hours = (seconds / 3600) % 24;
    long const l_minutes = (seconds / 60) % 60;
    long const l_seconds = seconds % 60;
    QString l_result;
    if (l_days != 0)
        l_result += QString::number(l_days) + QLatin1Char('d');
    if (l_days != 0 || l_hours != 0)
        l_result += QString::number(l_hours) + QLatin1Char('h');
    l_result += QString::number(l_minutes) + QLatin1Char('m');
    l_result += QString::number(l_seconds) + QLatin1Char('s');
    return l_result;
}

QString CommafyNumber(long long number)
{
    if (number < 1)
        return QString();
    QString const l_digits = QString::number(number);
    QString l_result;
    l_result.reserve(l_digits.size() + l_digits.size() / 3);
    qsizetype const l_count = l_digits.size();
    for (qsizetype i = 0; i < l_count; ++i)
    {
        // A comma goes in front of every group of three counted from the right.
        if (i > 0 && (l_count - i) % 3 == 0)
            l_result += QLatin1Char(',');
        l_result += l_digits.at(i);
    }
    return l_result;
}

QString EscapeHTML(QString const& text)
{
    QString l_result = text;
    l_result.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    l_result.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    l_result.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return l_result;
}

QString EscapeMnemonics(QString text)
{
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

QString ConvertLinks(QString const& text)
{
    static QRegularExpression const s_link(
        QStringLiteral("(\\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|])"));
    QString l_result = text;
    l_result.replace(s_link, QStringLiteral("<a href=\"\\1\">\\1</a>"));
    return l_result;
}

std::string GetFileName(std::string const& path)
{
    if (path.empty())
        return std::string();
    std::string const l_path = DropOneTrailingSeparator(path);
    std::string::size_type const l_sep = FindLastSeparator(l_path);
    if (l_sep == std::string::npos)
        return l_path;
    return l_path.substr(l_sep + 1);
}

std::string GetFolder(std::string const& path)
{
    if (path.empty())
        return std::string();
    std::string const l_path = DropOneTrailingSeparator(path);
    std::string::size_type const l_sep = FindLastSeparator(l_path);
    if (l_sep == std::string::npos)
        return l_path;
    return l_path.substr(0, l_sep);
}

std::string GetParentFolder(std::string const& path)
{
    if (path.empty())
        return std::string();
    std::string::size_type l_end = path.size();
    while (l_end > 0 && path[l_end - 1] == '\\')
        --l_end;
    if (l_end == 0)
        return std::string();
    return GetFolder(path.substr(0, l_end));
}

std::string GetFileExtension(std::string const& path)
{
    std::string::size_type const l_dot = path.rfind('.');
    if (l_dot == std::string::npos || l_dot + 1 == path.size())
        return std::string();
    std::string l_extension = path.substr(l_dot + 1);
    for (char& c : l_extension)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return l_extension;
}

QString GetAbsoluteFileName(QString const& path)
{
    if (path.isEmpty())
        return QString();
    QString l_path = path;
    if (IsSeparator(l_path.back()))
        l_path.chop(1);
    return l_path.toLower();
}

QString ReversePathname(QString const& path)
{
    QString l_result;
    QString l_path = path;
    bool l_first = true;
    for (;;)
    {
        while (!l_path.isEmpty() && IsSeparator(l_path.back()))
            l_path.chop(1);
        if (l_path.isEmpty())
            return l_result;
        if (!l_first)
            l_result += QLatin1Char('/');
        l_first = false;
        qsizetype const l_sep = FindLastSeparator(l_path);
        if (l_sep < 0)
        {
            l_result += l_path;
            return l_result;
        }
        l_result += l_path.mid(l_sep + 1);
        l_path.truncate(l_sep);
    }
}

std::string StringReplace(std::string const& text, std::string const& search,
                          std::string const& replacement)
{
    if (search.empty())
        return text;
    std::string l_result;
    l_result.reserve(text.size());
    std::string::size_type l_from = 0;
    for (;;)
    {
        std::string::size_type const l_at = text.find(search, l_from);
        if (l_at == std::string::npos)
            break;
        l_result.append(text, l_from, l_at - l_from);
        l_result += replacement;
        l_from = l_at + search.size();
    }
    l_result.append(text, l_from, std::string::npos);
    return l_result;
}

bool GetBit(unsigned int value, int n)
{
    // Bits count from 1; the index wraps modulo 32 and is never negative.
    long long const l_index = ((static_cast<long long>(n) - 1) % 32 + 32) % 32;
    return ((value >> l_index) & 1u) != 0;
}

int findFirstOf(QString const& text, QString const& characters, int start)
{
    qsizetype const l_size = text.size();
    for (qsizetype i = start < 0 ? 0 : start; i < l_size; ++i)
        if (characters.contains(text.at(i)))
            return static_cast<int>(i);
    return -1;
}

