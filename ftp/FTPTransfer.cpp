// SPDX-License-Identifier: GPL-3.0-or-later
// File transfers: the exchange on the caller's thread; the data on the engine worker that made
// the exchange, or else on the engine's own transfer thread.
#include "ftp/FTP.h"
#include "ftp/EngineWorker.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ftp/NotificationCenter.h"
#include "ftp/Socket.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace zodaru {

namespace {

constexpr qint64 kChunkSize = 16384;
const QString kObject = QStringLiteral("DataTransfert");

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

// Data moves in steps of this size (a multiple of kChunkSize): a few system calls per
// step instead of per chunk.
constexpr qint64 kStepSize = 16 * kChunkSize;
// What an upload leaves queued in the system ahead of what the connection has sent.
constexpr int kUnsentLimit = int(4 * kChunkSize);

// How a step of a download ended: NotWritten is the local file's failure.
enum class ChunkEnd { Full, EndOfStream, Failed, TimedOut, NotWritten };

ChunkEnd endOfRead(qint64 result)
{
    if (result > 0)
        return ChunkEnd::Full;
    return result == 0 ? ChunkEnd::EndOfStream
                       : (result == Socket::TimedOut ? ChunkEnd::TimedOut : ChunkEnd::Failed);
}

// Progress is told in chunks of kChunkSize bytes counted from the transfer's start,
// whatever the size of the steps the data moves in: each chunk once its last byte has
// moved, a shorter last one at finish().
class ChunkProgress final {
public:
    explicit ChunkProgress(std::function<void(qint64 size)> tell) : tell_(std::move(tell)) {}

    void moved(qint64 n)
    {
        pending_ += n;
        while (pending_ >= kChunkSize) {
            pending_ -= kChunkSize;
            tell_(kChunkSize);
        }
    }
    void finish()
    {
        if (pending_ > 0)
            tell_(std::exchange(pending_, 0));
    }

private:
    std::function<void(qint64)> tell_;
    qint64 pending_ = 0;
};

// The user information of a transfer's chunk notifications: all but the last chunk carry the
// same, built once and shared instead of once per chunk (65 536 chunks per GiB).
class ChunkInfo final {
public:
    explicit ChunkInfo(QMap<QString, QString> base) : base_(std::move(base)), full_(with(kChunkSize)) {}

    QMap<QString, QString> operator()(qint64 size) const { return size == kChunkSize ? full_ : with(size); }

private:
    QMap<QString, QString> with(qint64 size) const
    {
        QMap<QString, QString> info = base_;
        info.insert(QStringLiteral("size"), QString::number(size));
        return info;
    }

    const QMap<QString, QString> base_;
    const QMap<QString, QString> full_;
};

QString readFailure(ChunkEnd end)
{
    return end == ChunkEnd::TimedOut ? QStringLiteral("data connection timed out")
                                     : QStringLiteral("read failed on the data connection");
}

// Every transfer worker of the process, so that quitting can stop them and wait for them
// before the objects they report to are gone. Each worker holds the register too: one that
// is still ending when the process exits never finds it destroyed.
class Workers final {
public:
    static std::shared_ptr<Workers> all()
    {
        static const auto workers = std::make_shared<Workers>();
        return workers;
    }

    quint64 add(std::weak_ptr<FTP> engine)
    {
        std::lock_guard lock(mutex_);
        const quint64 token = ++last_;
        running_.emplace(token, std::move(engine));
        return token;
    }

    void remove(quint64 token)
    {
        std::lock_guard lock(mutex_);
        running_.erase(token);
        if (running_.empty())
            noneLeft_.notify_all();
    }

    std::vector<std::shared_ptr<FTP>> engines() const
    {
        std::vector<std::shared_ptr<FTP>> out;
        std::lock_guard lock(mutex_);
        for (const auto &[token, engine] : running_)
            if (auto alive = engine.lock())
                out.push_back(std::move(alive));
        return out;
    }

