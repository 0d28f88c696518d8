// SPDX-License-Identifier: GPL-3.0-or-later
// The queue's runs: entries in, starts, progress, ends and the questions about existing
// targets. What the user does with the rows is in TransferQueueEdits.cpp.
#include "app/TransferQueue.h"

#include "base/Log.h"

#include <algorithm>
#include <utility>

namespace zodaru {

namespace {

// A start that returned -1 moved nothing and started no worker; one of 400 or more was
// refused. Either way nothing will ever finish the entry.
bool startFailed(int code)
{
    return code < 0 || code >= 400;
}

QString joined(const QString &directory, const QString &name)
{
    return directory + QLatin1Char('/') + name;
}

} // namespace

TransferQueue::TransferQueue(Direction direction, Start start, std::function<void()> refresh,
                             std::function<void(qint32)> stopRunning)
    : direction_(direction), start_(std::move(start)), refresh_(std::move(refresh)),
      stopRunning_(std::move(stopRunning))
{
    progressRefresh_.setSingleShot(true);
    progressRefresh_.setInterval(0);
    QObject::connect(&progressRefresh_, &QTimer::timeout, [this] { refresh_(); });
}

int TransferQueue::indexOf(qint32 id) const
{
    if (lastIndex_ < entries_.size() && entries_[lastIndex_].getID() == id)
        return lastIndex_;
    for (int i = 0; i < entries_.size(); ++i)
        if (entries_[i].getID() == id)
            return lastIndex_ = i;
    return -1;
}

qint32 TransferQueue::append(File entry)
{
    if (entry.group() != 0) {
        const int folder = indexOf(entry.group());
        if (folder < 0 || !entries_[folder].isDir())
            return 0;
        File &row = entries_[folder];
        row.setFileCounts(row.filesFound() + 1, row.filesDone());
        row.setSize(row.size() + entry.size());
        settleFolder(row);
    }
    if (entry.group() != 0 && cancelledFolders_.contains(entry.group()) && !entry.isDone())
        entry.setCancelled();
    entry.setID(++lastId_);
    entries_.append(std::move(entry));
    // An entry that comes already failed (a directory of the tree that could not be listed
    // or made) or finished counts for its folder at once: nothing else will end it.
    const File &added = entries_.constLast();
    if (added.group() != 0 && added.hasError())
        fileFailed(added);
    else if (added.group() != 0 && added.isDone())
        fileFinished(added);
    return lastId_;
}

qint32 TransferQueue::appendFolder(File folder)
{
    // Made as a directory row whatever it was copied from: only those are never started.
    File row(folder.name(), 0, 1);
    row.setLocalPath(folder.localpath());
    row.setRemotePath(folder.remotepath());
    row.setDisplayName(folder.displayName());
    row.setWalking(true);
    return append(std::move(row));
}

void TransferQueue::folderWalkEnded(qint32 folder, bool complete)
{
    const int index = indexOf(folder);
    if (index < 0 || !entries_[index].isDir())
        return;
    File &row = entries_[index];
    row.setWalking(false);
    row.setWalkIncomplete(!complete);
    if (!complete)
        zlog("Dossier <%@> : parcours incomplet", row.displayName());
    settleFolder(row);
    refresh_();
}

void TransferQueue::setConflictQuestion(Ask ask)
{
    ask_ = std::move(ask);
}

void TransferQueue::clear()
{
    entries_.clear();
    finishedHead_ = LogBlock();
    headEnd_ = 0;
    running_.clear();
    asking_ = 0;
    remembered_.clear();
    cancelledFolders_.clear();
    ++generation_;
}

template <typename Log>
void TransferQueue::describe(const File &entry, Log &&log) const
{
    if (direction_ == Direction::Download)
        log("DOWNLOADFILES : [%@] <%@> de <%@> a <%@>", entry.getStatus(), entry.name(), entry.remotepath(),
            entry.localpath());
    else
        log("UPLOADFILES : [%@] <%@> de <%@> a <%@>", entry.getStatus(), entry.name(), entry.localpath(),
            entry.remotepath());
}

void TransferQueue::forgetFinishedFrom(qsizetype index)
{
    if (index >= headEnd_)
        return;
    // The head holds a line for each file before headEnd_; folder rows have none.
    qsizetype lines = 0;
    for (qsizetype i = 0; i < index; ++i)
        lines += entries_[i].isDir() ? 0 : 1;
    finishedHead_.truncate(lines);
    headEnd_ = std::max<qsizetype>(0, index);
}

void TransferQueue::runPass()
{
    if (paused_)
        return;
    const int capacity = capacity_ ? std::max(1, capacity_()) : 1;
    const bool download = direction_ == Direction::Download;
    // The finished entries at the head were passed over before and read the same now.
    logBlock(finishedHead_);
    for (qsizetype i = headEnd_; i < entries_.size(); ++i) {
        File &entry = entries_[i];
        // Folder rows only count their files.
        if (entry.isDir()) {
            if (i == headEnd_)
                ++headEnd_;
            continue;
        }
        describe(entry, [](const char *format, auto &&...args) { zlog(format, std::forward<decltype(args)>(args)...); });
        if (entry.isDone()) {
            entry.setCurrent(false);
            if (i == headEnd_) {
                describe(entry, [this](const char *format, auto &&...args) {
                    finishedHead_.append(format, std::forward<decltype(args)>(args)...);
                });
                ++headEnd_;
            }
            continue;
        }
        const qint32 id = qint32(entry.getID());
        // A running entry, or one whose earlier run is still ending, is passed over while
        // others may start.
        const bool full = running_.size() >= capacity;
        if (entry.isCurrent() || running_.contains(id)) {
            if (full || asking_ != 0)
                return;
            continue;
        }
        if (full || asking_ != 0)
            return;
        // A name that is not a plain leaf would write outside the chosen local directory.
        if (download && !isPlainName(entry.name())) {
            zlog("Nom de fichier refuse : <%@>", entry.name());
            entry.setError();
            fileFailed(entry);
            refresh_();
            continue;
        }
        const QString local = joined(entry.localpath(), entry.name());
        const QString remote = joined(entry.remotepath(), entry.name());
        entry.setCurrent(true);
        if (download)
            zlog("DOWNLOAD fichier path : %@ dans : %@", remote, local);
        else
            zlog("UPLOAD fichier path : %@ vers : %@ ", local, remote);
        Run run;
        run.number = ++runs_;
        running_.insert(id, run);
        const quint64 generation = generation_;
        start_(entry, local, remote, [this, generation, id, number = run.number](const TransferStart &start) {
            started(generation, id, number, start);
        });
        // A start answered at once ran its own pass; otherwise this one goes on.
        if (generation != generation_ || running_.size() >= capacity || running_.value(id).number != run.number)
            return;
        i = indexOf(id);
        if (i < 0)
            return;
    }
}

void TransferQueue::started(quint64 generation, qint32 id, quint64 number, const TransferStart &start)
{
    if (generation != generation_)
        return;
    const auto run = running_.find(id);
    const int index = indexOf(id);
    if (run == running_.end() || run->number != number || index < 0)
        return;
    run->starting = false;
    File &entry = entries_[index];
    if (start.again) {
        // No engine for it now: it waits for the next free one.
        endRun(id);
        if (!entry.isCancelled())
            entry.setCurrent(false);
    } else if (run->ended) {
        // The transfer ended before its start was reported here: completed() marked it.
        endRun(id);
    } else if (!run->cancelled && start.conflict) {
        endRun(id);
        entry.setCurrent(false);
        if (entry.conflictAnswer() == ConflictAnswer::Ask) {
            conflicted(index, *start.conflict);
        } else {
            // Answered, and yet asked again: failed rather than asked for ever.
            entry.setError();
            fileFailed(entry);
        }
    } else if (!run->cancelled && start.skipped) {
        endRun(id);
        entry.setSkipped();
        fileFinished(entry);
    } else if (startFailed(start.code)) {
        // A cancelled entry stays cancelled, or waits when it was queued again.
        if (!run->cancelled && !entry.hasError()) {
            entry.setError();
            fileFailed(entry);
        }
        endRun(id);
    } else if (run->cancelled) {
        // Cancelled while its start was on its way: stopped now that it runs.
        stopRunning_(id);
    } else {
        // The row counts what the transfer is about: an upload the file as it was opened,
        // a continued download the bytes it already had.
        if (start.size >= 0) {
            if (File *folder = folderOf(entry))
                folder->setSize(folder->size() + start.size - entry.size());
            entry.setSize(start.size);
        }
        entry.addToSize(start.resumedAt);
        if (File *folder = folderOf(entry))
            folder->addToSize(start.resumedAt);
    }
    refresh_();
    // A pass goes on with the queue when there is room: the start failed, or the transfer
    // ended before its start was reported here. While all run, a pass would only log the
    // entries up to them, and each end runs the next pass.
    if (running_.size() < (capacity_ ? std::max(1, capacity_()) : 1))
        runPass();
}

void TransferQueue::endRun(qint32 id)
{
    const Run run = running_.take(id);
    if (run.removeAtEnd)
        if (const int index = indexOf(id); index >= 0)
            eraseAt({index});
}

void TransferQueue::chunk(qint32 id, qint64 size)
{
    // What a cancelled run still moves counts for no entry: its own may wait again.
    const auto run = running_.constFind(id);
    if (size <= 0 || run == running_.cend() || run->cancelled)
        return;
    const int index = indexOf(id);
    if (index < 0)
        return;
    File &entry = entries_[index];
    if (direction_ == Direction::Download)
        zlog("RECEIVE <%@> <%@> <size: %i> <isDone: %i> <isCurrent: %i>", entry.name(),
             entry.getStatus(), entry.currentsize(), entry.isDone(), entry.isCurrent());
    else
        zlog("SEND <%@> <%@> <size: %i / %i> <isDone: %i> <isCurrent: %i>", entry.name(),
             entry.getStatus(), entry.currentsize(), entry.size(), entry.isDone(),
             entry.isCurrent());
    if (entry.isDone())
        return;
    entry.addToSize(size);
    if (File *folder = folderOf(entry))
        folder->addToSize(size);
    if (!progressRefresh_.isActive())
        progressRefresh_.start();
}

void TransferQueue::completed(qint32 id, bool ok)
{
    const auto run = running_.find(id);
    if (const int index = indexOf(id); index >= 0) {
        // Left current when done: the next pass clears it. A cancelled entry stays so.
        File &entry = entries_[index];
        forgetFinishedFrom(index);
        // A cancelled run leaves its entry as the user left it: cancelled, or waiting again.
        const bool cancelledRun = run != running_.end() && run->cancelled;
        if (!entry.isCancelled() && !cancelledRun && !entry.isDone()) {
            if (ok) {
                entry.setDone();
                fileFinished(entry);
            } else {
                entry.setError();
                fileFailed(entry);
            }
        }
    }
    if (run != running_.end()) {
        // Until its start is reported the run stays, so that nothing else starts beside it.
        if (run->starting)
            run->ended = true;
        else
            endRun(id);
    }
    refresh_();
}

void TransferQueue::conflicted(int index, const TargetFacts &facts)
{
    File &entry = entries_[index];
    const qint32 id = qint32(entry.getID());
    const ConflictClass kind = classOf(facts);
    if (const auto found = remembered_.constFind(int(kind)); found != remembered_.cend()) {
        zlog("Fichier existant <%@> : reponse %@ (pour tous)", entry.name(), answerWord(*found));
        if (*found == ConflictAnswer::Skip) {
            entry.setSkipped();
            fileFinished(entry);
        } else {
            entry.setConflictAnswer(*found);
        }
        return;
    }
    if (!ask_) {
        // Nobody to ask: nothing is replaced without an answer.
        zlog("Fichier existant <%@> : reponse %@", entry.name(), answerWord(ConflictAnswer::Skip));
        entry.setSkipped();
        fileFinished(entry);
        return;
    }
    asking_ = id;
    entry.setAsking(true);
    refresh_();
    // The question may be answered inside this call, or much later: the entry is found by
    // its ID then, and an answer for a queue cleared since starts nothing. A copy is asked
    // about, since the answer may change the queue.
    const File asked = entry;
    ask_(asked, facts, [this, generation = generation_, id, kind](ConflictAnswer answer, bool applyToAll) {
        answered(generation, id, kind, answer, applyToAll);
    });
}

void TransferQueue::answered(quint64 generation, qint32 id, ConflictClass kind, ConflictAnswer answer, bool applyToAll)
{
    if (generation != generation_ || asking_ != id)
        return;
    asking_ = 0;
    // No answer (the question closed) loses nothing: skipped.
    if (answer == ConflictAnswer::Ask)
        answer = ConflictAnswer::Skip;
    if (const int index = indexOf(id); index >= 0) {
        File &entry = entries_[index];
        entry.setAsking(false);
        zlog("Fichier existant <%@> : reponse %@", entry.name(), answerWord(answer));
        if (answer == ConflictAnswer::Skip) {
            entry.setSkipped();
            fileFinished(entry);
        } else {
            entry.setConflictAnswer(answer);
        }
    }
    if (applyToAll)
        remembered_.insert(int(kind), answer);
    refresh_();
    runPass();
}

int TransferQueue::unfinished() const
{
    int count = 0;
    for (const File &entry : entries_)
        count += entry.isDone() || entry.isDir() ? 0 : 1;
    return count;
}

} // namespace zodaru
