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
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindow.h"
#include "ui/ParametersWindowController.h"

#include <QComboBox>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QSettings>
#include <QStandardPaths>

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
    const QSettings settings(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                 + QStringLiteral("/Zodaru/Zodaru.conf"),
                             QSettings::IniFormat);
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
    dropCertificateQuestion();
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
    dropCertificateQuestion();
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

void MyDelegate::connectWithAddress(const QString &address, const QString &login,
                                    const QString &password)
{
    if (dialing_)
        cancelDialing();
    dropCertificateQuestion();
    dialing_ = std::make_unique<Dialing>();
    dialing_->serial = ++dialingSerial_;
    dialing_->typed = Typed{address, login, password};
    myWindow->setDialing();
    myWindow->tellUser(tr("Connecting to %1...").arg(address));
    for (int which = 0; which < 3; ++which) {
        auto engine = newEngine();
        const std::shared_ptr<FTP> made = FTP::create();
        dialing_->made[which] = made;
        engine->worker.run([made, address, login, password] { return logIn(made, address, login, password); },
                           this, [this, attempt = dialing_->serial, which](Login result) {
                               loginDone(attempt, which, std::move(result));
                           });
        dialing_->engines[which] = std::move(engine);
    }
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
    if (result.failure != LoginFailure::None) {
        zlog("Exception recue dans connectWithAddress ==> %@", result.reason);
        const QString &address = dialing_->typed.address;
        QString why;
        switch (result.failure) {
        case LoginFailure::Unreachable:
            why = tr("Could not reach %1: %2").arg(address, result.reason);
            break;
        case LoginFailure::Refused:
            why = tr("%1 refused the login or the password.").arg(address);
            break;
        case LoginFailure::NoTls:
            why = tr("%1 does not offer TLS, which ftpes:// requires.").arg(address);
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
    if (++dialing_->loggedIn < 3)
        return;

    const std::unique_ptr<Dialing> made = std::move(dialing_);
    retire(std::exchange(command_, std::move(made->engines[0])));
    retire(std::exchange(in_, std::move(made->engines[1])), true);
    retire(std::exchange(out_, std::move(made->engines[2])), true);
    server_ = made->typed.address;
    login_ = made->typed.login;
    password_ = made->typed.password;
    myWindow->tellUser(QString());
    myWindow->setConnected();
    showSecurity();
    connectionCheck_.start(kConnectionCheckMs);
    if (const int interval = keepAliveMs(); interval > 0)
        keepAlive_.start(interval);
    switchQueuesTo(server_ + QLatin1Char('\n') + login_);
    downloadFiles();
    uploadFiles();
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
    auto *dialog = new CertificateDialog(refusal.server, refusal.peer, changed, myWindow->window());
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

void MyDelegate::dropCertificateQuestion()
{
    // Its answer no longer matters: the connect it was about is given up.
    if (const QPointer<CertificateDialog> dialog = std::exchange(certificateDialog_, nullptr)) {
        dialog->disconnect(this);
        dialog->close();
        dialog->deleteLater();
    }
}

void MyDelegate::showSecurity()
{
    const std::shared_ptr<FTP> command = ftp();
    if (!command)
        myWindow->window()->showSecurity(MainWindow::Security::NoSession);
    else if (command->isEncrypted())
        myWindow->window()->showSecurity(MainWindow::Security::Encrypted, command->tlsDescription());
    else
        myWindow->window()->showSecurity(MainWindow::Security::Clear);
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
        this, [this, serial, done = std::move(done)](std::pair<std::optional<QList<File>>, bool> result) {
            // An engine the session no longer uses: its answer no longer matters.
            if (!currentEngine(serial))
                return;
            done(result.first);
            if (!result.second && currentEngine(serial))
                commandConnectionLost("listing");
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
        this, [this, serial, done = std::move(done)](std::pair<int, bool> result) {
            if (!currentEngine(serial))
                return;
            done(result.first);
            if (!result.second && currentEngine(serial))
                commandConnectionLost("commande");
        });
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
                                    const QString &password)
{
    MyDelegate::Login result;
    try {
        FTP::connectInto(engine, address, user, password);
        result.ftp = std::move(engine);
        if (result.ftp->isConnected())
            return result;
        if (auto refusal = result.ftp->certificateRefusal()) {
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
        // The engine's word for a server that refused the TLS that "ftpes://" requires.
        const bool noTls = e.reason().startsWith(QLatin1String("AUTH TLS"));
        result.failure = noTls ? LoginFailure::NoTls : LoginFailure::Unreachable;
        result.reason = e.reason();
    }
    return result;
}

} // namespace zodaru
