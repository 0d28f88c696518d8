// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/Socket.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <climits>
#include <cstdint>
#include <mutex>
#include <utility>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zodaru {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on `fd`; the deadline is absolute so that signals restarting poll()
// never stretch the wait. Returns 1 when ready, 0 on time-out, -1 on error.
int waitFor(int fd, short events, Clock::time_point deadline)
{
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, left.count() > 0 ? int(left.count()) : 0);
        if (r > 0)
            return 1; // readiness, hang-up or error: the next read or write tells which
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

Clock::time_point deadlineIn(int timeoutMs)
{
    return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// --- The TLS layer's transport: the descriptor itself, never blocking ---
// OpenSSL's own socket transport would block on a blocking descriptor and raise SIGPIPE
// on a closed one; this one behaves like the plain path (MSG_DONTWAIT, MSG_NOSIGNAL) and
// leaves the waiting, with its time limits, to Socket.

int descriptorOf(BIO *bio)
{
    return int(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int transportRead(BIO *bio, char *buffer, int size)
{
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::recv(descriptorOf(bio), buffer, size_t(size), MSG_DONTWAIT);
        if (n == 0)
            BIO_set_flags(bio, BIO_FLAGS_IN_EOF); // lets OpenSSL tell a cut stream from a wait
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_read(bio);
        return -1;
    }
}

int transportWrite(BIO *bio, const char *data, int size)
{
    BIO_clear_retry_flags(bio);
    for (;;) {
        const ssize_t n = ::send(descriptorOf(bio), data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return int(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            BIO_set_retry_write(bio);
        return -1;
    }
}

long transportControl(BIO *bio, int command, long, void *)
{
    switch (command) {
    case BIO_CTRL_FLUSH:
        return 1; // nothing is buffered here
    case BIO_CTRL_EOF:
        return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) != 0;
    default:
        return 0;
    }
}

const BIO_METHOD *transportMethod()
{
    static BIO_METHOD *method = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
        method = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "zodaru socket");
        if (!method)
            return;
        BIO_meth_set_read(method, transportRead);
        BIO_meth_set_write(method, transportWrite);
        BIO_meth_set_ctrl(method, transportControl);
    });
    return method;
}

// Waits until the TLS layer can go on after the failed call that gave `sslError`:
// 0 when it may go on, else Socket::TimedOut or Socket::Error.
qint64 waitForTls(int fd, int sslError, Clock::time_point deadline)
{
    short events = 0;
    if (sslError == SSL_ERROR_WANT_READ)
        events = POLLIN;
    else if (sslError == SSL_ERROR_WANT_WRITE)
        events = POLLOUT;
    else
        return Socket::Error;
    const int ready = waitFor(fd, events, deadline);
    if (ready == 0)
        return Socket::TimedOut;
    return ready < 0 ? Socket::Error : 0;
}

// The peer's transport ended without close_notify.
bool isUnexpectedEnd()
{
    const unsigned long code = ERR_peek_error();
    return ERR_GET_LIB(code) == ERR_LIB_SSL && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
}

} // namespace

void Socket::SslFree::operator()(ssl_st *ssl) const
{
    SSL_free(ssl);
}

Socket::Socket(int fd) : fd_(fd) {}

Socket::~Socket()
{
    ssl_.reset(); // the TLS layer goes first: it refers to the descriptor
    if (fd_ < 0)
        return;
    // The sockets are made with a 10 s linger, under which close() blocks until unsent
    // data is acknowledged. The last owner may be the main thread, and a peer that stopped
    // reading would freeze it for those 10 s; the kernel delivers what is queued in the
    // background anyway, so lingering buys nothing here and is switched off first.
    const linger off{0, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &off, sizeof off);
    ::close(fd_);
}

qint64 Socket::readSome(char *buffer, qint64 size, int timeoutMs)
{
    if (size <= 0)
        return 0;
    if (ssl_)
        return tlsRead(buffer, size, timeoutMs);
    const auto deadline = deadlineIn(timeoutMs);
    for (;;) {
        // Try first, wait only when nothing is there: during a transfer data is nearly
        // always waiting, and this saves a poll() per chunk.
        const ssize_t n = ::recv(fd_, buffer, size_t(size), MSG_DONTWAIT);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Error;
        const int ready = waitFor(fd_, POLLIN, deadline);
        if (ready == 0)
            return TimedOut;
        if (ready < 0)
            return Error;
    }
}

