// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace zodaru {

// What the user chose for a transfer whose target exists already.
enum class ConflictAnswer {
    Ask,                  // not decided yet: the transfer stops before it starts and asks
    Overwrite,            // the target is replaced (a local one goes to the Trash first)
    OverwriteIfDifferent, // replaced when the source is newer or its size differs; else skipped
    Resume,               // the target is the beginning of the source: continued from its end
    Rename,               // both kept: the new file takes a free name, "name (1).ext"
    Skip,                 // nothing is moved; the entry reads "Skipped"
    // Resume when the target can be continued, else ask: an upload brought back from an
    // earlier run, whose remote file is most likely its own beginning.
    ResumeOrAsk,
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

// What a transfer's start does about an existing target.
enum class ConflictAction {
    Ask,     // nothing started: the user is asked
    Replace, // the target is replaced
    Resume,  // the target is continued from its end
    Rename,  // the new file goes beside the target under a free name
    Skip,    // the target stays as it is
};
// The action for `answer` on a target described by `facts`. OverwriteIfDifferent replaces
// when either size is unknown, the sizes differ or the source is newer; Resume that
// cannot continue the target (not shorter, or no REST) leaves it as it is.
ConflictAction actionFor(ConflictAnswer answer, const TargetFacts &facts);

// The answer as the log names it.
const char *answerWord(ConflictAnswer answer);

// The first of "stem (1).ext", "stem (2).ext", ... that `taken` says is free; empty when
// none of the first `limit` is. The number goes before the last extension, or before
// ".tar" of a compressed tarball ("archive (1).tar.gz", which keeps both suffixes that
// say what the file is); a name without one, or a hidden file's leading dot, takes it at
// its end (".profile (1)").
QString freeName(const QString &name, const std::function<bool(const QString &)> &taken, int limit = 9999);

} // namespace zodaru
