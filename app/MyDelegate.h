// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/SessionEngine.h"
#include "ftp/FTP.h"
#include "model/File.h"
#include "ui/AppContext.h"
#include "ui/CertificateDialog.h"
#include "ui/ClearPasswordDialog.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <QTimer>

#include <array>
#include <functional>
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
class SiteActions;
class Sites;
class TransferQueue;
struct TransferStart;
class TrustedCertificates;
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
    std::shared_ptr<FTP> ftp() const override;
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
    std::shared_ptr<FTP> dataTransfertIn() const;
    std::shared_ptr<FTP> dataTransfertOut() const;
    // True while the three logins of a connect are on their way.
    bool isDialing() const { return bool(dialing_); }
    // The question about a server certificate that a connect is waiting on, or null.
    CertificateDialog *certificateQuestion() const { return certificateDialog_; }
    // The question before a password goes in clear to a server that refused TLS, or null.
    ClearPasswordDialog *clearPasswordQuestion() const { return clearDialog_; }

    // Asked before quitting with `unfinished` transfers waiting or running; true lets the
    // program end. By default a question to the user; tests answer it themselves.
    using QuitQuestion = std::function<bool(int unfinished)>;
    void setQuitQuestion(QuitQuestion question) { quitQuestion_ = std::move(question); }
    // Asks, when transfers are not finished, then ends the event loop.
    void quit();

protected:
    // The main window's close button quits like the menu does: it asks first.
    bool eventFilter(QObject *watched, QEvent *event) override;

public:
    // Entries of both queues waiting or running.
    int unfinishedTransfers() const;

private:
    // Asks when transfers are unfinished and stops them when the user agrees.
    bool mayQuit();
    void orderFrontStandardInfoPanel();
    void orderFrontHelpPanel();
public:
    // What one of the three logins of a connect brought back.
    struct Login {
        // Certificate: the server's certificate was neither verified nor trusted.
        // NoTls: TLS was required (ftpes://, or the session's first engine had it) and the
        // server did not agree to it. ClearNotAgreed: a bare host refused TLS and the user
        // has not agreed to log in in clear. DataNotProtected: PBSZ or PROT P refused.
        enum class Failure { None, Unreachable, Refused, NotFtp, NoTls, ClearNotAgreed, DataNotProtected, Certificate };
        std::shared_ptr<FTP> ftp;
        Failure failure = Failure::None;
        QString reason;
        std::optional<FTP::CertificateRefusal> certificate; // with Failure::Certificate
    };

    // What the user typed for a connect, kept to dial again or to fill the dialog again.
    struct Typed {
        QString address;
        QString login;
        QString password;
    };

    // A connect on its way: the three engines being logged in and what was typed.
    struct Dialing {
        quint64 serial = 0;
        Typed typed;
        std::array<std::unique_ptr<SessionEngine>, 3> engines;
        // The engines being logged in, so that giving up closes them at once.
        std::array<std::shared_ptr<FTP>, 3> made;
        int loggedIn = 0;
        // What the logins must reach; the first engine's protection, once it has decided it
        // alone (firstAlone), is the least for the other two.
        ProtectionPolicy policy;
        bool firstAlone = false;
    };

