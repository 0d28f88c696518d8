// SPDX-License-Identifier: GPL-3.0-or-later
// The session side of the application controller: the connection dialog, opening the three
// engines, closing the session.
#include "app/MyDelegate.h"

#include "app/RetiredEngines.h"
#include "ftp/FTP.h"
#include "ftp/Log.h"
#include "ftp/NotificationCenter.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindowController.h"

#include <QTimer>

#include <utility>

namespace zodaru {

void MyDelegate::getParametersOfConnection()
{
    countBookmarks();
    // Dropping the previous dialog controller closes its panel, if it is still open.
    params = std::make_unique<ParametersWindowController>(*this);
    myWindow->setDialing();
    params->showWindow();
}

void MyDelegate::connectWithAddress(const QString &address, const QString &login,
                                    const QString &password)
{
    // Built into locals first: a server that cannot be reached leaves the session as it
    // was, and the engines made before the failure close as they go out of scope.
    std::shared_ptr<FTP> command;
    std::shared_ptr<FTP> in;
    std::shared_ptr<FTP> out;
    try {
        command = FTP::connectTo(address, login, password);
        in = FTP::connectTo(address, login, password);
        out = FTP::connectTo(address, login, password);
    } catch (const NetworkException &e) {
        // The window keeps its Dialing look and Connect opens the dialog again.
        zlog("Exception recue dans connectWithAddress ==> %@", e.reason());
        return;
    }

    retire(std::exchange(FTPInterface, std::move(command)));
    retire(std::exchange(DataTransfertIn, std::move(in)));
    retire(std::exchange(DataTransfertOut, std::move(out)));
    server_ = address;
    login_ = login;
    password_ = password;

    if (FTPInterface->isConnected())
        myWindow->setConnected();
}

void MyDelegate::disconnectFromFTP()
{
    zlog("On se deconnecte\n");
    for (const auto &engine : {FTPInterface, DataTransfertIn, DataTransfertOut})
        if (engine)
            engine->shutdown();
    myWindow->setDisconnected();
    emptyQueues();
    myWindow->refreshUploadTable();
    myWindow->refreshDownloadTable();
    zlog("FTP closed\n");
}

void MyDelegate::disconnectRemote()
{
    zlog("disconnectRemote");
    // The engines are left alone: a transfer already running goes on to its end, and its
    // notifications find empty queues.
    myWindow->setDisconnected();
    emptyQueues();
    myWindow->refreshUploadTable();
    myWindow->refreshDownloadTable();
}

// For now the command engine's work still runs on the main thread; only its result is
// handed back on the next pass of the event loop, as callers must already expect.
quint64 MyDelegate::listRemote(const QString &path, ListingDone done)
{
    std::optional<QList<File>> entries;
    if (FTPInterface && FTPInterface->isConnected())
        entries = FTPInterface->list(path);
    QTimer::singleShot(0, this, [done = std::move(done), entries] { done(entries); });
    return ++requestSerial_;
}

quint64 MyDelegate::remoteCommand(const QString &word, const QString &param, CommandDone done)
{
    const int code = FTPInterface ? FTPInterface->command(word, param) : -1;
    QTimer::singleShot(0, this, [done = std::move(done), code] { done(code); });
    return ++requestSerial_;
}

void MyDelegate::emptyQueues()
{
    downloadQueue_.emplace();
    uploadQueue_.emplace();
}

void MyDelegate::retire(std::shared_ptr<FTP> engine)
{
    if (!engine)
        return;
    if (!retired_)
        retired_ = std::make_unique<RetiredEngines>();
    retired_->retire(std::move(engine));
}

void MyDelegate::observeTransfers()
{
    // Once for the life of the program: a registration per connect would deliver every
    // notification once per registration and count progress several times.
    const QString object = QStringLiteral("DataTransfert");
    DistributedCenter->addObserver(this, QStringLiteral("ChunkOfFile"), object,
                                   [this](const Notification &n) { receive(n); });
    DistributedCenter->addObserver(this, QStringLiteral("ChunkOfFileUploaded"), object,
                                   [this](const Notification &n) { send(n); });
    DistributedCenter->addObserver(this, QStringLiteral("FileSaved"), object,
                                   [this](const Notification &n) { FileSaved(n); });
    DistributedCenter->addObserver(this, QStringLiteral("FileSend"), object,
                                   [this](const Notification &n) { FileSend(n); });
}

} // namespace zodaru
