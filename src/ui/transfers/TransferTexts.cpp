#include "ui/transfers/TransferTexts.h"

#include "store/GeneralFunctions.h"

#include <cmath>

namespace TransferTexts
{
double Percent(long long i_position, long long i_size)
{
    if (i_size <= 0)
        return 0.0;
    return static_cast<double>(i_position) * 100.0 / static_cast<double>(i_size);
}

int BarValue(double i_percent)
{
    if (!(i_percent > 0.0)) // NaN included
        return 0;
    if (i_percent >= 100.0)
        return 100;
    return static_cast<int>(i_percent);
}

QString ProgressText(long long i_done, double i_percent)
{
    if (!std::isfinite(i_percent))
        i_percent = 0.0;
    return QStringLiteral("%1 (%2%)").arg(CommafyNumber(i_done)).arg(i_percent, 0, 'f', 1);
}

QString SpeedText(int i_bytesPerSecond)
{
    return QString::number(static_cast<double>(i_bytesPerSecond) / 1024.0, 'f', 1);
}

long long SecondsLeft(long long i_bytesLeft, int i_bytesPerSecond)
{
    if (i_bytesPerSecond <= 0 || i_bytesLeft <= 0)
        return 0;
    return i_bytesLeft / i_bytesPerSecond;
}

long long BytesLeft(long long i_position, long long i_size)
{
    if (i_position >= i_size)
        return 0;
    // A negative position cannot come from the transfer queues; held at the size so
    // that the difference stays in range.
    return i_position < 0 ? i_size : i_size - i_position;
}

QString TimeLeftText(long long i_seconds)
{
    QString l_text = QStringLiteral("%1s").arg(i_seconds % 60);
    if (i_seconds > 59)
        l_text.prepend(QStringLiteral("%1m:").arg((i_seconds / 60) % 60));
    if (i_seconds > 3599)
        l_text.prepend(QStringLiteral("%1h:").arg(i_seconds / 3600));
    return QStringLiteral("   ") + l_text;
}
} // namespace TransferTexts