private:
    // Logs `engine` in on the calling thread (an engine's worker) and tells how it went.
    static Login logIn(std::shared_ptr<FTP> engine, const QString &address, const QString &user, const QString &password,
                       ProtectionPolicy policy);
    // A connect; `clearAgreed` when the user has just agreed to log in in clear.
    void dial(const Typed &typed, bool clearAgreed);
    // Starts the login of engine `which` of the connect on its way.
    void dialEngine(int which, ProtectionPolicy policy);
    // After a disconnect or a lost session: the queues keep their unfinished entries,
    // waiting for the next connect to the same site.
    void holdQueues();
    // A connect to `site` (server text and login) is made: the queues of another site are
    // set aside, and what waited for this one comes back.
    void switchQueuesTo(const QString &site);
    // Ends the session of an engine and of a new login made for it: nothing connects any more.
    static void endSession(SessionEngine &engine);
    // NOOP on each idle engine of the session.
    void keepSessionAlive();
    bool queuesMayRun() const;
    void observeTransfers();
    std::unique_ptr<SessionEngine> newEngine();
    // Hands the engine over to be closed once nothing refers to it any more; `transfers`
    // for a transfer engine (see RetiredEngines).
    void retire(std::unique_ptr<SessionEngine> engine, bool transfers = false);
    void loginDone(quint64 attempt, int which, Login result);
    // Stops the connect on its way; its late results are dropped.
    void cancelDialing();
    // A failed connect: the user is told why and the dialog opens again with what was typed.
    void dialingFailed(const QString &why);
    void connectFailed(const Typed &typed, const QString &why);
    // From the process's start on, every TLS connection asks the user's store about its
    // certificate.
    void checkCertificates();
    // A certificate stopped the connect: the user decides, then the connect is made again
    // or fails.
    void askAboutCertificate(const FTP::CertificateRefusal &refusal);
    void certificateChosen(const Typed &typed, const FTP::CertificateRefusal &refusal, CertificateDialog::Choice choice);
    // A bare host refused TLS: the user decides whether the password may go in clear.
    void askAboutClear();
    void clearChosen(const Typed &typed, const QString &server, bool clear, bool always);
    // Drops the open certificate or clear-password question: the connect is given up.
    void dropQuestions();
    // The status bar's word on the session's encryption: the weakest of its engines.
    void showSecurity();
    // After a request on `engine`, which may have reconnected: the status bar again, and the
    // user told when the reconnection was refused TLS.
    void reconnected(const std::shared_ptr<FTP> &engine);
    // After a request on the command engine found its control connection gone.
    void commandConnectionLost(const char *where);
    // The idle command engine's control connection is looked at regularly.
    void checkCommandConnection();
    // Starts one transfer on a transfer engine's worker; `started` gets what the start gave.
    void startTransfer(SessionEngine *engine, bool download, const QString &local,
                       const QString &remote, qint32 id, std::function<void(const TransferStart &)> started);
    // The current engine of the session with that serial, or null.
    SessionEngine *currentEngine(quint64 serial) const;
    bool isCurrentSender(const std::unique_ptr<SessionEngine> &engine, const Notification &note) const;

    std::unique_ptr<MainWindowController> myWindow;
    std::unique_ptr<ParametersWindowController> params;
    // The open make-directory panel owns its controller; this only watches it.
    QPointer<GetNameDirController> namedir;
    // The command engine and the two transfer engines; null outside a session.
    std::unique_ptr<SessionEngine> command_;
    std::unique_ptr<SessionEngine> in_;
    std::unique_ptr<SessionEngine> out_;
    std::unique_ptr<Dialing> dialing_;
    std::shared_ptr<TrustedCertificates> certificates_;
    QPointer<CertificateDialog> certificateDialog_;
    QPointer<ClearPasswordDialog> clearDialog_;
    quint64 engineSerial_ = 0;
    quint64 dialingSerial_ = 0;
    QTimer connectionCheck_;
    QTimer keepAlive_;
    QuitQuestion quitQuestion_;
    // Absent until start-up creates them.
    std::unique_ptr<TransferQueue> downloads_;
    std::unique_ptr<TransferQueue> uploads_;
    // The site ("server text" LF "login") the entries of the queues belong to, and the
    // unfinished entries of other sites, kept until a connect to their site.
    QString queueSite_;
    struct HeldTransfers {
        QList<File> downloads;
        QList<File> uploads;
    };
    QHash<QString, HeldTransfers> held_;
    NotificationCenter *DistributedCenter = nullptr;
    std::unique_ptr<Sites> bookmarks_;
    // After the window, so that it goes first: its site manager is a child of the window.
    std::unique_ptr<SiteActions> siteActions_;

    // What the session logged in with, to replace a transfer engine that a refusal closed.
    QString server_;
    QString login_;
    QString password_;
    // The least protection any engine of the session must have, from its first login.
    ProtectionPolicy sessionPolicy_;
    std::unique_ptr<RetiredEngines> retired_;
    // Numbers the requests on the command engine, across sessions.
    quint64 requestSerial_ = 0;

    // Built before the window exists; the window takes it over.
    std::unique_ptr<QMenuBar> mainMenu_;
    QPointer<QMessageBox> infoPanel_;
    QPointer<QMessageBox> helpPanel_;
};

} // namespace zodaru
