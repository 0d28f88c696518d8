// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/Log.h"
#include "model/File.h"
#include "model/TransferConflict.h"
#include "model/TransferDirection.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace zodaru {

// What the start of a transfer brought back.
struct TransferStart {
    int code = -1;         // the reply to RETR or STOR; -1 when nothing started
    qint64 resumedAt = 0;  // a download continued a partial file from this byte
    qint64 size = -1;      // an upload's size as the file was opened; -1 when not known
    // The target exists and the entry's answer was Ask: nothing started (code -1), the
    // queue asks the user and starts the entry again with the answer.
    std::optional<TargetFacts> conflict;
    // The answer said to leave an existing target as it is (Skip, or OverwriteIfDifferent
    // with nothing different): nothing started, the entry is finished as skipped.
    bool skipped = false;
    // No engine could be had for it (an extra login failed): nothing started, the entry
    // waits again and goes to the next free engine.
    bool again = false;
};

// The entries of one direction (downloads or uploads) and the ones that run: entries start
// in order, as many at once as the capacity allows (one unless set); a failed start marks
// its entry and the next one is tried.
//
// Every entry has an ID given once by append() (from 1 on) and never given again by this
// queue, whatever is removed, moved or cleared: the transfers and their events name
// entries by ID, so that reordering the queue never confuses them. Folder rows (directory
// entries) are never started; they count the files appended under their ID (group()).
//
// The queue itself never talks to the network: `start` hands a transfer to the session,
// which starts it off the main thread and calls back with what the start brought back (a
// code of -1 when nothing started, 400 or more when refused). The completion comes later
// through completed(). Everything here runs on the main thread.
class TransferQueue final {
public:
    using Direction = TransferDirection;
    using Started = std::function<void(const TransferStart &start)>;
    // Starts `entry` (its id, its conflict answer) from `local` to `remote` or back.
    using Start = std::function<void(const File &entry, const QString &local, const QString &remote, Started started)>;
    // Asks the user what to do with an existing target; `answered` may be called later, on
    // the main thread, once. `applyToAll`: the answer holds for every conflict of the same
    // class in this queue from now on.
    using Answered = std::function<void(ConflictAnswer answer, bool applyToAll)>;
    using Ask = std::function<void(const File &entry, const TargetFacts &facts, Answered answered)>;

    // `stopRunning` stops the transfer of the entry with that ID.
    TransferQueue(Direction direction, Start start, std::function<void()> refresh,
                  std::function<void(qint32 id)> stopRunning);
    // How many entries may run at once (started or being started); 1 unless set.
    void setCapacity(std::function<int()> capacity) { capacity_ = std::move(capacity); }

    const QList<File> &entries() const { return entries_; }
    // Adds an entry at the end and returns its ID. An entry of a folder row that is no
    // longer in the queue (removed by the user) is dropped: 0, so its walk can stop.
    qint32 append(File entry);
    // Adds a folder row (a directory entry): it is never started, it counts the entries
    // appended with its ID as their group. Returns its ID.
    qint32 appendFolder(File folder);
    // The walk of a folder row's tree is over; `complete` is false when part of it could not
    // be listed (that part is failed).
    void folderWalkEnded(qint32 folder, bool complete);
    // Who answers the question about an existing target.
    void setConflictQuestion(Ask ask);
    // Forgets every entry and the answers applied to all; a start still on its way, or a
    // question still open, is ignored when it comes back.
    void clear();
    // Keeps the entries not finished, all waiting again (the one that ran from its first
    // byte), for a later session; the others go. Nothing starts before the next pass, and a
    // start still on its way is ignored when it comes back. A folder walk still running
    // ends with the session: its row reads as incomplete.
    void holdUnfinished();
    // Entries held by holdUnfinished() come back at the end, with their IDs (this queue
    // gave them and gives none twice).
    void restore(const QList<File> &held);

    // One pass: starts the waiting entries in order while fewer than the capacity run or
    // are being started, unless the queue is paused or a question about an existing target
    // is open. An entry whose earlier run has not ended yet waits for that end.
    void runPass();
    // Progress and completion of a running transfer, by the entry's ID; the caller runs
    // the next pass. Progress refreshes the table once the current pass of the event loop
    // is over, so that the chunks of one delivery round cost one refresh.
    void chunk(qint32 id, qint64 size);
    void completed(qint32 id, bool ok);

