// SPDX-License-Identifier: GPL-3.0-or-later
// The TLS layer of the engine's sockets: handshakes with a real server (explicit and
// implicit), session resumption on data connections, certificate decisions, and how a
// TLS stream ends.
#include "ftp/CertificateStore.h"
#include "ftp/FTP.h"
#include "ftp/ProtocolReplies.h"
#include "ftp/Socket.h"

#include "support/RealFtpServer.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <openssl/ssl.h>

#include <chrono>
#include <csignal>
#include <future>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace zodaru;
using Tls = RealFtpServer::Options::Tls;

Q_DECLARE_METATYPE(CertificateVerdict)
Q_DECLARE_METATYPE(std::optional<QByteArray>)

namespace {

constexpr int kWaitMs = 20000; // only reached when something is broken

std::unique_ptr<Socket> connectLocal(int port)
{
    return std::make_unique<Socket>(FTP::createSocket(QStringLiteral("127.0.0.1"), port, kWaitMs));
}

bool sendLine(Socket &s, const QByteArray &line)
{
    const QByteArray bytes = line + "\r\n";
    return s.writeAll(bytes.constData(), bytes.size(), kWaitMs);
}

// One whole reply; its code, or -1 when the connection ends first.
int readReply(Socket &s, QString *last = nullptr)
{
    QByteArray line;
    for (;;) {
        char c = 0;
        if (s.readSome(&c, 1, kWaitMs) != 1)
            return -1;
        line.append(c);
        if (!line.endsWith("\r\n"))
            continue;
        if (line.size() >= 6 && line[3] == ' ') {
            if (last)
                *last = QString::fromLatin1(line.trimmed());
            return line.left(3).toInt();
        }
        line.clear();
    }
}

int command(Socket &s, const QByteArray &line, QString *last = nullptr)
{
    return sendLine(s, line) ? readReply(s, last) : -1;
}

// A control connection encrypted the way `tls` says, greeting read; null on failure
// (with a QTest failure recorded).
std::unique_ptr<Socket> openControl(const RealFtpServer &server, Tls tls, TlsContext &context,
                                    const QString &hostName = QStringLiteral("127.0.0.1"))
{
    auto control = connectLocal(server.port());
    QString error;
    if (tls == Tls::Implicit) {
        if (!control->startTlsClient(context, hostName, {}, kWaitMs, &error)) {
            QTest::qFail(qPrintable(error), __FILE__, __LINE__);
            return nullptr;
        }
    }
    if (readReply(*control) != 220)
        return nullptr;
    if (tls == Tls::Explicit) {
        if (command(*control, "AUTH TLS") != 234
            || !control->startTlsClient(context, hostName, {}, kWaitMs, &error)) {
            QTest::qFail(qPrintable(error), __FILE__, __LINE__);
            return nullptr;
        }
    }
    return control;
}

RealFtpServer::Options tlsOptions(Tls tls, bool requireReuse = false)
{
    RealFtpServer::Options options;
    options.tls = tls;
    options.requireSessionReuse = requireReuse;
    return options;
}

// A self-signed certificate and key (PEM, one file) for the in-process peer.
QString makeCertificate(const QTemporaryDir &dir)
{
    const QString path = dir.filePath(QStringLiteral("peer.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=peer"),
                   QStringLiteral("-keyout"), path, QStringLiteral("-out"), path + QStringLiteral(".crt")});
    if (!openssl.waitForFinished(kWaitMs) || openssl.exitCode() != 0)
        return {};
    QFile key(path);
    QFile crt(path + QStringLiteral(".crt"));
    if (!key.open(QIODevice::Append) || !crt.open(QIODevice::ReadOnly))
        return {};
    key.write(crt.readAll());
    return path;
}

// What the in-process TLS peer does once the handshake is done.
enum class PeerPlay {
    SendThenCloseNotify, // writes the payload, close_notify, then closes
    SendThenCut,         // writes the payload and closes TCP without close_notify
    Receive,             // reads to the end and tells whether close_notify came
};

