// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/TransferQueue.h"

#include "base/Log.h"

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
                             std::function<void()> stopRunning)
    : direction_(direction), start_(std::move(start)), refresh_(std::move(refresh)),
      stopRunning_(std::move(stopRunning))
{
    progressRefresh_.setSingleShot(true);
    progressRefresh_.setInterval(0);
    QObject::connect(&progressRefresh_, &QTimer::timeout, [this] { refresh_(); });
}

qint32 TransferQueue::append(File entry)
{
    entry.setID(entries_.size());
    const qint32 id = qint32(entry.getID());
    entries_.append(std::move(entry));
    return id;
}

qint32 TransferQueue::appendFolder(File folder)
{
    return append(std::move(folder));
}

void TransferQueue::folderWalkEnded(qint32 folder, bool complete)
{
    Q_UNUSED(folder);
    Q_UNUSED(complete);
}

void TransferQueue::setConflictQuestion(Ask ask)
{
    ask_ = std::move(ask);
}

void TransferQueue::clear()
{
    entries_.clear();
    finishedHead_ = LogBlock();
    running_ = -1;
    starting_ = false;
    ++generation_;
}

void TransferQueue::holdUnfinished()
{
    QList<File> kept;
    for (File &entry : entries_) {
        if (entry.isDone())
            continue;
        entry.requeue();
        kept.append(std::move(entry));
    }
    clear();
    for (File &entry : kept)
        append(std::move(entry));
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
    finishedHead_.truncate(index);
}

void TransferQueue::runPass()
{
    const bool download = direction_ == Direction::Download;
    // The finished entries at the head were passed over before and read the same now.
    logBlock(finishedHead_);
    for (qsizetype i = finishedHead_.lineCount(); i < entries_.size(); ++i) {
        File &entry = entries_[i];
        describe(entry, [](const char *format, auto &&...args) { zlog(format, std::forward<decltype(args)>(args)...); });
        if (entry.isDone()) {
            entry.setCurrent(false);
            if (i == finishedHead_.lineCount())
                describe(entry, [this](const char *format, auto &&...args) {
                    finishedHead_.append(format, std::forward<decltype(args)>(args)...);
                });
            continue;
        }
        if (entry.isCurrent() || starting_ || running_ >= 0)
            return;
        // A name that is not a plain leaf would write outside the chosen local directory.
        if (download && !isPlainName(entry.name())) {
            zlog("Nom de fichier refuse : <%@>", entry.name());
            entry.setError();
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
        running_ = int(i);
        starting_ = true;
        start_(entry, local, remote,
               [this, generation = generation_, run = ++run_, index = int(i)](const TransferStart &start) {
                   started(generation, run, index, start);
               });
        return;
    }
}

void TransferQueue::started(quint64 generation, quint64 run, int index, const TransferStart &start)
{
    if (generation != generation_)
        return;
    starting_ = false;
    const bool cancelled = run == cancelledRun_;
    File &entry = entries_[index];
    if (startFailed(start.code)) {
        if (running_ == index)
            running_ = -1;
        // A cancelled entry stays cancelled, or waits when it was queued again.
        if (!cancelled && !entry.hasError())
            entry.setError();
    } else if (cancelled) {
        // Cancelled while its start was on its way: stopped now that it runs.
        if (running_ == index)
            stopRunning_();
    } else {
        // The row counts what the transfer is about: an upload the file as it was opened,
        // a continued download the bytes it already had.
        if (start.size >= 0)
            entry.setSize(start.size);
        entry.addToSize(start.resumedAt);
    }
    refresh_();
    // A pass goes on with the queue when nothing runs: the start failed, or the transfer
    // ended before its start was reported here. While it runs, a pass would only log the
    // entries up to it, and its end runs the next pass.
    if (running_ < 0)
        runPass();
}

void TransferQueue::chunk(qint64 size)
{
    // What a cancelled run still moves counts for no entry: its own may wait again.
    if (size <= 0 || running_ < 0 || cancelledRun_ == run_)
        return;
    File &entry = entries_[running_];
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
    if (!progressRefresh_.isActive())
        progressRefresh_.start();
}

void TransferQueue::completed(int id, bool ok)
{
    if (id >= 0 && id < entries_.size()) {
        // Left current when done: the next pass clears it. A cancelled entry stays so.
        File &entry = entries_[id];
        forgetFinishedFrom(id);
        // A cancelled run leaves its entry as the user left it: cancelled, or waiting again.
        const bool cancelledRun = running_ == id && cancelledRun_ == run_;
        if (!entry.isCancelled() && !cancelledRun) {
            if (ok)
                entry.setDone();
            else
                entry.setError();
        }
        if (running_ == id)
            running_ = -1;
    }
    refresh_();
}

void TransferQueue::cancel(int index)
{
    if (index < 0 || index >= entries_.size() || entries_[index].isDone())
        return;
    entries_[index].setCancelled();
    zlog("Transfert annule : <%@>", entries_[index].name());
    // Its worker removes the partial file and reports the end, which lets the queue go on.
    if (index == running_) {
        cancelledRun_ = run_;
        stopRunning_();
    }
    refresh_();
}

void TransferQueue::retry(int index)
{
    if (index < 0 || index >= entries_.size() || !entries_[index].hasError())
        return;
    // The running entry is here only once cancelled: it waits for its run's end, which
    // runs the next pass.
    entries_[index].requeue();
    forgetFinishedFrom(index);
    refresh_();
    runPass();
}

int TransferQueue::unfinished() const
{
    int count = 0;
    for (const File &entry : entries_)
        count += entry.isDone() ? 0 : 1;
    return count;
}

} // namespace zodaru
