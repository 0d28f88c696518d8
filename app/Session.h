// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/SessionEngine.h"
#include "ftp/FTP.h"
#include "model/TransferDirection.h"
#include "model/TransferSettings.h"
#include "ui/AppContext.h"
#include "ui/CertificateDialog.h"
#include "ui/ClearPasswordDialog.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace zodaru {

class EnginePool;
class ParametersWindowController;
class RateLimit;
class RetiredEngines;
class TrustedCertificates;

// The session side of the application controller: the connection dialog, the three engines
// (commands, downloads, uploads) logged in side by side, the pools of transfer engines the
// last two start (see EnginePool) with the questions a connect may
// ask (an untrusted certificate, a password about to go in clear), the command engine's
// requests (listings, DELE, MKD), the look at its connection and the keep-alive, and the
// end of the session.
//
// Main thread only. Every blocking call runs on the engine's worker; its result comes back
// here and counts only while the session still holds the engine it was asked of (by id).
class Session final : public QObject {
    Q_OBJECT
public:
    // `app` gives the window and the site actions; `retired` keeps the engines let go.
    Session(AppContext &app, RetiredEngines &retired, QObject *parent = nullptr);
    ~Session() override;
    Q_DISABLE_COPY_MOVE(Session)

    // What the engines of the next connects are made with (time and size limits); those
    // of a session already open keep theirs.
    void setEngineSettings(const FTP::Settings &settings) { engineSettings_ = settings; }
    const FTP::Settings &engineSettings() const { return engineSettings_; }
    // The same for a transfer engine of `direction`: with the direction's shared speed limit.
    FTP::Settings transferEngineSettings(TransferDirection direction) const;
    // How many connections each direction may use and their speed limits: read from the
    // settings file when the session is made; applied at once to a session open.
    void applyTransferSettings(const TransferSettings &settings);
    const TransferSettings &transferSettings() const { return transferSettings_; }

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
        int reply = -1; // the reply that ended the login (FTP::loginReply())
    };

    // What the session logged in with: a transfer engine that lost its connection logs in
    // again with it, and needs at least `policy`.
    struct Credentials {
        QString server;
        QString login;
        QString password;
        ProtectionPolicy policy;
    };

    // From the process's start on, every TLS connection asks the user's store about its
    // certificate.
    void checkCertificates();

    // The actions of the window (see AppContext).
    void getParametersOfConnection();
    void connectWithAddress(const QString &address, const QString &login, const QString &password);
    void disconnectFromFTP();
    void disconnectRemote();
    quint64 listRemote(const QString &path, AppContext::ListingDone done);
    quint64 remoteCommand(const QString &word, const QString &param, AppContext::CommandDone done);
    quint64 remoteRename(const QString &from, const QString &to, AppContext::RenameDone done);

    // The command engine and the transfer engines; null outside a session.
    std::shared_ptr<FTP> ftp() const;
    std::shared_ptr<FTP> dataTransfertIn() const;
    std::shared_ptr<FTP> dataTransfertOut() const;
    bool isConnected() const;
    // The most recent connection dialog controller; null before Connect was first pressed.
    ParametersWindowController *parameters() const { return params.get(); }
    // True while the three logins of a connect are on their way.
    bool isDialing() const { return bool(dialing_); }
    // The question about a server certificate that a connect is waiting on, or null.
    CertificateDialog *certificateQuestion() const { return certificateDialog_; }
    // The question before a password goes in clear to a server that refused TLS, or null.
    ClearPasswordDialog *clearPasswordQuestion() const { return clearDialog_; }

    // For the transfers: the engine of one direction (member 0 of its pool), null outside a
    // session; the pool of a direction; the engine of the session holding the engine `id`,
    // or null; what the session logged in with.
    SessionEngine *transferEngine(TransferDirection direction) const;
    EnginePool &pool(TransferDirection direction) const;
    SessionEngine *currentEngine(quint64 id) const;
    Credentials credentials() const { return {server_, login_, password_, sessionPolicy_}; }
    // After a request on `engine`, which may have logged in again: the status bar again,
    // and the user told when that login was refused TLS.
    void reconnected(const std::shared_ptr<FTP> &engine);
    // How long a free extra transfer engine is kept (60 s unless the settings say).
    void setIdleInterval(int ms);

