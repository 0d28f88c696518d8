// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GestBrowser.h"

#include "base/ByteNames.h"
#include "ui/LocalDirectoryWatcher.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

namespace zodaru {

namespace {

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

} // namespace

// Read as bytes: a name that is not UTF-8 keeps its exact bytes (nameFromBytes), so the
// paths built from it later name the same file.
QStringList GestBrowser::directoryContents(const QString &path)
{
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(bytesOfName(path).constData()));
    if (!dir)
        return {};
    QStringList names;
    while (const dirent *entry = ::readdir(dir.get())) {
        const QByteArrayView name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        names.append(nameFromBytes(name));
    }
    return names;
}

GestBrowser::GestBrowser() = default;
GestBrowser::~GestBrowser() = default;

void GestBrowser::watch(ColumnBrowser &browser)
{
    auto &watcher = watchers_[&browser];
    if (!watcher || watcher->browser() != &browser)
        watcher = std::make_unique<LocalDirectoryWatcher>(browser);
}

int GestBrowser::numberOfRowsInColumn(ColumnBrowser &browser, int column)
{
    watch(browser);
    countedPath_ = browser.pathToColumn(column);
    countedNames_ = directoryContents(countedPath_);
    counted_ = true;
    return int(countedNames_.size());
}

void GestBrowser::willDisplayCell(ColumnBrowser &browser, CellFile &cell, int row, int column)
{
    const QString directory = browser.pathToColumn(column);
    if (!counted_ || directory != countedPath_) {
        countedPath_ = directory;
        countedNames_ = directoryContents(directory);
        counted_ = true;
    }
    if (row < 0 || row >= countedNames_.size())
        return;

    const QString &name = countedNames_[row];
    // Joined without looking at the directory's last character: root entries read "//name".
    const QString fullPath = directory + QLatin1Char('/') + name;
    // stat() follows symbolic links, for being a directory and for the size; a broken
    // link is a leaf of size 0.
    struct stat info {};
    const bool exists = ::stat(bytesOfName(fullPath).constData(), &info) == 0;
    const bool isDirectory = exists && S_ISDIR(info.st_mode);
    cell.setLeaf(!isDirectory);
    cell.setStringValue(displayedName(name));
    const qint64 size = exists ? qint64(info.st_size) : 0;
    File entry(name, size, isDirectory ? 1 : 0);
    if (exists)
        entry.setModified(qint64(info.st_mtime));
    cell.setFile(entry);
    cell.getFile().setLocalPath(directory);
}

QString GestBrowser::titleOfColumn(ColumnBrowser &browser, int column)
{
    return displayedName(browser.pathToColumn(column));
}

} // namespace zodaru

namespace zodaru {

EntryFacts GestBrowser::factsOf(ColumnBrowser &, const CellFile &cell, int)
{
    EntryFacts facts = factsOfCell(cell);
    const QByteArray path = bytesOfName(cell.getFile().localpath() + QLatin1Char('/') + cell.name());
    struct stat own {};
    if (::lstat(path.constData(), &own) != 0)
        return facts;
    facts.permissions = permissionsText(own.st_mode);
    struct stat target {};
    const bool reached = ::stat(path.constData(), &target) == 0;
    if (S_ISLNK(own.st_mode)) {
        facts.kind = EntryFacts::Kind::Link;
        QByteArray buffer(4096, '\0');
        const ssize_t length = ::readlink(path.constData(), buffer.data(), size_t(buffer.size()));
        if (length > 0)
            facts.linkTarget = nameFromBytes(QByteArrayView(buffer.constData(), length));
    } else {
        facts.kind = S_ISDIR(own.st_mode) ? EntryFacts::Kind::Directory : EntryFacts::Kind::File;
    }
    const struct stat &shown = reached ? target : own;
    facts.size = S_ISLNK(shown.st_mode) ? 0 : qint64(shown.st_size);
    facts.modified = qint64(shown.st_mtime);
    return facts;
}

} // namespace zodaru
