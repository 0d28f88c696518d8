// SPDX-License-Identifier: GPL-3.0-or-later
// The TLS layer of the engine's sockets against a real server: explicit and implicit
// handshakes, session resumption on data connections, how a stream ends, and what is
// decided about the server's certificate.
#include "model/CertificateStore.h"
#include "ftp/FTP.h"
#include "ftp/ProtocolReplies.h"
#include "net/Socket.h"

#include "TransferRecorder.h"
#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/StrippingProxy.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <thread>

using namespace zodaru;
using namespace zodaru::testing;
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

bool startTls(RealFtpServer &server, Tls tls, bool requireReuse = false, bool cut = false, int dropAfterSeconds = 0)
{
    RealFtpServer::Options options;
    options.tls = tls;
    options.requireSessionReuse = requireReuse;
    options.cutTlsData = cut;
    options.dropFirstSessionSeconds = dropAfterSeconds;
    return server.start(options);
}

// An engine logged in to `address`; the text of the NetworkException in `thrown`.
std::shared_ptr<FTP> logIn(const QString &address, QString *thrown = nullptr)
{
    auto ftp = FTP::create();
    try {
        FTP::connectInto(ftp, address, RealFtpServer::user(), RealFtpServer::password());
    } catch (const NetworkException &e) {
        if (thrown)
            *thrown = e.reason();
    }
    return ftp;
}

// The status of a transfer started with `start` (its reply code), -1 when it did not start.
QString transferStatus(FTP &ftp, const std::function<int()> &start)
{
    TransferRecorder recorder(&ftp);
    const int code = start();
    if (code != 125 && code != 150)
        return QString::number(code);
    if (!recorder.waitForCompletion())
        return QStringLiteral("no completion");
    return recorder.completion().userInfo.value(QStringLiteral("status"));
}

constexpr char kSessionsRefused[] = "Session non chiffree : le serveur refuse AUTH TLS";

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
    void twoWindowsKeepBothChoices_data();
    void twoWindowsKeepBothChoices();
    void engineSession_data();
    void engineSession();
    void brokenDataStream_data();
    void brokenDataStream();
    void certificateDecision_data();
    void certificateDecision();
    void reopenedAfterIdle();
    void neverClearAfterTls_data();
    void neverClearAfterTls();
    void givenUpDuringHandshake();
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

void TstTls::twoWindowsKeepBothChoices_data()
{
    QTest::addColumn<bool>("clear"); // the servers allowed in clear rather than certificates
    QTest::newRow("always trusted certificates") << false;
    QTest::newRow("servers allowed in clear") << true;
}

// Two windows read the files at their start, then each saves a choice about another
// server: both choices are kept, and the file stays private.
void TstTls::twoWindowsKeepBothChoices()
{
    QFETCH(bool, clear);
    QTemporaryDir config;
    const QString file = config.filePath(QStringLiteral("Zodaru/trusted-certificates"));
    CertificateStore first(file);
    CertificateStore second(file);
    const QString a = QStringLiteral("a.example:21");
    const QString b = QStringLiteral("[::1]:2121");
    auto save = [clear](CertificateStore &store, const QString &key, char digest) {
        return clear ? store.allowClearAlways(key, nullptr) : store.trustAlways(key, QByteArray(32, digest), nullptr);
    };
    QVERIFY(save(first, a, 'a'));
    QVERIFY(save(second, b, 'b'));
    const CertificateStore later(file);
    for (const QString &key : {a, b}) {
        if (clear)
            QVERIFY2(later.clearAllowed(key), qPrintable(key));
        else
            QCOMPARE(later.trustedFingerprint(key), QByteArray(32, key == a ? 'a' : 'b'));
    }
    QCOMPARE(later.clearAllowed(a), clear);
    const QString written = clear ? CertificateStore::clearServersPath(file) : file;
    QCOMPARE(QFile::permissions(written) & ~(QFile::ReadUser | QFile::WriteUser), QFile::ReadOwner | QFile::WriteOwner);
    QVERIFY(!QFile::exists(written + QStringLiteral(".lock")));
}

