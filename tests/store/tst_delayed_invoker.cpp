// DelayedInvoker collapse, re-invoke from the slot, delay 0, different
// objects and slots, an unknown slot, and a target destroyed before its timer fires
// (its pending calls go at once, so a new object at the same address is not swallowed).

#include "store/DelayedInvoker.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>
#include <new>

class Target : public QObject
{
    Q_OBJECT

public:
    int sorts = 0;
    int refreshes = 0;
    int reinvokes = 0;
    QElapsedTimer clock;
    qint64 firstSortAt = -1;

signals:
    void Poked();

public slots:
    void Sort()
    {
        if (firstSortAt < 0 && clock.isValid())
            firstSortAt = clock.elapsed();
        ++sorts;
    }
    void Refresh() { ++refreshes; }
    void SortAgain()
    {
        ++reinvokes;
        if (reinvokes < 3)
            delayedInvoker->Invoke(this, "1SortAgain()", 0);
    }
};

class TestDelayedInvoker : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void globalPointer();
    void collapse();
    void separateObjects();
    void separateSlots();
    void reinvokeFromSlot();
    void delayZero();
    void unknownSlot();
    void signatureTextForms();
    void destroyedTarget();
    void newObjectAtSameAddress();
    void invokerDestroyedWithPending();

private:
    std::unique_ptr<DelayedInvoker> m_invoker;
};

void TestDelayedInvoker::init()
{
    m_invoker = std::make_unique<DelayedInvoker>(nullptr);
}

void TestDelayedInvoker::cleanup()
{
    m_invoker.reset();
}

void TestDelayedInvoker::globalPointer()
{
    QCOMPARE(delayedInvoker, m_invoker.get());
    m_invoker.reset();
    QCOMPARE(delayedInvoker, static_cast<DelayedInvoker*>(nullptr));
}

void TestDelayedInvoker::collapse()
{
    Target l_target;
    l_target.clock.start();
    m_invoker->Invoke(&l_target, "1Sort()", 200);
    QTest::qWait(50);
    m_invoker->Invoke(&l_target, "1Sort()", 10);   // the new delay is ignored
    m_invoker->Invoke(&l_target, "1Sort()", 3000); // and does not restart the timer
    QCOMPARE(m_invoker->PendingCount(), std::size_t(1));
    QTRY_COMPARE(l_target.sorts, 1);
    // One delay after the first call, not after the later ones. Qt's coarse timers may fire
    // up to 5% early, so the bound sits well below 200 yet far above the ignored 10 ms.
    QVERIFY2(l_target.firstSortAt >= 150, QByteArray::number(l_target.firstSortAt));
    QVERIFY2(l_target.firstSortAt < 2500, QByteArray::number(l_target.firstSortAt));
    QTest::qWait(300);
    QCOMPARE(l_target.sorts, 1);
    QCOMPARE(m_invoker->PendingCount(), std::size_t(0));
}

void TestDelayedInvoker::separateObjects()
{
    Target l_a;
    Target l_b;
    m_invoker->Invoke(&l_a, "1Sort()", 10);
    m_invoker->Invoke(&l_b, "1Sort()", 10);
    m_invoker->Invoke(&l_a, "1Sort()", 10);
    QCOMPARE(m_invoker->PendingCount(), std::size_t(2));
    QTRY_COMPARE(l_a.sorts + l_b.sorts, 2);
    QCOMPARE(l_a.sorts, 1);
    QCOMPARE(l_b.sorts, 1);
}

void TestDelayedInvoker::separateSlots()
{
    Target l_target;
    m_invoker->Invoke(&l_target, "1Sort()", 10);
    m_invoker->Invoke(&l_target, "1Refresh()", 10);
    QVERIFY(m_invoker->IsPending(&l_target, "1Sort()"));
    QVERIFY(m_invoker->IsPending(&l_target, "1Refresh()"));
    QTRY_COMPARE(l_target.sorts + l_target.refreshes, 2);
    QCOMPARE(l_target.sorts, 1);
    QCOMPARE(l_target.refreshes, 1);
}

