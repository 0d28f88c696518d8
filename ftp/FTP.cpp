// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/FTP.h"

#include "ftp/Log.h"
#include "ftp/Socket.h"
#include "ftp/ftpparse.h"

#include <QScopeGuard>

#include <algorithm>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zodaru {

namespace {

constexpr qsizetype kMaxReplyLine = 64 * 1024;
constexpr int kControlPort = 21;

std::mutex &timeoutsMutex()
{
    static std::mutex m;
    return m;
}

FTP::Timeouts &currentTimeouts()
{
    static FTP::Timeouts t;
    return t;
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

void connectWithin(int fd, const sockaddr_in &address, int timeoutMs)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        throw networkError("connect");
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0) {
        if (errno != EINPROGRESS)
            throw networkError("connect");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd, POLLOUT, 0};
            const int r = ::poll(&p, 1, left.count() > 0 ? int(left.count()) : 0);
            if (r > 0)
                break;
            if (r == 0) {
                errno = ETIMEDOUT;
                throw networkError("connect");
            }
            if (errno != EINTR)
                throw networkError("connect");
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0)
            throw networkError("connect");
        if (error != 0) {
            errno = error;
            throw networkError("connect");
        }
    }
    // Reads and writes wait with poll(); the descriptor itself goes back to blocking.
    if (::fcntl(fd, F_SETFL, flags) < 0)
        throw networkError("connect");
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

// Keeps a refused line on one log line.
QString escapedLineBreaks(QString text)
{
    return text.replace(QLatin1Char('\r'), QLatin1String("\\r")).replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

// "host:port" names a non-standard port; anything else is a host alone on port 21.
std::pair<QString, int> splitServer(const QString &server)
{
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    if (colon > 0) {
        bool ok = false;
        const QStringView digits = QStringView(server).mid(colon + 1);
        const int port = digits.toInt(&ok);
        const bool allDigits = std::all_of(digits.begin(), digits.end(), [](QChar c) { return c.isDigit(); });
        if (ok && allDigits && port > 0 && port <= 65535)
            return {server.left(colon), port};
    }
    return {server, kControlPort};
}

// The dotted text of the peer of a connected socket, or an empty string.
QString peerAddress(int fd)
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&peer), &length) < 0 || peer.sin_family != AF_INET)
        return QString();
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text))
        return QString();
    return QString::fromLatin1(text);
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

FTP::Timeouts FTP::timeouts()
{
    std::lock_guard lock(timeoutsMutex());
    return currentTimeouts();
}

void FTP::setTimeouts(const Timeouts &t)
{
    std::lock_guard lock(timeoutsMutex());
    currentTimeouts() = t;
}

FTP::FTP() = default;
FTP::~FTP() = default;

std::shared_ptr<FTP> FTP::create()
{
    return std::shared_ptr<FTP>(new FTP());
}

std::shared_ptr<FTP> FTP::connectTo(const QString &address)
{
    const auto [host, port] = splitServer(address);
    const int fd = createSocket(host, port, timeouts().controlConnect);
    zlog("Adresse : %@ socket : %i\n", address, fd);
    auto engine = create();
    engine->PI = std::make_shared<Socket>(fd);
    engine->ret();
    return engine;
}

std::shared_ptr<FTP> FTP::connectTo(const QString &address, const QString &login, const QString &password)
{
    auto engine = connectTo(address);
    engine->Login = login;
    engine->Password = password;
    // PASS goes out whatever USER answered: some servers log in on USER alone.
    engine->command(QStringLiteral("USER ") + engine->Login);
    engine->command(QStringLiteral("PASS ") + engine->Password);
    return engine;
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
    close();
}

void FTP::shutdown()
{
    // A running transfer's worker is reading its completion reply on PI: a QUIT exchange
    // now would race it for the reply lines. Closing wakes the worker, which reports the
    // transfer as broken.
    if (transferRunning_) {
        close();
        return;
    }
    command(QStringLiteral("TYPE"), QStringLiteral("A"));
    command(QStringLiteral("QUIT"));
    close();
}

int FTP::cd(const QString &path)
{
    command(QStringLiteral("TYPE"), QStringLiteral("A"));
    return command(QStringLiteral("CWD"), path);
}

