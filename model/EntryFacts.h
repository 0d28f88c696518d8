// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace zodaru {

// What is known of one directory entry, local or remote, for the preview column. Remote
// listings leave some of it out: an unknown size or time is -1, unknown texts are empty.
struct EntryFacts {
    enum class Kind { File, Directory, Link };
    QString name;
    Kind kind = Kind::File;
    qint64 size = -1;
    qint64 modified = -1; // seconds since 1970-01-01 UTC
    QString permissions;  // "-rw-r--r--" as ls shows them
    QString linkTarget;
};

// How an entry compares with its namesake in the other browser's open directory.
enum class Namesake {
    Missing,     // no entry of that name there
    Same,        // same size and date
    SameSize,    // same size, a date unknown on one side
    Newer,       // this one was changed later
    Older,       // this one was changed earlier
    OtherSize,   // same date (or unknown), other size
    OtherKind,   // a directory on one side, a file on the other
    BothFolders, // a directory of that name on both sides
};

// Dates are compared to the precision of the coarser one: listings give many times to
// the minute (seconds 0) and older ones to the day (midnight), while the disk has seconds.
Namesake compareNamesakes(const EntryFacts &here, const std::optional<EntryFacts> &there);
QString namesakeText(Namesake namesake);

// "drwxr-xr-x" from a stat() mode.
QString permissionsText(quint32 mode);

} // namespace zodaru
