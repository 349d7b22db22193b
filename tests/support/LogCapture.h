#pragma once

// RAII capture of log lines for tests: while a LogCapture lives, every Log call is
// recorded as (area, level, line), the line formatted exactly as the diagnostics form
// shows it. Captures nest: the sink installed before is restored (and still fed) when
// the capture ends.
//
//     LogCapture log;
//     ... code under test ...
//     QVERIFY(log.Contains("Configuration Data", 1, "Failure to save configuration data."));

#include "store/Log.h"

#include <QString>
#include <QStringList>
#include <vector>

class LogCapture
{
public:
    struct Entry
    {
        QString area;
        int level;
        QString line;
        // The line without the "[date] " prefix: indentation and text.
        QString Text() const;
    };

    LogCapture();
    ~LogCapture();
    LogCapture(LogCapture const&) = delete;
    LogCapture& operator=(LogCapture const&) = delete;

    std::vector<Entry> const& Entries() const { return m_entries; }
    // The texts (indentation included) of every line, or of one area's lines.
    QStringList Texts() const;
    QStringList Texts(QString const& area) const;
    // Whether a line of the area and level has exactly this text after "] " (with the
    // indentation of its level added in front when `text` lacks it).
    bool Contains(QString const& area, int level, QString const& text) const;
    int Count(QString const& area, int level, QString const& text) const;
    void Clear() { m_entries.clear(); }

private:
    std::vector<Entry> m_entries;
    LogTestSink m_previous;
};
