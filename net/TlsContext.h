// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

struct ssl_ctx_st;
struct ssl_session_st;

namespace zodaru {

// A TLS session that a later connection to the same server may resume. FTP servers often
// insist that every data connection resumes the control connection's session, to be sure
// that it comes from the same client. Null when there is none to offer.
class TlsSession final {
public:
    TlsSession() = default;
    // Takes one reference on `session` (may be null).
    static TlsSession fromHandle(ssl_session_st *session);

    // An independent copy: offering a session marks it used, and TLS 1.3 sessions are then
    // no longer offered; each data connection gets its own copy of the control's.
    TlsSession copy() const;

    bool isNull() const { return !session_; }
    ssl_session_st *handle() const { return session_.get(); }

private:
    std::shared_ptr<ssl_session_st> session_;
};

// The client-side settings shared by every TLS connection of the process: TLS 1.2 at
// least, the system's trust store. The handshake itself never fails on the certificate:
// the chain and the host name are checked, and the outcome is handed to the caller (see
// Socket::peer()), which may ask the user before going on.
class TlsContext final {
public:
    TlsContext();
    ~TlsContext();
    Q_DISABLE_COPY_MOVE(TlsContext)

    bool isValid() const { return ctx_ != nullptr; }
    QString errorText() const { return error_; }

    // Trusts the certificates of a PEM file on top of the system's (a private authority,
    // or a test server's own certificate); false with errorText() when it cannot be read.
    bool addTrustedCertificates(const QString &pemFile);

    ssl_ctx_st *handle() const { return ctx_; }

private:
    ssl_ctx_st *ctx_ = nullptr; // freed in the destructor
    QString error_;
};

// The text of the oldest error queued by OpenSSL on this thread, and the queue emptied.
QString takeTlsError();

} // namespace zodaru
