// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/EngineWorker.h"

#include <QtGlobal>

#include <memory>

namespace zodaru {

class FTP;

// One engine of the session with the thread that runs its blocking calls. The serial
// number names it for the results that come back: it is never reused, unlike an address.
struct SessionEngine {
    explicit SessionEngine(quint64 serialNumber) : serial(serialNumber) {}

    const quint64 serial;
    // Null until its login has come back; replaced when it had to log in again.
    std::shared_ptr<FTP> ftp;
    // A new engine logging in on the worker in place of `ftp` (lost), so that ending the
    // session can give its connect up at once; null otherwise.
    std::shared_ptr<FTP> replacement;
    EngineWorker worker;
};

} // namespace zodaru