Q_SIGNALS:
    // A connect to `site` ("server text" LF "login") is made; the window shows it.
    void opened(const QString &site);
    // The user ended the session: its engines are retired, running transfers stopped.
    void closed();
    // The command connection was found lost: the window shows no session; the engines are
    // left alone, and a transfer running goes on to its end.
    void lost();
    // New transfer settings hold: a larger pool may start more at once.
    void transferSettingsApplied();

private:
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

    MainWindowController *window() const { return app_.window(); }
    // Logs `engine` in on the calling thread (an engine's worker) and tells how it went.
    static Login logIn(std::shared_ptr<FTP> engine, const QString &address, const QString &user,
                       const QString &password, ProtectionPolicy policy);
    // A connect; `clearAgreed` when the user has just agreed to log in in clear.
    void dial(const Typed &typed, bool clearAgreed);
    // Starts the login of engine `which` of the connect on its way.
    void dialEngine(int which, ProtectionPolicy policy);
    void loginDone(quint64 attempt, int which, Login result);
    // The three logins are in: the engines become the session's.
    void sessionMade();
    // Stops the connect on its way; its late results are dropped.
    void cancelDialing();
    // A failed connect: the user is told why and the dialog opens again with what was typed.
    void dialingFailed(const QString &why);
    void connectFailed(const Typed &typed, const QString &why);
    // A certificate stopped the connect: the user decides, then the connect is made again
    // or fails.
    void askAboutCertificate(const FTP::CertificateRefusal &refusal);
    void certificateChosen(const Typed &typed, const FTP::CertificateRefusal &refusal,
                           CertificateDialog::Choice choice);
    // A bare host refused TLS: the user decides whether the password may go in clear.
    void askAboutClear();
    void clearChosen(const Typed &typed, const QString &server, bool clear, bool always);
    // The key of the server a connect names, for the user's stores.
    static QString serverKey(const QString &text);
    // Drops the open certificate or clear-password question: the connect is given up.
    void dropQuestions();
    // The status bar's word on the session's encryption: the weakest of its engines.
    void showSecurity();
    // After a request on the command engine found its control connection gone.
    void commandConnectionLost(const char *where);
    // The idle command engine's control connection is looked at regularly.
    void checkCommandConnection();
    // NOOP on each idle engine of the session.
    void keepSessionAlive();
    // Ends the session of an engine and of a new login made for it: nothing connects any more.
    static void endSession(SessionEngine &engine);
    // Hands the engine over to be closed once its worker is done; `transfers` for a
    // transfer engine (see RetiredEngines).
    void retire(std::unique_ptr<SessionEngine> engine, bool transfers = false);
    // Every transfer engine of the session, taken out of the pools.
    std::vector<std::unique_ptr<SessionEngine>> takeTransferEngines();
    // The pool of a direction, its extra members logged in with the session's credentials.
    std::unique_ptr<EnginePool> makePool(TransferDirection direction);
    // The server refused an extra login: said once a session.
    void poolLimited(int kept);

    AppContext &app_;
    RetiredEngines &retired_;
    std::unique_ptr<ParametersWindowController> params;
    // The command engine, null outside a session; the transfer engines of each direction,
    // member 0 the one the connect dialed.
    std::unique_ptr<SessionEngine> command_;
    std::shared_ptr<RateLimit> downloadLimit_;
    std::shared_ptr<RateLimit> uploadLimit_;
    std::unique_ptr<EnginePool> in_;
    std::unique_ptr<EnginePool> out_;
    // The server's limit on connections was told in this session.
    bool limitTold_ = false;
    std::unique_ptr<Dialing> dialing_;
    std::shared_ptr<TrustedCertificates> certificates_;
    QPointer<CertificateDialog> certificateDialog_;
    QPointer<ClearPasswordDialog> clearDialog_;
    quint64 dialingSerial_ = 0;
    // Numbers the requests on the command engine, across sessions.
    quint64 requestSerial_ = 0;
    QTimer connectionCheck_;
    QTimer keepAlive_;
    // What the session logged in with, to replace a transfer engine that a refusal closed.
    QString server_;
    QString login_;
    QString password_;
    // The least protection any engine of the session must have, from its first login.
    ProtectionPolicy sessionPolicy_;
    FTP::Settings engineSettings_;
    TransferSettings transferSettings_;
};

} // namespace zodaru
