// SPDX-License-Identifier: GPL-3.0-or-later
// What the user does with a queue's rows (cancel, retry, remove, move, clear, pause), the
// hold of a session's entries, and the counts of the folder rows.
#include "app/TransferQueue.h"

#include "base/Log.h"

#include <algorithm>

namespace zodaru {

namespace {

// Valid indexes of `entries`, each once, in order.
QList<int> sortedValid(QList<int> indexes, qsizetype size)
{
    std::sort(indexes.begin(), indexes.end());
    indexes.erase(std::unique(indexes.begin(), indexes.end()), indexes.end());
    indexes.removeIf([size](int i) { return i < 0 || i >= size; });
    return indexes;
}

} // namespace

File *TransferQueue::folderOf(const File &entry)
{
    if (entry.group() == 0)
        return nullptr;
    const int index = indexOf(entry.group());
    return index >= 0 && entries_[index].isDir() ? &entries_[index] : nullptr;
}

void TransferQueue::settleFolder(File &folder)
{
    const bool over = !folder.isWalking() && folder.filesDone() + folder.filesFailed() >= folder.filesFound();
    const bool failed = folder.filesFailed() > 0 || folder.walkIncomplete();
    if (over && failed) {
        folder.setError();
    } else if (over) {
        folder.setDone();
    } else if (folder.isDone()) {
        // A file of it waits again: the row counts on, with the bytes it had.
        const qint64 bytes = folder.currentsize();
        folder.requeue();
        folder.addToSize(bytes);
    }
}

void TransferQueue::fileFinished(const File &entry)
{
    if (File *folder = folderOf(entry)) {
        folder->setFileCounts(folder->filesFound(), folder->filesDone() + 1);
        // A skipped file, or one whose size was not known, counts as whole.
        folder->addToSize(std::max(entry.size(), entry.currentsize()) - entry.currentsize());
        settleFolder(*folder);
    }
}

void TransferQueue::fileFailed(const File &entry)
{
    if (File *folder = folderOf(entry)) {
        folder->setFilesFailed(folder->filesFailed() + 1);
        folder->addToSize(-entry.currentsize());
        settleFolder(*folder);
    }
}

void TransferQueue::fileRequeued(const File &entry)
{
    if (File *folder = folderOf(entry)) {
        folder->setFilesFailed(std::max(0, folder->filesFailed() - 1));
        settleFolder(*folder);
    }
}

void TransferQueue::fileRemoved(const File &entry)
{
    File *folder = folderOf(entry);
    if (!folder || entry.isFinished())
        return;
    folder->setFileCounts(std::max(0, folder->filesFound() - 1), folder->filesDone());
    folder->setSize(folder->size() - entry.size());
    if (entry.hasError())
        folder->setFilesFailed(std::max(0, folder->filesFailed() - 1));
    else
        folder->addToSize(-entry.currentsize());
    settleFolder(*folder);
}

void TransferQueue::eraseAt(QList<int> indexes)
{
    indexes = sortedValid(std::move(indexes), entries_.size());
    if (indexes.isEmpty())
        return;
    forgetFinishedFrom(indexes.first());
    for (auto i = indexes.crbegin(); i != indexes.crend(); ++i) {
        const File &entry = entries_[*i];
        if (!entry.isDir())
            fileRemoved(entry);
        entries_.removeAt(*i);
    }
    lastIndex_ = 0;
}

void TransferQueue::cancel(int index)
{
    if (index < 0 || index >= entries_.size() || entries_[index].isDone())
        return;
    if (entries_[index].isDir()) {
        // A folder row: every file of it not finished yet, and those its walk finds later.
        const qint32 folder = qint32(entries_[index].getID());
        cancelledFolders_.insert(folder);
        for (int i = 0; i < entries_.size(); ++i)
            if (entries_[i].group() == folder && !entries_[i].isDone())
                cancel(i);
        return;
    }
    File &entry = entries_[index];
    const qint32 id = qint32(entry.getID());
    entry.setCancelled();
    entry.setAsking(false);
    fileFailed(entry);
    zlog("Transfert annule : <%@>", entry.name());
    // Its worker removes the partial file and reports the end, which lets the queue go on.
    if (const auto run = running_.find(id); run != running_.end()) {
        run->cancelled = true;
        stopRunning_(id);
    }
    refresh_();
    // The queue waited for the answer about this one: it goes on without it.
    if (asking_ == id) {
        asking_ = 0;
        runPass();
    }
}

void TransferQueue::retry(int index)
{
    if (index < 0 || index >= entries_.size())
        return;
    if (entries_[index].isDir()) {
        // A folder row: every failed file of it, and the files its walk finds from now on.
        const qint32 folder = qint32(entries_[index].getID());
        cancelledFolders_.remove(folder);
        for (qsizetype i = 0; i < entries_.size(); ++i)
            if (entries_[i].group() == folder && entries_[i].hasError()) {
                fileRequeued(entries_[i]);
                entries_[i].requeue();
                forgetFinishedFrom(i);
            }
    } else {
        if (!entries_[index].hasError())
            return;
        // The running entry is here only once cancelled: it waits for its run's end, which
        // runs the next pass.
        fileRequeued(entries_[index]);
        entries_[index].requeue();
        forgetFinishedFrom(index);
    }
    refresh_();
    runPass();
}

void TransferQueue::retryFailed()
{
    for (qsizetype i = 0; i < entries_.size(); ++i) {
        File &entry = entries_[i];
        if (entry.isDir() || !entry.hasError())
            continue;
        fileRequeued(entry);
        entry.requeue();
        forgetFinishedFrom(i);
    }
    refresh_();
    runPass();
}

void TransferQueue::remove(const QList<int> &indexes)
{
    // By ID: a folder row takes its files, wherever they are.
    QList<qint32> ids;
    for (int index : sortedValid(indexes, entries_.size())) {
        const File &entry = entries_[index];
        ids.append(qint32(entry.getID()));
        if (entry.isDir())
            for (const File &file : std::as_const(entries_))
                if (file.group() == entry.getID())
                    ids.append(qint32(file.getID()));
    }
    QList<int> now;
    bool wasAsking = false;
    for (qint32 id : std::as_const(ids)) {
        const int index = indexOf(id);
        if (index < 0)
            continue;
        File &entry = entries_[index];
        wasAsking = wasAsking || asking_ == id;
        if (const auto run = running_.find(id); run != running_.end()) {
            // Its end is still to come, and names it: it goes then.
            run->removeAtEnd = true;
            if (!entry.isDone()) {
                entry.setCancelled();
                fileFailed(entry);
                zlog("Transfert annule : <%@>", entry.name());
            }
            if (!run->cancelled) {
                run->cancelled = true;
                stopRunning_(id);
            }
        } else {
            now.append(index);
        }
    }
    eraseAt(now);
    if (wasAsking)
        asking_ = 0;
    refresh_();
    if (wasAsking)
        runPass();
}

int TransferQueue::move(const QList<int> &indexes, int before)
{
    const QList<int> rows = sortedValid(indexes, entries_.size());
    before = std::clamp(before, 0, int(entries_.size()));
    if (rows.isEmpty())
        return before;
    QList<File> moved;
    int target = before;
    for (auto i = rows.crbegin(); i != rows.crend(); ++i) {
        moved.prepend(entries_.takeAt(*i));
        if (*i < before)
            --target;
    }
    for (qsizetype i = 0; i < moved.size(); ++i)
        entries_.insert(target + i, std::move(moved[i]));
    forgetFinishedFrom(std::min(rows.first(), target));
    lastIndex_ = 0;
    refresh_();
    return target;
}

void TransferQueue::clearFinished()
{
    QList<int> finished;
    for (int i = 0; i < entries_.size(); ++i) {
        const File &entry = entries_[i];
        if (entry.isFinished() && !entry.hasError() && !running_.contains(qint32(entry.getID())))
            finished.append(i);
    }
    eraseAt(finished);
    refresh_();
}

void TransferQueue::setPaused(bool paused)
{
    if (paused == paused_)
        return;
    paused_ = paused;
    zlog(paused ? "File des transferts en pause" : "File des transferts reprise");
    refresh_();
}

void TransferQueue::holdUnfinished()
{
    // The walks end with the session: their rows cannot count on.
    for (File &entry : entries_)
        if (entry.isDir() && entry.isWalking()) {
            entry.setWalking(false);
            entry.setWalkIncomplete(true);
            settleFolder(entry);
        }
    for (File &entry : entries_) {
        if (entry.isDir() || entry.isDone())
            continue;
        // From its first byte again: what it moved no longer counts for its folder.
        if (File *folder = folderOf(entry))
            folder->addToSize(-entry.currentsize());
        entry.requeue();
    }
    QList<File> kept;
    for (const File &entry : std::as_const(entries_))
        if (!entry.isDone())
            kept.append(entry);
    clear();
    entries_ = std::move(kept);
}

void TransferQueue::restore(const QList<File> &held)
{
    for (const File &entry : held) {
        lastId_ = std::max(lastId_, qint32(entry.getID()));
        entries_.append(entry);
    }
}

} // namespace zodaru
