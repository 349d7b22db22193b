#include "store/TimerManager.h"

TimerManager* timerManager = nullptr;

namespace
{
void StartRepeating(QTimer& timer, int milliseconds)
{
    timer.setSingleShot(false);
    timer.start(milliseconds);
}
} // namespace

TimerManager::TimerManager()
{
    timerManager = this;
    StartRepeating(m_halfMinute, 30000);
    StartRepeating(m_fiveMinutes, 300000);
    StartRepeating(m_hour, 3600000);
}

TimerManager::~TimerManager()
{
    if (timerManager == this)
        timerManager = nullptr;
}
