// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/TransferStartJob.h"
#include "ftp/TransferEvent.h"
#include "model/File.h"
#include "model/TransferDirection.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace zodaru {

class AppContext;
class FolderWalk;
class MainWindowController;
class RetiredEngines;
class SavedQueue;
class Session;
class TransferQueue;
struct TransferStart;

// The transfer side of the application controller: the download and upload queues, the
// start of their transfers on the members of the session's pools (see EnginePool), the
// transfer events of those engines, and the unfinished entries of other sites, held until
// a connect to their site.
//
// Main thread only. An event counts only when it comes from a member of the session's pool
// (by engine id) that runs that entry; the events of an engine let go are ignored.
class Transfers final : public QObject {
    Q_OBJECT
public:
    Transfers(AppContext &app, Session &session, RetiredEngines &retired, QObject *parent = nullptr);
    ~Transfers() override;
    Q_DISABLE_COPY_MOVE(Transfers)

    // Makes the two queues (start-up); before, both are absent.
    void createQueues();
    const QList<File> *downloadQueue() const;
    const QList<File> *uploadQueue() const;

    // The selected files of the remote (get) or local (put) browser join their queue.
    void getFile();
    void putFile();
    // Entries of `remoteDirectory` (directories with isDir()) go to `localDirectory`, and
    // back: files join their queue, directories are walked and their trees follow.
    void getEntries(const QString &remoteDirectory, const QList<File> &entries, const QString &localDirectory);
    void putEntries(const QString &localDirectory, const QList<File> &entries, const QString &remoteDirectory);
    // One pass over a queue: starts waiting entries, in order, while its pool has room.
    void downloadFiles();
    void uploadFiles();
    void cancelTransfer(TransferDirection direction, int index);
    void retryTransfer(TransferDirection direction, int index);
    // The queue operations of the tables (see TransferQueue); a resumed queue runs.
    void removeTransfers(TransferDirection direction, const QList<int> &indexes);
    int moveTransfers(TransferDirection direction, const QList<int> &indexes, int before);
    void retryFailedTransfers(TransferDirection direction);
    void clearFinishedTransfers(TransferDirection direction);
    void setTransfersPaused(TransferDirection direction, bool paused);
    bool transfersPaused(TransferDirection direction) const;
    // Entries of both queues, and of the sites set aside, waiting or running.
    int unfinishedTransfers() const;
    // Folders whose trees are being walked.
    int folderWalks() const { return int(walks_.size()); }

    // Quitting: the unfinished entries are written to the saved queue one last time.
    void saveQueues();

    // A chunk of the running transfer, and the end of a transfer.
    void chunk(const TransferEvent &event);
    void ended(const TransferEvent &event);

private:
    MainWindowController *window() const;
    TransferQueue &queue(TransferDirection direction) const;
    // Starts one transfer on a free member of the pool of `direction` (made when none is
    // free); `started` gets what the start gave.
    void startTransfer(TransferDirection direction, const File &entry, const QString &local, const QString &remote,
                       std::function<void(const TransferStart &)> started);
    // The start on the worker of `member`, which runs that entry until it is released.
    void runStart(TransferDirection direction, SessionEngine &member, const TransferStartJob::Request &request,
                  std::function<void(const TransferStart &)> started);
    // The directories `names` of `from` go to `to` in `direction`: a folder row each, their
    // trees walked (see FolderWalk).
    // Entries of `from` to `to` (remote to local for a download, back for an upload).
    void transferEntries(TransferDirection direction, const QString &from, const QList<File> &entries,
                         const QString &to);
    void transferFolders(TransferDirection direction, const QString &from, const QStringList &names,
                         const QString &to);
    // Gives up the walks on their way: their session ended (the queues were set aside or
    // emptied, the rows' IDs no longer theirs).
    void dropFolderWalks();
    // The member of the session's pool that moved `event` for the entry it runs; null when
    // the event is not the session's (an engine let go, an entry it no longer runs).
    SessionEngine *sender(TransferDirection direction, const TransferEvent &event) const;
    bool queuesMayRun() const;
    // After a disconnect: the queues keep their unfinished entries, waiting for the next
    // connect to the same site.
    void holdQueues();
    // A connect to `site` (server text and login) is made: the queues of another site are
    // set aside, and what waited for this one comes back.
    void switchQueuesTo(const QString &site);
    // The session was lost: the queues are emptied.
    void clearQueues();
    // The saved queue (app/SavedQueueHooks.cpp): made with the queues, and the offer of
    // what an earlier run saved for `site` (see SavedQueue::offer).
    void createSavedQueue();
    void offerSavedQueue(const QString &site);

    AppContext &app_;
    Session &session_;
    RetiredEngines &retired_;
    // Absent until start-up creates them.
    std::unique_ptr<TransferQueue> downloads_;
    std::unique_ptr<TransferQueue> uploads_;
    // The site ("server text" LF "login") the entries of the queues belong to, and the
    // unfinished entries of other sites, kept until a connect to their site.
    QString queueSite_;
    struct HeldTransfers {
        QList<File> downloads;
        QList<File> uploads;
    };
    QHash<QString, HeldTransfers> held_;
    // The folder walks on their way; each removes itself at its end.
    std::vector<std::unique_ptr<FolderWalk>> walks_;
    // The unfinished entries kept on disk for the next run; made with the queues.
    std::unique_ptr<SavedQueue> savedQueue_;
};

} // namespace zodaru