std::optional<QString> FTP::readLineFrom(Socket *handle)
{
    if (!handle)
        return QString();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeouts().replyLine);
    QByteArray line;
    bool heldCr = false;
    auto append = [&line](char c) {
        // Past the cap the line is still read to its end, so the next reply stays in step.
        if (line.size() < kMaxReplyLine)
            line.append(c);
    };
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        char c = 0;
        // One byte per read: whatever follows this line belongs to the next reply.
        const qint64 n = handle->readSome(&c, 1, int(qMax<qint64>(0, left.count())));
        if (n == Socket::TimedOut)
            return std::nullopt;
        if (n != 1)
            break;
        if (c == '\r') {
            heldCr = true; // a second CR in a row is dropped
            continue;
        }
        if (c == '\n' && heldCr)
            break;
        if (heldCr) {
            append('\r');
            heldCr = false;
        }
        append(c);
    }
    return QString::fromUtf8(line);
}

int FTP::ret()
{
    return readReply(true, nullptr);
}

int FTP::readReply(bool logCode, QString *lastLine)
{
    if (!isConnected())
        return -1;
    int lastCode = -1;
    for (;;) {
        const auto control = controlConnection();
        if (!control)
            return lastCode; // closed from another thread
        const std::optional<QString> line = readLineFrom(control.get());
        if (!line) {
            closeAfterTimeout("ret");
            return -1;
        }
        zlog("RET() ==> %@", *line);
        if (lastLine)
            *lastLine = *line;
        if (line->size() < 4)
            return lastCode;
        lastCode = int(leadingInteger(QStringView(*line).left(3)));
        if (logCode)
            zlog("ret : %d", lastCode);
        if (lastCode >= 400) {
            zlog("CLOSING CONNECTION !");
            close();
            return lastCode;
        }
        // "nnn-" announces more lines; the reply ends at the first line without it.
        if (line->at(3) != QLatin1Char('-'))
            return lastCode;
    }
}

int FTP::command(const QString &line)
{
    return command(line, QString());
}

int FTP::command(const QString &word, const QString &param)
{
    QString line = word;
    if (!param.isEmpty())
        line += QLatin1Char(' ') + param;

    // A line break inside the line would put a second command on the wire, for instance
    // from a file name chosen by the server. Only a final CR is a terminator.
    const QStringView body = QStringView(line).chopped(line.isEmpty() ? 0 : 1);
    if (body.contains(QLatin1Char('\r')) || body.contains(QLatin1Char('\n'))) {
        zlog("Commande refusee (retour a la ligne dans la commande) : %@",
             escapedLineBreaks(shownLine(word, param)));
        return -1;
    }

    zlog("=> >%@<", shownLine(word, param));
    QByteArray bytes = line.toUtf8();
    bytes.append(line.endsWith(QLatin1Char('\r')) ? "\n" : "\r\n");
    if (const auto control = controlConnection()) {
        if (!control->writeAll(bytes.constData(), bytes.size(), timeouts().replyLine)) {
            const bool timedOut = errno == ETIMEDOUT;
            zlog("Exception recue dans command: %@ withParam: %@ ==> %@", shownWord(word), shownParam(word, param),
                 networkError("write").reason());
            if (timedOut)
                close();
            return -1;
        }
    }
    return ret();
}

