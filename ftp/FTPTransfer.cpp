// SPDX-License-Identifier: GPL-3.0-or-later
// File transfers: the exchange on the caller's thread, the data on a detached worker.
#include "ftp/FTP.h"

#include "ftp/Log.h"
#include "ftp/NotificationCenter.h"
#include "ftp/Socket.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zodaru {

namespace {

constexpr qint64 kChunkSize = 16384;
const QString kObject = QStringLiteral("DataTransfert");

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

enum class ChunkEnd { Full, EndOfStream, Failed, TimedOut };

// Reads until `buffer` is full, the stream ends or it fails: one notification stands for
// one full chunk, whatever sizes the kernel hands out.
qint64 readChunk(Socket &data, char *buffer, qint64 size, int idleMs, ChunkEnd &end)
{
    qint64 got = 0;
    end = ChunkEnd::Full;
    while (got < size) {
        const qint64 n = data.readSome(buffer + got, size - got, idleMs);
        if (n > 0) {
            got += n;
            continue;
        }
        end = n == 0 ? ChunkEnd::EndOfStream
                     : (n == Socket::TimedOut ? ChunkEnd::TimedOut : ChunkEnd::Failed);
        break;
    }
    return got;
}

QString readFailure(ChunkEnd end)
{
    return end == ChunkEnd::TimedOut ? QStringLiteral("data connection timed out")
                                     : QStringLiteral("read failed on the data connection");
}

// The download's bytes go to a file beside the target and replace the target only once the
// whole transfer succeeded, so a failed download never costs the user a file they had.
class PartFile final {
public:
    PartFile() = default;
    ~PartFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
        if (!path_.isEmpty())
            ::unlink(path_.constData());
    }
    Q_DISABLE_COPY_MOVE(PartFile)

    bool open(const QString &target)
    {
        const QByteArray base = QFile::encodeName(target);
        // O_EXCL: an existing file of the same name is never reused or truncated.
        for (int attempt = 0; attempt < 16; ++attempt) {
            QByteArray name = base;
            if (attempt > 0)
                name += '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36);
            name += ".zodaru-part";
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                fd_ = fd;
                path_ = name;
                // Replacing a file keeps the permissions the user gave it.
                struct stat st{};
                if (::stat(base.constData(), &st) == 0 && S_ISREG(st.st_mode))
                    ::fchmod(fd_, st.st_mode & 07777);
                return true;
            }
            if (errno != EEXIST) {
                error_ = errnoText(errno);
                return false;
            }
        }
        error_ = QStringLiteral("no free name for the partial file");
        return false;
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

    // Closes and renames over the target; on failure the partial file is removed.
    bool commit(const QString &target)
    {
        const int fd = std::exchange(fd_, -1);
        // Delayed write errors (quota, network file systems) show up at close.
        if (::close(fd) != 0) {
            error_ = errnoText(errno);
            return false;
        }
        if (::rename(path_.constData(), QFile::encodeName(target).constData()) != 0) {
            error_ = errnoText(errno);
            return false;
        }
        path_.clear();
        return true;
    }

    QString error() const { return error_; }

private:
    int fd_ = -1;
    QByteArray path_;
    QString error_;
};

} // namespace

class FTP::UploadSource final {
public:
    explicit UploadSource(int fd, qint64 size) : fd_(fd), size_(size) {}
    ~UploadSource() { ::close(fd_); }
    Q_DISABLE_COPY_MOVE(UploadSource)

    // Opens a regular file (a directory cannot be uploaded); null when that is not possible.
    static std::shared_ptr<UploadSource> open(const QString &path)
    {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return nullptr;
        struct stat st{};
        if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
            ::close(fd);
            return nullptr;
        }
        return std::make_shared<UploadSource>(fd, qint64(st.st_size));
    }

    qint64 size() const { return size_; }

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

private:
    const int fd_;
    const qint64 size_;
    QString error_;
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

int FTP::get(const QString &remote, int id)
{
    return get(remote, remote, id);
}

int FTP::get(const QString &remote, const QString &savedName, int id)
{
    if (transferRunning_) {
        // The engine carries one transfer at a time; a second one would share PI with the
        // running worker and reset the counters it reports.
        zlog("Transfert deja en cours, %@ refuse", remote);
        return -1;
    }
    _idfile = id;
    masize = 0;
    if (!isConnected())
        return -1;
    FileName = savedName;

    const auto before = dataConnection();
    pasv();
    if (!isConnected())
        return -1;
    command(QStringLiteral("TYPE"), QStringLiteral("I"));
    const int code = command(QStringLiteral("RETR"), remote);
    // Taken after the reply: a refusal has closed the engine and its data connection.
    const auto data = freshDataConnection(before);

    transferRunning_ = true;
    try {
        std::thread([self = shared_from_this(), fileName = FileName, id, data] {
            self->downloadThread(fileName, id, data);
        }).detach();
    } catch (const std::exception &e) {
        zlog("Exception recue dans downloadThread: %@ ==> %@", FileName, e.what());
        transferRunning_ = false;
        NotificationCenter::defaultCenter().post(
            QStringLiteral("FileSaved"), kObject,
            {{QStringLiteral("ID"), QString::number(id)}, {QStringLiteral("size"), QStringLiteral("0")},
             {QStringLiteral("status"), QStringLiteral("-1")}},
            this);
    }
    return code;
}

