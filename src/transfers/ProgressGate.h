#pragma once

// Paces the progress reports of one transfer worker: a report at most once per
// interval, the first chunk's at once, and the last chunk's always. Each queued report
// costs the GUI thread an event and a store look-up, so at thousands of chunks a
// second reporting every chunk would take more time than moving the bytes; the
// transfers page lags by one interval at most instead.
//
// It also measures the speed that goes with a report: bytes since the measurement
// began per elapsed millisecond, worked out only when a report is made. Lives on the
// worker's thread; one monotonic clock read per chunk.

#include <QElapsedTimer>
#include <QtGlobal>

class ProgressGate
{
public:
    static constexpr qint64 c_intervalMs = 100;

    // Starts the clock and the speed measurement.
    ProgressGate();

    // Starts a new speed measurement from now; the pacing of reports goes on.
    void RestartMeasurement();
    // Counts a chunk just moved. True when it is to be reported now: the first one, the
    // last one, and any other once the interval since the previous report has passed.
    bool Moved(qint64 i_bytes, bool i_last);
    // While the worker waits: true when a chunk is still unreported and its report is
    // due. Either answer true means the report is to be made now.
    bool IsPendingDue();
    bool IsPending() const { return m_pending; }
    // Milliseconds until a pending report is due (0 when due, the interval when none
    // is pending), so that a wait can end in time for it.
    qint64 MsUntilDue() const;
    // The pending chunk has been reported (a failure reports what was moved first).
    void MarkReported();
    // Bytes per second over the measurement, as of the last chunk or check; 0 before a
    // millisecond has passed.
    int Rate() const;

private:
    QElapsedTimer m_clock;
    qint64 m_now = 0;
    qint64 m_measuredFrom = 0;
    qint64 m_measuredBytes = 0;
    // When the last report was made; negative before the first.
    qint64 m_reportedAt = -1;
    bool m_pending = false;
};
