#pragma once

// The one logging entry of the program.
//
// Log(area, level, text, item) forwards all four arguments unchanged to the log
// receiver that the diagnostics form installs (SetLogReceiver). Tests install a sink
// (SetLogTestSink, or the RAII LogCapture of tests/support) that receives every line
// already formatted as the diagnostics form shows it. With neither installed the line
// is dropped. Log never fails and never writes a file. GUI thread only.

#include "store/Data.h"

#include <QString>
#include <functional>

// Area names used by the components.
namespace LogArea
{
inline constexpr char const* Server = "server";
inline constexpr char const* PortForwarding = "Port Forwarding";
inline constexpr char const* PeerMessenger = "Peer Messenger";
inline constexpr char const* DistributedNetwork = "Distributed Network";
inline constexpr char const* Shared = "Shared";
inline constexpr char const* Mp3Scanning = "MP3 Scanning";
inline constexpr char const* Search = "Search";
inline constexpr char const* WishList = "Wish List";
inline constexpr char const* TransferQueue = "Transfer Queue";
inline constexpr char const* TimerTest = "Timer Test";
inline constexpr char const* ConfigurationData = "Configuration Data";
} // namespace LogArea

// Level 1 is an event, level 2 the detail under it; each level above 1 indents further.
void Log(QString const& area, int level, QString const& text, ItemPtr item = ItemPtr());

// The log line: "[" + QDateTime::currentDateTime() in Qt::TextDate + "] " +
// three spaces for every level above 1 + text. The diagnostics form builds its lines
// with this function.
QString FormatLogLine(int level, QString const& text);

// The indented text alone (three spaces per level above 1, then the text).
QString IndentLogText(int level, QString const& text);

// The diagnostics form's side: a receiver of the four arguments of Log. The form
// installs itself when it is created and passes an empty function when it goes.
// Returns the receiver that was installed before.
using LogReceiver =
    std::function<void(QString const& area, int level, QString const& text, ItemPtr const& item)>;
LogReceiver SetLogReceiver(LogReceiver receiver);
bool HasLogReceiver();

// Tests' side: receives area, level and the formatted line of every Log call, whether or
// not a receiver is installed. Returns the sink that was installed before.
using LogTestSink = std::function<void(QString const& area, int level, QString const& line)>;
LogTestSink SetLogTestSink(LogTestSink sink);

// Whether a line would reach anyone (a receiver or a test sink): hot paths skip
// building lines that nobody reads.
bool IsLogHeard();
