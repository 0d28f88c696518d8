// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Transfers.h"

#include "app/EnginePool.h"
#include "app/FolderWalk.h"
#include "app/LocalTreeWalk.h"
#include "app/RemoteTreeWalk.h"
#include "app/RetiredEngines.h"
#include "app/SavedQueue.h"
#include "app/Session.h"
#include "app/SessionEngine.h"
#include "app/TransferQueue.h"
#include "app/TransferStartJob.h"
#include "base/Log.h"
#include "ftp/FTP.h"
#include "ui/AppContext.h"
#include "ui/CellFile.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/OverwriteDialog.h"

#include <algorithm>
#include <utility>

namespace zodaru {

namespace {

// The end carries the server's final reply code, or -1 when the transfer broke.
bool completedWell(const TransferEvent &event)
{
    return event.status >= 200 && event.status < 300;
}

} // namespace

Transfers::Transfers(AppContext &app, Session &session, RetiredEngines &retired, QObject *parent)
    : QObject(parent), app_(app), session_(session), retired_(retired)
{
    connect(&session_, &Session::opened, this, [this](const QString &site) {
        switchQueuesTo(site);
        downloadFiles();
        uploadFiles();
        offerSavedQueue(site);
    });
    connect(&session_, &Session::closed, this, [this] {
        holdQueues();
        window()->refreshUploadTable();
        window()->refreshDownloadTable();
    });
    connect(&session_, &Session::lost, this, &Transfers::clearQueues);
    connect(&session_, &Session::transferSettingsApplied, this, [this] {
        downloadFiles();
        uploadFiles();
    });
    // Entries held over from a session start once its transfers have ended.
    connect(&retired_, &RetiredEngines::transfersEnded, this, [this] {
        downloadFiles();
        uploadFiles();
    });
}

Transfers::~Transfers() = default;

MainWindowController *Transfers::window() const
{
    return app_.window();
}

TransferQueue &Transfers::queue(TransferDirection direction) const
{
    return direction == TransferDirection::Download ? *downloads_ : *uploads_;
}

void Transfers::createQueues()
{
    for (const TransferDirection direction : {TransferDirection::Download, TransferDirection::Upload}) {
        const bool download = direction == TransferDirection::Download;
        (download ? downloads_ : uploads_) = std::make_unique<TransferQueue>(
            direction,
            [this, direction](const File &entry, const QString &local, const QString &remote,
                              TransferQueue::Started started) {
                startTransfer(direction, entry, local, remote, std::move(started));
            },
            [this, download] {
                savedQueue_->touch();
                if (download)
                    window()->refreshDownloadTable();
                else
                    window()->refreshUploadTable();
            },
            [this, direction](qint32 id) {
                // Only the member running that entry stops.
                if (SessionEngine *engine = session_.pool(direction).running(id); engine && engine->ftp)
                    engine->ftp->cancelTransfer();
            });
        queue(direction).setCapacity([this, direction] { return session_.pool(direction).capacity(); });
        // The question about an existing target leaves the window usable; the queue waits.
        queue(direction).setConflictQuestion(
            [this, download](const File &entry, const TargetFacts &facts, TransferQueue::Answered answered) {
                QWidget *parent = window() ? window()->window() : nullptr;
                auto *dialog = new OverwriteDialog(entry.displayName(), facts, download, parent);
                connect(dialog, &OverwriteDialog::answered, this,
                        [answered = std::move(answered)](ConflictAnswer answer, bool all) { answered(answer, all); });
                dialog->show();
            });
    }
    createSavedQueue();
}

const QList<File> *Transfers::downloadQueue() const
{
    return downloads_ ? &downloads_->entries() : nullptr;
}

const QList<File> *Transfers::uploadQueue() const
{
    return uploads_ ? &uploads_->entries() : nullptr;
}

int Transfers::unfinishedTransfers() const
{
    int held = 0;
    for (const HeldTransfers &site : held_)
        held += int(site.downloads.size() + site.uploads.size());
    return held + (downloads_ ? downloads_->unfinished() : 0) + (uploads_ ? uploads_->unfinished() : 0);
}

void Transfers::getFile()
{
    const QList<CellFile *> cells = window()->remoteViewSelectedCells();
    // The files come from the directory of the column that shows them, which is left of
    // the last one when a directory is selected.
    const QString remoteDirectory = window()->remoteSelectionPath();
    const QString localDirectory = window()->localPath();
    zlog("remote path : %@\n", remoteDirectory);
    zlog("local path : %@\n", localDirectory);
    zlog("rfiles count : %i", cells.size());

    // A cell that opens a column is a directory: its whole tree is got.
    QStringList folders;
    for (const CellFile *cell : cells) {
        if (!cell->isLeaf()) {
            folders << cell->name();
            continue;
        }
        File entry = File::copyOf(cell->getFile());
        entry.setRemotePath(remoteDirectory);
        entry.setLocalPath(localDirectory);
        zlog("on a mis dans le fichier %@ (%i) le localpath : %@", entry.name(), entry.size(),
             entry.localpath());
        downloads_->append(std::move(entry));
    }
    const QList<File> &queue = downloads_->entries();
    for (qsizetype i = 0; i < queue.size(); ++i)
        zlog("fichier %i : <%i><%@>", i, queue[i].getID(), queue[i].name());

    window()->refreshDownloadTable();
    downloadFiles();
    transferFolders(TransferDirection::Download, remoteDirectory, folders, localDirectory);
}

void Transfers::putFile()
{
    const QList<CellFile *> cells = window()->localViewSelectedCells();
    const QString remoteDirectory = window()->remotePath();
    zlog("remote path : %@\n", remoteDirectory);
    zlog("local path : %@\n", window()->localPath());
    zlog("lfiles count : %i", cells.size());

    const QList<File> &queue = uploads_->entries();
    zlog("A uploadQueue count : %i", queue.size());
    // Directories by the local directory that shows them, in the order selected.
    QList<std::pair<QString, QStringList>> folders;
    for (qsizetype i = 0; i < cells.size(); ++i) {
        if (!cells[i]->isLeaf()) {
            const QString directory = cells[i]->getFile().localpath();
            if (folders.isEmpty() || folders.last().first != directory)
                folders.append({directory, {}});
            folders.last().second << cells[i]->name();
            continue;
        }
        // The local directory stays the one of the column that showed the file.
        File entry = File::copyOf(cells[i]->getFile());
        entry.setRemotePath(remoteDirectory);
        zlog("[%i] on a mis dans le fichier %@ le remotepath : %@ (%i) ", i, entry.name(),
             entry.remotepath(), entry.size());
        uploads_->append(std::move(entry));
    }
    zlog("B uploadQueue count : %i", queue.size());
    for (qsizetype i = 0; i < queue.size(); ++i)
        zlog("*** fichier %i : <%i> <%@>", i, queue[i].getID(), queue[i].name());

    window()->refreshUploadTable();
    uploadFiles();
    for (const auto &[directory, names] : folders)
        transferFolders(TransferDirection::Upload, directory, names, remoteDirectory);
}

void Transfers::getEntries(const QString &remoteDirectory, const QList<File> &entries, const QString &localDirectory)
{
    transferEntries(TransferDirection::Download, remoteDirectory, entries, localDirectory);
}

void Transfers::putEntries(const QString &localDirectory, const QList<File> &entries, const QString &remoteDirectory)
{
    transferEntries(TransferDirection::Upload, localDirectory, entries, remoteDirectory);
}

// Files join the queue of `direction` at once; directories are walked, their trees following.
void Transfers::transferEntries(TransferDirection direction, const QString &from, const QList<File> &entries,
                                const QString &to)
{
    const bool download = direction == TransferDirection::Download;
    QStringList folders;
    for (const File &source : entries) {
        if (source.isDir()) {
            folders << source.name();
            continue;
        }
        File entry = File::copyOf(source);
        entry.setRemotePath(download ? from : to);
        entry.setLocalPath(download ? to : from);
        queue(direction).append(std::move(entry));
    }
    if (download) {
        window()->refreshDownloadTable();
        downloadFiles();
    } else {
        window()->refreshUploadTable();
        uploadFiles();
    }
    transferFolders(direction, from, folders, to);
}

void Transfers::transferFolders(TransferDirection direction, const QString &from, const QStringList &names,
                                const QString &to)
{
    const bool download = direction == TransferDirection::Download;
    const FolderWalk::Target target{&queue(direction), [this, download] {
                                        if (download) {
                                            window()->refreshDownloadTable();
                                            downloadFiles();
                                        } else {
                                            window()->refreshUploadTable();
                                            uploadFiles();
                                        }
                                    }};
    const auto ended = [this](FolderWalk *walk) {
        const auto found = std::find_if(walks_.begin(), walks_.end(),
                                        [walk](const std::unique_ptr<FolderWalk> &held) { return held.get() == walk; });
        if (found == walks_.end())
            return;
        // Ends from inside one of its own calls: deleted once that call is over.
        found->release()->deleteLater();
        walks_.erase(found);
    };
    for (const QString &name : names) {
        // The folder's name is joined to both sides' directories.
        if (!isPlainName(name)) {
            zlog("Nom de dossier refuse : <%@>", name);
            continue;
        }
        std::unique_ptr<FolderWalk> walk;
        if (download)
            walk = std::make_unique<RemoteTreeWalk>(
                target,
                [this](const QString &path, RemoteTreeWalk::Listed done) {
                    session_.listRemote(path, std::move(done));
                },
                from, name, to, ended);
        else
            walk = std::make_unique<LocalTreeWalk>(
                target,
                [this](const QString &word, const QString &param, LocalTreeWalk::Done done) {
                    session_.remoteCommand(word, param, std::move(done));
                },
                from, name, to, ended);
        FolderWalk *started = walk.get();
        walks_.push_back(std::move(walk));
        started->start();
    }
}

void Transfers::dropFolderWalks()
{
    // At once, so that no answer still on its way reaches them (never called from a walk).
    walks_.clear();
}

void Transfers::startTransfer(TransferDirection direction, const File &entry, const QString &local,
                              const QString &remote, std::function<void(const TransferStart &)> started)
{
    EnginePool &pool = session_.pool(direction);
    const SessionEngine *first = pool.first();
    const qint32 id = qint32(entry.getID());
    const TransferStartJob::Request request{direction, local, remote, id, entry.conflictAnswer()};
    if (!first || !first->ftp) {
        QMetaObject::invokeMethod(this, [started = std::move(started)] { started(TransferStart{}); }, Qt::QueuedConnection);
        return;
    }
    if (SessionEngine *member = pool.take(id)) {
        runStart(direction, *member, request, std::move(started));
        return;
    }
    // No member free: one more logs in for it, and the entry waits again when it cannot.
    const auto ready = [this, direction, request, started](SessionEngine *member) {
        if (member) {
            runStart(direction, *member, request, started);
            return;
        }
        TransferStart again;
        again.again = true;
        started(again);
    };
    if (!pool.make(id, ready))
        QMetaObject::invokeMethod(this, [ready] { ready(nullptr); }, Qt::QueuedConnection);
}

void Transfers::runStart(TransferDirection direction, SessionEngine &member, const TransferStartJob::Request &request,
                         std::function<void(const TransferStart &)> started)
{
    // Made here, used only when the engine has lost its connection: ending the session
    // gives it up (SessionEngine::replacement) even in the middle of its connect.
    const std::shared_ptr<FTP> replacement = FTP::create(session_.transferEngineSettings(direction));
    member.replacement = replacement;
    TransferStartJob job(member.ftp, replacement, session_.credentials(), request);
    member.worker.run(std::move(job), this,
                      [this, direction, id = request.id, given = member.ftp, replacement,
                       started = std::move(started)](StartResult result) {
                          EnginePool &pool = session_.pool(direction);
                          SessionEngine *current = pool.find(given->id());
                          if (current && current->replacement == replacement)
                              current->replacement.reset();
                          const std::shared_ptr<FTP> used = result.fresh ? result.fresh : given;
                          // Started just as the session ended: its entry waits for the next
                          // session, so this one stops. Its worker, retired with the session,
                          // runs the transfer to its end.
                          const bool running = result.start.code >= 0 && result.start.code < 400;
                          if (!current && running)
                              used->cancelTransfer();
                          // The lost engine is let go: what it may still tell is not the
                          // session's any more, its id being another one.
                          if (result.fresh && current)
                              std::exchange(current->ftp, std::move(result.fresh))->close();
                          // A member whose start moved nothing is free again; a transfer
                          // frees it with its end.
                          if (current && !running)
                              pool.release(*current, id);
                          started(result.start);
                          // The engine that may have been refused TLS on connecting again.
                          if (result.failed || used != given)
                              session_.reconnected(result.failed ? result.failed : used);
                      });
}

// No pass outside a session, where the entries wait, nor while a transfer of an ended
// session is still ending: an entry it carried waits again, and must not start beside it
// (the two would share the partial file).
bool Transfers::queuesMayRun() const
{
    return window() && window()->connectionState() == MainWindowController::ConnectionState::Connected
        && !retired_.transfersEnding();
}

void Transfers::downloadFiles()
{
    if (savedQueue_)
        savedQueue_->touch();
    if (downloads_ && queuesMayRun())
        downloads_->runPass();
}

void Transfers::uploadFiles()
{
    if (savedQueue_)
        savedQueue_->touch();
    if (uploads_ && queuesMayRun())
        uploads_->runPass();
}

SessionEngine *Transfers::sender(TransferDirection direction, const TransferEvent &event) const
{
    return session_.pool(direction).runner(event.engine, event.file);
}

void Transfers::chunk(const TransferEvent &event)
{
    const TransferDirection direction = event.isDownload() ? TransferDirection::Download : TransferDirection::Upload;
    if (sender(direction, event))
        queue(direction).chunk(event.file, event.bytes);
}

void Transfers::ended(const TransferEvent &event)
{
    const bool download = event.isDownload();
    const TransferDirection direction = download ? TransferDirection::Download : TransferDirection::Upload;
    SessionEngine *member = sender(direction, event);
    if (!member)
        return;
    session_.pool(direction).release(*member, event.file);
    zlog(download ? "Notification de fichier sauvegarde !" : "Notification de fichier envoye !");
    zlog("fichier : %i", event.file);
    if (download) {
        downloads_->completed(event.file, completedWell(event));
        window()->refreshLocal();
        downloadFiles();
    } else {
        uploads_->completed(event.file, completedWell(event));
        window()->refreshRemote();
        uploadFiles();
    }
}

void Transfers::cancelTransfer(TransferDirection direction, int index)
{
    queue(direction).cancel(index);
}

void Transfers::retryTransfer(TransferDirection direction, int index)
{
    queue(direction).retry(index);
}

void Transfers::removeTransfers(TransferDirection direction, const QList<int> &indexes)
{
    queue(direction).remove(indexes);
}

int Transfers::moveTransfers(TransferDirection direction, const QList<int> &indexes, int before)
{
    return queue(direction).move(indexes, before);
}

void Transfers::retryFailedTransfers(TransferDirection direction)
{
    queue(direction).retryFailed();
}

void Transfers::clearFinishedTransfers(TransferDirection direction)
{
    queue(direction).clearFinished();
}

void Transfers::setTransfersPaused(TransferDirection direction, bool paused)
{
    queue(direction).setPaused(paused);
    if (!paused)
        direction == TransferDirection::Download ? downloadFiles() : uploadFiles();
}

bool Transfers::transfersPaused(TransferDirection direction) const
{
    const auto &q = direction == TransferDirection::Download ? downloads_ : uploads_;
    return q && q->isPaused();
}

void Transfers::holdQueues()
{
    dropFolderWalks();
    downloads_->holdUnfinished();
    uploads_->holdUnfinished();
}

void Transfers::switchQueuesTo(const QString &site)
{
    if (site == queueSite_)
        return;
    // Set aside rather than dropped or started on a server they were not meant for.
    holdQueues();
    if (!downloads_->entries().isEmpty() || !uploads_->entries().isEmpty()) {
        zlog("Transferts en attente mis de cote pour %@", queueSite_.section(QLatin1Char('\n'), 0, 0));
        held_.insert(queueSite_, HeldTransfers{downloads_->entries(), uploads_->entries()});
    }
    downloads_->clear();
    uploads_->clear();
    const HeldTransfers back = held_.take(site);
    downloads_->restore(back.downloads);
    uploads_->restore(back.uploads);
    queueSite_ = site;
    window()->refreshUploadTable();
    window()->refreshDownloadTable();
}

void Transfers::clearQueues()
{
    dropFolderWalks();
    // The connection went, not the user's wish: what was left is offered again at the next
    // connect to the site rather than forgotten (the file keeps it meanwhile).
    if (savedQueue_)
        savedQueue_->keep(SavedQueue::unfinishedOf(queueSite_, downloads_->entries(), uploads_->entries()));
    downloads_->clear();
    uploads_->clear();
    window()->refreshUploadTable();
    window()->refreshDownloadTable();
}

} // namespace zodaru
