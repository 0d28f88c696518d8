// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GestFTPBrowser.h"

#include "ftp/ByteNames.h"
#include "ftp/FTP.h"
#include "ftp/Log.h"
#include "ui/AppContext.h"
#include "ui/MainWindowController.h"

#include <QApplication>
#include <QFont>
#include <QTimer>

#include <algorithm>

namespace zodaru {

GestFTPBrowser::GestFTPBrowser(AppContext &app, QObject *parent)
    : QObject(parent)
    , app_(app)
{
}

bool GestFTPBrowser::engineConnected() const
{
    const std::shared_ptr<FTP> ftp = app_.ftp();
    return ftp && ftp->isConnected();
}

int GestFTPBrowser::numberOfRowsInColumn(ColumnBrowser &browser, int column)
{
    const QString path = browser.pathToColumn(column);
    // Our own reference keeps the engine alive for the whole exchange.
    const std::shared_ptr<FTP> ftp = app_.ftp();
    int rows = 0;
    if (ftp && ftp->isConnected()) {
        zlog("On fait un ls sur >%@<", path);
        files = ftp->list(path).value_or(QList<File>());
        // Lines that name nothing ("total 3", a "Directory ..." header, a blank line) and
        // the directory's own "." and ".." are no rows: they open nothing useful and
        // their paths would leave the directory shown.
        files.removeIf([](const File &entry) {
            return entry.name().isEmpty() || entry.name() == u"." || entry.name() == u"..";
        });
        rows = int(files.size());
    }
    // The listing may have lost the command connection. The first column is reloaded by
    // the disconnect itself (which sees a window no longer Connected), so it reports only
    // a loss that the window does not show yet.
    noticeLostConnection(column != 0);
    return rows;
}

void GestFTPBrowser::noticeLostConnection(bool always)
{
    if (engineConnected())
        return;
    const MainWindowController *window = app_.window();
    const bool shownConnected
        = window && window->connectionState() == MainWindowController::ConnectionState::Connected;
    if (always || shownConnected)
        scheduleDisconnect();
}

void GestFTPBrowser::scheduleDisconnect()
{
    if (disconnectPending_)
        return;
    disconnectPending_ = true;
    // Not during the current load: the disconnect reloads the browser that is loading.
    QTimer::singleShot(0, this, [this] {
        disconnectPending_ = false;
        app_.disconnectRemote();
    });
}

void GestFTPBrowser::willDisplayCell(ColumnBrowser &, CellFile &cell, int row, int)
{
    if (!engineConnected() || row < 0 || row >= files.size())
        return;
    const File &entry = files[row];
    cell.setLeaf(!entry.isDir());
    cell.setStringValue(displayedName(entry.name()));
    cell.setFile(entry);
    if (entry.isLink()) {
        QFont italic = QApplication::font();
        italic.setItalic(true);
        cell.setFont(italic);
    }
}

QString GestFTPBrowser::titleOfColumn(ColumnBrowser &browser, int column)
{
    return displayedName(browser.pathToColumn(column));
}

} // namespace zodaru
