// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

namespace zodaru {

// Owns one connected TCP socket descriptor (close-on-exec) and closes it on destruction.
//
// Every blocking call takes a time limit, so a peer that stops talking never freezes the
// calling thread. shutdownBoth() may be called from another thread while a read or a
// write blocks on this socket: the blocked call returns at once, and the descriptor number
// stays valid (never reused) until the object is destroyed.
class Socket final {
public:
    static constexpr qint64 Error = -1;
    static constexpr qint64 TimedOut = -2;

    explicit Socket(int fd);
    ~Socket();
    Q_DISABLE_COPY_MOVE(Socket)

    int fileDescriptor() const { return fd_; }

    // Reads up to `size` bytes, waiting at most `timeoutMs` for the first one.
    // Returns the count read (> 0), 0 at end of stream, Error or TimedOut.
    qint64 readSome(char *buffer, qint64 size, int timeoutMs);

    // Writes all `size` bytes; false on error, or when no byte could be written for
    // `timeoutMs` (errno is then ETIMEDOUT).
    bool writeAll(const char *data, qint64 size, int timeoutMs);

    // Shuts both directions down without closing the descriptor.
    void shutdownBoth();

private:
    const int fd_;
};

} // namespace zodaru
