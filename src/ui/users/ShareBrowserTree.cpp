#include "ui/users/ShareBrowserTree.h"

#include "shares/SharedFoldersManager.h"
#include "store/ExtendedAsciiTranslator.h"
#include "store/GeneralFunctions.h"
#include "store/Settings.h"
#include "ui/search/FilterParser.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/UIFunctions.h"

#include <QLineEdit>

#include <algorithm>
#include <map>
#include <string_view>
#include <vector>

namespace
{
char const* const c_folderNode = "user_share_folder_node";
char const* const c_fileNode = "user_share_file_node";

int Depth(QTreeWidgetItem const* ip_row)
{
    int l_depth = 0;
    for (QTreeWidgetItem const* lp_up = ip_row->parent(); lp_up; lp_up = lp_up->parent())
        ++l_depth;
    return l_depth;
}
} // namespace

ShareBrowserTree::ShareBrowserTree(QTreeWidget* ip_folderTree, QTreeWidget* ip_fileList,
                                   QLineEdit* ip_filterEdit)
    : mp_folderTree(ip_folderTree), mp_fileList(ip_fileList), mp_filterEdit(ip_filterEdit),
      m_deepestLevel(0), m_expandLevel(0)
{
}

ShareBrowserTree::~ShareBrowserTree()
{
    // The rows die with the form; their nodes must not point at freed rows.
    if (!g_showIsOver && d.HasType(c_fileNode))
        ClearFileList();
}

int ShareBrowserTree::Build(ItemPtr i_share)
{
    m_share = i_share;
    m_folderNames.clear();
    std::vector<std::pair<std::string const*, ItemPtr>> l_folders;
    for (ItemPtr const& l_folder : i_share.GetItems("user_share_folder"))
        if (ItemPtr const l_name = l_folder["user_share_folder_name"])
            l_folders.emplace_back(&l_name.GetValue().GetBytes(), l_folder);
    // std::string compares its bytes as unsigned values, so a folder precedes the folders
    // inside it.
    std::sort(l_folders.begin(), l_folders.end(),
              [](auto const& a, auto const& b) { return *a.first < *b.first; });
    m_deepestLevel = 0;
    m_expandLevel = 0;
    mp_folderTree->setUpdatesEnabled(false);
    m_folderNames.reserve(l_folders.size());
    std::map<std::string, QTreeWidgetItem*> l_rows;
    Type* const lp_nodes = d[c_folderNode];
    Type* const lp_files = d["user_share_file"];
    Type* const lp_names = d["user_share_file_name"];
    for (auto const& [lp_path, l_folder] : l_folders)
    {
        std::string const l_parent = GetParentFolder(*lp_path);
        QTreeWidgetItem* lp_parentRow = nullptr;
        if (l_parent != *lp_path)
        {
            auto const l_found = l_rows.find(l_parent);
            if (l_found != l_rows.end())
                lp_parentRow = l_found->second;
        }
        QTreeWidgetItem* const lp_row = lp_parentRow ? new QTreeWidgetItem(lp_parentRow)
                                                     : new QTreeWidgetItem(mp_folderTree);
        if (lp_parentRow)
            m_deepestLevel = std::max(m_deepestLevel, Depth(lp_row));
        lp_row->setText(0, ToQString(GetFileName(*lp_path)));
        lp_nodes->GetItem(Value(lp_row)) += l_folder;
        KeepFolderNames(lp_row, l_folder, lp_files, lp_names);
        l_rows.emplace(*lp_path, lp_row);
    }
    if (GetSetting("expand_new_shares") == QLatin1String("yes"))
        mp_folderTree->expandAll();
    mp_folderTree->setUpdatesEnabled(true);
    return static_cast<int>(l_folders.size());
}

void ShareBrowserTree::ForgetShare()
{
    m_share = ItemPtr();
    m_folderNames.clear();
}

void ShareBrowserTree::KeepFolderNames(QTreeWidgetItem const* ip_row, ItemPtr i_folder,
                                       ::Type* ip_files, ::Type* ip_names)
{
    FolderNames& l_kept = m_folderNames[ip_row];
    l_kept.m_text = ip_row->text(0);
    auto const lp_files = i_folder->ConnectedItemsOf(ip_files);
    if (!lp_files)
        return;
    l_kept.m_ends.reserve(lp_files->size());
    for (ItemPtr const& l_file : *lp_files)
    {
        auto const lp_name = l_file->ConnectedItemsOf(ip_names);
        if (lp_name && !lp_name->empty())
            l_kept.m_names += lp_name->begin()->GetValue().GetBytes();
        l_kept.m_ends.push_back(std::uint32_t(l_kept.m_names.size()));
    }
    l_kept.m_names.shrink_to_fit();
}