void TestDelayedInvoker::reinvokeFromSlot()
{
    Target l_target;
    m_invoker->Invoke(&l_target, "1SortAgain()", 0);
    QTRY_COMPARE(l_target.reinvokes, 3);
    QTest::qWait(20);
    QCOMPARE(l_target.reinvokes, 3);
    QCOMPARE(m_invoker->PendingCount(), std::size_t(0));
}

void TestDelayedInvoker::delayZero()
{
    Target l_target;
    m_invoker->Invoke(&l_target, "1Sort()", 0);
    // Not before the current code returns to the event loop.
    QCOMPARE(l_target.sorts, 0);
    QVERIFY(m_invoker->IsPending(&l_target, "1Sort()"));
    QCoreApplication::processEvents();
    QTRY_COMPARE(l_target.sorts, 1);
    QVERIFY(!m_invoker->IsPending(&l_target, "1Sort()"));
}

void TestDelayedInvoker::unknownSlot()
{
    Target l_target;
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No such slot .*Nothing\\(\\)"));
    m_invoker->Invoke(&l_target, "1Nothing()", 0);
    QVERIFY(m_invoker->IsPending(&l_target, "1Nothing()"));
    QTRY_VERIFY(!m_invoker->IsPending(&l_target, "1Nothing()"));
    QCOMPARE(l_target.sorts, 0);
}

void TestDelayedInvoker::signatureTextForms()
{
    // The texts of Qt's SLOT() and SIGNAL() macros: a signature that is not normalised
    // still names its slot, and code 2 names a signal, which is emitted.
    Target l_target;
    int l_pokes = 0;
    connect(&l_target, &Target::Poked, this, [&l_pokes] { ++l_pokes; });
    m_invoker->Invoke(&l_target, "1Refresh( )", 0);
    m_invoker->Invoke(&l_target, "2Poked()", 0);
    QTRY_COMPARE(l_target.refreshes + l_pokes, 2);
    QCOMPARE(l_target.refreshes, 1);
    QCOMPARE(l_pokes, 1);

    // A slot text without its code names nothing.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No such slot Target::Sort\\(\\)$"));
    m_invoker->Invoke(&l_target, "Sort()", 0);
    QTRY_COMPARE(m_invoker->PendingCount(), std::size_t(0));
    QCOMPARE(l_target.sorts, 0);
}

void TestDelayedInvoker::destroyedTarget()
{
    auto l_target = std::make_unique<Target>();
    m_invoker->Invoke(l_target.get(), "1Sort()", 30);
    m_invoker->Invoke(l_target.get(), "1Refresh()", 30);
    Target l_other;
    m_invoker->Invoke(&l_other, "1Sort()", 30);
    QCOMPARE(m_invoker->PendingCount(), std::size_t(3));
    l_target.reset();
    // Dropped at once, not only when the timers fire.
    QCOMPARE(m_invoker->PendingCount(), std::size_t(1));
    QTRY_COMPARE(l_other.sorts, 1);
    QCOMPARE(m_invoker->PendingCount(), std::size_t(0));
}

void TestDelayedInvoker::newObjectAtSameAddress()
{
    // Reuse one block of memory so that the second object has the first one's address.
    alignas(Target) unsigned char l_storage[sizeof(Target)];
    Target* const l_first = new (l_storage) Target;
    m_invoker->Invoke(l_first, "1Sort()", 5000);
    l_first->~Target();

    Target* const l_second = new (l_storage) Target;
    QCOMPARE(static_cast<QObject*>(l_second), static_cast<QObject*>(l_first));
    m_invoker->Invoke(l_second, "1Sort()", 10);
    QTRY_COMPARE(l_second->sorts, 1);
    QCOMPARE(m_invoker->PendingCount(), std::size_t(0));
    l_second->~Target();
}

void TestDelayedInvoker::invokerDestroyedWithPending()
{
    Target l_target;
    m_invoker->Invoke(&l_target, "1Sort()", 10);
    m_invoker.reset();
    QTest::qWait(50);
    QCOMPARE(l_target.sorts, 0);
}

QTEST_MAIN(TestDelayedInvoker)
#include "tst_delayed_invoker.moc"
