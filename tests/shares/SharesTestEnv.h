#pragma once

// Shared set-up of the share index tests: once per test program the store services,
// one Server pointed at a FakeServer on loopback (user "alice"), its user types, the
// MP3 attribute types the peer network declares in the program, and the share index.
// Each test starts from an empty store (Reset) and builds its folder trees in a
// temporary folder (Tree).

#include "net/server/PortForwarder.h"
#include "net/server/Server.h"
#include "shares/SharedFoldersManager.h"
#include "store/Data.h"
#include "store/Settings.h"
#include "support/FakeServer.h"
#include "support/FrameBuilder.h"
#include "support/StoreServices.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>

namespace SharesTestEnv
{
class Services
{
public:
    bool SetUp()
    {
        StartStoreServices();
        if (!m_fake.Listen())
            return false;
        mp_server = std::make_unique<Server>();
        mp_server->CreateData();
        // The peer network's MP3 and size attributes, as its constructor declares them.
        for (char const* lp_type : {"mpeg_version", "channel_mode", "audio_frequency", "bitrate_mode",
                                    "bitrate", "length_seconds", "file_size"})
            d.NewType(lp_type, Tertiary, false, true);
        mp_shares = std::make_unique<SharedFoldersManager>();
        Reset();
        return true;
    }

    void TearDown()
    {
        mp_shares.reset();
        mp_server.reset();
        delete portForwarder;
    }

    // An empty store with the settings a test relies on.
    void Reset()
    {
        d.RemoveAllItems();
        SetSetting("server_host", QStringLiteral("127.0.0.1"));
        SetSetting("server_port", QString::number(m_fake.Port()));
        SetSetting("username", QStringLiteral("alice"));
        SetSetting("password", QStringLiteral("pw"));
        SetSetting("shared_folder_counter", QStringLiteral("1"));
    }

    // Connects and has the fake accept the login; true once Connected() came.
    bool LogIn()
    {
        QSignalSpy l_connected(mp_server.get(), &Server::Connected);
        m_fake.SetReply(1, FrameBuilder::LoginAccepted());
        mp_server->Connect();
        return l_connected.wait(3000) || l_connected.count() > 0;
    }

    SharedFoldersManager& shares() { return *mp_shares; }
    Server& server() { return *mp_server; }
    FakeServer& fake() { return m_fake; }

private:
    FakeServer m_fake;
    std::unique_ptr<Server> mp_server;
    std::unique_ptr<SharedFoldersManager> mp_shares;
};

// A folder tree in a temporary folder; paths are relative to its root.
class Tree
{
public:
    bool IsValid() const { return m_dir.isValid(); }
    QString Root() const { return m_dir.path(); }
    QString Path(QString const& relative) const { return m_dir.path() + "/" + relative; }
    bool Folder(QString const& relative) { return QDir().mkpath(Path(relative)); }
    bool File(QString const& relative, QByteArray const& bytes = {})
    {
        QFile l_file(Path(relative));
        return QDir().mkpath(QFileInfo(l_file).absolutePath()) && l_file.open(QIODevice::WriteOnly) &&
               l_file.write(bytes) == bytes.size();
    }

private:
    QTemporaryDir m_dir;
};

// The values of the items of a type connected to the item, sorted.
inline QStringList ValuesOf(ItemPtr item, char const* type)
{
    QStringList l_values;
    for (ItemPtr const& l_item : item.GetItems(type))
        l_values << l_item.AsString();
    l_values.sort();
    return l_values;
}

// The values of every item of a type, sorted.
inline QStringList AllValues(char const* type)
{
    QStringList l_values;
    for (ItemPtr const& l_item : g(type))
        l_values << l_item.AsString();
    l_values.sort();
    return l_values;
}

// The full paths of every indexed file, sorted.
inline QStringList IndexedFiles()
{
    QStringList l_paths;
    for (ItemPtr const& l_file : g("shared_file"))
        l_paths << l_file["shared_file_folder"].AsString() + "/" + l_file["shared_file_name"].AsString();
    l_paths.sort();
    return l_paths;
}
} // namespace SharesTestEnv
