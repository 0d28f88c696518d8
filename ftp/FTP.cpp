// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/FTP.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "ftp/NotificationCenter.h"
#include "ftp/ServerAddress.h"
#include "ftp/Socket.h"
#include "ftp/TlsContext.h"

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

constexpr qsizetype kMaxReplyLine = 64 * 1024;
constexpr int kControlPort = 21;
constexpr int kServiceClosing = 421;
constexpr int kAuthAccepted = 234;

using Clock = std::chrono::steady_clock;

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

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::clamp<qint64>(left.count(), 0, INT_MAX));
}

// What one reply may still take: its overall deadline and the bytes left of its budget.
struct ReplyBudget {
    Clock::time_point deadline;
    qint64 bytesLeft;
};

enum class LineEnd { Complete, TimedOut, TooLong, Closed };

// One reply line read a byte at a time from the connection's read-ahead, so that the
// next reply stays there for the next read.
// Only CR LF ends a line; past 64 KiB the line is cut and the rest discarded (it is still
// read to its end, so the next reply stays in step). Each line has its own time limit,
// and the reply's budget bounds all of its lines together.
LineEnd readReplyLine(Socket &control, int lineMs, ReplyBudget &budget, QByteArray &line)
{
    const auto deadline = std::min(Clock::now() + std::chrono::milliseconds(lineMs), budget.deadline);
    bool heldCr = false;
    auto append = [&line](char c) {
        if (line.size() < kMaxReplyLine)
            line.append(c);
    };
    for (;;) {
        char c = 0;
        const qint64 n = control.readBuffered(&c, 1, millisecondsUntil(deadline));
        if (n == Socket::TimedOut)
            return LineEnd::TimedOut;
        if (n != 1)
            return LineEnd::Closed;
        if (--budget.bytesLeft < 0)
            return LineEnd::TooLong;
        if (c == '\r') {
            heldCr = true; // a second CR in a row is dropped
            continue;
        }
        if (c == '\n' && heldCr)
            return LineEnd::Complete;
        if (heldCr) {
            append('\r');
            heldCr = false;
        }
        append(c);
    }
}

bool isPositive(int code)
{
    return code >= 100 && code < 400;
}

bool isCompletion(int code)
{
    return code >= 200 && code < 300;
}

// Owns a descriptor until it is handed over, so that every failure path of
// createSocket() closes it.
class UniqueFd final {
public:
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Q_DISABLE_COPY_MOVE(UniqueFd)
    int get() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

QString errorText(int error)
{
    char buffer[256];
    // GNU strerror_r: thread-safe, may return a static string instead of filling buffer.
    return QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
}

// Built with errno read first: nothing between the failing call and this may change it.
NetworkException networkError(const char *label)
{
    const int error = errno;
    return NetworkException(QStringLiteral("%1 [errno(%2) : %3]")
                                .arg(QString::fromLatin1(label))
                                .arg(error)
                                .arg(errorText(error)));
}

// A connect that failed, was given up (ECANCELED) or timed out, as the exception.
void connectOrThrow(int fd, const addrinfo &to, int timeoutMs, const ConnectCanceller *canceller)
{
    if (const int error = connectWithin(fd, to.ai_addr, to.ai_addrlen, timeoutMs, canceller)) {
        errno = error;
        throw networkError("connect");
    }
}

// atoi() on untrusted text: leading white space, an optional sign, then digits; 0 when
// there are none. Saturates instead of overflowing.
qint64 leadingInteger(QStringView text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == u' ' || (text[i] >= u'\t' && text[i] <= u'\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    qint64 value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        if (value < INT_MAX)
            value = value * 10 + (text[i].unicode() - u'0');
    }
    value = qMin<qint64>(value, INT_MAX);
    return negative ? -value : value;
}

// What the log may show of a command: a password never reaches it.
bool isPassCommand(const QString &word)
{
    return word.compare(QLatin1String("PASS"), Qt::CaseInsensitive) == 0
        || word.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive);
}

QString shownWord(const QString &word)
{
    return word.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive) ? word.left(5) + QLatin1String("****")
                                                                        : word;
}

