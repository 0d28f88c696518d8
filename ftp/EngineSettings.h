// SPDX-License-Identifier: GPL-3.0-or-later
// What an engine is given when it is made and keeps for its life; its parts read it there.
#pragma once

#include "ftp/TransferEvent.h"

#include <QtGlobal>

#include <memory>

namespace zodaru {

class RateLimit;

// Time limits, in milliseconds. A time-out counts as a lost connection.
struct EngineTimeouts {
    int controlConnect = 15000;
    int replyLine = 30000;
    int dataConnect = 15000;
    int dataIdle = 60000;  // without a byte on a data connection (listing or transfer)
    int replyTotal = 60000; // a whole reply, all its continuation lines included
};

// Size limits, in bytes: a server that never ends a reply or a listing must not fill
// the memory. Going past one counts as a lost connection too.
// A listing read whole is cut, not failed, at `listingEntries` entries or when its
// entries would take more than twice `listingBytes`: the user sees the first ones.
struct EngineLimits {
    qint64 replyBytes = 1024 * 1024;
    qint64 listingBytes = 256 * 1024 * 1024;
    qint64 listingEntries = 2'000'000;
};

struct EngineSettings {
    EngineTimeouts timeouts;
    EngineLimits limits;
    // Where its transfers are told; null: the process's NotificationCenter.
    TransferEventSink *events = nullptr;
    // The speed its transfers share with the other engines of their direction; null: none.
    std::shared_ptr<RateLimit> rateLimit;

    // `events`, or the process's NotificationCenter (made on first use) when null.
    TransferEventSink &sink() const;
};

} // namespace zodaru
