// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/EngineWorker.h"
#include "ftp/FTP.h"

#include <QtGlobal>

#include <memory>

namespace zodaru {

// One engine of the session with the thread that runs its blocking calls. Main thread only.
//
// Its results and its transfer events name it by the id of its engine (FTP::id(), never
// reused): a result or an event is the session's only while this holds that engine. An
// engine logged in again in place of a lost one has a new id, and what the lost one still
// tells is ignored.
struct SessionEngine {
    // 0 until its login has come back.
    quint64 id() const { return ftp ? ftp->id() : 0; }

    // Null until its login has come back; replaced when it had to log in again.
    std::shared_ptr<FTP> ftp;
    // A new engine logging in on the worker in place of `ftp` (lost), so that ending the
    // session can give its connect up at once; null otherwise.
    std::shared_ptr<FTP> replacement;
    EngineWorker worker;
};

} // namespace zodaru
