#include "TransfersTestEnv.h"

#include "store/Settings.h"
#include "ui/transfers/CompleteDownloadsForm.h"
#include "ui/transfers/DownloadMenuOptions.h"
#include "widgets/WidgetTestKit.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QIcon>
#include <QMenu>
#include <QSpinBox>

using namespace TransfersTestEnv;

namespace
{
QString const c_alertIcon = ":/icons/alert_icon";

QImage IconImage(QIcon const& i_icon)
{
    return i_icon.pixmap(16).toImage();
}
} // namespace

// Receives what the form and the menu hand to the desktop's opener.
class UrlRecorder : public QObject
{
    Q_OBJECT

public slots:
    void Open(QUrl const& i_url) { m_urls << i_url; }

public:
    QList<QUrl> m_urls;
};

class TestTransferActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup() { m_env.Reset(); }

    void storedControlValuesRunNoSlot();
    void menuEntriesFollowTheDownloads();
    void menuSlotsActOnlyOnDownloadsStillThere();
    void rerunSearchSendsTheSearchAgain();
    void alertsRaiseInOrderOnceTheirDownloadsComplete();
    void completionsOfRemovedDownloadsAreDropped();
    void toolbarActionsDeleteAndDoubleClick();
    void openActionsStayInsideTheDownloadFolders();
    void clearBoxesAndUploadControlsWriteSettings();
    void sweepRemovesUploadsSilentForFiveMinutes();
    void finishedDownloadsListNewestFirst();
    void downloadFromAPeerEndToEnd();

private:
    // The menu's entries as texts: "-" for a separator, "Sub > Entry" inside a submenu.
    static QStringList MenuTexts(QMenu& i_menu);
    static QAction* Entry(QMenu& i_menu, QString const& i_text);
    QStringList BarTexts();
    ItemPtr Complete(QString const& i_user, std::string const& i_folder, std::string const& i_file);

    TransfersFixture m_env;
    UrlRecorder m_urls;
};

void TestTransferActions::initTestCase()
{
    // Stored values that would switch the limit on if showing them ran the slots.
    QVERIFY(m_env.SetUp([] {
        SetSetting("upload_speed_limit", "50");
        SetSetting("upload_slots", "3");
        SetSetting("clear_complete_downloads", "yes");
    }));
    m_env.Load();
    QDesktopServices::setUrlHandler("file", &m_urls, "Open");
}

void TestTransferActions::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler("file");
    m_env.TearDown();
}

QStringList TestTransferActions::MenuTexts(QMenu& i_menu)
{
    QStringList l_texts;
    for (QAction* lp_action : i_menu.actions())
    {
        if (lp_action->isSeparator())
            l_texts << "-";
        else if (QMenu* lp_sub = lp_action->menu())
            for (QString const& l_text : MenuTexts(*lp_sub))
                l_texts << lp_action->text() + " > " + l_text;
        else
            l_texts << lp_action->text();
    }
    return l_texts;
}

QAction* TestTransferActions::Entry(QMenu& i_menu, QString const& i_text)
{
    for (QAction* lp_action : i_menu.actions())
    {
        if (lp_action->text() == i_text)
            return lp_action;
        if (lp_action->menu())
            if (QAction* lp_inner = Entry(*lp_action->menu(), i_text))
                return lp_inner;
    }
    return nullptr;
}

QStringList TestTransferActions::BarTexts()
{
    QStringList l_texts;
    for (QAction* lp_action : m_env.bar().actions())
        if (!lp_action->text().isEmpty())
            l_texts << lp_action->text();
    return l_texts;
}

ItemPtr TestTransferActions::Complete(QString const& i_user, std::string const& i_folder, std::string const& i_file)
{
    ItemPtr const l_entry = m_env.Download(i_user, i_folder, i_file, 10);
    m_env.SetStatus(l_entry, "complete");
    return l_entry;
}