void FTP::pasv()
{
    if (!isConnected())
        return;
    zlog("=> PASV\n");
    const auto control = controlConnection();
    if (!control)
        return;
    static constexpr char kPasv[] = "PASV\r\n";
    if (!control->writeAll(kPasv, qint64(sizeof kPasv - 1), timeouts().replyLine)) {
        const bool timedOut = errno == ETIMEDOUT;
        zlog("Exception recue dans pasv ==> %@", networkError("write").reason());
        if (timedOut)
            close();
        return;
    }
    QString reply;
    readReply(false, &reply);
    if (!isConnected())
        return;

    const qsizetype open = reply.indexOf(QLatin1Char('('));
    const qsizetype closing = reply.indexOf(QLatin1Char(')'));
    if (open < 0 || closing < 0 || closing < open) {
        zlog("Exception recue dans pasv ==> %@", QStringLiteral("no address between parentheses in: ") + reply);
        return;
    }
    const QStringList fields = reply.mid(open + 1, closing - open - 1).split(QLatin1Char(','));
    if (fields.size() != 6)
        return;
    const QString announced = fields.mid(0, 4).join(QLatin1Char('.'));
    const int port = int(quint32(leadingInteger(fields[4]) * 256 + leadingInteger(fields[5])));
    std::printf("IP : %s\n", announced.toUtf8().constData());
    std::printf("Port : %i \n", port);
    std::fflush(stdout);

    // The data connection goes to the host we are already talking to: a PASV reply must
    // not be able to send the client to a third host (FTP bounce).
    const QString server = peerAddress(control->fileDescriptor());
    if (server.isEmpty()) {
        zlog("Exception recue dans pasv ==> %@", networkError("getpeername").reason());
        return;
    }
    if (normalisedAddress(announced) != server)
        zlog("Adresse PASV %@ differente de celle du serveur, on utilise %@", announced, server);

    int fd = -1;
    try {
        fd = createSocket(server, port, timeouts().dataConnect);
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
    zlog("On entre dans list()");
    const auto exitLog = qScopeGuard([] { zlog("Sortie de la fonction list()"); });
    if (!isConnected())
        return std::nullopt;
    const auto previous = dataConnection();
    pasv();
    if (!isConnected())
        return std::nullopt;
    command(QStringLiteral("TYPE"), QStringLiteral("A"));
    command(QStringLiteral("LIST"), path);

    const auto data = dataConnection();
    // An old data connection left over by a failed PASV holds nothing of this listing.
    if (!data || data == previous)
        return std::nullopt;

    // Once LIST has been answered this connection is of no further use, whatever happens
    // below: it is closed now rather than left open until the next PASV, and a later
    // listing can never mistake it for its own.
    const auto dropData = qScopeGuard([this, &data] {
        {
            std::lock_guard lock(stateMutex_);
            if (DTP == data)
                DTP.reset();
        }
        data->shutdownBoth();
    });

    QByteArray listing;
    char buffer[16384];
    for (;;) {
        const qint64 n = data->readSome(buffer, qint64(sizeof buffer), timeouts().dataIdle);
        if (n > 0) {
            listing.append(buffer, qsizetype(n));
            continue;
        }
        if (n == 0)
            break;
        if (n == Socket::TimedOut) {
            closeAfterTimeout("list");
            return std::nullopt;
        }
        zlog("Exception recue dans list: %@ ", path);
        return std::nullopt;
    }
    ret();

    const qsizetype nul = listing.indexOf('\0');
    if (nul >= 0)
        listing.truncate(nul);
    zlog("Buf NLST : %@", QString::fromUtf8(listing));

    QList<File> entries;
    qsizetype start = 0;
    while (start < listing.size()) {
        qsizetype end = listing.indexOf('\n', start);
        // A last line without LF is still a line: dropping it would hide a file.
        const qsizetype next = end < 0 ? listing.size() : end + 1;
        if (end < 0)
            end = listing.size();
        qsizetype length = end - start;
        if (length > 0 && listing.at(start + length - 1) == '\r')
            --length;
        ParsedListLine parsed;
        ftpparse(&parsed, listing.constData() + start, int(qMin<qsizetype>(length, INT_MAX)));
        const QString name =
            parsed.name && parsed.nameLength > 0 ? QString::fromUtf8(parsed.name, parsed.nameLength) : QString();
        const qint32 type = !parsed.canEnter ? 0 : (parsed.canRetrieve ? 2 : 1);
        File entry(name, parsed.size, type);
        entry.print();
        entries.append(entry);
        start = next;
    }
    return entries;
}

qint64 FTP::size(const QString &path)
{
    if (!isConnected())
        return -1;
    const auto entries = list(path);
    if (!entries || entries->size() != 1)
        return -1;
    return entries->first().size();
}

int FTP::createSocket(const QString &address, int port, int connectTimeoutMs)
{
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        throw networkError("Socket Creation");

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    errno = 0;
    if (::getaddrinfo(address.toUtf8().constData(), nullptr, &hints, &found) != 0 || !found)
        throw networkError("gethostbyname");
    sockaddr_in target{};
    std::memcpy(&target, found->ai_addr, qMin<size_t>(found->ai_addrlen, sizeof target));
    ::freeaddrinfo(found);
    target.sin_family = AF_INET;
    target.sin_port = htons(quint16(port));

    const linger lingerOn{1, 10};
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &lingerOn, sizeof lingerOn) < 0)
        throw networkError("Error with setsockopt");

    connectWithin(fd.get(), target, connectTimeoutMs);
    return fd.release();
}

} // namespace zodaru
