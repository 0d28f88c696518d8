// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/QueueFile.h"

#include <QByteArray>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <atomic>

#include <functional>

class QWidget;

namespace zodaru {

class TransferQueue;

// Keeps the unfinished transfers in a file (transfer-queue.json beside the settings), so
// that they outlive the program: the entries of the queues and of the sites set aside, and
// those read at start-up and not yet brought back. The file is written whole to a temporary
// file made private (0600) from its creation, synced, then renamed over the old one; it is
// removed when nothing is left. A file that cannot be read is set aside as "*.bad".
//
// Changes are coalesced: touch() asks for a write about a second later, and a write that
// would give the same bytes as the last one (progress alone, say) writes nothing. The
// entries are picked, made into bytes, compared and written on a thread of their own: the
// main thread only hands over the lists, shared.
//
// Main thread only; writeOut() and what it uses run on the writer's thread, one at a time.
class SavedQueue final : public QObject {
    Q_OBJECT
public:
    // The sites' entries as the program holds them now, all of them: what is kept of them
    // (unfinishedOf()) is picked on the writer's thread.
    using Snapshot = std::function<QList<SavedSite>()>;
    // Brings a site's saved entries back into the queues; false when it cannot now (the
    // session went to another site meanwhile): they stay saved.
    using Resume = std::function<bool(const SavedSite &saved)>;

    SavedQueue(const QString &path, Snapshot live, QObject *parent = nullptr);
    ~SavedQueue() override;
    Q_DISABLE_COPY_MOVE(SavedQueue)

    // XDG_CONFIG_HOME/Zodaru/transfer-queue.json.
    static QString defaultPath();
    QString path() const { return path_; }

    // What of `downloads` and `uploads` is kept for `key` (server text LF login): every file
    // waiting, running or failed (a cancelled one the user gave up, a finished one is
    // over) and the folder rows they belong to. A running entry stays "running" only once
    // it has moved bytes: an upload that was under way may continue its remote file.
    static SavedSite unfinishedOf(const QString &key, const QList<File> &downloads, const QList<File> &uploads);

    // The queues changed: a write follows shortly.
    void touch();
    // Writes now when the content changed, and waits for the file; false when it could not
    // be written.
    bool writeNow();
    // The last write, at quit, before the transfers are stopped: what the queues say after
    // (the stopped transfers failing) is not the state to come back to. Nothing is written
    // afterwards. Without it, the queue is written as it stands when this object goes.
    void writeFinal();
    // Writes that changed the file since start (for tests and the log).
    int writes() const { return writes_; }
    // What the last write cost the main thread (a copy of the lists), and its writer's
    // thread (the entries picked, the bytes made and compared, the file written and
    // synced), in microseconds.
    qint64 lastWriteMicros() const { return lastWriteMicros_; }
    qint64 writerMicros() const { return writerMicros_; }

    // The entries saved in an earlier run for `key`, not brought back yet; empty when none.
    QList<SavedSite> pending(const QString &key) const;
    // Entries the queues lose without the user asking (the session was lost) join what is
    // offered at the next connect to their site, and stay in the file meanwhile.
    void keep(const SavedSite &site);
    // Asks, without blocking, whether to bring back what an earlier run saved for `key`:
    // Resume hands each saved set to `resume` (those it takes leave the pending list), Discard
    // forgets them (partial files are left where they are), Later keeps them for the next
    // connect. Nothing is asked when nothing is pending for `key`. A question still open
    // for another site is closed as Later.
    void offer(const QString &key, QWidget *parent, Resume resume);
    // The open question, for tests; null when none.
    QMessageBox *question() const { return question_; }

    // Appends `entries` of a saved site to `queue` with new IDs: folder rows first, then
    // their files in their groups, waiting. `upload`: an upload that was under way, whose
    // local file is as it was, continues the remote file when that is shorter and asks
    // otherwise.
    static void appendTo(TransferQueue &queue, const QList<File> &entries, bool upload);

private:
    void load();
    // Hands the entries to the writer's thread, without waiting.
    void save();
    // On the writer's thread: the bytes of `live` (unfinishedOf) and `pending` (as read),
    // written when they changed.
    void writeOut(const QList<SavedSite> &live, const QList<SavedSite> &pending);
    // Puts `bytes` in the file (removes it when empty).
    bool store(const QByteArray &bytes) const;
    void forget(const QString &key);

    const QString path_;
    const Snapshot live_;
    // Sites read from the file at start-up and not brought back or discarded yet; a site may
    // have several (each keeps its own IDs and groups).
    QList<SavedSite> pending_;
    QTimer coalesce_;
    QPointer<QMessageBox> question_;
    bool final_ = false;
    qint64 lastWriteMicros_ = 0;
    // The writer's: what the file holds now (empty when there is none), whether the last
    // write failed; read on the main thread once the writer is idle (writeNow()).
    QByteArray written_;
    std::atomic<bool> failed_{false};
    std::atomic<int> writes_{0};
    std::atomic<qint64> writerMicros_{0};
    // Last, so that it goes first: its destructor waits for the write on its way.
    QThreadPool writer_;
};

} // namespace zodaru
