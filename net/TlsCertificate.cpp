// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/TlsCertificate.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>

namespace zodaru {

namespace {

QString nameText(const X509_NAME *name)
{
    const std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    if (!out || X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char *data = nullptr;
    const long size = BIO_get_mem_data(out.get(), &data);
    return QString::fromUtf8(data, qsizetype(size));
}

QDateTime timeOf(const ASN1_TIME *t)
{
    std::tm parts{};
    if (!t || ASN1_TIME_to_tm(t, &parts) != 1)
        return {};
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

} // namespace

QString CertificateInfo::fingerprintText() const
{
    return QString::fromLatin1(sha256.toHex(':').toUpper());
}

CertificateInfo CertificateInfo::fromX509(x509_st *certificate)
{
    CertificateInfo info;
    if (!certificate)
        return info;
    info.subject = nameText(X509_get_subject_name(certificate));
    info.issuer = nameText(X509_get_issuer_name(certificate));
    info.notBefore = timeOf(X509_get0_notBefore(certificate));
    info.notAfter = timeOf(X509_get0_notAfter(certificate));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate, EVP_sha256(), digest, &length) == 1)
        info.sha256 = QByteArray(reinterpret_cast<const char *>(digest), int(length));
    return info;
}

} // namespace zodaru
