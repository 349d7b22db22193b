// Adding a shared folder, walking folders into the index, rescans and search tokens.
// Walks run synchronously on the GUI thread.

#include "shares/SharedFoldersManager.h"

#include "store/Log.h"
#include "store/Settings.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <map>

namespace
{
// Only these two spellings are sent for scanning.
bool IsMp3Name(QString const& i_name)
{
    return i_name.size() >= 5 &&
           (i_name.endsWith(QLatin1String(".mp3")) || i_name.endsWith(QLatin1String(".MP3")));
}

bool IsPathSeparatorOrBlank(QChar i_char)
{
    return i_char == QLatin1Char(' ') || i_char == QLatin1Char('/') || i_char == QLatin1Char('\\');
}

// Appends every maximal run of characters for which i_isSeparator is false.
template <class IsSeparator>
void AppendRuns(QString const& i_text, IsSeparator i_isSeparator, std::vector<QString>& io_runs)
{
    qsizetype l_start = -1;
    for (qsizetype l_index = 0; l_index <= i_text.size(); ++l_index)
    {
        bool const l_separator = l_index == i_text.size() || i_isSeparator(i_text[l_index]);
        if (l_separator && l_start >= 0)
        {
            io_runs.push_back(i_text.mid(l_start, l_index - l_start));
            l_start = -1;
        }
        else if (!l_separator && l_start < 0)
            l_start = l_index;
    }
}
} // namespace

ItemPtr SharedFoldersManager::AddSharedFolder(QString i_path)
{
    Type* const lp_folders = d["shared_folder"];
    if (ItemPtr const l_existing = lp_folders->HasItem(Value(i_path)))
        return l_existing;
    ItemPtr const l_folder = lp_folders->NewItem(Value(i_path));
    int const l_number = GetSettingInt("shared_folder_counter");
    SetSetting("shared_folder_counter", QString::number(l_number + 1));
    l_folder += d["shared_folder_id"]->GetItem(
        Value(QStringLiteral("[%1]%2").arg(l_number).arg(QDir(i_path).dirName())));
    AddSharedFiles(l_folder.AsString(), l_folder.AsString());
    return l_folder;
}

void SharedFoldersManager::AddSharedFiles(QString i_sharedFolder, QString i_folder)
{
    if (!m_foldersBeingAdded.insert(i_folder).second)
        return;
    Log(LogArea::Shared, 1,
        QStringLiteral("Adding folder %1 as part of sharing %2").arg(i_folder, i_sharedFolder));

    Type* const lp_nameType = d["shared_file_name"];
    ItemPtr const l_folder = d["shared_file_folder"]->GetItem(Value(i_folder));
    l_folder += d["shared_folder"]->GetItem(Value(i_sharedFolder));

    // The files indexed here before, by their name item; whatever is still in `l_old`
    // after the listing has gone. One name item holds one file per folder, so a keyed
    // lookup tells whether a listed file is known.
    ItemSet l_old = l_folder.GetItems("shared_file");
    std::map<Item*, ItemPtr> l_oldByName;
    for (ItemPtr const& l_file : l_old)
        l_oldByName.emplace(l_file["shared_file_name"].GetPtr(), l_file);

    QFileInfoList const l_entries =
        QDir(i_folder).entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot);
    m_walkStack.push_back(QFileInfo(i_folder).canonicalFilePath());
    for (QFileInfo const& l_entry : l_entries)
    {
        if (!l_entry.isFile())
        {
            // Links are followed, but never back into a folder this walk is inside of.
            if (l_entry.isDir() && std::find(m_walkStack.begin(), m_walkStack.end(),
                                             l_entry.canonicalFilePath()) == m_walkStack.end())
                AddSharedFiles(i_sharedFolder, l_entry.absoluteFilePath());
            continue;
        }
        QString const l_name = l_entry.fileName();
        QString const l_path = l_entry.absoluteFilePath();
        ItemPtr l_file;
        if (ItemPtr const l_knownName = lp_nameType->HasItem(Value(l_name)))
        {
            auto const l_it = l_oldByName.find(l_knownName.GetPtr());
            if (l_it != l_oldByName.end() && l_old.erase(l_it->second))
                l_file = l_it->second;
        }
        if (!l_file)
        {
            ItemPtr const l_nameItem = lp_nameType->GetItem(Value(l_name));
            // A file indexed under the same path but for letter case or doubled
            // separators keeps its place; this one stays out of the index.
            if (GetSharedFileItem(l_path))
                continue;
            l_file = l_folder.NewItem("shared_file");
            l_file += l_nameItem;
            l_file += d["shared_file_size"]->GetItem(Value(l_entry.size()));
            ++m_filesAdded;
        }
        if (IsMp3Name(l_name) && !l_file.IsConnected("is_scanned"))
            emit MP3ScanRequired(l_path);
        TokenizeSharedFile(l_file);
    }
    m_walkStack.pop_back();

    for (ItemPtr const& l_gone : l_old)
    {
        l_gone.Remove();
        ++m_filesRemoved;
    }
    m_foldersBeingAdded.erase(i_folder);
}

