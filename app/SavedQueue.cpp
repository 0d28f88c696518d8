// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/SavedQueue.h"

#include "app/TransferQueue.h"
#include "base/ByteNames.h"
#include "base/Log.h"
#include "ui/ResumeQueueDialog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>
#include <QSet>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zodaru {

namespace {

// Changes that come together (a folder's files, the chunks of a transfer) make one write.
constexpr int kCoalesceMs = 1000;

// A descriptor closed when it goes.
class Descriptor final {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Q_DISABLE_COPY_MOVE(Descriptor)
    int get() const { return fd_; }
    // Closes now; false when the close reported an error (a delayed write failure).
    bool close() { return ::close(std::exchange(fd_, -1)) == 0; }

private:
    int fd_;
};

bool writeAll(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

QString lastError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The local file of an upload is as it was when it was queued: same size and date.
bool unchangedSince(const File &entry)
{
    struct stat st{};
    const QByteArray path = bytesOfName(entry.localpath() + QLatin1Char('/') + entry.name());
    return entry.modified() >= 0 && ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode)
        && qint64(st.st_size) == entry.size() && qint64(st.st_mtime) == entry.modified();
}

// An upload under way at the end of its session that may continue its remote file: it
// moved bytes there (a target in the way was asked about or answered before), and the
// answer does not send it elsewhere. Whether the remote file is still shorter is checked
// at its start.
bool mayContinue(const File &entry)
{
    const ConflictAnswer answer = entry.conflictAnswer();
    return QueueFile::stateOf(entry) == QueueFile::EntryState::Running && answer != ConflictAnswer::Rename
        && answer != ConflictAnswer::Skip && unchangedSince(entry);
}

QList<File> unfinishedEntries(const QList<File> &entries)
{
    QSet<qint32> groups;
    QList<File> files;
    for (const File &entry : entries) {
        if (entry.isDir())
            continue;
        const auto state = QueueFile::stateOf(entry);
        if (state != QueueFile::EntryState::Waiting && state != QueueFile::EntryState::Running
            && state != QueueFile::EntryState::Failed)
            continue;
        File kept = entry;
        if (state == QueueFile::EntryState::Running && entry.currentsize() <= 0)
            kept.setCurrent(false);
        groups.insert(entry.group());
        files.append(std::move(kept));
    }
    if (files.isEmpty())
        return files;
    QList<File> out;
    for (const File &entry : entries) {
        if (!entry.isDir() || !groups.contains(qint32(entry.getID())))
            continue;
        // A walk still on its way ends with this run: what it had not listed yet is missing.
        File row = entry;
        if (row.isWalking()) {
            row.setWalking(false);
            row.setWalkIncomplete(true);
        }
        out.append(std::move(row));
    }
    out.append(std::move(files));
    return out;
}

} // namespace

SavedQueue::SavedQueue(const QString &path, Snapshot live, QObject *parent)
    : QObject(parent), path_(path), live_(std::move(live))
{
    coalesce_.setSingleShot(true);
    coalesce_.setInterval(kCoalesceMs);
    connect(&coalesce_, &QTimer::timeout, this, &SavedQueue::save);
    // One write at a time, in order.
    writer_.setMaxThreadCount(1);
    load();
}

SavedQueue::~SavedQueue()
{
    if (question_)
        delete question_.data();
    writeNow();
}

QString SavedQueue::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Zodaru/transfer-queue.json");
}

SavedSite SavedQueue::unfinishedOf(const QString &key, const QList<File> &downloads, const QList<File> &uploads)
{
    return SavedSite::fromKey(key, unfinishedEntries(downloads), unfinishedEntries(uploads));
}

void SavedQueue::load()
{
    QFile file(path_);
    if (!file.exists())
        return;
    std::optional<QList<SavedSite>> sites;
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
        sites = QueueFile::decoded(bytes);
        file.close();
    }
    if (!sites) {
        // Kept for whoever wants to look at it, out of the way of the next write.
        const QString aside = path_ + QStringLiteral(".bad");
        QFile::remove(aside);
        const bool moved = QFile::rename(path_, aside);
        zlog("File des transferts illisible, mise de cote : %@", moved ? aside : path_);
        return;
    }
    for (SavedSite &site : *sites)
        if (!site.isEmpty())
            pending_.append(std::move(site));
    written_ = bytes;
    if (!pending_.isEmpty())
        zlog("File des transferts relue : %i sites", pending_.size());
}

void SavedQueue::writeOut(const QList<SavedSite> &live, const QList<SavedSite> &pending)
{
    QElapsedTimer clock;
    clock.start();
    QList<SavedSite> sites;
    for (const SavedSite &site : live)
        if (SavedSite kept = unfinishedOf(site.key(), site.downloads, site.uploads); !kept.isEmpty() && !kept.server.isEmpty())
            sites.append(std::move(kept));
    sites.append(pending);
    const QByteArray bytes = sites.isEmpty() ? QByteArray() : QueueFile::encoded(sites);
    // A write that failed is tried again at the next change, even to the same bytes.
    if (bytes == written_ && !failed_)
        return;
    failed_ = !store(bytes);
    if (!failed_) {
        written_ = bytes;
        ++writes_;
    }
    writerMicros_ = clock.nsecsElapsed() / 1000;
}

