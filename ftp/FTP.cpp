// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/FTP.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ftp/NotificationCenter.h"
#include "ftp/ServerAddress.h"
#include "ftp/TransferWorkers.h"
#include "net/Connect.h"
#include "net/Socket.h"
#include "net/TlsContext.h"

#include <QScopeGuard>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zodaru {

namespace {

constexpr int kControlPort = 21;
constexpr int kAuthAccepted = 234;

std::mutex &defaultsMutex()
{
    static std::mutex m;
    return m;
}

FTP::Settings &currentDefaults()
{
    static FTP::Settings d;
    return d;
}

std::atomic<quint64> &lastEngineId()
{
    static std::atomic<quint64> id{0};
    return id;
}

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

FTP::Settings FTP::defaultSettings()
{
    std::lock_guard lock(defaultsMutex());
    return currentDefaults();
}

void FTP::setDefaultSettings(const Settings &settings)
{
    std::lock_guard lock(defaultsMutex());
    currentDefaults() = settings;
}

void FTP::setTimeouts(const Timeouts &t)
{
    std::lock_guard lock(defaultsMutex());
    currentDefaults().timeouts = t;
}

void FTP::setLimits(const Limits &l)
{
    std::lock_guard lock(defaultsMutex());
    currentDefaults().limits = l;
}

FTP::FTP(const Settings &settings)
    : id_(++lastEngineId()), settings_(settings), control_(connections_, settings_),
      data_(control_, connections_, settings_, features_, tlsContext(), canceller_),
      listing_(control_, data_, settings_, features_),
      transferContext_{id_, settings_, events(), control_, data_, listing_, features_, transfer_}
{
}
FTP::~FTP() = default;

std::shared_ptr<FTP> FTP::create(const Settings &settings)
{
    return std::shared_ptr<FTP>(new FTP(settings));
}

TransferEventSink &FTP::events() const
{
    return settings_.events ? *settings_.events : NotificationCenter::defaultCenter();
}

std::shared_ptr<FTP> FTP::connectTo(const QString &address, const Settings &settings)
{
    auto engine = create(settings);
    engine->open(address);
    return engine;
}

std::shared_ptr<FTP> FTP::connectTo(const QString &address, const QString &login, const QString &password,
                                    ProtectionPolicy policy, const Settings &settings)
{
    auto engine = create(settings);
    connectInto(engine, address, login, password, policy);
    return engine;
}

void FTP::connectInto(const std::shared_ptr<FTP> &engine, const QString &address, const QString &login,
                      const QString &password, ProtectionPolicy policy)
{
    engine->loginRefused_ = false;
    engine->policy_ = policy;
    engine->open(address);
    if (!engine->connections_.control())
        return; // given up, cut before the greeting, or a certificate refused
    engine->Login = login;
    engine->Password = password;
    if (engine->logIn())
        engine->address_ = address; // only a session that was open can be reopened
}

namespace {
std::mutex &certificateCheckMutex()
{
    static std::mutex m;
    return m;
}
FTP::CertificateCheck &currentCertificateCheck()
{
    static FTP::CertificateCheck check;
    return check;
}
} // namespace

void FTP::setCertificateCheck(CertificateCheck check)
{
    std::lock_guard lock(certificateCheckMutex());
    currentCertificateCheck() = std::move(check);
}

TlsContext &FTP::tlsContext()
{
    static TlsContext context;
    return context;
}

std::optional<FTP::CertificateRefusal> FTP::certificateRefusal() const
{
    std::lock_guard lock(stateMutex_);
    return certificateRefusal_;
}

// Both are read from the state recorded at the handshake: the TLS objects themselves
// belong to the thread that reads and writes through them.
bool FTP::isEncrypted() const
{
    const bool connected = connections_.control() != nullptr;
    std::lock_guard lock(stateMutex_);
    return connected && !tlsDescription_.isEmpty();
}

QString FTP::tlsDescription() const
{
    const bool connected = connections_.control() != nullptr;
    std::lock_guard lock(stateMutex_);
    return connected ? tlsDescription_ : QString();
}

void FTP::giveUp()
{
    close();
}

void FTP::endSession()
{
    givenUp_ = true;
    canceller_.cancel();
}

void FTP::open(const QString &address)
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
    data_.forgetTls();
    const int fd = createSocket(server.host, server.port, settings_.timeouts.controlConnect, &canceller_);
    zlog("Adresse : %@ socket : %i\n", address, fd);
    // Given up while the connection was being made: it closes as it goes out of scope.
    connections_.publishControl(std::make_shared<Socket>(fd), givenUp_);
    if (security == Security::ImplicitTls && !secureControlConnection(server))
        return;
    ret();
    if (!connections_.control() || (security != Security::Opportunistic && security != Security::ExplicitTls))
        return;
    const int auth = command(QStringLiteral("AUTH"), QStringLiteral("TLS"));
    if (auth == kAuthAccepted) {
        secureControlConnection(server);
        return;
    }
    if (!connections_.control())
        return;
    if (security == Security::ExplicitTls) {
        securityFailure_ = SecurityFailure::TlsRefused;
        control_.closeBecause(QStringLiteral("Le serveur refuse AUTH TLS : on ferme la connexion"));
        throw NetworkException(QStringLiteral("AUTH TLS refuse par le serveur (%1)").arg(auth),
                               NetworkException::Kind::TlsRefused);
    }
    if (!policy_.clearAllowed) {
        // Nothing of the login has gone out yet: the user is asked before it goes in clear.
        securityFailure_ = SecurityFailure::ClearNotAllowed;
        control_.closeBecause(QStringLiteral("Le serveur refuse AUTH TLS : on ferme la connexion avant d'envoyer le mot de passe en clair"));
        return;
    }
    zlog("Session non chiffree : le serveur refuse AUTH TLS");
}

