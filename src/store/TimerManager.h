#pragma once

// The three repeating application timers. Components connect their
// periodic slots to the timers' timeout() signals; slots of one timer run in the order
// in which they were connected, on the GUI thread.

#include <QTimer>

class TimerManager
{
public:
    // Starts the timers (30000, 300000 and 3600000 ms, repeating) and sets timerManager.
    TimerManager();
    // Clears timerManager when it points to this instance.
    ~TimerManager();

    TimerManager(TimerManager const&) = delete;
    TimerManager& operator=(TimerManager const&) = delete;

    QTimer* everyHalfMinute() { return &m_halfMinute; }
    QTimer* everyFiveMinutes() { return &m_fiveMinutes; }
    QTimer* everyHour() { return &m_hour; }

private:
    QTimer m_halfMinute;
    QTimer m_fiveMinutes;
    QTimer m_hour;
};

extern TimerManager* timerManager;
