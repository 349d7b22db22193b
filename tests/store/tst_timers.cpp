// The three application timers.

#include "store/TimerManager.h"

#include <QtTest>

#include <memory>

class TestTimers : public QObject
{
    Q_OBJECT

private slots:
    void intervalsAndState();
    void globalPointer();
    void slotsRunInConnectionOrder();
};

void TestTimers::intervalsAndState()
{
    TimerManager l_timers;
    QCOMPARE(l_timers.everyHalfMinute()->interval(), 30000);
    QCOMPARE(l_timers.everyFiveMinutes()->interval(), 300000);
    QCOMPARE(l_timers.everyHour()->interval(), 3600000);
    for (QTimer* l_timer :
         {l_timers.everyHalfMinute(), l_timers.everyFiveMinutes(), l_timers.everyHour()})
    {
        QVERIFY(l_timer->isActive());
        QVERIFY(!l_timer->isSingleShot());
        QVERIFY(l_timer->parent() == nullptr);
        // The first tick comes one interval after construction.
        QVERIFY(l_timer->remainingTime() > l_timer->interval() - 5000);
    }
}

void TestTimers::globalPointer()
{
    auto l_timers = std::make_unique<TimerManager>();
    QCOMPARE(timerManager, l_timers.get());
    l_timers.reset();
    QCOMPARE(timerManager, static_cast<TimerManager*>(nullptr));
}

void TestTimers::slotsRunInConnectionOrder()
{
    // Shorten one timer to see its ticks: the slots run in connection order, repeatedly.
    TimerManager l_timers;
    QStringList l_calls;
    QObject::connect(l_timers.everyHalfMinute(), &QTimer::timeout, [&] { l_calls << "a"; });
    QObject::connect(l_timers.everyHalfMinute(), &QTimer::timeout, [&] { l_calls << "b"; });
    l_timers.everyHalfMinute()->start(5);
    QTRY_VERIFY(l_calls.size() >= 4);
    l_timers.everyHalfMinute()->stop();
    QCOMPARE(l_calls.mid(0, 4), (QStringList{"a", "b", "a", "b"}));
}

QTEST_MAIN(TestTimers)
#include "tst_timers.moc"