QString shownParam(const QString &word, const QString &param)
{
    return isPassCommand(word) && !param.isEmpty() ? QStringLiteral("****") : param;
}

QString shownLine(const QString &word, const QString &param)
{
    const QString w = shownWord(word);
    const QString p = shownParam(word, param);
    return p.isEmpty() ? w : w + QLatin1Char(' ') + p;
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

// The numeric text of the peer of a connected socket (IPv4 or IPv6, with its scope), or an
// empty string.
QString peerAddress(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) < 0)
        return QString();
    char text[NI_MAXHOST] = {};
    if (::getnameinfo(reinterpret_cast<const sockaddr *>(&peer), length, text, sizeof text, nullptr, 0,
                      NI_NUMERICHOST) != 0)
        return QString();
    return QString::fromLatin1(text);
}

bool isIpv6Peer(int fd)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    return ::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) == 0 && peer.ss_family == AF_INET6;
}

// The number a "213 <n>" reply (SIZE) carries.
std::optional<qint64> sizeInReply(const QString &line)
{
    bool ok = false;
    const qint64 n = line.mid(4).trimmed().toLongLong(&ok);
    return ok && n >= 0 ? std::optional<qint64>(n) : std::nullopt;
}

// The PASV address as a dotted quad, or an empty string when it is not one.
QString normalisedAddress(const QString &announced)
{
    in_addr parsed{};
    const QByteArray bytes = announced.simplified().remove(QLatin1Char(' ')).toLatin1();
    if (::inet_pton(AF_INET, bytes.constData(), &parsed) != 1)
        return QString();
    char text[INET_ADDRSTRLEN] = {};
    return ::inet_ntop(AF_INET, &parsed, text, sizeof text) ? QString::fromLatin1(text) : QString();
}

} // namespace

NetworkException::NetworkException(const QString &reason) : std::runtime_error(reason.toStdString()) {}

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
    : id_(++lastEngineId()), settings_(settings), canceller_(std::make_unique<ConnectCanceller>())
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
    if (!engine->controlConnection())
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
    std::lock_guard lock(stateMutex_);
    return PI && !tlsDescription_.isEmpty();
}

QString FTP::tlsDescription() const
{
    std::lock_guard lock(stateMutex_);
    return PI ? tlsDescription_ : QString();
}

void FTP::giveUp()
{
    close();
}

void FTP::endSession()
{
    givenUp_ = true;
    canceller_->cancel();
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
    resumable_ = TlsSession();
    const int fd = createSocket(server.host, server.port, settings_.timeouts.controlConnect, canceller_.get());
    zlog("Adresse : %@ socket : %i\n", address, fd);
    auto control = std::make_shared<Socket>(fd);
    {
        std::lock_guard lock(stateMutex_);
        // Given up while the connection was being made: it closes as it goes out of scope.
        if (!givenUp_)
            PI = std::move(control);
    }
    if (security == Security::ImplicitTls && !secureControlConnection(server))
        return;
    ret();
    if (!controlConnection() || (security != Security::Opportunistic && security != Security::ExplicitTls))
        return;
    const int auth = command(QStringLiteral("AUTH"), QStringLiteral("TLS"));
    if (auth == kAuthAccepted) {
        secureControlConnection(server);
        return;
    }
    if (!controlConnection())
        return;
    if (security == Security::ExplicitTls) {
        securityFailure_ = SecurityFailure::TlsRefused;
        closeBecause(QStringLiteral("Le serveur refuse AUTH TLS : on ferme la connexion"));
        throw NetworkException(QStringLiteral("AUTH TLS refuse par le serveur (%1)").arg(auth));
    }
    if (!policy_.clearAllowed) {
        // Nothing of the login has gone out yet: the user is asked before it goes in clear.
        securityFailure_ = SecurityFailure::ClearNotAllowed;
        closeBecause(QStringLiteral("Le serveur refuse AUTH TLS : on ferme la connexion avant d'envoyer le mot de passe en clair"));
        return;
    }
    zlog("Session non chiffree : le serveur refuse AUTH TLS");
}

