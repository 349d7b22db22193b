#pragma once

// One upload worker's side of the shared upload speed budget. Before every chunk the
// worker settles what it sent since the last settlement with the budget that all
// running uploads share, sleeps off any overdraft at its share of the limit, and puts
// back the allowance its share earned meanwhile; an upload that sends less than its
// share so leaves room for the others.
//
// The pacer lives on the worker's stack and holds no lock; the shared budget and the
// shares are read and changed only through the manager's locked operations. Time and
// sleep come from outside so that the arithmetic can be driven by a made-up clock.

#include <QtGlobal>

#include <functional>

class TransferQueueManager;

class UploadPacer
{
public:
    // Milliseconds from any fixed start.
    using Clock = std::function<qint64()>;
    // Sleeps up to the given milliseconds; false asks the worker to stop.
    using Sleeper = std::function<bool(qint64 i_milliseconds)>;

    // i_share is the share the worker starts out with. The budget clock starts now.
    UploadPacer(TransferQueueManager& io_account, int i_share, Clock i_clock, Sleeper i_sleep);

    // The two steps before a chunk. First the current share is read: true when it
    // differs from the one the previous chunk went out with (the worker then restarts
    // its speed measurement).
    bool TakeShare();
    // Then the worker pays for what it sent: settles with the budget and sleeps off any
    // overdraft. False when the sleeper asked to stop.
    bool Pay();
    // The chunk of that many bytes has been sent.
    void AfterChunk(qint64 i_bytes);

private:
    qint64 RestartClock();

    TransferQueueManager& m_account;
    Clock m_clock;
    Sleeper m_sleep;
    // The share (KB/s) the last chunk went out with, and the one read for the next.
    int m_share;
    int m_nextShare;
    // Bytes sent since the last settlement, and what that settlement left unpaid.
    qint64 m_unsettled = 0;
    // When the last settlement (or the transfer) began.
    qint64 m_settledAt;
};
