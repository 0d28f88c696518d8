// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/ServerSession.h"

#include "base/Log.h"
#include "ftp/ControlChannel.h"
#include "ftp/DataChannel.h"
#include "ftp/EngineConnections.h"
#include "ftp/ServerAddress.h"
#include "net/Connect.h"
#include "net/Socket.h"
#include "net/TlsContext.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace zodaru {

namespace {

constexpr int kControlPort = 21;
constexpr int kAuthAccepted = 234;

bool isPositive(int code)
{
    return code >= 100 && code < 400;
}

bool isCompletion(int code)
{
    return code >= 200 && code < 300;
}

// What a server text names; text that is no valid server text is taken for a host name,
// which then fails to resolve.
ServerAddress serverOf(const QString &text)
{
    if (const auto parsed = ServerAddress::parse(text))
        return *parsed;
    ServerAddress server;
    server.host = text;
    server.port = kControlPort;
    return server;
}

} // namespace

ServerSession::ServerSession(Parts parts) : parts_(std::move(parts)) {}

void ServerSession::open(const QString &address, ProtectionPolicy policy)
{
    policy_ = policy;
    openControl(address);
}

void ServerSession::connect(const QString &address, const QString &login, const QString &password,
                      ProtectionPolicy policy)
{
    loginRefused_ = false;
    loginReply_ = -1;
    open(address, policy);
    if (!parts_.connections.control())
        return; // given up, cut before the greeting, or a certificate refused
    Login = login;
    Password = password;
    if (logIn())
        address_ = address; // only a session that was open can be reopened
}

std::optional<CertificateRefusal> ServerSession::certificateRefusal() const
{
    std::lock_guard lock(stateMutex_);
    return certificateRefusal_;
}

bool ServerSession::isEncrypted() const
{
    const bool connected = parts_.connections.control() != nullptr;
    std::lock_guard lock(stateMutex_);
    return connected && !tlsDescription_.isEmpty();
}

QString ServerSession::tlsDescription() const
{
    const bool connected = parts_.connections.control() != nullptr;
    std::lock_guard lock(stateMutex_);
    return connected ? tlsDescription_ : QString();
}

void ServerSession::openControl(const QString &address)
{
    using Security = ServerAddress::Security;
    const ServerAddress server = serverOf(address);
    // Once a session had TLS, clear is no longer an answer: AUTH TLS is required.
    const Security security = policy_.required == Protection::Tls && server.security != Security::ImplicitTls
        ? Security::ExplicitTls
        : server.security;
    securityFailure_ = SecurityFailure::None;
    {
        std::lock_guard lock(stateMutex_);
        certificateRefusal_.reset();
        tlsDescription_.clear();
    }
    parts_.data.forgetTls();
    const int fd = connectTcp(server.host, server.port, parts_.settings.timeouts.controlConnect, &parts_.canceller);
    zlog("Adresse : %@ socket : %i\n", address, fd);
    // Given up while the connection was being made: it closes as it goes out of scope.
    parts_.connections.publishControl(std::make_shared<Socket>(fd), parts_.givenUp);
    if (security == Security::ImplicitTls && !secureControlConnection(server))
        return;
    loginReply_ = parts_.control.ret();
    if (!parts_.connections.control() || (security != Security::Opportunistic && security != Security::ExplicitTls))
        return;
    const int auth = parts_.control.exchange(QStringLiteral("AUTH"), QStringLiteral("TLS"));
    if (auth == kAuthAccepted) {
        secureControlConnection(server);
        return;
    }
    if (!parts_.connections.control())
        return;
    if (security == Security::ExplicitTls) {
        securityFailure_ = SecurityFailure::TlsRefused;
        parts_.control.closeBecause(QStringLiteral("Le serveur refuse AUTH TLS : on ferme la connexion"));
        throw NetworkException(QStringLiteral("AUTH TLS refuse par le serveur (%1)").arg(auth),
                               NetworkException::Kind::TlsRefused);
    }
    if (!policy_.clearAllowed) {
        // Nothing of the login has gone out yet: the user is asked before it goes in clear.
        securityFailure_ = SecurityFailure::ClearNotAllowed;
        parts_.control.closeBecause(QStringLiteral(
            "Le serveur refuse AUTH TLS : on ferme la connexion avant d'envoyer le mot de passe en clair"));
        return;
    }
    zlog("Session non chiffree : le serveur refuse AUTH TLS");
}

