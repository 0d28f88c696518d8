// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>

namespace zodaru {

// The time a RateLimit reads and the way it waits, apart so that its arithmetic can run
// on a clock that tests move themselves. Both are called from the transfer threads at
// once; nowNs() at times under the limit's lock, sleepNs() never.
class RateClock {
public:
    virtual ~RateClock() = default;
    // Monotonic nanoseconds from any fixed origin.
    virtual qint64 nowNs() = 0;
    virtual void sleepNs(qint64 ns) = 0;

    // steady_clock and this_thread::sleep_for; shared by every limit made without a clock.
    static std::shared_ptr<RateClock> system();
};

// The speed one direction may not go past, shared by every engine transferring in that
// direction: each data loop takes its bytes from it before moving them, so that several
// transfers at once share the rate rather than each having it.
//
// A token bucket holding at most burst() bytes (an eighth of a second of the rate, or one
// chunk when that is more): over any span the bytes let through stay under
// rate * span + burst(). A taking larger than the bucket goes into debt and waits until
// the rate has paid it, so that a step of any size is allowed, its wait in proportion.
//
// Thread rules: any thread. take() waits on the calling thread (a transfer's worker),
// never holding the lock while it sleeps.
class RateLimit final {
public:
    // The longest a take() sleeps before it looks at its stop flag again.
    static constexpr qint64 kSliceNs = 50'000'000;
    // The least the bucket holds: one chunk of a transfer.
    static constexpr qint64 kMinBurst = 16384;

    // Bytes per second; 0: no limit.
    explicit RateLimit(qint64 bytesPerSecond = 0);
    RateLimit(qint64 bytesPerSecond, std::shared_ptr<RateClock> clock);
    Q_DISABLE_COPY_MOVE(RateLimit)

    // A new rate holds from the next take() on, for transfers already running too. One
    // waiting when the limit is lifted (0) goes on at once.
    void setRate(qint64 bytesPerSecond);
    qint64 rate() const { return rate_.load(std::memory_order_relaxed); }
    // What may go at once after a pause, at `bytesPerSecond`.
    static qint64 burstFor(qint64 bytesPerSecond);
    qint64 burst() const { return burstFor(rate()); }

    // Before `bytes` move: returns once the rate allows them (at once without a limit).
    // False when `stop` became true while waiting, looked at often enough that a
    // cancelled transfer never waits here for long; the time it did not wait is given
    // back to the takings after it.
    bool take(qint64 bytes, const std::atomic<bool> &stop);

    // How much a data loop moves in one step under `limit` (null: none): `wanted`, or a
    // burst when less, so that progress and the rate stay even over short spans.
    static qint64 stepUnder(const std::shared_ptr<RateLimit> &limit, qint64 wanted);

private:
    std::atomic<qint64> rate_;
    const std::shared_ptr<RateClock> clock_;
    std::mutex mutex_;
    // Under mutex_: brings the bucket to `now`, earning at `rate` since lastNs_.
    void earn(qint64 now, qint64 rate);

    // Under mutex_: the bytes that may go as of lastNs_ (negative: owed); started_ once
    // counted at a rate (a full bucket first).
    double tokens_ = 0;
    qint64 lastNs_ = 0;
    bool started_ = false;
};

} // namespace zodaru
