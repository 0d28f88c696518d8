// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer side of the application controller: filling the download and upload queues,
// starting their transfers on the transfer engines' workers, and the progress
// notifications of those engines.
#include "app/MyDelegate.h"

#include "app/RetiredEngines.h"
#include "app/SessionEngine.h"
#include "app/TransferQueue.h"
#include "ftp/FTP.h"
#include "base/Log.h"
#include "ftp/NotificationCenter.h"
#include "ui/CellFile.h"
#include "ui/MainWindowController.h"

#include <utility>

namespace zodaru {

namespace {

// The completion carries the server's final reply code, or -1 when the transfer broke.
bool completedWell(const Notification &note)
{
    bool ok = false;
    const int status = note.userInfo.value(QStringLiteral("status")).toInt(&ok);
    return ok && status >= 200 && status < 300;
}

// A chunk's byte count; 0 when missing or not a number.
int chunkSize(const Notification &note)
{
    bool ok = false;
    const int size = note.userInfo.value(QStringLiteral("size")).toInt(&ok);
    return ok ? size : 0;
}

// What a start on a transfer engine's worker brought back: the reply code, and the engine
// logged in again when the one given had lost its connection.
struct StartResult {
    TransferStart start;
    std::shared_ptr<FTP> fresh;
    std::shared_ptr<FTP> failed; // made again in vain
};

} // namespace

void MyDelegate::getFile()
{
    const QList<CellFile *> cells = myWindow->remoteViewSelectedCells();
    // The files come from the directory of the column that shows them, which is left of
    // the last one when a directory is selected.
    const QString remoteDirectory = myWindow->remoteSelectionPath();
    zlog("remote path : %@\n", remoteDirectory);
    zlog("local path : %@\n", myWindow->localPath());
    zlog("rfiles count : %i", cells.size());

    for (const CellFile *cell : cells) {
        File entry = File::copyOf(cell->getFile());
        entry.setRemotePath(remoteDirectory);
        entry.setLocalPath(myWindow->localPath());
        zlog("on a mis dans le fichier %@ (%i) le localpath : %@", entry.name(), entry.size(),
             entry.localpath());
        downloads_->append(std::move(entry));
    }
    const QList<File> &queue = downloads_->entries();
    for (qsizetype i = 0; i < queue.size(); ++i)
        zlog("fichier %i : <%i><%@>", i, queue[i].getID(), queue[i].name());

    myWindow->refreshDownloadTable();
    downloadFiles();
}

void MyDelegate::putFile()
{
    const QList<CellFile *> cells = myWindow->localViewSelectedCells();
    zlog("remote path : %@\n", myWindow->remotePath());
    zlog("local path : %@\n", myWindow->localPath());
    zlog("lfiles count : %i", cells.size());

    const QList<File> &queue = uploads_->entries();
    zlog("A uploadQueue count : %i", queue.size());
    for (qsizetype i = 0; i < cells.size(); ++i) {
        // The local directory stays the one of the column that showed the file.
        File entry = File::copyOf(cells[i]->getFile());
        entry.setRemotePath(myWindow->remotePath());
        zlog("[%i] on a mis dans le fichier %@ le remotepath : %@ (%i) ", i, entry.name(),
             entry.remotepath(), entry.size());
        uploads_->append(std::move(entry));
    }
    zlog("B uploadQueue count : %i", queue.size());
    for (qsizetype i = 0; i < queue.size(); ++i)
        zlog("*** fichier %i : <%i> <%@>", i, queue[i].getID(), queue[i].name());

    myWindow->refreshUploadTable();
    uploadFiles();
}

void MyDelegate::startTransfer(SessionEngine *engine, bool download, const QString &local,
                               const QString &remote, qint32 id, std::function<void(const TransferStart &)> started)
{
    if (!engine) {
        QMetaObject::invokeMethod(this, [started = std::move(started)] { started(TransferStart{}); }, Qt::QueuedConnection);
        return;
    }
    const char *where = download ? "downloadFiles" : "uploadFiles";
    // Made here, used only when the engine has lost its connection: ending the session
    // gives it up (SessionEngine::replacement) even in the middle of its connect.
    const std::shared_ptr<FTP> replacement = FTP::create();
    engine->replacement = replacement;
    auto job = [ftp = engine->ftp, replacement, server = server_, login = login_, password = password_,
                download, local, remote, id, where, policy = sessionPolicy_] {
        StartResult result;
        std::shared_ptr<FTP> use = ftp;
        if (!use || !use->isConnected()) {
            // A lost connection: the engine logs in again once, like the session's.
            try {
                result.failed = replacement;
                FTP::connectInto(replacement, server, login, password, policy);
                result.fresh = std::exchange(result.failed, nullptr);
            } catch (const NetworkException &e) {
                zlog("Exception recue dans %@ ==> %@", where, e.reason());
                return result;
            }
            use = result.fresh;
            if (!use->isConnected())
                return result;
        }
        if (download) {
            result.start.code = use->get(remote, local, id);
            result.start.resumedAt = use->resumeOffset();
        } else {
            result.start.code = use->put(local, remote, id);
            result.start.size = use->uploadSize();
        }
        return result;
    };
    engine->worker.run(std::move(job), this,
                       [this, serial = engine->serial, given = engine->ftp, replacement,
                        started = std::move(started)](StartResult result) {
                           SessionEngine *current = currentEngine(serial);
                           if (current && current->replacement == replacement)
                               current->replacement.reset();
                           const std::shared_ptr<FTP> used = result.fresh ? result.fresh : given;
                           // The engine that may have been refused TLS on connecting again.
                           const std::shared_ptr<FTP> reconnecting = result.failed ? result.failed : used;
                           if (result.start.code >= 0 && result.start.code < 400) {
                               retired_->transferStarted(used->id());
                               // Started just as the session ended: its entry waits for the
                               // next session, so this one stops.
                               if (!current)
                                   used->cancelTransfer();
                           }
                           if (result.fresh) {
                               if (current)
                                   retired_->retire(std::exchange(current->ftp, std::move(result.fresh)));
                               else
                                   retired_->retire(std::move(result.fresh));
                           }
                           started(result.start);
                           reconnected(reconnecting);
                       });
}

// No pass outside a session, where the entries wait, nor while a transfer of an ended
// session is still ending: an entry it carried waits again, and must not start beside it
// (the two would share the partial file).
bool MyDelegate::queuesMayRun() const
{
    return myWindow && myWindow->connectionState() == MainWindowController::ConnectionState::Connected
        && !retired_->transfersEnding();
}

void MyDelegate::downloadFiles()
{
    if (downloads_ && queuesMayRun())
        downloads_->runPass();
}

void MyDelegate::uploadFiles()
{
    if (uploads_ && queuesMayRun())
        uploads_->runPass();
}

bool MyDelegate::isCurrentSender(const std::unique_ptr<SessionEngine> &engine, const Notification &note) const
{
    return engine && engine->ftp && note.engine == engine->ftp->id();
}

void MyDelegate::receive(const Notification &note)
{
    if (isCurrentSender(in_, note))
        downloads_->chunk(chunkSize(note));
}

void MyDelegate::send(const Notification &note)
{
    if (isCurrentSender(out_, note))
        uploads_->chunk(chunkSize(note));
}

void MyDelegate::FileSaved(const Notification &note)
{
    retired_->transferEnded(note.engine);
    if (!isCurrentSender(in_, note))
        return;
    zlog("Notification de fichier sauvegarde !");
    const int id = note.userInfo.value(QStringLiteral("ID")).toInt();
    zlog("fichier : %i", id);
    downloads_->completed(id, completedWell(note));
    myWindow->refreshLocal();
    downloadFiles();
}

void MyDelegate::FileSend(const Notification &note)
{
    retired_->transferEnded(note.engine);
    if (!isCurrentSender(out_, note))
        return;
    zlog("Notification de fichier envoye !");
    const int id = note.userInfo.value(QStringLiteral("ID")).toInt();
    zlog("fichier : %i", id);
    uploads_->completed(id, completedWell(note));
    myWindow->refreshRemote();
    uploadFiles();
}

void MyDelegate::cancelTransfer(Direction direction, int index)
{
    (direction == Direction::Download ? downloads_ : uploads_)->cancel(index);
}

void MyDelegate::retryTransfer(Direction direction, int index)
{
    (direction == Direction::Download ? downloads_ : uploads_)->retry(index);
}

} // namespace zodaru
