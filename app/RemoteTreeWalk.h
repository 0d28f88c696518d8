// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/EngineWorker.h"
#include "app/FolderWalk.h"
#include "model/File.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace zodaru {

// The tree under a remote folder, got: each directory is made on the local side (empty
// ones too) and listed in turn, depth first in the listings' order, and its files queued
// for download as its listing comes back.
//
// Links (listed as type 2) are tried as directories: one that lists is walked like a
// directory unless it leads back into the chain of directories above it (its listed target
// names one, which is known without listing it, or its listing is the one of a directory
// of the chain) or more than maxLinkDepth links lead to it; those are skipped with a log
// line. One that does not list is got as a file.
//
// Main thread only. The listings run on the command engine's worker (`List`), the local
// directories are made on a worker of the walk's own; their results come back here in order.
class RemoteTreeWalk final : public FolderWalk {
    Q_OBJECT
public:
    using Listed = std::function<void(const std::optional<QList<File>> &entries)>;
    using List = std::function<void(const QString &path, Listed done)>;
    static constexpr int maxLinkDepth = 8;

    RemoteTreeWalk(Target target, List list, const QString &remoteDirectory, const QString &name,
                   const QString &localDirectory, std::function<void(FolderWalk *)> ended);

    // What a directory's listing looks like, for telling two listings of one directory.
    static QByteArray signatureOf(const QList<File> &entries);
    // The path a link's listed target leads to, from the directory `directory` that holds
    // it; empty when the listing named no target.
    static QString targetPath(const QString &directory, const QString &linkTarget);

private:
    // A directory of the chain from the folder down to the one listed.
    struct Above {
        QString path;
        QByteArray signature;
    };
    // A directory still to list, or a link to try as one.
    struct Pending {
        QString relative;
        QList<Above> chain; // the directories above it, the folder first
        int links = 0;      // links followed to reach it, itself included
        std::optional<File> link; // the listed link, when this one is a link to try
    };

    void walk() override;
    // Takes the next directory or link from the stack; the walk ends when there is none.
    void next();
    // Makes the local directory `relative` on maker_, then calls `made`; a directory that
    // cannot be made fails and the walk goes on with the next.
    void makeDirectory(const QString &relative, std::function<void()> made);
    void list(const Pending &pending);
    void listed(const Pending &pending, const std::optional<QList<File>> &entries);
    // True (and logged) when a link that lists leads back into its chain or too deep.
    bool skippedLink(const Pending &pending, const QByteArray &signature) const;
    void takeEntries(const Pending &pending, const QList<File> &entries, const QByteArray &signature);

    const List list_;
    QList<Pending> stack_;
    // Makes the local directories, off the window's thread; results come back in order.
    // Last, so that it goes first: no result reaches a walk being destroyed.
    EngineWorker maker_;
};

} // namespace zodaru