bool FTP::secureControlConnection(const ServerAddress &server)
{
    const auto control = controlConnection();
    if (!control)
        return false;
    QString error;
    if (!control->startTlsClient(tlsContext(), server.host, {}, settings_.timeouts.controlConnect, &error)) {
        if (givenUp_) {
            // The connect was given up from another thread, which cut the handshake short.
            closeBecause(QStringLiteral("Connexion abandonnee pendant la negociation TLS"));
            return false;
        }
        closeBecause(QStringLiteral("Negociation TLS impossible : on ferme la connexion"));
        throw NetworkException(QStringLiteral("TLS [%1]").arg(error));
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
            closeBecause(QStringLiteral("Certificat de %1 non reconnu (%2) : on ferme la connexion")
                             .arg(key, peer.verifyError));
            return false;
        }
    }
    tlsHost_ = server.host;
    serverCertificate_ = peer.certificate.sha256;
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
    if (controlConnection()) {
        securityFailure_ = SecurityFailure::DataProtectionRefused;
        closeBecause(QStringLiteral("Le serveur refuse de chiffrer les donnees (PROT P) : on ferme la connexion"));
    }
    return false;
}

bool FTP::secureDataConnection(Socket &data, int code)
{
    if (!isEncrypted())
        return true;
    // Taken at the first data connection: under TLS 1.3 the session arrives after the
    // handshake, and every reply read since has brought it in. The control connection
    // marks it used once offered, so it is kept aside and offered as copies.
    if (const auto control = controlConnection(); control && resumable_.isNull())
        resumable_ = control->session().copy();
    const TlsSession session = resumable_.copy();
    QString error;
    bool secured = data.startTlsClient(tlsContext(), tlsHost_, session, settings_.timeouts.dataConnect, &error);
    if (!secured) {
        zlog("Connexion de donnees : negociation TLS impossible ==> %@", error);
    } else if (data.peer().certificate.sha256 != serverCertificate_) {
        // The user decided about the control connection's certificate only.
        zlog("Connexion de donnees : certificat different de celui de la connexion de controle");
        secured = false;
    }
    if (secured)
        return true;
    data.shutdownBoth();
    // The server answers the broken transfer; read now, the reply stays out of the next
    // command's way.
    if (code < 200)
        ret();
    return false;
}

