// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer side of the application controller: the download and upload queues, one
// running entry per direction, and the progress notifications of the transfer engines.
#include "app/MyDelegate.h"

#include "ftp/FTP.h"
#include "ftp/Log.h"
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

// A start that returned -1 moved nothing and started no worker; one of 400 or more was
// refused. Either way nothing will ever finish the entry.
bool startFailed(int code)
{
    return code < 0 || code >= 400;
}

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

    QList<File> &queue = *downloadQueue_;
    for (const CellFile *cell : cells) {
        File entry = File::copyOf(cell->getFile());
        entry.setRemotePath(remoteDirectory);
        entry.setLocalPath(myWindow->localPath());
        zlog("on a mis dans le fichier %@ (%i) le localpath : %@", entry.name(), entry.size(),
             entry.localpath());
        entry.setID(queue.size());
        queue.append(std::move(entry));
    }
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

    QList<File> &queue = *uploadQueue_;
    zlog("A uploadQueue count : %i", queue.size());
    for (qsizetype i = 0; i < cells.size(); ++i) {
        // The local directory stays the one of the column that showed the file.
        File entry = File::copyOf(cells[i]->getFile());
        entry.setRemotePath(myWindow->remotePath());
        zlog("[%i] on a mis dans le fichier %@ le remotepath : %@ (%i) ", i, entry.name(),
             entry.remotepath(), entry.size());
        entry.setID(queue.size());
        queue.append(std::move(entry));
    }
    zlog("B uploadQueue count : %i", queue.size());
    for (qsizetype i = 0; i < queue.size(); ++i)
        zlog("*** fichier %i : <%i> <%@>", i, queue[i].getID(), queue[i].name());

    myWindow->refreshUploadTable();
    uploadFiles();
}

std::shared_ptr<FTP> MyDelegate::transferEngine(std::shared_ptr<FTP> &slot, bool &reopened,
                                                const char *where)
{
    if (slot && slot->isConnected())
        return slot;
    // A refused RETR or STOR closed the engine; so may a lost connection. One new attempt
    // per pass: a server that is gone would otherwise be dialled once per waiting entry.
    if (reopened || server_.isEmpty())
        return nullptr;
    reopened = true;
    try {
        retire(std::exchange(slot, FTP::connectTo(server_, login_, password_)));
    } catch (const NetworkException &e) {
        zlog("Exception recue dans %@ ==> %@", where, e.reason());
        return nullptr;
    }
    return slot->isConnected() ? slot : nullptr;
}

void MyDelegate::downloadFiles()
{
    if (!downloadQueue_ || downloadQueue_->isEmpty())
        return;
    bool reopened = false;
    // Indexed afresh after every call that talks to the server: the queue is the one to
    // trust, not a reference taken before.
    for (qsizetype i = 0; i < downloadQueue_->size(); ++i) {
        File &entry = (*downloadQueue_)[i];
        zlog("DOWNLOADFILES : [%@] <%@> de <%@> a <%@>", entry.getStatus(), entry.name(),
             entry.remotepath(), entry.localpath());
        if (entry.isDone()) {
            entry.setCurrent(false);
            continue;
        }
        if (entry.isCurrent())
            return;

        if (!isPlainName(entry.name())) {
            zlog("Nom de fichier refuse : <%@>", entry.name());
            entry.setError();
            myWindow->refreshDownloadTable();
            continue;
        }
        const QString local = entry.localpath() + QLatin1Char('/') + entry.name();
        const QString remote = entry.remotepath() + QLatin1Char('/') + entry.name();
        const qint32 id = qint32(entry.getID());
        entry.setCurrent(true);
        zlog("DOWNLOAD fichier path : %@ dans : %@", remote, local);

        const std::shared_ptr<FTP> engine = transferEngine(DataTransfertIn, reopened, "downloadFiles");
        const int code = engine ? engine->get(remote, local, id) : -1;
        if (i >= downloadQueue_->size())
            return;
        const bool failed = startFailed(code);
        if (failed)
            (*downloadQueue_)[i].setError();
        myWindow->refreshDownloadTable();
        if (!failed)
            return;
    }
}

