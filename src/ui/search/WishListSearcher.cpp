#include "ui/search/WishListSearcher.h"

#include "net/server/Server.h"
#include "store/Data.h"
#include "store/Log.h"
#include "store/Settings.h"

#include <algorithm>
#include <limits>

WishListSearcher* wishListSearcher = nullptr;

namespace
{
char const c_positionKey[] = "wish_list_search_index";
} // namespace

WishListSearcher::WishListSearcher(QObject* ip_parent) : QObject(ip_parent)
{
    wishListSearcher = this;
    connect(gp_server, &Server::WishListWait, this, &WishListSearcher::OnWishListWait);
    SetVSetting(c_positionKey, QStringLiteral("0"));
    connect(&m_timer, &QTimer::timeout, this, &WishListSearcher::OnSearchTimerTimeout);
}

WishListSearcher::~WishListSearcher()
{
    if (wishListSearcher == this)
        wishListSearcher = nullptr;
}

int WishListSearcher::IntervalFor(unsigned int i_seconds)
{
    qint64 const l_milliseconds = qint64(i_seconds) * 1000;
    return int(std::min<qint64>(l_milliseconds, std::numeric_limits<int>::max()));
}

void WishListSearcher::OnWishListWait(unsigned int i_seconds)
{
    m_timer.stop();
    int const l_interval = IntervalFor(i_seconds);
    Log(LogArea::WishList, 1,
        QStringLiteral("Wish list wait period set to %1 milliseconds").arg(l_interval));
    // A timer of 0 ms would search at every pass of the event loop: 0 means no searches.
    if (l_interval == 0)
        return;
    m_timer.setInterval(l_interval);
    m_timer.setSingleShot(false);
    m_timer.start();
}

void WishListSearcher::OnSearchTimerTimeout()
{
    int const l_position = GetVSetting(c_positionKey).toInt();
    ItemList const l_wishes = d["wish_list_item"]->GetItems().Connected("wish_list_item_enabled").SortAlphabetic();
    if (l_wishes.empty())
        return;
    int const l_count = int(l_wishes.size());
    ItemPtr const l_wish = l_wishes[l_position > 0 ? l_position % l_count : 0];

    gp_server->FileSearch(l_wish.AsString(), true);
    Log(LogArea::WishList, 1, QStringLiteral("Sent wish list search: %1").arg(l_wish.AsString()));

    int const l_next = l_position + 1 < l_count ? l_position + 1 : 0;
    SetVSetting(c_positionKey, QString::number(l_next));
}
