// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/TransferConflict.h"

#include <QString>
#include <QStringView>
#include <QtGlobal>

namespace zodaru {

// True when `name` can be joined to a directory as one component of a path: not empty,
// not "." or "..", and holding neither "/" nor NUL. Every command and system call that
// joins a listed or typed name to a directory (download, delete, make-dir, on either side)
// refuses any other name, so that nothing outside the directory shown is ever touched.
bool isPlainName(QStringView name);

// One file: a directory entry (remote listing, local browser, browser cell) and, copied
// with copyOf(), a transfer item in a queue. Knows nothing of the network or the queues.
class File final {
public:
    File() = default;
    // Every maker uses this form; the link is empty for all entries the program makes.
    File(const QString &name, qint64 size, qint32 type, const QString &link = QString());

    // A copy for use as a transfer item: names, directories, counts, current flag and
    // identifier are carried over; the type becomes 0 and the done and error flags clear.
    static File copyOf(const File &other);

    QString name() const { return _file; }
    QStringView nameView() const { return _file; }
    QString link() const { return _link; }
    // The permissions as the listing or the disk gave them ("-rw-r--r--"); empty if unknown.
    QString permissions() const { return _permissions; }
    void setPermissions(const QString &permissions) { _permissions = permissions; }
    QString localpath() const { return _localpath; }
    QString remotepath() const { return _remotepath; }
    void setLocalPath(const QString &path) { _localpath = path; }
    void setRemotePath(const QString &path) { _remotepath = path; }

    qint64 size() const { return _size; }
    // A transfer item's size once its transfer knows it better than the listing did.
    void setSize(qint64 size) { _size = size; }
    qint64 currentsize() const { return _currentsize; }
    qint64 getID() const { return _id; }
    void setID(qint64 id) { _id = qint32(quint32(quint64(id))); }
    qint32 type() const { return _type; }
    // Modification time in seconds since 1970-01-01 UTC; -1 when the listing gave none.
    qint64 modified() const { return _modified; }
    void setModified(qint64 secondsUtc) { _modified = secondsUtc; }

    bool isDir() const { return _type == 1; }
    bool isLink() const { return _type == 2; }
    void print() const {}

    void setCurrent(bool current) { _state = current; }
    bool isCurrent() const { return _state; }
    void setDone() { _done = true; }
    void setError()
    {
        _error = true;
        _state = false;
    }
    // A cancelled entry is a failed one that the user stopped: it reads "Cancelled".
    void setCancelled()
    {
        setError();
        _cancelled = true;
    }
    bool isCancelled() const { return _cancelled; }
    // A failed or cancelled entry waits again, from its first byte.
    void requeue()
    {
        _error = _cancelled = _done = _state = _skipped = _asking = false;
        _currentsize = 0;
    }
    bool isDone() const { return _done || _error; }
    bool hasError() const { return _error; }
    bool isFinished() const { return _done; }

    // --- Folder transfers ---
    // What a row shows as the entry's name: its path under the folder it was found in
    // ("photos/2020/a.jpg"); the name itself when none was set.
    QString displayName() const { return _display.isEmpty() ? _file : _display; }
    QStringView displayNameView() const { return _display.isEmpty() ? QStringView(_file) : QStringView(_display); }
    void setDisplayName(const QString &display) { _display = display; }
    // The id of the folder row this entry was found under; 0 when queued on its own.
    qint32 group() const { return _group; }
    void setGroup(qint32 group) { _group = group; }
    // A folder row (isDir() in a queue) counts its files instead of moving bytes itself:
    // files found and finished so far; size() and currentsize() are their bytes.
    int filesFound() const { return _filesFound; }
    int filesDone() const { return _filesDone; }
    void setFileCounts(int found, int done)
    {
        _filesFound = found;
        _filesDone = done;
    }
    // Files of a folder row that failed or were cancelled.
    int filesFailed() const { return _filesFailed; }
    void setFilesFailed(int failed) { _filesFailed = failed; }
    // A folder row's walk: running until it ended; incomplete when part of the tree could
    // not be listed.
    bool isWalking() const { return _walking; }
    void setWalking(bool walking) { _walking = walking; }
    bool walkIncomplete() const { return _walkIncomplete; }
    void setWalkIncomplete(bool incomplete) { _walkIncomplete = incomplete; }

    // --- Existing targets ---
    // What to do when the target exists; Ask until the user (or "apply to all") decided.
    ConflictAnswer conflictAnswer() const { return _answer; }
    void setConflictAnswer(ConflictAnswer answer) { _answer = answer; }
    // Finished without moving anything because the user chose to skip it; reads "Skipped".
    void setSkipped()
    {
        _done = true;
        _skipped = true;
        _state = false;
    }
    bool isSkipped() const { return _skipped; }
    // The target exists and the user is being asked what to do: the entry waits.
    void setAsking(bool asking) { _asking = asking; }
    bool isAsking() const { return _asking; }

    void addToSize(qint64 count) { _currentsize += count; }
    // The listed size; for an entry listed without a size (0) that has transferred bytes,
    // those bytes, since they are the only size known.
    QString printsize() const;
    QString printcurrentsize() const;
    double getAdvance() const;
    QString getStatus() const;

private:
    QString _file;
    QString _link;
    QString _permissions;
    QString _localpath;
    QString _remotepath;
    QString _display;
    qint64 _currentsize = 0;
    qint64 _size = 0;
    qint64 _modified = -1;
    qint32 _type = 0;
    qint32 _id = 0;
    qint32 _group = 0;
    int _filesFound = 0;
    int _filesDone = 0;
    int _filesFailed = 0;
    ConflictAnswer _answer = ConflictAnswer::Ask;
    bool _skipped = false;
    bool _asking = false;
    bool _walking = false;
    bool _walkIncomplete = false;
    bool _state = false;
    bool _error = false;
    bool _done = false;
    bool _cancelled = false;
};

} // namespace zodaru
