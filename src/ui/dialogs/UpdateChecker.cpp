#include "ui/dialogs/UpdateChecker.h"

#include "net/server/Server.h"
#include "store/Log.h"
#include "store/Settings.h"
#include "widgets/ApplicationWindow.h"
#include "widgets/WebPages.h"

#include <QBuffer>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <utility>

namespace
{
constexpr int c_defaultWebPort = 80;

int WebPort()
{
    if (HasSetting("web_port"))
    {
        bool l_ok = false;
        int const l_port = GetSetting("web_port").trimmed().toInt(&l_ok);
        if (l_ok && l_port > 0 && l_port <= 65535)
            return l_port;
    }
    return c_defaultWebPort;
}

// One line of the file, trimmed, as Latin-1 up to the first NUL byte.
QString ReadLine(QBuffer& io_buffer)
{
    QByteArray const l_line = io_buffer.readLine();
    return QString::fromLatin1(l_line.constData()).trimmed();
}
} // namespace

UpdateChecker::UpdateChecker(QObject* ip_parent)
    : QObject(ip_parent), mp_reply(nullptr), m_tooLarge(false), m_isChecked(false)
{
    m_timeout.setSingleShot(true);
    m_timeout.setInterval(c_defaultTimeoutMs);
    connect(&m_timeout, &QTimer::timeout, this, &UpdateChecker::OnTimeout);
}

void UpdateChecker::Init()
{
    if (gp_server)
        connect(gp_server, &Server::Connected, this, &UpdateChecker::OnConnectedToServer);
}

void UpdateChecker::OnConnectedToServer()
{
    CheckForNewVersion();
}

QUrl UpdateChecker::VersionFileUrl()
{
    QUrl l_url;
    l_url.setScheme(QStringLiteral("http"));
    l_url.setHost(WebHost());
    l_url.setPort(WebPort());
    l_url.setPath(QStringLiteral("/qtversion.txt"));
    return l_url;
}

void UpdateChecker::CheckForNewVersion()
{
    if (m_isChecked)
        return;
    QNetworkRequest l_request(VersionFileUrl());
    // A redirect over plain HTTP could lead anywhere; it counts as no answer.
    l_request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                           QNetworkRequest::ManualRedirectPolicy);
    mp_reply = m_network.get(l_request);
    // Nothing larger than an acceptable file is held while it arrives.
    mp_reply->setReadBufferSize(c_maxBody + 1);
    connect(mp_reply, &QNetworkReply::readyRead, this, &UpdateChecker::OnReadyRead);
    connect(mp_reply, &QNetworkReply::finished, this, &UpdateChecker::OnRequestFinished);
    m_isChecked = true;
    m_timeout.start();
}

void UpdateChecker::OnTimeout()
{
    if (!mp_reply)
        return;
    Log(LogArea::Server, 1,
        QStringLiteral("Version check abandoned: no complete answer from %1 within %2 s.")
            .arg(mp_reply->url().host(), QString::number(m_timeout.interval() / 1000.0)));
    // Finishes the reply with an error, which makes no offer.
    mp_reply->abort();
}

void UpdateChecker::OnReadyRead()
{
    if (m_tooLarge)
        return;
    m_body += mp_reply->read(c_maxBody + 1 - m_body.size());
    if (m_body.size() > c_maxBody)
    {
        m_tooLarge = true;
        m_body.clear();
        mp_reply->abort();
    }
}

void UpdateChecker::OnRequestFinished()
{
    m_timeout.stop();
    QNetworkReply* const lp_reply = mp_reply;
    bool const l_answered = !m_tooLarge && lp_reply->error() == QNetworkReply::NoError;
    if (l_answered)
        OnReadyRead();
    mp_reply = nullptr;
    lp_reply->deleteLater();
    QByteArray const l_body = std::exchange(m_body, QByteArray());
    int const l_status = lp_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!l_answered || m_tooLarge || l_status < 200 || l_status > 299)
        return;

    qint64 l_version = 0;
    QString l_link;
    QStringList l_description;
    if (ParseVersionFile(l_body, GetSetting("skip_version").toLongLong(), l_version, l_link,
                         l_description))
        emit NewVersion(l_version, l_link, l_description);
}

bool UpdateChecker::ParseVersionFile(QByteArray const& i_body, qint64 i_skipVersion,
                                     qint64& o_version, QString& o_link,
                                     QStringList& o_description)
{
    QBuffer l_buffer;
    l_buffer.setData(i_body);
    l_buffer.open(QIODevice::ReadOnly);

    qint64 const l_version = ReadLine(l_buffer).toLongLong();
    if (l_version <= i_skipVersion || l_version <= g_currentVersion)
        return false;
    QString const l_base = ReadLine(l_buffer);
    if (l_base.isEmpty())
        return false;
    QString const l_name = ReadLine(l_buffer);
    if (l_name.isEmpty())
        return false;
    // A last line without its line feed may be cut short: it is left out.
    QStringList l_description;
    while (l_buffer.canReadLine())
        l_description << ReadLine(l_buffer);

    o_version = l_version;
    o_link = l_base + QStringLiteral("/Linux/") + l_name + QStringLiteral("-64bit.tgz");
    o_description = l_description;
    return true;
}
