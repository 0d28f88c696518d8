// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/RateLimit.h"

namespace zodaru {

RateLimit::RateLimit(qint64 bytesPerSecond) : rate_(bytesPerSecond > 0 ? bytesPerSecond : 0) {}

void RateLimit::setRate(qint64 bytesPerSecond)
{
    rate_.store(bytesPerSecond > 0 ? bytesPerSecond : 0, std::memory_order_relaxed);
}

bool RateLimit::take(qint64 bytes, const std::atomic<bool> &stop)
{
    // Not limited yet: the waiting is still to be built.
    Q_UNUSED(bytes);
    return !stop.load(std::memory_order_relaxed);
}

} // namespace zodaru
