#include "ui/transfers/TransferTally.h"

#include "ui/transfers/TransferTexts.h"

#include <limits>

TransferFigures TransferFigures::Of(QString const& i_status, QString const& i_runningText,
                                    long long i_position, long long i_size, bool i_shown)
{
    TransferFigures l_figures;
    if (i_status == i_runningText)
        l_figures.m_status = TransferStatusClass::Running;
    else if (i_status == QLatin1String("queued"))
        l_figures.m_status = TransferStatusClass::Queued;
    else if (i_status == QLatin1String("complete"))
        l_figures.m_status = TransferStatusClass::Complete;
    else if (i_status == QLatin1String("denied"))
        l_figures.m_status = TransferStatusClass::Denied;
    else if (i_status == QLatin1String("aborted"))
        l_figures.m_status = TransferStatusClass::Aborted;

    switch (l_figures.m_status)
    {
    case TransferStatusClass::Complete:
        l_figures.m_done = i_size;
        l_figures.m_total = i_size;
        break;
    case TransferStatusClass::None:
    case TransferStatusClass::Denied:
        if (!i_shown)
            break;
        [[fallthrough]];
    case TransferStatusClass::Running:
    case TransferStatusClass::Queued:
    case TransferStatusClass::Aborted:
    {
        l_figures.m_done = i_position;
        l_figures.m_total = i_size;
        l_figures.m_left = TransferTexts::BytesLeft(i_position, i_size);
        break;
    }
    }
    return l_figures;
}

QString TransferTally::Aggregate(QString const& i_runningText) const
{
    if (m_running > 0)
        return i_runningText;
    if (m_queued > 0)
        return QStringLiteral("queued");
    if (m_complete == m_count)
        return QStringLiteral("complete");
    if (m_denied > 0)
        return QStringLiteral("denied");
    if (m_aborted > 0)
        return QStringLiteral("aborted");
    return QString();
}

double TransferTally::Percent() const
{
    if (m_total <= 0)
        return 0.0;
    return static_cast<double>(m_done * 100) / static_cast<double>(m_total);
}

void TransferTally::Apply(TransferFigures const& i_figures, int i_sign)
{
    m_count += i_sign;
    switch (i_figures.m_status)
    {
    case TransferStatusClass::Running: m_running += i_sign; break;
    case TransferStatusClass::Queued: m_queued += i_sign; break;
    case TransferStatusClass::Complete: m_complete += i_sign; break;
    case TransferStatusClass::Denied: m_denied += i_sign; break;
    case TransferStatusClass::Aborted: m_aborted += i_sign; break;
    case TransferStatusClass::None: break;
    }
    m_done += static_cast<__int128>(i_sign) * i_figures.m_done;
    m_left += static_cast<__int128>(i_sign) * i_figures.m_left;
    m_total += static_cast<__int128>(i_sign) * i_figures.m_total;
}

long long TransferTally::Clamp(__int128 i_value)
{
    constexpr long long c_max = std::numeric_limits<long long>::max();
    constexpr long long c_min = std::numeric_limits<long long>::min();
    if (i_value > c_max)
        return c_max;
    if (i_value < c_min)
        return c_min;
    return static_cast<long long>(i_value);
}
