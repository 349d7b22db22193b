#pragma once

// What the transfers under a folder or user row add up to: how many there are in each
// status that the row's shown status depends on, and the bytes done, left and in total
// of those whose status counts for progress. Rows keep one tally each and change it by
// one entry's figures at a time, so that a progress report of one transfer does not
// walk all the others.
//
// The sums are kept in 128 bits: the sizes come from peers, and adding up many of them
// must neither wrap nor lose a byte when an entry's figures are taken out again.

#include <QString>

// How a status text counts in a tally.
enum class TransferStatusClass
{
    None,     // no status yet, or one that counts in no rule ("requesting", "local error"...)
    Running,  // "downloading" / "uploading"
    Queued,
    Complete,
    Denied,
    Aborted
};

// One transfer's share of its rows' tallies.
struct TransferFigures
{
    TransferStatusClass m_status = TransferStatusClass::None;
    long long m_done = 0;
    long long m_left = 0;
    long long m_total = 0;

    // i_runningText is "downloading" or "uploading". A complete transfer counts its whole
    // size as done; a running, queued or aborted one its position (never more left than
    // nothing); any other adds no bytes, unless i_shown says the position is what its row
    // shows: a row above must add up the rows below it, a stopped one ("local error",
    // "denied"...) too.
    static TransferFigures Of(QString const& i_status, QString const& i_runningText,
                              long long i_position, long long i_size, bool i_shown = false);
    bool operator==(TransferFigures const& i_other) const = default;
};

class TransferTally
{
public:
    void Add(TransferFigures const& i_figures) { Apply(i_figures, 1); }
    void Remove(TransferFigures const& i_figures) { Apply(i_figures, -1); }

    // The status shown for the whole set: running, then queued, then complete when all
    // are (an empty set too), then denied, then aborted, else empty.
    QString Aggregate(QString const& i_runningText) const;

    // The sums, held within the range of long long.
    long long Done() const { return Clamp(m_done); }
    long long Left() const { return Clamp(m_left); }
    long long Total() const { return Clamp(m_total); }
    bool HasTotal() const { return m_total != 0; }
    // done * 100 / total as a floating-point number; 0 when the total is not positive.
    double Percent() const;
    int Count() const { return m_count; }
    int Running() const { return m_running; }

private:
    void Apply(TransferFigures const& i_figures, int i_sign);
    static long long Clamp(__int128 i_value);

    int m_count = 0;
    int m_running = 0;
    int m_queued = 0;
    int m_complete = 0;
    int m_denied = 0;
    int m_aborted = 0;
    __int128 m_done = 0;
    __int128 m_left = 0;
    __int128 m_total = 0;
};
