// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BrowserPathOpener.h"

#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/GestFTPBrowser.h"

#include <utility>

namespace zodaru {

namespace {

// The browser is looked at this often while listings are on their way, for at most a
// minute: a server that never answers must not leave the opener behind for ever.
constexpr int tickMs = 50;
constexpr int maxTicks = 60 * 1000 / tickMs;

} // namespace

BrowserPathOpener *BrowserPathOpener::open(ColumnBrowser &browser, const QString &path, Done done)
{
    auto *opener = new BrowserPathOpener(browser, path, std::move(done));
    opener->step();
    return opener;
}

BrowserPathOpener::BrowserPathOpener(ColumnBrowser &browser, const QString &path, Done done)
    : QObject(&browser)
    , browser_(&browser)
    , components_(path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
    , done_(std::move(done))
    , ticksLeft_(maxTicks)
{
    tick_.setInterval(tickMs);
    connect(&tick_, &QTimer::timeout, this, &BrowserPathOpener::step);
}

void BrowserPathOpener::step()
{
    if (!browser_ || --ticksLeft_ < 0) {
        finish(false);
        return;
    }
    ColumnBrowser &b = *browser_;
    for (int i = 0; i < components_.size(); ++i) {
        if (i >= b.columnCount() || b.rowCount(i) == 0) {
            // The column to the right of a selected directory is on its way; an empty
            // one that is there already ends the walk.
            if (i < b.columnCount()) {
                finish(false);
                return;
            }
            tick_.start();
            return;
        }
        int found = -1;
        for (int row = 0; row < b.rowCount(i); ++row) {
            CellFile *cell = b.cellAt(i, row);
            if (cell->isPlaceholder()) {
                // The listing is on its way (one busy row) or failed (one row saying so,
                // with nothing to select): wait for the first, give up at the second.
                if (cell->stringValue() == GestFTPBrowser::loadingText()) {
                    tick_.start();
                    return;
                }
                finish(false);
                return;
            }
            if (cell->name() == components_.at(i))
                found = row;
        }
        if (found < 0 || b.cellAt(i, found)->isLeaf()) {
            finish(false);
            return;
        }
        const QString upTo = QLatin1Char('/') + components_.mid(0, i + 1).join(QLatin1Char('/'));
        if (b.pathToColumn(i + 1) != upTo) {
            b.selectRow(i, found);
            tick_.start();
            return;
        }
    }
    finish(true);
}

void BrowserPathOpener::finish(bool opened)
{
    tick_.stop();
    if (done_)
        std::exchange(done_, nullptr)(opened);
    deleteLater();
}

} // namespace zodaru
