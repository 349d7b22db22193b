#include "store/DelayedInvoker.h"

#include <QTimer>

DelayedInvoker* delayedInvoker = nullptr;

DelayedInvoker::DelayedInvoker(QObject* parent) : QObject(parent)
{
    delayedInvoker = this;
}

DelayedInvoker::~DelayedInvoker()
{
    if (delayedInvoker == this)
        delayedInvoker = nullptr;
    // The timers are children and go with the invoker; the destroyed() connections of
    // the targets are removed by QObject.
}

bool DelayedInvoker::IsPending(QObject* target, QString const& slot) const
{
    return m_pending.count(Call(target, slot)) != 0;
}

void DelayedInvoker::Invoke(QObject* target, QString const& slot, int milliseconds)
{
    if (!target)
        return;
    Call const l_call(target, slot);
    if (m_pending.count(l_call))
        return;

    QTimer* const l_timer = new QTimer(this);
    connect(l_timer, &QTimer::timeout, this, &DelayedInvoker::OnTimeout);
    QByteArray const l_slot = slot.toLatin1();
    connect(l_timer, SIGNAL(timeout()), target, l_slot.constData());
    l_timer->setInterval(milliseconds < 0 ? 0 : milliseconds);
    l_timer->setSingleShot(true);

    // A target destroyed before its timer fires must drop its pending calls at once, so
    // that a new object at the same address is never taken for it.
    connect(target, &QObject::destroyed, this, &DelayedInvoker::OnTargetDestroyed,
            Qt::UniqueConnection);

    m_pending.emplace(l_call, l_timer);
    m_timers.emplace(l_timer, l_call);
    l_timer->start();
}

void DelayedInvoker::OnTimeout()
{
    QTimer* const l_timer = qobject_cast<QTimer*>(sender());
    auto const l_it = m_timers.find(l_timer);
    if (l_it == m_timers.end())
        return;
    QObject* const l_target = l_it->second.first;
    m_pending.erase(l_it->second);
    m_timers.erase(l_it);
    l_timer->deleteLater();
    ForgetTargetIfIdle(l_target);
}

void DelayedInvoker::OnTargetDestroyed(QObject* target)
{
    auto l_it = m_pending.lower_bound(Call(target, QString()));
    while (l_it != m_pending.end() && l_it->first.first == target)
    {
        QTimer* const l_timer = l_it->second;
        m_timers.erase(l_timer);
        l_it = m_pending.erase(l_it);
        l_timer->stop();
        l_timer->deleteLater();
    }
}

void DelayedInvoker::ForgetTargetIfIdle(QObject* target)
{
    auto const l_it = m_pending.lower_bound(Call(target, QString()));
    if (l_it != m_pending.end() && l_it->first.first == target)
        return;
    disconnect(target, &QObject::destroyed, this, &DelayedInvoker::OnTargetDestroyed);
}