bool ServerSession::secureControlConnection(const ServerAddress &server)
{
    const auto control = parts_.connections.control();
    if (!control)
        return false;
    QString error;
    if (!control->startTlsClient(parts_.tls, server.host, {}, parts_.settings.timeouts.controlConnect, &error)) {
        if (parts_.givenUp) {
            // The connect was given up from another thread, which cut the handshake short.
            parts_.control.closeBecause(QStringLiteral("Connexion abandonnee pendant la negociation TLS"));
            return false;
        }
        parts_.control.closeBecause(QStringLiteral("Negociation TLS impossible : on ferme la connexion"));
        throw NetworkException(QStringLiteral("TLS [%1]").arg(error), NetworkException::Kind::TlsHandshake);
    }
    const TlsPeer peer = control->peer();
    if (!peer.verified) {
        const QString key = CertificateStore::key(server.host, server.port);
        const CertificateCheck check = parts_.certificateCheck();
        const CertificateVerdict verdict = check ? check(key, peer) : CertificateVerdict::Unknown;
        if (verdict != CertificateVerdict::Verified && verdict != CertificateVerdict::Known) {
            {
                std::lock_guard lock(stateMutex_);
                certificateRefusal_ = CertificateRefusal{key, peer, verdict};
            }
            parts_.control.closeBecause(QStringLiteral("Certificat de %1 non reconnu (%2) : on ferme la connexion")
                                            .arg(key, peer.verifyError));
            return false;
        }
    }
    parts_.data.useTls(server.host, peer.certificate.sha256);
    const QString description = control->describe();
    {
        std::lock_guard lock(stateMutex_);
        tlsDescription_ = description;
    }
    zlog("Session chiffree : %@", description);
    return true;
}

bool ServerSession::protectDataConnections()
{
    if (!isEncrypted())
        return true;
    // PBSZ must come first and is meaningless over TLS: 0 is the only value.
    if (isCompletion(parts_.control.exchange(QStringLiteral("PBSZ"), QStringLiteral("0")))
        && isCompletion(parts_.control.exchange(QStringLiteral("PROT"), QStringLiteral("P"))))
        return true;
    if (parts_.connections.control()) {
        securityFailure_ = SecurityFailure::DataProtectionRefused;
        parts_.control.closeBecause(
            QStringLiteral("Le serveur refuse de chiffrer les donnees (PROT P) : on ferme la connexion"));
    }
    return false;
}

bool ServerSession::logIn()
{
    // PASS goes out after any positive answer to USER. Some servers log in on USER alone
    // (230) and then refuse the superfluous PASS: the session is open all the same. A
    // failed login leaves no half-open session behind.
    const int user = parts_.control.exchange(QStringLiteral("USER ") + Login, QString());
    const int pass = isPositive(user) ? parts_.control.exchange(QStringLiteral("PASS ") + Password, QString()) : -1;
    const bool loggedIn = (user >= 200 && user < 300 && parts_.connections.control()) || isPositive(pass);
    loginReply_ = pass >= 0 ? pass : user;
    loginRefused_ = !loggedIn && parts_.connections.control() != nullptr;
    if (!loggedIn) {
        if (parts_.connections.control())
            parts_.control.closeBecause(QStringLiteral("Identification refusee : on ferme la connexion"));
        return false;
    }
    // What the server offers decides how listings, passive connections and transfers are
    // asked for. A refused FEAT means none of it: the commands every server knows.
    QStringList lines;
    parts_.features = ServerFeatures{};
    if (parts_.control.send(QStringLiteral("FEAT"), QString())
        && parts_.control.readReply(true, nullptr, &lines) == 211)
        parts_.features = parseFeatReply(lines);
    if (parts_.features.utf8)
        parts_.control.exchange(QStringLiteral("OPTS"), QStringLiteral("UTF8 ON"));
    if (!protectDataConnections() || !parts_.control.isConnected())
        return false;
    // What this login had is the least any reopening of the session must have.
    protection_ = isEncrypted() ? Protection::Tls : Protection::Clear;
    if (protection_ == Protection::Tls)
        policy_.required = Protection::Tls;
    return true;
}

