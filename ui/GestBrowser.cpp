// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GestBrowser.h"

#include <QDir>
#include <QFileInfo>

namespace zodaru {

QStringList GestBrowser::directoryContents(const QString &path)
{
    const QDir dir(path);
    if (!dir.isReadable())
        return {};
    return dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                         QDir::Unsorted);
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
    const QFileInfo info(fullPath); // isDir() and size() follow symbolic links
    const bool isDirectory = info.exists() && info.isDir();
    cell.setLeaf(!isDirectory);
    cell.setStringValue(name);
    const qint64 size = info.exists() ? info.size() : 0;
    cell.setFile(File(name, size, isDirectory ? 1 : 0));
    cell.getFile().setLocalPath(directory);
}

QString GestBrowser::titleOfColumn(ColumnBrowser &browser, int column)
{
    return browser.pathToColumn(column);
}

} // namespace zodaru