int FTP::put(const QString &local, const QString &remote, int id)
{
    if (transferRunning_) {
        zlog("Transfert deja en cours, %@ refuse", local);
        return -1;
    }
    _idfile = id;
    if (!isConnected())
        return -1;
    auto source = UploadSource::open(local);
    if (!source) {
        zlog("Fichier %@ non trouve !", local);
        return -1;
    }

    const auto before = dataConnection();
    pasv();
    if (!isConnected())
        return -1;
    command(QStringLiteral("TYPE"), QStringLiteral("I"));
    const int code = command(QStringLiteral("STOR"), remote);
    // Taken after the reply: a refusal has closed the engine and its data connection.
    const auto data = freshDataConnection(before);

    transferRunning_ = true;
    const qint64 total = source->size();
    try {
        std::thread([self = shared_from_this(), source, id, data] {
            self->uploadThread(source, id, data);
        }).detach();
    } catch (const std::exception &e) {
        zlog("Exception recue dans uploadThread ==> %@", e.what());
        transferRunning_ = false;
        NotificationCenter::defaultCenter().post(
            QStringLiteral("FileSend"), kObject,
            {{QStringLiteral("ID"), QString::number(id)}, {QStringLiteral("size"), QString::number(total)},
             {QStringLiteral("status"), QStringLiteral("-1")}},
            this);
    }
    return code;
}

void FTP::downloadThread(QString fileName, qint32 id, std::shared_ptr<Socket> data)
{
    auto &center = NotificationCenter::defaultCenter();
    const QString idText = QString::number(id);
    qint64 total = 0;
    bool broken = false;
    int code = -1;

    try {
        PartFile part;
        if (!data) {
            broken = true;
        } else if (!part.open(fileName)) {
            zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
            broken = true;
        }

        const int idleMs = timeouts().dataIdle;
        std::array<char, kChunkSize> buffer;
        while (!broken) {
            ChunkEnd end = ChunkEnd::Full;
            const qint64 n = readChunk(*data, buffer.data(), kChunkSize, idleMs, end);
            if (n > 0 && !part.write(buffer.data(), n)) {
                zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, part.error());
                broken = true;
                break;
            }
            if (n > 0) {
                const QString sizeText = QString::number(n);
                total += n;
                masize += n;
                zlog("taille mise : %@ total : %i", sizeText, masize.load());
                center.post(QStringLiteral("ChunkOfFile"), kObject,
                            {{QStringLiteral("ID"), idText}, {QStringLiteral("size"), sizeText}}, this);
            }
            if (end == ChunkEnd::Failed || end == ChunkEnd::TimedOut) {
                zlog("Exception recue dans downloadThread: %@ ==> %@", fileName, readFailure(end));
                broken = true;
            }
            if (end != ChunkEnd::Full)
                break;
        }

        if (data) {
            // When we stop early the server learns it from the closed connection and
            // answers with its completion reply, which keeps the control connection in step.
            data->shutdownBoth();
            releaseDataConnection(data);
            data.reset();
        }
        code = ret();
        zlog("fichier FileName : %@ telecharge", fileName);

        // Only a whole file replaces the target; a server that aborted the transfer
        // (426 and the like) keeps its own code in "status".
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
                this);
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
        std::array<char, kChunkSize> buffer;
        qint64 offset = 0;
        while (!broken && offset < length) {
            const qint64 n = source->read(buffer.data(), std::min(kChunkSize, length - offset));
            if (n <= 0) {
                // The file shrank or could not be read: sending less would leave a short
                // copy on the server that looks complete.
                zlog("Exception recue dans uploadThread ==> %@",
                     n < 0 ? source->error() : QStringLiteral("local file ended early"));
                broken = true;
                break;
            }
            zlog("send : %d upto : %d ", offset, n);
            zlog("chunk (%i,%i) == %i ", offset, offset + n, n);
            if (!data->writeAll(buffer.data(), n, idleMs)) {
                zlog("Exception recue dans uploadThread ==> %@",
                     QStringLiteral("write failed on the data connection"));
                broken = true;
                break;
            }
            offset += n;
            zlog("nouvelle taille de send : %i (%i) ", offset, n);
            center.post(QStringLiteral("ChunkOfFileUploaded"), kObject,
                        {{QStringLiteral("size"), QString::number(n)}}, this);
        }

        if (data) {
            if (broken) {
                // A reset instead of an orderly close, so the server does not take the
                // bytes it has for the whole file. Dissolving the association resets the
                // connection and keeps the descriptor valid for its owner.
                sockaddr unspecified{};
                unspecified.sa_family = AF_UNSPEC;
                ::connect(data->fileDescriptor(), &unspecified, sizeof unspecified);
            } else {
                // Closing the data connection is what tells the server the file is complete.
                data->shutdownBoth();
            }
            releaseDataConnection(data);
            data.reset();
        }
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
                this);
}

} // namespace zodaru
