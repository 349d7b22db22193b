#include "ui/users/SharesForm.h"

#include "net/peer/PeerMessenger.h"
#include "shares/SharedFoldersManager.h"
#include "store/GeneralFunctions.h"
#include "store/Log.h"
#include "ui/transfers/UploadForm.h"
#include "ui/users/ShareForm.h"
#include "widgets/ActionSetToolBar.h"
#include "widgets/TabWidget.h"
#include "widgets/UIFunctions.h"

#include <QIcon>
#include <QVBoxLayout>

#include <algorithm>

SharesForm* sharesForm = nullptr;

namespace
{
using SetAction = ActionSetToolBar::SetActionSpec;

SetAction const c_setActions[] = {
    {"share_folders", "expand_level", "Expand Level", ":/icons/browse_icon", false},
    {"share_folders", "collapse_all", "Collapse All", ":/icons/browse_icon", false},
    {"share_folders", "expand_all", "Expand All", ":/icons/browse_icon", false},
    {"upload_folders", "upload_share_folder", "Upload Folder", ":/icons/transfer_icon", true},
    {"upload_folders", "expand_level", "Expand Level", ":/icons/browse_icon", false},
    {"upload_folders", "collapse_all", "Collapse All", ":/icons/browse_icon", false},
    {"upload_folders", "expand_all", "Expand All", ":/icons/browse_icon", false},
    {"upload_files", "upload_share_file", "Upload File", ":/icons/transfer_icon", true},
};

int PathComponents(std::string const& i_path)
{
    return 1 + static_cast<int>(std::count(i_path.begin(), i_path.end(), '\\'));
}
} // namespace

SharesForm::SharesForm(QWidget* ip_parent) : QWidget(ip_parent), tabControl(new TabWidget(this))
{
    sharesForm = this;
    setObjectName(QStringLiteral("SharesForm"));
    resize(565, 363);
    tabControl->setObjectName(QStringLiteral("tabControl"));
    tabControl->setTabsClosable(true);
    QVBoxLayout* const lp_layout = new QVBoxLayout(this);
    lp_layout->setContentsMargins(0, 0, 0, 0);
    lp_layout->addWidget(tabControl);
}

SharesForm::~SharesForm()
{
    RemoveDataHandlers();
    if (sharesForm == this)
        sharesForm = nullptr;
}

void SharesForm::Init()
{
    for (char const* lp_tab : {"user_share_tab", "upload_share_tab"})
    {
        d.NewType(lp_tab, Primary, false, true);
        d["user"]->RelateToType(d[lp_tab], One, One);
    }
    d.NewType("user_share_folder_node", Secondary, false, true);
    d["user_share_folder_node"]->RelateToType(d["user_share_folder"], One, One);
    d.NewType("user_share_file_node", Secondary, false, true);
    d["user_share_file_node"]->RelateToType(d["user_share_file"], One, One);
    connect(tabControl, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested);
    if (actionBar)
    {
        actionBar->AddSetActions(c_setActions);
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this,
                &SharesForm::OnToolBarActionTriggered);
    }
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserShare, this, &SharesForm::OnUserShare);
}

ShareForm* SharesForm::OpenShareBrowse(QString i_user)
{
    ItemPtr const l_user = d["user"]->GetItem(Value(i_user));
    ShareForm* lp_form = l_user["user_share_tab"].AsPtr<ShareForm>();
    if (!lp_form)
    {
        lp_form = new ShareForm(i_user, this);
        tabControl->addTab(lp_form, QIcon(QStringLiteral(":/icons/browse_icon")),
                           EscapeMnemonics(i_user));
        if (peerMessenger && !g_showIsOver)
            peerMessenger->GetUserSharedFiles(i_user);
    }
    FocusWidgetAndParents(lp_form);
    return lp_form;
}

UploadForm* SharesForm::OpenUploadBrowse(QString i_user)
{
    ItemPtr const l_user = d["user"]->GetItem(Value(i_user));
    UploadForm* lp_form = l_user["upload_share_tab"].AsPtr<UploadForm>();
    if (!lp_form)
    {
        lp_form = new UploadForm(i_user, this);
        tabControl->addTab(lp_form, QIcon(QStringLiteral(":/icons/browse_icon")),
                           tr("Upload to ") + EscapeMnemonics(i_user));
        FileInfoMap l_share;
        AttributeTranslationTable l_table;
        if (sharedFoldersManager)
            sharedFoldersManager->GetSharedFilesAsUserShare(i_user, l_share, l_table);
        lp_form->SetShare(CreateUserShareData(l_share, l_table));
    }
    FocusWidgetAndParents(lp_form);
    return lp_form;
}