    bool waitUntilNone(int timeoutMs)
    {
        std::unique_lock lock(mutex_);
        return noneLeft_.wait_for(lock, std::chrono::milliseconds(qMax(0, timeoutMs)),
                                  [this] { return running_.empty(); });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable noneLeft_;
    std::map<quint64, std::weak_ptr<FTP>> running_;
    quint64 last_ = 0;
};

// The reply of a command that did not get the transfer going: refused by the server, or
// never sent or answered (-1).
bool refused(int code)
{
    return code < 0 || code >= 400;
}

constexpr qsizetype kNameMax = 255; // bytes of one path component
const QByteArray kPartSuffix = QByteArrayLiteral(".zodaru-part");
constexpr qsizetype kTagLength = 9; // '.' and 8 hexadecimal digits
// The remote path a partial file holds the beginning of, so that only the same remote file
// continues it.
constexpr char kSourceAttribute[] = "user.zodaru.remote";

// `name` cut at its end, by whole characters, to at most `maxBytes` bytes. Each undecoded
// byte is one character of the lossless form; a surrogate pair is one character.
QString shortened(QString name, qsizetype maxBytes)
{
    while (bytesOfName(name).size() > maxBytes) {
        const qsizetype n = name.size();
        const bool pair = n >= 2 && name.at(n - 1).isLowSurrogate() && name.at(n - 2).isHighSurrogate();
        name.chop(pair ? 2 : 1);
    }
    return name;
}

// The last component of the partial file's path; always the same for one target, so a
// later download finds it again. A name too long for the suffix is shortened and takes a
// tag made from the whole name: two long names that share their beginning must not meet
// on one partial file.
QByteArray partLeaf(const QString &leaf)
{
    const QByteArray stem = bytesOfName(leaf);
    if (stem.size() + kPartSuffix.size() <= kNameMax)
        return stem + kPartSuffix;
    const QByteArray tag = QCryptographicHash::hash(stem, QCryptographicHash::Sha256).toHex().left(kTagLength - 1);
    return bytesOfName(shortened(leaf, kNameMax - kPartSuffix.size() - kTagLength)) + '.' + tag + kPartSuffix;
}

QByteArray partPath(const QString &target)
{
    const QByteArray path = bytesOfName(target);
    const qsizetype slash = path.lastIndexOf('/');
    return path.left(slash + 1) + partLeaf(nameFromBytes(QByteArrayView(path).sliced(slash + 1)));
}

// A partial file is only ever one of ours: a regular file of this user, not a link.
bool isOwnRegularFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// Whether the partial file at `fd` was started for `remote`. A file system without user
// attributes cannot tell: the target's name alone ties them then.
bool startedFor(int fd, const QByteArray &remote)
{
    QByteArray stored(4096, '\0');
    const ssize_t n = ::fgetxattr(fd, kSourceAttribute, stored.data(), size_t(stored.size()));
    if (n < 0)
        return errno == ENOTSUP;
    stored.truncate(n);
    return stored == remote;
}

// The process's umask, read without changing it (umask() would change it for a moment
// for every thread). Without /proc, the strictest one.
mode_t readUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("Umask:")) {
                bool ok = false;
                const uint mask = line.mid(6).trimmed().toUInt(&ok, 8);
                if (ok)
                    return mode_t(mask & 0777);
            }
        }
    }
    return 077;
}

// The program never changes its umask: read once per thread that saves files, so once for
// all the files of an engine instead of at every saved file.
mode_t currentUmask()
{
    thread_local const mode_t mask = readUmask();
    return mask;
}

