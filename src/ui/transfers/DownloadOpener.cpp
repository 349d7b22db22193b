#include "ui/transfers/DownloadOpener.h"

#include "store/Log.h"
#include "transfers/TransferQueueManager.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace DownloadOpener
{
void Open(ItemPtr i_entry, bool i_folder)
{
    QString l_path;
    if (!transferQueueManager->GetLocalDownloadPath(i_entry, true, l_path))
    {
        Log(LogArea::TransferQueue, 1,
            QStringLiteral("Not opening %1: its names lead outside the download folder")
                .arg(transferQueueManager->GetDownloadTargetPath(i_entry, true)),
            i_entry);
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(i_folder ? QFileInfo(l_path).path() : l_path));
}
} // namespace DownloadOpener
