// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "net/TlsCertificate.h"
#include "net/TlsContext.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

#include <sys/socket.h>

struct ssl_st;

namespace zodaru {

// Owns one connected TCP socket descriptor (close-on-exec) and closes it on destruction.
//
// Every blocking call takes a time limit, so a peer that stops talking never freezes the
// calling thread. shutdownBoth() may be called from another thread while a read or a
// write blocks on this socket: the blocked call returns at once, and the descriptor number
// stays valid (never reused) until the object is destroyed.
//
// The connection may be switched to TLS (startTlsClient()); reads and writes then go
// through it with the same time limits and the same shutdownBoth() guarantee. Only one
// thread at a time may read or write.
class Socket final {
public:
    static constexpr qint64 Error = -1;
    static constexpr qint64 TimedOut = -2;
    // TLS only: the peer closed the connection without saying the stream was complete
    // (no close_notify), so what was read may be cut short.
    static constexpr qint64 Truncated = -3;

    explicit Socket(int fd);
    ~Socket();
    Q_DISABLE_COPY_MOVE(Socket)

    int fileDescriptor() const { return fd_; }

    // Reads up to `size` bytes, waiting at most `timeoutMs` for the first one.
    // Returns the count read (> 0), 0 at end of stream (under TLS: after the peer's
    // close_notify), Error, TimedOut or Truncated.
    qint64 readSome(char *buffer, qint64 size, int timeoutMs);

    // readSome() through a small read-ahead buffer, for a reader that takes a byte at a
    // time (the reply lines of a control connection): one system call per buffer instead
    // of one per byte. What was read ahead is handed out by the next calls, and by
    // peekSome(); switching to TLS drops it, so that nothing a peer sent in clear before
    // the handshake can pass for protected data.
    qint64 readBuffered(char *buffer, qint64 size, int timeoutMs);

    // What readSome() would return now, without taking it and without waiting: the count
    // (> 0), 0 at end of stream (under TLS: close_notify), Error, Truncated, or TimedOut
    // when nothing is there yet. Under TLS the bytes are the decrypted ones.
    qint64 peekSome(char *buffer, qint64 size);

    // Writes all `size` bytes; false on error, or when no byte could be written for
    // `timeoutMs` (errno is then ETIMEDOUT).
    bool writeAll(const char *data, qint64 size, int timeoutMs);

    // Shuts both directions down without closing the descriptor.
    void shutdownBoth();

    // Keeps at most about `bytes` written but not yet sent by the system: a writer is
    // held until the peer takes what is queued instead of piling the whole send buffer
    // up ahead of it. Best effort: a system without the option queues as before.
    void limitUnsent(int bytes);

    // For calls that take no MSG_DONTWAIT (splice): the descriptor itself stops
    // blocking, every wait being a poll() with its limit. Asks the system once per socket.
    bool makeNonBlocking();

    // --- TLS ---
    // Runs a client handshake on this connection, for `hostName` (a name or an IP
    // literal, brackets allowed), offering `resume` when it is not null. The certificate
    // never makes it fail: see peer(). False, with `error` set, when the handshake fails
    // or takes more than `timeoutMs` between two steps.
    bool startTlsClient(const TlsContext &context, const QString &hostName,
                        const TlsSession &resume, int timeoutMs, QString *error);
    bool isEncrypted() const { return ssl_ != nullptr; }
    // The server's certificate and whether it verified; empty when not encrypted.
    TlsPeer peer() const;
    // The session to resume on the data connections; null when it cannot be resumed (yet:
    // under TLS 1.3 it arrives after the handshake, with the first reply read).
    TlsSession session() const;
    // True when the handshake resumed the session offered.
    bool sessionReused() const;
    // "TLSv1.3, TLS_AES_256_GCM_SHA384": protocol and cipher for the log.
    QString describe() const;
    // Tells the peer that nothing more will be written (close_notify), so that it can
    // tell a complete upload from a broken one. Does not wait for its answer.
    bool closeNotify(int timeoutMs);
    // After closeNotify(): ends the sending side and reads whatever the peer still sends
    // until it closes, at most `timeoutMs` without a byte. Closing with unread bytes (a
    // TLS 1.3 session ticket nobody reads on an upload) would reset the connection, and
    // a reset makes the peer drop what it has not read yet: the end of the upload.
    bool awaitPeerClose(int timeoutMs);
    // True once a read returned Truncated.
    bool endedWithoutCloseNotify() const { return cut_; }

private:
    struct SslFree {
        void operator()(ssl_st *ssl) const;
    };

    qint64 tlsRead(char *buffer, qint64 size, int timeoutMs);
    bool tlsWrite(const char *data, qint64 size, int timeoutMs);
    // After a fatal error of a TLS read: Truncated or Error.
    qint64 tlsFailure();

    const int fd_;
    std::unique_ptr<ssl_st, SslFree> ssl_;
    QByteArray readAhead_; // readBuffered()'s bytes not handed out yet, from readAheadAt_
    qsizetype readAheadAt_ = 0;
    // After a fatal TLS error OpenSSL must not be asked to send close_notify.
    bool tlsFailed_ = false;
    bool cut_ = false;
    bool nonBlocking_ = false;
};

// Receives from plain connections straight into files, without a copy through this
// process: the bytes go through a pipe of its own, kept from one call and one file to the
// next. Used by one thread at a time.
class FileReceiver final {
public:
    FileReceiver();
    ~FileReceiver();
    Q_DISABLE_COPY_MOVE(FileReceiver)

    // Before each file: a pipe still holding bytes of a failed file is replaced by a fresh
    // one, so that they never reach this file; splicing into the file is tried again.
    void startFile();

    // False when the pipe could not be made, or once the file took no spliced bytes: the
    // caller reads and writes itself then.
    bool isValid() const { return pipe_[1] >= 0 && spliceToFile_; }

    // Moves what has arrived on the plain connection `from`, at most `count` bytes, to the
    // file `fileFd` at its position, waiting at most `timeoutMs` for the first byte.
    // Returns the count moved (> 0), 0 at end of stream, Socket::Error or
    // Socket::TimedOut. `fileFailed` tells an Error of the file, not of the connection.
    // The connection is left non-blocking; shutdownBoth() ends a wait.
    qint64 receive(Socket &from, int fileFd, qint64 count, int timeoutMs, bool &fileFailed);

private:
    qint64 copyFromPipe(int fileFd, qint64 count);
    void openPipe();
    void closePipe();

    int pipe_[2] = {-1, -1};
    bool spliceToFile_ = true;
    bool pipeEmpty_ = true; // false from a splice into the pipe until all of it has left
};

} // namespace zodaru
