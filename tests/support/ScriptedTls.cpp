// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ScriptedTls.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <fcntl.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace zodaru {

namespace {

std::string opensslError(const char *what)
{
    char text[256] = {};
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    return std::string(what) + ": " + text;
}

// A context with a fresh EC key and a self-signed certificate, made once per process.
SSL_CTX *serverContext()
{
    static SSL_CTX *context = [] {
        SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
        EVP_PKEY *key = EVP_EC_gen("P-256");
        X509 *cert = X509_new();
        if (!ctx || !key || !cert)
            qFatal("ScriptedTls: %s", opensslError("setup").c_str());
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600L * 24 * 365);
        X509_set_pubkey(cert, key);
        X509_NAME *name = X509_get_subject_name(cert);
        X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char *>("zodaru scripted server"), -1, -1, 0);
        X509_set_issuer_name(cert, name);
        if (!X509_sign(cert, key, EVP_sha256()) || SSL_CTX_use_certificate(ctx, cert) != 1
            || SSL_CTX_use_PrivateKey(ctx, key) != 1)
            qFatal("ScriptedTls: %s", opensslError("certificate").c_str());
        X509_free(cert);
        EVP_PKEY_free(key);
        SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
        return ctx;
    }();
    return context;
}

} // namespace

ScriptedTlsStream::ScriptedTlsStream(int fd, Wait wait)
    : m_ssl(SSL_new(serverContext())), m_wait(std::move(wait))
{
    if (!m_ssl)
        throw std::runtime_error(opensslError("SSL_new"));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    SSL_set_fd(m_ssl, fd);
}

ScriptedTlsStream::~ScriptedTlsStream()
{
    SSL_free(m_ssl);
}

bool ScriptedTlsStream::waitAfter(int result)
{
    switch (SSL_get_error(m_ssl, result)) {
    case SSL_ERROR_WANT_READ:
        m_wait(false);
        return true;
    case SSL_ERROR_WANT_WRITE:
        m_wait(true);
        return true;
    default:
        return false;
    }
}

void ScriptedTlsStream::accept()
{
    ERR_clear_error();
    for (;;) {
        const int r = SSL_accept(m_ssl);
        if (r == 1)
            return;
        if (!waitAfter(r))
            throw std::runtime_error(opensslError("TLS handshake"));
    }
}

qsizetype ScriptedTlsStream::read(char *buffer, qsizetype size)
{
    ERR_clear_error();
    for (;;) {
        const int r = SSL_read(m_ssl, buffer, int(size));
        if (r > 0)
            return r;
        const int error = SSL_get_error(m_ssl, r);
        // The peer's close_notify, or the TCP stream ending without one.
        if (error == SSL_ERROR_ZERO_RETURN || (error == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
            || (error == SSL_ERROR_SSL && ERR_GET_REASON(ERR_peek_error()) == SSL_R_UNEXPECTED_EOF_WHILE_READING))
            return 0;
        if (!waitAfter(r))
            return -1;
    }
}

void ScriptedTlsStream::write(QByteArrayView bytes)
{
    ERR_clear_error();
    qsizetype done = 0;
    while (done < bytes.size()) {
        const int r = SSL_write(m_ssl, bytes.data() + done, int(bytes.size() - done));
        if (r > 0)
            done += r;
        else if (!waitAfter(r))
            throw std::runtime_error(opensslError("TLS write"));
    }
}

void ScriptedTlsStream::closeNotify()
{
    ERR_clear_error();
    // Once: the close_notify goes out; the peer's answer is not awaited.
    for (int i = 0; i < 100; ++i) {
        const int r = SSL_shutdown(m_ssl);
        if (r >= 0 || !waitAfter(r))
            return;
    }
}

} // namespace zodaru
