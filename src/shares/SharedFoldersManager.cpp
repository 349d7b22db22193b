#include "shares/SharedFoldersManager.h"

#include "net/server/Server.h"
#include "store/DataSaver.h"
#include "store/Schema.h"
#include "store/Settings.h"

SharedFoldersManager* sharedFoldersManager = nullptr;

namespace
{
// Every type of the index is create-on-get.
TypeSpec const c_types[] = {
    {"shared_folder", Primary, false},
    {"shared_file", Secondary, true},
    {"shared_file_name", Secondary, false},
    {"shared_file_lowercase_name", Tertiary, false},
    {"shared_file_folder", Secondary, false},
    {"shared_file_folder_lowercase_name", Tertiary, false},
    {"shared_file_size", Tertiary, false},
    {"shared_public", Tertiary, true},
    {"shared_userlist", Tertiary, true},
    {"is_scanned", Tertiary, true},
    {"shared_folder_id", Tertiary, false},
    {"user_share", Primary, true},
    {"user_share_folder", Secondary, true},
    {"user_share_folder_parent", Secondary, true},
    {"user_share_folder_child", Secondary, true},
    {"user_share_folder_name", Tertiary, false},
    {"user_share_file", Secondary, true},
    {"user_share_file_name", Tertiary, false},
    {"search_token", Tertiary, false},
};

RelationSpec const c_relations[] = {
    {"shared_folder", "shared_file_folder", Many, Many},
    {"shared_file", "shared_file_folder", Many, One},
    {"shared_file_folder", "shared_file_folder_lowercase_name", Many, One},
    {"shared_file", "shared_file_name", Many, One},
    {"shared_file_name", "shared_file_lowercase_name", Many, One},
    {"shared_file", "shared_file_size", Many, One},
    {"shared_folder", "shared_public", Many, One},
    {"shared_folder", "shared_userlist", Many, One},
    {"shared_folder", "user_list_group", Many, Many},
    {"shared_folder", "shared_folder_id", One, One},
    {"user_share", "user", One, One},
    {"user_share", "user_share_folder", One, Many},
    {"user_share_folder", "user_share_folder_name", Many, One},
    {"user_share_folder", "user_share_file", One, Many},
    {"user_share_folder", "user_share_folder_parent", One, One},
    {"user_share_folder", "user_share_folder_child", One, Many},
    {"user_share_folder_parent", "user_share_folder_child", One, One},
    {"user_share_file", "user_share_file_name", Many, One},
    {"user_share_file", "file_size", Many, One},
    {"search_token", "shared_file", Many, Many},
    {"shared_file", "mpeg_version", Many, One},
    {"shared_file", "channel_mode", Many, One},
    {"shared_file", "audio_frequency", Many, One},
    {"shared_file", "bitrate_mode", Many, One},
    {"shared_file", "bitrate", Many, One},
    {"shared_file", "is_scanned", Many, One},
    {"user_share_file", "bitrate_mode", Many, One},
    {"user_share_file", "bitrate", Many, One},
    {"user_share_file", "length_seconds", Many, One},
};

// What goes into the store file: the shared folders with their flags, ids and folder
// items, the files with name, size and MP3 details. Lower-case twins and search tokens
// are made again from the loaded names and folders.
struct SavedRow
{
    char const* m_type;
    char const* m_whenConnectedTo; // null: every item
};

SavedRow const c_saved[] = {
    {"shared_folder", nullptr},
    {"shared_file", "shared_file_folder"},
    {"shared_file_name", "shared_file"},
    {"shared_file_folder", "shared_folder"},
    {"shared_file_size", "shared_file"},
    {"shared_public", "shared_folder"},
    {"shared_userlist", "shared_folder"},
    {"is_scanned", nullptr},
    {"shared_folder_id", "shared_folder"},
    {"mpeg_version", "shared_file"},
    {"channel_mode", "shared_file"},
    {"audio_frequency", "shared_file"},
    {"bitrate_mode", "shared_file"},
    {"bitrate", "shared_file"},
};

// The lower-case item of a name or folder path. Plain ASCII without separators (nearly
// every file name, from a listing or the store file) needs nothing of LowerCaseKey but
// its capitals lowered, done on the bytes; such a name already in lower case is its own
// key.
ItemPtr LowerCaseItem(Type* ip_type, Value const& i_value)
{
    std::string const& l_bytes = i_value.GetBytes();
    bool l_hasCapitals = false;
    for (char const l_byte : l_bytes)
    {
        if ((l_byte & 0x80) != 0 || l_byte == '/' || l_byte == '\\')
            return ip_type->GetItem(Value(SharedFoldersManager::LowerCaseKey(i_value.AsString())));
        l_hasCapitals = l_hasCapitals || (l_byte >= 'A' && l_byte <= 'Z');
    }
    if (!l_hasCapitals)
        return ip_type->GetItem(i_value);
    std::string l_key = l_bytes;
    for (char& l_byte : l_key)
        if (l_byte >= 'A' && l_byte <= 'Z')
            l_byte = char(l_byte + ('a' - 'A'));
    return ip_type->GetItem(Value(std::move(l_key)));
}

void RegisterSaved(SavedRow const& i_row)
{
    if (i_row.m_whenConnectedTo)
        dataSaver->AddSavedByConnectionType(i_row.m_type, i_row.m_whenConnectedTo);
    else
        dataSaver->AddSavedType(i_row.m_type);
}
} // namespace

