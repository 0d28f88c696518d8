// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"
#include "ui/AppContext.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class QMenuBar;
class QMessageBox;

namespace zodaru {

class FTP;
class GetNameDirController;
class MainWindowController;
class NotificationCenter;
class ParametersWindowController;
class RetiredEngines;
class Sites;
struct Notification;

// The application controller: starts the program (menu, main window, queues, saved sites),
// holds the session's engines and the transfer queues, and handles the actions of the main
// window that are not the window's own.
class MyDelegate final : public QObject, public AppContext {
    Q_OBJECT
public:
    explicit MyDelegate(QObject *parent = nullptr);
    ~MyDelegate() override;
    Q_DISABLE_COPY_MOVE(MyDelegate)

    // Where the saved sites are read from; the site list resolves "~" to the home directory.
    static QString bookmarkPath() { return QStringLiteral("~/bookmarks.tarvo"); }

    // Before the event loop: menu, main window, empty queues, notification centre, sites.
    void applicationWillFinishLaunching();
    // Once launching is complete: the main window comes to the front.
    void applicationDidFinishLaunching();

    void createMenu();
    void countBookmarks() const;
    void getNameDir();

    // AppContext
    MainWindowController *window() const override { return myWindow.get(); }
    std::shared_ptr<FTP> ftp() const override { return FTPInterface; }
    const QList<File> *downloadQueue() const override;
    const QList<File> *uploadQueue() const override;
    const Sites *bookmarks() const override { return bookmarks_.get(); }

    void getParametersOfConnection() override;
    void connectWithAddress(const QString &address, const QString &login,
                            const QString &password) override;
    void disconnectFromFTP() override;
    void disconnectRemote() override;
    void getFile() override;
    void putFile() override;
    quint64 listRemote(const QString &path, ListingDone done) override;
    quint64 remoteCommand(const QString &word, const QString &param, CommandDone done) override;
    void cancelTransfer(Direction direction, int index) override;
    void retryTransfer(Direction direction, int index) override;

    // One pass over a queue: starts the first waiting entry unless an entry before it runs.
    void downloadFiles();
    void uploadFiles();

    // Transfer notifications. Only those of the engines this session transfers with now
    // move the queues; anything else is ignored.
    void receive(const Notification &note);
    void send(const Notification &note);
    void FileSaved(const Notification &note);
    void FileSend(const Notification &note);

    // The most recent connection dialog controller; null before Connect was first pressed.
    ParametersWindowController *parameters() const { return params.get(); }
    // The transfer engines of the session; null before the first connect.
    std::shared_ptr<FTP> dataTransfertIn() const { return DataTransfertIn; }
    std::shared_ptr<FTP> dataTransfertOut() const { return DataTransfertOut; }

private:
    void orderFrontStandardInfoPanel();
    void orderFrontHelpPanel();
    void emptyQueues();
    void observeTransfers();
    // Drops an engine the session no longer uses; its connection closes once its transfer
    // (if any) has ended.
    void retire(std::shared_ptr<FTP> engine);
    // The engine for the next start in one direction: the current one while it is
    // connected, otherwise a new one logged in like the session's (at most once per pass).
    // Null when none can be had.
    std::shared_ptr<FTP> transferEngine(std::shared_ptr<FTP> &slot, bool &reopened,
                                        const char *where);

    std::unique_ptr<MainWindowController> myWindow;
    std::unique_ptr<ParametersWindowController> params;
    // The open make-directory panel owns its controller; this only watches it.
    QPointer<GetNameDirController> namedir;
    // Shared with the transfer workers, which keep an engine alive until they have ended.
    std::shared_ptr<FTP> FTPInterface;
    std::shared_ptr<FTP> DataTransfertIn;
    std::shared_ptr<FTP> DataTransfertOut;
    // Absent until start-up creates them.
    std::optional<QList<File>> downloadQueue_;
    std::optional<QList<File>> uploadQueue_;
    NotificationCenter *DistributedCenter = nullptr;
    std::unique_ptr<Sites> bookmarks_;

    // What the session logged in with, to replace a transfer engine that a refusal closed.
    QString server_;
    QString login_;
    QString password_;
    std::unique_ptr<RetiredEngines> retired_;
    quint64 requestSerial_ = 0;

    // Built before the window exists; the window takes it over.
    std::unique_ptr<QMenuBar> mainMenu_;
    QPointer<QMessageBox> infoPanel_;
    QPointer<QMessageBox> helpPanel_;
};

} // namespace zodaru