qint64 Socket::readBuffered(char *buffer, qint64 size, int timeoutMs)
{
    if (size <= 0)
        return 0;
    if (readAheadAt_ >= readAhead_.size()) {
        constexpr qint64 kReadAhead = 4096;
        readAhead_.resize(kReadAhead);
        readAheadAt_ = 0;
        const qint64 n = readSome(readAhead_.data(), kReadAhead, timeoutMs);
        readAhead_.resize(n > 0 ? qsizetype(n) : 0);
        if (n <= 0)
            return n;
    }
    const qint64 taken = qMin<qint64>(size, readAhead_.size() - readAheadAt_);
    std::memcpy(buffer, readAhead_.constData() + readAheadAt_, size_t(taken));
    readAheadAt_ += qsizetype(taken);
    return taken;
}

qint64 Socket::peekSome(char *buffer, qint64 size)
{
    if (size <= 0)
        return 0;
    if (readAheadAt_ < readAhead_.size()) {
        const qint64 taken = qMin<qint64>(size, readAhead_.size() - readAheadAt_);
        std::memcpy(buffer, readAhead_.constData() + readAheadAt_, size_t(taken));
        return taken;
    }
    if (!ssl_) {
        for (;;) {
            const ssize_t n = ::recv(fd_, buffer, size_t(size), MSG_PEEK | MSG_DONTWAIT);
            if (n >= 0)
                return n;
            if (errno == EINTR)
                continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? TimedOut : Error;
        }
    }
    // The transport never blocks: a record not (wholly) there yet asks to read more.
    ERR_clear_error();
    const int n = SSL_peek(ssl_.get(), buffer, int(qMin<qint64>(size, INT_MAX)));
    if (n > 0)
        return n;
    const int sslError = SSL_get_error(ssl_.get(), n);
    if (sslError == SSL_ERROR_ZERO_RETURN)
        return 0;
    if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE)
        return TimedOut;
    return tlsFailure();
}

bool Socket::writeAll(const char *data, qint64 size, int timeoutMs)
{
    if (ssl_)
        return tlsWrite(data, size, timeoutMs);
    qint64 done = 0;
    while (done < size) {
        // MSG_NOSIGNAL: a peer that closed must give an error, not kill the process.
        // MSG_DONTWAIT: take what fits now, so a blocking send never outlives the limit.
        const ssize_t n = ::send(fd_, data + done, size_t(size - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += n;
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        // The limit is on progress, not on the whole buffer: a slow but moving peer is fine.
        const int ready = waitFor(fd_, POLLOUT, deadlineIn(timeoutMs));
        if (ready == 0)
            errno = ETIMEDOUT;
        if (ready <= 0)
            return false;
    }
    return true;
}

void Socket::shutdownBoth()
{
    // Only the descriptor is touched, never the TLS state, so this is safe while another
    // thread is inside OpenSSL: its next transport read sees the end and it returns.
    ::shutdown(fd_, SHUT_RDWR);
}

void Socket::limitUnsent(int bytes)
{
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &bytes, sizeof bytes);
}

bool Socket::startTlsClient(const TlsContext &context, const QString &hostName,
                            const TlsSession &resume, int timeoutMs, QString *error)
{
    auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    // Bytes that came in clear after the server's go-ahead are not part of the session.
    readAhead_.clear();
    readAheadAt_ = 0;
    if (ssl_)
        return fail(QStringLiteral("connexion deja chiffree"));
    if (!context.isValid() || !transportMethod())
        return fail(QStringLiteral("TLS indisponible : %1").arg(context.errorText()));

    ERR_clear_error();
    std::unique_ptr<ssl_st, SslFree> ssl(SSL_new(context.handle()));
    BIO *transport = ssl ? BIO_new(transportMethod()) : nullptr;
    if (!transport)
        return fail(takeTlsError());
    BIO_set_data(transport, reinterpret_cast<void *>(std::intptr_t(fd_)));
    BIO_set_init(transport, 1);
    SSL_set_bio(ssl.get(), transport, transport); // the TLS object owns it now
    SSL_set_mode(ssl.get(), SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

    // The name the certificate must carry: an address literal is checked as an address
    // and never sent as a server name.
    QByteArray host = hostName.toLatin1();
    if (host.startsWith('[') && host.endsWith(']'))
        host = host.mid(1, host.size() - 2);
    unsigned char address[16];
    const bool isAddress = ::inet_pton(AF_INET, host.constData(), address) == 1
        || ::inet_pton(AF_INET6, host.constData(), address) == 1;
    if (isAddress) {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl.get()), host.constData());
    } else {
        SSL_set_tlsext_host_name(ssl.get(), host.constData());
        SSL_set1_host(ssl.get(), host.constData());
    }
    if (!resume.isNull())
        SSL_set_session(ssl.get(), resume.handle());

    for (;;) {
        ERR_clear_error();
        const int r = SSL_connect(ssl.get());
        if (r == 1)
            break;
        const int sslError = SSL_get_error(ssl.get(), r);
        if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) {
            return fail(sslError == SSL_ERROR_SYSCALL || ERR_peek_error() == 0
                            ? QStringLiteral("connexion fermee pendant la negociation TLS")
                            : takeTlsError());
        }
        const qint64 wait = waitForTls(fd_, sslError, deadlineIn(timeoutMs));
        if (wait == TimedOut)
            return fail(QStringLiteral("delai depasse pendant la negociation TLS"));
        if (wait != 0)
            return fail(QStringLiteral("erreur reseau pendant la negociation TLS"));
    }
    ssl_ = std::move(ssl);
    tlsFailed_ = false;
    // The handshake's last flight is ours; the server answers with a session ticket and
    // then its data. A server that keeps Nagle's algorithm on holds that data back until
    // the ticket is acknowledged, and a delayed acknowledgement costs 40 ms per data
    // connection (Pure-FTPd: 50 ms listings instead of 5). Acknowledge at once.
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
    return true;
}

