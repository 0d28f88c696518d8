// SPDX-License-Identifier: GPL-3.0-or-later
// A download: the exchange on the caller's thread; the data on the engine worker that made
// the exchange, or else on the engine's own transfer thread.
#include "ftp/FileDownload.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ftp/ChunkProgress.h"
#include "ftp/ControlChannel.h"
#include "ftp/DataChannel.h"
#include "ftp/DirectoryListing.h"
#include "ftp/RateLimit.h"
#include "net/Socket.h"

#include <utility>

namespace zodaru {

namespace {

QString readFailure(ChunkEnd end)
{
    return end == ChunkEnd::TimedOut ? QStringLiteral("data connection timed out")
                                     : QStringLiteral("read failed on the data connection");
}

// Where a partial file is continued from: its length when it was started for the very file
// the server shows now and holds less than all of it; 0 (start over) otherwise, so that
// REST never goes to the end of the file or past it.
qint64 continuedFrom(const ExistingPart &part, const PartOrigin &now, const QString &savedName)
{
    if (now.isComplete() && part.origin == now && part.length < now.size)
        return part.length;
    zlog("Fichier partiel de %@ non repris : il vient d'un autre fichier ou d'une autre version", savedName);
    return 0;
}

// What a partial file of `remote` is a part of, from what SIZE and MDTM said.
PartOrigin originFrom(const PartOrigin &who, const QString &remote, const RemoteFacts &facts)
{
    PartOrigin origin;
    origin.server = who.server;
    origin.user = who.user;
    origin.remote = bytesOfName(remote);
    origin.size = facts.size.value_or(-1);
    origin.modified = facts.modified.value_or(-1);
    return origin;
}

} // namespace

std::shared_ptr<FileDownload> FileDownload::start(TransferContext &context, const QString &remote, const QString &savedName,
                                          const PartOrigin &who, int &code)
{
    code = -1;
    std::shared_ptr<FileDownload> download(new FileDownload(context));
    download->remote_ = remote;
    download->fileName_ = savedName;
    const ServerFeatures &features = context.features;
    // Without REST STREAM nothing is continued.
    const auto part = features.restStream ? existingPart(savedName) : std::nullopt;
    // SIZE and MDTM can go along with RETR only when no REST goes before it.
    const bool factsGoAlong = context.data.epsvWorked() && features.size && features.mdtm;
    qint64 offset = 0;
    if (features.restStream && (part || !factsGoAlong)) {
        RemoteFacts facts;
        download->origin_ = download->originOf(remote, who, facts);
        download->facts_ = facts;
        if (!context.control.isConnected())
            return nullptr;
        if (part)
            offset = continuedFrom(*part, download->origin_, savedName);
    }
    DataChannel::Opened opened = context.data.openDataCommand(
        {QStringLiteral("RETR"), remote, QStringLiteral("I"), offset, !download->facts_.has_value()});
    code = opened.code;
    if (!opened.data) {
        if (opened.stoppedAt != DataChannel::Stop::Passive)
            zlog("Transfert de %@ non commence (%i)", remote, code);
        return nullptr;
    }
    if (opened.facts) {
        download->origin_ = originFrom(who, remote, *opened.facts);
        download->facts_ = std::move(opened.facts);
    }
    if (!features.restStream)
        download->origin_ = PartOrigin();
    download->offset_ = opened.restAt;
    download->data_ = std::move(opened.data);
    if (download->offset_ > 0)
        zlog("Reprise de %@ a l'octet %i", savedName, download->offset_);
    return download;
}

PartOrigin FileDownload::originOf(const QString &remote, const PartOrigin &who, RemoteFacts &facts)
{
    // SIZE counts the bytes of a binary transfer, and some servers refuse it in ASCII mode,
    // a fresh session's type: TYPE I goes first, in the same write as SIZE and MDTM.
    facts = {};
    const ServerFeatures &features = context_.features;
    ControlChannel &control = context_.control;
    QList<ControlChannel::SentAhead> asked{{QStringLiteral("TYPE"), QStringLiteral("I")}};
    if (features.size)
        asked.append({QStringLiteral("SIZE"), remote});
    if (features.mdtm)
        asked.append({QStringLiteral("MDTM"), remote});
    if (asked.size() > 1 && control.sendAhead(asked)) {
        control.settleAhead();
        facts = control.settleFactsAhead().value_or(RemoteFacts{});
    }
    PartOrigin origin = originFrom(who, remote, facts);
    // A server without SIZE or MDTM still lists the file with its size and date: the
    // listing gives what is missing. One that offers both is not asked another way.
    if ((features.size && features.mdtm) || !control.isConnected())
        return origin;
    const auto listed = context_.listing.listing(QStringLiteral("LIST"), remote, remote);
    // Only a listing of the file itself counts: a directory of that name lists what it
    // holds, whose one file is not the one asked for.
    const QString baseName = remote.section(QLatin1Char('/'), -1);
    if (listed && !listed->cut && listed->entries.size() == 1 && !listed->entries.first().isDir()
        && (listed->entries.first().name() == baseName || listed->entries.first().name() == remote)) {
        const File &entry = listed->entries.first();
        if (origin.size < 0)
            origin.size = entry.size();
        if (origin.modified < 0)
            origin.modified = entry.modified();
    }
    return origin;
}

RemoteFacts FileDownload::remoteFacts(const QString &path)
{
    // Both questions go in one write and their replies are read in turn, as when they go
    // along with a download: one round trip instead of two, which is a good part of a small
    // file's time.
    QList<ControlChannel::SentAhead> asked;
    for (const auto &[offered, word] : {std::pair{context_.features.size, QStringLiteral("SIZE")},
                                        std::pair{context_.features.mdtm, QStringLiteral("MDTM")}}) {
        if (offered)
            asked.append({word, path});
    }
    if (!context_.control.sendAhead(asked))
        return {};
    return context_.control.settleFactsAhead().value_or(RemoteFacts{});
}

void FileDownload::run(qint32 id, FileReceiver &receiver)
{
    const QString &fileName = fileName_;
    TransferEventSink &sink = context_.settings.sink();
    TransferState &state = context_.state;
    ControlChannel &control = context_.control;
    // Moved here, so that the worker's close of the connection is the last one.
    std::shared_ptr<Socket> data = std::move(data_);
    qint64 total = 0;
    bool broken = false;
    int code = -1;

    try {
        PartFile part(receiver);
        // A stopped download may still end in a 226: only a whole file is kept.
        if (!data) {
            broken = true;
        } else if (!part.open(fileName, origin_, offset_)) {
            zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
            broken = true;
        }

        const int idleMs = context_.settings.timeouts.dataIdle;
        ChunkProgress progress([&](qint64 n) {
            total += n;
            state.masize += n;
            zlog("taille mise : %@ total : %i", n, state.masize.load());
            sink.transferEvent({context_.engine, TransferEvent::Kind::DownloadChunk, id, n, 0});
        });
        while (!broken) {
            // Whatever has arrived, up to a step: written at once, told in chunks.
            ChunkEnd end = ChunkEnd::Full;
            const auto &limit = context_.settings.rateLimit;
            const qint64 n = part.receiveFrom(*data, RateLimit::stepUnder(limit, kStepSize), idleMs, end);
            // Paid for once here: the next read waits, and the server's sending with it.
            if (limit)
                limit->take(n, state.stoppedByUser);
            progress.moved(n);
            if (end == ChunkEnd::Full)
                continue;
            if (end == ChunkEnd::NotWritten)
                zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
            else if (end != ChunkEnd::EndOfStream)
                zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, readFailure(end));
            broken = end != ChunkEnd::EndOfStream;
            break;
        }
        // Closed before the last chunk is told: some servers send their completion reply
        // only once the client has closed, and with many small files that wait is a good
        // part of each one. When we stop early the server learns it from the closed
        // connection and answers with its completion reply, which keeps the control
        // connection in step.
        const bool cutWithoutCloseNotify = data && data->endedWithoutCloseNotify();
        if (data) {
            context_.data.release(data, DataChannel::End::Shut);
            data.reset();
        }
        progress.finish();
        if (cutWithoutCloseNotify)
            zlog("Telechargement de %@ coupe : flux TLS ferme sans close_notify", fileName);
        code = state.cancelled
            ? control.readReply(true, nullptr, nullptr, cancelledReplyMs(context_.settings.timeouts))
            : control.ret();
        zlog("fichier FileName : %@ telecharge", fileName);

        // A file the server says is longer or shorter than what arrived is not whole.
        const qint64 written = offset_ + total;
        if (!broken && code >= 200 && code < 300) {
            const auto facts = facts_ ? *facts_ : remoteFacts(remote_);
            if (facts.size && *facts.size != written) {
                zlog("Taille differente pour %@ : %i recus, %i annonces", fileName, written, *facts.size);
                broken = true;
            } else if (facts.modified) {
                part.setModified(*facts.modified);
            }
        }
        // A connection that broke keeps what arrived for the next download to continue,
        // when the server can continue it; a stop by the user leaves nothing behind.
        const bool failed = broken || code < 200 || code >= 300;
        if (failed && written > 0 && context_.features.restStream && !state.stoppedByUser)
            part.keep();

        // Only a whole file replaces the target; a server that aborted the transfer
        // (426 and the like) keeps its own code in "status".
        broken = broken || state.cancelled;
        if (!broken && code >= 200 && code < 300) {
            zlog("on essaie de sauver %@ ...", fileName);
            if (part.commit(fileName)) {
                zlog("Fichier %@ sauve !", fileName);
            } else {
                zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
                broken = true;
            }
        } else {
            zlog("Fichier %@ impossible a sauver :-(", fileName);
        }
    } catch (const std::exception &e) {
        zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, e.what());
        broken = true;
    }

    zlog("on fait la notification FileSaved");
    state.running = false;
    sink.transferEvent({context_.engine, TransferEvent::Kind::Downloaded, id, total, broken ? -1 : code});
}

} // namespace zodaru
