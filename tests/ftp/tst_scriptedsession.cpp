// SPDX-License-Identifier: GPL-3.0-or-later
// The script runner of the protocol tests, checked with a bare socket client: what a script
// says is exactly what goes on the wire.
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

using namespace zodaru;
using namespace zodaru::testing;

namespace {

// Connects to `port`, sends `bytes`, and returns everything received until the server
// closes. Reads give up after a while, so a runner that never closes fails the test.
QByteArray exchange(quint16 port, QByteArrayView bytes)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval tv{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    QByteArray out;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0
        && ::send(fd, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL) == bytes.size()) {
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd, buf, sizeof buf, 0)) > 0;)
            out.append(buf, n);
    }
    ::close(fd);
    return out;
}

QByteArray allBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

} // namespace

class TestScriptedSession final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scriptsSayWhatGoesOnTheWire_data();
    void scriptsSayWhatGoesOnTheWire();
};

void TestScriptedSession::scriptsSayWhatGoesOnTheWire_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("clientSends");
    QTest::addColumn<QByteArray>("serverSends");
    QTest::addColumn<bool>("fails"); // the script is recorded as failed

    QTest::newRow("reply adds CR LF") << QByteArray(R"(reply "220 Hi")") << QByteArray() << QByteArray("220 Hi\r\n")
                                      << false;
    QTest::newRow("escapes") << QByteArray(R"(send "\x41\x7f\\\"\t\r\n")") << QByteArray()
                             << QByteArray("A\x7f\\\"\t\r\n") << false;
    QTest::newRow("separator inside quotes") << QByteArray(R"(reply "a; b"; reply "c")") << QByteArray()
                                             << QByteArray("a; b\r\nc\r\n") << false;
    QTest::newRow("statements on lines") << QByteArray("reply \"a\"\n\n  reply \"b\"\r\n") << QByteArray()
                                         << QByteArray("a\r\nb\r\n") << false;
    QTest::newRow("value") << QByteArray("send $bytes") << QByteArray() << allBytes() << false;
    QTest::newRow("quoted, every byte") << "send " + quoted(allBytes()) << QByteArray() << allBytes() << false;
    QTest::newRow("end stops the script") << QByteArray(R"(reply "a"; end; reply "b")") << QByteArray()
                                          << QByteArray("a\r\n") << false;
    QTest::newRow("expect, then reply") << QByteArray(R"(expect "CWD /p"; reply "250 Okay")")
                                        << QByteArray("CWD /pub\r\n") << QByteArray("250 Okay\r\n") << false;
    QTest::newRow("expect mismatch ends the script") << QByteArray(R"(expect "CWD"; reply "250 Okay")")
                                                     << QByteArray("PWD\r\n") << QByteArray() << true;
    QTest::newRow("rest") << QByteArray("rest") << QByteArray("NOOP\r\nX\r\nQUIT\r\n")
                          << QByteArray("200 OK\r\n200 OK\r\n221 Bye\r\n") << false;
    QTest::newRow("step") << QByteArray("step") << QByteArray("NOOP\r\nX\r\nQUIT\r\n")
                          << QByteArray("254 In step\r\n200 OK\r\n221 Bye\r\n") << false;
    QTest::newRow("login") << QByteArray("login") << QByteArray("USER u\r\nPASS p\r\n")
                           << QByteArray("220 Scripted server ready\r\n331 Password required\r\n230 Logged in\r\n")
                           << false;
    QTest::newRow("await, released") << QByteArray(R"(await "go"; reply "went")") << QByteArray()
                                     << QByteArray("went\r\n") << false;
    // FEAT is answered on its own while the script waits for another command.
    QTest::newRow("features") << QByteArray(R"(features "EPSV" "SIZE"; expect NOOP; reply "200 Fine")")
                              << QByteArray("FEAT\r\nNOOP\r\n")
                              << QByteArray("211-Features:\r\n EPSV\r\n SIZE\r\n211 End\r\n200 Fine\r\n") << false;
}

void TestScriptedSession::scriptsSayWhatGoesOnTheWire()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, clientSends);
    QFETCH(QByteArray, serverSends);
    QFETCH(bool, fails);

    ScriptedFtpServer server(scripted(script, {{"bytes", allBytes()}}));
    server.release("go");
    QCOMPARE(exchange(server.port(), clientSends), serverSends);
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.failures().size(), fails ? 1 : 0);
}

QTEST_GUILESS_MAIN(TestScriptedSession)
#include "tst_scriptedsession.moc"