void TestTransferActions::storedControlValuesRunNoSlot()
{
    QCOMPARE(m_env.Child<QSpinBox>("uploadLimitSpinBox")->value(), 50);
    QCOMPARE(m_env.Child<QSpinBox>("uploadSlotsSpinBox")->value(), 3);
    QVERIFY(!m_env.Child<QCheckBox>("uploadLimitCheckBox")->isChecked());
    QVERIFY(m_env.Child<QCheckBox>("clearDownloadsCheckBox")->isChecked());
    QVERIFY(!m_env.Child<QCheckBox>("clearUploadsCheckBox")->isChecked());
    QCOMPARE(GetSetting("upload_speed_limit_enabled"), QString("no"));
    ClearSetting("clear_complete_downloads");
}

void TestTransferActions::menuEntriesFollowTheDownloads()
{
    ItemPtr const l_done = Complete("bob", "music", "done.mp3");
    ItemPtr const l_running = m_env.Download("bob", "music", "running.mp3", 10);
    m_env.SetStatus(l_running, "downloading");
    ItemPtr const l_queued = m_env.Download("bob", "video", "queued.avi", 10);
    ItemSet const l_carol{Complete("carol", "all", "x"), Complete("carol", "all", "y")};
    ItemPtr const l_searched = m_env.Download("dave", "s", "searched", 10);
    l_searched += d["search_request_text"]->GetItem(Value("queued avi"));

    QString const c_file = "Notify me when... > File download completes";
    QString const c_folder = "Notify me when... > Folder download completes";
    QString const c_user = "Notify me when... > All downloads from user complete";
    struct Case
    {
        char const* mp_name;
        ItemSet m_entries;
        QStringList m_texts;
    };
    QList<Case> const l_cases = {
        // Another download of the folder is unfinished; bob's row shows two folders.
        {"one complete file", {l_done}, {"Open File", "Open Folder", "-", "Remove download", c_folder, c_user}},
        {"one running file", {l_running}, {"Open Folder", "-", "Remove download", c_file, c_folder, c_user}},
        {"a user's two folders", {l_done, l_running, l_queued},
         {"Open Folder", "Retry downloads", "-", "Remove downloads", c_user}},
        {"all complete", l_carol, {"Open Folder", "Retry downloads", "-", "Remove downloads"}},
        {"one folder, with a search", {l_searched},
         {"Open Folder", "Retry download", "-", "Remove download", c_file, c_folder, "Re-run Search: queued avi"}},
    };
    for (Case const& l_case : l_cases)
    {
        QMenu l_menu;
        DownloadMenuOptions l_options(&l_menu, l_case.m_entries);
        QVERIFY2(MenuTexts(l_menu) == l_case.m_texts,
                 qPrintable(QString(l_case.mp_name) + ": " + MenuTexts(l_menu).join(", ")));
    }

    // Existing alerts withdraw their entries; a menu that holds actions gets a separator.
    ItemPtr const l_folderAlert = d["complete_download_alert"]->NewItem();
    l_folderAlert += User("bob");
    l_folderAlert += l_running["remote_folder"];
    ItemPtr const l_userAlert = d["complete_download_alert"]->NewItem();
    l_userAlert += User("bob");
    d["complete_download_alert"]->NewItem() += l_running;
    QMenu l_menu;
    l_menu.addAction("Earlier");
    DownloadMenuOptions l_options(&l_menu, {l_done, l_running, l_queued});
    QCOMPARE(MenuTexts(l_menu), (QStringList{"Earlier", "-", "Open Folder", "Retry downloads", "-", "Remove downloads"}));
    QMenu l_single;
    DownloadMenuOptions l_singleOptions(&l_single, {l_running});
    QCOMPARE(MenuTexts(l_single), (QStringList{"Open Folder", "-", "Remove download"}));
}