void MyDelegate::uploadFiles()
{
    if (!uploadQueue_ || uploadQueue_->isEmpty())
        return;
    bool reopened = false;
    for (qsizetype i = 0; i < uploadQueue_->size(); ++i) {
        File &entry = (*uploadQueue_)[i];
        zlog("UPLOADFILES : [%@] <%@> de <%@> a <%@>", entry.getStatus(), entry.name(),
             entry.localpath(), entry.remotepath());
        if (entry.isDone()) {
            entry.setCurrent(false);
            continue;
        }
        if (entry.isCurrent())
            return;

        const QString local = entry.localpath() + QLatin1Char('/') + entry.name();
        const QString remote = entry.remotepath() + QLatin1Char('/') + entry.name();
        const qint32 id = qint32(entry.getID());
        entry.setCurrent(true);
        zlog("UPLOAD fichier path : %@ vers : %@ ", local, remote);

        const std::shared_ptr<FTP> engine = transferEngine(DataTransfertOut, reopened, "uploadFiles");
        const int code = engine ? engine->put(local, remote, id) : -1;
        if (i >= uploadQueue_->size())
            return;
        const bool failed = startFailed(code);
        if (failed)
            (*uploadQueue_)[i].setError();
        myWindow->refreshUploadTable();
        if (!failed)
            return;
    }
}

void MyDelegate::receive(const Notification &note)
{
    if (!DataTransfertIn || note.sender != DataTransfertIn.get())
        return;
    const int size = chunkSize(note);
    if (size <= 0 || !downloadQueue_ || downloadQueue_->isEmpty())
        return;
    for (File &entry : *downloadQueue_) {
        zlog("RECEIVE <%@> <%@> <size: %i> <isDone: %i> <isCurrent: %i>", entry.name(),
             entry.getStatus(), entry.currentsize(), entry.isDone(), entry.isCurrent());
        if (entry.isCurrent() && !entry.isDone()) {
            entry.addToSize(size);
            myWindow->refreshDownloadTable();
            return;
        }
    }
}

void MyDelegate::send(const Notification &note)
{
    if (!DataTransfertOut || note.sender != DataTransfertOut.get())
        return;
    const int size = chunkSize(note);
    if (size <= 0 || !uploadQueue_ || uploadQueue_->isEmpty())
        return;
    for (File &entry : *uploadQueue_) {
        zlog("SEND <%@> <%@> <size: %i / %i> <isDone: %i> <isCurrent: %i>", entry.name(),
             entry.getStatus(), entry.currentsize(), entry.size(), entry.isDone(),
             entry.isCurrent());
        if (entry.isCurrent() && !entry.isDone()) {
            entry.addToSize(size);
            myWindow->refreshUploadTable();
            return;
        }
    }
}

void MyDelegate::FileSaved(const Notification &note)
{
    if (!DataTransfertIn || note.sender != DataTransfertIn.get())
        return;
    zlog("Notification de fichier sauvegarde !");
    const int id = note.userInfo.value(QStringLiteral("ID")).toInt();
    zlog("fichier : %i", id);
    if (downloadQueue_ && id >= 0 && id < downloadQueue_->size()) {
        // Left current when done: the next pass clears it.
        File &entry = (*downloadQueue_)[id];
        if (completedWell(note))
            entry.setDone();
        else
            entry.setError();
    }
    myWindow->refreshDownloadTable();
    myWindow->refreshLocal();
    downloadFiles();
}

void MyDelegate::FileSend(const Notification &note)
{
    if (!DataTransfertOut || note.sender != DataTransfertOut.get())
        return;
    zlog("Notification de fichier envoye !");
    const int id = note.userInfo.value(QStringLiteral("ID")).toInt();
    zlog("fichier : %i", id);
    if (uploadQueue_ && id >= 0 && id < uploadQueue_->size()) {
        File &entry = (*uploadQueue_)[id];
        if (completedWell(note))
            entry.setDone();
        else
            entry.setError();
    }
    myWindow->refreshUploadTable();
    myWindow->refreshRemote();
    uploadFiles();
}

void MyDelegate::cancelTransfer(Direction direction, int index)
{
    QList<File> *queue = direction == Direction::Download ? &*downloadQueue_ : &*uploadQueue_;
    if (index < 0 || index >= queue->size() || (*queue)[index].isDone() || (*queue)[index].isCurrent())
        return;
    (*queue)[index].setCancelled();
    if (direction == Direction::Download)
        myWindow->refreshDownloadTable();
    else
        myWindow->refreshUploadTable();
}

void MyDelegate::retryTransfer(Direction direction, int index)
{
    QList<File> *queue = direction == Direction::Download ? &*downloadQueue_ : &*uploadQueue_;
    if (index < 0 || index >= queue->size() || !(*queue)[index].hasError())
        return;
    (*queue)[index].requeue();
    if (direction == Direction::Download) {
        myWindow->refreshDownloadTable();
        downloadFiles();
    } else {
        myWindow->refreshUploadTable();
        uploadFiles();
    }
}

} // namespace zodaru
