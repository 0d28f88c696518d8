// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/Log.h"
#include "model/File.h"
#include "model/TransferConflict.h"
#include "model/TransferDirection.h"

#include <QList>
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
};

// The entries of one direction (downloads or uploads) and the one that runs: entries start
// one at a time, in order; a failed start marks its entry and the next one is tried.
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

    TransferQueue(Direction direction, Start start, std::function<void()> refresh, std::function<void()> stopRunning);

    const QList<File> &entries() const { return entries_; }
    // Adds an entry at the end and returns its ID.
    qint32 append(File entry);
    // Adds a folder row (a directory entry): it is never started, it counts the entries
    // appended with its ID as their group. Returns its ID.
    qint32 appendFolder(File folder);
    // The walk of a folder row's tree is over; `complete` is false when part of it could not
    // be listed (that part is failed).
    void folderWalkEnded(qint32 folder, bool complete);
    // Who answers the question about an existing target.
    void setConflictQuestion(Ask ask);
    // Forgets every entry; a start still on its way is ignored when it comes back.
    void clear();
    // Keeps the entries not finished, all waiting again (the one that ran from its first
    // byte), for a later session; the others go. Nothing starts before the next pass, and a
    // start still on its way is ignored when it comes back.
    void holdUnfinished();

    // One pass: starts the first waiting entry unless one runs or is being started.
    void runPass();
    // Progress and completion of the running transfer; the caller runs the next pass.
    // Progress refreshes the table once the current pass of the event loop is over, so
    // that the chunks of one delivery round cost one refresh.
    void chunk(qint64 size);
    void completed(int id, bool ok);

    // A waiting entry is marked cancelled; the running one is stopped and marked cancelled
    // now, and the queue moves on once its transfer has reported its end.
    void cancel(int index);
    // A failed or cancelled entry waits again; the queue runs. One whose cancelled transfer
    // has not ended yet waits for that end, then starts.
    void retry(int index);
    // Entries waiting or running.
    int unfinished() const;

private:
    void started(quint64 generation, quint64 run, int index, const TransferStart &start);
    // Calls `log` with the line a pass logs for `entry`.
    template <typename Log>
    void describe(const File &entry, Log &&log) const;
    // An entry of the finished head changed: its line and the ones after it are made again.
    void forgetFinishedFrom(qsizetype index);

    const Direction direction_;
    const Start start_;
    const std::function<void()> refresh_;
    const std::function<void()> stopRunning_;
    Ask ask_;
    QTimer progressRefresh_;
    QList<File> entries_;
    // The lines a pass logs for the finished entries at the head of the queue, made once:
    // every start passes over all of them (thousands per file in a run of small files).
    LogBlock finishedHead_;
    // The entry whose transfer is on its way or runs; -1 when none.
    int running_ = -1;
    // True from the hand-over of a start until its reply code is back.
    bool starting_ = false;
    // Bumped by clear(), so that the answer to a start made before is not taken for a new one.
    quint64 generation_ = 0;
    // Numbers the starts. A cancelled run no longer speaks for its entry, which may have
    // been queued again before the run ended.
    quint64 run_ = 0;
    quint64 cancelledRun_ = 0;
};

} // namespace zodaru
