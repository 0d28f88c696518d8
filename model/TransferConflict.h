// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

namespace zodaru {

// What the user chose for a transfer whose target exists already.
enum class ConflictAnswer {
    Ask,                  // not decided yet: the transfer stops before it starts and asks
    Overwrite,            // the target is replaced (a local one goes to the Trash first)
    OverwriteIfDifferent, // replaced when the source is newer or its size differs; else skipped
    Resume,               // the target is the beginning of the source: continued from its end
    Rename,               // both kept: the new file takes a free name, "name (1).ext"
    Skip,                 // nothing is moved; the entry reads "Skipped"
};

// What is known of an existing target and of the source that would replace it. Sizes in
// bytes, times in seconds since 1970 UTC; -1 where unknown.
struct TargetFacts {
    qint64 targetSize = -1;
    qint64 targetModified = -1;
    qint64 sourceSize = -1;
    qint64 sourceModified = -1;
    // The target is shorter than the source and the transfer can continue it (REST).
    bool canResume = false;
    // A local target replaced goes to the desktop's Trash; false when its file system has
    // none (the question says so). Always true for a remote target, which has none to offer.
    bool hasTrash = true;
};

// Conflicts of one class get one answer when the user applies it to the whole queue.
enum class ConflictClass {
    Resumable,   // the target is shorter and can be continued
    TargetNewer, // the target was changed after the source
    SameSize,    // same size, the target not newer
    Different,   // anything else
};
ConflictClass classOf(const TargetFacts &facts);

} // namespace zodaru
