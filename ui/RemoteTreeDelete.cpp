// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/RemoteTreeDelete.h"

#include "base/Log.h"
#include "ui/AppContext.h"

#include <QPointer>

namespace zodaru {

RemoteTreeDelete::RemoteTreeDelete(AppContext &app, const QString &directory, const QList<Entry> &entries,
                                   QObject *parent)
    : QObject(parent)
    , app_(app)
    , directory_(directory)
    , entries_(entries)
{
}

QString RemoteTreeDelete::join(const QString &directory, const QString &name)
{
    return directory + QLatin1Char('/') + name;
}

void RemoteTreeDelete::survey(Surveyed surveyed)
{
    surveyed_ = std::move(surveyed);
    for (const Entry &entry : entries_)
        if (entry.directory)
            folders_.append({join(directory_, entry.name), 0, {}, {}});
    listNext();
}

// One listing at a time, breadth first: the engine runs its requests in order anyway, and a
// failure then stops the survey before anything more is asked.
void RemoteTreeDelete::listNext()
{
    if (nextToList_ >= folders_.size()) {
        for (const Entry &entry : entries_) {
            if (!entry.directory)
                steps_.append({QStringLiteral("DELE"), join(directory_, entry.name)});
        }
        for (int i = 0; i < folders_.size() && folders_[i].depth == 0; ++i)
            appendSteps(i);
        surveyed_(inside_, {});
        return;
    }
    const int index = nextToList_++;
    app_.listRemote(folders_[index].path,
                    [self = QPointer<RemoteTreeDelete>(this), index](const std::optional<QList<File>> &entries) {
                        if (self)
                            self->listed(index, entries);
                    });
}

void RemoteTreeDelete::listed(int index, const std::optional<QList<File>> &entries)
{
    const QString path = folders_[index].path;
    if (!entries) {
        zlog("Effacement arrete, listing impossible : %@", path);
        surveyed_(inside_, {Stop::ListingFailed, path, -1, 0});
        return;
    }
    const int depth = folders_[index].depth + 1;
    for (const File &entry : *entries) {
        const QString name = entry.name();
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        // Never a command about a path outside the directory being deleted.
        if (!isPlainName(name) || (entry.isDir() && depth > kMaxDepth)) {
            zlog("Effacement arrete, nom refuse : <%@> dans %@", name, path);
            surveyed_(inside_, {Stop::StrangeName, join(path, name), -1, 0});
            return;
        }
        if (entry.isDir()) {
            ++inside_.folders;
            folders_[index].subfolders.append(int(folders_.size()));
            folders_.append({join(path, name), depth, {}, {}});
        } else {
            ++inside_.files;
            folders_[index].files.append(join(path, name));
        }
    }
    listNext();
}

// A folder's files, then each of its folders the same way, then the folder itself: every
// directory is empty when its RMD goes.
void RemoteTreeDelete::appendSteps(int index)
{
    const Folder folder = folders_[index];
    for (const QString &file : folder.files)
        steps_.append({QStringLiteral("DELE"), file});
    for (int sub : folder.subfolders)
        appendSteps(sub);
    steps_.append({QStringLiteral("RMD"), folder.path});
}

void RemoteTreeDelete::run(Finished finished)
{
    finished_ = std::move(finished);
    running_ = true;
    sendNext();
}

void RemoteTreeDelete::sendNext()
{
    if (nextStep_ >= steps_.size()) {
        running_ = false;
        finished_({Stop::None, {}, 0, nextStep_});
        return;
    }
    const Step step = steps_[nextStep_];
    zlog(" on envoie au ftp la commande : %@\n", step.word + QLatin1Char(' ') + step.path);
    app_.remoteCommand(step.word, step.path, [self = QPointer<RemoteTreeDelete>(this), step](int code) {
        if (!self)
            return;
        if (code < 0 || code >= 400) {
            // Logged as every other command of the window is.
            const QString line = step.word + QLatin1Char(' ') + step.path;
            if (code < 0)
                zlog("Commande non envoyee : %@", line);
            else
                zlog("Commande refusee par le serveur (%d) : %@", code, line);
            self->running_ = false;
            self->finished_({Stop::Refused, step.path, code, self->nextStep_});
            return;
        }
        ++self->nextStep_;
        self->sendNext();
    });
}

} // namespace zodaru
