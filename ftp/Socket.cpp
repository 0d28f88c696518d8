// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/Socket.h"

#include <cerrno>
#include <chrono>

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

} // namespace

Socket::Socket(int fd) : fd_(fd) {}

Socket::~Socket()
{
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
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
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

bool Socket::writeAll(const char *data, qint64 size, int timeoutMs)
{
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
        const int ready = waitFor(fd_, POLLOUT, Clock::now() + std::chrono::milliseconds(timeoutMs));
        if (ready == 0)
            errno = ETIMEDOUT;
        if (ready <= 0)
            return false;
    }
    return true;
}

void Socket::shutdownBoth()
{
    ::shutdown(fd_, SHUT_RDWR);
}

} // namespace zodaru
