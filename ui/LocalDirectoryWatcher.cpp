// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LocalDirectoryWatcher.h"

#include "ui/ColumnBrowser.h"

#include <QFileInfo>

namespace zodaru {

namespace {

// The previewed file, whose size and date the preview shows: a write to it changes no
// directory entry, so it is watched on its own.
QString previewedPath(const ColumnBrowser &browser)
{
    const QList<CellFile *> cells = browser.selectedCells();
    if (cells.size() != 1 || !cells.first()->isLeaf() || !cells.first()->hasFile())
        return QString();
    const File &file = cells.first()->getFile();
    return QFileInfo(file.localpath() + QLatin1Char('/') + file.name()).absoluteFilePath();
}

} // namespace

LocalDirectoryWatcher::LocalDirectoryWatcher(ColumnBrowser &browser, QObject *parent)
    : QObject(parent)
    , browser_(&browser)
{
    settle_.setSingleShot(true);
    settle_.setInterval(kSettleMs);
    connect(&settle_, &QTimer::timeout, this, &LocalDirectoryWatcher::refresh);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, &LocalDirectoryWatcher::changed);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this, &LocalDirectoryWatcher::changed);
    connect(&browser, &ColumnBrowser::columnsChanged, this, &LocalDirectoryWatcher::follow);
    connect(&browser, &ColumnBrowser::selectionChanged, this, &LocalDirectoryWatcher::follow);
    follow();
}

// Watches exactly the directories shown and the previewed file.
void LocalDirectoryWatcher::follow()
{
    if (!browser_)
        return;
    QSet<QString> wanted;
    for (int column = 0; column < browser_->columnCount(); ++column)
        wanted.insert(QFileInfo(browser_->pathToColumn(column)).absoluteFilePath());
    previewed_ = previewedPath(*browser_);
    if (!previewed_.isEmpty())
        wanted.insert(previewed_);
    const QStringList watched = watcher_.directories() + watcher_.files();
    QStringList gone;
    for (const QString &path : watched)
        if (!wanted.remove(path))
            gone.append(path);
    if (!gone.isEmpty())
        watcher_.removePaths(gone);
    if (!wanted.isEmpty())
        watcher_.addPaths(QStringList(wanted.begin(), wanted.end()));
}

void LocalDirectoryWatcher::changed(const QString &path)
{
    changed_.insert(path);
    if (!settle_.isActive())
        settle_.start();
}

void LocalDirectoryWatcher::refresh()
{
    const QSet<QString> paths = std::exchange(changed_, {});
    if (!browser_)
        return;
    // Left to right: reading a column again may close or reopen those right of it.
    for (int column = 0; column < browser_->columnCount(); ++column) {
        const QString directory = QFileInfo(browser_->pathToColumn(column)).absoluteFilePath();
        // The previewed file changed: its column shows the old size.
        const bool previewChanged =
            !previewed_.isEmpty() && paths.contains(previewed_) && QFileInfo(previewed_).absolutePath() == directory;
        if (paths.contains(directory) || previewChanged)
            browser_->refreshColumn(column);
    }
    // A removed path stops being watched by the system: watch what is shown now.
    follow();
}

} // namespace zodaru