// The download's bytes go to a file beside the target and replace the target only once the
// whole transfer succeeded, so a failed download never costs the user a file they had. A
// download broken by the network may keep it (keep()) for a later one to continue.
class PartFile final {
public:
    // Each file starts with an empty pipe in `receiver`, which stays with the thread.
    explicit PartFile(FileReceiver &receiver) : receiver_(receiver) { receiver_.startFile(); }
    ~PartFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.isEmpty() && !keep_)
            ::unlink(path_.constData());
    }
    Q_DISABLE_COPY_MOVE(PartFile)

    // Opens the partial file of `target`: continued at its end when `offset` > 0 (it must
    // still hold exactly that many bytes), emptied otherwise. `remote` is recorded in it.
    bool open(const QString &target, const QByteArray &remote, qint64 offset)
    {
        const QByteArray name = partPath(target);
        // O_NOFOLLOW: a link planted under the partial name never redirects the bytes.
        // 0600: the content stays the user's alone until the file has its final mode.
        // Continued at its end by a seek, not O_APPEND: bytes spliced in from the connection
        // cannot go to a file open for appending.
        constexpr int kFlags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW;
        // Usually there is no partial file yet: one made here is ours, regular and empty,
        // with nothing to check or reset.
        int fd = offset > 0 ? -1 : ::open(name.constData(), kFlags | O_CREAT | O_EXCL, 0600);
        const bool made = fd >= 0;
        if (!made && (offset > 0 || errno == EEXIST))
            fd = ::open(name.constData(), kFlags | (offset > 0 ? 0 : O_CREAT), 0600);
        if (fd < 0) {
            error_ = errnoText(errno);
            return false;
        }
        fd_ = fd;
        if (made)
            path_ = name;
        else if (!reuse(name, offset))
            return false;
        ::fsetxattr(fd, kSourceAttribute, remote.constData(), size_t(remote.size()), 0);
        return true;
    }

    void keep() { keep_ = true; }

    // The remote file's modification time, carried over when the file is committed.
    void setModified(qint64 secondsUtc)
    {
        const timespec times[2] = {{secondsUtc, 0}, {secondsUtc, 0}};
        if (::futimens(fd_, times) != 0)
            zlog("Date du fichier non appliquee : %@", errnoText(errno));
    }

    // Moves what has arrived on `data`, up to `count` bytes, into the file: straight from
    // the connection when it is plain, through a buffer under TLS. Returns the count moved;
    // `end` says why it is 0 (Full when it is not).
    qint64 receiveFrom(Socket &data, qint64 count, int idleMs, ChunkEnd &end)
    {
        if (!data.isEncrypted() && receiver_.isValid()) {
            bool fileFailed = false;
            const qint64 n = receiver_.receive(data, fd_, count, idleMs, fileFailed);
            if (fileFailed)
                error_ = errnoText(errno);
            end = fileFailed ? ChunkEnd::NotWritten : endOfRead(n);
            return qMax<qint64>(n, 0);
        }
        // A TLS read gives one record (16 KiB at most): the records that have arrived already
        // join it, so that the file is written in large blocks. An end met on the way is
        // told with the next step.
        buffer_.resize(size_t(count));
        qint64 got = 0;
        qint64 result = laterEnd_ ? *std::exchange(laterEnd_, std::nullopt)
                                  : data.readSome(buffer_.data(), count, idleMs);
        while (result > 0) {
            got += result;
            result = got < count ? data.readSome(buffer_.data() + got, count - got, 0) : Socket::TimedOut;
        }
        end = endOfRead(got > 0 ? got : result);
        if (got == 0)
            return 0;
        if (result != Socket::TimedOut)
            laterEnd_ = result;
        if (!write(buffer_.data(), got)) {
            end = ChunkEnd::NotWritten;
            return 0;
        }
        return got;
    }

    bool write(const char *data, qint64 size)
    {
        while (size > 0) {
            const ssize_t n = ::write(fd_, data, size_t(size));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error_ = errnoText(errno);
                return false;
            }
            data += n;
            size -= n;
        }
        return true;
    }

    // Gives the file its final mode, closes it and renames it over the target; on failure
    // the partial file is removed.
    bool commit(const QString &target)
    {
        keep_ = false;
        const QByteArray path = bytesOfName(target);
        if (::fchmod(fd_, finalMode(path)) != 0) {
            error_ = errnoText(errno);
            return false;
        }
        const int fd = std::exchange(fd_, -1);
        // Delayed write errors (quota, network file systems) show up at close.
        if (::close(fd) != 0) {
            error_ = errnoText(errno);
            return false;
        }
        if (::rename(path_.constData(), path.constData()) != 0) {
            error_ = errnoText(errno);
            return false;
        }
        path_.clear();
        return true;
    }

    QString error() const { return error_; }

