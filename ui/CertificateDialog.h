// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/TlsCertificate.h"

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace zodaru {

// Asks the user what to do with a server certificate that could not be verified: it shows
// the server, the certificate's subject, issuer, validity and SHA-256 fingerprint and why
// it did not verify, with a warning on top when it replaces one trusted before for the same
// server, whose fingerprint it then shows beside the new one. Cancel is the default: Return
// and Escape give up. Opened with open(), it never blocks: the answer comes through
// chosen(), once.
class CertificateDialog final : public QDialog {
    Q_OBJECT
public:
    enum class Choice { Cancel, TrustOnce, TrustAlways };

    // `server` is "host:port"; `changed` when the user trusted another certificate for it,
    // whose SHA-256 is `trustedBefore`.
    CertificateDialog(const QString &server, const TlsPeer &peer, bool changed, QWidget *parent = nullptr,
                      const QByteArray &trustedBefore = {});
    ~CertificateDialog() override;
    Q_DISABLE_COPY_MOVE(CertificateDialog)

    QLabel *warning() const { return warning_; } // hidden unless the certificate changed
    QPushButton *cancelButton() const { return cancel_; }
    QPushButton *trustOnceButton() const { return trustOnce_; }
    QPushButton *trustAlwaysButton() const { return trustAlways_; }

    // "from – to", followed by whether the certificate is expired or not yet valid at `now`.
    static QString validityText(const CertificateInfo &certificate, const QDateTime &now);

Q_SIGNALS:
    void chosen(zodaru::CertificateDialog::Choice choice);

private:
    QLabel *warning_ = nullptr;
    QPushButton *cancel_ = nullptr;
    QPushButton *trustOnce_ = nullptr;
    QPushButton *trustAlways_ = nullptr;
};

} // namespace zodaru