void TstTls::engineSession_data()
{
    QTest::addColumn<Tls>("tls");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("encrypted");
    QTest::addColumn<QString>("thrown"); // beginning of the NetworkException's text
    QTest::newRow("bare host, AUTH TLS") << Tls::Explicit << QString() << true << QString();
    QTest::newRow("ftpes://") << Tls::Explicit << QStringLiteral("ftpes://") << true << QString();
    QTest::newRow("ftps://, implicit") << Tls::Implicit << QStringLiteral("ftps://") << true << QString();
    QTest::newRow("ftp:// stays in clear") << Tls::Explicit << QStringLiteral("ftp://") << false << QString();
    QTest::newRow("bare host, AUTH refused") << Tls::None << QString() << false << QString();
    QTest::newRow("ftpes://, AUTH refused") << Tls::None << QStringLiteral("ftpes://") << false
                                           << QStringLiteral("AUTH TLS");
}

// A whole session as the server text asks: listing, download and upload byte-identical,
// against a server that refuses data connections not resuming the control session.
void TstTls::engineSession()
{
    QFETCH(Tls, tls);
    QFETCH(QString, scheme);
    QFETCH(bool, encrypted);
    QFETCH(QString, thrown);
    RealFtpServer server;
    QVERIFY2(startTls(server, tls, tls != Tls::None), qPrintable(server.errorText()));
    if (tls != Tls::None)
        QVERIFY(FTP::tlsContext().addTrustedCertificates(server.certificatePath()));
    const QByteArray content = patternBytes(300000, 7);
    QVERIFY(server.writeFile(QStringLiteral("down.bin"), content));
    QTemporaryDir local;

    LogCapture log;
    QString exception;
    const auto ftp = logIn(scheme + server.hostAndPort(), &exception);
    QVERIFY2(thrown.isEmpty() ? exception.isEmpty() : exception.startsWith(thrown), qPrintable(exception));
    QCOMPARE(ftp->isConnected(), thrown.isEmpty());
    QCOMPARE(log.count(QLatin1String(kSessionsRefused)), int(tls == Tls::None && scheme.isEmpty()));
    if (!thrown.isEmpty())
        return;
    QCOMPARE(ftp->isEncrypted(), encrypted);
    QCOMPARE(ftp->tlsDescription().startsWith(QLatin1String("TLSv1.")), encrypted);
    QCOMPARE(log.count(QStringLiteral("Session chiffree : ") + ftp->tlsDescription()), int(encrypted));

    const auto entries = ftp->list(QStringLiteral("/"));
    QVERIFY(entries);
    QCOMPARE(entries->size(), 1);
    QCOMPARE(entries->first().name(), QStringLiteral("down.bin"));
    const QString saved = local.filePath(QStringLiteral("saved.bin"));
    QCOMPARE(transferStatus(*ftp, [&] { return ftp->get(QStringLiteral("down.bin"), saved, 1); }),
             QStringLiteral("226"));
    QCOMPARE(readFile(saved), content);
    QCOMPARE(transferStatus(*ftp, [&] { return ftp->put(saved, QStringLiteral("up.bin"), 2); }),
             QStringLiteral("226"));
    QCOMPARE(server.readFile(QStringLiteral("up.bin")), content);
    // An upload that continues a remote file from an odd byte: the rest goes, whole.
    QVERIFY(server.writeFile(QStringLiteral("part.bin"), content.left(100001)));
    QCOMPARE(transferStatus(*ftp, [&] { return ftp->put(saved, QStringLiteral("part.bin"), 3, 100001); }),
             QStringLiteral("226"));
    QCOMPARE(ftp->resumeOffset(), qint64(100001));
    QCOMPARE(server.readFile(QStringLiteral("part.bin")), content);

    // Between commands the control connection is looked at through the TLS layer.
    QVERIFY(ftp->checkControlConnection());
    QCOMPARE(ftp->cd(QStringLiteral("/")), 250);
    server.stop();
    QTRY_VERIFY(!ftp->checkControlConnection());
}

void TstTls::brokenDataStream_data()
{
    QTest::addColumn<bool>("listing");
    QTest::addColumn<bool>("otherCertificate");
    QTest::addColumn<QString>("logLine"); // %1: the download's target
    QTest::newRow("listing cut") << true << false
                                 << QStringLiteral("Listing de / coupe : flux TLS ferme sans close_notify");
    QTest::newRow("download cut") << false << false
                                  << QStringLiteral("Telechargement de %1 coupe : flux TLS ferme sans close_notify");
    QTest::newRow("listing, another certificate")
        << true << true << QStringLiteral("Connexion de donnees : certificat different de celui de la connexion de controle");
}

