#pragma once

// The entries of a result row's context menu that concern files and folders: a file row
// gets "Download File(s)", "Download Folder(s)" and "Browse Folder", a folder row the
// last two, a user row none. The downloads work on the tree's selection; every file is
// queued with its own user and folder, so a selection across users and folders queues
// each file where it belongs.
//
// Lives only while its menu runs.

#include "store/ExtendedAsciiTranslator.h"

#include <QObject>
#include <QString>

class QMenu;
class QTreeWidgetItem;

class SearchResultMenuOptions : public QObject
{
    Q_OBJECT

public:
    SearchResultMenuOptions(QMenu* ip_menu, QTreeWidgetItem* ip_row, QObject* ip_parent = nullptr);
    ~SearchResultMenuOptions() override;

    QString SearchText() const { return m_searchText; }
    QString User() const { return m_user; }
    QString Folder() const { return ToQString(m_folder); }

public slots:
    void OnDownloadFile();
    void OnDownloadFolder();
    void OnBrowseFolder();

private:
    QTreeWidgetItem* mp_row;
    QString m_searchText;
    QString m_user;
    // As the result holds it: the peer's bytes, which the share browser looks up as such.
    std::string m_folder;
};
