// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LocalTreeDeletion.h"

#include "base/ByteNames.h"

#include <QThread>

#include <algorithm>

namespace zodaru {

LocalTreeDeletion::LocalTreeDeletion(const QString &directory, const QStringList &names, TrashCheck trashCheck,
                                     QObject *parent)
    : QObject(parent)
    , directory_(directory)
    , names_(names)
    , trashCheck_(std::move(trashCheck))
{
}

LocalTreeDeletion::~LocalTreeDeletion()
{
    stop_->store(true);
    if (thread_)
        thread_->wait();
}

// One thread per step; `then` runs on the main thread once `work` is over, unless this
// object went first (the connection goes with it).
void LocalTreeDeletion::start(std::function<void()> work, std::function<void()> then)
{
    if (thread_)
        thread_->wait();
    thread_.reset(QThread::create(std::move(work)));
    connect(thread_.get(), &QThread::finished, this, std::move(then), Qt::QueuedConnection);
    thread_->start();
}

void LocalTreeDeletion::survey(Surveyed surveyed)
{
    start(
        [this] {
            // Only this thread touches survey_ until `finished` has been delivered.
            Survey found;
            for (const QString &name : std::as_const(names_)) {
                const LocalEntryFacts facts = inspectLocalEntry(directory_ + QLatin1Char('/') + name, stop_.get());
                if (facts.kind == LocalEntryKind::Missing)
                    continue;
                found.present << name;
                found.oneDirectory = facts.kind == LocalEntryKind::Directory;
                found.inside.files += facts.inside.files;
                found.inside.folders += facts.inside.folders;
                found.complete = found.complete && facts.complete;
            }
            found.oneDirectory = found.oneDirectory && found.present.size() == 1;
            // A name that is not UTF-8 cannot be handed to the Trash (see trashCanTake).
            found.trash = trashCheck_(directory_)
                && std::none_of(found.present.cbegin(), found.present.cend(),
                                [](const QString &name) { return hasUndecodedBytes(name); });
            survey_ = found;
        },
        [this, surveyed = std::move(surveyed)] { surveyed(survey_); });
}

void LocalTreeDeletion::run(Finished finished)
{
    running_ = true;
    start(
        [this] {
            LocalDeleteResult result;
            for (const QString &name : std::as_const(survey_.present)) {
                const QString path = directory_ + QLatin1Char('/') + name;
                result = survey_.trash ? moveLocalToTrash(path) : eraseLocalTree(path, stop_.get());
                if (!result.ok())
                    break;
            }
            result_ = result;
        },
        [this, finished = std::move(finished)] {
            running_ = false;
            finished(result_);
        });
}

} // namespace zodaru
