// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/FolderWalk.h"

#include "app/TransferQueue.h"
#include "base/ByteNames.h"
#include "base/Log.h"

#include <cerrno>

#include <sys/stat.h>

namespace zodaru {

QString joinedPath(const QString &directory, const QString &name)
{
    if (directory.endsWith(QLatin1Char('/')))
        return directory + name;
    return directory + QLatin1Char('/') + name;
}

bool makeLocalDirectory(const QString &path)
{
    const QByteArray bytes = bytesOfName(path);
    if (::mkdir(bytes.constData(), 0777) == 0)
        return true;
    if (errno != EEXIST)
        return false;
    // Something of that name is there: fine when it is a directory (a link to one is not
    // followed into, so it does not count).
    struct stat info{};
    return ::lstat(bytes.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

FolderWalk::FolderWalk(Target target, const QString &name, const QString &localDirectory,
                       const QString &remoteDirectory, std::function<void(FolderWalk *)> ended)
    : target_(std::move(target)), name_(name), localDirectory_(localDirectory), remoteDirectory_(remoteDirectory),
      ended_(std::move(ended))
{
}

FolderWalk::~FolderWalk() = default;

void FolderWalk::start()
{
    File folder(name_, 0, 1);
    folder.setLocalPath(localDirectory_);
    folder.setRemotePath(remoteDirectory_);
    folder_ = target_.queue->appendFolder(std::move(folder));
    zlog("Dossier %@ : parcours de son arborescence", name_);
    queued_ = true;
    walk();
}

QString FolderWalk::localPathOf(const QString &relative) const
{
    const QString top = joinedPath(localDirectory_, name_);
    return relative.isEmpty() ? top : joinedPath(top, relative);
}

QString FolderWalk::remotePathOf(const QString &relative) const
{
    const QString top = joinedPath(remoteDirectory_, name_);
    return relative.isEmpty() ? top : joinedPath(top, relative);
}

QString FolderWalk::shownPathOf(const QString &relative) const
{
    return relative.isEmpty() ? name_ : name_ + QLatin1Char('/') + relative;
}

void FolderWalk::queueFile(const File &listed, const QString &relative)
{
    File entry = File::copyOf(listed);
    entry.setLocalPath(localPathOf(relative));
    entry.setRemotePath(remotePathOf(relative));
    entry.setDisplayName(shownPathOf(relative) + QLatin1Char('/') + listed.name());
    entry.setGroup(folder_);
    target_.queue->append(std::move(entry));
    ++files_;
    queued_ = true;
}

void FolderWalk::failDirectory(const QString &relative)
{
    const QString shown = shownPathOf(relative);
    zlog("Dossier %@ non transfere : son contenu n'a pas pu etre lu ou cree", shown);
    // A plain failed row, not a folder row: it names the directory and counts as failed.
    File row(relative.isEmpty() ? name_ : relative.section(QLatin1Char('/'), -1), 0, 0);
    const QString parent = relative.section(QLatin1Char('/'), 0, -2);
    row.setLocalPath(relative.isEmpty() ? localDirectory_ : localPathOf(parent));
    row.setRemotePath(relative.isEmpty() ? remoteDirectory_ : remotePathOf(parent));
    row.setDisplayName(shown + QLatin1Char('/'));
    row.setGroup(folder_);
    row.setError();
    target_.queue->append(std::move(row));
    complete_ = false;
    queued_ = true;
}

void FolderWalk::flush()
{
    if (!queued_)
        return;
    queued_ = false;
    if (target_.changed)
        target_.changed();
}

void FolderWalk::finish()
{
    if (finished_)
        return;
    finished_ = true;
    if (complete_)
        zlog("Dossier %@ parcouru : %i fichiers, %i dossiers", name_, files_, directories_);
    else
        zlog("Dossier %@ parcouru en partie : %i fichiers, %i dossiers", name_, files_, directories_);
    target_.queue->folderWalkEnded(folder_, complete_);
    queued_ = true;
    flush();
    if (ended_)
        ended_(this);
}

} // namespace zodaru
