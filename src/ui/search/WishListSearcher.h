#pragma once

// Sends the wish list to the server one wish at a time, on the period the server asks
// for: each tick sends the next enabled wish in alphabetical (case-sensitive) order,
// starting again after the last. The position is a run-only setting, so every run
// starts with the first wish. Nothing is sent before the server has given a period,
// and a period of 0 stops the searches.
//
// One instance, reached through wishListSearcher. GUI thread only.

#include <QObject>
#include <QTimer>

class WishListSearcher : public QObject
{
    Q_OBJECT

public:
    explicit WishListSearcher(QObject* ip_parent = nullptr);
    ~WishListSearcher() override;

    // The timer's interval in milliseconds for a period in seconds: at most what a
    // timer can hold.
    static int IntervalFor(unsigned int i_seconds);
    QTimer const& Timer() const { return m_timer; }

public slots:
    void OnWishListWait(unsigned int i_seconds);
    void OnSearchTimerTimeout();

private:
    QTimer m_timer;
};

extern WishListSearcher* wishListSearcher;
