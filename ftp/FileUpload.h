// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/TransferContext.h"

#include <QString>

#include <memory>

namespace zodaru {

class Socket;
class UploadSource;

// One upload: the exchange that starts it, on the caller's thread, then its data, on the
// worker's. A file that shrinks, grows or cannot be read meanwhile is not sent as complete.
class FileUpload final {
public:
    // Opens `local` (a regular file) and starts STOR `remote`, after REST `from` when
    // `from` > 0 (the rest of the file then goes, from that byte). Null when the transfer
    // did not start, `code` then its reply (or -1); `size` receives the size of the file as
    // opened, -1 when it could not be opened.
    static std::shared_ptr<FileUpload> start(TransferContext &context, const QString &local, const QString &remote,
                                         qint64 from, int &code, qint64 &size);
    Q_DISABLE_COPY_MOVE(FileUpload)

    // The byte the upload sends from: 0, or where the server took REST.
    qint64 offset() const { return offset_; }

    // Sends the file, ends the data connection, then posts the completion
    // (TransferEvent::Kind::Uploaded) as the transfer's `id`.
    void run(qint32 id);

private:
    explicit FileUpload(TransferContext &context) : context_(context) {}

    TransferContext &context_;
    std::shared_ptr<UploadSource> source_;
    std::shared_ptr<Socket> data_;
    qint64 offset_ = 0;
    bool seekFailed_ = false;
};

} // namespace zodaru
