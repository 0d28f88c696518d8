// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/ColumnBrowser.h"

#include <QString>
#include <QStringList>

#include <map>
#include <memory>

namespace zodaru {

class LocalDirectoryWatcher;

// The local side of the file browsers: each column lists a directory of the local disk,
// in the file system's order and with hidden entries (the browser sorts and filters what it
// shows); links are followed for size, date and for being a directory. Cells show
// displayedName() and keep the exact name in their entry. Each browser it fills follows
// the disk (LocalDirectoryWatcher).
class GestBrowser final : public ColumnBrowserDelegate {
public:
    GestBrowser();
    ~GestBrowser() override;
    Q_DISABLE_COPY_MOVE(GestBrowser)

    int numberOfRowsInColumn(ColumnBrowser &browser, int column) override;
    void willDisplayCell(ColumnBrowser &browser, CellFile &cell, int row, int column) override;
    QString titleOfColumn(ColumnBrowser &browser, int column) override;
    // Read from the disk: the link itself for kind, permissions and target; what it leads
    // to for size and date.
    EntryFacts factsOf(ColumnBrowser &browser, const CellFile &cell, int column) override;

    // The names of a directory's entries in the file system's order, without "." and "..",
    // each the lossless text of its bytes (nameFromBytes); empty when the directory cannot
    // be read.
    static QStringList directoryContents(const QString &path);

private:
    // The names read when the column was counted. The browser fills a column's cells right
    // after counting it, so each cell need not read the directory again (which made large
    // directories quadratic) and rows keep matching the count they were made for.
    QString countedPath_;
    QStringList countedNames_;
    bool counted_ = false;
    // One per browser filled; a watcher whose browser is gone is replaced.
    std::map<const ColumnBrowser *, std::unique_ptr<LocalDirectoryWatcher>> watchers_;
    void watch(ColumnBrowser &browser);
};

} // namespace zodaru
