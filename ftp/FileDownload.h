// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/PartFile.h"
#include "ftp/RemoteFacts.h"
#include "ftp/TransferContext.h"

#include <QString>

#include <memory>
#include <optional>

namespace zodaru {

class FileReceiver;
class Socket;

// One download: the exchange that starts it, on the caller's thread, then its data, on
// the worker's. The data goes to a partial file beside the target, renamed into place only
// when the whole file has arrived; a broken connection keeps it for a later resume.
class FileDownload final {
public:
    // What a partial file of `remote` would be a part of is seen before its first byte;
    // one left before is continued (REST) only when it matches in every point, the
    // server's size and date of the file read again now. `who` names the server and the
    // user. Null when the transfer did not start, `code` then its reply (or -1).
    static std::shared_ptr<FileDownload> start(TransferContext &context, const QString &remote,
                                           const QString &savedName, const PartOrigin &who, int &code);
    Q_DISABLE_COPY_MOVE(FileDownload)

    // Where the download continues the partial file from; 0 when it starts over.
    qint64 offset() const { return offset_; }
    // Moves the data into the partial file, keeps or commits it, then posts the
    // completion (TransferEvent::Kind::Downloaded) as the transfer's `id`.
    void run(qint32 id, FileReceiver &receiver);

private:
    explicit FileDownload(TransferContext &context) : context_(context) {}
    // SIZE and MDTM, and a listing of the file for what they leave out.
    PartOrigin originOf(const QString &remote, const PartOrigin &who, RemoteFacts &facts);
    // SIZE and MDTM of the file downloaded, each when offered and answered.
    RemoteFacts remoteFacts(const QString &path);

    TransferContext &context_;
    QString remote_;
    QString fileName_;
    qint64 offset_ = 0;
    // SIZE and MDTM when they were asked before the transfer; asked after it otherwise.
    std::optional<RemoteFacts> facts_;
    // What the partial file is a part of; incomplete when it cannot be continued later.
    PartOrigin origin_;
    std::shared_ptr<Socket> data_;
};

} // namespace zodaru
