// SPDX-License-Identifier: GPL-3.0-or-later
// An upload: the exchange on the caller's thread; the data on the engine worker that made
// the exchange, or else on the engine's own transfer thread.
#include "ftp/FileUpload.h"

#include "base/Log.h"
#include "ftp/ChunkProgress.h"
#include "ftp/ControlChannel.h"
#include "ftp/DataChannel.h"
#include "ftp/RateLimit.h"
#include "ftp/UploadSource.h"
#include "net/Socket.h"

#include <utility>

namespace zodaru {

namespace {

// What an upload leaves queued in the system ahead of what the connection has sent.
constexpr int kUnsentLimit = int(4 * kChunkSize);

} // namespace

std::shared_ptr<FileUpload> FileUpload::start(TransferContext &context, const QString &local, const QString &remote,
                                      qint64 from, int &code, qint64 &size)
{
    code = -1;
    size = -1;
    std::shared_ptr<FileUpload> upload(new FileUpload(context));
    upload->source_ = UploadSource::open(local);
    if (!upload->source_)
        return nullptr;
    size = upload->source_->size();
    // REST past the file's end would leave the remote file as it is and call it whole.
    if (from < 0 || from > size)
        from = 0;
    DataChannel::Opened opened =
        context.data.openDataCommand({QStringLiteral("STOR"), remote, QStringLiteral("I"), from});
    code = opened.code;
    if (!opened.data) {
        if (opened.stoppedAt != DataChannel::Stop::Passive)
            zlog("Transfert de %@ non commence (%i)", remote, code);
        return nullptr;
    }
    upload->data_ = std::move(opened.data);
    // A refused REST stores the whole file (opened.restAt is 0 then). A file that cannot
    // be read from there fails in run(), which resets the data connection.
    upload->offset_ = opened.restAt;
    if (upload->offset_ > 0 && !upload->source_->seek(upload->offset_)) {
        zlog("Exception recue dans uploadThread ==> %@", upload->source_->error());
        upload->seekFailed_ = true;
    }
    if (upload->offset_ > 0)
        zlog("Reprise de l'envoi de %@ a l'octet %i", remote, upload->offset_);
    return upload;
}

void FileUpload::run(qint32 id)
{
    TransferEventSink &sink = context_.settings.sink();
    TransferState &state = context_.state;
    ControlChannel &control = context_.control;
    // Moved here, so that the worker's close of the connection is the last one.
    const std::shared_ptr<UploadSource> source = std::move(source_);
    std::shared_ptr<Socket> data = std::move(data_);
    const qint64 length = source->size();
    bool broken = !data;
    int code = -1;

    try {
        zlog("Data length : %i", length);
        const int idleMs = context_.settings.timeouts.dataIdle;
        qint64 offset = 0;
        ChunkProgress progress([&](qint64 n) {
            offset += n;
            zlog("nouvelle taille de send : %i (%i) ", offset, n);
            sink.transferEvent({context_.engine, TransferEvent::Kind::UploadChunk, id, n, 0});
        });
        // Without a limit the system queues megabytes ahead of a slower receiver, which
        // then reads bytes written long before, out of the processor's caches. On loopback,
        // uploads to vsftpd, ProFTPD and Pure-FTPd ran 4-15 % faster with 64 KiB at most.
        if (data)
            data->limitUnsent(kUnsentLimit);
        qint64 sent = offset_;
        broken = broken || seekFailed_;
        while (!broken && sent < length) {
            const qint64 step = std::min(RateLimit::stepUnder(context_.settings.rateLimit, kStepSize), length - sent);
            for (qint64 at = sent; at < sent + step; at += kChunkSize) {
                const qint64 n = std::min(kChunkSize, sent + step - at);
                zlog("send : %d upto : %d ", at, n);
                zlog("chunk (%i,%i) == %i ", at, at + n, n);
            }
            QString failure;
            // A stop while waiting shows as the failed send that follows.
            if (const auto &limit = context_.settings.rateLimit)
                limit->take(step, state.stoppedByUser);
            const qint64 n = source->sendTo(*data, step, idleMs, failure);
            sent += n;
            progress.moved(n);
            if (n < step) {
                // The file shrank or could not be read, or the connection failed: sending
                // less would leave a short copy on the server that looks complete.
                zlog("Exception recue dans uploadThread ==> %@",
                     failure.isEmpty() ? QStringLiteral("local file ended early") : failure);
                broken = true;
            }
        }
        // A file that grew meanwhile is not sent as complete: what the server would keep
        // is neither the file as it was nor as it is now. The upload fails instead.
        char more = 0;
        const qint64 extra = broken ? 0 : source->read(&more, 1);
        broken = broken || extra != 0;

        // Closed before the last chunk is told: the server's completion reply waits for it.
        bool tlsEndUnconfirmed = false;
        if (data) {
            // Closing the data connection is what tells the server the file is complete;
            // over TLS only a close_notify does, a bare close may be a cut. A broken one
            // is reset instead, so the server does not take the bytes it has for the file.
            tlsEndUnconfirmed =
                !context_.data.release(data, broken ? DataChannel::End::Reset : DataChannel::End::CloseAwaited);
            data.reset();
        }
        progress.finish();
        if (extra != 0)
            zlog("Exception recue dans uploadThread ==> %@",
                 extra < 0 ? source->error()
                           : QStringLiteral("%1 grew during the upload; not sent as complete").arg(source->path()));
        if (tlsEndUnconfirmed)
            zlog("Envoi de %@ : fin TLS du flux non confirmee", source->path());
        code = state.cancelled
            ? control.readReply(true, nullptr, nullptr, cancelledReplyMs(context_.settings.timeouts))
            : control.ret();
    } catch (const std::exception &e) {
        zlog("Exception recue dans uploadThread ==> %@", e.what());
        broken = true;
    }

    zlog("on fait la notification FileSend");
    state.running = false;
    sink.transferEvent({context_.engine, TransferEvent::Kind::Uploaded, id, length, broken ? -1 : code});
}

} // namespace zodaru