// A TLS server on one end of a socket pair, run on its own thread.
class PeerServer final {
public:
    PeerServer(const QString &pem, int fd, PeerPlay play, QByteArray payload)
        : thread_([=, this] { run(pem, fd, play, payload); })
    {
    }
    ~PeerServer() { finish(); }
    // Waits for the peer's end; its results are complete after this.
    void finish()
    {
        if (thread_.joinable())
            thread_.join();
    }

    QByteArray received;
    bool sawCloseNotify = false;

private:
    void run(const QString &pem, int fd, PeerPlay play, const QByteArray &payload)
    {
        SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate_chain_file(ctx, pem.toLocal8Bit().constData());
        SSL_CTX_use_PrivateKey_file(ctx, pem.toLocal8Bit().constData(), SSL_FILETYPE_PEM);
        SSL *ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            if (play == PeerPlay::Receive) {
                char buffer[4096];
                int n;
                while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0)
                    received.append(buffer, n);
                sawCloseNotify = SSL_get_error(ssl, n) == SSL_ERROR_ZERO_RETURN;
            } else {
                SSL_write(ssl, payload.constData(), int(payload.size()));
                if (play == PeerPlay::SendThenCloseNotify)
                    SSL_shutdown(ssl);
            }
        }
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        ::close(fd);
    }

    std::thread thread_;
};

} // namespace

class TstTls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The in-process peer writes through OpenSSL's own transport, which does not guard
    // against a closed connection.
    void initTestCase() { std::signal(SIGPIPE, SIG_IGN); }
    void dataConnectionResumesSession_data();
    void dataConnectionResumesSession();
    void certificateVerification_data();
    void certificateVerification();
    void verdict_data();
    void verdict();
    void trustOnceAlwaysAndChanged();
    void streamEnd_data();
    void streamEnd();
};

void TstTls::dataConnectionResumesSession_data()
{
    QTest::addColumn<Tls>("tls");
    QTest::addColumn<bool>("resume");
    QTest::newRow("explicit, session resumed") << Tls::Explicit << true;
    QTest::newRow("implicit, session resumed") << Tls::Implicit << true;
    QTest::newRow("explicit, new session refused") << Tls::Explicit << false;
}

// Login, PBSZ 0, PROT P, then a listing on a TLS data connection against a server that
// refuses data connections that do not resume the control connection's session.
void TstTls::dataConnectionResumesSession()
{
    QFETCH(Tls, tls);
    QFETCH(bool, resume);
    RealFtpServer server;
    QVERIFY2(server.start(tlsOptions(tls, true)), qPrintable(server.errorText()));
    QVERIFY(server.writeFile(QStringLiteral("listed.txt"), "x"));
    TlsContext context;
    const auto control = openControl(server, tls, context);
    QVERIFY(control);
    QVERIFY(control->isEncrypted());
    QVERIFY2(control->describe().startsWith(QLatin1String("TLSv1.")), qPrintable(control->describe()));

    QCOMPARE(command(*control, "USER user"), 331);
    QCOMPARE(command(*control, "PASS secret"), 230);
    QCOMPARE(command(*control, "PBSZ 0"), 200);
    QCOMPARE(command(*control, "PROT P"), 200);
    QString pasv;
    QCOMPARE(command(*control, "PASV", &pasv), 227);
    const auto passive = parsePasvReply(pasv);
    QVERIFY(passive);

    auto data = connectLocal(passive->port);
    QVERIFY(sendLine(*control, "LIST"));
    QVERIFY(QList<int>({125, 150}).contains(readReply(*control)));
    const TlsSession session = resume ? control->session() : TlsSession();
    QCOMPARE(session.isNull(), !resume);
    QString error;
    const bool handshake = data->startTlsClient(context, QStringLiteral("127.0.0.1"), session, kWaitMs, &error);
    QByteArray listing;
    qint64 n = 0;
    char buffer[4096];
    while (handshake && (n = data->readSome(buffer, sizeof buffer, kWaitMs)) > 0)
        listing.append(buffer, n);

    if (resume) {
        QVERIFY2(handshake, qPrintable(error));
        QVERIFY(data->sessionReused());
        QCOMPARE(n, 0); // the server ended the stream with close_notify
        QVERIFY(listing.contains("listed.txt"));
        QCOMPARE(readReply(*control), 226);
    } else {
        QVERIFY(!listing.contains("listed.txt"));
        QCOMPARE(readReply(*control), 522);
    }
}