private:
    // The partial file `name` that was there already: continued from `offset` when it holds
    // exactly that many bytes, emptied when `offset` is 0. Removed on failure only once it
    // is known to be ours.
    bool reuse(const QByteArray &name, qint64 offset)
    {
        struct stat st{};
        if (::fstat(fd_, &st) != 0 || !isOwnRegularFile(st) || (offset > 0 && st.st_size != offset)
            || ::lseek(fd_, offset, SEEK_SET) != offset) {
            error_ = QStringLiteral("the partial file is not one this download can use");
            return false;
        }
        path_ = name;
        if (offset == 0 && (::ftruncate(fd_, 0) != 0 || ::fchmod(fd_, 0600) != 0)) {
            error_ = errnoText(errno);
            return false;
        }
        return true;
    }

    // Replacing a file keeps the permissions the user gave it; a new file gets those of any
    // new file. Never setuid, setgid or sticky: a downloaded program must not run with its
    // owner's rights because the file it replaced did.
    static mode_t finalMode(const QByteArray &target)
    {
        struct stat st{};
        if (::stat(target.constData(), &st) == 0 && S_ISREG(st.st_mode))
            return st.st_mode & 0777;
        return 0666 & ~currentUmask();
    }

    int fd_ = -1;
    QByteArray path_;
    QString error_;
    bool keep_ = false;
    FileReceiver &receiver_;
    std::vector<char> buffer_;
    std::optional<qint64> laterEnd_;
};

// One splice pipe per thread that moves data, kept for all its downloads.
FileReceiver &receiverOfThisThread()
{
    thread_local FileReceiver receiver;
    return receiver;
}

} // namespace

// Runs the transfers of an engine used outside an engine worker (from a tool's or a test's
// own thread) one after the other. The thread holds its own share of the queue, so it can
// end after the engine has gone: when the engine's last reference is dropped by a transfer
// on this very thread, the thread is let go instead of joined.
class FTP::TransferThread final {
public:
    using Job = std::function<void()>;

    // Throws std::system_error when no thread can be made.
    TransferThread() : queue_(std::make_shared<Queue>()), thread_([queue = queue_] { loop(*queue); }) {}
    ~TransferThread()
    {
        {
            std::lock_guard lock(queue_->mutex);
            queue_->stopping = true;
        }
        queue_->wake.notify_one();
        // Elsewhere the thread is idle or about to be (a job holds the engine), so the join
        // is short.
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
    Q_DISABLE_COPY_MOVE(TransferThread)

    void run(Job job)
    {
        {
            std::lock_guard lock(queue_->mutex);
            queue_->jobs.push_back(std::move(job));
        }
        queue_->wake.notify_one();
    }

private:
    struct Queue {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Job> jobs;
        bool stopping = false;
    };

    static void loop(Queue &queue)
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(queue.mutex);
                queue.wake.wait(lock, [&] { return queue.stopping || !queue.jobs.empty(); });
                if (queue.jobs.empty())
                    return;
                job = std::move(queue.jobs.front());
                queue.jobs.pop_front();
            }
            job();
        }
    }

    const std::shared_ptr<Queue> queue_;
    std::thread thread_;
};

void FTP::TransferThreadEnd::operator()(TransferThread *thread) const
{
    delete thread;
}

class FTP::UploadSource final {
public:
    UploadSource(int fd, qint64 size, QString path) : fd_(fd), size_(size), path_(std::move(path)) {}
    ~UploadSource() { ::close(fd_); }
    Q_DISABLE_COPY_MOVE(UploadSource)

    // Opens a regular file; null, with the reason logged, for anything else. Opening does not
    // block: a named pipe would otherwise wait for a writer.
    static std::shared_ptr<UploadSource> open(const QString &path)
    {
        const int fd = ::open(bytesOfName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
        if (fd < 0) {
            zlog("Fichier %@ non trouve !", path);
            return nullptr;
        }
        struct stat st{};
        struct statfs fs{};
        const bool statted = ::fstat(fd, &st) == 0 && ::fstatfs(fd, &fs) == 0;
        // Kernel files (/proc, /sys) call themselves regular but give no size: they would go
        // up as empty files said to be complete.
        const bool kernelFile = statted && (fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC);
        const int flags = statted ? ::fcntl(fd, F_GETFL) : -1;
        if (!statted || !S_ISREG(st.st_mode) || kernelFile || flags < 0
            || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
            zlog("Fichier %@ refuse : ce n'est pas un fichier ordinaire", path);
            ::close(fd);
            return nullptr;
        }
        return std::make_shared<UploadSource>(fd, qint64(st.st_size), path);
    }

    qint64 size() const { return size_; }
    const QString &path() const { return path_; }

    // Fills `buffer` up to `size` bytes or the end of the file; -1 on a read error.
    qint64 read(char *buffer, qint64 size)
    {
        qint64 got = 0;
        while (got < size) {
            const ssize_t n = ::read(fd_, buffer + got, size_t(size - got));
            if (n == 0)
                break;
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error_ = errnoText(errno);
                return -1;
            }
            got += n;
        }
        return got;
    }

