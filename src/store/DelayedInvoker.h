#pragma once

// Delayed slot calls: Invoke(target, "1Slot()", ms) calls the slot once
// after the delay; further requests for the same target and slot while one is pending
// are ignored (the pending call keeps its time).

#include <QObject>
#include <QString>
#include <map>
#include <utility>

class QTimer;

class DelayedInvoker : public QObject
{
    Q_OBJECT

public:
    explicit DelayedInvoker(QObject* parent = nullptr);
    ~DelayedInvoker() override;

    // `slot` is the text of Qt's SLOT() macro ("1" + normalised signature, e.g.
    // "1Sort()"). A slot the target lacks makes Qt warn; the timer still fires and only
    // clears the pending entry.
    void Invoke(QObject* target, QString const& slot, int milliseconds);

    // Number of pending calls (for tests and diagnostics).
    std::size_t PendingCount() const { return m_pending.size(); }
    bool IsPending(QObject* target, QString const& slot) const;

public slots:
    void OnTimeout();

private slots:
    void OnTargetDestroyed(QObject* target);

private:
    using Call = std::pair<QObject*, QString>;

    void ForgetTargetIfIdle(QObject* target);

    std::map<Call, QTimer*> m_pending;
    std::map<QTimer*, Call> m_timers;
};

extern DelayedInvoker* delayedInvoker;
