// SPDX-License-Identifier: GPL-3.0-or-later
// What a download or an upload uses of its engine. The engine outlives its transfer: the
// worker that moves the data holds the engine until it has posted the completion.
#pragma once

#include "ftp/EngineSettings.h"
#include "ftp/ProtocolReplies.h"

#include <QtGlobal>

#include <atomic>

namespace zodaru {

class ControlChannel;
class DataChannel;
class DirectoryListing;

// Shared by an engine and its running transfer. Any thread.
struct TransferState {
    // From a transfer's start until its worker has posted its completion.
    std::atomic<bool> running{false};
    // Stopped by cancelTransfer(): the download leaves no partial file.
    std::atomic<bool> cancelled{false};
    // Closed or cancelled from outside: a broken download keeps no partial file.
    std::atomic<bool> stoppedByUser{false};
    // The bytes the running download has received.
    std::atomic<qint64> masize{0};
};

// The parts of the engine a transfer works with. The exchange that starts it runs on the
// caller's thread, its data on the worker's, never both at once.
struct TransferContext {
    quint64 engine; // FTP::id()
    const EngineSettings &settings; // settings.sink() is where the transfer is told
    ControlChannel &control;
    DataChannel &data;
    DirectoryListing &listing;
    const ServerFeatures &features;
    TransferState &state;
};

} // namespace zodaru
