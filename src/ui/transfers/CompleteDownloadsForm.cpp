#include "ui/transfers/CompleteDownloadsForm.h"

#include "transfers/TransferQueueManager.h"
#include "ui/transfers/CompleteDownloadItem.h"
#include "ui_CompleteDownloadsForm.h"

#include <QHeaderView>

CompleteDownloadsForm* completeDownloadsForm = nullptr;

namespace
{
struct Column
{
    char const* mp_header;
    int m_width;
    char const* mp_attribute;
};

Column const c_columns[] = {{"File", 250, "complete_download_filename"},
                            {"Folder", 250, "complete_download_relative_folder"},
                            {"User", 100, "user"},
                            {"Size", 100, "complete_download_file_size"},
                            {"Completion time", 150, "complete_download_completion_time"}};

// The store loader keeps every handler it was given for the whole run, while lists come
// and go with their parents: it is handed this one, which passes the call on to the list
// that exists at the time, if any.
class LoadedRelay : public DataLoadedEventHandler
{
public:
    void DataLoaded() override
    {
        if (completeDownloadsForm)
            completeDownloadsForm->DataLoaded();
    }
};

LoadedRelay g_loadedRelay;
} // namespace

CompleteDownloadsForm::CompleteDownloadsForm(QWidget* ip_parent)
    : QWidget(ip_parent), mp_ui(new Ui_CompleteDownloadsForm)
{
    mp_ui->setupUi(this);
    QTreeWidget* const lp_list = mp_ui->downloadList;
    lp_list->setColumnCount(std::size(c_columns));
    QStringList l_headers;
    for (Column const& l_column : c_columns)
        l_headers << QString::fromLatin1(l_column.mp_header);
    lp_list->setHeaderLabels(l_headers);
    lp_list->header()->setStretchLastSection(false);
    lp_list->header()->setSectionsMovable(false);
    for (int l_index = 0; l_index < int(std::size(c_columns)); ++l_index)
        lp_list->setColumnWidth(l_index, c_columns[l_index].m_width);
    completeDownloadsForm = this;
}

CompleteDownloadsForm::~CompleteDownloadsForm()
{
    if (completeDownloadsForm == this)
        completeDownloadsForm = nullptr;
    delete mp_ui;
}

void CompleteDownloadsForm::Init()
{
    // A later list finds the type its predecessor declared.
    if (!d.HasType("complete_download_node"))
        d.NewType("complete_download_node", Primary, false, true)
            ->RelateToType(d["complete_download"], One, One);
    if (transferQueueManager)
        connect(transferQueueManager, &TransferQueueManager::CompleteDownloadAdded, this,
                &CompleteDownloadsForm::OnCompleteDownloadAdded);
    if (dataSaver)
        dataSaver->AddDataLoadedEventHandler(&g_loadedRelay);
}

void CompleteDownloadsForm::DataLoaded()
{
    for (ItemPtr const& l_record : d["complete_download"]->GetItems())
        OnCompleteDownloadAdded(l_record);
}

void CompleteDownloadsForm::OnCompleteDownloadAdded(ItemPtr i_record)
{
    auto* const lp_row = new CompleteDownloadItem(mp_ui->downloadList);
    for (int l_index = 0; l_index < int(std::size(c_columns)); ++l_index)
        lp_row->setText(l_index, i_record[c_columns[l_index].mp_attribute].AsString());
    d["complete_download_node"]->GetItem(Value(static_cast<QTreeWidgetItem*>(lp_row))) += i_record;
    mp_ui->downloadList->sortItems(0, Qt::DescendingOrder);
}
