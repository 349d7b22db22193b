#include "transfers/ProgressGate.h"

#include <algorithm>
#include <limits>

ProgressGate::ProgressGate()
{
    m_clock.start();
}

void ProgressGate::RestartMeasurement()
{
    m_now = m_clock.elapsed();
    m_measuredFrom = m_now;
    m_measuredBytes = 0;
}

bool ProgressGate::Moved(qint64 i_bytes, bool i_last)
{
    m_measuredBytes += i_bytes;
    m_now = m_clock.elapsed();
    m_pending = !i_last && m_reportedAt >= 0 && m_now - m_reportedAt < c_intervalMs;
    if (!m_pending)
        m_reportedAt = m_now;
    return !m_pending;
}

bool ProgressGate::IsPendingDue()
{
    if (!m_pending)
        return false;
    m_now = m_clock.elapsed();
    if (m_now - m_reportedAt < c_intervalMs)
        return false;
    MarkReported();
    return true;
}

qint64 ProgressGate::MsUntilDue() const
{
    if (!m_pending)
        return c_intervalMs;
    return std::max<qint64>(0, m_reportedAt + c_intervalMs - m_clock.elapsed());
}

void ProgressGate::MarkReported()
{
    m_pending = false;
    m_reportedAt = m_now;
}

int ProgressGate::Rate() const
{
    qint64 const l_elapsed = m_now - m_measuredFrom;
    if (l_elapsed <= 0)
        return 0;
    return static_cast<int>(
        std::min<qint64>(m_measuredBytes * 1000 / l_elapsed, std::numeric_limits<int>::max()));
}
