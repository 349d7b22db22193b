#pragma once

// Shared set-up of the transfers form tests: the transfer fixture (a Server logged in as
// "alice" at a FakeServer, a listening PeerMessenger, the share index and the real
// transfer manager), one public shared folder for uploads, the UI services the form uses
// and the form itself on the first page of a tab widget in a shown window. The form is
// initialised and its settings loaded; the transfer queues report their saved
// downloads only when a test calls Load().

#include "transfers/TransferTestEnv.h"
#include "ui/transfers/TransfersForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/ApplicationAlerts.h"
#include "widgets/EventToolBar.h"
#include "widgets/SizeManager.h"

#include <QProgressBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace TransfersTestEnv
{
using namespace TransferTestEnv;

// The main window's side of the event toolbar: records balloon texts; the window counts
// as active, so nothing blinks.
class RecordingAlerts : public ApplicationAlerts
{
public:
    void SetApplicationIcon(QString) override {}
    void ResetApplicationIcon() override {}
    void PopupAlert(QString i_text) override { m_popups << i_text; }
    bool IsApplicationActive() const override { return true; }
    QStringList m_popups;
};

// A row's cells 0 to 8 joined by "|", trailing empty cells dropped; a progress bar in
// column 4 shows as "[format|value]".
inline QString Texts(QTreeWidgetItem* ip_row)
{
    QStringList l_texts;
    for (int l_column = 0; l_column < 9; ++l_column)
    {
        QString l_text = ip_row->text(l_column);
        if (auto* lp_bar = qobject_cast<QProgressBar*>(ip_row->treeWidget()->itemWidget(ip_row, l_column)))
            l_text += QString("[%1|%2]").arg(lp_bar->format()).arg(lp_bar->value());
        l_texts << l_text;
    }
    while (!l_texts.isEmpty() && l_texts.last().isEmpty())
        l_texts.removeLast();
    return l_texts.join("|");
}

// The tree as lines: users, "  " folders, "    " files.
inline QStringList Lines(QTreeWidget* ip_tree)
{
    QStringList l_lines;
    std::function<void(QTreeWidgetItem*, int)> l_add = [&](QTreeWidgetItem* ip_row, int i_depth) {
        l_lines << QString(i_depth * 2, ' ') + Texts(ip_row);
        for (int l_index = 0; l_index < ip_row->childCount(); ++l_index)
            l_add(ip_row->child(l_index), i_depth + 1);
    };
    for (int l_index = 0; l_index < ip_tree->topLevelItemCount(); ++l_index)
        l_add(ip_tree->topLevelItem(l_index), 0);
    return l_lines;
}

// Leaves the setting without a value, as an unticked box does.
inline void ClearSetting(char const* ip_key)
{
    if (ItemPtr const l_key = d["global"]->HasItem(Value(ip_key)))
        l_key.Disconnect("global_value");
}

// The row of a store item through its node, or null.
inline QTreeWidgetItem* RowOf(ItemPtr i_item, char const* ip_nodeType)
{
    return i_item[ip_nodeType].AsPtr<QTreeWidgetItem>();
}

class TransfersFixture
{
public:
    // i_beforeLoad runs just before the form reads its settings.
    bool SetUp(std::function<void()> const& i_beforeLoad = {})
    {
        if (!m_transfers.SetUp() || !m_share.isValid())
            return false;
        sharedFoldersManager->AddSharedFolder(m_share.path()).NewItem("shared_public");
        // What the search form declares: a download remembers the search it came from.
        if (!d["search_request_text"]->IsRelated(d["download_entry"]))
            d["search_request_text"]->RelateToType(d["download_entry"], One, Many);
        new SizeManager();
        mp_bar = new ActionSetToolBar(&m_window);
        mp_bar->Init();
        mp_events = new EventToolBar(&m_alerts, &m_window);
        mp_tabs = new QTabWidget(&m_window);
        auto* const lp_page = new QWidget;
        mp_form = new TransfersForm(lp_page);
        (new QVBoxLayout(lp_page))->addWidget(mp_form);
        mp_tabs->addTab(lp_page, "Transfers");
        mp_tabs->addTab(new QWidget, "Other");
        auto* const lp_layout = new QVBoxLayout(&m_window);
        lp_layout->addWidget(mp_bar);
        lp_layout->addWidget(mp_events);
        lp_layout->addWidget(mp_tabs);
        mp_form->Init();
        if (i_beforeLoad)
            i_beforeLoad();
        mp_form->DataLoaded();
        m_window.resize(1100, 600);
        m_window.show();
        return QTest::qWaitForWindowExposed(&m_window);
    }

    void TearDown()
    {
        for (ItemPtr const& l_entry : d["upload_entry"]->GetItems())
            manager().RemoveUpload(l_entry);
        delete mp_form;
        m_transfers.TearDown();
    }

    // The transfer queues' report that the saved downloads are back.
    void Load() { manager().DataLoaded(); }

    // Removes every transfer and its rows; each test starts from empty trees.
    void Reset()
    {
        for (ItemPtr const& l_entry : d["upload_entry"]->GetItems())
            manager().RemoveUpload(l_entry);
        for (ItemPtr const& l_entry : d["download_entry"]->GetItems())
            manager().RemoveDownload(l_entry);
        d["complete_download_alert"]->GetItems().Remove();
        QCoreApplication::processEvents();
        m_alerts.m_popups.clear();
        mp_tabs->setCurrentIndex(0);
    }

    ItemPtr Download(QString const& i_user, std::string const& i_folder, std::string const& i_file,
                     long long i_size)
    {
        return manager().AddDownload(i_user, i_file, i_folder, i_size, 0);
    }

    void SetStatus(ItemPtr i_entry, QString const& i_status)
    {
        manager().SetDownloadEntryStatus(i_entry, i_status);
    }

    // Sets the entry's live position and rate cells as the transfer queues do, then
    // reports progress.
    void Progress(ItemPtr i_entry, qint64 i_position, int i_rate, bool i_upload = false)
    {
        char const* const lp_position = i_upload ? "read_position" : "write_position";
        if (auto* lp_value = i_entry[lp_position].AsPtr<qint64>())
            *lp_value = i_position;
        else
            i_entry += d[lp_position]->GetItem(Value(new qint64(i_position)));
        if (auto* lp_value = i_entry["bytes_per_second"].AsPtr<int>())
            *lp_value = i_rate;
        else
            i_entry += d["bytes_per_second"]->GetItem(Value(new int(i_rate)));
        if (i_upload)
            emit manager().UploadProgressed(i_entry);
        else
            emit manager().DownloadProgressed(i_entry);
    }

    // A file of that size in the public folder, pushed to the user as an upload.
    ItemPtr Upload(QString const& i_user, QString const& i_name, qint64 i_size)
    {
        QString const l_path = m_share.path() + "/" + i_name;
        QDir().mkpath(QFileInfo(l_path).path());
        QFile l_file(l_path);
        if (!l_file.open(QIODevice::WriteOnly) || !l_file.resize(i_size))
            return ItemPtr();
        l_file.close();
        sharedFoldersManager->AddSharedFiles(m_share.path(), m_share.path());
        QString const l_requested = QString(l_path).replace('/', '\\');
        manager().AddUpload(i_user, l_requested);
        ItemPtr const l_name = d["filename_as_requested"]->HasItem(Value(l_requested));
        return l_name ? d.GetItem(User(i_user), l_name, "upload_entry") : ItemPtr();
    }

    TransferQueueManager& manager() { return m_transfers.manager(); }
    TransferFixture& transfers() { return m_transfers; }
    TransfersForm& form() { return *mp_form; }
    QTabWidget& tabs() { return *mp_tabs; }
    ActionSetToolBar& bar() { return *mp_bar; }
    EventToolBar& events() { return *mp_events; }
    RecordingAlerts& alerts() { return m_alerts; }
    QWidget& window() { return m_window; }
    QString ShareFolder() const { return m_share.path(); }
    template <class W> W* Child(char const* ip_name) { return mp_form->findChild<W*>(ip_name); }
    QTreeWidget* Downloads() { return Child<QTreeWidget>("downloadsList"); }
    QTreeWidget* Uploads() { return Child<QTreeWidget>("uploadsList"); }

private:
    TransferFixture m_transfers;
    QTemporaryDir m_share;
    RecordingAlerts m_alerts;
    QWidget m_window;
    ActionSetToolBar* mp_bar = nullptr;
    EventToolBar* mp_events = nullptr;
    QTabWidget* mp_tabs = nullptr;
    TransfersForm* mp_form = nullptr;
};
} // namespace TransfersTestEnv
