// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GestFTPBrowser.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ui/AppContext.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFont>
#include <QPointer>

#include <algorithm>
#include <iterator>

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
    requests_[column] = Request{path, token, false, std::nullopt};
    app_.listRemote(path, [self = QPointer<GestFTPBrowser>(this),
                           view = QPointer<ColumnBrowser>(&browser), column, path,
                           token](const std::optional<QList<File>> &entries) {
        if (self)
            self->listingArrived(view.data(), column, Request{path, token, true, entries});
    });
}

void GestFTPBrowser::listingArrived(ColumnBrowser *browser, int column, const Request &answer)
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
    found->second = answer;
    browser->reloadColumn(column);
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
    // Most names show as they are: the cell then shares the entry's text.
    cell.setStringValue(hasUndecodedBytes(entry.name()) ? displayedName(entry.name()) : entry.name());
    cell.setFile(entry);
    if (entry.isLink())
        cell.setFont(italicFont());
}

QString GestFTPBrowser::titleOfColumn(ColumnBrowser &browser, int column)
{
    return displayedName(browser.pathToColumn(column));
}

} // namespace zodaru