qint64 Socket::tlsRead(char *buffer, qint64 size, int timeoutMs)
{
    const auto deadline = deadlineIn(timeoutMs);
    const int want = int(qMin<qint64>(size, INT_MAX));
    for (;;) {
        ERR_clear_error();
        const int n = SSL_read(ssl_.get(), buffer, want);
        if (n > 0)
            return n;
        const int sslError = SSL_get_error(ssl_.get(), n);
        if (sslError == SSL_ERROR_ZERO_RETURN)
            return 0;
        if (sslError == SSL_ERROR_WANT_READ || sslError == SSL_ERROR_WANT_WRITE) {
            const qint64 wait = waitForTls(fd_, sslError, deadline);
            if (wait != 0)
                return wait;
            continue;
        }
        return tlsFailure();
    }
}

qint64 Socket::tlsFailure()
{
    tlsFailed_ = true;
    cut_ = isUnexpectedEnd();
    ERR_clear_error();
    return cut_ ? Truncated : Error;
}

bool Socket::tlsWrite(const char *data, qint64 size, int timeoutMs)
{
    qint64 done = 0;
    while (done < size) {
        ERR_clear_error();
        const int n = SSL_write(ssl_.get(), data + done, int(qMin<qint64>(size - done, INT_MAX)));
        if (n > 0) {
            done += n;
            continue;
        }
        const int sslError = SSL_get_error(ssl_.get(), n);
        if (sslError != SSL_ERROR_WANT_READ && sslError != SSL_ERROR_WANT_WRITE) {
            tlsFailed_ = true;
            ERR_clear_error();
            return false;
        }
        // As on the plain path, the limit is on progress.
        const qint64 wait = waitForTls(fd_, sslError, deadlineIn(timeoutMs));
        if (wait == TimedOut)
            errno = ETIMEDOUT;
        if (wait != 0)
            return false;
    }
    return true;
}

bool Socket::closeNotify(int timeoutMs)
{
    if (!ssl_ || tlsFailed_)
        return false;
    const auto deadline = deadlineIn(timeoutMs);
    for (;;) {
        ERR_clear_error();
        const int r = SSL_shutdown(ssl_.get());
        if (r >= 0)
            return true; // ours is sent; the peer's answer is not needed
        const int sslError = SSL_get_error(ssl_.get(), r);
        if (waitForTls(fd_, sslError, deadline) != 0) {
            ERR_clear_error();
            return false;
        }
    }
}

bool Socket::awaitPeerClose(int timeoutMs)
{
    ::shutdown(fd_, SHUT_WR);
    char discarded[4096];
    for (;;) {
        const ssize_t n = ::recv(fd_, discarded, sizeof discarded, MSG_DONTWAIT);
        if (n == 0)
            return true;
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (waitFor(fd_, POLLIN, deadlineIn(timeoutMs)) <= 0)
            return false;
    }
}

