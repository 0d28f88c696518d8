// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"
#include "ui/ColumnBrowser.h"

#include <QList>
#include <QObject>
#include <QString>

namespace zodaru {

class AppContext;

// The remote side of the file browsers: each column lists a directory on the server
// through the application's command engine. Links are shown in italics and open nothing.
class GestFTPBrowser final : public QObject, public ColumnBrowserDelegate {
    Q_OBJECT
public:
    explicit GestFTPBrowser(AppContext &app, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(GestFTPBrowser)

    int numberOfRowsInColumn(ColumnBrowser &browser, int column) override;
    void willDisplayCell(ColumnBrowser &browser, CellFile &cell, int row, int column) override;
    QString titleOfColumn(ColumnBrowser &browser, int column) override;

    // The listing of the column counted last, without the rows that name nothing.
    const QList<File> &listing() const { return files; }

    // After an exchange on the command engine: when the engine has lost its connection,
    // closes the session once, on a later pass of the event loop. With `always` false only
    // while the window still shows the session as Connected.
    void noticeLostConnection(bool always = false);

private:
    bool engineConnected() const;
    void scheduleDisconnect();

    AppContext &app_;
    QList<File> files;
    // A lost connection noticed by several columns in one pass closes the session once.
    bool disconnectPending_ = false;
};

} // namespace zodaru
