#include "widgets/WebPages.h"

#include "store/Data.h"
#include "store/Settings.h"

#include <QUrlQuery>

namespace
{
char const* const c_defaultWebHost = "www.kestrune.net";
}

QString WebHost()
{
    if (d.HasType("global") && HasSetting("web_host"))
    {
        QString const l_host = GetSetting("web_host").trimmed();
        if (!l_host.isEmpty())
            return l_host;
    }
    return QString::fromLatin1(c_defaultWebHost);
}

QUrl WebPageUrl(QString const& i_path, QString const& i_key, QString const& i_value)
{
    // QUrlQuery takes "%" as the start of an escape and leaves "+" alone, which a web
    // server reads as a blank: both are escaped here first.
    QString l_value = i_value;
    l_value.replace(QLatin1Char('%'), QLatin1String("%25"));
    l_value.replace(QLatin1Char('+'), QLatin1String("%2B"));
    QUrlQuery l_query;
    l_query.addQueryItem(i_key, l_value);
    QUrl l_url;
    l_url.setScheme(QStringLiteral("http"));
    l_url.setHost(WebHost());
    l_url.setPath(i_path);
    l_url.setQuery(l_query);
    return l_url;
}
