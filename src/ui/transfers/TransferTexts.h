#pragma once

// The texts and numbers of the transfer trees' progress cells. Every figure that comes
// from a peer may be anything a 64-bit field holds, so each function gives a finite,
// in-range result for any input: no infinity or NaN ever reaches an int.

#include <QString>

namespace TransferTexts
{
// p * 100 / s as a floating-point number; 0 for a size of 0 or less.
double Percent(long long i_position, long long i_size);
// The bar's value: the percentage truncated, held within 0 to 100.
int BarValue(double i_percent);
// "<done commafied> (<percent with one decimal>%)"; a done of 0 leaves a lone blank.
QString ProgressText(long long i_done, double i_percent);
// Bytes per second as kilobytes per second with one decimal.
QString SpeedText(int i_bytesPerSecond);
// Whole seconds to move the bytes left at the rate; 0 without a positive rate.
long long SecondsLeft(long long i_bytesLeft, int i_bytesPerSecond);
// Bytes left of a transfer at the position: never less than 0.
long long BytesLeft(long long i_position, long long i_size);
// Three blanks, then "<h>h:" from an hour on, "<m>m:" from a minute on, and "<s>s".
QString TimeLeftText(long long i_seconds);
} // namespace TransferTexts
