// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"

#include <QObject>
#include <QString>

#include <functional>

namespace zodaru {

class TransferQueue;

// Joins a name to a directory with one "/" between them ("/" + "a" is "/a", not "//a").
QString joinedPath(const QString &directory, const QString &name);
// Makes a local directory; true when it is there afterwards (made now or already there).
bool makeLocalDirectory(const QString &path);

// The walk of one folder's tree for a Get or a Put: the folder's row in its queue, its files
// queued as they are found (each with its path under the folder as its display name and the
// folder row as its group), a failed row for each directory that could not be read or made,
// and the walk's end told to the queue. RemoteTreeWalk and LocalTreeWalk find the entries.
//
// Main thread only: what the walk finds off it comes back here before it touches the queue.
// The owner deletes a walk once it has ended, or when its session ends (its requests' late
// answers are then dropped).
class FolderWalk : public QObject {
    Q_OBJECT
public:
    // Where the rows go: the queue, and a call that shows them and lets the queue run.
    struct Target {
        TransferQueue *queue = nullptr;
        std::function<void()> changed;
    };
    // The folder `name` of `localDirectory` and of `remoteDirectory` (the side it comes from
    // and the side it goes to follow the walk's direction); `ended` is called once, last.
    FolderWalk(Target target, const QString &name, const QString &localDirectory, const QString &remoteDirectory,
               std::function<void(FolderWalk *)> ended);
    ~FolderWalk() override;
    Q_DISABLE_COPY_MOVE(FolderWalk)

    // Appends the folder row and starts finding its entries.
    void start();

protected:
    virtual void walk() = 0;

    const QString &folderName() const { return name_; }
    // The paths of a directory under the folder, "" being the folder itself.
    QString localPathOf(const QString &relative) const;
    QString remotePathOf(const QString &relative) const;
    // What the log and the rows name: "folder/relative".
    QString shownPathOf(const QString &relative) const;

    // Queues `listed` (a file of the directory `relative`) and counts it.
    void queueFile(const File &listed, const QString &relative);
    // A directory made on the other side, counted for the end's log line.
    void countDirectory() { ++directories_; }
    // The directory `relative` could not be read or made: a failed row names it, its
    // entries are not transferred, and the walk ends incomplete.
    void failDirectory(const QString &relative);
    // Shows what was queued since the last call and lets the queue run.
    void flush();
    // Reports the end to the queue and to the owner. Nothing may be used after it.
    void finish();

private:
    const Target target_;
    const QString name_;
    const QString localDirectory_;
    const QString remoteDirectory_;
    const std::function<void(FolderWalk *)> ended_;
    qint32 folder_ = 0;
    int files_ = 0;
    int directories_ = 0;
    bool complete_ = true;
    bool queued_ = false;
    bool finished_ = false;
};

} // namespace zodaru
