// SPDX-License-Identifier: GPL-3.0-or-later
// Transfers: the exchange runs on the caller's thread (FileDownload and FileUpload start them), the
// data on the engine worker that made the exchange, or else on the engine's own transfer
// thread.
#include "ftp/FTP.h"

#include "base/ByteNames.h"
#include "base/JobThread.h"
#include "base/Log.h"
#include "ftp/FileDownload.h"
#include "ftp/ServerAddress.h"
#include "ftp/TransferWorkers.h"
#include "ftp/FileUpload.h"
#include "net/Socket.h"

#include <system_error>
#include <utility>

namespace zodaru {

namespace {

// One splice pipe per thread that moves data, kept for all its downloads.
FileReceiver &receiverOfThisThread()
{
    thread_local FileReceiver receiver;
    return receiver;
}

} // namespace

bool FTP::startWorker(std::function<void(FileReceiver &)> body)
{
    const auto workers = TransferWorkers::all();
    // Quitting stops the engine of every running transfer: dropping its connections wakes
    // the worker, which reports the transfer as broken. Quitting is not the user's stop of
    // that file: a download keeps its partial file, to be continued at the next run.
    const quint64 token = workers->add([engine = weak_from_this()] {
        if (const auto alive = engine.lock()) {
            zlog("Transfert en cours arrete");
            alive->endSession();
            alive->connections_.dropAll();
        }
    });
    transfer_.running = true;
    try {
        auto transfer = [self = shared_from_this(), body = std::move(body), workers, token]() mutable {
            body(receiverOfThisThread());
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
            transferThread_ = std::make_unique<TransferThread>();
        transferThread_->run(std::move(transfer));
        return true;
    } catch (const std::system_error &e) {
        zlog("Exception recue au lancement du transfert ==> %@", e.what());
        transfer_.running = false;
        workers->remove(token);
        // The server is about to move the file and then answer on the control connection;
        // without a worker that reply would be taken for the next command's.
        close();
        return false;
    }
}

void FTP::stopAllTransfers()
{
    for (const auto &stop : TransferWorkers::all()->stops())
        stop();
}

bool FTP::waitForTransfers(int timeoutMs)
{
    return TransferWorkers::all()->waitUntilNone(timeoutMs);
}

void FTP::cancelTransfer()
{
    if (!transfer_.running)
        return;
    // A cancelled download leaves no partial file to resume from.
    transfer_.cancelled = true;
    transfer_.stoppedByUser = true;
    if (const auto data = connections_.data())
        data->shutdownBoth();
}

int FTP::get(const QString &remote, int id)
{
    return get(remote, remote, id);
}

int FTP::get(const QString &remote, const QString &savedName, int id)
{
    Action action(*this);
    if (transfer_.running) {
        // The engine carries one transfer at a time; a second one would share PI with the
        // running worker and reset the counters it reports.
        zlog("Transfert deja en cours, %@ refuse", remote);
        return -1;
    }
    _idfile = id;
    transfer_.masize = 0;
    transfer_.cancelled = false;
    resumeOffset_ = 0;
    transfer_.stoppedByUser = false;
    if (!isConnected())
        return -1;
    FileName = savedName;
    // A partial file belongs to this server and user.
    const PartOrigin who = partOrigin(QString(), RemoteFacts{});
    int code = -1;
    auto download = FileDownload::start(transferContext_, remote, savedName, who, code);
    if (!download)
        return code;
    resumeOffset_ = download->offset();
    const bool started = startWorker([download = std::move(download), id](FileReceiver &receiver) {
        download->run(id, receiver);
    });
    return started ? code : -1;
}

PartOrigin FTP::partOrigin(const QString &remote, const RemoteFacts &facts) const
{
    PartOrigin origin;
    if (const auto server = ServerAddress::parse(session_.address()))
        origin.server = server->hostAndPort();
    origin.user = session_.login();
    origin.remote = bytesOfName(remote);
    origin.size = facts.size.value_or(-1);
    origin.modified = facts.modified.value_or(-1);
    return origin;
}

std::optional<RemoteFacts> FTP::fileFacts(const QString &remote)
{
    Action action(*this);
    if (transfer_.running || !isConnected())
        return std::nullopt;
    // SIZE counts the bytes of a binary transfer, and some servers refuse it in ASCII
    // mode: TYPE I goes first, in the same write.
    QList<ControlChannel::SentAhead> asked{{QStringLiteral("TYPE"), QStringLiteral("I")}};
    if (features_.size)
        asked.append({QStringLiteral("SIZE"), remote});
    if (features_.mdtm)
        asked.append({QStringLiteral("MDTM"), remote});
    RemoteFacts facts;
    if (asked.size() > 1) {
        if (!control_.sendAhead(asked))
            return std::nullopt;
        control_.settleAhead();
        facts = control_.settleFactsAhead().value_or(RemoteFacts{});
    }
    if (features_.size)
        return facts.size ? std::optional(facts) : std::nullopt;
    if (!control_.isConnected())
        return std::nullopt;
    // Without SIZE only a listing of the file itself tells it is there: a directory of
    // that name lists what it holds instead.
    const auto listed = listing_.listing(QStringLiteral("LIST"), remote, remote);
    const QString baseName = remote.section(QLatin1Char('/'), -1);
    if (!listed || listed->entries.size() != 1 || listed->entries.first().isDir()
        || (listed->entries.first().name() != baseName && listed->entries.first().name() != remote))
        return std::nullopt;
    const File &entry = listed->entries.first();
    facts.size = entry.size();
    if (!facts.modified && entry.modified() >= 0)
        facts.modified = entry.modified();
    return facts;
}

int FTP::put(const QString &local, const QString &remote, int id, qint64 from)
{
    Action action(*this);
    if (transfer_.running) {
        zlog("Transfert deja en cours, %@ refuse", local);
        return -1;
    }
    _idfile = id;
    resumeOffset_ = 0;
    if (!isConnected())
        return -1;
    int code = -1;
    auto upload = FileUpload::start(transferContext_, local, remote, from, code, uploadSize_);
    if (!upload)
        return code;
    resumeOffset_ = upload->offset();
    const bool started = startWorker([upload = std::move(upload), id](FileReceiver &) { upload->run(id); });
    return started ? code : -1;
}

} // namespace zodaru
