// SPDX-License-Identifier: GPL-3.0-or-later
// The session side of the application controller: the connection dialog, opening the three
// engines side by side, the command engine's requests, closing the session.
#include "app/MyDelegate.h"

#include "app/RetiredEngines.h"
#include "app/SessionEngine.h"
#include "app/TransferQueue.h"
#include "app/TrustedCertificates.h"
#include "ftp/FTP.h"
#include "base/Log.h"
#include "ftp/NotificationCenter.h"
#include "ftp/ServerAddress.h"
#include "model/SiteSettings.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindow.h"
#include "ui/ParametersWindowController.h"
#include "ui/SiteActions.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
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

} // namespace

using LoginFailure = MyDelegate::Login::Failure;

// Nothing is said to the servers: an open session simply ends with the process. Each
// engine is closed first so that its worker's running job returns at once; running
// transfer workers hold their own engines.
MyDelegate::~MyDelegate()
{
    connectionCheck_.stop();
    keepAlive_.stop();
    dropQuestions();
    if (dialing_)
        cancelDialing();
    for (auto *slot : {&command_, &in_, &out_})
        retire(std::move(*slot));
    retired_->closeAll();
}

void MyDelegate::getParametersOfConnection()
{
    countBookmarks();
    // Connect pressed while a certificate question is open: that connect is given up.
    dropQuestions();
    if (dialing_) {
        // A second press while the logins are on their way stops them.
        zlog("Connexion annulee");
        cancelDialing();
        myWindow->setDisconnected();
        myWindow->tellUser(tr("Connection cancelled."));
        return;
    }
    // Dropping the previous dialog controller closes its panel, if it is still open.
    params = std::make_unique<ParametersWindowController>(*this);
    myWindow->setDialing();
    params->showWindow();
}

std::unique_ptr<SessionEngine> MyDelegate::newEngine()
{
    return std::make_unique<SessionEngine>(++engineSerial_);
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
MyDelegate::Login failedLogin()
{
    MyDelegate::Login login;
    login.failure = MyDelegate::Login::Failure::Unreachable;
    login.reason = QStringLiteral("erreur interne");
    return login;
}

QString serverKey(const QString &text)
{
    const ServerAddress server = serverNamed(text);
    return CertificateStore::key(server.host, server.port);
}

} // namespace

void MyDelegate::connectWithAddress(const QString &address, const QString &login,
                                    const QString &password)
{
    dial(Typed{address, login, password}, false);
}

void MyDelegate::dial(const Typed &typed, bool clearAgreed)
{
    if (dialing_)
        cancelDialing();
    dropQuestions();
    dialing_ = std::make_unique<Dialing>();
    dialing_->serial = ++dialingSerial_;
    dialing_->typed = typed;
    myWindow->setDialing();
    myWindow->tellUser(tr("Connecting to %1...").arg(typed.address));
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

void MyDelegate::dialEngine(int which, ProtectionPolicy policy)
{
    auto engine = newEngine();
    const std::shared_ptr<FTP> made = FTP::create();
    dialing_->made[which] = made;
    engine->worker.run([made, typed = dialing_->typed,
                        policy] { return logIn(made, typed.address, typed.login, typed.password, policy); },
                       this, [this, attempt = dialing_->serial, which](Login result) {
                           loginDone(attempt, which, std::move(result));
                       },
                       failedLogin());
    dialing_->engines[which] = std::move(engine);
}

void MyDelegate::loginDone(quint64 attempt, int which, Login result)
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
    if (++dialing_->loggedIn < 3)
        return;

    const std::unique_ptr<Dialing> made = std::move(dialing_);
    retire(std::exchange(command_, std::move(made->engines[0])));
    retire(std::exchange(in_, std::move(made->engines[1])), true);
    retire(std::exchange(out_, std::move(made->engines[2])), true);
    server_ = made->typed.address;
    login_ = made->typed.login;
    password_ = made->typed.password;
    // An engine made again for a transfer has at least what the session had.
    sessionPolicy_ = made->policy;
    sessionPolicy_.required = command_->ftp->protection();
    myWindow->tellUser(QString());
    myWindow->setConnected();
    showSecurity();
    connectionCheck_.start(kConnectionCheckMs);
    if (const int interval = keepAliveMs(); interval > 0)
        keepAlive_.start(interval);
    switchQueuesTo(server_ + QLatin1Char('\n') + login_);
    downloadFiles();
    uploadFiles();
    if (siteActions_)
        siteActions_->sessionOpened(server_, login_, password_);
}

