// SPDX-License-Identifier: GPL-3.0-or-later
// The local file an upload reads. Used by the engine's transfer code only.
#pragma once

#include "base/ByteNames.h"
#include "base/Log.h"
#include "net/Socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace zodaru {

class UploadSource final {
public:
    UploadSource(int fd, qint64 size, QString path) : fd_(fd), size_(size), path_(std::move(path)) {}
    ~UploadSource()
    {
        unmapWindow();
        ::close(fd_);
    }
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
                error_ = QString::fromLocal8Bit(std::strerror(errno));
                return -1;
            }
            got += n;
        }
        return got;
    }

    QString error() const { return error_; }

    // The next read starts at byte `offset`; false, with the reason in error(), on failure.
    bool seek(qint64 offset)
    {
        if (::lseek(fd_, off_t(offset), SEEK_SET) == off_t(offset))
            return true;
        error_ = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }

    // Moves the next `count` bytes of the file to `data`. The count moved, fewer when the
    // file ended first; on failure the reason is in `failure`.
    //
    // A plain connection is written from the file's pages mapped into memory: one copy
    // (the kernel's, into the connection) instead of two through a buffer. Only the kernel
    // reads the mapping, so a file cut short meanwhile makes the write fail (EFAULT) rather
    // than raise SIGBUS. TLS encrypts here, so it reads into a buffer. (Handing the pages
    // to the socket with sendfile() was measured slower on loopback: the server took the
    // bytes at ~0.6-0.85 of the speed it takes them written from memory.)
    qint64 sendTo(Socket &data, qint64 count, int idleMs, QString &failure)
    {
        if (!data.isEncrypted() && count <= kWindow / 2 && mapWindow(count))
            return sendMapped(data, count, idleMs, failure);
        // In pieces: a buffer per upload as large as a step, on every engine, is memory the
        // allocator keeps; TLS cuts the bytes into records of 16 KiB anyway.
        buffer_.resize(size_t(std::min(count, kPiece)));
        qint64 moved = 0;
        while (moved < count) {
            const qint64 asked = std::min(count - moved, kPiece);
            const qint64 n = read(buffer_.data(), asked);
            if (n < 0) {
                failure = error_;
                return 0;
            }
            if (!data.writeAll(buffer_.data(), n, idleMs)) {
                failure = QStringLiteral("write failed on the data connection");
                return 0;
            }
            moved += n;
            if (n < asked)
                break; // the file ended
        }
        return moved;
    }

private:
    const int fd_;
    const qint64 size_;
    const QString path_;
    // Maps the window of the file that holds the next `count` bytes, unless mapped already;
    // false when the file cannot be mapped (it is then read).
    bool mapWindow(qint64 count)
    {
        if (!mapping_)
            return false;
        const off_t at = ::lseek(fd_, 0, SEEK_CUR);
        if (at < 0)
            return false;
        position_ = qint64(at);
        if (window_ != MAP_FAILED && position_ >= windowAt_ && position_ + count <= windowAt_ + kWindow)
            return true;
        unmapWindow();
        static const qint64 page = qint64(::sysconf(_SC_PAGESIZE));
        windowAt_ = position_ - position_ % page;
        window_ = ::mmap(nullptr, size_t(kWindow), PROT_READ, MAP_SHARED | MAP_POPULATE, fd_, off_t(windowAt_));
        if (window_ == MAP_FAILED)
            mapping_ = false;
        return mapping_ && position_ + count <= windowAt_ + kWindow;
    }
    void unmapWindow()
    {
        if (window_ != MAP_FAILED)
            ::munmap(window_, size_t(kWindow));
        window_ = MAP_FAILED;
    }
    // What the mapping holds of the next `count` bytes (fewer when the file ends first) to
    // `data`; the file's position moves past what was sent.
    qint64 sendMapped(Socket &data, qint64 count, int idleMs, QString &failure)
    {
        struct stat st{};
        if (::fstat(fd_, &st) != 0) {
            failure = QString::fromLocal8Bit(std::strerror(errno));
            return 0;
        }
        const qint64 n = std::clamp<qint64>(qint64(st.st_size) - position_, 0, count);
        const char *from = static_cast<const char *>(window_) + (position_ - windowAt_);
        if (n > 0 && !data.writeAll(from, n, idleMs)) {
            failure = errno == EFAULT ? QStringLiteral("local file ended early")
                                      : QStringLiteral("write failed on the data connection");
            return 0;
        }
        ::lseek(fd_, off_t(position_ + n), SEEK_SET);
        return n;
    }

    // The part of the file mapped at a time, from the page where a step starts: a new
    // mapping every few steps, not every one, and no more of the file resident than that.
    static constexpr qint64 kWindow = 1024 * 1024;
    // What a read through the buffer takes at a time.
    static constexpr qint64 kPiece = 64 * 1024;

    QString error_;
    std::vector<char> buffer_;
    bool mapping_ = true;
    void *window_ = MAP_FAILED;
    qint64 windowAt_ = 0;
    qint64 position_ = 0;
};

} // namespace zodaru
