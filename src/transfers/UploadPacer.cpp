#include "transfers/UploadPacer.h"

#include "transfers/TransferQueueManager.h"

#include <utility>

UploadPacer::UploadPacer(TransferQueueManager& io_account, int i_share, Clock i_clock,
                         Sleeper i_sleep)
    : m_account(io_account), m_clock(std::move(i_clock)), m_sleep(std::move(i_sleep)),
      m_share(i_share), m_nextShare(i_share), m_settledAt(m_clock())
{
}

qint64 UploadPacer::RestartClock()
{
    qint64 const l_now = m_clock();
    qint64 const l_elapsed = l_now - m_settledAt;
    m_settledAt = l_now;
    return l_elapsed;
}

bool UploadPacer::TakeShare()
{
    m_nextShare = m_account.GetUploadSpeedLimitPerUpload();
    bool const l_changed = m_nextShare != m_share;
    if (l_changed && m_share == 0)
    {
        // What went out while there was no limit is nobody's debt, and the time it
        // took is nobody's credit: the limit starts afresh.
        m_unsettled = 0;
        RestartClock();
    }
    return l_changed;
}

bool UploadPacer::Pay()
{
    int const l_share = m_nextShare;
    if (l_share == 0)
        return true;

    qint64 const l_excess = m_account.SettleUploadBytes(m_unsettled);
    // Bytes over KB/s: the overdraft's length in milliseconds, near enough.
    qint64 l_now = m_clock() - m_settledAt;
    qint64 const l_target = l_now + l_excess / l_share;
    while (l_now < l_target)
    {
        if (!m_sleep(l_target - l_now))
            return false;
        l_now = m_clock() - m_settledAt;
    }
    qint64 const l_interval = RestartClock();
    // 64-bit throughout: a large share over a long interval passes 32 bits.
    qint64 const l_refill = qint64(l_share) * 1024 * l_interval / 1000 - l_excess;
    // What the sleep did not pay for (it is cut to whole milliseconds, and at high
    // shares to none at all) stays owed and is settled with the next chunk; dropping
    // it would let every upload run over its share.
    m_unsettled = l_refill < 0 ? -l_refill : 0;
    if (l_refill > 0)
        m_account.RefillUploadBudget(l_refill);
    return true;
}

void UploadPacer::AfterChunk(qint64 i_bytes)
{
    m_unsettled += i_bytes;
    m_share = m_nextShare;
}