void SavedQueue::touch()
{
    if (!final_ && !coalesce_.isActive())
        coalesce_.start();
}

void SavedQueue::writeFinal()
{
    writeNow();
    final_ = true;
}

bool SavedQueue::writeNow()
{
    save();
    writer_.waitForDone();
    return !failed_;
}

void SavedQueue::save()
{
    coalesce_.stop();
    if (final_)
        return;
    QElapsedTimer clock;
    clock.start();
    // The lists are shared, not copied: the queues copy theirs when they next change.
    writer_.start([this, live = live_(), pending = pending_] { writeOut(live, pending); });
    lastWriteMicros_ = clock.nsecsElapsed() / 1000;
}

bool SavedQueue::store(const QByteArray &bytes) const
{
    const QByteArray path = QFile::encodeName(path_);
    if (bytes.isEmpty()) {
        if (::unlink(path.constData()) != 0 && errno != ENOENT) {
            zlog("File des transferts non effacee : %@ ==> %@", path_, lastError());
            return false;
        }
        return true;
    }
    const QString directory = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(directory)) {
        zlog("File des transferts non enregistree : %@ ==> dossier impossible a creer", path_);
        return false;
    }
    // mkstemp makes the file 0600 from the start: no one else can read it even for a moment.
    QByteArray temporary = path + ".XXXXXX";
    Descriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    const bool made = fd.get() >= 0;
    bool ok = made && ::fchmod(fd.get(), S_IRUSR | S_IWUSR) == 0 && writeAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
    ok = ok && fd.close();
    ok = ok && ::rename(temporary.constData(), path.constData()) == 0;
    if (!ok) {
        const QString reason = lastError();
        if (made)
            ::unlink(temporary.constData());
        zlog("File des transferts non enregistree : %@ ==> %@", path_, reason);
        return false;
    }
    // The rename itself lasts once the directory is on disk too.
    Descriptor dir(::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return true;
}

QList<SavedSite> SavedQueue::pending(const QString &key) const
{
    QList<SavedSite> out;
    for (const SavedSite &site : pending_)
        if (site.key() == key)
            out.append(site);
    return out;
}

void SavedQueue::forget(const QString &key)
{
    pending_.removeIf([&key](const SavedSite &site) { return site.key() == key; });
    touch();
}

void SavedQueue::keep(const SavedSite &site)
{
    if (site.files() == 0)
        return;
    pending_.append(site);
    touch();
}

void SavedQueue::offer(const QString &key, QWidget *parent, Resume resume)
{
    if (question_)
        question_->close();
    const QList<SavedSite> saved = pending(key);
    int files = 0;
    for (const SavedSite &site : saved)
        files += site.files();
    if (files == 0)
        return;
    zlog("Transferts d'une session precedente pour %@ : %i", key.section(QLatin1Char('\n'), 0, 0), files);
    question_ = askToResumeQueue(parent, files, [this, key, resume = std::move(resume)](ResumeAnswer answer) {
        switch (answer) {
        case ResumeAnswer::Later:
            zlog("Transferts precedents gardes pour plus tard");
            return;
        case ResumeAnswer::Discard:
            zlog("Transferts precedents abandonnes (les fichiers partiels restent en place)");
            forget(key);
            return;
        case ResumeAnswer::Resume:
            zlog("Transferts precedents repris");
            break;
        }
        const QList<SavedSite> back = pending(key);
        forget(key);
        for (const SavedSite &site : back)
            if (!resume(site))
                pending_.append(site);
    });
}

void SavedQueue::appendTo(TransferQueue &queue, const QList<File> &entries, bool upload)
{
    QHash<qint32, qint32> groups; // saved id -> id in this queue
    QList<std::pair<qint32, bool>> folders; // id, walk complete
    for (const File &entry : entries) {
        if (!entry.isDir())
            continue;
        const qint32 id = queue.appendFolder(entry);
        groups.insert(qint32(entry.getID()), id);
        folders.append({id, !entry.walkIncomplete()});
    }
    for (const File &saved : entries) {
        if (saved.isDir())
            continue;
        File entry = saved;
        entry.setGroup(groups.value(saved.group(), 0));
        if (upload && mayContinue(saved))
            entry.setConflictAnswer(ConflictAnswer::ResumeOrAsk);
        entry.requeue();
        queue.append(std::move(entry));
    }
    for (const auto &[id, complete] : folders)
        queue.folderWalkEnded(id, complete);
}

} // namespace zodaru
