// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <mutex>

namespace zodaru {

// The speed one direction may not go past, shared by every engine transferring in that
// direction: each data loop takes its bytes from it before moving them, so that several
// transfers at once share the rate rather than each having it.
//
// Thread rules: any thread. take() waits on the calling thread (a transfer's worker),
// never holding the lock while it sleeps.
class RateLimit final {
public:
    // Bytes per second; 0: no limit.
    explicit RateLimit(qint64 bytesPerSecond = 0);
    // A new rate holds from the next take() on, for transfers already running too.
    void setRate(qint64 bytesPerSecond);
    qint64 rate() const { return rate_.load(std::memory_order_relaxed); }

    // Before `bytes` move: returns once the rate allows them (at once without a limit).
    // False when `stop` became true while waiting, looked at often enough that a
    // cancelled transfer never waits here for long.
    bool take(qint64 bytes, const std::atomic<bool> &stop);

private:
    std::atomic<qint64> rate_;
    std::mutex mutex_;
};

} // namespace zodaru