// A TLS data stream that ends without close_notify may be cut short, and one that shows
// another certificate than the control connection may come from someone else: the listing
// or the download fails (a cut download keeps its partial for a resume), and the session
// goes on in step.
void TstTls::brokenDataStream()
{
    QFETCH(bool, listing);
    QFETCH(bool, otherCertificate);
    QFETCH(QString, logLine);
    RealFtpServer server;
    RealFtpServer::Options options;
    options.tls = Tls::Explicit;
    options.requireSessionReuse = !otherCertificate;
    options.cutTlsData = !otherCertificate;
    options.otherDataCertificate = otherCertificate;
    QVERIFY2(server.start(options), qPrintable(server.errorText()));
    QVERIFY(FTP::tlsContext().addTrustedCertificates(server.certificatePath()));
    const QByteArray content = patternBytes(100000, 3);
    QVERIFY(server.writeFile(QStringLiteral("cut.bin"), content));
    QTemporaryDir local;
    const QString saved = local.filePath(QStringLiteral("cut.bin"));
    LogCapture log;
    const auto ftp = logIn(server.address());
    QVERIFY(ftp->isEncrypted());
    if (listing) {
        QVERIFY(!ftp->list(QStringLiteral("/")));
    } else {
        QCOMPARE(transferStatus(*ftp, [&] { return ftp->get(QStringLiteral("cut.bin"), saved, 1); }),
                 QStringLiteral("-1"));
        QVERIFY(!QFile::exists(saved));
        QCOMPARE(readFile(saved + QStringLiteral(".zodaru-part")), content);
    }
    QVERIFY2(log.contains(logLine.replace(QLatin1String("%1"), saved)), qPrintable(log.lines().join(u'|')));
    QCOMPARE(ftp->cd(QStringLiteral("/")), 250);
}

void TstTls::certificateDecision_data()
{
    QTest::addColumn<bool>("withCheck");
    QTest::addColumn<CertificateVerdict>("decided");
    QTest::addColumn<bool>("connected");
    QTest::newRow("no check") << false << CertificateVerdict::Unknown << false;
    QTest::newRow("unknown") << true << CertificateVerdict::Unknown << false;
    QTest::newRow("changed") << true << CertificateVerdict::Changed << false;
    QTest::newRow("known") << true << CertificateVerdict::Known << true;
}

// A certificate that does not verify goes to the check, which decides; a refusal leaves
// the engine not connected and says about what.
void TstTls::certificateDecision()
{
    QFETCH(bool, withCheck);
    QFETCH(CertificateVerdict, decided);
    QFETCH(bool, connected);
    RealFtpServer server;
    QVERIFY2(startTls(server, Tls::Implicit), qPrintable(server.errorText()));
    const QString key = CertificateStore::key(QStringLiteral("127.0.0.1"), server.port());
    std::mutex asked;
    QStringList servers;
    QList<TlsPeer> peers;
    if (withCheck) {
        FTP::setCertificateCheck([&](const QString &s, const TlsPeer &peer) {
            std::lock_guard lock(asked);
            servers.append(s);
            peers.append(peer);
            return decided;
        });
    }
    const auto reset = qScopeGuard([] { FTP::setCertificateCheck({}); });
    const auto ftp = logIn(server.address());
    QCOMPARE(ftp->isConnected(), connected);
    QVERIFY(!ftp->loginRefused());
    QCOMPARE(servers, withCheck ? QStringList{key} : QStringList());
    const auto refusal = ftp->certificateRefusal();
    QCOMPARE(refusal.has_value(), !connected);
    if (withCheck)
        QVERIFY(!peers.first().verified);
    if (refusal) {
        QCOMPARE(refusal->server, key);
        QCOMPARE(refusal->verdict, decided);
        QCOMPARE(refusal->peer.certificate.sha256.size(), 32);
        QVERIFY(!refusal->peer.verifyError.isEmpty());
    } else {
        QVERIFY(ftp->list(QStringLiteral("/")));
    }
}

// A session the server closed while idle is reopened with its TLS, login and PROT P.
void TstTls::reopenedAfterIdle()
{
    RealFtpServer server;
    QVERIFY2(startTls(server, Tls::Explicit, true, false, 1), qPrintable(server.errorText()));
    QVERIFY(FTP::tlsContext().addTrustedCertificates(server.certificatePath()));
    LogCapture log;
    const auto ftp = logIn(server.address());
    QVERIFY(ftp->isEncrypted());
    QTest::qWait(2000); // the server's 421 comes one second after the login
    QVERIFY(ftp->list(QStringLiteral("/")));
    QVERIFY(log.contains(QStringLiteral("Reconnexion reussie")));
    QVERIFY(ftp->isEncrypted());
    QCOMPARE(log.count(QStringLiteral("Session chiffree : ") + ftp->tlsDescription()), 2);
}

