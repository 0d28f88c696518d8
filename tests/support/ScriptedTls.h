// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayView>

#include <functional>

typedef struct ssl_st SSL;

// The server's side of TLS for ScriptedFtpServer: one self-signed certificate made when first
// needed ("CN = zodaru scripted server"; clients of the tests accept it through their
// certificate check), and a stream over one connected socket.
//
// The socket is made non-blocking; whenever OpenSSL needs to wait, the stream calls `wait`
// (for reading, or for writing when the flag is true), which blocks until the socket is
// ready and throws when the server stops, so no thread ever sits in OpenSSL at the end.
// Used by one thread at a time, the one playing the session.
namespace zodaru {

class ScriptedTlsStream final
{
public:
    using Wait = std::function<void(bool forWrite)>;

    ScriptedTlsStream(int fd, Wait wait);
    ~ScriptedTlsStream();
    ScriptedTlsStream(const ScriptedTlsStream &) = delete;
    ScriptedTlsStream &operator=(const ScriptedTlsStream &) = delete;

    // The server's handshake; throws std::runtime_error when it fails.
    void accept();
    // Up to `size` bytes: > 0 read, 0 at the end of the stream (with or without the peer's
    // close_notify), -1 on an error.
    qsizetype read(char *buffer, qsizetype size);
    // All of `bytes`; throws std::runtime_error when the peer has gone.
    void write(QByteArrayView bytes);
    // Sends close_notify (does not wait for the peer's): an orderly end of the stream.
    void closeNotify();

private:
    // Waits as OpenSSL asks after a call that returned `result`; false on a real error.
    bool waitAfter(int result);

    SSL *m_ssl;
    Wait m_wait;
};

} // namespace zodaru