ItemPtr ShareBrowserTree::FolderOfRow(QTreeWidgetItem* ip_row) const
{
    if (!ip_row)
        return ItemPtr();
    return d[c_folderNode]->HasItem(Value(ip_row))["user_share_folder"];
}

ItemPtr ShareBrowserTree::FileOfRow(QTreeWidgetItem* ip_row) const
{
    if (!ip_row)
        return ItemPtr();
    return d[c_fileNode]->HasItem(Value(ip_row))["user_share_file"];
}

QTreeWidgetItem* ShareBrowserTree::RowOfFolder(ItemPtr i_folder) const
{
    return i_folder[c_folderNode].AsPtr<QTreeWidgetItem>();
}

QTreeWidgetItem* ShareBrowserTree::RowOfFile(ItemPtr i_file) const
{
    QTreeWidgetItem* const lp_row = i_file[c_fileNode].AsPtr<QTreeWidgetItem>();
    // Another browser's row for the same file is not ours to decorate.
    return lp_row && lp_row->treeWidget() == mp_fileList ? lp_row : nullptr;
}

ItemSet ShareBrowserTree::SubFolders(ItemPtr i_folder)
{
    ItemSet l_result;
    for (ItemPtr const& l_child : i_folder.GetItems("user_share_folder_child"))
        if (ItemPtr const l_sub = l_child["user_share_folder_parent"]["user_share_folder"])
            l_result.insert(l_sub);
    return l_result;
}

ItemPtr ShareBrowserTree::FindFolder(ItemPtr i_share, std::string const& i_path)
{
    ItemPtr const l_name = d["user_share_folder_name"]->HasItem(Value(i_path));
    if (!l_name || !i_share)
        return ItemPtr();
    return l_name.GetItems("user_share_folder").Connected(i_share);
}

QString ShareBrowserTree::FilePath(ItemPtr i_file)
{
    ItemPtr const l_folder = i_file["user_share_folder"];
    return l_folder["user_share_folder_name"].AsString() + QLatin1Char('\\') +
           i_file["user_share_file_name"].AsString();
}

void ShareBrowserTree::ClearFileList()
{
    Type* const lp_nodes = d[c_fileNode];
    for (int l_index = 0; l_index < mp_fileList->topLevelItemCount(); ++l_index)
        if (ItemPtr const l_node = lp_nodes->HasItem(Value(mp_fileList->topLevelItem(l_index))))
            l_node.Remove();
    mp_fileList->clear();
}

void ShareBrowserTree::ListFiles(QTreeWidgetItem* ip_row)
{
    ClearFileList();
    ItemPtr const l_folder = FolderOfRow(ip_row);
    if (!l_folder)
        return;
    FilterParser l_filter;
    l_filter.Parse(mp_filterEdit->text());
    // Include words met in a folder name on the way up need not appear in file names.
    for (QTreeWidgetItem* lp_up = ip_row; lp_up; lp_up = lp_up->parent())
    {
        FilterParser l_remainder;
        l_filter.IsMatching(lp_up->text(0), &l_remainder, ItemPtr());
        l_filter = l_remainder;
    }
    bool const l_sorting = mp_fileList->isSortingEnabled();
    mp_fileList->setSortingEnabled(false);
    Type* const lp_nodes = d[c_fileNode];
    for (ItemPtr const& l_file : l_folder.GetItems("user_share_file"))
    {
        QString const l_name = l_file["user_share_file_name"].AsString();
        if (l_filter.IsMatching(l_name, nullptr, l_file) != 0)
            continue;
        QTreeWidgetItem* const lp_row = new QTreeWidgetItem(mp_fileList);
        lp_row->setText(0, l_name);
        lp_row->setText(1, CommafyNumber(l_file["file_size"].AsInt64()));
        if (sharedFoldersManager)
            lp_row->setText(2, sharedFoldersManager->GetFileItemDisplayString(l_file));
        lp_nodes->GetItem(Value(lp_row)) += l_file;
    }
    mp_fileList->setSortingEnabled(l_sorting);
}

