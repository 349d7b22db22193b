#include "ui/chat/CountryFlags.h"

#include <QFile>
#include <QHash>

#include <algorithm>

namespace
{
// One icon per flag: building an icon looks its image up again each time, which a join
// of thousands of members would repeat for every member.
QHash<QString, QIcon>& Cache()
{
    static QHash<QString, QIcon> s_flags;
    return s_flags;
}

// Letters only: a code must not climb out of the flags' folder of the resources.
bool IsPlainCode(QString const& i_code)
{
    return !i_code.isEmpty() &&
           std::all_of(i_code.begin(), i_code.end(),
                       [](QChar i_char) { return i_char >= u'a' && i_char <= u'z'; });
}
} // namespace

QIcon CountryFlags::Icon(QString const& i_code)
{
    QString const l_code = i_code.toLower();
    QHash<QString, QIcon>& l_cache = Cache();
    if (auto const l_kept = l_cache.constFind(l_code); l_kept != l_cache.cend())
        return *l_kept;
    QString const l_path = QStringLiteral(":/resources/flags/") + l_code + QStringLiteral(".png");
    if (!IsPlainCode(l_code) || !QFile::exists(l_path))
        return QIcon();
    return *l_cache.insert(l_code, QIcon(l_path));
}

qsizetype CountryFlags::CachedCount()
{
    return Cache().size();
}