bool ServerSession::closedWhileIdle() const
{
    const auto control = parts_.connections.control();
    if (!control)
        return false;
    // Nothing is owed to an idle engine: anything waiting is the server's farewell, a 421
    // or the end of the stream (a reset or a cut TLS stream reads as an error).
    char head[3] = {};
    const qint64 n = control->peekSome(head, sizeof head);
    if (n == Socket::TimedOut)
        return false;
    return n <= 0 || (n == 3 && QByteArrayView(head, 3) == "421");
}

bool ServerSession::reopenIfClosedWhileIdle()
{
    // Once the user ended the session (parts_.givenUp) nothing reconnects it.
    if (address_.isEmpty() || parts_.givenUp || parts_.transferRunning || !closedWhileIdle())
        return true;
    idleCloseLogged_ = false;
    zlog("Session fermee par le serveur pendant l'attente : on se reconnecte a %@", address_);
    parts_.connections.dropAll();
    try {
        openControl(address_);
    } catch (const NetworkException &e) {
        zlog("Reconnexion impossible ==> %@", e.reason());
        return false;
    }
    if (!parts_.connections.control()) {
        zlog("Reconnexion impossible");
        return false;
    }
    if (!logIn()) {
        zlog("Reconnexion impossible : identification refusee");
        return false;
    }
    zlog("Reconnexion reussie");
    return true;
}

bool ServerSession::reopensWhenUsed() const
{
    return !address_.isEmpty() && !parts_.givenUp && parts_.connections.control();
}

ServerSession::Idle ServerSession::checkIdle()
{
    const auto control = parts_.connections.control();
    if (!control)
        return Idle::Gone;
    // A transfer's worker reads its completion reply through the connection's read-ahead
    // and TLS layer, which no other thread may use meanwhile, even to peek; the worker
    // finds a lost connection itself.
    if (parts_.transferRunning)
        return Idle::Alive;
    // Only peeked at: a reply on its way belongs to whoever sent the command.
    char head[4] = {};
    const qint64 n = control->peekSome(head, sizeof head);
    if (n == Socket::TimedOut)
        return Idle::Alive;
    if (n > 0 && !(n >= 3 && std::memcmp(head, "421", 3) == 0))
        return Idle::Alive;
    const QString why = n == 0 || n == Socket::Truncated ? QStringLiteral("fin de flux")
        : n > 0                                          ? QStringLiteral("421")
        : control->isEncrypted()                         ? QStringLiteral("erreur TLS")
                                                         : QString::fromUtf8(std::strerror(errno));
    if (reopensWhenUsed()) {
        // The server's idle time-out: the session stays, and is opened again by the next
        // action. Said once, not at every look.
        if (!std::exchange(idleCloseLogged_, true))
            zlog("Session fermee par le serveur entre deux commandes (%@) : reconnexion a la prochaine commande",
                 why);
        return Idle::ClosedByServer;
    }
    zlog("Connexion de controle perdue entre deux commandes (%@) : on ferme la connexion", why);
    return Idle::Lost;
}

void ServerSession::keepAlive()
{
    if (!parts_.connections.control() || parts_.transferRunning || closedWhileIdle())
        return;
    if (parts_.control.send(QStringLiteral("NOOP"), QString()))
        parts_.control.ret();
}

} // namespace zodaru