void TstTls::certificateVerification_data()
{
    QTest::addColumn<bool>("trustServer");
    QTest::addColumn<QString>("hostName");
    QTest::addColumn<bool>("verified");
    QTest::newRow("self-signed, not trusted") << false << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("trusted, address literal") << true << QStringLiteral("127.0.0.1") << true;
    QTest::newRow("trusted, name") << true << QStringLiteral("localhost") << true;
    QTest::newRow("trusted, other name") << true << QStringLiteral("other.invalid") << false;
    QTest::newRow("trusted, other address") << true << QStringLiteral("127.0.0.2") << false;
}

// The chain against the trust store and the certificate against the host name the
// connection was made for; the handshake itself goes through either way.
void TstTls::certificateVerification()
{
    QFETCH(bool, trustServer);
    QFETCH(QString, hostName);
    QFETCH(bool, verified);
    RealFtpServer server;
    QVERIFY2(server.start(tlsOptions(Tls::Explicit)), qPrintable(server.errorText()));
    TlsContext context;
    if (trustServer)
        QVERIFY2(context.addTrustedCertificates(server.certificatePath()), qPrintable(context.errorText()));
    const auto control = openControl(server, Tls::Explicit, context, hostName);
    QVERIFY(control);
    const TlsPeer peer = control->peer();
    QCOMPARE(peer.verified, verified);
    QCOMPARE(peer.verifyError.isEmpty(), verified);
    QCOMPARE(peer.certificate.subject, QStringLiteral("CN = zodaru test server"));
    QCOMPARE(peer.certificate.issuer, peer.certificate.subject);
    QVERIFY(peer.certificate.notBefore < peer.certificate.notAfter);
    QCOMPARE(peer.certificate.sha256.size(), 32);
}

void TstTls::verdict_data()
{
    const QByteArray a(32, 'a');
    const QByteArray b(32, 'b');
    QTest::addColumn<bool>("verified");
    QTest::addColumn<std::optional<QByteArray>>("trusted");
    QTest::addColumn<CertificateVerdict>("expected");
    QTest::newRow("verified") << true << std::optional<QByteArray>() << CertificateVerdict::Verified;
    QTest::newRow("verified, another one trusted") << true << std::optional(b) << CertificateVerdict::Verified;
    QTest::newRow("unknown") << false << std::optional<QByteArray>() << CertificateVerdict::Unknown;
    QTest::newRow("the one trusted") << false << std::optional(a) << CertificateVerdict::Known;
    QTest::newRow("another one trusted") << false << std::optional(b) << CertificateVerdict::Changed;
}

void TstTls::verdict()
{
    QFETCH(bool, verified);
    QFETCH(std::optional<QByteArray>, trusted);
    QFETCH(CertificateVerdict, expected);
    QCOMPARE(certificateVerdict(verified, trusted, QByteArray(32, 'a')), expected);
}