void MyDelegate::cancelDialing()
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

void MyDelegate::dialingFailed(const QString &why)
{
    const Typed typed = dialing_->typed;
    cancelDialing();
    connectFailed(typed, why);
}

void MyDelegate::connectFailed(const Typed &typed, const QString &why)
{
    zlog("Connexion impossible : %@", why);
    myWindow->tellUser(why);
    // The dialog again, with what was typed, so that one field can be corrected.
    params = std::make_unique<ParametersWindowController>(*this);
    myWindow->setDialing();
    params->showWindow();
    params->window()->server()->setEditText(typed.address);
    params->setLogin(typed.login, typed.password);
}

void MyDelegate::checkCertificates()
{
    certificates_ = std::make_shared<TrustedCertificates>(CertificateStore::defaultPath());
    // The check holds the store: an engine still connecting when the program ends never
    // asks a store that is gone.
    FTP::setCertificateCheck([store = certificates_](const QString &server, const TlsPeer &peer) {
        return store->verdict(server, peer);
    });
}

void MyDelegate::askAboutCertificate(const FTP::CertificateRefusal &refusal)
{
    const Typed typed = dialing_->typed;
    cancelDialing();
    const bool changed = refusal.verdict == CertificateVerdict::Changed;
    zlog(changed ? "Certificat change pour %@ : %@" : "Certificat non verifie pour %@ : %@", refusal.server,
         refusal.peer.verifyError);
    myWindow->tellUser(changed ? tr("The certificate of %1 has changed.").arg(typed.address)
                               : tr("The certificate of %1 could not be verified.").arg(typed.address));
    const QByteArray before = changed ? certificates_->trustedFingerprint(refusal.server).value_or(QByteArray())
                                      : QByteArray();
    auto *dialog = new CertificateDialog(refusal.server, refusal.peer, changed, myWindow->window(), before);
    certificateDialog_ = dialog;
    connect(dialog, &CertificateDialog::chosen, this, [this, dialog, typed, refusal](CertificateDialog::Choice choice) {
        certificateDialog_ = nullptr;
        dialog->deleteLater();
        certificateChosen(typed, refusal, choice);
    });
    dialog->open();
}

