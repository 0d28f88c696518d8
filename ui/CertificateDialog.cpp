// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/CertificateDialog.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace zodaru {

namespace {

// The codes done() ends the dialog with; QDialog::Rejected (0) stands for Cancel, so that
// Escape and the close button refuse the certificate.
constexpr int kTrustOnce = 1;
constexpr int kTrustAlways = 2;

QString dateText(const QDateTime &when)
{
    return when.isValid() ? when.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'")) : QStringLiteral("?");
}

QLabel *valueLabel(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    // The fingerprint is compared by hand with one obtained elsewhere: it can be copied.
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

} // namespace

CertificateDialog::CertificateDialog(const QString &server, const TlsPeer &peer, bool changed, QWidget *parent,
                                     const QByteArray &trustedBefore)
    : QDialog(parent)
{
    setWindowTitle(tr("Certificate of %1").arg(server));
    auto *layout = new QVBoxLayout(this);

    warning_ = new QLabel(tr("Warning: this certificate is not the one you trusted before for %1. "
                             "Someone may be intercepting the connection. Trust it only if you know "
                             "why the server's certificate changed.")
                              .arg(server),
                          this);
    warning_->setWordWrap(true);
    warning_->setStyleSheet(QStringLiteral("QLabel { color: #b00000; font-weight: bold; }"));
    warning_->setVisible(changed);
    layout->addWidget(warning_);

    auto *intro = new QLabel(tr("The identity of %1 could not be verified.").arg(server), this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    const CertificateInfo &certificate = peer.certificate;
    auto *fields = new QFormLayout;
    fields->addRow(tr("Server:"), valueLabel(server, this));
    fields->addRow(tr("Subject:"), valueLabel(certificate.subject, this));
    fields->addRow(tr("Issuer:"), valueLabel(certificate.issuer, this));
    fields->addRow(tr("Valid:"), valueLabel(validityText(certificate, QDateTime::currentDateTimeUtc()), this));
    fields->addRow(tr("SHA-256:"), valueLabel(certificate.fingerprintText(), this));
    if (changed) {
        // Compared with the new one above, it shows how much changed, or that the user
        // trusted a certificate by mistake.
        const QString before = trustedBefore.isEmpty() ? tr("unknown")
                                                       : QString::fromLatin1(trustedBefore.toHex(':').toUpper());
        fields->addRow(tr("SHA-256 trusted before:"), valueLabel(before, this));
    }
    fields->addRow(tr("Problem:"), valueLabel(peer.verifyError.isEmpty() ? tr("not trusted") : peer.verifyError, this));
    layout->addLayout(fields);

    auto *buttons = new QDialogButtonBox(this);
    cancel_ = buttons->addButton(tr("Cancel"), QDialogButtonBox::RejectRole);
    trustOnce_ = buttons->addButton(tr("Trust once"), QDialogButtonBox::AcceptRole);
    trustAlways_ = buttons->addButton(tr("Always trust for this server"), QDialogButtonBox::AcceptRole);
    // Return must never trust by accident: only Cancel is a default button, and it has the
    // focus, since Return presses the focused button of a dialog when it is one that may be
    // a default.
    trustOnce_->setAutoDefault(false);
    trustAlways_->setAutoDefault(false);
    cancel_->setDefault(true);
    cancel_->setFocus();
    layout->addWidget(buttons);

    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);
    connect(trustOnce_, &QPushButton::clicked, this, [this] { done(kTrustOnce); });
    connect(trustAlways_, &QPushButton::clicked, this, [this] { done(kTrustAlways); });
    connect(this, &QDialog::finished, this, [this](int result) {
        Q_EMIT chosen(result == kTrustOnce     ? Choice::TrustOnce
                      : result == kTrustAlways ? Choice::TrustAlways
                                               : Choice::Cancel);
    });
}

CertificateDialog::~CertificateDialog() = default;

QString CertificateDialog::validityText(const CertificateInfo &certificate, const QDateTime &now)
{
    QString text = tr("from %1 to %2").arg(dateText(certificate.notBefore), dateText(certificate.notAfter));
    if (certificate.notAfter.isValid() && now > certificate.notAfter)
        text += QLatin1Char(' ') + tr("(expired)");
    else if (certificate.notBefore.isValid() && now < certificate.notBefore)
        text += QLatin1Char(' ') + tr("(not yet valid)");
    return text;
}

} // namespace zodaru
