// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/Trash.h"

#include "base/ByteNames.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStorageInfo>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

namespace zodaru::Trash {

namespace {

std::optional<struct stat> statOf(const QString &path, bool followLinks)
{
    struct stat st{};
    const QByteArray bytes = bytesOfName(path);
    const int result = followLinks ? ::stat(bytes.constData(), &st) : ::lstat(bytes.constData(), &st);
    return result == 0 ? std::optional(st) : std::nullopt;
}

// The device of `path`, or of its nearest existing ancestor: where a directory made
// there would be.
std::optional<dev_t> deviceOf(QString path)
{
    for (;;) {
        if (const auto st = statOf(path, true))
            return st->st_dev;
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path || parent.isEmpty())
            return std::nullopt;
        path = parent;
    }
}

// A Trash directory of this user at `path`: there (a directory, not a link, ours), or
// made now, as the Trash's rules ask (without a word to the user), and as QFile would.
// Made rather than judged by permissions: root may write where nothing can be made (/proc).
bool usableTrashDirectory(const QString &path)
{
    if (const auto st = statOf(path, false))
        return S_ISDIR(st->st_mode) && st->st_uid == ::geteuid();
    return ::mkdir(bytesOfName(path).constData(), 0700) == 0;
}

// The top directory's own Trash of a file outside the home's file system.
bool topDirectoryTrash(const QString &root)
{
    const QString uid = QString::number(::getuid());
    const QString shared = QDir(root).filePath(QStringLiteral(".Trash"));
    // An administrator's shared Trash counts only when sticky and not a link.
    if (const auto st = statOf(shared, false); st && S_ISDIR(st->st_mode) && (st->st_mode & S_ISVTX)) {
        if (usableTrashDirectory(QDir(shared).filePath(uid)))
            return true;
    }
    return usableTrashDirectory(QDir(root).filePath(QStringLiteral(".Trash-") + uid));
}

} // namespace

bool isAvailableFor(const QString &path)
{
    const QFileInfo info(path);
    const QString directory = info.absolutePath();
    const auto device = deviceOf(directory);
    if (!device)
        return false;
    const QStorageInfo storage(directory);
    if (storage.isValid() && storage != QStorageInfo(QDir::home()) && topDirectoryTrash(storage.rootPath()))
        return true;
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (home.isEmpty())
        return false;
    const QString homeTrash = QDir(home).filePath(QStringLiteral("Trash"));
    // The move is a rename: the home Trash serves only files of its own file system.
    return deviceOf(homeTrash) == device;
}

bool moveToTrash(const QString &path, QString &error)
{
    if (!isAvailableFor(path)) {
        error = QStringLiteral("no Trash on the file system of %1").arg(path);
        return false;
    }
    // QFile makes the home Trash but not the data directory it lives in, which a fresh
    // home may not have yet.
    const QString home = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (!home.isEmpty() && !QFileInfo::exists(home))
        QDir().mkpath(home);
    QFile file(path);
    if (!file.moveToTrash()) {
        error = file.errorString();
        return false;
    }
    return true;
}

} // namespace zodaru::Trash
