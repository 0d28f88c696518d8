// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/FTP.h"
#include "ftp/TransferEvent.h"
#include "model/File.h"
#include "ui/AppContext.h"
#include "ui/CertificateDialog.h"
#include "ui/ClearPasswordDialog.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QMenuBar;
class QMessageBox;

namespace zodaru {

class GetNameDirController;
class MainWindowController;
class NotificationCenter;
class ParametersWindowController;
class RetiredEngines;
class Session;
class SiteActions;
class Sites;
class Transfers;

// The application controller: starts the program (menu, main window, queues, saved sites),
// quits it, and answers the windows (AppContext) by handing their actions to its two parts:
// the session (dialing, the three engines, the questions a connect asks, remote commands)
// and the transfers (the queues, their transfers, the engines' transfer events).
// Main thread only.
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
    bool isConnected() const override;
    QUrl remoteSite() const override;
    const QList<File> *downloadQueue() const override;
    const QList<File> *uploadQueue() const override;
    const Sites *bookmarks() const override { return bookmarks_.get(); }
    SiteActions *siteActions() const override { return siteActions_.get(); }

    void getParametersOfConnection() override;
    void connectWithAddress(const QString &address, const QString &login,
                            const QString &password) override;
    void disconnectFromFTP() override;
    void disconnectRemote() override;
    void getFile() override;
    void putFile() override;
    void getEntries(const QString &remoteDirectory, const QList<File> &entries, const QString &localDirectory) override;
    void putEntries(const QString &localDirectory, const QList<File> &entries, const QString &remoteDirectory) override;
    quint64 listRemote(const QString &path, ListingDone done) override;
    quint64 remoteCommand(const QString &word, const QString &param, CommandDone done) override;
    quint64 remoteRename(const QString &from, const QString &to, RenameDone done) override;
    void cancelTransfer(Direction direction, int index) override;
    void retryTransfer(Direction direction, int index) override;
    void removeTransfers(Direction direction, const QList<int> &indexes) override;
    int moveTransfers(Direction direction, const QList<int> &indexes, int before) override;
    void retryFailedTransfers(Direction direction) override;
    void clearFinishedTransfers(Direction direction) override;
    void setTransfersPaused(Direction direction, bool paused) override;
    bool transfersPaused(Direction direction) const override;
    void applyTransferSettings(const TransferSettings &settings) override;

    // One pass over a queue: starts the first waiting entry unless an entry before it runs.
    void downloadFiles();
    void uploadFiles();

    // The engines' transfer events ("ChunkOfFile", "ChunkOfFileUploaded", "FileSaved",
    // "FileSend"), typed. Only those of the engines this session transfers with now move
    // the queues; anything else is ignored.
    void receive(const TransferEvent &event);
    void send(const TransferEvent &event);
    void FileSaved(const TransferEvent &event);
    void FileSend(const TransferEvent &event);

    // The command engine and the transfer engines of the session; null outside one.
    std::shared_ptr<FTP> ftp() const;
    std::shared_ptr<FTP> dataTransfertIn() const;
    std::shared_ptr<FTP> dataTransfertOut() const;
    // The time and size limits the engines of the next connects get (tests shorten them).
    void setEngineSettings(const FTP::Settings &settings);
    // The most recent connection dialog controller; null before Connect was first pressed.
    ParametersWindowController *parameters() const;
    // True while the three logins of a connect are on their way.
    bool isDialing() const;
    // The question about a server certificate that a connect is waiting on, or null.
    CertificateDialog *certificateQuestion() const;
    // The question before a password goes in clear to a server that refused TLS, or null.
    ClearPasswordDialog *clearPasswordQuestion() const;

    // Asked before quitting with `unfinished` transfers waiting or running; true lets the
    // program end. By default a question to the user; tests answer it themselves.
    using QuitQuestion = std::function<bool(int unfinished)>;
    void setQuitQuestion(QuitQuestion question) { quitQuestion_ = std::move(question); }
    // Asks, when transfers are not finished, then ends the event loop.
    void quit();
    // Entries of both queues waiting or running, those set aside for other sites included.
    int unfinishedTransfers() const;

protected:
    // The main window's close button quits like the menu does: it asks first.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Asks when transfers are unfinished and stops them when the user agrees.
    bool mayQuit();
    void orderFrontStandardInfoPanel();
    void orderFrontHelpPanel();
    // Once for the life of the program: the engines' transfer events to the four handlers.
    void observeTransfers();

    std::unique_ptr<MainWindowController> myWindow;
    // The open make-directory panel owns its controller; this only watches it.
    QPointer<GetNameDirController> namedir;
    // Before the session and the transfers, which retire engines into it.
    std::unique_ptr<RetiredEngines> retired_;
    std::unique_ptr<Session> session_;
    std::unique_ptr<Transfers> transfers_;
    QuitQuestion quitQuestion_;
    NotificationCenter *DistributedCenter = nullptr;
    std::unique_ptr<Sites> bookmarks_;
    // After the window, so that it goes first: its site manager is a child of the window.
    std::unique_ptr<SiteActions> siteActions_;

    // Built before the window exists; the window takes it over.
    std::unique_ptr<QMenuBar> mainMenu_;
    QPointer<QMessageBox> infoPanel_;
    QPointer<QMessageBox> helpPanel_;
};

} // namespace zodaru
