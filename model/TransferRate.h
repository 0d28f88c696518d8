// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <array>

namespace zodaru {

// The speed of one running transfer averaged over the last few seconds, and the time its
// remaining bytes will take at that speed. Fed with byte counts and the time they arrived
// (milliseconds of a monotonic clock), so it is tested without waiting.
class TransferRate final {
public:
    static constexpr qint64 kWindowMs = 5000;

    void add(qint64 bytes, qint64 nowMs);
    void reset() { *this = TransferRate(); }

    // Bytes per second over the window; 0 until a second's worth of data has arrived.
    double bytesPerSecond(qint64 nowMs) const;
    // Seconds to move `remaining` bytes at the current speed; -1 when it cannot be told.
    qint64 secondsLeft(qint64 remaining, qint64 nowMs) const;

    // "12.3 MB/s", "850 KB/s", "12 B/s" (decimal units, as transfer tools show them).
    static QString speedText(double bytesPerSecond);
    // "0:42", "12:05", "1:02:03"; empty when unknown.
    static QString durationText(qint64 seconds);

private:
    // One slot per 250 ms: bytes that arrived in that slice of time.
    static constexpr qint64 kSliceMs = 250;
    static constexpr int kSlices = int(kWindowMs / kSliceMs);
    std::array<qint64, kSlices> slices_{};
    qint64 newestSlice_ = -1;
    qint64 firstMs_ = -1;

    void advanceTo(qint64 slice);
    qint64 windowBytes(qint64 nowMs) const;
};

} // namespace zodaru