TlsPeer Socket::peer() const
{
    TlsPeer peer;
    if (!ssl_)
        return peer;
    X509 *certificate = SSL_get0_peer_certificate(ssl_.get());
    peer.certificate = CertificateInfo::fromX509(certificate);
    const long result = certificate ? SSL_get_verify_result(ssl_.get()) : X509_V_ERR_UNSPECIFIED;
    peer.verified = result == X509_V_OK;
    if (!peer.verified)
        peer.verifyError = certificate ? QString::fromLatin1(X509_verify_cert_error_string(result))
                                       : QStringLiteral("aucun certificat presente");
    return peer;
}

TlsSession Socket::session() const
{
    SSL_SESSION *current = ssl_ ? SSL_get0_session(ssl_.get()) : nullptr;
    if (!current || SSL_SESSION_is_resumable(current) != 1)
        return {};
    return TlsSession::fromHandle(current);
}

bool Socket::sessionReused() const
{
    return ssl_ && SSL_session_reused(ssl_.get()) == 1;
}

QString Socket::describe() const
{
    if (!ssl_)
        return {};
    return QStringLiteral("%1, %2").arg(QString::fromLatin1(SSL_get_version(ssl_.get())),
                                        QString::fromLatin1(SSL_get_cipher_name(ssl_.get())));
}

bool Socket::makeNonBlocking()
{
    if (!nonBlocking_) {
        const int flags = ::fcntl(fd_, F_GETFL);
        nonBlocking_ = flags >= 0 && ((flags & O_NONBLOCK) || ::fcntl(fd_, F_SETFL, flags | O_NONBLOCK) == 0);
    }
    return nonBlocking_;
}

FileReceiver::FileReceiver()
{
    openPipe();
}

FileReceiver::~FileReceiver()
{
    closePipe();
}

void FileReceiver::openPipe()
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    pipeEmpty_ = true;
    // A larger pipe moves more per call; the default one will do when the system says no.
    ::fcntl(pipe_[1], F_SETPIPE_SZ, 1024 * 1024);
}

void FileReceiver::closePipe()
{
    for (int &fd : pipe_)
        if (fd >= 0)
            ::close(std::exchange(fd, -1));
}

void FileReceiver::startFile()
{
    spliceToFile_ = true;
    if (pipeEmpty_ && pipe_[1] >= 0)
        return;
    closePipe();
    openPipe();
}

qint64 FileReceiver::receive(Socket &from, int fileFd, qint64 count, int timeoutMs, bool &fileFailed)
{
    fileFailed = false;
    const int fd = from.fileDescriptor();
    if (!isValid() || !from.makeNonBlocking())
        return Socket::Error;
    const auto deadline = deadlineIn(timeoutMs);
    ssize_t got = 0;
    for (;;) {
        // The pipe is empty at each call: whatever the connection holds fits up to its size.
        got = ::splice(fd, nullptr, pipe_[1], nullptr, size_t(count), SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
        if (got >= 0)
            break;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return Socket::Error;
        const int ready = waitFor(fd, POLLIN, deadline);
        if (ready == 0)
            return Socket::TimedOut;
        if (ready < 0)
            return Socket::Error;
    }
    pipeEmpty_ = got == 0;
    for (ssize_t left = got; left > 0;) {
        const ssize_t n = spliceToFile_ ? ::splice(pipe_[0], nullptr, fileFd, nullptr, size_t(left), SPLICE_F_MOVE)
                                        : copyFromPipe(fileFd, left);
        if (n > 0) {
            left -= n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EINVAL && spliceToFile_) {
            // A file system that takes no spliced pages: what is in the pipe is copied.
            spliceToFile_ = false;
            continue;
        }
        if (n == 0)
            errno = EIO;
        fileFailed = true;
        return Socket::Error;
    }
    pipeEmpty_ = true;
    return got;
}

qint64 FileReceiver::copyFromPipe(int fileFd, qint64 count)
{
    char buffer[65536];
    const ssize_t n = ::read(pipe_[0], buffer, size_t(qMin<qint64>(count, sizeof buffer)));
    for (ssize_t done = 0; done < n;) {
        const ssize_t w = ::write(fileFd, buffer + done, size_t(n - done));
        if (w < 0 && errno == EINTR)
            continue;
        if (w == 0)
            errno = EIO;
        if (w <= 0)
            return -1;
        done += w;
    }
    return n;
}

} // namespace zodaru
