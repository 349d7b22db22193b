#include "store/Log.h"

#include <QDateTime>
#include <utility>

namespace
{
LogReceiver& Receiver()
{
    static LogReceiver s_receiver;
    return s_receiver;
}

LogTestSink& TestSink()
{
    static LogTestSink s_sink;
    return s_sink;
}
} // namespace

QString IndentLogText(int level, QString const& text)
{
    if (level <= 1)
        return text;
    QString l_result(static_cast<qsizetype>(level - 1) * 3, QLatin1Char(' '));
    l_result += text;
    return l_result;
}

QString FormatLogLine(int level, QString const& text)
{
    return QLatin1Char('[') + QDateTime::currentDateTime().toString(Qt::TextDate) +
           QLatin1String("] ") + IndentLogText(level, text);
}

void Log(QString const& area, int level, QString const& text, ItemPtr item)
{
    // Copies, so that a receiver or sink may replace itself while it runs.
    if (LogTestSink const l_sink = TestSink())
        l_sink(area, level, FormatLogLine(level, text));
    if (LogReceiver const l_receiver = Receiver())
        l_receiver(area, level, text, item);
}

LogReceiver SetLogReceiver(LogReceiver receiver)
{
    return std::exchange(Receiver(), std::move(receiver));
}

bool HasLogReceiver()
{
    return static_cast<bool>(Receiver());
}

LogTestSink SetLogTestSink(LogTestSink sink)
{
    return std::exchange(TestSink(), std::move(sink));
}

bool IsLogHeard()
{
    return static_cast<bool>(Receiver()) || static_cast<bool>(TestSink());
}