bool FTP::logIn()
{
    // PASS goes out after any positive answer to USER. Some servers log in on USER alone
    // (230) and then refuse the superfluous PASS: the session is open all the same. A
    // failed login leaves no half-open session behind.
    const int user = command(QStringLiteral("USER ") + Login);
    const int pass = isPositive(user) ? command(QStringLiteral("PASS ") + Password) : -1;
    const bool loggedIn = (user >= 200 && user < 300 && controlConnection()) || isPositive(pass);
    loginRefused_ = !loggedIn && controlConnection() != nullptr;
    if (!loggedIn) {
        if (controlConnection())
            closeBecause(QStringLiteral("Identification refusee : on ferme la connexion"));
        return false;
    }
    // What the server offers decides how listings, passive connections and transfers are
    // asked for. A refused FEAT means none of it: the commands every server knows.
    QStringList lines;
    features_ = ServerFeatures{};
    if (sendCommand(QStringLiteral("FEAT"), QString()) && readReply(true, nullptr, &lines) == 211)
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
    const auto control = controlConnection();
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
    if (address_.isEmpty() || givenUp_ || transferRunning_ || !closedWhileIdle())
        return true;
    idleCloseLogged_ = false;
    zlog("Session fermee par le serveur pendant l'attente : on se reconnecte a %@", address_);
    dropConnections();
    try {
        open(address_);
    } catch (const NetworkException &e) {
        zlog("Reconnexion impossible ==> %@", e.reason());
        return false;
    }
    if (!controlConnection()) {
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


std::shared_ptr<Socket> FTP::controlConnection() const
{
    std::lock_guard lock(stateMutex_);
    return PI;
}

std::shared_ptr<Socket> FTP::dataConnection() const
{
    std::lock_guard lock(stateMutex_);
    return DTP;
}

bool FTP::isConnected()
{
    if (controlConnection())
        return true;
    zlog("On est Deconnecte");
    return false;
}

void FTP::close()
{
    // From outside the engine a close is a stop: the running download leaves no partial.
    stoppedByUser_ = true;
    endSession();
    dropConnections();
}

void FTP::dropConnections()
{
    std::shared_ptr<Socket> control;
    std::shared_ptr<Socket> data;
    {
        std::lock_guard lock(stateMutex_);
        control = std::move(PI);
        data = std::move(DTP);
        PI.reset();
        DTP.reset();
    }
    // Shutting down wakes a thread blocked on either socket; the descriptors themselves are
    // closed when their last user lets go, so none is reused under a running read.
    if (control)
        control->shutdownBoth();
    if (data)
        data->shutdownBoth();
}

void FTP::closeAfterTimeout(const char *where)
{
    zlog("Delai depasse dans %@ : on ferme la connexion", where);
    dropConnections();
}

void FTP::closeBecause(const QString &why)
{
    zlog("%@", why);
    dropConnections();
}

void FTP::shutdown()
{
    endSession();
    // A running transfer's worker is reading its completion reply on PI: a QUIT exchange
    // now would race it for the reply lines. Closing wakes the worker, which reports the
    // transfer as broken. A session the server closed has nobody left to say QUIT to.
    if (transferRunning_ || !controlConnection() || closedWhileIdle()) {
        close();
        return;
    }
    command(QStringLiteral("TYPE"), QStringLiteral("A"));
    command(QStringLiteral("QUIT"));
    close();
}

bool FTP::checkControlConnection()
{
    const auto control = controlConnection();
    if (!control)
        return false;
    // A transfer's worker reads its completion reply through the connection's read-ahead
    // and TLS layer, which no other thread may use meanwhile, even to peek; the worker
    // finds a lost connection itself.
    if (transferRunning_)
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
    return !address_.isEmpty() && !givenUp_ && controlConnection();
}

void FTP::keepAlive()
{
    if (!controlConnection() || transferRunning_ || closedWhileIdle())
        return;
    if (sendCommand(QStringLiteral("NOOP"), QString()))
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
    return readReply(true, nullptr);
}

int FTP::readReply(bool logCode, QString *lastLine, QStringList *allLines, int lineMs)
{
    if (!isConnected())
        return -1;
    Timeouts limitsInTime = settings_.timeouts;
    if (lineMs > 0)
        limitsInTime.replyLine = lineMs;
    ReplyBudget budget{Clock::now() + std::chrono::milliseconds(limitsInTime.replyTotal), settings_.limits.replyBytes};
    int lastCode = -1;
    QString line;
    QByteArray opening;
    for (;;) {
        const auto control = controlConnection();
        if (!control)
            return -1; // closed from another thread
        QByteArray bytes;
        switch (readReplyLine(*control, limitsInTime.replyLine, budget, bytes)) {
        case LineEnd::Complete:
            break;
        case LineEnd::TimedOut:
            closeAfterTimeout("ret");
            return -1;
        case LineEnd::TooLong:
            closeBecause(QStringLiteral("Reponse trop longue dans ret : on ferme la connexion"));
            return -1;
        case LineEnd::Closed:
            // The reply was cut: its outcome is unknown and nothing more will come.
            if (!bytes.isEmpty())
                zlog("RET() ==> %@", nameFromBytes(bytes));
            zlog("Connexion de controle perdue dans ret : on ferme la connexion");
            zlog("CLOSING CONNECTION !");
            dropConnections();
            return -1;
        }
        line = nameFromBytes(bytes);
        zlog("RET() ==> %@", line);
        if (lastLine)
            *lastLine = line;
        if (allLines)
            allLines->append(line);
        // Inside a reply opened with "nnn-", only "nnn " with the same code ends it; any
        // other line is text (FEAT's feature lines start with a space).
        if (!opening.isEmpty() && !(bytes.startsWith(opening) && bytes.size() > 3 && bytes.at(3) == ' '))
            continue;
        if (bytes.size() < 4)
            return -1; // no code to read: the caller must not take it for an answer
        lastCode = int(leadingInteger(QStringView(line).left(3)));
        if (logCode)
            zlog("ret : %d", lastCode);
        if (bytes.at(3) != '-')
            break;
        if (opening.isEmpty())
            opening = bytes.left(3);
    }
    if (lastCode == kServiceClosing) {
        // The server is going away: the connection is of no further use.
        zlog("CLOSING CONNECTION !");
        dropConnections();
    } else if (lastCode >= 400) {
        // A refusal concerns this command only; the session goes on.
        zlog("Commande refusee par le serveur : %@", line);
    }
    return lastCode;
}

int FTP::command(const QString &line)
{
    return command(line, QString());
}

int FTP::command(const QString &word, const QString &param)
{
    Action action(*this);
    return sendCommand(word, param) ? ret() : -1;
}

int FTP::query(const QString &word, const QString &param, QString *lastLine)
{
    return sendCommand(word, param) ? readReply(true, lastLine) : -1;
}

std::optional<QByteArray> FTP::commandLine(const QString &word, const QString &param)
{
    QString line = word;
    if (!param.isEmpty())
        line += QLatin1Char(' ') + param;

    // A CR or LF anywhere, the end included, would end the command early or put a second
    // one on the wire, for instance from a file name chosen by the server. The terminator
    // is added here and nowhere else.
    if (line.contains(QLatin1Char('\r')) || line.contains(QLatin1Char('\n'))) {
        zlog("Commande refusee (retour a la ligne dans la commande) : %@", shownLine(word, param));
        return std::nullopt;
    }
    QByteArray bytes = bytesOfName(line);
    bytes.append("\r\n");
    return bytes;
}

bool FTP::writeCommands(const QByteArray &bytes, const QString &word, const QString &param)
{
    if (const auto control = controlConnection()) {
        if (!control->writeAll(bytes.constData(), bytes.size(), settings_.timeouts.replyLine)) {
            zlog("Exception recue dans command: %@ withParam: %@ ==> %@", shownWord(word), shownParam(word, param),
                 networkError("write").reason());
            // Whatever the error, the control connection can no longer carry a command.
            dropConnections();
            return false;
        }
    }
    return true;
}

bool FTP::sendCommand(const QString &word, const QString &param)
{
    const auto bytes = commandLine(word, param);
    if (!bytes)
        return false;
    zlog("=> >%@<", shownLine(word, param));
    return writeCommands(*bytes, word, param);
}

QString FTP::serverAddress() const
{
    const auto control = controlConnection();
    return control ? peerAddress(control->fileDescriptor()) : QString();
}

int FTP::passivePort(const QList<SentAhead> &along)
{
    const auto control = controlConnection();
    if (!control)
        return 0;
    // EPSV names no address, so it works whatever the family; PASV cannot name an IPv6 one.
    if (!epsvRefused_ && (features_.epsv || isIpv6Peer(control->fileDescriptor()))) {
        QString reply;
        int code = -1;
        // The server reads the lines in turn, as if they had come one by one; only the
        // waits between them go. Not before EPSV has worked here: a refusal would put the
        // commands ahead of the PASV that follows it.
        QByteArray lines = "EPSV\r\n";
        // The first `going` commands of `along`: up to one that cannot be sent.
        qsizetype going = 0;
        for (; epsvWorked_ && going < along.size(); ++going) {
            const auto line = commandLine(along[going].word, along[going].param);
            if (!line)
                break;
            lines += *line;
        }
        if (going > 0) {
            zlog("=> >%@<", shownLine(QStringLiteral("EPSV"), QString()));
            if (!writeCommands(lines, QStringLiteral("EPSV"), QString()))
                return 0;
            ahead_ = along.first(going);
            code = readReply(true, &reply);
        } else {
            code = query(QStringLiteral("EPSV"), QString(), &reply);
        }
        if (isCompletion(code)) {
            epsvWorked_ = true;
            const auto port = parseEpsvReply(reply);
            if (!port)
                zlog("Exception recue dans pasv ==> %@", QStringLiteral("no port in: ") + reply);
            return port.value_or(0);
        }
        if (!isConnected() || code < 500)
            return 0;
        epsvRefused_ = true;
        zlog("EPSV refuse : on passe a PASV pour cette session");
        // What went along is answered before PASV is; the caller sends its own again.
        settleAllAhead();
        if (!isConnected())
            return 0;
    }
    zlog("=> PASV\n");
    static constexpr char kPasv[] = "PASV\r\n";
    if (!control->writeAll(kPasv, qint64(sizeof kPasv - 1), settings_.timeouts.replyLine)) {
        zlog("Exception recue dans pasv ==> %@", networkError("write").reason());
        dropConnections();
        return 0;
    }
    QString reply;
    const int code = readReply(false, &reply);
    if (!isConnected() || !isCompletion(code))
        return 0;
    const auto announced = parsePasvReply(reply);
    if (!announced) {
        zlog("Exception recue dans pasv ==> %@", QStringLiteral("no address between parentheses in: ") + reply);
        return 0;
    }
    // The announced text comes from the server: shown escaped, it cannot drive the terminal.
    std::printf("IP : %s\n", escapedForLog(announced->host).toUtf8().constData());
    std::printf("Port : %i \n", announced->port);
    std::fflush(stdout);
    const QString server = serverAddress();
    if (!server.isEmpty() && normalisedAddress(announced->host) != server)
        zlog("Adresse PASV %@ differente de celle du serveur, on utilise %@", announced->host, server);
    return announced->port;
}

std::optional<int> FTP::settleAhead(int lineMs, QString *lastLine)
{
    if (ahead_.isEmpty())
        return std::nullopt;
    const SentAhead command = ahead_.takeFirst();
    // Logged where it would have been sent one by one: just before its reply.
    zlog("=> >%@<", shownLine(command.word, command.param));
    return readReply(true, lastLine, nullptr, lineMs);
}

std::optional<FTP::RemoteFacts> FTP::settleFactsAhead()
{
    std::optional<RemoteFacts> facts;
    while (!ahead_.isEmpty()) {
        const QString &word = ahead_.first().word;
        const bool size = word == QLatin1String("SIZE");
        if (!size && word != QLatin1String("MDTM"))
            break;
        if (!facts)
            facts.emplace();
        QString reply;
        const int code = settleAhead(0, &reply).value_or(-1);
        facts->take(size, code, reply);
    }
    return facts;
}

int FTP::settleAllAhead(int lineMs)
{
    int code = -1;
    while (const auto answer = settleAhead(lineMs)) {
        code = *answer;
        if (code >= 100 && code < 200) {
            ahead_.clear();
            closeBecause(QStringLiteral("Transfert commence sans connexion de donnees : on ferme la connexion"));
            return -1;
        }
    }
    return code;
}

int FTP::settleCommandAhead(bool typeRefused, Socket &data)
{
    const int code = settleAhead().value_or(-1);
    // Taken up in the wrong representation: nothing is read from it, and the server's
    // completion reply is read once the connection is closed.
    if (typeRefused && code >= 100 && code < 400) {
        data.shutdownBoth();
        if (code < 200)
            ret();
    }
    return code;
}

int FTP::settleWithoutDataConnection(const QString &verb)
{
    // A server refuses a command sent along at once, and may close its passive listener
    // before the connection comes: its answer is there. One that took the command up waits
    // for the connection instead, and would answer only at its own time-out; a short wait
    // tells the two apart, and closes the connection in the second.
    static constexpr int kAnswerWithoutDataConnectionMs = 2000;
    const bool wentAlong = !ahead_.isEmpty() && ahead_.last().word == verb;
    const int answer = settleAllAhead(wentAlong ? kAnswerWithoutDataConnectionMs : 0);
    return wentAlong ? answer : -1;
}

int FTP::setType(const QString &type)
{
    if (!ahead_.isEmpty() && ahead_.first().word == QLatin1String("TYPE"))
        return *settleAhead();
    return command(QStringLiteral("TYPE"), type);
}

void FTP::pasv(const QString &type)
{
    pasv(type, {});
}

void FTP::pasv(const QString &type, const QList<SentAhead> &after)
{
    settleAllAhead();
    if (!isConnected())
        return;
    {
        // A new PASV makes the previous data connection useless; a transfer worker that
        // still holds it keeps it until it lets go.
        std::lock_guard lock(stateMutex_);
        DTP.reset();
    }
    QList<SentAhead> along;
    if (!type.isEmpty()) {
        along.append({QStringLiteral("TYPE"), type});
        along.append(after);
    }
    const int port = passivePort(along);
    if (port <= 0)
        return;
    // The data connection goes to the host we are already talking to: a passive reply must
    // not be able to send the client to a third host (FTP bounce).
    const QString server = serverAddress();
    if (server.isEmpty()) {
        zlog("Exception recue dans pasv ==> %@", networkError("getpeername").reason());
        return;
    }
    int fd = -1;
    try {
        fd = createSocket(server, port, settings_.timeouts.dataConnect, canceller_.get());
    } catch (const NetworkException &e) {
        zlog("Exception recue dans pasv ==> %@", e.reason());
        return;
    }
    zlog("Adresse : %@ socket : %i port : %i\n", server, fd, port);
    auto data = std::make_shared<Socket>(fd);
    std::lock_guard lock(stateMutex_);
    if (PI) // not closed meanwhile by another thread
        DTP = std::move(data);
}

std::optional<QList<File>> FTP::list(const QString &path)
{
    Action action(*this);
    zlog("On entre dans list()");
    const auto exitLog = qScopeGuard([] { zlog("Sortie de la fonction list()"); });
    if (!isConnected())
        return std::nullopt;
    // LIST with a path is read by many servers as options and patterns ("dir with spaces"
    // lists nothing): change into the directory and list it without an argument.
    if (!path.isEmpty() && !isCompletion(command(QStringLiteral("CWD"), path)))
        return std::nullopt;
    // MLSD gives exact sizes, types and UTC times; some servers announce it and then refuse
    // it, and LIST serves them for the rest of the session.
    if (features_.mlsd && !mlsdFailed_) {
        int refusal = 0;
        auto listed = listing(QStringLiteral("MLSD"), QString(), path, &refusal);
        if (listed)
            return std::move(listed->entries);
        if (refusal < 400 || !isConnected())
            return std::nullopt;
        mlsdFailed_ = true;
        zlog("MLSD refuse : on utilise LIST pour cette session");
    }
    auto listed = listing(QStringLiteral("LIST"), QString(), path);
    if (!listed)
        return std::nullopt;
    return std::move(listed->entries);
}

std::optional<FTP::ListedEntries> FTP::listing(const QString &verb, const QString &argument, const QString &path,
                                               int *refusal)
{
    // The listing command goes with EPSV and TYPE once EPSV has worked: one round trip less
    // for each directory opened. It changes nothing on the server, so it does no harm when
    // what went before it is refused.
    pasv(QStringLiteral("A"), {SentAhead{verb, argument}});
    const auto data = dataConnection();
    if (!data) {
        settleWithoutDataConnection(verb);
        return std::nullopt;
    }

    // The data connection serves this listing only: it is closed on every way out, and as
    // soon as the listing has been read, before the completion reply. Some servers send
    // that reply only once the client has closed (proftpd lingers ~10 s otherwise).
    const auto releaseData = [this, &data] {
        {
            std::lock_guard lock(stateMutex_);
            if (DTP == data)
                DTP.reset();
        }
        if (data->isEncrypted())
            data->closeNotify(settings_.timeouts.dataIdle);
        data->shutdownBoth();
    };
    const auto dropData = qScopeGuard(releaseData);

    const bool typeSet = isPositive(setType(QStringLiteral("A")));
    int code = -1;
    if (!ahead_.isEmpty()) {
        code = settleCommandAhead(!typeSet, *data);
        if (!typeSet)
            return std::nullopt;
    } else if (typeSet) {
        code = command(verb, argument);
    } else {
        return std::nullopt;
    }
    if (code < 100 || code >= 300) {
        if (refusal)
            *refusal = code;
        return std::nullopt; // refused or not sent: nothing will come on the data connection
    }
    if (!secureDataConnection(*data, code))
        return std::nullopt;

    auto listing = readListing(*data, path);
    if (!listing) {
        // A cut TLS stream is a complete transfer to the server, which answers it; that
        // reply must not be taken for the next command's.
        if (data->endedWithoutCloseNotify() && code < 200) {
            releaseData();
            ret();
        }
        return std::nullopt;
    }
    releaseData();
    // A 1xx reply announced the transfer; its completion follows. A 2xx was already it.
    if (code < 200 && !isCompletion(ret()))
        return std::nullopt;

    const qsizetype nul = listing->indexOf('\0');
    if (nul >= 0)
        listing->truncate(nul);
    zlog("Buf NLST : %@", PeerBytes{*listing});
    ListedEntries listed = listEntries(*listing, verb == QLatin1String("MLSD"), settings_.limits);
    if (listed.cut)
        zlog("Listing de %@ coupe : %i entrees gardees, les suivantes sont ignorees", path, listed.entries.size());
    return listed;
}

qint64 FTP::size(const QString &path)
{
    Action action(*this);
    if (!isConnected())
        return -1;
    if (features_.size) {
        // SIZE counts bytes as they would be transferred: in binary mode, the file's own.
        command(QStringLiteral("TYPE"), QStringLiteral("I"));
        if (const auto exact = remoteSize(path))
            return *exact;
    }
    // A file cannot be changed into: it is named on the LIST line itself.
    zlog("On entre dans list()");
    const auto exitLog = qScopeGuard([] { zlog("Sortie de la fonction list()"); });
    // One line, naming the file: a directory's listing has a line per entry and may have
    // a summary line besides.
    const auto listed = listing(QStringLiteral("LIST"), path, path);
    if (!listed || listed->lines != 1 || listed->entries.size() != 1)
        return -1;
    return listed->entries.first().size();
}

std::optional<qint64> FTP::remoteSize(const QString &path)
{
    QString reply;
    if (!features_.size || query(QStringLiteral("SIZE"), path, &reply) != 213)
        return std::nullopt;
    return sizeInReply(reply);
}

FTP::RemoteFacts FTP::remoteFacts(const QString &path)
{
    // Both questions go in one write and their replies are read in turn, as when they go
    // along with a download: one round trip instead of two, which is a good part of a small
    // file's time.
    QByteArray lines;
    QList<SentAhead> asked;
    for (const auto &[offered, word] : {std::pair{features_.size, QStringLiteral("SIZE")},
                                        std::pair{features_.mdtm, QStringLiteral("MDTM")}}) {
        if (!offered)
            continue;
        const auto line = commandLine(word, path);
        if (!line)
            return {};
        lines += *line;
        asked.append({word, path});
    }
    if (asked.isEmpty() || !writeCommands(lines, asked.first().word, path))
        return {};
    ahead_.append(asked);
    return settleFactsAhead().value_or(RemoteFacts{});
}

void FTP::RemoteFacts::take(bool isSize, int code, const QString &reply)
{
    if (code != 213)
        return;
    if (isSize)
        size = sizeInReply(reply);
    else
        modified = parseFtpTime(QStringView(reply).mid(4).trimmed());
}

int FTP::createSocket(const QString &address, int port, int connectTimeoutMs, const ConnectCanceller *canceller)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    errno = 0;
    const QByteArray service = QByteArray::number(port);
    if (::getaddrinfo(address.toUtf8().constData(), service.constData(), &hints, &found) != 0 || !found)
        throw networkError("gethostbyname");
    const auto freeFound = qScopeGuard([found] { ::freeaddrinfo(found); });
    int count = 0;
    for (const addrinfo *a = found; a; a = a->ai_next)
        ++count;

    // The resolver's order is the preferred one; an address that fails or keeps silent
    // leaves the rest of the time to the next ones, so one dead address cannot use it all.
    const auto deadline = Clock::now() + std::chrono::milliseconds(connectTimeoutMs);
    std::optional<NetworkException> last;
    for (const addrinfo *a = found; a; a = a->ai_next, --count) {
        try {
            UniqueFd fd(::socket(a->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (fd.get() < 0)
                throw networkError("Socket Creation");
            const linger lingerOn{1, 10};
            if (::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &lingerOn, sizeof lingerOn) < 0)
                throw networkError("Error with setsockopt");
            connectOrThrow(fd.get(), *a, millisecondsUntil(deadline) / count, canceller);
            return fd.release();
        } catch (const NetworkException &e) {
            last = e;
            if (canceller && canceller->isCancelled())
                break; // given up: the other addresses are not tried
        }
    }
    throw *last;
}

} // namespace zodaru
