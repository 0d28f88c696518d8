// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace zodaru {

class FileReceiver;
class Socket;

// How a step of a download ended: NotWritten is the local file's failure.
enum class ChunkEnd { Full, EndOfStream, Failed, TimedOut, NotWritten };
ChunkEnd endOfRead(qint64 result);

// What a partial file holds the beginning of: one remote file, on one server for one user,
// as it was when its download began. Only a download of that very file, unchanged since,
// continues it; anything unknown means it is not continued.
struct PartOrigin final {
    QString server;    // "host:port"
    QString user;
    QByteArray remote; // the remote path's exact bytes
    qint64 size = -1;  // -1: unknown
    qint64 modified = -1; // seconds since the epoch, UTC (MDTM or the listing); -1: unknown

    // Everything known: only such an origin is recorded in a partial file.
    bool isComplete() const;
    QByteArray encoded() const;
    // Nothing for a record in another format (an older one holds only the remote path).
    static std::optional<PartOrigin> decoded(QByteArrayView record);
    bool operator==(const PartOrigin &) const = default;
};

// The path of the partial file of `target`: always the same for one target, beside it.
QByteArray partPath(const QString &target);

// The partial file left for `target`: its length and what it records being a part of.
// Nothing when there is none, it is empty, not a regular file of this user, or its record
// is missing or unreadable (a file system without user attributes keeps none).
struct ExistingPart {
    qint64 length = 0;
    PartOrigin origin;
};
std::optional<ExistingPart> existingPart(const QString &target);

// Makes the existing file `target` (a regular file of this user) the partial file of its
// own download, recording `origin`, so that the download continues it from its end: how
// a file the user chose to resume is continued. False, `target` left as it was and the
// reason in `error`, when that cannot be done (no user attributes on its file system).
// Such a partial file is never emptied or removed: a download that stops or fails gives it
// back under its name.
bool continueAsPart(const QString &target, const PartOrigin &origin, QString &error);

// The download's bytes go to a file beside the target and replace the target only once the
// whole transfer succeeded, so a failed download never costs the user a file they had. A
// download broken by the network may keep it (keep()) for a later one to continue, when
// what it is a part of could be recorded in it. Used by one thread.
class PartFile final {
public:
    // Each file starts with an empty pipe in `receiver`, which stays with the thread.
    explicit PartFile(FileReceiver &receiver);
    ~PartFile();
    Q_DISABLE_COPY_MOVE(PartFile)

    // Opens the partial file of `target`: continued at its end when `offset` > 0 (it must
    // still hold exactly that many bytes), emptied otherwise. `origin` is recorded in it
    // when complete; any older record is removed otherwise.
    bool open(const QString &target, const PartOrigin &origin, qint64 offset);

    // Keeps the file for a later download when its origin is recorded; removed otherwise.
    void keep() { keep_ = recorded_; }

    // The remote file's modification time, carried over when the file is committed.
    void setModified(qint64 secondsUtc);

    // Moves what has arrived on `data`, up to `count` bytes, into the file: straight from
    // the connection when it is plain, through a buffer under TLS. Returns the count moved;
    // `end` says why it is 0 (Full when it is not).
    qint64 receiveFrom(Socket &data, qint64 count, int idleMs, ChunkEnd &end);

    // Gives the file its final mode, closes it and renames it over the target; on failure
    // the partial file is removed.
    bool commit(const QString &target);

    QString error() const { return error_; }

private:
    bool write(const char *data, qint64 size);
    // The partial file `name` that was there already: continued from `offset` when it holds
    // exactly that many bytes, emptied when `offset` is 0. Removed on failure only once it
    // is known to be ours.
    bool reuse(const QByteArray &name, qint64 offset);
    // Writes or removes the record of what the file is a part of.
    void record(const PartOrigin &origin);
    void giveBackUsersFile();

    int fd_ = -1;
    QByteArray path_;
    QString error_;
    bool keep_ = false;
    bool recorded_ = false;
    // The file was the user's before a resume took it over (see continueAsPart).
    bool usersFile_ = false;
    QByteArray target_;
    FileReceiver &receiver_;
    std::vector<char> buffer_;
    std::optional<qint64> laterEnd_;
};

} // namespace zodaru
