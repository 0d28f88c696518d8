// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/LocalTreeDelete.h"

#include "base/ByteNames.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QStandardPaths>
#include <QStorageInfo>

#include <cerrno>
#include <memory>
#include <optional>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zodaru {

namespace {

// An open directory descriptor, closed when it goes.
class DirFd final {
public:
    explicit DirFd(int fd) : fd_(fd) {}
    ~DirFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    DirFd(const DirFd &) = delete;
    DirFd &operator=(const DirFd &) = delete;
    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

private:
    int fd_;
};

constexpr int kOpenDir = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool stopped(const std::atomic<bool> *stop)
{
    return stop && stop->load(std::memory_order_relaxed);
}

// The names in an open directory, read in full before any is removed (removing entries
// while reading them leaves it open which ones a listing still returns).
std::optional<QList<QByteArray>> namesIn(int dirFd)
{
    const int copy = ::dup(dirFd); // closedir() closes the descriptor it was given
    if (copy < 0)
        return std::nullopt;
    std::unique_ptr<DIR, int (*)(DIR *)> dir(::fdopendir(copy), &::closedir);
    if (!dir) {
        ::close(copy);
        return std::nullopt;
    }
    QList<QByteArray> names;
    errno = 0;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArray name(entry->d_name);
        if (name != "." && name != "..")
            names << name;
        errno = 0;
    }
    if (errno != 0)
        return std::nullopt;
    return names;
}

bool isDirectoryAt(int dirFd, const QByteArray &name)
{
    struct stat st {};
    return ::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
}

void countInside(int dirFd, LocalEntryFacts &facts, const std::atomic<bool> *stop)
{
    const auto names = namesIn(dirFd);
    if (!names) {
        facts.complete = false;
        return;
    }
    for (const QByteArray &name : *names) {
        if (stopped(stop)) {
            facts.complete = false;
            return;
        }
        if (!isDirectoryAt(dirFd, name)) {
            ++facts.inside.files;
            continue;
        }
        ++facts.inside.folders;
        const DirFd sub(::openat(dirFd, name.constData(), kOpenDir));
        if (sub.isOpen())
            countInside(sub.get(), facts, stop);
        else
            facts.complete = false;
    }
}

LocalDeleteResult failedAt(const QByteArray &path, LocalDeleteFailure failure, int error)
{
    return {failure, nameFromBytes(path), error};
}

LocalDeleteResult eraseInside(int dirFd, const QByteArray &dirPath, const std::atomic<bool> *stop)
{
    const auto names = namesIn(dirFd);
    if (!names)
        return failedAt(dirPath, LocalDeleteFailure::Refused, errno);
    for (const QByteArray &name : *names) {
        if (stopped(stop))
            return failedAt(dirPath, LocalDeleteFailure::Stopped, 0);
        const QByteArray path = dirPath + '/' + name;
        if (isDirectoryAt(dirFd, name)) {
            const DirFd sub(::openat(dirFd, name.constData(), kOpenDir));
            if (!sub.isOpen())
                return failedAt(path, LocalDeleteFailure::Refused, errno);
            if (LocalDeleteResult inner = eraseInside(sub.get(), path, stop); !inner.ok())
                return inner;
            if (::unlinkat(dirFd, name.constData(), AT_REMOVEDIR) != 0)
                return failedAt(path, LocalDeleteFailure::Refused, errno);
        } else if (::unlinkat(dirFd, name.constData(), 0) != 0) {
            return failedAt(path, LocalDeleteFailure::Refused, errno);
        }
    }
    return {};
}

// The Trash directory Qt would pick at the top of a file system other than the home's, if
// there is one it can use.
bool topTrashUsable(const QString &root)
{
    const QByteArray top = QFile::encodeName(root);
    const QByteArray uid = QByteArray::number(::getuid());
    struct stat st {};
    // ".Trash" set up by the administrator: a real directory, sticky.
    const QByteArray shared = top + "/.Trash";
    if (::lstat(shared.constData(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX)) {
        const QByteArray own = shared + '/' + uid;
        if (::lstat(own.constData(), &st) == 0)
            return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
        if (::access(shared.constData(), W_OK) == 0)
            return true;
    }
    // ".Trash-<uid>", the user's own, made when missing.
    const QByteArray own = top + "/.Trash-" + uid;
    if (::lstat(own.constData(), &st) == 0)
        return S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
    return ::access(top.constData(), W_OK) == 0;
}

} // namespace

LocalEntryFacts inspectLocalEntry(const QString &path, const std::atomic<bool> *stop)
{
    LocalEntryFacts facts;
    const QByteArray bytes = bytesOfName(path);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0)
        return facts;
    if (!S_ISDIR(st.st_mode)) {
        facts.kind = LocalEntryKind::File;
        return facts;
    }
    facts.kind = LocalEntryKind::Directory;
    const DirFd dir(::open(bytes.constData(), kOpenDir));
    if (dir.isOpen())
        countInside(dir.get(), facts, stop);
    else
        facts.complete = false;
    return facts;
}

LocalDeleteResult eraseLocalTree(const QString &path, const std::atomic<bool> *stop)
{
    const QByteArray bytes = bytesOfName(path);
    struct stat st {};
    if (::lstat(bytes.constData(), &st) != 0)
        return failedAt(bytes, LocalDeleteFailure::Refused, errno);
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(bytes.constData()) != 0)
            return failedAt(bytes, LocalDeleteFailure::Refused, errno);
        return {};
    }
    {
        const DirFd dir(::open(bytes.constData(), kOpenDir));
        if (!dir.isOpen())
            return failedAt(bytes, LocalDeleteFailure::Refused, errno);
        if (LocalDeleteResult inner = eraseInside(dir.get(), bytes, stop); !inner.ok())
            return inner;
    }
    if (::rmdir(bytes.constData()) != 0)
        return failedAt(bytes, LocalDeleteFailure::Refused, errno);
    return {};
}

bool trashCanTake(const QString &path)
{
    if (hasUndecodedBytes(path))
        return false;
    const QStorageInfo source(QFileInfo(path).absolutePath());
    if (!source.isValid())
        return false;
    if (source == QStorageInfo(QDir::homePath())) {
        // Qt builds the home Trash inside the data directory and takes a missing one for
        // the working directory: it must be there first.
        const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
        return !data.isEmpty() && QDir().mkpath(data);
    }
    return topTrashUsable(source.rootPath());
}

LocalDeleteResult moveLocalToTrash(const QString &path)
{
    QFile entry(path);
    if (entry.moveToTrash())
        return {};
    return {LocalDeleteFailure::TrashRefused, path, 0};
}

} // namespace zodaru
