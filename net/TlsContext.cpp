// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/TlsContext.h"

#include "base/ByteNames.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace zodaru {

TlsSession TlsSession::fromHandle(ssl_session_st *session)
{
    TlsSession s;
    if (session && SSL_SESSION_up_ref(session) == 1)
        s.session_.reset(session, SSL_SESSION_free);
    return s;
}

TlsSession TlsSession::copy() const
{
    TlsSession s;
    if (SSL_SESSION *duplicate = session_ ? SSL_SESSION_dup(session_.get()) : nullptr)
        s.session_.reset(duplicate, SSL_SESSION_free);
    return s;
}

QString takeTlsError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return QStringLiteral("erreur TLS inconnue");
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return QString::fromLatin1(text);
}

TlsContext::TlsContext()
{
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) {
        error_ = takeTlsError();
        return;
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    // A missing system store only means that nothing verifies: the user is asked then.
    SSL_CTX_set_default_verify_paths(ctx_);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    // Keep the sessions the server hands out (TLS 1.3 sends them after the handshake), so
    // that data connections can resume them.
    SSL_CTX_set_session_cache_mode(ctx_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
    ERR_clear_error();
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(ctx_);
}

bool TlsContext::addTrustedCertificates(const QString &pemFile)
{
    if (!ctx_)
        return false;
    ERR_clear_error();
    if (SSL_CTX_load_verify_locations(ctx_, bytesOfName(pemFile).constData(), nullptr) != 1) {
        error_ = takeTlsError();
        return false;
    }
    return true;
}

} // namespace zodaru
