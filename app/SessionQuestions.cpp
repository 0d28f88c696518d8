// SPDX-License-Identifier: GPL-3.0-or-later
// The questions a connect may ask (a certificate not trusted, a password about to go in
// clear) and what the status bar says of the session's protection.
#include "app/Session.h"

#include "app/EnginePool.h"

#include "app/TrustedCertificates.h"
#include "base/Log.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QMessageBox>

#include <utility>

namespace zodaru {

void Session::checkCertificates()
{
    certificates_ = std::make_shared<TrustedCertificates>(CertificateStore::defaultPath());
    // The check holds the store: an engine still connecting when the program ends never
    // asks a store that is gone.
    FTP::setCertificateCheck([store = certificates_](const QString &server, const TlsPeer &peer) {
        return store->verdict(server, peer);
    });
}

void Session::askAboutCertificate(const FTP::CertificateRefusal &refusal)
{
    const Typed typed = dialing_->typed;
    cancelDialing();
    const bool changed = refusal.verdict == CertificateVerdict::Changed;
    zlog(changed ? "Certificat change pour %@ : %@" : "Certificat non verifie pour %@ : %@", refusal.server,
         refusal.peer.verifyError);
    window()->tellUser(changed ? tr("The certificate of %1 has changed.").arg(typed.address)
                               : tr("The certificate of %1 could not be verified.").arg(typed.address));
    const QByteArray before = changed ? certificates_->trustedFingerprint(refusal.server).value_or(QByteArray())
                                      : QByteArray();
    auto *dialog = new CertificateDialog(refusal.server, refusal.peer, changed, window()->window(), before);
    certificateDialog_ = dialog;
    connect(dialog, &CertificateDialog::chosen, this, [this, dialog, typed, refusal](CertificateDialog::Choice choice) {
        certificateDialog_ = nullptr;
        dialog->deleteLater();
        certificateChosen(typed, refusal, choice);
    });
    dialog->open();
}

void Session::certificateChosen(const Typed &typed, const FTP::CertificateRefusal &refusal,
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
                                        QMessageBox::Ok, window()->window());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        }
        break;
    }
    }
    connectWithAddress(typed.address, typed.login, typed.password);
}

void Session::askAboutClear()
{
    const Typed typed = dialing_->typed;
    cancelDialing();
    const QString server = serverKey(typed.address);
    zlog("Le serveur %@ refuse AUTH TLS : on demande avant d'envoyer le mot de passe en clair", server);
    window()->tellUser(tr("%1 does not support encryption.").arg(typed.address));
    auto *dialog = new ClearPasswordDialog(server, window()->window());
    clearDialog_ = dialog;
    connect(dialog, &ClearPasswordDialog::chosen, this, [this, dialog, typed, server](bool clear, bool always) {
        clearDialog_ = nullptr;
        dialog->deleteLater();
        clearChosen(typed, server, clear, always);
    });
    dialog->open();
}

void Session::clearChosen(const Typed &typed, const QString &server, bool clear, bool always)
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

void Session::dropQuestions()
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

void Session::showSecurity()
{
    const std::shared_ptr<FTP> command = ftp();
    if (!command || window()->connectionState() != MainWindowController::ConnectionState::Connected) {
        window()->window()->showSecurity(MainWindow::Security::NoSession);
        return;
    }
    // One engine in clear is a session whose files or password may travel in clear.
    std::vector<SessionEngine *> engines = in_->members();
    for (SessionEngine *engine : out_->members())
        engines.push_back(engine);
    engines.push_back(command_.get());
    for (const SessionEngine *engine : engines) {
        if (engine && engine->ftp && engine->ftp->protection() == Protection::Clear) {
            window()->window()->showSecurity(MainWindow::Security::Clear);
            return;
        }
    }
    window()->window()->showSecurity(MainWindow::Security::Encrypted, command->tlsDescription());
}

void Session::reconnected(const std::shared_ptr<FTP> &engine)
{
    // An engine may have opened its session again meanwhile, with another TLS session.
    showSecurity();
    if (engine && engine->securityFailure() == FTP::SecurityFailure::TlsRefused)
        window()->tellUser(tr("The server refused TLS when the connection was made again: it was closed, "
                              "nothing was sent in clear."));
}

} // namespace zodaru
