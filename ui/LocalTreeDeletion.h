// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/LocalTreeDelete.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QThread;

namespace zodaru {

// Deletes entries of one local directory with everything they hold, off the main thread:
// survey() finds what each entry is, counts what the directories hold and whether the
// Trash can take them; run() then moves each entry to the Trash, or, where there is none,
// erases it without following any link (model/LocalTreeDelete.h), stopping at the first
// entry it cannot remove.
// Main thread only: the work runs on a thread of its own, its result comes back on the main
// thread; going away stops the work at its next entry and waits for it.
class LocalTreeDeletion final : public QObject {
    Q_OBJECT
public:
    // Whether the Trash takes entries of a directory; called off the main thread.
    using TrashCheck = std::function<bool(const QString &directory)>;

    struct Survey {
        QStringList present;     // the entries still there, in the order given
        bool oneDirectory = false;
        TreeCount inside;
        bool trash = false;      // the Trash takes them
        bool complete = true;    // every directory in them could be read
    };
    using Surveyed = std::function<void(const Survey &survey)>;
    using Finished = std::function<void(const LocalDeleteResult &result)>;

    LocalTreeDeletion(const QString &directory, const QStringList &names, TrashCheck trashCheck,
                      QObject *parent = nullptr);
    ~LocalTreeDeletion() override;
    Q_DISABLE_COPY_MOVE(LocalTreeDeletion)

    void survey(Surveyed surveyed);
    // After survey(): the entries it found, to the Trash when it said so.
    void run(Finished finished);
    bool isRunning() const { return running_; }

private:
    void start(std::function<void()> work, std::function<void()> then);

    QString directory_;
    QStringList names_;
    TrashCheck trashCheck_;
    Survey survey_;
    LocalDeleteResult result_;
    bool running_ = false;
    std::shared_ptr<std::atomic<bool>> stop_ = std::make_shared<std::atomic<bool>>(false);
    std::unique_ptr<QThread> thread_;
};

} // namespace zodaru