bool FTP::secureControlConnection(const ServerAddress &server)
{
    const auto control = connections_.control();
    if (!control)
        return false;
    QString error;
    if (!control->startTlsClient(tlsContext(), server.host, {}, settings_.timeouts.controlConnect, &error)) {
        if (givenUp_) {
            // The connect was given up from another thread, which cut the handshake short.
            control_.closeBecause(QStringLiteral("Connexion abandonnee pendant la negociation TLS"));
            return false;
        }
        control_.closeBecause(QStringLiteral("Negociation TLS impossible : on ferme la connexion"));
        throw NetworkException(QStringLiteral("TLS [%1]").arg(error), NetworkException::Kind::TlsHandshake);
    }
    const TlsPeer peer = control->peer();
    if (!peer.verified) {
        const QString key = CertificateStore::key(server.host, server.port);
        CertificateCheck check;
        {
            std::lock_guard lock(certificateCheckMutex());
            check = currentCertificateCheck();
        }
        const CertificateVerdict verdict = check ? check(key, peer) : CertificateVerdict::Unknown;
        if (verdict != CertificateVerdict::Verified && verdict != CertificateVerdict::Known) {
            {
                std::lock_guard lock(stateMutex_);
                certificateRefusal_ = CertificateRefusal{key, peer, verdict};
            }
            control_.closeBecause(QStringLiteral("Certificat de %1 non reconnu (%2) : on ferme la connexion")
                             .arg(key, peer.verifyError));
            return false;
        }
    }
    data_.useTls(server.host, peer.certificate.sha256);
    const QString description = control->describe();
    {
        std::lock_guard lock(stateMutex_);
        tlsDescription_ = description;
    }
    zlog("Session chiffree : %@", description);
    return true;
}

bool FTP::protectDataConnections()
{
    if (!isEncrypted())
        return true;
    // PBSZ must come first and is meaningless over TLS: 0 is the only value.
    if (isCompletion(command(QStringLiteral("PBSZ"), QStringLiteral("0")))
        && isCompletion(command(QStringLiteral("PROT"), QStringLiteral("P"))))
        return true;
    if (connections_.control()) {
        securityFailure_ = SecurityFailure::DataProtectionRefused;
        control_.closeBecause(QStringLiteral("Le serveur refuse de chiffrer les donnees (PROT P) : on ferme la connexion"));
    }
    return false;
}

bool FTP::logIn()
{
    // PASS goes out after any positive answer to USER. Some servers log in on USER alone
    // (230) and then refuse the superfluous PASS: the session is open all the same. A
    // failed login leaves no half-open session behind.
    const int user = command(QStringLiteral("USER ") + Login);
    const int pass = isPositive(user) ? command(QStringLiteral("PASS ") + Password) : -1;
    const bool loggedIn = (user >= 200 && user < 300 && connections_.control()) || isPositive(pass);
    loginRefused_ = !loggedIn && connections_.control() != nullptr;
    if (!loggedIn) {
        if (connections_.control())
            control_.closeBecause(QStringLiteral("Identification refusee : on ferme la connexion"));
        return false;
    }
    // What the server offers decides how listings, passive connections and transfers are
    // asked for. A refused FEAT means none of it: the commands every server knows.
    QStringList lines;
    features_ = ServerFeatures{};
    if (control_.send(QStringLiteral("FEAT"), QString()) && control_.readReply(true, nullptr, &lines) == 211)
        features_ = parseFeatReply(lines);
    if (features_.utf8)
        command(QStringLiteral("OPTS"), QStringLiteral("UTF8 ON"));
    if (!protectDataConnections() || !isConnected())
        return false;
    // What this login had is the least any reopening of the session must have.
    protection_ = isEncrypted() ? Protection::Tls : Protection::Clear;
    if (protection_ == Protection::Tls)
        policy_.required = Protection::Tls;
    return true;
}