// An untrusted server is Unknown until the user trusts it; trusting once lasts as long as
// the store object, always survives in a private file; a new certificate is Changed.
void TstTls::trustOnceAlwaysAndChanged()
{
    QTemporaryDir config;
    const QString file = config.filePath(QStringLiteral("sub/trusted-certificates"));
    RealFtpServer server;
    QVERIFY2(server.start(tlsOptions(Tls::Explicit)), qPrintable(server.errorText()));
    TlsContext context;
    const QString key = CertificateStore::key(QStringLiteral("127.0.0.1"), server.port());
    auto presented = [&] {
        const auto control = openControl(server, Tls::Explicit, context);
        return control ? control->peer() : TlsPeer();
    };
    const TlsPeer first = presented();
    QVERIFY(!first.certificate.isNull());

    CertificateStore store(file);
    QCOMPARE(store.verdict(key, first), CertificateVerdict::Unknown);
    store.trustOnce(key, first.certificate.sha256);
    QCOMPARE(store.verdict(key, first), CertificateVerdict::Known);
    QCOMPARE(CertificateStore(file).verdict(key, first), CertificateVerdict::Unknown);

    QString error;
    QVERIFY2(store.trustAlways(key, first.certificate.sha256, &error), qPrintable(error));
    // The "user" bits repeat the owner's for the file's owner.
    QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(CertificateStore(file).verdict(key, first), CertificateVerdict::Known);
    QCOMPARE(CertificateStore(file).verdict(QStringLiteral("127.0.0.1:1"), first), CertificateVerdict::Unknown);

    server.stop();
    QVERIFY2(server.start(tlsOptions(Tls::Explicit)), qPrintable(server.errorText()));
    const TlsPeer second = presented();
    QCOMPARE(CertificateStore(file).verdict(key, second), CertificateVerdict::Changed);
}

void TstTls::streamEnd_data()
{
    QTest::addColumn<PeerPlay>("play");
    QTest::addColumn<bool>("shutDownLocally");
    QTest::addColumn<qint64>("end");
    QTest::newRow("download ended by close_notify") << PeerPlay::SendThenCloseNotify << false << qint64(0);
    QTest::newRow("download cut without close_notify") << PeerPlay::SendThenCut << false << Socket::Truncated;
    QTest::newRow("upload ended by close_notify") << PeerPlay::Receive << false << qint64(0);
    QTest::newRow("blocked read, shut down from another thread") << PeerPlay::Receive << true << Socket::Truncated;
}

// How the receiving side sees the end of a TLS stream (`end`: 0 for close_notify).
void TstTls::streamEnd()
{
    QFETCH(PeerPlay, play);
    QFETCH(bool, shutDownLocally);
    QFETCH(qint64, end);
    QTemporaryDir dir;
    const QString pem = makeCertificate(dir);
    QVERIFY(!pem.isEmpty());
    int fds[2];
    QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    Socket client(fds[0]);
    const QByteArray payload = patternBytes(100000);
    PeerServer peer(pem, fds[1], play, payload);
    TlsContext context;
    QString error;
    QVERIFY2(client.startTlsClient(context, QStringLiteral("peer"), {}, kWaitMs, &error), qPrintable(error));

    qint64 last = 0;
    if (shutDownLocally) {
        // The peer sends nothing, so the reader blocks until the shutdown wakes it.
        std::promise<qint64> result;
        std::thread reader([&] {
            char c;
            result.set_value(client.readSome(&c, 1, 10 * kWaitMs));
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50)); // likely blocked by now; same outcome if not
        client.shutdownBoth();
        last = result.get_future().get();
        reader.join();
    } else if (play == PeerPlay::Receive) {
        QVERIFY(client.writeAll(payload.constData(), payload.size(), kWaitMs));
        QVERIFY(client.closeNotify(kWaitMs));
        peer.finish();
        QCOMPARE(peer.received, payload);
        last = peer.sawCloseNotify ? 0 : Socket::Truncated;
    } else {
        QByteArray got;
        char buffer[4096];
        while ((last = client.readSome(buffer, sizeof buffer, kWaitMs)) > 0)
            got.append(buffer, last);
        QCOMPARE(got, payload);
    }
    QCOMPARE(last, end);
}

QTEST_GUILESS_MAIN(TstTls)
#include "tst_tls.moc"