    QString error() const { return error_; }

    // Moves the next `count` bytes of the file to `data` through a buffer. (Handing the
    // file's pages to the socket with sendfile() was measured slower on loopback: the
    // server took the bytes at ~0.6 of the speed it takes them written from a buffer.)
    // The count moved, fewer when the file ended first; on failure the reason is in
    // `failure`.
    qint64 sendTo(Socket &data, qint64 count, int idleMs, QString &failure)
    {
        buffer_.resize(size_t(count));
        const qint64 n = read(buffer_.data(), count);
        if (n < 0) {
            failure = error_;
            return 0;
        }
        if (!data.writeAll(buffer_.data(), n, idleMs)) {
            failure = QStringLiteral("write failed on the data connection");
            return 0;
        }
        return n;
    }

private:
    const int fd_;
    const qint64 size_;
    const QString path_;
    QString error_;
    std::vector<char> buffer_;
};

std::shared_ptr<Socket> FTP::freshDataConnection(const std::shared_ptr<Socket> &before) const
{
    // pasv() leaves DTP as it was when it fails; an earlier transfer's connection must
    // never be taken for this one's.
    auto now = dataConnection();
    return now == before ? nullptr : now;
}

void FTP::releaseDataConnection(const std::shared_ptr<Socket> &data)
{
    std::lock_guard lock(stateMutex_);
    if (DTP == data)
        DTP.reset();
}

std::shared_ptr<Socket> FTP::openTransfer(const QString &verb, const QString &remote, int &code, qint64 *restAt,
                                          std::optional<RemoteFacts> *facts)
{
    code = -1;
    const auto before = dataConnection();
    // A download that starts from the beginning goes with EPSV and TYPE once EPSV has worked:
    // one round trip less per file. RETR changes nothing on the server, so it does no harm
    // even when what went before it is refused; a REST must be answered before it, and a
    // STOR replaces the remote file as soon as it is taken up. The SIZE and MDTM that check
    // the file once it has arrived go along too, before RETR, so that their replies come
    // before the transfer's and cost no round trip of their own.
    const bool resuming = restAt && *restAt > 0;
    QList<SentAhead> after;
    if (verb == QLatin1String("RETR") && !resuming) {
        if (facts && features_.size)
            after.append({QStringLiteral("SIZE"), remote});
        if (facts && features_.mdtm)
            after.append({QStringLiteral("MDTM"), remote});
        after.append({verb, remote});
    }
    pasv(QStringLiteral("I"), after);
    auto data = freshDataConnection(before);
    if (!data || !isConnected()) {
        const int answer = settleWithoutDataConnection(verb);
        if (refused(answer))
            code = answer;
        return nullptr;
    }
    const int type = setType(QStringLiteral("I"));
    if (!ahead_.isEmpty()) {
        auto answered = settleFactsAhead();
        if (facts)
            *facts = std::move(answered);
        code = settleCommandAhead(refused(type), *data);
        if (refused(type) && !refused(code))
            code = type;
    } else if (!refused(type)) {
        if (resuming && command(QStringLiteral("REST"), QString::number(*restAt)) != 350) {
            zlog("REST refuse : %@ repart du debut", remote);
            *restAt = 0;
        }
        if (isConnected())
            code = command(verb, remote);
    }
    if (!refused(code) && !secureDataConnection(*data, code))
        code = -1;
    if (!refused(code))
        return data;
    // Nothing will move on this connection: it is closed now, not left for a worker to
    // wait on, and the engine is free for the next transfer.
    zlog("Transfert de %@ non commence (%i)", remote, code);
    releaseDataConnection(data);
    data->shutdownBoth();
    return nullptr;
}

