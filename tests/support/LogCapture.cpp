#include "LogCapture.h"

#include <utility>

QString LogCapture::Entry::Text() const
{
    qsizetype const l_end = line.indexOf(QLatin1String("] "));
    return l_end < 0 ? line : line.mid(l_end + 2);
}

LogCapture::LogCapture()
{
    m_previous = SetLogTestSink(
        [this](QString const& area, int level, QString const& line)
        {
            m_entries.push_back(Entry{area, level, line});
            if (m_previous)
                m_previous(area, level, line);
        });
}

LogCapture::~LogCapture()
{
    SetLogTestSink(std::move(m_previous));
}

QStringList LogCapture::Texts() const
{
    QStringList l_texts;
    for (Entry const& l_entry : m_entries)
        l_texts << l_entry.Text();
    return l_texts;
}

QStringList LogCapture::Texts(QString const& area) const
{
    QStringList l_texts;
    for (Entry const& l_entry : m_entries)
        if (l_entry.area == area)
            l_texts << l_entry.Text();
    return l_texts;
}

int LogCapture::Count(QString const& area, int level, QString const& text) const
{
    QString const l_indented = IndentLogText(level, text);
    int l_count = 0;
    for (Entry const& l_entry : m_entries)
    {
        if (l_entry.area != area || l_entry.level != level)
            continue;
        QString const l_text = l_entry.Text();
        if (l_text == l_indented || l_text == text)
            ++l_count;
    }
    return l_count;
}

bool LogCapture::Contains(QString const& area, int level, QString const& text) const
{
    return Count(area, level, text) > 0;
}
