// SPDX-License-Identifier: GPL-3.0-or-later
// How the data of transfers moves and is told. Used by the download and upload parts.
#pragma once

#include "ftp/EngineSettings.h"

#include <QtGlobal>

#include <algorithm>
#include <functional>
#include <utility>

namespace zodaru {

constexpr qint64 kChunkSize = 16384;

// Data moves in steps of this size (a multiple of kChunkSize): a few system calls per
// step instead of per chunk.
constexpr qint64 kStepSize = 16 * kChunkSize;

// Progress is told in chunks of kChunkSize bytes counted from the transfer's start,
// whatever the size of the steps the data moves in: each chunk once its last byte has
// moved, a shorter last one at finish().
class ChunkProgress final {
public:
    explicit ChunkProgress(std::function<void(qint64 size)> tell) : tell_(std::move(tell)) {}

    void moved(qint64 n)
    {
        pending_ += n;
        while (pending_ >= kChunkSize) {
            pending_ -= kChunkSize;
            tell_(kChunkSize);
        }
    }
    void finish()
    {
        if (pending_ > 0)
            tell_(std::exchange(pending_, 0));
    }

private:
    std::function<void(qint64)> tell_;
    qint64 pending_ = 0;
};

// How long a stopped transfer waits for the server's reply. A server that sees the data
// connection go answers at once; one that goes on sending into it may not answer until the
// whole file has gone. The engine is not held that long: without a reply by then its
// session is closed, and the next transfer logs in anew.
inline int cancelledReplyMs(const EngineTimeouts &timeouts)
{
    return std::min(2000, timeouts.replyLine);
}

} // namespace zodaru
