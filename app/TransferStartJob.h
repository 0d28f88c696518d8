// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/Session.h"
#include "app/TransferQueue.h"
#include "model/TransferConflict.h"
#include "model/TransferDirection.h"

#include <QString>

#include <memory>

namespace zodaru {

class FTP;

// What a start on a transfer engine's worker brought back: what the start gave, and the
// engine logged in again when the one given had lost its connection.
struct StartResult {
    TransferStart start;
    std::shared_ptr<FTP> fresh;
    std::shared_ptr<FTP> failed; // made again in vain
};

// The start of one transfer, run as a job on the worker of its engine (never on the main
// thread: it waits on the network): the engine logs in again once when it lost its
// connection; then, when the target exists, the entry's answer decides (see start()),
// and the transfer starts.
class TransferStartJob final {
public:
    struct Request {
        TransferDirection direction = TransferDirection::Download;
        QString local;
        QString remote;
        qint32 id = 0;
        ConflictAnswer answer = ConflictAnswer::Ask;
    };

    // `replacement` is made beforehand on the main thread, so that ending the session can
    // give it up even in the middle of its connect.
    TransferStartJob(std::shared_ptr<FTP> ftp, std::shared_ptr<FTP> replacement, Session::Credentials login,
                     Request request);

    StartResult operator()() const;

    // The start on a connected engine. A target that exists (download: a local file, seen
    // without following a link; upload: a remote file the server tells of) is never replaced
    // without an answer: with Ask nothing starts and the result carries its facts; Skip, or
    // an answer that leaves it as it is, gives skipped. Overwrite moves a local target to
    // the Trash first (when its file system has one); Resume continues it from its end;
    // Rename transfers to a free name beside it. Every answer acted on is logged.
    static TransferStart start(FTP &ftp, const Request &request);

private:
    const std::shared_ptr<FTP> ftp_;
    const std::shared_ptr<FTP> replacement_;
    const Session::Credentials login_;
    const Request request_;
};

} // namespace zodaru
