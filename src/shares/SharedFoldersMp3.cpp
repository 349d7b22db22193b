// Storing the MP3 scanner's answers. They arrive queued from the scanner thread, in
// the order the files were asked for, possibly after later walks changed the index.

#include "shares/SharedFoldersManager.h"

#include "store/Log.h"

void SharedFoldersManager::OnMP3Scanned(QString i_file, int i_mpegVersion, QString i_channelMode,
                                        int i_frequency, bool i_isVBR, int i_bitrate)
{
    Log(LogArea::Mp3Scanning, 1, QStringLiteral("Scanned %1").arg(i_file));
    // Looked up by path: the file may have left the index since it was asked for.
    ItemPtr const l_file = GetSharedFileItem(i_file);
    if (!l_file)
        return;
    // Each attribute holds one item per file, so a new answer replaces the old one.
    l_file += d["mpeg_version"]->GetItem(Value(i_mpegVersion));
    l_file += d["channel_mode"]->GetItem(Value(i_channelMode));
    l_file += d["audio_frequency"]->GetItem(Value(i_frequency));
    l_file += d["bitrate_mode"]->GetItem(Value(i_isVBR ? "vbr" : "cbr"));
    l_file += d["bitrate"]->GetItem(Value(i_bitrate));
    l_file.NewItem("is_scanned");
}