SharedFoldersManager::SharedFoldersManager(QObject* ip_parent)
    : QObject(ip_parent), m_filesAdded(0), m_filesRemoved(0)
{
    sharedFoldersManager = this;

    CreateData();

    m_scannerThread.setObjectName(QStringLiteral("MP3 Scanning"));
    m_scannerThread.start(QThread::InheritPriority);
    m_scanner.moveToThread(&m_scannerThread);
    // Both directions cross threads, so both calls are queued.
    connect(this, &SharedFoldersManager::MP3ScanRequired, &m_scanner, &MP3Scanner::OnMP3ScanRequired);
    connect(&m_scanner, &MP3Scanner::MP3Scanned, this, &SharedFoldersManager::OnMP3Scanned);
    connect(gp_server, &Server::Connected, this, &SharedFoldersManager::OnConnectedToServer);
    connect(gp_server, &Server::ReceivedUserStats, this, &SharedFoldersManager::OnReceivedUserStats);
    ConnectAnswers();

    d.NewType("unshared", Tertiary, true, true);
    d["user"]->RelateToType(d["unshared"], Many, One);
    dataSaver->AddSavedType("unshared");
    dataSaver->AddSavedByConnectionType("user", "unshared");

    SetSettingDefault("shared_folder_counter", QStringLiteral("1"));
}

SharedFoldersManager::~SharedFoldersManager()
{
    // Requests still queued find the scanner stopped; the one running finishes first.
    m_scanner.Quit();
    m_scannerThread.exit(0);
    m_scannerThread.wait();
    DisconnectAnswers();
    RemoveDataHandlers();
    if (sharedFoldersManager == this)
        sharedFoldersManager = nullptr;
}

void SharedFoldersManager::CreateData()
{
    DeclareTypes(c_types);
    RelateTypes(c_relations);
    for (SavedRow const& l_row : c_saved)
        RegisterSaved(l_row);
    mp_lowercaseNames = d["shared_file_lowercase_name"];
    mp_lowercaseFolders = d["shared_file_folder_lowercase_name"];

    // Loading the store file creates names and folders through the same events, so the
    // twins exist for loaded items too.
    d["shared_file_name"]->m_itemAddedEvent.AddHandler(
        CreateHandler(this, &SharedFoldersManager::OnSharedFileNameAdded));
    d["shared_file_folder"]->m_itemAddedEvent.AddHandler(
        CreateHandler(this, &SharedFoldersManager::OnSharedFileFolderAdded));
}

void SharedFoldersManager::OnSharedFileNameAdded(ItemPtr i_name)
{
    i_name += LowerCaseItem(mp_lowercaseNames, i_name->GetValue());
}

void SharedFoldersManager::OnSharedFileFolderAdded(ItemPtr i_folder)
{
    i_folder += LowerCaseItem(mp_lowercaseFolders, i_folder->GetValue());
}
