// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Connect.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zodaru {

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadlineIn(int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::clamp<qint64>(left.count(), 0, INT_MAX));
}

// Owns a descriptor until it is handed over, so that every failure path of connectTcp()
// closes it.
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

NetworkException::Kind kindOf(int error)
{
    switch (error) {
    case ETIMEDOUT:
        return NetworkException::Kind::TimedOut;
    case ECANCELED:
        return NetworkException::Kind::GivenUp;
    default:
        return NetworkException::Kind::Unreachable;
    }
}

// Built with errno read first: nothing between the failing call and this may change it.
NetworkException networkError(const char *label)
{
    const int error = errno;
    errno = error;
    return NetworkException(systemErrorReason(label), kindOf(error));
}

// A connect that failed, was given up (ECANCELED) or timed out, as the exception.
void connectOrThrow(int fd, const addrinfo &to, int timeoutMs, const ConnectCanceller *canceller)
{
    if (const int error = connectWithin(fd, to.ai_addr, to.ai_addrlen, timeoutMs, canceller)) {
        errno = error;
        throw networkError("connect");
    }
}

} // namespace

NetworkException::NetworkException(const QString &reason, Kind kind)
    : std::runtime_error(reason.toStdString()), kind_(kind)
{
}

QString systemErrorReason(const char *label)
{
    const int error = errno;
    char buffer[256];
    // GNU strerror_r: thread-safe, may return a static string instead of filling buffer.
    const QString text = QString::fromLocal8Bit(strerror_r(error, buffer, sizeof buffer));
    return QStringLiteral("%1 [errno(%2) : %3]").arg(QString::fromLatin1(label)).arg(error).arg(text);
}

ConnectCanceller::ConnectCanceller() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

ConnectCanceller::~ConnectCanceller()
{
    if (fd_ >= 0)
        ::close(fd_);
}

void ConnectCanceller::cancel()
{
    cancelled_ = true;
    // Never read back: the descriptor stays readable, which wakes every poll on it.
    const std::uint64_t one = 1;
    if (fd_ >= 0)
        (void)!::write(fd_, &one, sizeof one);
}

int connectWithin(int fd, const sockaddr *address, socklen_t addressLength, int timeoutMs,
                  const ConnectCanceller *canceller)
{
    if (canceller && canceller->isCancelled())
        return ECANCELED;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return errno;
    // Without an eventfd a cancel is seen at the next of these slices.
    constexpr int kSliceMs = 200;
    const int wakeFd = canceller ? canceller->fileDescriptor() : -1;
    int result = 0;
    if (::connect(fd, address, addressLength) < 0) {
        result = errno;
        const auto deadline = deadlineIn(timeoutMs);
        while (result == EINPROGRESS || result == EINTR) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            int waitMs = left.count() > 0 ? int(std::min<qint64>(left.count(), INT_MAX)) : 0;
            if (canceller && wakeFd < 0)
                waitMs = std::min(waitMs, kSliceMs);
            pollfd p[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
            const int r = ::poll(p, 2, waitMs);
            if (canceller && canceller->isCancelled()) {
                result = ECANCELED;
            } else if (r > 0 && p[0].revents != 0) {
                socklen_t length = sizeof result;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &result, &length) < 0)
                    result = errno;
            } else if (r < 0 && errno != EINTR) {
                result = errno;
            } else if (r == 0 && Clock::now() >= deadline) {
                result = ETIMEDOUT;
            }
        }
    }
    // Reads and writes wait with poll(); the descriptor itself goes back to blocking.
    if (result == 0 && ::fcntl(fd, F_SETFL, flags) < 0)
        result = errno;
    return result;
}

int connectTcp(const QString &host, int port, int timeoutMs, const ConnectCanceller *canceller)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    errno = 0;
    const QByteArray service = QByteArray::number(port);
    if (::getaddrinfo(host.toUtf8().constData(), service.constData(), &hints, &found) != 0 || !found)
        throw networkError("gethostbyname");
    const auto freeFound = qScopeGuard([found] { ::freeaddrinfo(found); });
    int count = 0;
    for (const addrinfo *a = found; a; a = a->ai_next)
        ++count;

    // The resolver's order is the preferred one; an address that fails or keeps silent
    // leaves the rest of the time to the next ones, so one dead address cannot use it all.
    const auto deadline = deadlineIn(timeoutMs);
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

} // namespace zodaru
