// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GestBrowser.h"

#include "base/ByteNames.h"

#include <dirent.h>
#include <sys/stat.h>

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

int GestBrowser::numberOfRowsInColumn(ColumnBrowser &browser, int column)
{
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
    cell.setFile(File(name, size, isDirectory ? 1 : 0));
    cell.getFile().setLocalPath(directory);
}

QString GestBrowser::titleOfColumn(ColumnBrowser &browser, int column)
{
    return displayedName(browser.pathToColumn(column));
}

} // namespace zodaru