void MyDelegate::certificateChosen(const Typed &typed, const FTP::CertificateRefusal &refusal,
                                   CertificateDialog::Choice choice)
{
    const QByteArray &fingerprint = refusal.peer.certificate.sha256;
    switch (choice) {
    case CertificateDialog::Choice::Cancel:
        zlog("Certificat refuse pour %@", refusal.server);
        connectFailed(typed, tr("The certificate of %1 was not trusted.").arg(typed.address));
        return;
    case CertificateDialog::Choice::TrustOnce:
        zlog("Certificat accepte pour cette fois pour %@", refusal.server);
        certificates_->trustOnce(refusal.server, fingerprint);
        break;
    case CertificateDialog::Choice::TrustAlways: {
        zlog("Certificat accepte pour toujours pour %@", refusal.server);
        QString error;
        if (!certificates_->trustAlways(refusal.server, fingerprint, &error)) {
            zlog("Impossible d'enregistrer le certificat : %@", error);
            auto *box = new QMessageBox(QMessageBox::Warning, tr("Certificate"),
                                        tr("The certificate could not be saved (%1). It is trusted "
                                           "until the program ends.")
                                            .arg(error),
                                        QMessageBox::Ok, myWindow->window());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        break;
    }
    }
    connectWithAddress(typed.address, typed.login, typed.password);
}

void MyDelegate::askAboutClear()
{
    const Typed typed = dialing_->typed;
    cancelDialing();
    const QString server = serverKey(typed.address);
    zlog("Le serveur %@ refuse AUTH TLS : on demande avant d'envoyer le mot de passe en clair", server);
    myWindow->tellUser(tr("%1 does not support encryption.").arg(typed.address));
    auto *dialog = new ClearPasswordDialog(server, myWindow->window());
    clearDialog_ = dialog;
    connect(dialog, &ClearPasswordDialog::chosen, this, [this, dialog, typed, server](bool clear, bool always) {
        clearDialog_ = nullptr;
        dialog->deleteLater();
        clearChosen(typed, server, clear, always);
    });
    dialog->open();
}

void MyDelegate::clearChosen(const Typed &typed, const QString &server, bool clear, bool always)
{
    if (!clear) {
        zlog("Connexion en clair refusee pour %@", server);
        connectFailed(typed, tr("The password was not sent in clear to %1.").arg(typed.address));
        return;
    }
    zlog(always ? "Connexion en clair acceptee pour toujours pour %@" : "Connexion en clair acceptee pour %@", server);
    QString error;
    if (always && !certificates_->allowClearAlways(server, &error))
        zlog("Impossible d'enregistrer le choix : %@", error);
    dial(typed, true);
}

void MyDelegate::dropQuestions()
{
    // Their answers no longer matter: the connect they were about is given up.
    if (const QPointer<CertificateDialog> dialog = std::exchange(certificateDialog_, nullptr)) {
        dialog->disconnect(this);
        dialog->close();
        dialog->deleteLater();
    }
    if (const QPointer<ClearPasswordDialog> dialog = std::exchange(clearDialog_, nullptr)) {
        dialog->disconnect(this);
        dialog->close();
        dialog->deleteLater();
    }
}

void MyDelegate::showSecurity()
{
    const std::shared_ptr<FTP> command = ftp();
    if (!command || myWindow->connectionState() != MainWindowController::ConnectionState::Connected) {
        myWindow->window()->showSecurity(MainWindow::Security::NoSession);
        return;
    }
    // One engine in clear is a session whose files or password may travel in clear.
    for (const auto *slot : {&command_, &in_, &out_}) {
        if (*slot && (*slot)->ftp && (*slot)->ftp->protection() == Protection::Clear) {
            myWindow->window()->showSecurity(MainWindow::Security::Clear);
            return;
        }
    }
    myWindow->window()->showSecurity(MainWindow::Security::Encrypted, command->tlsDescription());
}

void MyDelegate::reconnected(const std::shared_ptr<FTP> &engine)
{
    // An engine may have opened its session again meanwhile, with another TLS session.
    showSecurity();
    if (engine && engine->securityFailure() == FTP::SecurityFailure::TlsRefused)
        myWindow->tellUser(tr("The server refused TLS when the connection was made again: it was closed, "
                              "nothing was sent in clear."));
}

void MyDelegate::endSession(SessionEngine &engine)
{
    if (engine.ftp)
        engine.ftp->endSession();
    if (engine.replacement)
        engine.replacement->giveUp();
}

void MyDelegate::disconnectFromFTP()
{
    zlog("On se deconnecte\n");
    connectionCheck_.stop();
    keepAlive_.stop();
    // QUIT on each engine's worker, after what it is doing; the window does not wait.
    // Nothing connects for this session any more: a session the server closed stays closed.
    for (auto *slot : {&command_, &in_, &out_}) {
        if (!*slot)
            continue;
        endSession(**slot);
        (*slot)->worker.dropPending();
        if ((*slot)->ftp)
            (*slot)->worker.post([ftp = (*slot)->ftp] { ftp->shutdown(); });
    }
    // A running transfer stops now rather than after its last byte.
    for (auto *slot : {&in_, &out_})
        if (*slot && (*slot)->ftp)
            (*slot)->ftp->cancelTransfer();
    for (auto *slot : {&command_, &in_, &out_})
        retired_->retire(std::move(*slot), slot != &command_);
    myWindow->setDisconnected();
    showSecurity();
    holdQueues();
    myWindow->refreshUploadTable();
    myWindow->refreshDownloadTable();
    zlog("FTP closed\n");
}

void MyDelegate::disconnectRemote()
{
    zlog("disconnectRemote");
    connectionCheck_.stop();
    keepAlive_.stop();
    // The engines are left alone: a transfer already running goes on to its end, and its
    // notifications find empty queues.
    myWindow->setDisconnected();
    myWindow->window()->showSecurity(MainWindow::Security::NoSession);
    downloads_->clear();
    uploads_->clear();
    myWindow->refreshUploadTable();
    myWindow->refreshDownloadTable();
}

void MyDelegate::commandConnectionLost(const char *where)
{
    // Only once per session: the window may already show it disconnected.
    if (!myWindow || myWindow->connectionState() != MainWindowController::ConnectionState::Connected)
        return;
    zlog("Connexion au serveur perdue (%@) : session fermee", where);
    myWindow->tellUser(tr("The connection to the server was lost."));
    disconnectRemote();
}

void MyDelegate::checkCommandConnection()
{
    if (!command_ || !command_->ftp || command_->worker.busy())
        return;
    const quint64 serial = command_->serial;
    // A session the server closed while idle (its time-out) is not lost: the next action
    // opens it again, and only a failure then is told.
    command_->worker.run([ftp = command_->ftp] { return ftp->checkControlConnection() || ftp->reopensWhenUsed(); },
                         this,
                         [this, serial](bool alive) {
                             if (!alive && currentEngine(serial))
                                 commandConnectionLost("verification de la connexion");
                         });
}

SessionEngine *MyDelegate::currentEngine(quint64 serial) const
{
    for (const auto *slot : {&command_, &in_, &out_})
        if (*slot && (*slot)->serial == serial)
            return slot->get();
    return nullptr;
}

quint64 MyDelegate::listRemote(const QString &path, ListingDone done)
{
    if (!command_ || !command_->ftp) {
        QMetaObject::invokeMethod(this, [done = std::move(done)] { done(std::nullopt); }, Qt::QueuedConnection);
        return ++requestSerial_;
    }
    const quint64 serial = command_->serial;
    command_->worker.run(
        [ftp = command_->ftp, path]() -> std::pair<std::optional<QList<File>>, bool> {
            if (!ftp->isConnected())
                return {std::nullopt, false};
            auto entries = ftp->list(path);
            return {std::move(entries), ftp->isConnected()};
        },
        this, [this, serial, ftp = command_->ftp, done = std::move(done)](std::pair<std::optional<QList<File>>, bool> result) {
            // An engine the session no longer uses: its answer no longer matters.
            if (!currentEngine(serial))
                return;
            done(result.first);
            if (!result.second && currentEngine(serial))
                commandConnectionLost("listing");
            reconnected(ftp);
        });
    return ++requestSerial_;
}

quint64 MyDelegate::remoteCommand(const QString &word, const QString &param, CommandDone done)
{
    if (!command_ || !command_->ftp) {
        QMetaObject::invokeMethod(this, [done = std::move(done)] { done(-1); }, Qt::QueuedConnection);
        return ++requestSerial_;
    }
    const quint64 serial = command_->serial;
    command_->worker.run(
        [ftp = command_->ftp, word, param]() -> std::pair<int, bool> {
            const int code = ftp->command(word, param);
            return {code, ftp->isConnected()};
        },
        this, [this, serial, ftp = command_->ftp, done = std::move(done)](std::pair<int, bool> result) {
            if (!currentEngine(serial))
                return;
            done(result.first);
            if (!result.second && currentEngine(serial))
                commandConnectionLost("commande");
            reconnected(ftp);
        },
        std::pair{-1, false});
    return ++requestSerial_;
}

void MyDelegate::holdQueues()
{
    downloads_->holdUnfinished();
    uploads_->holdUnfinished();
}

void MyDelegate::switchQueuesTo(const QString &site)
{
    if (site == queueSite_)
        return;
    // Set aside rather than dropped or started on a server they were not meant for.
    holdQueues();
    if (!downloads_->entries().isEmpty() || !uploads_->entries().isEmpty()) {
        zlog("Transferts en attente mis de cote pour %@", queueSite_.section(QLatin1Char('\n'), 0, 0));
        held_.insert(queueSite_, HeldTransfers{downloads_->entries(), uploads_->entries()});
    }
    downloads_->clear();
    uploads_->clear();
    const HeldTransfers back = held_.take(site);
    for (const File &entry : back.downloads)
        downloads_->append(entry);
    for (const File &entry : back.uploads)
        uploads_->append(entry);
    queueSite_ = site;
    myWindow->refreshUploadTable();
    myWindow->refreshDownloadTable();
}

void MyDelegate::keepSessionAlive()
{
    for (auto *slot : {&command_, &in_, &out_})
        if (*slot && (*slot)->ftp && !(*slot)->worker.busy())
            (*slot)->worker.post([ftp = (*slot)->ftp] { ftp->keepAlive(); });
}

void MyDelegate::retire(std::unique_ptr<SessionEngine> engine, bool transfers)
{
    // What was asked of an engine no longer used need not run; QUIT is queued after this.
    if (engine)
        engine->worker.dropPending();
    retired_->retire(std::move(engine), transfers);
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
    connect(&connectionCheck_, &QTimer::timeout, this, &MyDelegate::checkCommandConnection);
    connect(&keepAlive_, &QTimer::timeout, this, &MyDelegate::keepSessionAlive);
    // Entries held over from a session start once its transfers have ended.
    connect(retired_.get(), &RetiredEngines::transfersEnded, this, [this] {
        downloadFiles();
        uploadFiles();
    });
}

MyDelegate::Login MyDelegate::logIn(std::shared_ptr<FTP> engine, const QString &address, const QString &user,
                                    const QString &password, ProtectionPolicy policy)
{
    MyDelegate::Login result;
    try {
        FTP::connectInto(engine, address, user, password, policy);
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
