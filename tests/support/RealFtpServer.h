// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QtGlobal>

// A real pyftpdlib server for end-to-end tests, serving a fresh temporary directory on
// 127.0.0.1 with a port the OS picks.
//
//     RealFtpServer server;
//     QVERIFY2(server.start(), qPrintable(server.errorText()));
//     server.writeFile("pub/a.txt", "hello");
//     FTP ftp(server.address(), RealFtpServer::user(), RealFtpServer::password());
//
// Accounts: "user"/"secret" with every right (elradfmwMT), anonymous read-only, and, when
// asked for, "reader"/"secret" read-only (elr) for refusal tests; all of them have the
// temporary directory as their root. Passive ports are chosen by the OS. pyftpdlib
// answers RETR/STOR/LIST with 125 when the data connection was already accepted and 150
// otherwise, so tests accept either.
// The server is tools/ftp-server.py, run by /usr/bin/python3 (the interpreter that has
// pyftpdlib); its log goes to server.log in a separate temporary directory. The
// destructor stops it.
namespace zodaru {

class RealFtpServer final
{
public:
    struct Options
    {
        bool readerAccount = true;
        bool anonymous = true;
        // TLS with a certificate made at each start (see certificatePath()): offered
        // through AUTH TLS, or spoken from the first byte.
        enum class Tls { None, Explicit, Implicit } tls = Tls::None;
        // TLS data connections that do not resume the control connection's session are
        // refused (522), as vsftpd's require_ssl_reuse does.
        bool requireSessionReuse = false;
        // TLS data connections end without close_notify, as if cut.
        bool cutTlsData = false;
        // TLS data connections present another certificate than the control connection
        // (they cannot resume its session then).
        bool otherDataCertificate = false;
        // PROT is refused (534): the data connections cannot be encrypted.
        bool refuseProt = false;
        bool ipv6 = false; // listen on ::1 instead of 127.0.0.1
        // When > 0, the first session is closed with a 421 that many seconds after its
        // login, as a server closes a session idle for too long.
        int dropFirstSessionSeconds = 0;
        // When > 0, the bytes per second each data connection may move (in clear only), so
        // that a transfer is still on its way when a test acts on it.
        int throttle = 0;
        // When > 0, the control connections served at once: one more is answered 421 at
        // its greeting.
        int maxConnections = 0;
    };

    RealFtpServer();
    ~RealFtpServer();
    Q_DISABLE_COPY_MOVE(RealFtpServer)

    // Starts the server and waits until it listens; false (see errorText()) when it
    // could not be started.
    bool start(const Options &options);
    bool start() { return start(Options{}); }
    void stop();

    bool isRunning() const { return m_port != 0; }
    QString errorText() const { return m_error; }

    quint16 port() const { return m_port; }
    // The server text that the engine accepts, with the scheme that reaches this server
    // the way it is set up: "ftp://", "ftpes://" or "ftps://", then hostAndPort().
    QString address() const;
    // "127.0.0.1:<port>" (or "[::1]:<port>").
    QString hostAndPort() const;
    // The directory the server serves, and a path inside it.
    QString rootPath() const { return m_root.path(); }
    QString localPath(const QString &relative) const;
    // The server's self-signed certificate and key (PEM), for 127.0.0.1 and localhost;
    // a new one at each start.
    QString certificatePath() const;
    // pyftpdlib's own log, for a failing test to print.
    QByteArray serverLog() const;

    static QString user() { return QStringLiteral("user"); }
    static QString password() { return QStringLiteral("secret"); }
    static QString readerUser() { return QStringLiteral("reader"); }

    // Puts a file into the served tree (parents created); true on success.
    bool writeFile(const QString &relative, const QByteArray &content) const;
    QByteArray readFile(const QString &relative) const;

private:
    QTemporaryDir m_root;
    QTemporaryDir m_logDir;
    QProcess m_process;
    quint16 m_port = 0;
    bool m_ipv6 = false;
    Options::Tls m_tls = Options::Tls::None;
    QString m_error;
};

} // namespace zodaru