    // --- What the user does with the table; rows are indexes in entries() ---
    // A waiting entry is marked cancelled; the running one is stopped and marked cancelled
    // now, and the queue moves on once its transfer has reported its end. A folder row:
    // each of its files not finished.
    void cancel(int index);
    // A failed or cancelled entry waits again; the queue runs. One whose cancelled transfer
    // has not ended yet waits for that end, then starts.
    void retry(int index);
    // Every failed or cancelled entry waits again; the queue runs.
    void retryFailed();
    // Takes the entries out of the queue: a waiting one goes now, a running one is
    // cancelled and goes once its transfer has ended. A folder row takes its files along.
    void remove(const QList<int> &indexes);
    // Moves the entries, kept in their order, before the entry that was at `before` (the
    // end when it is entries().size()). Returns where the first of them now is.
    int move(const QList<int> &indexes, int before);
    // Takes out every finished entry (done or skipped; failed ones stay to be retried) and
    // the folder rows whose files are all done.
    void clearFinished();
    // While paused nothing new starts; the running transfers go on to their end.
    void setPaused(bool paused);
    bool isPaused() const { return paused_; }

    // Entries waiting or running (folder rows not counted: their files are).
    int unfinished() const;
    // The index of the entry with this ID; -1 when none.
    int indexOf(qint32 id) const;

private:
    // A transfer handed to the session, from its start to its end.
    struct Run {
        quint64 number = 0;    // numbers the starts: a later run of the same entry is another
        bool starting = true;  // until the start's reply code is back
        bool cancelled = false; // no longer speaks for its entry, which may wait again
        bool ended = false;    // its end came before its start was reported
        bool removeAtEnd = false;
    };

    void started(quint64 generation, qint32 id, quint64 run, const TransferStart &start);
    // The run of `id` is over: forgotten, and its entry taken out if the user removed it.
    void endRun(qint32 id);
    // The start found the target existing: answers remembered for its class apply, else
    // the user is asked and the queue waits.
    void conflicted(int index, const TargetFacts &facts);
    void answered(quint64 generation, qint32 id, ConflictClass kind, ConflictAnswer answer, bool applyToAll);
    // Calls `log` with the line a pass logs for `entry`.
    template <typename Log>
    void describe(const File &entry, Log &&log) const;
    // An entry at `index` or after it changed, moved or went: the finished head is made
    // again from there.
    void forgetFinishedFrom(qsizetype index);

    // Folder rows: a file of `entry`'s group changed state, counts follow.
    File *folderOf(const File &entry);
    void fileFinished(const File &entry);
    void fileFailed(const File &entry);
    void fileRequeued(const File &entry);
    void fileRemoved(const File &entry);
    // Done, failed or still going, from its counts and its walk.
    static void settleFolder(File &folder);
    // Takes out the entries at `indexes` now (sorted, running ones excluded by the caller).
    void eraseAt(QList<int> indexes);

    const Direction direction_;
    const Start start_;
    const std::function<void()> refresh_;
    const std::function<void(qint32)> stopRunning_;
    std::function<int()> capacity_;
    Ask ask_;
    QTimer progressRefresh_;
    QList<File> entries_;
    // The lines a pass logs for the finished entries at the head of the queue, made once:
    // every start passes over all of them (thousands per file in a run of small files).
    // Folder rows are not logged: headEnd_ is the first entry after the head.
    LogBlock finishedHead_;
    qsizetype headEnd_ = 0;
    // The entries whose transfers are on their way or run, by ID.
    QHash<qint32, Run> running_;
    // The entry whose existing target the user is asked about; 0 when none.
    qint32 asking_ = 0;
    // Folder rows the user cancelled: files their walk still finds arrive cancelled.
    QSet<qint32> cancelledFolders_;
    // Answers applied to all conflicts of a class, until the queue is cleared.
    QHash<int, ConflictAnswer> remembered_; // by ConflictClass
    bool paused_ = false;
    qint32 lastId_ = 0;
    // Where the last ID looked up was: chunks of one transfer come in runs.
    mutable int lastIndex_ = 0;
    // Bumped by clear(), so that the answer to a start made before is not taken for a new one.
    quint64 generation_ = 0;
    quint64 runs_ = 0;
};

} // namespace zodaru