void SharedFoldersManager::RescanShares()
{
    m_filesAdded = 0;
    m_filesRemoved = 0;
    for (ItemPtr const& l_shared : g("shared_folder"))
    {
        l_shared.Disconnect("shared_file_folder");
        AddSharedFiles(l_shared.AsString(), l_shared.AsString());
    }
    // Folders no walk reached again have gone from the disk, with all their files. They
    // are removed here rather than left to the sweep: a file shares its name item with
    // every equally named file, so a gone file named like one still shared (cover.jpg,
    // 01.mp3) stays reachable through that name, and with it its folder and every other
    // file in that folder.
    ItemSet const l_gone = g("shared_file_folder").NotConnected("shared_folder");
    for (ItemPtr const& l_folder : l_gone)
    {
        ItemSet const l_files = l_folder.GetItems("shared_file");
        m_filesRemoved += static_cast<qint32>(l_files.size());
        l_files.Remove();
    }
    l_gone.Remove();
    d.RemoveDisconnectedItems();
    emit SharedFilesRescanned(m_filesAdded, m_filesRemoved);
}

void SharedFoldersManager::Init()
{
    RescanShares();
}

void SharedFoldersManager::TokenizeSharedFile(ItemPtr i_file)
{
    // A file's folder and name never change and its tokens come all in one call, so a
    // file that has any token has them all; rescans then cost no token work. Files
    // loaded from the store file have none yet and get them at the start-up rescan.
    Type* const lp_tokenType = d["search_token"];
    if (i_file.IsConnected(lp_tokenType))
        return;
    QString const l_text = (i_file["shared_file_folder"].AsString() + QLatin1Char('\\') +
                            i_file["shared_file_name"].AsString())
                               .toLower();
    std::vector<QString> l_tokens;
    AppendRuns(l_text, &SharedFoldersManager::IsSearchTokenSeparator, l_tokens);
    AppendRuns(l_text, &IsPathSeparatorOrBlank, l_tokens);
    std::sort(l_tokens.begin(), l_tokens.end());
    l_tokens.erase(std::unique(l_tokens.begin(), l_tokens.end()), l_tokens.end());
    for (QString const& l_token : l_tokens)
        i_file += lp_tokenType->GetItem(Value(l_token));
}

bool SharedFoldersManager::IsSearchTokenSeparator(QChar i_char)
{
    char16_t const l_code = i_char.unicode();
    if ((l_code >= u'0' && l_code <= u'9') || (l_code >= u'a' && l_code <= u'z') ||
        (l_code >= u'A' && l_code <= u'Z'))
        return false;
    return l_code < 0x80 || l_code > 0xFF;
}