void TstTls::neverClearAfterTls_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("failure"); // FTP::SecurityFailure
    using Failure = FTP::SecurityFailure;
    // A session over TLS the server closed while idle; someone in the way refuses TLS to
    // the new connection.
    QTest::newRow("reopened after idle") << "reopen" << false << int(Failure::TlsRefused);
    // An engine made for a session whose first engine had TLS.
    QTest::newRow("another engine of a TLS session") << "required" << false << int(Failure::TlsRefused);
    // A bare host refused TLS, and the user has not agreed to clear.
    QTest::newRow("bare host, clear not agreed") << "not agreed" << false << int(Failure::ClearNotAllowed);
    QTest::newRow("bare host, clear agreed") << "agreed" << true << int(Failure::None);
}

// No USER or PASS reaches a connection whose TLS was stripped, unless clear was agreed to.
void TstTls::neverClearAfterTls()
{
    QFETCH(QString, how);
    QFETCH(bool, connected);
    QFETCH(int, failure);
    RealFtpServer server;
    QVERIFY2(startTls(server, Tls::Explicit), qPrintable(server.errorText()));
    QVERIFY(FTP::tlsContext().addTrustedCertificates(server.certificatePath()));
    StrippingProxy proxy(server.port(), [&how](int) { return how != "reopen"; });
    ProtectionPolicy policy;
    policy.required = how == "required" ? Protection::Tls : Protection::Clear;
    policy.clearAllowed = how != "not agreed";
    const auto ftp = FTP::create();
    try {
        FTP::connectInto(ftp, proxy.address(), RealFtpServer::user(), RealFtpServer::password(), policy);
    } catch (const NetworkException &) {
    }
    if (how == "reopen") {
        QVERIFY(ftp->isEncrypted());
        QCOMPARE(ftp->protection(), Protection::Tls);
        proxy.stripFromNow();
        proxy.cutAll();
        QVERIFY(!ftp->list(QStringLiteral("/")));
        QCOMPARE(proxy.connectionCount(), 2);
    }
    QCOMPARE(ftp->isConnected(), connected);
    QCOMPARE(int(ftp->securityFailure()), failure);
    // What the last login had: a failed reopening leaves it as it was.
    QCOMPARE(ftp->protection(), how == "reopen" ? Protection::Tls : Protection::Clear);
    const QByteArray sent = proxy.clientLines().join('|');
    QCOMPARE(sent.contains("PASS"), connected);
    QCOMPARE(sent.contains("USER"), connected);
}

// A connect given up during its TLS handshake says so, not that TLS failed.
void TstTls::givenUpDuringHandshake()
{
    // Agrees to TLS, then never says a word of the handshake.
    ScriptedFtpServer server(zodaru::testing::scripted(R"(reply "220 hello"; expect "AUTH TLS"; reply "234 go ahead"; silence)"));
    LogCapture log;
    const auto ftp = FTP::create();
    std::thread giveUp([&] {
        (void)server.waitForReceived(0, "AUTH TLS\r\n");
        std::this_thread::sleep_for(std::chrono::milliseconds(100)); // in the handshake by now; same outcome if not
        ftp->giveUp();
    });
    QString thrown;
    try {
        FTP::connectInto(ftp, QStringLiteral("127.0.0.1:%1").arg(server.port()), QStringLiteral("u"),
                         QStringLiteral("p"));
    } catch (const NetworkException &e) {
        thrown = e.reason();
    }
    giveUp.join();
    QVERIFY2(thrown.isEmpty(), qPrintable(thrown));
    QVERIFY(!ftp->isConnected());
    QVERIFY2(!log.containsPrefix(QStringLiteral("Negociation TLS impossible")), qPrintable(log.lines().join(u'|')));
    QVERIFY2(log.contains(QStringLiteral("Connexion abandonnee pendant la negociation TLS")),
             qPrintable(log.lines().join(u'|')));
}

QTEST_GUILESS_MAIN(TstTls)
#include "tst_tls.moc"