void TestTransferActions::menuSlotsActOnlyOnDownloadsStillThere()
{
    ItemPtr const l_gone = m_env.Download("bob", "f", "gone", 10);
    ItemPtr const l_kept = m_env.Download("bob", "f", "kept", 10);
    ItemPtr const l_other = m_env.Download("bob", "g", "other", 10);
    m_env.SetStatus(l_kept, "aborted");
    m_env.SetStatus(l_other, "aborted");

    // The menu's own loop may see a download go before a slot runs: a menu over it alone
    // then does nothing, one over it and another acts on the other only.
    QMenu l_alone;
    DownloadMenuOptions l_aloneOptions(&l_alone, {l_gone});
    QMenu l_both;
    DownloadMenuOptions l_bothOptions(&l_both, {l_gone, l_kept});
    m_env.manager().RemoveDownload(l_gone);
    StoreOperation::FreeRemovedItems();
    for (char const* lp_text : {"Open Folder", "Retry download", "Remove download", "File download completes"})
        Entry(l_alone, lp_text)->trigger();
    QVERIFY(m_urls.m_urls.isEmpty());
    QCOMPARE(d["complete_download_alert"]->GetItemCount(), std::size_t(0));
    Entry(l_both, "Retry downloads")->trigger();
    QCOMPARE(Status(l_kept), QByteArray("queued"));
    Entry(l_both, "Folder download completes")->trigger();
    QCOMPARE(IconImage(m_env.Downloads()->topLevelItem(0)->child(0)->icon(1)), IconImage(QIcon(c_alertIcon)));
    Entry(l_both, "Remove downloads")->trigger();
    QVERIFY(!d["download_entry"]->NullItems().count(l_kept.GetPtr()));
    // The folder alert went to the user and folder fetched again.
    ItemSet const l_alerts = d["complete_download_alert"]->GetItems();
    QCOMPARE(l_alerts.size(), std::size_t(1));
    QCOMPARE(ItemPtr(l_alerts)["remote_folder"].AsString(), QString("f"));
    QCOMPARE(ItemPtr(l_alerts)["user"].AsString(), QString("bob"));

    // File and user alerts mark their cells.
    QMenu l_menu;
    DownloadMenuOptions l_options(&l_menu, {l_other});
    Entry(l_menu, "File download completes")->trigger();
    QCOMPARE(IconImage(RowOf(l_other, "download_list_node")->icon(2)), IconImage(QIcon(c_alertIcon)));
    QVERIFY(l_other["complete_download_alert"]);
    ItemPtr const l_more = m_env.Download("bob", "h", "more", 10);
    QMenu l_userMenu;
    DownloadMenuOptions l_userOptions(&l_userMenu, {l_other, l_more});
    Entry(l_userMenu, "All downloads from user complete")->trigger();
    QCOMPARE(IconImage(RowOf(User("bob"), "download_list_user_node")->icon(0)), IconImage(QIcon(c_alertIcon)));
    Entry(l_userMenu, "Open Folder")->trigger();
    QCOMPARE(m_urls.m_urls.size(), 1);
    QVERIFY(m_urls.m_urls[0].toLocalFile().endsWith("/complete/g") || m_urls.m_urls[0].toLocalFile().endsWith("/complete/h"));
    m_urls.m_urls.clear();
}

void TestTransferActions::rerunSearchSendsTheSearchAgain()
{
    // The entry shows the text as typed: "&&" reads as "&", a lone "&" would be a shortcut.
    QString const l_search = QString::fromUtf8("café R&D && song");
    ItemPtr const l_entry = m_env.Download("bob", "f", "song.mp3", 10);
    l_entry += d["search_request_text"]->GetItem(Value(l_search));
    FakeServer& l_server = m_env.transfers().peer().fake();
    l_server.ClearFrames();
    QMenu l_menu;
    DownloadMenuOptions l_options(&l_menu, {l_entry});
    Entry(l_menu, QString::fromUtf8("Re-run Search: café R&&D &&&& song"))->trigger();
    QVERIFY(l_server.WaitForCode(26));
    ItemList const l_requests =
        d["search_request_text"]->HasItem(Value(l_search)).GetItems("search_request").SortNumeric();
    QCOMPARE(l_requests.size(), std::size_t(1));
    QByteArray const l_text = l_search.toUtf8();
    QCOMPARE(l_server.FramesWithCode(26)[0].payload,
             U32(26) + U32(l_requests[0].AsUInt()) + U32(quint32(l_text.size())) + l_text);
}

