// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/RateLimit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace zodaru {

namespace {

constexpr double kNsPerSecond = 1e9;

class SystemClock final : public RateClock {
public:
    qint64 nowNs() override
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    void sleepNs(qint64 ns) override { std::this_thread::sleep_for(std::chrono::nanoseconds(ns)); }
};

} // namespace

std::shared_ptr<RateClock> RateClock::system()
{
    static const std::shared_ptr<RateClock> clock = std::make_shared<SystemClock>();
    return clock;
}

RateLimit::RateLimit(qint64 bytesPerSecond) : RateLimit(bytesPerSecond, RateClock::system()) {}

RateLimit::RateLimit(qint64 bytesPerSecond, std::shared_ptr<RateClock> clock)
    : rate_(bytesPerSecond > 0 ? bytesPerSecond : 0), clock_(clock ? std::move(clock) : RateClock::system())
{
}

void RateLimit::setRate(qint64 bytesPerSecond)
{
    const std::lock_guard lock(mutex_);
    const qint64 old = rate_.load(std::memory_order_relaxed);
    // What was earned until now counts at the old rate; after no limit, a full bucket.
    if (started_ && old > 0)
        earn(clock_->nowNs(), old);
    else
        started_ = false;
    rate_.store(bytesPerSecond > 0 ? bytesPerSecond : 0, std::memory_order_relaxed);
}

void RateLimit::earn(qint64 now, qint64 rate)
{
    const double burst = double(burstFor(rate));
    if (!started_) {
        started_ = true;
        tokens_ = burst;
    } else {
        // What was owed stays owed in bytes, so that a new rate times the debt anew.
        const qint64 elapsed = std::max<qint64>(now - lastNs_, 0);
        tokens_ = std::min(burst, tokens_ + double(elapsed) * double(rate) / kNsPerSecond);
    }
    lastNs_ = std::max(lastNs_, now);
}

qint64 RateLimit::burstFor(qint64 bytesPerSecond)
{
    return std::max(bytesPerSecond / 8, kMinBurst);
}

qint64 RateLimit::stepUnder(const std::shared_ptr<RateLimit> &limit, qint64 wanted)
{
    const qint64 rate = limit ? limit->rate() : 0;
    return rate > 0 ? std::min(wanted, burstFor(rate)) : wanted;
}

bool RateLimit::take(qint64 bytes, const std::atomic<bool> &stop)
{
    // Unlimited, or nothing to move (a read that found nothing): nothing to count, nothing
    // to read the time for, and no waiting for what the other transfers owe.
    if (bytes <= 0 || rate_.load(std::memory_order_relaxed) == 0)
        return !stop.load(std::memory_order_relaxed);

    qint64 rate = 0;
    qint64 deadline = 0;
    qint64 now = 0;
    {
        const std::lock_guard lock(mutex_);
        // Read again under the lock: setRate() may have lifted it meanwhile.
        rate = rate_.load(std::memory_order_relaxed);
        if (rate == 0)
            return !stop.load(std::memory_order_relaxed);
        now = clock_->nowNs();
        earn(now, rate);
        tokens_ -= double(bytes);
        // Capped far beyond any real wait, so that the sum cannot overflow.
        const double owedNs = std::min(std::ceil(-tokens_ * kNsPerSecond / double(rate)), 1e17);
        deadline = tokens_ >= 0 ? now : now + qint64(owedNs);
    }

    while (now < deadline) {
        if (stop.load(std::memory_order_relaxed)) {
            // The transfer ends here: the wait left goes back to the others, at the rate it
            // was counted at (a burst at most, for a download whose bytes came already).
            const std::lock_guard lock(mutex_);
            const double unused = double(deadline - now) * double(rate) / kNsPerSecond;
            tokens_ = std::min(double(burstFor(rate)), tokens_ + unused);
            return false;
        }
        if (rate_.load(std::memory_order_relaxed) == 0)
            return true;
        clock_->sleepNs(std::min(deadline - now, kSliceNs));
        now = clock_->nowNs();
    }
    return !stop.load(std::memory_order_relaxed);
}

} // namespace zodaru
