// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/FolderWalk.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>

namespace zodaru {

// One thing found under a local folder, named by its path under the folder ("" for the
// folder itself), its bytes kept (see base/ByteNames.h).
struct LocalTreeEntry {
    enum class Kind {
        Directory,       // a directory; what it holds follows it
        File,            // a regular file, or a link to one (its size is the file's)
        LinkToDirectory, // never followed
        Other,           // a broken link, a device, a pipe, a socket: not sent
        Unreadable,      // a directory that could not be read: what it holds is not sent
    };
    Kind kind = Kind::Other;
    QString relative;
    qint64 size = 0;
    qint64 modified = -1;
};

// Reads the tree under `root` depth first, without following links: each directory is
// posted with what it holds (its files, what is skipped) before the directories under it
// are read. Stops early when `stop` is set. Runs on the calling thread.
void readLocalTree(const QString &root, const std::atomic<bool> &stop,
                   const std::function<void(QList<LocalTreeEntry>)> &post);

// The tree under a local folder, put: read on a thread of its own (readLocalTree), each
// directory made on the server (MKD through `command`, one after the other; a refusal is
// fine when the directory is there, which CWD tells) before the files under it are queued.
//
// Main thread only, but for the reading thread, which only posts what it finds here. The
// destructor stops the reading and waits for it.
class LocalTreeWalk final : public FolderWalk {
    Q_OBJECT
public:
    using Done = std::function<void(int code)>;
    using Command = std::function<void(const QString &word, const QString &param, Done done)>;

    LocalTreeWalk(Target target, Command command, const QString &localDirectory, const QString &name,
                  const QString &remoteDirectory, std::function<void(FolderWalk *)> ended);
    ~LocalTreeWalk() override;
    Q_DISABLE_COPY_MOVE(LocalTreeWalk)

private:
    void walk() override;
    // Takes what the reading thread found, in its order.
    void found(const QList<LocalTreeEntry> &entries);
    // Handles the entries found while no MKD is on its way.
    void go();
    void makeDirectory(const QString &relative);
    void directoryMade(const QString &relative, bool made);
    bool isUnderFailed(const QString &relative) const;

    const Command command_;
    QList<LocalTreeEntry> waiting_;
    qsizetype next_ = 0;
    QStringList failed_; // directories not made on the server
    bool making_ = false;
    bool readDone_ = false;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

} // namespace zodaru