void TestTransferActions::alertsRaiseInOrderOnceTheirDownloadsComplete()
{
    m_env.tabs().setCurrentIndex(1); // the downloads list is out of sight
    ItemPtr const l_first = m_env.Download("bob", "music\\f", "first", 10);
    ItemPtr const l_second = m_env.Download("bob", "music\\f", "second", 10);
    ItemPtr const l_third = m_env.Download("bob", "g", "third", 10);
    ItemPtr const l_denied = m_env.Download("bob", "h", "denied", 10);
    ItemPtr const l_blocked = m_env.Download("bob", "h", "blocked", 10);
    m_env.SetStatus(l_denied, "denied");
    auto l_trigger = [](ItemSet const& i_entries, QString const& i_text) {
        QMenu l_menu;
        DownloadMenuOptions l_options(&l_menu, i_entries);
        Entry(l_menu, i_text)->trigger();
    };
    l_trigger({l_first}, "File download completes");
    l_trigger({l_first, l_second}, "Folder download completes");
    l_trigger({l_blocked}, "Folder download completes");
    l_trigger({l_first, l_third}, "All downloads from user complete");

    struct Step
    {
        ItemPtr m_entry;
        QStringList m_popups;
    };
    QList<Step> const l_steps = {
        {l_first, {"Download of file first complete"}},
        {l_second, {"Download of folder f complete"}},
        {l_blocked, {}}, // the denied download keeps the folder unfinished
        {l_third, {}},
        // The last unfinished download of both the folder and the user.
        {l_denied, {"Download of folder h complete", "All download from user bob complete"}},
    };
    for (Step const& l_step : l_steps)
    {
        m_env.alerts().m_popups.clear();
        m_env.SetStatus(l_step.m_entry, "complete");
        QCOMPARE(m_env.alerts().m_popups, QStringList()); // not inside the status change
        QCoreApplication::processEvents();
        QCOMPARE(m_env.alerts().m_popups, l_step.m_popups);
    }
    // One button for the list; the alert icons are gone (the user row with its dot).
    QCOMPARE(m_env.events().actions().size(), 1);
    QCOMPARE(m_env.events().actions()[0]->text(), QString("first"));
    QVERIFY(RowOf(l_first, "download_list_node")->icon(2).isNull());
    QVERIFY(RowOf(User("bob"), "download_list_user_node")->icon(0).isNull());
    QCOMPARE(d["complete_download_alert"]->GetItemCount(), std::size_t(0));

    // All three at one completion come file, folder, user.
    ItemPtr const l_only = m_env.Download("carol", "c", "only", 10);
    l_trigger({l_only}, "File download completes");
    l_trigger({l_only}, "Folder download completes");
    d["complete_download_alert"]->NewItem() += User("carol");
    m_env.alerts().m_popups.clear();
    m_env.SetStatus(l_only, "complete");
    QCoreApplication::processEvents();
    QCOMPARE(m_env.alerts().m_popups, (QStringList{"Download of file only complete", "Download of folder c complete",
                                                    "All download from user carol complete"}));
    m_env.events().RemoveEvent(m_env.Downloads());
}

void TestTransferActions::completionsOfRemovedDownloadsAreDropped()
{
    SetSetting("clear_complete_downloads", "yes");
    // Removed before the queued call runs, by hand and by "Clear Complete"; completed twice.
    ItemPtr const l_deleted = m_env.Download("bob", "f", "deleted", 10);
    ItemPtr const l_cleared = m_env.Download("bob", "f", "cleared", 10);
    ItemPtr const l_twice = m_env.Download("bob", "f", "twice", 10);
    d["complete_download_alert"]->NewItem() += l_twice;
    m_env.SetStatus(l_deleted, "complete");
    m_env.SetStatus(l_cleared, "complete");
    m_env.manager().RemoveDownload(l_deleted);
    emit m_env.bar().ActionTriggered(m_env.Downloads(), "clear_complete_downloads");
    QCOMPARE(d["download_entry"]->GetItemCount(), std::size_t(1));
    m_env.SetStatus(l_twice, "complete");
    m_env.SetStatus(l_twice, "queued");
    m_env.SetStatus(l_twice, "complete");
    StoreOperation::FreeRemovedItems();
    m_env.tabs().setCurrentIndex(1);
    QCoreApplication::processEvents();
    // The download completed twice raised its alert once and cleared itself.
    QCOMPARE(m_env.alerts().m_popups, QStringList{"Download of file twice complete"});
    QCOMPARE(d["download_entry"]->GetItemCount(), std::size_t(0));
    QCOMPARE(m_env.Downloads()->topLevelItemCount(), 0);
    ClearSetting("clear_complete_downloads");
    m_env.events().RemoveEvent(m_env.Downloads());
}