bool FTP::startWorker(std::function<void(FTP &, FileReceiver &)> body)
{
    const auto workers = Workers::all();
    const quint64 token = workers->add(weak_from_this());
    transferRunning_ = true;
    try {
        auto transfer = [self = shared_from_this(), body = std::move(body), workers, token]() mutable {
            body(*self, receiverOfThisThread());
            // Everything the transfer held goes before it counts as ended: once
            // waitForTransfers() has returned, no worker touches the program any more.
            body = nullptr;
            self.reset();
            workers->remove(token);
        };
        // Started from an engine worker's job, the data moves on that worker as soon as the
        // job has handed back its result: the worker has nothing else to do for this engine
        // until the transfer ends, and a file saves a wake-up of another thread.
        if (EngineWorker *worker = EngineWorker::current()) {
            worker->runNext(std::move(transfer));
            return true;
        }
        if (!transferThread_)
            transferThread_.reset(new TransferThread());
        transferThread_->run(std::move(transfer));
        return true;
    } catch (const std::system_error &e) {
        zlog("Exception recue au lancement du transfert ==> %@", e.what());
        transferRunning_ = false;
        workers->remove(token);
        // The server is about to move the file and then answer on the control connection;
        // without a worker that reply would be taken for the next command's.
        close();
        return false;
    }
}

void FTP::stopAllTransfers()
{
    for (const auto &engine : Workers::all()->engines()) {
        zlog("Transfert en cours arrete");
        // Closing wakes the worker on both connections; it then reports the transfer as
        // broken and removes its partial file.
        engine->close();
    }
}

bool FTP::waitForTransfers(int timeoutMs)
{
    return Workers::all()->waitUntilNone(timeoutMs);
}

void FTP::cancelTransfer()
{
    if (!transferRunning_)
        return;
    // A cancelled download leaves no partial file to resume from.
    transferCancelled_ = true;
    stoppedByUser_ = true;
    if (const auto data = dataConnection())
        data->shutdownBoth();
}

int FTP::get(const QString &remote, int id)
{
    return get(remote, remote, id);
}

