#pragma once

// The check for a newer build. After the first login of the run it fetches
// http://<web host>:<port>/qtversion.txt once (host: the setting `web_host` or the
// maker's host; port: the setting `web_port` or 80; neither has a default) and, when the
// file announces a build newer than the running one and than `skip_version`, emits
// NewVersion. Nothing is retried, shown or logged when the fetch or the file fails;
// redirects are not followed and bodies over 64 KiB are dropped. A host that has not
// answered whole within the time-out (60 s) is given up on, which is logged: a host that
// accepts and then stalls would otherwise hold the request open for the whole run.
//
// Version file: line 1 the build number, line 2 the download base address, line 3 the
// file base name, then one description line per further line that ends in a line feed.
// Lines are trimmed and read as Latin-1 up to a NUL byte.

#include <QByteArray>
#include <QNetworkAccessManager>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

class QNetworkReply;

class UpdateChecker : public QObject
{
    Q_OBJECT

public:
    // Largest version file accepted.
    static constexpr qint64 c_maxBody = 64 * 1024;
    // Longest wait for the whole answer.
    static constexpr int c_defaultTimeoutMs = 60 * 1000;

    explicit UpdateChecker(QObject* ip_parent = nullptr);

    // Connects the server's Connected(); called once by start-up.
    void Init();
    // Issues the request unless it was issued before in this run.
    void CheckForNewVersion();
    // Changes the longest wait for the whole answer; affects requests issued afterwards.
    void SetTimeout(int i_ms) { m_timeout.setInterval(i_ms); }
    // Whether the request was issued and its answer handled.
    bool IsFinished() const { return m_isChecked && !mp_reply; }
    // Where the version file is fetched from.
    static QUrl VersionFileUrl();
    // The offer the file makes with this skipped build, if any: false when it makes none.
    static bool ParseVersionFile(QByteArray const& i_body, qint64 i_skipVersion,
                                 qint64& o_version, QString& o_link, QStringList& o_description);

signals:
    // Build number, download address and description lines of a newer build.
    void NewVersion(qint64 i_version, QString i_downloadLink, QStringList i_description);

public slots:
    void OnConnectedToServer();

private:
    void OnReadyRead();
    void OnRequestFinished();
    void OnTimeout();

    QNetworkAccessManager m_network;
    QNetworkReply* mp_reply;
    QByteArray m_body;
    QTimer m_timeout;
    bool m_tooLarge;
    bool m_isChecked;
};
