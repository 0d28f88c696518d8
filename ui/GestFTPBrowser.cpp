// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GestFTPBrowser.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ui/AppContext.h"
#include "ui/ColumnOrder.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <iterator>
#include <utility>

namespace zodaru {

namespace {

QFont italicFont()
{
    QFont italic = QApplication::font();
    italic.setItalic(true);
    return italic;
}

// Lines that name nothing ("total 3", a "Directory ..." header, a blank line) and the
// directory's own "." and ".." are no rows: they open nothing useful and their paths
// would leave the directory shown.
bool namesNothing(const File &entry)
{
    return entry.name().isEmpty() || entry.name() == u"." || entry.name() == u"..";
}

// The listing is shared with the engine's answer: copied only when there is something to
// leave out, which a listing of 100 000 entries seldom has.
QList<File> namedEntries(const QList<File> &entries)
{
    if (std::none_of(entries.begin(), entries.end(), namesNothing))
        return entries;
    QList<File> named;
    named.reserve(entries.size());
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(named),
                 [](const File &entry) { return !namesNothing(entry); });
    return named;
}

// The text a cell shows for an entry. Most names show as they are: the cell then shares
// the entry's text.
QString shownText(const File &entry)
{
    return hasUndecodedBytes(entry.name()) ? displayedName(entry.name()) : entry.name();
}

} // namespace

GestFTPBrowser::GestFTPBrowser(AppContext &app, QObject *parent)
    : QObject(parent)
    , app_(app)
{
}

QString GestFTPBrowser::loadingText()
{
    return QCoreApplication::translate("Browsing", "Loading...");
}

QString GestFTPBrowser::failedText()
{
    return QCoreApplication::translate("Browsing", "Listing failed");
}

int GestFTPBrowser::numberOfRowsInColumn(ColumnBrowser &browser, int column)
{
    const QString path = browser.pathToColumn(column);
    byName_.clear();
    const auto found = requests_.find(column);
    if (found != requests_.end() && found->second.arrived && found->second.path == path) {
        const Request answer = std::move(found->second);
        requests_.erase(found);
        if (!answer.entries) {
            shown_ = Shown::Failed;
            return 1;
        }
        shown_ = Shown::Entries;
        files = namedEntries(*answer.entries);
        if (answer.byName.size() == size_t(files.size()))
            byName_ = std::move(answer.byName);
        return int(files.size());
    }
    // Without a connected engine the column is empty: nothing is asked. A session that
    // was lost is closed by the application when one of its requests finds it so.
    if (!app_.isConnected()) {
        requests_.erase(column);
        shown_ = Shown::Entries;
        return 0;
    }
    requestListing(browser, column, path);
    shown_ = Shown::Loading;
    return 1;
}

void GestFTPBrowser::requestListing(ColumnBrowser &browser, int column, const QString &path)
{
    zlog("On fait un ls sur >%@<", path);
    // A newer request for the column makes every earlier answer for it stale.
    const quint64 token = ++lastToken_;
    requests_[column] = Request{path, token, false, std::nullopt, {}};
    app_.listRemote(path, [self = QPointer<GestFTPBrowser>(this),
                           view = QPointer<ColumnBrowser>(&browser), column, path,
                           token](const std::optional<QList<File>> &entries) {
        if (self)
            self->listingArrived(view.data(), column, Request{path, token, true, entries, {}});
    });
}

void GestFTPBrowser::listingArrived(ColumnBrowser *browser, int column, Request answer)
{
    const auto found = requests_.find(column);
    if (found == requests_.end() || found->second.token != answer.token)
        return; // the column was reloaded since: a later answer fills it
    // The user may have moved on: the column is gone or lists another directory.
    if (!browser || column >= browser->columnCount() || browser->pathToColumn(column) != answer.path) {
        zlog("Liste perimee ignoree : >%@<", answer.path);
        requests_.erase(found);
        return;
    }
    if (answer.entries && answer.entries->size() >= kSortAside && answer.byName.empty()) {
        sortAside(browser, column, std::move(answer));
        return;
    }
    found->second = std::move(answer);
    browser->reloadColumn(column);
}

void GestFTPBrowser::sortAside(ColumnBrowser *browser, int column, Request answer)
{
    answer.entries = namedEntries(*answer.entries);
    QThreadPool::globalInstance()->start([self = QPointer<GestFTPBrowser>(this), view = QPointer<ColumnBrowser>(browser),
                                          column, answer = std::move(answer)]() mutable {
        QStringList texts;
        texts.reserve(answer.entries->size());
        for (const File &entry : *answer.entries)
            texts.append(shownText(entry));
        answer.byName = nameOrder(texts);
        // Back on the window's thread, where the column may have moved on meanwhile.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self, view, column, answer = std::move(answer)]() mutable {
                if (self)
                    self->listingArrived(view.data(), column, std::move(answer));
            },
            Qt::QueuedConnection);
    });
}

std::vector<int> GestFTPBrowser::rowsByName(ColumnBrowser &, int)
{
    return std::exchange(byName_, {});
}

void GestFTPBrowser::willDisplayCell(ColumnBrowser &, CellFile &cell, int row, int)
{
    if (shown_ != Shown::Entries) {
        cell.setPlaceholder(true);
        cell.setLeaf(true);
        cell.setStringValue(shown_ == Shown::Loading ? loadingText() : failedText());
        cell.setFont(italicFont());
        return;
    }
    if (row < 0 || row >= files.size())
        return;
    const File &entry = files.at(row); // at(): files is shared with the answer, no detach
    cell.setLeaf(!entry.isDir());
    cell.setStringValue(shownText(entry));
    cell.setFile(entry);
    if (entry.isLink())
        cell.setFont(italicFont());
}

QString GestFTPBrowser::titleOfColumn(ColumnBrowser &browser, int column)
{
    return displayedName(browser.pathToColumn(column));
}

} // namespace zodaru
