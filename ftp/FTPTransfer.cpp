// SPDX-License-Identifier: GPL-3.0-or-later
// File transfers: the exchange on the caller's thread; the data on the engine worker that made
// the exchange, or else on the engine's own transfer thread.
#include "ftp/FTP.h"

#include "base/ByteNames.h"
#include "base/JobThread.h"
#include "base/Log.h"
#include "ftp/PartFile.h"
#include "ftp/ServerAddress.h"
#include "ftp/Socket.h"
#include "ftp/TransferWorkers.h"
#include "ftp/UploadSource.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

namespace zodaru {

namespace {

constexpr qint64 kChunkSize = 16384;

// Data moves in steps of this size (a multiple of kChunkSize): a few system calls per
// step instead of per chunk.
constexpr qint64 kStepSize = 16 * kChunkSize;
// What an upload leaves queued in the system ahead of what the connection has sent.
constexpr int kUnsentLimit = int(4 * kChunkSize);

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

QString readFailure(ChunkEnd end)
{
    return end == ChunkEnd::TimedOut ? QStringLiteral("data connection timed out")
                                     : QStringLiteral("read failed on the data connection");
}

// The reply of a command that did not get the transfer going: refused by the server, or
// never sent or answered (-1).
bool refused(int code)
{
    return code < 0 || code >= 400;
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

// How long a stopped transfer waits for the server's reply. A server that sees the data
// connection go answers at once; one that goes on sending into it may not answer until the
// whole file has gone. The engine is not held that long: without a reply by then its
// session is closed, and the next transfer logs in anew.
int cancelledReplyMs(const FTP::Timeouts &timeouts)
{
    return std::min(2000, timeouts.replyLine);
}

// One splice pipe per thread that moves data, kept for all its downloads.
FileReceiver &receiverOfThisThread()
{
    thread_local FileReceiver receiver;
    return receiver;
}

} // namespace

void FTP::TransferThreadEnd::operator()(TransferThread *thread) const
{
    delete thread;
}

std::shared_ptr<Socket> FTP::freshDataConnection(const std::shared_ptr<Socket> &before) const
{
    // pasv() leaves DTP as it was when it fails; an earlier transfer's connection must
    // never be taken for this one's.
    auto now = dataConnection();
    return now == before ? nullptr : now;
}

void FTP::releaseDataConnection(const std::shared_ptr<Socket> &data)
{
    std::lock_guard lock(stateMutex_);
    if (DTP == data)
        DTP.reset();
}

std::shared_ptr<Socket> FTP::openTransfer(const QString &verb, const QString &remote, int &code, qint64 *restAt,
                                          std::optional<RemoteFacts> *facts)
{
    code = -1;
    const auto before = dataConnection();
    // A download that starts from the beginning goes with EPSV and TYPE once EPSV has worked:
    // one round trip less per file. RETR changes nothing on the server, so it does no harm
    // even when what went before it is refused; a REST must be answered before it, and a
    // STOR replaces the remote file as soon as it is taken up. The SIZE and MDTM that check
    // the file once it has arrived go along too, before RETR, so that their replies come
    // before the transfer's and cost no round trip of their own.
    const bool resuming = restAt && *restAt > 0;
    QList<SentAhead> after;
    if (verb == QLatin1String("RETR") && !resuming) {
        if (facts && features_.size)
            after.append({QStringLiteral("SIZE"), remote});
        if (facts && features_.mdtm)
            after.append({QStringLiteral("MDTM"), remote});
        after.append({verb, remote});
    }
    pasv(QStringLiteral("I"), after);
    auto data = freshDataConnection(before);
    if (!data || !isConnected()) {
        const int answer = settleWithoutDataConnection(verb);
        if (refused(answer))
            code = answer;
        return nullptr;
    }
    const int type = setType(QStringLiteral("I"));
    if (!ahead_.isEmpty()) {
        auto answered = settleFactsAhead();
        if (facts)
            *facts = std::move(answered);
        code = settleCommandAhead(refused(type), *data);
        if (refused(type) && !refused(code))
            code = type;
    } else if (!refused(type)) {
        if (resuming && command(QStringLiteral("REST"), QString::number(*restAt)) != 350) {
            zlog("REST refuse : %@ repart du debut", remote);
            *restAt = 0;
        }
        if (isConnected())
            code = command(verb, remote);
    }
    if (!refused(code) && !secureDataConnection(*data, code))
        code = -1;
    if (!refused(code))
        return data;
    // Nothing will move on this connection: it is closed now, not left for a worker to
    // wait on, and the engine is free for the next transfer.
    zlog("Transfert de %@ non commence (%i)", remote, code);
    releaseDataConnection(data);
    data->shutdownBoth();
    return nullptr;
}

bool FTP::startWorker(std::function<void(FTP &, FileReceiver &)> body)
{
    const auto workers = TransferWorkers::all();
    const quint64 token = workers->add(weak_from_this());
    transferRunning_ = true;
    try {
        auto transfer = [self = shared_from_this(), body = std::move(body), workers, token]() mutable {
            body(*self, receiverOfThisThread());
            // Everything the transfer held goes before it counts as ended: once
            // waitForTransfers() has returned, no worker touches the program any more.
            body = nullptr;
            self.reset();
            workers->remove(token);
        };
        // Started from an engine worker's job, the data moves on that worker as soon as the
        // job has handed back its result: the worker has nothing else to do for this engine
        // until the transfer ends, and a file saves a wake-up of another thread.
        if (JobThread *worker = JobThread::current()) {
            worker->runNext(std::move(transfer));
            return true;
        }
        if (!transferThread_)
            transferThread_.reset(new TransferThread());
        transferThread_->run(std::move(transfer));
        return true;
    } catch (const std::system_error &e) {
        zlog("Exception recue au lancement du transfert ==> %@", e.what());
        transferRunning_ = false;
        workers->remove(token);
        // The server is about to move the file and then answer on the control connection;
        // without a worker that reply would be taken for the next command's.
        close();
        return false;
    }
}

void FTP::stopAllTransfers()
{
    for (const auto &engine : TransferWorkers::all()->engines()) {
        zlog("Transfert en cours arrete");
        // Closing wakes the worker on both connections; it then reports the transfer as
        // broken and removes its partial file.
        engine->close();
    }
}

bool FTP::waitForTransfers(int timeoutMs)
{
    return TransferWorkers::all()->waitUntilNone(timeoutMs);
}

void FTP::cancelTransfer()
{
    if (!transferRunning_)
        return;
    // A cancelled download leaves no partial file to resume from.
    transferCancelled_ = true;
    stoppedByUser_ = true;
    if (const auto data = dataConnection())
        data->shutdownBoth();
}

int FTP::get(const QString &remote, int id)
{
    return get(remote, remote, id);
}

struct FTP::Download {
    QString remote;
    QString fileName;
    qint64 offset = 0;
    // SIZE and MDTM when they were asked before the transfer; asked after it otherwise.
    std::optional<RemoteFacts> facts;
    // What the partial file is a part of; incomplete when it cannot be continued later.
    PartOrigin origin;
};

PartOrigin FTP::originFrom(const QString &remote, const RemoteFacts &facts) const
{
    PartOrigin origin;
    if (const auto server = ServerAddress::parse(address_))
        origin.server = server->hostAndPort();
    origin.user = Login;
    origin.remote = bytesOfName(remote);
    origin.size = facts.size.value_or(-1);
    origin.modified = facts.modified.value_or(-1);
    return origin;
}

PartOrigin FTP::originOf(const QString &remote, RemoteFacts &facts)
{
    // SIZE counts the bytes of a binary transfer, and some servers refuse it in ASCII mode,
    // a fresh session's type: TYPE I goes first, in the same write as SIZE and MDTM.
    facts = {};
    QList<SentAhead> asked{{QStringLiteral("TYPE"), QStringLiteral("I")}};
    if (features_.size)
        asked.append({QStringLiteral("SIZE"), remote});
    if (features_.mdtm)
        asked.append({QStringLiteral("MDTM"), remote});
    QByteArray lines;
    for (const SentAhead &command : asked) {
        const auto line = asked.size() > 1 ? commandLine(command.word, command.param) : std::nullopt;
        if (!line) {
            lines.clear();
            break;
        }
        lines += *line;
    }
    if (!lines.isEmpty() && writeCommands(lines, asked.first().word, asked.first().param)) {
        ahead_.append(asked);
        settleAhead();
        facts = settleFactsAhead().value_or(RemoteFacts{});
    }
    PartOrigin origin = originFrom(remote, facts);
    // A server without SIZE or MDTM still lists the file with its size and date: the
    // listing gives what is missing. One that offers both is not asked another way.
    if ((features_.size && features_.mdtm) || !isConnected())
        return origin;
    const auto listed = listing(QStringLiteral("LIST"), remote, remote);
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

int FTP::get(const QString &remote, const QString &savedName, int id)
{
    Action action(*this);
    if (transferRunning_) {
        // The engine carries one transfer at a time; a second one would share PI with the
        // running worker and reset the counters it reports.
        zlog("Transfert deja en cours, %@ refuse", remote);
        return -1;
    }
    _idfile = id;
    masize = 0;
    transferCancelled_ = false;
    resumeOffset_ = 0;
    stoppedByUser_ = false;
    if (!isConnected())
        return -1;
    FileName = savedName;

    // What a partial file of this download would be a part of is seen before its first
    // byte; one left before is continued only when it matches in every point, the server's
    // size and date of the file read again now. Without REST STREAM nothing is continued.
    Download download;
    download.remote = remote;
    download.fileName = FileName;
    const auto part = features_.restStream ? existingPart(savedName) : std::nullopt;
    // SIZE and MDTM can go along with RETR only when no REST goes before it.
    const bool factsGoAlong = epsvWorked_ && features_.size && features_.mdtm;
    qint64 offset = 0;
    if (features_.restStream && (part || !factsGoAlong)) {
        RemoteFacts facts;
        download.origin = originOf(remote, facts);
        download.facts = facts;
        if (!isConnected())
            return -1;
        if (part)
            offset = continuedFrom(*part, download.origin, savedName);
    }
    int code = -1;
    std::optional<RemoteFacts> along;
    auto data = openTransfer(QStringLiteral("RETR"), remote, code, &offset, download.facts ? nullptr : &along);
    if (!data)
        return code;
    if (along) {
        download.origin = originFrom(remote, *along);
        download.facts = std::move(along);
    }
    if (!features_.restStream)
        download.origin = PartOrigin();
    download.offset = offset;
    resumeOffset_ = offset;
    if (offset > 0)
        zlog("Reprise de %@ a l'octet %i", savedName, offset);
    const bool started = startWorker([download = std::move(download), id,
                                      data = std::move(data)](FTP &ftp, FileReceiver &receiver) mutable {
        // Moved on, so that the worker's close of the connection is the last one.
        ftp.downloadThread(std::move(download), id, std::move(data), receiver);
    });
    return started ? code : -1;
}

int FTP::put(const QString &local, const QString &remote, int id)
{
    Action action(*this);
    if (transferRunning_) {
        zlog("Transfert deja en cours, %@ refuse", local);
        return -1;
    }
    _idfile = id;
    if (!isConnected())
        return -1;
    uploadSize_ = -1;
    auto source = UploadSource::open(local);
    if (!source)
        return -1;
    uploadSize_ = source->size();

    int code = -1;
    auto data = openTransfer(QStringLiteral("STOR"), remote, code);
    if (!data)
        return code;
    const bool started = startWorker([source = std::move(source), id,
                                      data = std::move(data)](FTP &ftp, FileReceiver &) mutable {
        ftp.uploadThread(std::move(source), id, std::move(data));
    });
    return started ? code : -1;
}

void FTP::downloadThread(Download download, qint32 id, std::shared_ptr<Socket> data, FileReceiver &receiver)
{
    const QString &fileName = download.fileName;
    TransferEventSink &sink = events();
    qint64 total = 0;
    bool broken = false;
    int code = -1;

    try {
        PartFile part(receiver);
        // A stopped download may still end in a 226: only a whole file is kept.
        if (!data) {
            broken = true;
        } else if (!part.open(fileName, download.origin, download.offset)) {
            zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
            broken = true;
        }

        const int idleMs = settings_.timeouts.dataIdle;
        ChunkProgress progress([&](qint64 n) {
            total += n;
            masize += n;
            zlog("taille mise : %@ total : %i", n, masize.load());
            sink.transferEvent({id_, TransferEvent::Kind::DownloadChunk, id, n, 0});
        });
        while (!broken) {
            // Whatever has arrived, up to a step: written at once, told in chunks.
            ChunkEnd end = ChunkEnd::Full;
            progress.moved(part.receiveFrom(*data, kStepSize, idleMs, end));
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
            data->shutdownBoth();
            releaseDataConnection(data);
            data.reset();
        }
        progress.finish();
        if (cutWithoutCloseNotify)
            zlog("Telechargement de %@ coupe : flux TLS ferme sans close_notify", fileName);
        code = transferCancelled_ ? readReply(true, nullptr, nullptr, cancelledReplyMs(settings_.timeouts)) : ret();
        zlog("fichier FileName : %@ telecharge", fileName);

        // A file the server says is longer or shorter than what arrived is not whole.
        const qint64 written = download.offset + total;
        if (!broken && code >= 200 && code < 300) {
            const auto facts = download.facts ? *download.facts : remoteFacts(download.remote);
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
        if (failed && written > 0 && features_.restStream && !stoppedByUser_)
            part.keep();

        // Only a whole file replaces the target; a server that aborted the transfer
        // (426 and the like) keeps its own code in "status".
        broken = broken || transferCancelled_;
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
    transferRunning_ = false;
    sink.transferEvent({id_, TransferEvent::Kind::Downloaded, id, total, broken ? -1 : code});
}

void FTP::uploadThread(std::shared_ptr<UploadSource> source, qint32 id, std::shared_ptr<Socket> data)
{
    TransferEventSink &sink = events();
    const qint64 length = source->size();
    bool broken = !data;
    int code = -1;

    try {
        zlog("Data length : %i", length);
        const int idleMs = settings_.timeouts.dataIdle;
        qint64 offset = 0;
        ChunkProgress progress([&](qint64 n) {
            offset += n;
            zlog("nouvelle taille de send : %i (%i) ", offset, n);
            sink.transferEvent({id_, TransferEvent::Kind::UploadChunk, id, n, 0});
        });
        // Without a limit the system queues megabytes ahead of a slower receiver, which
        // then reads bytes written long before, out of the processor's caches. On loopback,
        // uploads to vsftpd, ProFTPD and Pure-FTPd ran 4-15 % faster with 64 KiB at most.
        if (data)
            data->limitUnsent(kUnsentLimit);
        qint64 sent = 0;
        while (!broken && sent < length) {
            const qint64 step = std::min(kStepSize, length - sent);
            for (qint64 at = sent; at < sent + step; at += kChunkSize) {
                const qint64 n = std::min(kChunkSize, sent + step - at);
                zlog("send : %d upto : %d ", at, n);
                zlog("chunk (%i,%i) == %i ", at, at + n, n);
            }
            QString failure;
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
            if (broken) {
                // A reset instead of an orderly close, so the server does not take the
                // bytes it has for the whole file. Dissolving the association resets the
                // connection and keeps the descriptor valid for its owner.
                sockaddr unspecified{};
                unspecified.sa_family = AF_UNSPEC;
                ::connect(data->fileDescriptor(), &unspecified, sizeof unspecified);
            } else {
                // Closing the data connection is what tells the server the file is complete;
                // over TLS only a close_notify does, a bare close may be a cut.
                tlsEndUnconfirmed =
                    data->isEncrypted() && !(data->closeNotify(idleMs) && data->awaitPeerClose(idleMs));
                data->shutdownBoth();
            }
            releaseDataConnection(data);
            data.reset();
        }
        progress.finish();
        if (extra != 0)
            zlog("Exception recue dans uploadThread ==> %@",
                 extra < 0 ? source->error()
                           : QStringLiteral("%1 grew during the upload; not sent as complete").arg(source->path()));
        if (tlsEndUnconfirmed)
            zlog("Envoi de %@ : fin TLS du flux non confirmee", source->path());
        code = transferCancelled_ ? readReply(true, nullptr, nullptr, cancelledReplyMs(settings_.timeouts)) : ret();
    } catch (const std::exception &e) {
        zlog("Exception recue dans uploadThread ==> %@", e.what());
        broken = true;
    }

    zlog("on fait la notification FileSend");
    transferRunning_ = false;
    sink.transferEvent({id_, TransferEvent::Kind::Uploaded, id, length, broken ? -1 : code});
}

} // namespace zodaru