qint64 FTP::resumableOffset(const QString &remote, const QString &savedName)
{
    if (!features_.restStream)
        return 0;
    const int fd = ::open(partPath(savedName).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return 0;
    struct stat st{};
    const bool usable = ::fstat(fd, &st) == 0 && isOwnRegularFile(st) && st.st_size > 0
        && startedFor(fd, bytesOfName(remote));
    ::close(fd);
    if (!usable)
        return 0;
    // A partial file longer than the remote file belongs to another version of it.
    const auto remoteLength = remoteSize(remote);
    if (remoteLength && *remoteLength < st.st_size)
        return 0;
    return st.st_size;
}

int FTP::get(const QString &remote, const QString &savedName, int id)
{
    Action action(*this);
    if (transferRunning_) {
        // The engine carries one transfer at a time; a second one would share PI with the
        // running worker and reset the counters it reports.
        zlog("Transfert deja en cours, %@ refuse", remote);
        return -1;
    }
    _idfile = id;
    masize = 0;
    transferCancelled_ = false;
    resumeOffset_ = 0;
    stoppedByUser_ = false;
    if (!isConnected())
        return -1;
    FileName = savedName;

    int code = -1;
    qint64 offset = resumableOffset(remote, savedName);
    std::optional<RemoteFacts> facts;
    auto data = openTransfer(QStringLiteral("RETR"), remote, code, &offset, &facts);
    if (!data)
        return code;
    resumeOffset_ = offset;
    if (offset > 0)
        zlog("Reprise de %@ a l'octet %i", savedName, offset);
    Download download{remote, FileName, offset, std::move(facts)};
    const bool started = startWorker([download = std::move(download), id,
                                      data = std::move(data)](FTP &ftp, FileReceiver &receiver) mutable {
        // Moved on, so that the worker's close of the connection is the last one.
        ftp.downloadThread(std::move(download), id, std::move(data), receiver);
    });
    return started ? code : -1;
}

int FTP::put(const QString &local, const QString &remote, int id)
{
    Action action(*this);
    if (transferRunning_) {
        zlog("Transfert deja en cours, %@ refuse", local);
        return -1;
    }
    _idfile = id;
    if (!isConnected())
        return -1;
    auto source = UploadSource::open(local);
    if (!source)
        return -1;

    int code = -1;
    auto data = openTransfer(QStringLiteral("STOR"), remote, code);
    if (!data)
        return code;
    const bool started = startWorker([source = std::move(source), id,
                                      data = std::move(data)](FTP &ftp, FileReceiver &) mutable {
        ftp.uploadThread(std::move(source), id, std::move(data));
    });
    return started ? code : -1;
}

void FTP::downloadThread(Download download, qint32 id, std::shared_ptr<Socket> data, FileReceiver &receiver)
{
    const QString &fileName = download.fileName;
    auto &center = NotificationCenter::defaultCenter();
    const QString idText = QString::number(id);
    qint64 total = 0;
    bool broken = false;
    int code = -1;

    try {
        PartFile part(receiver);
        // A stopped download may still end in a 226: only a whole file is kept.
        if (!data) {
            broken = true;
        } else if (!part.open(fileName, bytesOfName(download.remote), download.offset)) {
            zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
            broken = true;
        }

        const int idleMs = timeouts().dataIdle;
        const ChunkInfo chunkInfo({{QStringLiteral("ID"), idText}});
        ChunkProgress progress([&](qint64 n) {
            total += n;
            masize += n;
            zlog("taille mise : %@ total : %i", n, masize.load());
            center.post(QStringLiteral("ChunkOfFile"), kObject, chunkInfo(n), this);
        });
        while (!broken) {
            // Whatever has arrived, up to a step: written at once, told in chunks.
            ChunkEnd end = ChunkEnd::Full;
            progress.moved(part.receiveFrom(*data, kStepSize, idleMs, end));
            if (end == ChunkEnd::Full)
                continue;
            if (end == ChunkEnd::NotWritten)
                zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
            else if (end != ChunkEnd::EndOfStream)
                zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, readFailure(end));
            broken = end != ChunkEnd::EndOfStream;
            break;
        }
        // Closed before the last chunk is told: some servers send their completion reply
        // only once the client has closed, and with many small files that wait is a good
        // part of each one. When we stop early the server learns it from the closed
        // connection and answers with its completion reply, which keeps the control
        // connection in step.
        const bool cutWithoutCloseNotify = data && data->endedWithoutCloseNotify();
        if (data) {
            data->shutdownBoth();
            releaseDataConnection(data);
            data.reset();
        }
        progress.finish();
        if (cutWithoutCloseNotify)
            zlog("Telechargement de %@ coupe : flux TLS ferme sans close_notify", fileName);
        code = ret();
        zlog("fichier FileName : %@ telecharge", fileName);

        // A file the server says is longer or shorter than what arrived is not whole.
        const qint64 written = download.offset + total;
        if (!broken && code >= 200 && code < 300) {
            const auto facts = download.facts ? *download.facts : remoteFacts(download.remote);
            if (facts.size && *facts.size != written) {
                zlog("Taille differente pour %@ : %i recus, %i annonces", fileName, written, *facts.size);
                broken = true;
            } else if (facts.modified) {
                part.setModified(*facts.modified);
            }
        }
        // A connection that broke keeps what arrived for the next download to continue,
        // when the server can continue it; a stop by the user leaves nothing behind.
        const bool failed = broken || code < 200 || code >= 300;
        if (failed && written > 0 && features_.restStream && !stoppedByUser_)
            part.keep();

        // Only a whole file replaces the target; a server that aborted the transfer
        // (426 and the like) keeps its own code in "status".
        broken = broken || transferCancelled_;
        if (!broken && code >= 200 && code < 300) {
            zlog("on essaie de sauver %@ ...", fileName);
            if (part.commit(fileName)) {
                zlog("Fichier %@ sauve !", fileName);
            } else {
                zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
                broken = true;
            }
        } else {
            zlog("Fichier %@ impossible a sauver :-(", fileName);
        }
    } catch (const std::exception &e) {
        zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, e.what());
        broken = true;
    }

    zlog("on fait la notification FileSaved");
    transferRunning_ = false;
    center.post(QStringLiteral("FileSaved"), kObject,
                {{QStringLiteral("ID"), idText},
                 {QStringLiteral("size"), QString::number(total)},
                 {QStringLiteral("status"), QString::number(broken ? -1 : code)}},
                this, NotificationCenter::Delivery::Now);
}

