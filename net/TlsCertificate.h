// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

struct x509_st;

namespace zodaru {

// What the user needs to decide about a server's certificate.
struct CertificateInfo {
    QString subject; // one line, "CN=..., O=..."
    QString issuer;
    QDateTime notBefore; // UTC
    QDateTime notAfter;
    QByteArray sha256; // digest of the DER form, 32 bytes

    bool isNull() const { return sha256.isEmpty(); }
    // "AB:CD:..." as certificate dialogs show it.
    QString fingerprintText() const;

    static CertificateInfo fromX509(x509_st *certificate);
};

// The certificate a TLS peer presented and whether it verified against the trust store
// and the host name the connection was made for.
struct TlsPeer {
    CertificateInfo certificate;
    bool verified = false;
    QString verifyError; // why it did not verify; empty when it did
};

} // namespace zodaru