void TestTransferActions::toolbarActionsDeleteAndDoubleClick()
{
    QVERIFY(WidgetTestKit::ShowActive(m_env.window()));
    QVERIFY(WidgetTestKit::Focus(m_env.Downloads()));
    QCOMPARE(BarTexts().mid(0, 3), (QStringList{"Expand Folders [on]", "Expand Users [on]", "Clear Complete"}));
    ItemPtr const l_a = m_env.Download("bob", "f", "a", 10);
    m_env.Download("bob", "f", "b", 10);
    ItemPtr const l_c = m_env.Download("bob", "g", "c", 10);
    QTreeWidget* const lp_tree = m_env.Downloads();
    QTreeWidgetItem* const lp_user = lp_tree->topLevelItem(0);

    struct Toggle
    {
        char const* mp_action;
        char const* mp_text;
        bool m_userExpanded;
        bool m_folderExpanded;
    };
    Toggle const c_toggles[] = {{"expand_download_folders", "Expand Folders [off]", true, false},
                                {"expand_download_users", "Expand Users [off]", false, false},
                                {"expand_download_folders", "Expand Folders [on]", false, true},
                                {"expand_download_users", "Expand Users [on]", true, true}};
    for (Toggle const& l_toggle : c_toggles)
    {
        emit m_env.bar().ActionTriggered(lp_tree, l_toggle.mp_action);
        QVERIFY(BarTexts().contains(l_toggle.mp_text));
        QCOMPARE(lp_user->isExpanded(), l_toggle.m_userExpanded);
        QCOMPARE(lp_user->child(0)->isExpanded(), l_toggle.m_folderExpanded);
        QCOMPARE(lp_user->child(1)->isExpanded(), l_toggle.m_folderExpanded);
    }
    // Rows made later follow the flags.
    emit m_env.bar().ActionTriggered(lp_tree, "expand_download_folders");
    m_env.Download("bob", "new", "d", 10);
    QVERIFY(!lp_user->child(2)->isExpanded());
    emit m_env.bar().ActionTriggered(lp_tree, "expand_download_folders");

    // The double-clicked file opens where it will be once complete, whatever its status.
    emit lp_tree->itemDoubleClicked(RowOf(l_c, "download_list_node"), 0);
    emit lp_tree->itemDoubleClicked(lp_user, 0);
    QCOMPARE(m_urls.m_urls, QList<QUrl>{QUrl::fromLocalFile(m_env.transfers().Folder() + "/complete/g/c")});
    m_urls.m_urls.clear();

    // Delete: a file row, then a folder row, then the user row.
    QKeyEvent l_delete(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    lp_tree->setCurrentItem(RowOf(l_a, "download_list_node"));
    QApplication::sendEvent(lp_tree, &l_delete);
    QCOMPARE(Lines(lp_tree).size(), 7);
    lp_tree->setCurrentItem(lp_user->child(0));
    emit m_env.bar().ActionTriggered(lp_tree, "remove_download");
    QCOMPARE(Lines(lp_tree), (QStringList{"bob", "  |g", "    ||c|queued||||10", "  |new", "    ||d|queued||||10"}));
    lp_tree->setCurrentItem(lp_user);
    emit m_env.bar().ActionTriggered(lp_tree, "dl_add_user");
    QVERIFY(User("bob").IsConnected("in_user_list"));
    QApplication::sendEvent(lp_tree, &l_delete);
    QCOMPARE(lp_tree->topLevelItemCount(), 0);
    User("bob").Disconnect("in_user_list");
}

void TestTransferActions::openActionsStayInsideTheDownloadFolders()
{
    struct Case
    {
        std::string folder;
        std::string file;
        int level;
    };
    Case const l_cases[] = {{"music", "../../../../../../../../etc/passwd", 0},
                            {"share\\..\\..", "x", 1},
                            {"music", "/etc/passwd", 0},
                            {"music", "sub\\..\\..\\x", 0}};
    LogCapture l_log;
    for (Case const& l_case : l_cases)
    {
        ItemPtr const l_entry =
            m_env.manager().AddDownload("mallory", l_case.file, l_case.folder, 10, l_case.level);
        m_env.SetStatus(l_entry, "complete");
        m_env.form().OnDownloadListItemDoubleClicked(RowOf(l_entry, "download_list_node"), 2);
        QMenu l_menu;
        DownloadMenuOptions l_options(&l_menu, {l_entry});
        Entry(l_menu, "Open File")->trigger();
        Entry(l_menu, "Open Folder")->trigger();
    }
    QVERIFY(m_urls.m_urls.isEmpty());
    QCOMPARE(l_log.Texts(c_queueArea).filter("Not opening").size(), 3 * int(std::size(l_cases)));
}

void TestTransferActions::clearBoxesAndUploadControlsWriteSettings()
{
    auto* const lp_clearDownloads = m_env.Child<QCheckBox>("clearDownloadsCheckBox");
    auto* const lp_clearUploads = m_env.Child<QCheckBox>("clearUploadsCheckBox");
    auto* const lp_limit = m_env.Child<QCheckBox>("uploadLimitCheckBox");
    auto* const lp_limitSpin = m_env.Child<QSpinBox>("uploadLimitSpinBox");
    auto* const lp_slots = m_env.Child<QSpinBox>("uploadSlotsSpinBox");
    struct Step
    {
        std::function<void()> m_change;
        char const* mp_key;
        char const* mp_value; // null: the key has no value
    };
    // The box starts ticked from the stored value.
    QList<Step> const l_steps = {
        {[&] { lp_clearDownloads->setChecked(false); }, "clear_complete_downloads", nullptr},
        {[&] { lp_clearDownloads->setChecked(true); }, "clear_complete_downloads", "yes"},
        {[&] { lp_clearDownloads->setChecked(false); }, "clear_complete_downloads", nullptr},
        {[&] { lp_clearUploads->setChecked(true); }, "clear_complete_aborted_uploads", "yes"},
        {[&] { lp_clearUploads->setChecked(false); }, "clear_complete_aborted_uploads", nullptr},
        {[&] { lp_limitSpin->setValue(120); }, "upload_speed_limit_enabled", "yes"},
        {[&] { lp_limitSpin->setValue(120); }, "upload_speed_limit", "120"},
        {[&] { lp_limitSpin->setValue(0); }, "upload_speed_limit_enabled", "no"},
        {[&] { lp_limit->setChecked(true); }, "upload_speed_limit_enabled", "yes"},
        {[&] { lp_limit->setChecked(false); }, "upload_speed_limit_enabled", "no"},
        {[&] { lp_slots->setValue(7); }, "upload_slots", "7"},
    };
    for (Step const& l_step : l_steps)
    {
        l_step.m_change();
        QVERIFY2(HasSetting(l_step.mp_key) == (l_step.mp_value != nullptr), l_step.mp_key);
        if (l_step.mp_value)
            QCOMPARE(GetSetting(l_step.mp_key), QString(l_step.mp_value));
    }
    QVERIFY(!lp_limit->isChecked());
}

void TestTransferActions::sweepRemovesUploadsSilentForFiveMinutes()
{
    // Text times hold whole seconds: the sweep's "now" is a whole second plus the age.
    QDateTime l_base = QDateTime::currentDateTime().addSecs(-2000);
    l_base.setTime(QTime(l_base.time().hour(), l_base.time().minute(), l_base.time().second()));
    struct Case
    {
        char const* mp_status;
        qint64 m_changeAgeMs;  // -1: no change time
        qint64 m_receiptAgeMs; // -1: no receipt time
        bool m_removed;
    };
    Case const c_cases[] = {{"complete", 299999, -1, false}, {"complete", 300000, -1, true},
                            {"aborted", 400000, 1000, false}, {"aborted", 1000, 400000, false},
                            {"uploading", -1, 300000, true},  {"aborted", -1, 299999, false},
                            {"queued", 400000, -1, false},     {"denied", -1, -1, false}};
    SetSetting("clear_complete_aborted_uploads", "yes");
    QList<ItemPtr> l_uploads;
    int l_index = 0;
    // With 999 ms past the second, an age of 299999 ms lands on a whole second.
    QDateTime const l_now = l_base.addMSecs(400999);
    for (Case const& l_case : c_cases)
    {
        ItemPtr const l_upload = m_env.Upload("erin", QString("file%1").arg(l_index++), 10);
        m_env.manager().SetUploadEntryStatus(l_upload, l_case.mp_status);
        l_upload.Disconnect("last_status_change_time");
        if (l_case.m_changeAgeMs >= 0)
            l_upload += d["last_status_change_time"]->GetItem(
                Value(l_now.addMSecs(-l_case.m_changeAgeMs).toString(Qt::TextDate)));
        if (l_case.m_receiptAgeMs >= 0)
            l_upload += d["last_receipt_time"]->GetItem(Value(new QDateTime(l_now.addMSecs(-l_case.m_receiptAgeMs))));
        l_uploads << l_upload;
    }
    m_env.form().ClearFinishedUploads(l_now);
    for (int l_case = 0; l_case < l_uploads.size(); ++l_case)
        QVERIFY2(d["upload_entry"]->NullItems().count(l_uploads[l_case].GetPtr()) != c_cases[l_case].m_removed,
                 qPrintable(QString("case %1").arg(l_case)));

    // The timer's slot reads the clock itself; with the setting off nothing goes.
    ItemPtr const l_old = l_uploads[0];
    BackDate(l_old, "last_status_change_time", 400);
    ClearSetting("clear_complete_aborted_uploads");
    m_env.form().EveryHalfMinute();
    QVERIFY(d["upload_entry"]->NullItems().count(l_old.GetPtr()));
    SetSetting("clear_complete_aborted_uploads", "yes");
    m_env.form().EveryHalfMinute();
    QVERIFY(!d["upload_entry"]->NullItems().count(l_old.GetPtr()));

    // "Clear Complete and Aborted" leaves queued and running uploads.
    ItemPtr const l_running = m_env.Upload("erin", "running", 10);
    m_env.manager().SetUploadEntryStatus(l_running, "requesting");
    emit m_env.bar().ActionTriggered(m_env.Uploads(), "clear_complete_and_aborted_uploads");
    QCOMPARE(d["upload_entry"]->GetItemCount(), std::size_t(2));
    QVERIFY(d["upload_entry"]->NullItems().count(l_running.GetPtr()));
    QVERIFY(d["upload_entry"]->NullItems().count(l_uploads[6].GetPtr()));
    ClearSetting("clear_complete_aborted_uploads");
}

void TestTransferActions::finishedDownloadsListNewestFirst()
{
    emit m_env.bar().ActionTriggered(m_env.Downloads(), "complete_downloads");
    QVERIFY(completeDownloadsForm);
    QCOMPARE(m_env.Child<QTabWidget>("transfersTabControl")->tabText(2), QString("Complete"));
    auto l_record = [](char const* ip_file, char const* ip_folder, QDateTime const& i_time) {
        ItemPtr const l_record = d["complete_download"]->NewItem();
        l_record += d["complete_download_filename"]->GetItem(Value(ip_file));
        if (ip_folder)
            l_record += d["complete_download_relative_folder"]->GetItem(Value(ip_folder));
        l_record += User("bob");
        l_record += d["complete_download_file_size"]->GetItem(Value(1234));
        l_record += d["complete_download_completion_time"]->GetItem(Value(i_time.toString(Qt::TextDate)));
        return l_record;
    };
    QDateTime const l_now = QDateTime::currentDateTime();
    ItemPtr const l_early = l_record("a.mp3", "\\music", l_now.addSecs(-60));
    ItemPtr const l_late = l_record("z.mp3", nullptr, l_now);
    emit m_env.manager().CompleteDownloadAdded(l_early);
    emit m_env.manager().CompleteDownloadAdded(l_late);
    QTreeWidget* const lp_list = completeDownloadsForm->findChild<QTreeWidget*>("downloadList");
    QCOMPARE(Lines(lp_list), (QStringList{"z.mp3||bob|1234|" + l_now.toString(Qt::TextDate),
                                          "a.mp3|\\music|bob|1234|" + l_now.addSecs(-60).toString(Qt::TextDate)}));
    // Announced again: a second row; the first row's node lost its record.
    emit m_env.manager().CompleteDownloadAdded(l_early);
    QCOMPARE(lp_list->topLevelItemCount(), 3);
    QCOMPARE(d["complete_download_node"]->GetItems().Connected("complete_download").size(), std::size_t(2));

    // A later list finds the row type declared and the loader reaches only a live list.
    DataSaver* const lp_saver = dataSaver;
    DataSaver l_freshSaver;
    delete completeDownloadsForm;
    QVERIFY(!completeDownloadsForm);
    emit m_env.bar().ActionTriggered(m_env.Downloads(), "complete_downloads");
    QVERIFY(completeDownloadsForm);
    l_freshSaver.EmitDataLoaded();
    QCOMPARE(completeDownloadsForm->findChild<QTreeWidget*>("downloadList")->topLevelItemCount(), 2);
    delete completeDownloadsForm;
    l_freshSaver.EmitDataLoaded();
    dataSaver = lp_saver;
    d["complete_download"]->GetItems().Remove();
}

void TestTransferActions::downloadFromAPeerEndToEnd()
{
    m_env.tabs().setCurrentIndex(1);
    SetSetting("clear_complete_downloads", "yes");
    auto l_bob = std::make_unique<FakeUploader>("bob");
    SetAddress("bob", l_bob->Listen());
    SetOnline("bob", true);
    QByteArray const l_content = Content(5 * 8192 + 17);
    ItemPtr const l_entry = m_env.Download("bob", "music\\live", "song.mp3", l_content.size());
    QTreeWidgetItem* const lp_row = RowOf(l_entry, "download_list_node");
    QStringList l_shown{lp_row->text(3)};
    QObject l_context;
    connect(m_env.Downloads()->model(), &QAbstractItemModel::dataChanged, &l_context, [&] {
        if (d["download_entry"]->NullItems().count(l_entry.GetPtr()) && l_entry["download_list_node"] &&
            (l_shown.isEmpty() || l_shown.last() != lp_row->text(3)))
            l_shown << lp_row->text(3);
    });
    QMenu l_menu;
    DownloadMenuOptions l_options(&l_menu, {l_entry});
    Entry(l_menu, "File download completes")->trigger();

    QVERIFY(l_bob->WaitForMessages(43, 1));
    QVERIFY(l_bob->Offer(7, "music\\live\\song.mp3", l_content.size()));
    QVERIFY(l_bob->WaitForMessages(41, 1));
    QVERIFY(l_bob->OpenFileConnection(m_env.transfers().peer().PlainPort(), 7));
    QCOMPARE(l_bob->ReadOffset(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(m_env.tabs().tabText(0), QString("Transfers [1/0]"), 3000);
    QVERIFY(l_bob->SendFrom(l_content, 0, 3 * 8192));
    QTRY_VERIFY_WITH_TIMEOUT(Texts(lp_row).contains("24,576 ("), 3000);
    QVERIFY(l_bob->SendFrom(l_content, 3 * 8192));
    QTRY_COMPARE_WITH_TIMEOUT(d["download_entry"]->GetItemCount(), std::size_t(0), 5000);
    QCOMPARE(l_shown, (QStringList{"queued", "downloading", "complete"}));
    QCOMPARE(m_env.alerts().m_popups, QStringList{"Download of file song.mp3 complete"});
    QCOMPARE(m_env.Downloads()->topLevelItemCount(), 0);
    QCOMPARE(m_env.tabs().tabText(0), QString("Transfers [0/0]"));
    ClearSetting("clear_complete_downloads");
    m_env.events().RemoveEvent(m_env.Downloads());
    d["complete_download"]->GetItems().Remove();
    SetOnline("bob", false);
}

QTEST_MAIN(TestTransferActions)
#include "tst_transfer_actions.moc"
