// SPDX-License-Identifier: GPL-3.0-or-later
// The partial file of a download: its name beside the target, the record of what it is a
// part of, and how it is written, kept and committed.
#include "ftp/PartFile.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "net/Socket.h"

#include <QCryptographicHash>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace zodaru {

namespace {

QString errnoText(int err)
{
    return QString::fromLocal8Bit(std::strerror(err));
}

constexpr qsizetype kNameMax = 255; // bytes of one path component
const QByteArray kPartSuffix = QByteArrayLiteral(".zodaru-part");
constexpr qsizetype kTagLength = 9; // '.' and 8 hexadecimal digits
// What a partial file is a part of (PartOrigin::encoded()). Partial files of older versions
// carry "user.zodaru.remote", the remote path alone: too little to be continued safely.
constexpr char kOriginAttribute[] = "user.zodaru.origin";
// Marks a partial file that was the user's own file before a resume took it over: such a
// file is never emptied nor removed, only given back under its name.
constexpr char kUsersFileAttribute[] = "user.zodaru.users-file";
const QByteArray kOriginFormat = QByteArrayLiteral("zodaru-part 1");
// Larger records are not read (a path is at most a few KiB).
constexpr ssize_t kRecordMax = 64 * 1024;

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

// A partial file is only ever one of ours: a regular file of this user, not a link.
bool isOwnRegularFile(const struct stat &st)
{
    return S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
}

// The record at `fd`; nothing when there is none or it cannot be read.
std::optional<PartOrigin> recordedOrigin(int fd)
{
    const ssize_t length = ::fgetxattr(fd, kOriginAttribute, nullptr, 0);
    if (length <= 0 || length > kRecordMax)
        return std::nullopt;
    QByteArray stored(length, '\0');
    const ssize_t n = ::fgetxattr(fd, kOriginAttribute, stored.data(), size_t(stored.size()));
    if (n != length)
        return std::nullopt;
    return PartOrigin::decoded(stored);
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

// Replacing a file keeps the permissions the user gave it; a new file gets those of any
// new file. Never setuid, setgid or sticky: a downloaded program must not run with its
// owner's rights because the file it replaced did.
mode_t finalMode(const QByteArray &target)
{
    struct stat st{};
    if (::stat(target.constData(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 0777;
    return 0666 & ~currentUmask();
}

} // namespace

ChunkEnd endOfRead(qint64 result)
{
    if (result > 0)
        return ChunkEnd::Full;
    return result == 0 ? ChunkEnd::EndOfStream
                       : (result == Socket::TimedOut ? ChunkEnd::TimedOut : ChunkEnd::Failed);
}

bool PartOrigin::isComplete() const
{
    return !server.isEmpty() && !user.isEmpty() && !remote.isEmpty() && size >= 0 && modified >= 0;
}

// One line per field after the format line, texts percent-encoded so that none holds a
// line break.
QByteArray PartOrigin::encoded() const
{
    return QByteArrayList{kOriginFormat, server.toUtf8().toPercentEncoding(), user.toUtf8().toPercentEncoding(),
                          remote.toPercentEncoding(), QByteArray::number(size), QByteArray::number(modified)}
        .join('\n');
}

std::optional<PartOrigin> PartOrigin::decoded(QByteArrayView record)
{
    const QByteArrayList fields = record.toByteArray().split('\n');
    if (fields.size() != 6 || fields[0] != kOriginFormat)
        return std::nullopt;
    PartOrigin origin;
    origin.server = QString::fromUtf8(QByteArray::fromPercentEncoding(fields[1]));
    origin.user = QString::fromUtf8(QByteArray::fromPercentEncoding(fields[2]));
    origin.remote = QByteArray::fromPercentEncoding(fields[3]);
    bool sizeOk = false;
    bool dateOk = false;
    origin.size = fields[4].toLongLong(&sizeOk);
    origin.modified = fields[5].toLongLong(&dateOk);
    if (!sizeOk || !dateOk || !origin.isComplete())
        return std::nullopt;
    return origin;
}

QByteArray partPath(const QString &target)
{
    const QByteArray path = bytesOfName(target);
    const qsizetype slash = path.lastIndexOf('/');
    return path.left(slash + 1) + partLeaf(nameFromBytes(QByteArrayView(path).sliced(slash + 1)));
}

std::optional<ExistingPart> existingPart(const QString &target)
{
    const int fd = ::open(partPath(target).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    std::optional<ExistingPart> part;
    if (::fstat(fd, &st) == 0 && isOwnRegularFile(st) && st.st_size > 0) {
        if (auto origin = recordedOrigin(fd))
            part = ExistingPart{qint64(st.st_size), std::move(*origin)};
    }
    ::close(fd);
    return part;
}

bool continueAsPart(const QString &target, const PartOrigin &origin, QString &error)
{
    if (!origin.isComplete()) {
        error = QStringLiteral("the server does not tell enough of the file to continue it");
        return false;
    }
    const QByteArray path = bytesOfName(target);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        error = errnoText(errno);
        return false;
    }
    const auto fail = [&](QString why) {
        error = std::move(why);
        ::close(fd);
        return false;
    };
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !isOwnRegularFile(st))
        return fail(QStringLiteral("not a regular file of this user"));
    const QByteArray value = origin.encoded();
    if (::fsetxattr(fd, kOriginAttribute, value.constData(), size_t(value.size()), 0) != 0
        || ::fsetxattr(fd, kUsersFileAttribute, "1", 1, 0) != 0)
        return fail(errnoText(errno));
    // Renamed over any partial file left before: the user chose this file's bytes.
    if (::rename(path.constData(), partPath(target).constData()) != 0) {
        const QString why = errnoText(errno);
        ::fremovexattr(fd, kOriginAttribute);
        ::fremovexattr(fd, kUsersFileAttribute);
        return fail(why);
    }
    ::close(fd);
    return true;
}

PartFile::PartFile(FileReceiver &receiver) : receiver_(receiver)
{
    receiver_.startFile();
}

PartFile::~PartFile()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (path_.isEmpty() || keep_)
        return;
    if (usersFile_)
        giveBackUsersFile();
    else
        ::unlink(path_.constData());
}

// A stopped or failed resume of a file the user had: the file goes back under its name,
// holding what it held and what arrived since (the beginning of the same remote file).
// Should the name be taken meanwhile, the partial file stays where it is.
void PartFile::giveBackUsersFile()
{
    if (::link(path_.constData(), target_.constData()) != 0) {
        zlog("Fichier partiel garde : %@ (%@)", nameFromBytes(path_), errnoText(errno));
        return;
    }
    ::unlink(path_.constData());
    ::lremovexattr(target_.constData(), kOriginAttribute);
    ::lremovexattr(target_.constData(), kUsersFileAttribute);
}

bool PartFile::open(const QString &target, const PartOrigin &origin, qint64 offset)
{
    const QByteArray name = partPath(target);
    target_ = bytesOfName(target);
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
    record(origin);
    return true;
}

void PartFile::record(const PartOrigin &origin)
{
    // Without a record (nothing to record, or a file system without user attributes) the
    // file is not kept: a later download could not tell what it holds.
    if (origin.isComplete()) {
        const QByteArray value = origin.encoded();
        recorded_ = ::fsetxattr(fd_, kOriginAttribute, value.constData(), size_t(value.size()), 0) == 0;
        if (!recorded_)
            zlog("Fichier partiel non repris plus tard : %@", errnoText(errno));
    }
    if (!recorded_)
        ::fremovexattr(fd_, kOriginAttribute);
}

void PartFile::setModified(qint64 secondsUtc)
{
    const timespec times[2] = {{secondsUtc, 0}, {secondsUtc, 0}};
    if (::futimens(fd_, times) != 0)
        zlog("Date du fichier non appliquee : %@", errnoText(errno));
}

qint64 PartFile::receiveFrom(Socket &data, qint64 count, int idleMs, ChunkEnd &end)
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
    qint64 result = laterEnd_ ? *std::exchange(laterEnd_, std::nullopt) : data.readSome(buffer_.data(), count, idleMs);
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

bool PartFile::write(const char *data, qint64 size)
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

bool PartFile::commit(const QString &target)
{
    keep_ = false;
    const QByteArray path = bytesOfName(target);
    if (::fchmod(fd_, finalMode(path)) != 0) {
        error_ = errnoText(errno);
        return false;
    }
    // The record has done its work; the target does not carry it.
    ::fremovexattr(fd_, kOriginAttribute);
    ::fremovexattr(fd_, kUsersFileAttribute);
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

bool PartFile::reuse(const QByteArray &name, qint64 offset)
{
    struct stat st{};
    if (::fstat(fd_, &st) != 0 || !isOwnRegularFile(st) || (offset > 0 && st.st_size != offset)
        || ::lseek(fd_, offset, SEEK_SET) != offset) {
        error_ = QStringLiteral("the partial file is not one this download can use");
        return false;
    }
    path_ = name;
    usersFile_ = ::fgetxattr(fd_, kUsersFileAttribute, nullptr, 0) >= 0;
    if (usersFile_ && offset == 0) {
        error_ = QStringLiteral("the partial file was the user's file and is not emptied");
        return false;
    }
    if (offset == 0 && (::ftruncate(fd_, 0) != 0 || ::fchmod(fd_, 0600) != 0)) {
        error_ = errnoText(errno);
        return false;
    }
    return true;
}

} // namespace zodaru
