// Who may see which shared folders and files, path lookups that ignore letter case and
// doubled separators, the attribute text of a file and the removal of a browsed share.

#include "SharesTestEnv.h"

#include <QtTest>

using SharesTestEnv::Tree;

class TestShareAccess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp()); }
    void cleanupTestCase() { m_env.TearDown(); }
    void init() { m_env.Reset(); }

    void accessMatrix();
    void pathLookups();
    void displayStrings();
    void removeUserShare();

private:
    SharesTestEnv::Services m_env;
};

namespace
{
ItemPtr User(QString const& name)
{
    return d["user"]->GetItem(Value(name));
}

// A user in the user list, in the named groups.
void ListUser(QString const& name, QStringList const& groups)
{
    ItemPtr const l_listed = User(name).NewItem("in_user_list");
    for (QString const& l_group : groups)
        l_listed += d["user_list_group"]->GetItem(Value(l_group));
}

// A file item in a folder item, as a walk makes it.
ItemPtr IndexFile(QString const& folder, QString const& name)
{
    ItemPtr const l_file = d["shared_file_folder"]->GetItem(Value(folder)).NewItem("shared_file");
    l_file += d["shared_file_name"]->GetItem(Value(name));
    return l_file;
}
} // namespace

void TestShareAccess::accessMatrix()
{
    SharedFoldersManager& l_shares = m_env.shares();
    Tree l_tree;
    for (char const* lp_file : {"Pub/pub.txt", "Pub/Inner/inner.txt", "List/list.txt", "Grp/grp.txt", "None/none.txt"})
        QVERIFY(l_tree.File(lp_file));
    l_shares.AddSharedFolder(l_tree.Path("Pub")).NewItem("shared_public");
    l_shares.AddSharedFolder(l_tree.Path("List")).NewItem("shared_userlist");
    l_shares.AddSharedFolder(l_tree.Path("Grp")) += d["user_list_group"]->GetItem(Value("friends"));
    l_shares.AddSharedFolder(l_tree.Path("None"));
    // Inner lies under the public folder as well as in its own group-only share.
    l_shares.AddSharedFolder(l_tree.Path("Pub/Inner")) += d["user_list_group"]->GetItem(Value("family"));

    ListUser("listed", {});
    ListUser("friend", {"friends"});
    ListUser("relative", {"family"});
    ListUser("blocked", {"friends"});
    User("blocked").NewItem("unshared");
    User("outsider"); // known, but not in the user list

    struct Case
    {
        char const* user;
        QStringList folders;
        QStringList files;
    };
    QList<Case> const l_cases = {
        {"stranger", {"Pub"}, {"inner.txt", "pub.txt"}},
        {"outsider", {"Pub"}, {"inner.txt", "pub.txt"}},
        {"listed", {"List", "Pub"}, {"inner.txt", "list.txt", "pub.txt"}},
        {"friend", {"Grp", "List", "Pub"}, {"grp.txt", "inner.txt", "list.txt", "pub.txt"}},
        {"relative", {"Inner", "List", "Pub"}, {"inner.txt", "list.txt", "pub.txt"}},
        {"blocked", {}, {}},
    };
    for (Case const& l_case : l_cases)
    {
        QStringList l_folders;
        for (ItemPtr const& l_folder : l_shares.GetUserSharedFolders(l_case.user))
            l_folders << QDir(l_folder.AsString()).dirName();
        l_folders.sort();
        QVERIFY2(l_folders == l_case.folders, l_case.user);
        // Looking folders up never creates the user; asking about a file does.
        QCOMPARE(bool(d["user"]->HasItem(Value(l_case.user))), QByteArray(l_case.user) != "stranger");

        QStringList l_files;
        for (ItemPtr const& l_file : g("shared_file"))
            if (l_shares.IsFileSharedWithUser(l_file, l_case.user))
                l_files << l_file["shared_file_name"].AsString();
        l_files.sort();
        QVERIFY2(l_files == l_case.files, l_case.user);
    }
    QVERIFY(d["user"]->HasItem(Value("stranger")));
}

