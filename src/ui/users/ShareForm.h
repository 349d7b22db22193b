#pragma once

// The browser of one user's shared files, a tab of the "Browse" page. Interim: it shows
// that the share list was asked for; the folder tree is not built yet, so a folder to
// browse to is only remembered.

#include <QLabel>
#include <QString>
#include <QWidget>

class ShareForm : public QWidget
{
    Q_OBJECT

public:
    ShareForm(QString i_user, QWidget* ip_parent = nullptr);

    // Selects the folder once the share list is shown; until then it is remembered (the
    // last call wins).
    void BrowseToFolder(QString i_folder);

    QString User() const { return m_user; }
    QString PendingFolder() const { return m_pendingFolder; }

private:
    QString m_user;
    QString m_pendingFolder;
};
