#include "ui/chat/CountryFlags.h"

#include <QFile>

#include <array>
#include <bitset>

namespace
{
constexpr int c_codeCount = 26 * 26;

// The flags are named by codes of two ASCII letters. The index of such a code in either
// case, or -1: no other code names a flag, and none can climb out of the flags' folder.
int CodeIndex(QString const& i_code)
{
    auto const l_letter = [](QChar i_char)
    {
        char16_t const l_lower = i_char.unicode() | 0x20;
        return l_lower >= u'a' && l_lower <= u'z' ? int(l_lower - u'a') : -1;
    };
    if (i_code.size() != 2)
        return -1;
    int const l_first = l_letter(i_code[0]);
    int const l_second = l_letter(i_code[1]);
    return l_first < 0 || l_second < 0 ? -1 : l_first * 26 + l_second;
}

// One icon per flag: building an icon looks its image up again each time, which a join
// of thousands of members would repeat for every member. Codes are kept by number, which
// is cheaper than hashing their text; a code looked up once is not looked up again.
struct FlagCache
{
    std::array<QIcon, c_codeCount> m_icons;
    std::bitset<c_codeCount> m_isLookedUp;
    qsizetype m_count = 0;
};

FlagCache& Cache()
{
    static FlagCache s_flags;
    return s_flags;
}
} // namespace

QIcon CountryFlags::Icon(QString const& i_code)
{
    int const l_index = CodeIndex(i_code);
    if (l_index < 0)
        return QIcon();
    FlagCache& l_cache = Cache();
    if (!l_cache.m_isLookedUp[l_index])
    {
        l_cache.m_isLookedUp.set(l_index);
        QString const l_path =
            QStringLiteral(":/resources/flags/") + i_code.toLower() + QStringLiteral(".png");
        if (QFile::exists(l_path))
        {
            l_cache.m_icons[l_index] = QIcon(l_path);
            ++l_cache.m_count;
        }
    }
    return l_cache.m_icons[l_index];
}

qsizetype CountryFlags::CachedCount()
{
    return Cache().m_count;
}
