// SPDX-License-Identifier: GPL-3.0-or-later
// Opening TCP connections: every address of a host tried in turn within one time limit,
// abandoned at once from another thread through a ConnectCanceller.
#pragma once

#include <QString>
#include <QtGlobal>

#include <atomic>
#include <stdexcept>

#include <sys/socket.h>

namespace zodaru {

// Raised when a connection cannot be opened. name() is "NetworkException"; reason() is
// "<label> [errno(<n>) : <text>]" for a TCP connect, or the text given. kind() says why,
// for the callers that act on it.
class NetworkException final : public std::runtime_error {
public:
    enum class Kind {
        Unreachable,     // no address answered (refused, no route, unknown host, no socket)
        TimedOut,        // no address answered within the time limit
        GivenUp,         // abandoned from another thread
        TlsRefused,      // the server refused AUTH TLS where TLS was required
        TlsHandshake,    // the TLS handshake failed
    };
    explicit NetworkException(const QString &reason, Kind kind = Kind::Unreachable);
    static QString name() { return QStringLiteral("NetworkException"); }
    QString reason() const { return QString::fromUtf8(what()); }
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// Lets another thread abandon a connect in progress at once: an eventfd that the
// connecting thread polls beside the socket. Cancelled stays cancelled, so every later
// connect given it fails at once too. cancel() and isCancelled() from any thread.
class ConnectCanceller final {
public:
    ConnectCanceller();
    ~ConnectCanceller();
    Q_DISABLE_COPY_MOVE(ConnectCanceller)

    void cancel();
    bool isCancelled() const { return cancelled_.load(); }
    // What connectWithin() polls; -1 when no eventfd could be made (it then looks at
    // isCancelled() every few tenths of a second instead).
    int fileDescriptor() const { return fd_; }

private:
    const int fd_;
    std::atomic<bool> cancelled_{false};
};

// Connects the unconnected socket `fd` to `address` within `timeoutMs`, without blocking
// the descriptor, and returns at once when `canceller` (may be null) is cancelled. 0 when
// connected, else the error number: ETIMEDOUT, ECANCELED or connect()'s own. The
// descriptor is left blocking, as it was.
int connectWithin(int fd, const sockaddr *address, socklen_t addressLength, int timeoutMs,
                  const ConnectCanceller *canceller);

// "<label> [errno(<n>) : <text>]" for the error errno holds now.
QString systemErrorReason(const char *label);

// Opens a TCP connection to `host` (a host name, IPv4 or IPv6 literal) and `port`: every
// address the resolver gives, IPv6 and IPv4, is tried in its order until one answers, all
// within `timeoutMs`. Returns the connected descriptor (close-on-exec, 10 s linger), which
// the caller owns. Throws NetworkException; `canceller`, when given, abandons the attempt
// at once once cancelled (errno ECANCELED, kind GivenUp).
int connectTcp(const QString &host, int port, int timeoutMs, const ConnectCanceller *canceller = nullptr);

// The numeric text of the peer of a connected socket (IPv4 or IPv6, with its scope), or
// an empty string.
QString peerAddress(int fd);
// True when the peer of a connected socket is an IPv6 address.
bool isIpv6Peer(int fd);

} // namespace zodaru
