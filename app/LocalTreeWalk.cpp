// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/LocalTreeWalk.h"

#include "base/ByteNames.h"
#include "base/Log.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <memory>

#include <dirent.h>
#include <sys/stat.h>

namespace zodaru {

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

bool isCompletion(int code)
{
    return code >= 200 && code < 300;
}

QString under(const QString &relative, const QString &name)
{
    return relative.isEmpty() ? name : relative + QLatin1Char('/') + name;
}

// What one name of a directory is, links not followed but for telling what they lead to.
LocalTreeEntry entryAt(const QByteArray &path, const QString &relative)
{
    LocalTreeEntry entry;
    entry.relative = relative;
    struct stat own{};
    if (::lstat(path.constData(), &own) != 0)
        return entry;
    if (S_ISDIR(own.st_mode)) {
        entry.kind = LocalTreeEntry::Kind::Directory;
        return entry;
    }
    struct stat target = own;
    if (S_ISLNK(own.st_mode) && ::stat(path.constData(), &target) != 0)
        return entry; // broken
    if (S_ISDIR(target.st_mode)) {
        entry.kind = LocalTreeEntry::Kind::LinkToDirectory;
    } else if (S_ISREG(target.st_mode)) {
        entry.kind = LocalTreeEntry::Kind::File;
        entry.size = qint64(target.st_size);
        entry.modified = qint64(target.st_mtime);
    }
    return entry;
}

} // namespace

void readLocalTree(const QString &root, const std::atomic<bool> &stop,
                   const std::function<void(QList<LocalTreeEntry>)> &post)
{
    const LocalTreeEntry top = entryAt(bytesOfName(root), QString());
    if (top.kind != LocalTreeEntry::Kind::Directory) {
        post({top.kind == LocalTreeEntry::Kind::LinkToDirectory
                  ? top
                  : LocalTreeEntry{LocalTreeEntry::Kind::Unreadable, QString(), 0, -1}});
        return;
    }
    // Depth first, without recursion: a deep tree cannot exhaust the stack.
    QStringList directories{QString()};
    while (!directories.isEmpty() && !stop.load()) {
        const QString relative = directories.takeLast();
        QList<LocalTreeEntry> found{{LocalTreeEntry::Kind::Directory, relative, 0, -1}};
        const QString path = relative.isEmpty() ? root : root + QLatin1Char('/') + relative;
        const std::unique_ptr<DIR, DirCloser> dir(::opendir(bytesOfName(path).constData()));
        if (!dir) {
            found.append({LocalTreeEntry::Kind::Unreadable, relative, 0, -1});
            post(std::move(found));
            continue;
        }
        QStringList below;
        while (const dirent *named = ::readdir(dir.get())) {
            const QByteArrayView name(named->d_name);
            if (name == "." || name == "..")
                continue;
            const QString text = nameFromBytes(name);
            LocalTreeEntry entry = entryAt(bytesOfName(path + QLatin1Char('/') + text), under(relative, text));
            if (entry.kind == LocalTreeEntry::Kind::Directory)
                below.append(entry.relative);
            else
                found.append(std::move(entry));
        }
        post(std::move(found));
        // Taken from the end: the first one read is walked first.
        std::reverse(below.begin(), below.end());
        directories.append(below);
    }
}

LocalTreeWalk::LocalTreeWalk(Target target, Command command, const QString &localDirectory, const QString &name,
                             const QString &remoteDirectory, std::function<void(FolderWalk *)> ended)
    : FolderWalk(std::move(target), name, localDirectory, remoteDirectory, std::move(ended)),
      command_(std::move(command))
{
}

LocalTreeWalk::~LocalTreeWalk()
{
    stop_ = true;
    if (reader_.joinable())
        reader_.join();
}

void LocalTreeWalk::walk()
{
    reader_ = std::thread([this, root = localPathOf(QString())] {
        // What is posted to this object is dropped with it; it waits for this thread first.
        readLocalTree(root, stop_, [this](QList<LocalTreeEntry> entries) {
            QMetaObject::invokeMethod(this, [this, entries = std::move(entries)] { found(entries); },
                                      Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(this, [this] {
            readDone_ = true;
            go();
        }, Qt::QueuedConnection);
    });
    flush(); // the folder row shows at once
}

void LocalTreeWalk::found(const QList<LocalTreeEntry> &entries)
{
    waiting_.append(entries);
    go();
}

bool LocalTreeWalk::isUnderFailed(const QString &relative) const
{
    return std::any_of(failed_.begin(), failed_.end(), [&](const QString &failed) {
        return failed.isEmpty() || relative == failed || relative.startsWith(failed + QLatin1Char('/'));
    });
}

void LocalTreeWalk::go()
{
    using Kind = LocalTreeEntry::Kind;
    while (!making_ && next_ < waiting_.size()) {
        const LocalTreeEntry entry = waiting_.at(next_++);
        // What lies under a directory that could not be made has nowhere to go: the
        // directory's failed row stands for it.
        if (isUnderFailed(entry.relative))
            continue;
        const QString shown = shownPathOf(entry.relative);
        switch (entry.kind) {
        case Kind::Directory:
            makeDirectory(entry.relative);
            break;
        case Kind::File: {
            const qsizetype slash = entry.relative.lastIndexOf(QLatin1Char('/'));
            File file(entry.relative.mid(slash + 1), entry.size, 0);
            file.setModified(entry.modified);
            queueFile(file, slash < 0 ? QString() : entry.relative.left(slash));
            break;
        }
        case Kind::LinkToDirectory:
            zlog("Lien %@ vers un dossier ignore : les liens locaux ne sont pas suivis", shown);
            break;
        case Kind::Other:
            zlog("%@ ignore : ni un fichier ni un dossier", shown);
            break;
        case Kind::Unreadable:
            zlog("Lecture de %@ impossible : ses fichiers ne sont pas transferes", shown);
            failDirectory(entry.relative);
            failed_.append(entry.relative);
            break;
        }
    }
    // What was handled is let go: a large tree is not held whole.
    if (next_ == waiting_.size()) {
        waiting_.clear();
        next_ = 0;
    }
    flush();
    if (!making_ && readDone_ && waiting_.isEmpty())
        finish();
}

void LocalTreeWalk::makeDirectory(const QString &relative)
{
    making_ = true;
    const QString path = remotePathOf(relative);
    QPointer<LocalTreeWalk> walk(this);
    command_(QStringLiteral("MKD"), path, [walk, relative, path](int code) {
        if (!walk)
            return;
        if (isCompletion(code)) {
            walk->directoryMade(relative, true);
            return;
        }
        // Refused: fine when the directory is there already.
        walk->command_(QStringLiteral("CWD"), path, [walk, relative](int cwd) {
            if (walk)
                walk->directoryMade(relative, isCompletion(cwd));
        });
    });
}

void LocalTreeWalk::directoryMade(const QString &relative, bool made)
{
    making_ = false;
    if (made) {
        countDirectory();
    } else {
        zlog("MKD %@ refuse : le dossier n'a pas pu etre cree", remotePathOf(relative));
        failDirectory(relative);
        failed_.append(relative);
    }
    go();
}

} // namespace zodaru
