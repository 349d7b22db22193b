#include "store/DelayedInvoker.h"

#include <QMetaMethod>
#include <QTimer>

DelayedInvoker* delayedInvoker = nullptr;

namespace
{
// The method that a slot text names: "1" + signature for a slot, "2" + signature for a
// signal (the codes of Qt's SLOT() and SIGNAL() texts). Invalid when the target has none.
QMetaMethod MethodFromText(QObject const* target, QByteArray const& text)
{
    if (text.size() < 2)
        return QMetaMethod();
    QByteArray const l_signature = QMetaObject::normalizedSignature(text.constData() + 1);
    QMetaObject const* const lp_meta = target->metaObject();
    int l_index = -1;
    if (text.front() == '1')
        l_index = lp_meta->indexOfSlot(l_signature.constData());
    else if (text.front() == '2')
        l_index = lp_meta->indexOfSignal(l_signature.constData());
    return l_index < 0 ? QMetaMethod() : lp_meta->method(l_index);
}
} // namespace

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
    QMetaMethod const l_method = MethodFromText(target, l_slot);
    // An unknown slot only loses the call: the timer still fires and clears the entry.
    if (!l_method.isValid())
        qWarning("DelayedInvoker: No such slot %s::%s", target->metaObject()->className(),
                 l_slot.startsWith('1') || l_slot.startsWith('2') ? l_slot.constData() + 1
                                                                   : l_slot.constData());
    else
        connect(l_timer, QMetaMethod::fromSignal(&QTimer::timeout), target, l_method);
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
