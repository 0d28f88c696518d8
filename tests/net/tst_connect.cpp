// SPDX-License-Identifier: GPL-3.0-or-later
// Why a connection could not be opened is told by a kind, for the callers that act on it;
// the reason text stays for the log.
#include "ftp/FTP.h"
#include "net/Connect.h"
#include "support/FullListener.h"
#include "support/ScriptedFtpServer.h"

#include <QtTest>

#include <optional>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using zodaru::ConnectCanceller;
using zodaru::FTP;
using zodaru::FullListener;
using zodaru::NetworkException;
using zodaru::ScriptedFtpServer;
using Kind = zodaru::NetworkException::Kind;

Q_DECLARE_METATYPE(NetworkException::Kind)

namespace {

// A port on 127.0.0.1 that nobody listens on: bound by the system's choice, then let go.
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace

class TestConnect : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void connectFailures_data();
    void connectFailures();
    void sessionFailures_data();
    void sessionFailures();
};

void TestConnect::connectFailures_data()
{
    QTest::addColumn<QString>("peer"); // closed, silent
    QTest::addColumn<bool>("cancelled");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("reason"); // the start of reason()

    QTest::newRow("nobody listens") << "closed" << false << Kind::Unreachable << "connect [errno(111)";
    QTest::newRow("never answers") << "silent" << false << Kind::TimedOut << "connect [errno(110)";
    QTest::newRow("given up") << "silent" << true << Kind::GivenUp << "connect [errno(125)";
}

void TestConnect::connectFailures()
{
    QFETCH(QString, peer);
    QFETCH(bool, cancelled);
    QFETCH(Kind, kind);
    QFETCH(QString, reason);

    FullListener silent;
    const quint16 port = peer == QLatin1String("silent") ? silent.port() : closedPort();
    ConnectCanceller canceller;
    if (cancelled)
        canceller.cancel();
    std::optional<NetworkException> thrown;
    try {
        const int fd = zodaru::connectTcp(QStringLiteral("127.0.0.1"), port, 300, &canceller);
        ::close(fd);
    } catch (const NetworkException &e) {
        thrown = e;
    }
    QVERIFY(thrown.has_value());
    QCOMPARE(thrown->kind(), kind);
    QVERIFY2(thrown->reason().startsWith(reason), qPrintable(thrown->reason()));
    QCOMPARE(NetworkException::name(), QStringLiteral("NetworkException"));
}

void TestConnect::sessionFailures_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<Kind>("kind");
    QTest::addColumn<QString>("reason");

    QTest::newRow("AUTH TLS refused") << "ftpes://" << true << Kind::TlsRefused << "AUTH TLS";
    QTest::newRow("no TLS where it must start") << "ftps://" << true << Kind::TlsHandshake << "TLS [";
    QTest::newRow("no server") << "" << false << Kind::Unreachable << "connect [";
}

void TestConnect::sessionFailures()
{
    QFETCH(QString, scheme);
    QFETCH(bool, listening);
    QFETCH(Kind, kind);
    QFETCH(QString, reason);

    // A plain FTP server that refuses AUTH TLS, and answers a TLS hello with its greeting.
    ScriptedFtpServer server([](ScriptedFtpServer::Session &s) {
        s.line("220 hello");
        s.expect("AUTH TLS");
        s.line("500 not here");
        s.waitForEof();
    });
    const quint16 port = listening ? server.port() : closedPort();
    std::optional<NetworkException> thrown;
    const auto ftp = FTP::create();
    try {
        FTP::connectInto(ftp, scheme + QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("u"),
                         QStringLiteral("p"));
    } catch (const NetworkException &e) {
        thrown = e;
    }
    QVERIFY(thrown.has_value());
    QCOMPARE(thrown->kind(), kind);
    QVERIFY2(thrown->reason().startsWith(reason), qPrintable(thrown->reason()));
    QVERIFY(!ftp->isConnected());
}

QTEST_GUILESS_MAIN(TestConnect)
#include "tst_connect.moc"