int ShareBrowserTree::CountMatchingFiles(QTreeWidgetItem const* ip_row, ItemPtr i_folder,
                                         FilterParser& io_filter, int i_enough) const
{
    if (!i_folder)
        return 0;
    // Without attribute conditions the names alone decide, and those were kept.
    auto const l_kept =
        io_filter.HasAttributes() ? m_folderNames.end() : m_folderNames.find(ip_row);
    if (l_kept != m_folderNames.end())
    {
        FolderNames const& l_names = l_kept->second;
        std::string_view const l_all(l_names.m_names);
        std::uint32_t l_start = 0;
        int l_count = 0;
        for (std::uint32_t const l_end : l_names.m_ends)
        {
            if (io_filter.IsMatchingStored(l_all.substr(l_start, l_end - l_start), ItemPtr()) ==
                    0 &&
                ++l_count >= i_enough)
                break;
            l_start = l_end;
        }
        return l_count;
    }
    ::Type* const lp_names = d["user_share_file_name"];
    ItemRange const l_folderFiles = i_folder->ConnectedItemsOf(d["user_share_file"]);
    if (!l_folderFiles)
        return 0;
    // Without attribute conditions every file passes them; its attributes need no reading.
    bool const l_attributes = io_filter.HasAttributes();
    int l_count = 0;
    for (ItemPtr const& l_file : l_folderFiles)
    {
        ItemRange const l_nameItems = l_file->ConnectedItemsOf(lp_names);
        std::string_view const l_name =
            l_nameItems ? std::string_view(l_nameItems.First()->GetValue().GetBytes())
                        : std::string_view();
        if (io_filter.IsMatchingStored(l_name, l_attributes ? l_file : ItemPtr()) == 0 &&
            ++l_count >= i_enough)
            break;
    }
    return l_count;
}

bool ShareBrowserTree::FilterFolderNode(QTreeWidgetItem* ip_row, FilterParser& io_filter)
{
    FilterParser l_remainder;
    auto const l_kept = m_folderNames.find(ip_row);
    int const l_result = io_filter.IsMatching(l_kept != m_folderNames.end() ? l_kept->second.m_text
                                                                            : ip_row->text(0),
                                              &l_remainder, ItemPtr());
    if (l_result == 2)
    {
        ip_row->setHidden(true);
        return false;
    }
    int const l_minFiles = l_remainder.MinFilesInFolder();
    bool l_shown = l_result == 0 && !l_remainder.HasAttributes() && l_minFiles <= 0;
    if (!l_shown)
    {
        int const l_needed = std::max(1, l_minFiles);
        l_shown =
            CountMatchingFiles(ip_row, FolderOfRow(ip_row), l_remainder, l_needed) >= l_needed;
    }
    for (int l_index = 0; l_index < ip_row->childCount(); ++l_index)
        if (FilterFolderNode(ip_row->child(l_index), l_remainder))
            l_shown = true;
    ip_row->setHidden(!l_shown);
    return l_shown;
}

void ShareBrowserTree::ApplyFilter(QString const& i_text)
{
    FilterParser l_filter;
    l_filter.Parse(i_text);
    for (int l_index = 0; l_index < mp_folderTree->topLevelItemCount(); ++l_index)
        FilterFolderNode(mp_folderTree->topLevelItem(l_index), l_filter);
    QTreeWidgetItem* const lp_current = mp_folderTree->currentItem();
    if (!lp_current)
        return;
    for (QTreeWidgetItem* lp_up = lp_current; lp_up; lp_up = lp_up->parent())
        if (lp_up->isHidden())
        {
            ClearFileList();
            return;
        }
    ListFiles(lp_current);
}

void ShareBrowserTree::SetExpandText(QString const& i_text)
{
    if (actionBar)
        actionBar->SetWidgetActionText(mp_folderTree, QStringLiteral("expand_level"), i_text);
}

void ShareBrowserTree::ExpandAll()
{
    mp_folderTree->expandAll();
    m_expandLevel = 0;
    SetExpandText(QObject::tr("Expand Level"));
}

void ShareBrowserTree::CollapseAll()
{
    mp_folderTree->collapseAll();
    m_expandLevel = 0;
    SetExpandText(QObject::tr("Expand Level"));
}

void ShareBrowserTree::ExpandLevel()
{
    if (m_expandLevel == m_deepestLevel)
        return;
    mp_folderTree->expandToDepth(m_expandLevel);
    ++m_expandLevel;
    SetExpandText(QObject::tr("Expand Level [%1]").arg(m_expandLevel));
}