ItemPtr SharesForm::CreateUserShareData(FileInfoMap& i_share, AttributeTranslationTable&)
{
    StoreOperation l_operation;
    ItemPtr const l_share = d["user_share"]->NewItem();
    Type* const lp_folderNames = d["user_share_folder_name"];
    Type* const lp_fileNames = d["user_share_file_name"];
    Type* const lp_sizes = d["file_size"];
    Type* const lp_bitrates = d["bitrate"];
    Type* const lp_lengths = d["length_seconds"];
    Type* const lp_modes = d["bitrate_mode"];
    Type* const lp_files = d["user_share_file"];
    std::vector<std::pair<Item*, Item*>> l_pairs;
    bool l_cutLogged = false;
    // The name and size indexes are sized once for every value the list may add (in
    // a real share nearly every file brings its own), instead of being rebuilt at each
    // doubling of a large share.
    std::size_t l_fileCount = 0;
    for (auto const& l_folder : i_share)
        l_fileCount += l_folder.second.size();
    lp_fileNames->ReserveItems(l_fileCount);
    lp_sizes->ReserveItems(l_fileCount);
    // Folders are visited parents first, so the map of paths to this share's folders
    // answers the parent lookups without walking the name items of every share.
    std::map<std::string const*, ItemPtr, bool (*)(std::string const*, std::string const*)> l_folders(
        [](std::string const* a, std::string const* b) { return *a < *b; });
    for (auto const& [l_path, l_files] : i_share)
    {
        // Deeper folders would make every walk over the tree, and the tree's own
        // deletion, recurse past what the stack holds.
        if (PathComponents(l_path) > c_maxFolderDepth)
        {
            if (!l_cutLogged)
                Log(LogArea::Shared, 1,
                    QStringLiteral("Share list folders nested deeper than %1 levels left out")
                        .arg(c_maxFolderDepth));
            l_cutLogged = true;
            continue;
        }
        ItemPtr const l_folder = l_share.NewItem("user_share_folder");
        l_folder += lp_folderNames->GetItem(Value(l_path));
        l_folders.emplace(&l_path, l_folder);
        std::string const l_parentPath = GetParentFolder(l_path);
        if (l_parentPath != l_path)
        {
            auto const l_parent = l_folders.find(&l_parentPath);
            if (l_parent != l_folders.end())
            {
                ItemPtr const l_up = l_folder.NewItem("user_share_folder_parent");
                l_up += l_parent->second.NewItem("user_share_folder_child");
            }
        }
        // The files' links go in one batch: connecting is bound by memory latency, and
        // the batch overlaps the misses of many links.
        l_pairs.clear();
        // Each item's connection storage is sized once for the links it is about to get.
        l_folder.GetPtr()->ReserveConnections(l_files.size());
        for (FileInfo const& l_info : l_files)
        {
            Item* const lp_file = lp_files->NewItem().GetPtr();
            lp_file->ReserveConnections(3 + std::count_if(l_info.m_attributes.m_pairs.begin(),
                                                          l_info.m_attributes.m_pairs.end(),
                                                          [](auto const& pair)
                                                          { return pair.first <= 2; }));
            l_pairs.emplace_back(l_folder.GetPtr(), lp_file);
            l_pairs.emplace_back(lp_file, lp_fileNames->GetItem(Value(l_info.m_name)).GetPtr());
            l_pairs.emplace_back(lp_file, lp_sizes->GetItem(Value(l_info.m_size)).GetPtr());
            for (auto const& [l_code, l_value] : l_info.m_attributes.m_pairs)
            {
                if (l_code == 0)
                    l_pairs.emplace_back(lp_file, lp_bitrates->GetItem(Value(static_cast<long long>(l_value))).GetPtr());
                else if (l_code == 1)
                    l_pairs.emplace_back(lp_file, lp_lengths->GetItem(Value(static_cast<long long>(l_value))).GetPtr());
                else if (l_code == 2)
                    l_pairs.emplace_back(lp_file, lp_modes->GetItem(Value(l_value == 0 ? "cbr" : "vbr")).GetPtr());
            }
        }
        Item::ConnectAll(l_pairs);
    }
    return l_share;
}

void SharesForm::OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_table)
{
    // A list nobody browses leaves nothing behind, not even a user item.
    ItemPtr const l_user = d["user"]->HasItem(Value(i_user));
    ShareForm* const lp_form = l_user["user_share_tab"].AsPtr<ShareForm>();
    if (!lp_form)
        return;
    ItemPtr l_share = l_user["user_share"];
    if (!l_share)
    {
        l_share = CreateUserShareData(i_share, i_table);
        l_user += l_share;
    }
    lp_form->SetShare(l_share);
}

void SharesForm::OnTabCloseRequested(int i_index)
{
    QWidget* const lp_widget = tabControl->widget(i_index);
    if (!lp_widget)
        return;
    tabControl->removeTab(i_index);
    if (ShareForm* const lp_share = qobject_cast<ShareForm*>(lp_widget))
        lp_share->Delete();
    else if (UploadForm* const lp_upload = qobject_cast<UploadForm*>(lp_widget))
        lp_upload->Delete();
    else
        delete lp_widget;
}

void SharesForm::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    QWidget* const lp_current = tabControl->currentWidget();
    ShareForm* const lp_share = qobject_cast<ShareForm*>(lp_current);
    UploadForm* const lp_upload = qobject_cast<UploadForm*>(lp_current);
    if (!lp_share && !lp_upload)
        return;
    if (i_action == QLatin1String("expand_level"))
        lp_share ? lp_share->ExpandLevel() : lp_upload->ExpandLevel();
    else if (i_action == QLatin1String("collapse_all"))
        lp_share ? lp_share->CollapseAll() : lp_upload->CollapseAll();
    else if (i_action == QLatin1String("expand_all"))
        lp_share ? lp_share->ExpandAll() : lp_upload->ExpandAll();
}
