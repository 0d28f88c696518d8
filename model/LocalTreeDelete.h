// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>

// Local entries deleted with everything they hold, without ever leaving the tree: each step
// works on an open directory (openat, fstatat without following, unlinkat), so a symbolic
// link is counted and removed as a link and never followed, even when it points at a
// directory outside. Names are exact bytes (base/ByteNames.h).
// Threads: blocking calls on the disk, meant for a worker thread; they share no state. A
// `stop` flag set from another thread ends a walk at the next entry.
namespace zodaru {

struct TreeCount {
    qint64 files = 0;   // every entry that is not a directory: files, links, others
    qint64 folders = 0; // directories below the top one
};

enum class LocalEntryKind { Missing, File, Directory };

struct LocalEntryFacts {
    LocalEntryKind kind = LocalEntryKind::Missing; // a link is a File, whatever it points at
    TreeCount inside;                              // of a directory, at every depth
    bool complete = true;                          // false: a directory in it could not be read
};

// What `path` is, and for a directory what it holds.
LocalEntryFacts inspectLocalEntry(const QString &path, const std::atomic<bool> *stop = nullptr);

enum class LocalDeleteFailure { None, Stopped, TrashRefused, Refused };

struct LocalDeleteResult {
    LocalDeleteFailure failure = LocalDeleteFailure::None;
    QString where; // the entry that could not be removed
    int error = 0; // its errno, when the system gave one
    bool ok() const { return failure == LocalDeleteFailure::None; }
};

// Removes `path` for good: a file or a link, or a directory after everything in it,
// deepest first. Stops at the first entry that cannot be removed and names it.
LocalDeleteResult eraseLocalTree(const QString &path, const std::atomic<bool> *stop = nullptr);

// True when the desktop's Trash can take `path` (QFile::moveToTrash, freedesktop Trash):
// on the home's file system, the home Trash; elsewhere a Trash at the top of the entry's
// own file system (".Trash/<uid>" made by the administrator, or ".Trash-<uid>"). Qt falls
// back to the home Trash otherwise, which a rename across file systems cannot reach. A
// name that is not UTF-8 cannot be named to QFile, so it has none either.
bool trashCanTake(const QString &path);
// Moves `path` (a whole directory at once) to the Trash.
LocalDeleteResult moveLocalToTrash(const QString &path);

} // namespace zodaru
