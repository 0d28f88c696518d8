// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/GestFTPBrowser.h"

#include "ftp/FTP.h"
#include "ftp/Log.h"
#include "ui/AppContext.h"

#include <QApplication>
#include <QFont>
#include <QTimer>

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
        rows = int(files.size());
    }
    // The listing may have lost the command connection. The first column is reloaded by
    // the disconnect itself, so only the others report it.
    if (column != 0 && !(ftp && ftp->isConnected()))
        scheduleDisconnect();
    return rows;
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
    cell.setStringValue(entry.name());
    cell.setFile(entry);
    if (entry.isLink()) {
        QFont italic = QApplication::font();
        italic.setItalic(true);
        cell.setFont(italic);
    }
}

QString GestFTPBrowser::titleOfColumn(ColumnBrowser &browser, int column)
{
    return browser.pathToColumn(column);
}

} // namespace zodaru
