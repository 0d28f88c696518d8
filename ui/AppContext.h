// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"

#include <QList>
#include <QString>

#include <memory>

namespace zodaru {

class FTP;
class MainWindowController;
class Sites;

// What the windows ask of the application controller: its engines, queues and sites, and
// the actions of the main window's buttons that it handles. The application controller
// implements it; widget tests use a stand-in.
class AppContext {
public:
    virtual ~AppContext() = default;

    virtual MainWindowController *window() const = 0;
    // The command engine; null before the first connect.
    virtual std::shared_ptr<FTP> ftp() const = 0;
    // Null until start-up has created the queues.
    virtual const QList<File> *downloadQueue() const = 0;
    virtual const QList<File> *uploadQueue() const = 0;
    virtual const Sites *bookmarks() const = 0;

    virtual void getParametersOfConnection() = 0;
    virtual void connectWithAddress(const QString &address, const QString &login,
                                    const QString &password) = 0;
    virtual void disconnectFromFTP() = 0;
    // Closes the session without talking to the server (the command connection was lost).
    virtual void disconnectRemote() = 0;
    virtual void getFile() = 0;
    virtual void putFile() = 0;
};

} // namespace zodaru
