// Upload slots and the shared upload speed limit: the total limit becomes an equal
// share per active upload, and the workers draw what they send from one byte budget.
// The three speed members are read and changed only under m_uploadSpeedMutex, which is
// held for single reads and updates, never across a sleep or any I/O.

#include "transfers/TransferQueueManager.h"

#include "store/Settings.h"

#include <QDateTime>
#include <QMutexLocker>

#include <algorithm>

namespace
{
// The limit in KB/s, or 0 when there is none.
int ConfiguredUploadLimit()
{
    int const l_limit = GetSettingInt("upload_speed_limit");
    return l_limit > 0 && IsSettingYes("upload_speed_limit_enabled") ? l_limit : 0;
}
} // namespace

ItemSet TransferQueueManager::ActiveUploads()
{
    ItemSet l_statuses;
    for (ItemPtr const& l_flag : d["is_active"]->GetItems())
        l_statuses.Add(l_flag.GetItems("upload_entry_status"));
    return l_statuses.GetItems("upload_entry");
}

void TransferQueueManager::DetermineUploadSpeedLimit()
{
    int const l_limit = ConfiguredUploadLimit();
    if (l_limit == 0)
    {
        QMutexLocker l_lock(&m_uploadSpeedMutex);
        m_uploadSpeedLimit = 0;
        m_uploadSpeedLimitPerUpload = 0;
        return;
    }

    // Requests not yet answered hold a slot, so they get a share too.
    ItemSet const l_active = ActiveUploads();
    int const l_count = static_cast<int>(l_active.size());
    {
        QMutexLocker l_lock(&m_uploadSpeedMutex);
        m_uploadSpeedLimit = l_limit;
        m_uploadSpeedLimitPerUpload = std::max(1, l_count > 0 ? l_limit / l_count : l_limit);
        m_uploadByteBudget = 0;
    }
    QDateTime const l_now = QDateTime::currentDateTime();
    for (ItemPtr const& l_entry : l_active)
    {
        if (auto* lp_start = l_entry["last_speed_measurement_time"].AsPtr<QDateTime>())
            *lp_start = l_now;
        if (auto* lp_bytes = l_entry["bytes_since_last_receipt"].AsPtr<qint64>())
            *lp_bytes = 0;
    }
}

void TransferQueueManager::EnableUploadSpeedLimit(bool i_enabled)
{
    SetSettingYesNo("upload_speed_limit_enabled", i_enabled);
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::SetUploadSpeedLimit(int i_kilobytesPerSecond)
{
    SetSetting("upload_speed_limit", QString::number(i_kilobytesPerSecond));
    DetermineUploadSpeedLimit();
}

void TransferQueueManager::SetUploadSlots(int i_slots)
{
    if (i_slots < 1 || i_slots > 99)
        return;
    int const l_old = GetSettingInt("upload_slots");
    SetSetting("upload_slots", QString::number(i_slots));
    // Fewer slots stop nothing: new requests wait until enough uploads have ended.
    if (i_slots > l_old)
        StartNewUploads();
}

int TransferQueueManager::GetUploadSpeed()
{
    QMutexLocker l_lock(&m_uploadSpeedMutex);
    return m_uploadSpeedLimit;
}

int TransferQueueManager::GetUploadSpeedLimitPerUpload()
{
    QMutexLocker l_lock(&m_uploadSpeedMutex);
    return m_uploadSpeedLimitPerUpload;
}

long long TransferQueueManager::GetUploadByteBudget()
{
    QMutexLocker l_lock(&m_uploadSpeedMutex);
    return m_uploadByteBudget;
}

long long TransferQueueManager::SettleUploadBytes(long long i_unsettled)
{
    QMutexLocker l_lock(&m_uploadSpeedMutex);
    if (i_unsettled < m_uploadByteBudget)
    {
        m_uploadByteBudget -= i_unsettled;
        return 0;
    }
    long long const l_excess = i_unsettled - m_uploadByteBudget;
    m_uploadByteBudget = 0;
    return l_excess;
}

void TransferQueueManager::RefillUploadBudget(long long i_bytes)
{
    QMutexLocker l_lock(&m_uploadSpeedMutex);
    m_uploadByteBudget += i_bytes;
}
