// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/EngineSettings.h"
#include "ftp/ProtocolReplies.h"
#include "model/CertificateStore.h"
#include "net/TlsCertificate.h"

#include <QString>

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>

namespace zodaru {

class ConnectCanceller;
class ControlChannel;
class DataChannel;
class EngineConnections;
class TlsContext;
struct ServerAddress;

// How a session is protected: Tls once its control connection is encrypted.
enum class Protection { Clear, Tls };

// What a connect must reach before the password goes out.
struct ProtectionPolicy {
    // The least the session must have. Tls asks for AUTH TLS whatever the server text and
    // makes a refusal a failed connect (NetworkException, FTP::SecurityFailure::TlsRefused):
    // the other engines of a session whose first engine had TLS, and every reopening.
    Protection required = Protection::Clear;
    // For a bare host whose server refuses AUTH TLS: go on in clear (the user agreed), or
    // close before USER is sent (not connected, FTP::SecurityFailure::ClearNotAllowed).
    bool clearAllowed = true;
};

// Why the last connect or reopening failed for the session's protection.
enum class SecurityFailure {
    None,
    TlsRefused,            // TLS was required and the server refused AUTH TLS
    ClearNotAllowed,       // a bare host refused AUTH TLS and clear was not agreed to
    DataProtectionRefused, // PBSZ 0 or PROT P refused: the session was closed
};

// Decides about the certificate a server presented: `server` is
// CertificateStore::key(host, port). Called on the connecting thread; must be thread-safe.
using CertificateCheck = std::function<CertificateVerdict(const QString &server, const TlsPeer &peer)>;

// A certificate that was neither verified nor trusted stopped the last connect.
struct CertificateRefusal {
    QString server; // CertificateStore::key(host, port)
    TlsPeer peer;
    CertificateVerdict verdict = CertificateVerdict::Unknown; // Unknown or Changed
};

// An engine's session: the control connection opened to a server text with the TLS it
// asks for, the login (USER, PASS, FEAT, OPTS UTF8, PBSZ and PROT), and the reopening of a
// session the server closed while idle. Its operations run on the engine's current thread;
// the state accessors may be called from any thread.
class ServerSession final {
public:
    // What the session needs of its engine; every reference outlives it.
    struct Parts {
        const EngineSettings &settings;
        EngineConnections &connections;
        ControlChannel &control;
        DataChannel &data;
        ServerFeatures &features; // written at each login
        const TlsContext &tls;
        const ConnectCanceller &canceller;
        const std::atomic<bool> &givenUp;         // the user ended the session
        const std::atomic<bool> &transferRunning; // a transfer's worker owns the connection
        std::function<CertificateCheck()> certificateCheck;
    };
    explicit ServerSession(Parts parts);
    Q_DISABLE_COPY_MOVE(ServerSession)

    // Opens the control connection to the server text, reads the greeting and sets up TLS
    // as the text and `policy` ask. Throws NetworkException.
    void open(const QString &address, ProtectionPolicy policy);
    // open(), then the login; a session that logged in can be reopened later.
    void connect(const QString &address, const QString &login, const QString &password, ProtectionPolicy policy);
    // The server closed the session while the engine waited (end of stream or a 421 already
    // waiting on the control connection): one new connection and login with the same
    // address and credentials, and TLS when the session had it. False when the session is
    // closed and could not be reopened.
    bool reopenIfClosedWhileIdle();
    // Nothing is owed to an idle engine: true when what waits is the server's farewell.
    bool closedWhileIdle() const;
    // Logged in with a password, and the session not ended.
    bool reopensWhenUsed() const;

    // What a look between commands finds, without blocking and without reading a byte.
    enum class Idle {
        Alive,          // usable, or a transfer's worker owns the connection
        Gone,           // no control connection
        ClosedByServer, // the server ended an idle session: the next action reopens it
        Lost,           // ended, reset or a 421, and not to be reopened: close the engine
    };
    Idle checkIdle();
    // NOOP on an idle session, so that the server's idle time-out does not end it; nothing
    // while a transfer runs or to a session the server already closed.
    void keepAlive();

    QString address() const { return address_; }
    QString login() const { return Login; }
    bool loginRefused() const { return loginRefused_; }
    // The reply that ended the last connect's login: the greeting's when it refused, else
    // USER's or PASS's; -1 when none came. 421 or 530 here may be the server's limit.
    int loginReply() const { return loginReply_; }
    SecurityFailure securityFailure() const { return securityFailure_.load(); }
    Protection protection() const { return protection_.load(); }
    std::optional<CertificateRefusal> certificateRefusal() const;
    bool isEncrypted() const;
    QString tlsDescription() const;

private:
    // Runs the control connection's handshake for `server` and decides about its
    // certificate; false when the certificate was refused (the connection is dropped).
    // Throws NetworkException when the handshake fails.
    bool secureControlConnection(const ServerAddress &server);
    // PBSZ 0 and PROT P after a login over TLS; false (session closed) when refused.
    bool protectDataConnections();
    // open() with the policy already set: the first connect's, or the one raised for
    // reopening.
    void openControl(const QString &address);
    // USER, PASS, then FEAT and OPTS UTF8; false when the login was refused.
    bool logIn();

    const Parts parts_;
    QString Login;
    QString Password;
    QString address_; // the server text, for reopening the session
    std::atomic<bool> loginRefused_{false};
    std::atomic<int> loginReply_{-1};
    std::atomic<SecurityFailure> securityFailure_{SecurityFailure::None};
    std::atomic<Protection> protection_{Protection::Clear};
    // What open() must reach: given to the connect, then raised to the protection the
    // login had, for reopening.
    ProtectionPolicy policy_;
    bool idleCloseLogged_ = false; // the idle check said once that the server closed
    mutable std::mutex stateMutex_;
    std::optional<CertificateRefusal> certificateRefusal_; // under stateMutex_
    QString tlsDescription_;                               // under stateMutex_; empty in clear
};

} // namespace zodaru
