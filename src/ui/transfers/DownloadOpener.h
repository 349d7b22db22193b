#pragma once

// Hands a download's file or folder in the complete tree to the desktop's opener, which
// may run what it opens. The names come from the peer, so only a path that stays inside
// the download folders (TransferQueueManager::GetLocalDownloadPath) is opened; any other
// is logged and left alone.

#include "store/Data.h"

namespace DownloadOpener
{
// The entry's file in the complete tree, or with i_folder its folder there.
void Open(ItemPtr i_entry, bool i_folder);
} // namespace DownloadOpener
