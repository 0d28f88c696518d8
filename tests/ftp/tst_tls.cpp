// SPDX-License-Identifier: GPL-3.0-or-later
// The TLS layer of the engine's sockets against a real server: explicit and implicit
// handshakes, session resumption on data connections, how a stream ends, and what is
// decided about the server's certificate.
#include "ftp/CertificateStore.h"
#include "ftp/FTP.h"
#include "ftp/ProtocolReplies.h"
#include "ftp/Socket.h"

#include "support/RealFtpServer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <future>
#include <thread>

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

// Sends `line` (unless empty) and reads one whole reply: its code, -1 when cut short.
int command(Socket &s, const QByteArray &line, QString *last = nullptr)
{
    const QByteArray bytes = line + "\r\n";
    if (!line.isEmpty() && !s.writeAll(bytes.constData(), bytes.size(), kWaitMs))
        return -1;
    QByteArray reply;
    for (char c = 0; s.readSome(&c, 1, kWaitMs) == 1;) {
        reply.append(c);
        if (!reply.endsWith("\r\n"))
            continue;
        if (reply.size() >= 6 && reply[3] == ' ') {
            if (last)
                *last = QString::fromLatin1(reply.trimmed());
            return reply.left(3).toInt();
        }
        reply.clear();
    }
    return -1;
}

// A control connection encrypted the way the server expects, greeting read.
std::unique_ptr<Socket> openControl(const RealFtpServer &server, Tls tls, TlsContext &context,
                                    const QString &hostName = QStringLiteral("127.0.0.1"))
{
    auto control = connectLocal(server.port());
    auto handshake = [&] { return control->startTlsClient(context, hostName, {}, kWaitMs, nullptr); };
    if (tls == Tls::Implicit && !handshake())
        return nullptr;
    if (command(*control, {}) != 220)
        return nullptr;
    if (tls == Tls::Explicit && (command(*control, "AUTH TLS") != 234 || !handshake()))
        return nullptr;
    return control;
}

bool startTls(RealFtpServer &server, Tls tls, bool requireReuse = false, bool cut = false)
{
    RealFtpServer::Options options;
    options.tls = tls;
    options.requireSessionReuse = requireReuse;
    options.cutTlsData = cut;
    return server.start(options);
}

} // namespace

class TstTls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void listingOverTls_data();
    void listingOverTls();
    void shutdownWakesBlockedRead();
    void certificateVerification_data();
    void certificateVerification();
    void verdict_data();
    void verdict();
    void trustOnceAlwaysAndChanged();
};

void TstTls::listingOverTls_data()
{
    QTest::addColumn<Tls>("tls");
    QTest::addColumn<bool>("resume");
    QTest::addColumn<bool>("cut");
    QTest::addColumn<qint64>("end"); // how the data stream ends
    QTest::newRow("explicit, session resumed") << Tls::Explicit << true << false << qint64(0);
    QTest::newRow("implicit, session resumed") << Tls::Implicit << true << false << qint64(0);
    QTest::newRow("new session refused") << Tls::Explicit << false << false << qint64(-1);
    QTest::newRow("cut without close_notify") << Tls::Explicit << true << true << Socket::Truncated;
}

// PBSZ 0, PROT P and a listing on a TLS data connection, against a server that refuses
// data connections that do not resume the control connection's session.
void TstTls::listingOverTls()
{
    QFETCH(Tls, tls);
    QFETCH(bool, resume);
    QFETCH(bool, cut);
    QFETCH(qint64, end);
    RealFtpServer server;
    QVERIFY2(startTls(server, tls, true, cut), qPrintable(server.errorText()));
    QVERIFY(server.writeFile(QStringLiteral("listed.txt"), "x"));
    TlsContext context;
    const auto control = openControl(server, tls, context);
    QVERIFY(control);
    QVERIFY2(control->describe().startsWith(QLatin1String("TLSv1.")), qPrintable(control->describe()));
    QCOMPARE(command(*control, "USER user"), 331);
    QCOMPARE(command(*control, "PASS secret"), 230);
    QCOMPARE(command(*control, "PBSZ 0"), 200);
    QCOMPARE(command(*control, "PROT P"), 200);
    QString pasv;
    QCOMPARE(command(*control, "PASV", &pasv), 227);
    const auto passive = parsePasvReply(pasv);
    QVERIFY(passive);

    const auto data = connectLocal(passive->port);
    QVERIFY(QList<int>({125, 150}).contains(command(*control, "LIST")));
    const TlsSession session = resume ? control->session() : TlsSession();
    QCOMPARE(session.isNull(), !resume);
    QByteArray listing;
    qint64 n = -1;
    char buffer[4096];
    if (data->startTlsClient(context, QStringLiteral("127.0.0.1"), session, kWaitMs, nullptr)) {
        while ((n = data->readSome(buffer, sizeof buffer, kWaitMs)) > 0)
            listing.append(buffer, n);
    }
    QCOMPARE(data->sessionReused(), resume);
    QCOMPARE(listing.contains("listed.txt"), resume);
    if (resume)
        QCOMPARE(n, end);
    QCOMPARE(command(*control, {}), resume ? 226 : 522);
}