void FTP::uploadThread(std::shared_ptr<UploadSource> source, qint32 id, std::shared_ptr<Socket> data)
{
    auto &center = NotificationCenter::defaultCenter();
    const QString idText = QString::number(id);
    const qint64 length = source->size();
    bool broken = !data;
    int code = -1;

    try {
        zlog("Data length : %i", length);
        const int idleMs = timeouts().dataIdle;
        qint64 offset = 0;
        const ChunkInfo chunkInfo({});
        ChunkProgress progress([&](qint64 n) {
            offset += n;
            zlog("nouvelle taille de send : %i (%i) ", offset, n);
            center.post(QStringLiteral("ChunkOfFileUploaded"), kObject, chunkInfo(n), this);
        });
        // Without a limit the system queues megabytes ahead of a slower receiver, which
        // then reads bytes written long before, out of the processor's caches. On loopback,
        // uploads to vsftpd, ProFTPD and Pure-FTPd ran 4-15 % faster with 64 KiB at most.
        if (data)
            data->limitUnsent(kUnsentLimit);
        qint64 sent = 0;
        while (!broken && sent < length) {
            const qint64 step = std::min(kStepSize, length - sent);
            for (qint64 at = sent; at < sent + step; at += kChunkSize) {
                const qint64 n = std::min(kChunkSize, sent + step - at);
                zlog("send : %d upto : %d ", at, n);
                zlog("chunk (%i,%i) == %i ", at, at + n, n);
            }
            QString failure;
            const qint64 n = source->sendTo(*data, step, idleMs, failure);
            sent += n;
            progress.moved(n);
            if (n < step) {
                // The file shrank or could not be read, or the connection failed: sending
                // less would leave a short copy on the server that looks complete.
                zlog("Exception recue dans uploadThread ==> %@",
                     failure.isEmpty() ? QStringLiteral("local file ended early") : failure);
                broken = true;
            }
        }
        // A file that grew meanwhile is not sent as complete: what the server would keep
        // is neither the file as it was nor as it is now. The upload fails instead.
        char more = 0;
        const qint64 extra = broken ? 0 : source->read(&more, 1);
        broken = broken || extra != 0;

        // Closed before the last chunk is told: the server's completion reply waits for it.
        bool tlsEndUnconfirmed = false;
        if (data) {
            if (broken) {
                // A reset instead of an orderly close, so the server does not take the
                // bytes it has for the whole file. Dissolving the association resets the
                // connection and keeps the descriptor valid for its owner.
                sockaddr unspecified{};
                unspecified.sa_family = AF_UNSPEC;
                ::connect(data->fileDescriptor(), &unspecified, sizeof unspecified);
            } else {
                // Closing the data connection is what tells the server the file is complete;
                // over TLS only a close_notify does, a bare close may be a cut.
                tlsEndUnconfirmed =
                    data->isEncrypted() && !(data->closeNotify(idleMs) && data->awaitPeerClose(idleMs));
                data->shutdownBoth();
            }
            releaseDataConnection(data);
            data.reset();
        }
        progress.finish();
        if (extra != 0)
            zlog("Exception recue dans uploadThread ==> %@",
                 extra < 0 ? source->error()
                           : QStringLiteral("%1 grew during the upload; not sent as complete").arg(source->path()));
        if (tlsEndUnconfirmed)
            zlog("Envoi de %@ : fin TLS du flux non confirmee", source->path());
        code = ret();
    } catch (const std::exception &e) {
        zlog("Exception recue dans uploadThread ==> %@", e.what());
        broken = true;
    }

    zlog("on fait la notification FileSend");
    transferRunning_ = false;
    center.post(QStringLiteral("FileSend"), kObject,
                {{QStringLiteral("ID"), idText},
                 {QStringLiteral("size"), QString::number(length)},
                 {QStringLiteral("status"), QString::number(broken ? -1 : code)}},
                this, NotificationCenter::Delivery::Now);
}

} // namespace zodaru
