// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Session.h"

#include "app/EnginePool.h"
#include "app/RetiredEngines.h"
#include "app/TrustedCertificates.h"
#include "base/Log.h"
#include "ftp/RateLimit.h"
#include "ftp/ServerAddress.h"
#include "model/SiteSettings.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindow.h"
#include "ui/ParametersWindowController.h"
#include "ui/SiteActions.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSettings>

#include <algorithm>
#include <array>
#include <utility>

namespace zodaru {

namespace {

// How often the idle command engine's control connection is looked at: a session that
// a server ends between commands is noticed within a second.
constexpr int kConnectionCheckMs = 500;

// How often an idle session sends NOOP, from the user's settings: keepAliveSeconds in
// the [session] group of ~/.config/Zodaru/Zodaru.conf, 0 for never; 60 s when absent.
int keepAliveMs()
{
    const QSettings settings(SiteSettings::defaultPath(), QSettings::IniFormat);
    constexpr int kDay = 24 * 3600;
    return std::clamp(settings.value(QStringLiteral("session/keepAliveSeconds"), 60).toInt(), 0, kDay) * 1000;
}

// How long an extra transfer engine left without work stays logged in: idleTransferSeconds
// in the [session] group, 60 s when absent.
int idleTransferMs()
{
    const QSettings settings(SiteSettings::defaultPath(), QSettings::IniFormat);
    constexpr int kHour = 3600;
    return std::clamp(settings.value(QStringLiteral("session/idleTransferSeconds"), 60).toInt(), 1, kHour) * 1000;
}
} // namespace

using LoginFailure = Session::Login::Failure;

Session::Session(AppContext &app, RetiredEngines &retired, QObject *parent)
    : QObject(parent), app_(app), retired_(retired), downloadLimit_(std::make_shared<RateLimit>()),
      uploadLimit_(std::make_shared<RateLimit>()), in_(makePool(TransferDirection::Download)),
      out_(makePool(TransferDirection::Upload)), transferSettings_(TransferSettings::load())
{
    applyTransferSettings(transferSettings_);
    setIdleInterval(idleTransferMs());
    connect(&connectionCheck_, &QTimer::timeout, this, &Session::checkCommandConnection);
    connect(&keepAlive_, &QTimer::timeout, this, &Session::keepSessionAlive);
}

// Nothing is said to the servers: an open session simply ends with the process. Each
// engine is closed first so that its worker's running job returns at once; running
// transfer workers hold their own engines.
Session::~Session()
{
    connectionCheck_.stop();
    keepAlive_.stop();
    dropQuestions();
    if (dialing_)
        cancelDialing();
    retire(std::move(command_));
    for (auto &engine : takeTransferEngines())
        retire(std::move(engine));
    retired_.closeAll();
}

std::shared_ptr<FTP> Session::ftp() const
{
    return command_ ? command_->ftp : nullptr;
}

std::shared_ptr<FTP> Session::dataTransfertIn() const
{
    const SessionEngine *first = in_->first();
    return first ? first->ftp : nullptr;
}

std::shared_ptr<FTP> Session::dataTransfertOut() const
{
    const SessionEngine *first = out_->first();
    return first ? first->ftp : nullptr;
}

bool Session::isConnected() const
{
    const std::shared_ptr<FTP> command = ftp();
    return command && command->isConnected();
}

SessionEngine *Session::transferEngine(TransferDirection direction) const
{
    return pool(direction).first();
}

void Session::getParametersOfConnection()
{
    // Connect pressed while a certificate question is open: that connect is given up.
    dropQuestions();
    if (dialing_) {
        // A second press while the logins are on their way stops them.
        zlog("Connexion annulee");
        cancelDialing();
        window()->setDisconnected();
        window()->tellUser(tr("Connection cancelled."));
        return;
    }
    // Dropping the previous dialog controller closes its panel, if it is still open.
    params = std::make_unique<ParametersWindowController>(app_);
    window()->setDialing();
    params->showWindow();
}

namespace {

// What a server text names, a text that is no valid one being taken for a host name.
ServerAddress serverNamed(const QString &text)
{
    if (const auto parsed = ServerAddress::parse(text))
        return *parsed;
    ServerAddress server;
    server.host = text;
    return server;
}

// The answer of a login whose job failed on its worker (it threw): nothing was reached.
Session::Login failedLogin()
{
    Session::Login login;
    login.failure = Session::Login::Failure::Unreachable;
    login.reason = QStringLiteral("erreur interne");
    return login;
}

} // namespace

QString Session::serverKey(const QString &text)
{
    const ServerAddress server = serverNamed(text);
    return CertificateStore::key(server.host, server.port);
}

void Session::connectWithAddress(const QString &address, const QString &login,
                                    const QString &password)
{
    dial(Typed{address, login, password}, false);
}

void Session::dial(const Typed &typed, bool clearAgreed)
{
    if (dialing_)
        cancelDialing();
    dropQuestions();
    dialing_ = std::make_unique<Dialing>();
    dialing_->serial = ++dialingSerial_;
    dialing_->typed = typed;
    window()->setDialing();
    window()->tellUser(tr("Connecting to %1...").arg(typed.address));
    // A bare host asks for TLS; the password goes in clear only when the user agreed. Then
    // the first engine decides alone how the session is protected, and the other two need
    // at least that: none of them falls back to clear after another had TLS. Otherwise no
    // engine can log in in clear, and the three dial side by side.
    const bool bare = serverNamed(typed.address).security == ServerAddress::Security::Opportunistic;
    dialing_->policy.clearAllowed =
        !bare || clearAgreed || (certificates_ && certificates_->clearAllowed(serverKey(typed.address)));
    dialing_->firstAlone = bare && dialing_->policy.clearAllowed;
    for (int which = 0; which < (dialing_->firstAlone ? 1 : 3); ++which)
        dialEngine(which, dialing_->policy);
}

void Session::dialEngine(int which, ProtectionPolicy policy)
{
    auto engine = std::make_unique<SessionEngine>();
    // The transfer engines share their direction's speed limit with the pool's other members.
    const std::shared_ptr<FTP> made = FTP::create(
        which == 0 ? engineSettings_
                   : transferEngineSettings(which == 1 ? TransferDirection::Download : TransferDirection::Upload));
    dialing_->made[which] = made;
    engine->worker.run([made, typed = dialing_->typed,
                        policy] { return logIn(made, typed.address, typed.login, typed.password, policy); },
                       this, [this, attempt = dialing_->serial, which](Login result) {
                           loginDone(attempt, which, std::move(result));
                       },
                       failedLogin());
    dialing_->engines[which] = std::move(engine);
}

void Session::loginDone(quint64 attempt, int which, Login result)
{
    if (!dialing_ || dialing_->serial != attempt) {
        // A connect given up meanwhile: what it made is of no use.
        if (result.ftp)
            result.ftp->close();
        return;
    }
    if (result.failure == LoginFailure::Certificate) {
        // The first of the three logins to meet the certificate asks; the attempt, and
        // the other two with it, is given up meanwhile and made again once it is trusted.
        result.ftp.reset();
        askAboutCertificate(*result.certificate);
        return;
    }
    // Only the first engine to decide may bring the question: once another engine of the
    // attempt had TLS, a refusal is someone in the way, not a server without TLS.
    if (result.failure == LoginFailure::ClearNotAgreed && !(dialing_->engines[0] && dialing_->engines[0]->ftp)) {
        result.ftp.reset();
        askAboutClear();
        return;
    }
    if (result.failure != LoginFailure::None) {
        zlog("Exception recue dans connectWithAddress ==> %@", result.reason);
        const QString &address = dialing_->typed.address;
        // Refused TLS by one connection though another one had it.
        const QString tampering = tr("%1 refused TLS on one connection after accepting it on another: someone may be "
                                     "tampering with the connection. Nothing was sent in clear.")
                                      .arg(address);
        QString why;
        switch (result.failure) {
        case LoginFailure::Unreachable:
            why = tr("Could not reach %1: %2").arg(address, result.reason);
            break;
        case LoginFailure::Refused:
            why = tr("%1 refused the login or the password.").arg(address);
            break;
        case LoginFailure::NoTls:
            why = serverNamed(address).security == ServerAddress::Security::ExplicitTls
                ? tr("%1 does not offer TLS, which ftpes:// requires.").arg(address)
                : tampering;
            break;
        case LoginFailure::ClearNotAgreed:
            why = tampering;
            break;
        case LoginFailure::DataNotProtected:
            why = tr("%1 refused to encrypt the data connections (PROT P), so the session was closed.")
                      .arg(address);
            break;
        default:
            why = tr("%1 does not answer as an FTP server.").arg(address);
            break;
        }
        if (result.ftp)
            result.ftp->close();
        dialingFailed(why);
        return;
    }
    dialing_->engines[which]->ftp = std::move(result.ftp);
    if (which == 0 && dialing_->firstAlone) {
        // The session's protection is decided: TLS now is TLS on every engine.
        ProtectionPolicy others = dialing_->policy;
        others.required = dialing_->engines[0]->ftp->protection();
        dialEngine(1, others);
        dialEngine(2, others);
    }
    if (++dialing_->loggedIn == 3)
        sessionMade();
}

void Session::sessionMade()
{
    const std::unique_ptr<Dialing> made = std::move(dialing_);
    retire(std::exchange(command_, std::move(made->engines[0])));
    in_->open(std::move(made->engines[1]));
    out_->open(std::move(made->engines[2]));
    limitTold_ = false;
    server_ = made->typed.address;
    login_ = made->typed.login;
    password_ = made->typed.password;
    // An engine made again for a transfer has at least what the session had.
    sessionPolicy_ = made->policy;
    sessionPolicy_.required = command_->ftp->protection();
    window()->tellUser(QString());
    window()->setConnected();
    showSecurity();
    connectionCheck_.start(kConnectionCheckMs);
    if (const int interval = keepAliveMs(); interval > 0)
        keepAlive_.start(interval);
    Q_EMIT opened(server_ + QLatin1Char('\n') + login_);
    if (SiteActions *sites = app_.siteActions())
        sites->sessionOpened(server_, login_, password_);
}

void Session::cancelDialing()
{
    const std::unique_ptr<Dialing> attempt = std::move(dialing_);
    // Logins still on their way are given up now rather than at their time-out.
    for (const auto &made : attempt->made)
        if (made)
            made->giveUp();
    for (auto &engine : attempt->engines) {
        if (engine && engine->ftp)
            engine->ftp->close();
        retire(std::move(engine));
    }
}

void Session::dialingFailed(const QString &why)
{
    const Typed typed = dialing_->typed;
    cancelDialing();
    connectFailed(typed, why);
}

void Session::connectFailed(const Typed &typed, const QString &why)
{
    zlog("Connexion impossible : %@", why);
    window()->tellUser(why);
    // The dialog again, with what was typed, so that one field can be corrected.
    params = std::make_unique<ParametersWindowController>(app_);
    window()->setDialing();
    params->showWindow();
    params->window()->server()->setEditText(typed.address);
    params->setLogin(typed.login, typed.password);
}

void Session::endSession(SessionEngine &engine)
{
    if (engine.ftp)
        engine.ftp->endSession();
    if (engine.replacement)
        engine.replacement->giveUp();
}

void Session::disconnectFromFTP()
{
    zlog("On se deconnecte\n");
    connectionCheck_.stop();
    keepAlive_.stop();
    // QUIT on each engine's worker, after what it is doing; the window does not wait.
    // Nothing connects for this session any more: a session the server closed stays closed.
    std::vector<std::unique_ptr<SessionEngine>> engines = takeTransferEngines();
    if (command_) {
        endSession(*command_);
        command_->worker.dropPending();
        if (command_->ftp)
            command_->worker.post([ftp = command_->ftp] { ftp->shutdown(); });
    }
    for (const auto &engine : engines) {
        endSession(*engine);
        engine->worker.dropPending();
        if (engine->ftp) {
            engine->worker.post([ftp = engine->ftp] { ftp->shutdown(); });
            // A running transfer stops now rather than after its last byte.
            engine->ftp->cancelTransfer();
        }
    }
    retired_.retire(std::move(command_));
    for (auto &engine : engines)
        retired_.retire(std::move(engine), true);
    window()->setDisconnected();
    showSecurity();
    Q_EMIT closed();
    zlog("FTP closed\n");
}

void Session::disconnectRemote()
{
    zlog("disconnectRemote");
    connectionCheck_.stop();
    keepAlive_.stop();
    // The engines are left alone: a transfer already running goes on to its end, and its
    // notifications find empty queues.
    window()->setDisconnected();
    window()->window()->showSecurity(MainWindow::Security::NoSession);
    Q_EMIT lost();
}

void Session::commandConnectionLost(const char *where)
{
    // Only once per session: the window may already show it disconnected.
    if (!window() || window()->connectionState() != MainWindowController::ConnectionState::Connected)
        return;
    zlog("Connexion au serveur perdue (%@) : session fermee", where);
    window()->tellUser(tr("The connection to the server was lost."));
    disconnectRemote();
}

void Session::checkCommandConnection()
{
    if (!command_ || !command_->ftp || command_->worker.busy())
        return;
    const quint64 id = command_->id();
    // A session the server closed while idle (its time-out) is not lost: the next action
    // opens it again, and only a failure then is told.
    command_->worker.run([ftp = command_->ftp] { return ftp->checkControlConnection() || ftp->reopensWhenUsed(); },
                         this,
                         [this, id](bool alive) {
                             if (!alive && currentEngine(id))
                                 commandConnectionLost("verification de la connexion");
                         });
}

SessionEngine *Session::currentEngine(quint64 id) const
{
    if (id == 0)
        return nullptr;
    if (command_ && command_->id() == id)
        return command_.get();
    if (SessionEngine *engine = in_->find(id))
        return engine;
    return out_->find(id);
}

quint64 Session::listRemote(const QString &path, AppContext::ListingDone done)
{
    if (!command_ || !command_->ftp) {
        QMetaObject::invokeMethod(this, [done = std::move(done)] { done(std::nullopt); }, Qt::QueuedConnection);
        return ++requestSerial_;
    }
    const quint64 id = command_->id();
    command_->worker.run(
        [ftp = command_->ftp, path]() -> std::pair<std::optional<QList<File>>, bool> {
            if (!ftp->isConnected())
                return {std::nullopt, false};
            auto entries = ftp->list(path);
            return {std::move(entries), ftp->isConnected()};
        },
        this, [this, id, ftp = command_->ftp, done = std::move(done)](std::pair<std::optional<QList<File>>, bool> result) {
            // An engine the session no longer uses: its answer no longer matters.
            if (!currentEngine(id))
                return;
            done(result.first);
            if (!result.second && currentEngine(id))
                commandConnectionLost("listing");
            reconnected(ftp);
        });
    return ++requestSerial_;
}

quint64 Session::remoteCommand(const QString &word, const QString &param, AppContext::CommandDone done)
{
    if (!command_ || !command_->ftp) {
        QMetaObject::invokeMethod(this, [done = std::move(done)] { done(-1); }, Qt::QueuedConnection);
        return ++requestSerial_;
    }
    const quint64 id = command_->id();
    command_->worker.run(
        [ftp = command_->ftp, word, param]() -> std::pair<int, bool> {
            const int code = ftp->command(word, param);
            return {code, ftp->isConnected()};
        },
        this, [this, id, ftp = command_->ftp, done = std::move(done)](std::pair<int, bool> result) {
            if (!currentEngine(id))
                return;
            done(result.first);
            if (!result.second && currentEngine(id))
                commandConnectionLost("commande");
            reconnected(ftp);
        },
        std::pair{-1, false});
    return ++requestSerial_;
}

quint64 Session::remoteRename(const QString &from, const QString &to, AppContext::RenameDone done)
{
    if (!command_ || !command_->ftp) {
        QMetaObject::invokeMethod(this, [done = std::move(done)] { done({}); }, Qt::QueuedConnection);
        return ++requestSerial_;
    }
    const quint64 id = command_->id();
    // Both commands in one job: no other request of the session may come between them.
    command_->worker.run(
        [ftp = command_->ftp, from, to]() -> std::pair<AppContext::RenameReplies, bool> {
            AppContext::RenameReplies replies;
            replies.from = ftp->command(QStringLiteral("RNFR"), from);
            if (replies.from == 350)
                replies.to = ftp->command(QStringLiteral("RNTO"), to);
            return {replies, ftp->isConnected()};
        },
        this, [this, id, ftp = command_->ftp, done = std::move(done)](std::pair<AppContext::RenameReplies, bool> result) {
            if (!currentEngine(id))
                return;
            done(result.first);
            if (!result.second && currentEngine(id))
                commandConnectionLost("commande");
            reconnected(ftp);
        },
        std::pair{AppContext::RenameReplies{}, false});
    return ++requestSerial_;
}

void Session::applyTransferSettings(const TransferSettings &settings)
{
    transferSettings_ = settings;
    downloadLimit_->setRate(settings.downloadLimit);
    uploadLimit_->setRate(settings.uploadLimit);
    in_->setConnections(settings.connections);
    out_->setConnections(settings.connections);
    Q_EMIT transferSettingsApplied();
}

void Session::keepSessionAlive()
{
    std::vector<SessionEngine *> engines = in_->members();
    for (SessionEngine *engine : out_->members())
        engines.push_back(engine);
    engines.push_back(command_.get());
    for (SessionEngine *engine : engines)
        if (engine && engine->ftp && !engine->worker.busy())
            engine->worker.post([ftp = engine->ftp] { ftp->keepAlive(); });
}

void Session::retire(std::unique_ptr<SessionEngine> engine, bool transfers)
{
    // What was asked of an engine no longer used need not run; QUIT is queued after this.
    if (engine)
        engine->worker.dropPending();
    retired_.retire(std::move(engine), transfers);
}

Session::Login Session::logIn(std::shared_ptr<FTP> engine, const QString &address, const QString &user,
                                    const QString &password, ProtectionPolicy policy)
{
    Login result;
    try {
        FTP::connectInto(engine, address, user, password, policy);
        result.reply = engine->loginReply();
        result.ftp = std::move(engine);
        if (result.ftp->isConnected())
            return result;
        const FTP::SecurityFailure security = result.ftp->securityFailure();
        if (security == FTP::SecurityFailure::ClearNotAllowed) {
            result.failure = LoginFailure::ClearNotAgreed;
            result.reason = QStringLiteral("AUTH TLS refuse, pas d'accord pour le mot de passe en clair");
        } else if (security == FTP::SecurityFailure::DataProtectionRefused) {
            result.failure = LoginFailure::DataNotProtected;
            result.reason = QStringLiteral("PROT P refuse");
        } else if (auto refusal = result.ftp->certificateRefusal()) {
            result.failure = LoginFailure::Certificate;
            result.reason = QStringLiteral("certificat non accepte");
            result.certificate = std::move(refusal);
        } else if (result.ftp->loginRefused()) {
            result.failure = LoginFailure::Refused;
            result.reason = QStringLiteral("identification refusee");
        } else {
            result.failure = LoginFailure::NotFtp;
            result.reason = QStringLiteral("pas de reponse FTP");
        }
    } catch (const NetworkException &e) {
        const bool noTls = engine && engine->securityFailure() == FTP::SecurityFailure::TlsRefused;
        result.failure = noTls ? LoginFailure::NoTls : LoginFailure::Unreachable;
        result.reason = e.reason();
    }
    return result;
}

} // namespace zodaru