void TstTls::shutdownWakesBlockedRead()
{
    RealFtpServer server;
    QVERIFY2(startTls(server, Tls::Explicit), qPrintable(server.errorText()));
    TlsContext context;
    const auto control = openControl(server, Tls::Explicit, context);
    QVERIFY(control);
    // The server has nothing to say, so the reader blocks until the shutdown wakes it.
    std::promise<qint64> result;
    std::thread reader([&] {
        char c;
        result.set_value(control->readSome(&c, 1, 10 * kWaitMs));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // likely blocked by now; same outcome if not
    control->shutdownBoth();
    const qint64 n = result.get_future().get();
    reader.join();
    // Error or Truncated, depending on what the kernel reports first; never a time-out.
    QVERIFY2(n == Socket::Error || n == Socket::Truncated, qPrintable(QString::number(n)));
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
// connection was made for; the handshake goes through either way.
void TstTls::certificateVerification()
{
    QFETCH(bool, trustServer);
    QFETCH(QString, hostName);
    QFETCH(bool, verified);
    RealFtpServer server;
    QVERIFY2(startTls(server, Tls::Explicit), qPrintable(server.errorText()));
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
}

void TstTls::verdict_data()
{
    const QByteArray other(32, 'b');
    QTest::addColumn<bool>("verified");
    QTest::addColumn<std::optional<QByteArray>>("trusted");
    QTest::addColumn<CertificateVerdict>("expected");
    QTest::newRow("verified") << true << std::optional<QByteArray>() << CertificateVerdict::Verified;
    QTest::newRow("verified, another one trusted") << true << std::optional(other) << CertificateVerdict::Verified;
    QTest::newRow("unknown") << false << std::optional<QByteArray>() << CertificateVerdict::Unknown;
    QTest::newRow("the one trusted") << false << std::optional(QByteArray(32, 'a')) << CertificateVerdict::Known;
    QTest::newRow("another one trusted") << false << std::optional(other) << CertificateVerdict::Changed;
}

void TstTls::verdict()
{
    QFETCH(bool, verified);
    QFETCH(std::optional<QByteArray>, trusted);
    QFETCH(CertificateVerdict, expected);
    QCOMPARE(certificateVerdict(verified, trusted, QByteArray(32, 'a')), expected);
}

// Trusting once lasts as long as the store object, always survives in a private file; a
// server that comes back with a new certificate is Changed.
void TstTls::trustOnceAlwaysAndChanged()
{
    QTemporaryDir config;
    const QString file = config.filePath(QStringLiteral("sub/trusted-certificates"));
    RealFtpServer server;
    QVERIFY2(startTls(server, Tls::Explicit), qPrintable(server.errorText()));
    TlsContext context;
    const QString key = CertificateStore::key(QStringLiteral("127.0.0.1"), server.port());
    auto presented = [&] {
        const auto control = openControl(server, Tls::Explicit, context);
        return control ? control->peer() : TlsPeer();
    };
    const TlsPeer first = presented();
    QCOMPARE(first.certificate.sha256.size(), 32);

    CertificateStore store(file);
    QCOMPARE(store.verdict(key, first), CertificateVerdict::Unknown);
    store.trustOnce(key, first.certificate.sha256);
    QCOMPARE(store.verdict(key, first), CertificateVerdict::Known);
    QCOMPARE(CertificateStore(file).verdict(key, first), CertificateVerdict::Unknown);

    QVERIFY(store.trustAlways(key, first.certificate.sha256, nullptr));
    // The "user" bits repeat the owner's for the file's owner.
    QCOMPARE(QFile::permissions(file) & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner | QFile::WriteOwner);
    QCOMPARE(CertificateStore(file).verdict(key, first), CertificateVerdict::Known);
    QCOMPARE(CertificateStore(file).verdict(QStringLiteral("127.0.0.1:1"), first), CertificateVerdict::Unknown);

    server.stop();
    QVERIFY2(startTls(server, Tls::Explicit), qPrintable(server.errorText()));
    QCOMPARE(CertificateStore(file).verdict(key, presented()), CertificateVerdict::Changed);
}

QTEST_GUILESS_MAIN(TstTls)
#include "tst_tls.moc"
