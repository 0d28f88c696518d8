// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/TransferRate.h"

#include <algorithm>
#include <cmath>

namespace zodaru {

void TransferRate::advanceTo(qint64 slice)
{
    if (newestSlice_ < 0) {
        newestSlice_ = slice;
        return;
    }
    if (slice <= newestSlice_)
        return;
    // Slices that passed without data count as zero.
    const qint64 passed = std::min<qint64>(slice - newestSlice_, kSlices);
    for (qint64 i = 1; i <= passed; ++i)
        slices_[size_t((newestSlice_ + i) % kSlices)] = 0;
    newestSlice_ = slice;
}

void TransferRate::add(qint64 bytes, qint64 nowMs)
{
    if (firstMs_ < 0)
        firstMs_ = nowMs;
    const qint64 slice = nowMs / kSliceMs;
    advanceTo(slice);
    // Data stamped before the newest slice (a clock that stepped back) joins the newest.
    slices_[size_t(newestSlice_ % kSlices)] += bytes;
}

qint64 TransferRate::windowBytes(qint64 nowMs) const
{
    if (newestSlice_ < 0)
        return 0;
    const qint64 current = std::max(nowMs / kSliceMs, newestSlice_);
    qint64 total = 0;
    for (qint64 slice = current - kSlices + 1; slice <= newestSlice_; ++slice)
        if (slice >= 0 && slice > newestSlice_ - kSlices)
            total += slices_[size_t(slice % kSlices)];
    return total;
}

double TransferRate::bytesPerSecond(qint64 nowMs) const
{
    if (firstMs_ < 0)
        return 0;
    // Over the window, or over the time since the first bytes while the window is not full.
    const qint64 span = std::min(kWindowMs, nowMs - firstMs_);
    if (span < 1000)
        return 0;
    return double(windowBytes(nowMs)) * 1000.0 / double(span);
}

qint64 TransferRate::secondsLeft(qint64 remaining, qint64 nowMs) const
{
    const double speed = bytesPerSecond(nowMs);
    if (speed <= 0 || remaining < 0)
        return -1;
    return qint64(std::ceil(double(remaining) / speed));
}

QString TransferRate::speedText(double bytesPerSecond)
{
    static const char *const units[] = {"B/s", "KB/s", "MB/s", "GB/s"};
    int unit = 0;
    double value = bytesPerSecond;
    while (value >= 1000 && unit < 3) {
        value /= 1000;
        ++unit;
    }
    const int decimals = unit == 0 || value >= 100 ? 0 : 1;
    return QString::number(value, 'f', decimals) + QLatin1Char(' ') + QLatin1String(units[unit]);
}

QString TransferRate::durationText(qint64 seconds)
{
    if (seconds < 0)
        return QString();
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    const QString mmss = QStringLiteral("%1:%2").arg(h > 0 ? QString::number(m).rightJustified(2, QLatin1Char('0'))
                                                            : QString::number(m))
                             .arg(s, 2, 10, QLatin1Char('0'));
    return h > 0 ? QString::number(h) + QLatin1Char(':') + mmss : mmss;
}

} // namespace zodaru