bool FTP::closedWhileIdle() const
{
    const auto control = connections_.control();
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

bool FTP::reopenIfClosedWhileIdle()
{
    // Once the user ended the session (givenUp_) nothing reconnects it.
    if (address_.isEmpty() || givenUp_ || transfer_.running || !closedWhileIdle())
        return true;
    idleCloseLogged_ = false;
    zlog("Session fermee par le serveur pendant l'attente : on se reconnecte a %@", address_);
    connections_.dropAll();
    try {
        open(address_);
    } catch (const NetworkException &e) {
        zlog("Reconnexion impossible ==> %@", e.reason());
        return false;
    }
    if (!connections_.control()) {
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


bool FTP::isConnected()
{
    return control_.isConnected();
}

void FTP::close()
{
    // From outside the engine a close is a stop: the running download leaves no partial.
    transfer_.stoppedByUser = true;
    endSession();
    connections_.dropAll();
}

void FTP::shutdown()
{
    endSession();
    // A running transfer's worker is reading its completion reply on PI: a QUIT exchange
    // now would race it for the reply lines. Closing wakes the worker, which reports the
    // transfer as broken. A session the server closed has nobody left to say QUIT to.
    if (transfer_.running || !connections_.control() || closedWhileIdle()) {
        close();
        return;
    }
    command(QStringLiteral("TYPE"), QStringLiteral("A"));
    command(QStringLiteral("QUIT"));
    close();
}

bool FTP::checkControlConnection()
{
    const auto control = connections_.control();
    if (!control)
        return false;
    // A transfer's worker reads its completion reply through the connection's read-ahead
    // and TLS layer, which no other thread may use meanwhile, even to peek; the worker
    // finds a lost connection itself.
    if (transfer_.running)
        return true;
    // Only peeked at: a reply on its way belongs to whoever sent the command.
    char head[4] = {};
    const qint64 n = control->peekSome(head, sizeof head);
    if (n == Socket::TimedOut)
        return true;
    if (n > 0 && !(n >= 3 && std::memcmp(head, "421", 3) == 0))
        return true;
    const QString why = n == 0 || n == Socket::Truncated ? QStringLiteral("fin de flux")
        : n > 0                                          ? QStringLiteral("421")
        : control->isEncrypted()                         ? QStringLiteral("erreur TLS")
                                                         : QString::fromUtf8(std::strerror(errno));
    if (reopensWhenUsed()) {
        // The server's idle time-out: the session stays, and is opened again by the next
        // action. Said once, not at every look.
        if (!std::exchange(idleCloseLogged_, true))
            zlog("Session fermee par le serveur entre deux commandes (%@) : reconnexion a la prochaine commande", why);
        return false;
    }
    zlog("Connexion de controle perdue entre deux commandes (%@) : on ferme la connexion", why);
    close();
    return false;
}

bool FTP::reopensWhenUsed() const
{
    return !address_.isEmpty() && !givenUp_ && connections_.control();
}

void FTP::keepAlive()
{
    if (!connections_.control() || transfer_.running || closedWhileIdle())
        return;
    if (control_.send(QStringLiteral("NOOP"), QString()))
        ret();
}

int FTP::cd(const QString &path)
{
    Action action(*this);
    command(QStringLiteral("TYPE"), QStringLiteral("A"));
    return command(QStringLiteral("CWD"), path);
}

int FTP::ret()
{
    return control_.ret();
}

int FTP::command(const QString &line)
{
    return command(line, QString());
}

int FTP::command(const QString &word, const QString &param)
{
    Action action(*this);
    return control_.exchange(word, param);
}

void FTP::pasv(const QString &type)
{
    data_.pasv(type);
}

int FTP::setType(const QString &type)
{
    // The reply to the TYPE that went with EPSV, else an exchange of its own.
    if (control_.firstAhead() == QLatin1String("TYPE"))
        return data_.setType(type);
    return command(QStringLiteral("TYPE"), type);
}

std::optional<QList<File>> FTP::list(const QString &path)
{
    Action action(*this);
    return listing_.list(path);
}

qint64 FTP::size(const QString &path)
{
    Action action(*this);
    if (!isConnected())
        return -1;
    if (features_.size) {
        // SIZE counts bytes as they would be transferred: in binary mode, the file's own.
        command(QStringLiteral("TYPE"), QStringLiteral("I"));
        QString reply;
        if (control_.query(QStringLiteral("SIZE"), path, &reply) == 213) {
            if (const auto exact = sizeInReply(reply))
                return *exact;
        }
    }
    // A file cannot be changed into: it is named on the LIST line itself.
    zlog("On entre dans list()");
    const auto exitLog = qScopeGuard([] { zlog("Sortie de la fonction list()"); });
    // One line, naming the file: a directory's listing has a line per entry and may have
    // a summary line besides.
    const auto listed = listing_.listing(QStringLiteral("LIST"), path, path);
    if (!listed || listed->lines != 1 || listed->entries.size() != 1)
        return -1;
    return listed->entries.first().size();
}

int FTP::createSocket(const QString &address, int port, int connectTimeoutMs, const ConnectCanceller *canceller)
{
    return connectTcp(address, port, connectTimeoutMs, canceller);
}

} // namespace zodaru