void TestShareAccess::pathLookups()
{
    SharedFoldersManager& l_shares = m_env.shares();
    ItemPtr const l_song = IndexFile("/Music", "Song.MP3");
    ItemPtr const l_deep = IndexFile("/Music/Live/2001", "Intro.ogg");
    // Two files whose paths differ only in case: the first in item order is found.
    ItemPtr const l_upper = IndexFile("/Dup", "A.txt");
    ItemPtr const l_lower = IndexFile("/dup", "a.txt");

    struct Case
    {
        char const* path;
        ItemPtr expected;
    };
    QList<Case> const l_cases = {
        {"/Music/Song.MP3", l_song},
        {"/music//song.mp3", l_song},
        {"//MUSIC/song.mp3/", l_song},
        {"/music/live/2001/intro.OGG", l_deep},
        {"/Music/Live/Intro.ogg", ItemPtr()},
        {"/Other/Song.MP3", ItemPtr()},
        {"/Music/Missing.mp3", ItemPtr()},
        {"Song.MP3", ItemPtr()},
        {"/DUP/a.TXT", std::min(l_upper, l_lower)},
    };
    for (Case const& l_case : l_cases)
        QVERIFY2(l_shares.GetSharedFileItem(l_case.path) == l_case.expected, l_case.path);
}

void TestShareAccess::displayStrings()
{
    struct Case
    {
        char const* bitrate;
        char const* mode;
        char const* length;
        QString expected;
    };
    QList<Case> const l_cases = {
        {"192", "cbr", "225", "192 CBR, 3m45s"},
        {"320", "vbr", nullptr, "320 VBR"},
        {nullptr, "vbr", nullptr, " VBR"},
        {nullptr, nullptr, "3725", ", 1h2m5s"},
        {"128", "other", nullptr, "128"},
        {nullptr, nullptr, nullptr, ""},
    };
    for (Case const& l_case : l_cases)
    {
        ItemPtr const l_item = d["user_share_file"]->NewItem();
        if (l_case.bitrate)
            l_item += d["bitrate"]->GetItem(Value(l_case.bitrate));
        if (l_case.mode)
            l_item += d["bitrate_mode"]->GetItem(Value(l_case.mode));
        if (l_case.length)
            l_item += d["length_seconds"]->GetItem(Value(l_case.length));
        QCOMPARE(m_env.shares().GetFileItemDisplayString(l_item), l_case.expected);
    }
}

void TestShareAccess::removeUserShare()
{
    // A browsed share: two folders linked as parent and child, a file with attributes.
    auto const l_browse = [](QString const& user) {
        ItemPtr const l_share = User(user).NewItem("user_share");
        ItemPtr const l_top = l_share.NewItem("user_share_folder");
        ItemPtr const l_sub = l_share.NewItem("user_share_folder");
        l_top += d["user_share_folder_name"]->GetItem(Value(user + "-top"));
        l_sub += d["user_share_folder_name"]->GetItem(Value(user + "-sub"));
        l_top.NewItem("user_share_folder_child") += l_sub.NewItem("user_share_folder_parent");
        ItemPtr const l_file = l_sub.NewItem("user_share_file");
        l_file += d["user_share_file_name"]->GetItem(Value(user + ".mp3"));
        l_file += d["file_size"]->GetItem(Value(user.size()));
        l_file += d["bitrate"]->GetItem(Value(user.size() * 100));
    };
    char const* const c_types[] = {"user_share", "user_share_folder", "user_share_folder_parent",
                                   "user_share_folder_child", "user_share_folder_name", "user_share_file",
                                   "user_share_file_name", "file_size", "bitrate"};
    auto const l_counts = [&] {
        QList<std::size_t> l_result;
        for (char const* lp_type : c_types)
            l_result << d[lp_type]->GetItemCount();
        return l_result;
    };

    l_browse("carol");
    QList<std::size_t> const l_carolOnly = l_counts();
    l_browse("bob");
    QVERIFY(l_counts() != l_carolOnly);

    m_env.shares().RemoveUserShare("bob");
    QCOMPARE(l_counts(), l_carolOnly);
    QVERIFY(d["user"]->HasItem(Value("bob")));
    QCOMPARE(SharesTestEnv::AllValues("user_share_file_name"), QStringList{"carol.mp3"});

    m_env.shares().RemoveUserShare("nobody");
    QVERIFY(!d["user"]->HasItem(Value("nobody")));
    QCOMPARE(l_counts(), l_carolOnly);
}

QTEST_GUILESS_MAIN(TestShareAccess)
#include "tst_share_access.moc"
