// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ByteNames.h"
#include "ftp/FTP.h"
#include "base/Log.h"
#include "support/FullListener.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <atomic>
#include <cerrno>
#include <thread>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using zodaru::FTP;
using zodaru::FullListener;
using zodaru::LogCapture;
using zodaru::NetworkException;
using zodaru::ScriptedFtpServer;
using zodaru::testing::scripted;
using zodaru::testing::scriptedPerConnection;

namespace {

// An engine's settings with the given time limits.
FTP::Settings withTimeouts(const FTP::Timeouts &timeouts)
{
    FTP::Settings settings = FTP::defaultSettings();
    settings.timeouts = timeouts;
    return settings;
}

// A port on 127.0.0.1 where nothing listens.
quint16 closedPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

} // namespace

class TestFtpControl final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void replies_data();
    void replies();
    void replyLimits_data();
    void replyLimits();
    void commandBytes_data();
    void commandBytes();
    void login_data();
    void login();
    void multiLineGreetingIsOneReply();
    void engineOperations_data();
    void engineOperations();
    void closedEngineAnswersAtOnce();
    void connectionFailures_data();
    void connectionFailures();
    void silentServerTimesOut_data();
    void silentServerTimesOut();
    void closeFromAnotherThreadWakesReader();
    void idleSessionIsReopened_data();
    void idleSessionIsReopened();
    void connectAbandonedFromAnotherThread_data();
    void connectAbandonedFromAnotherThread();
    void closedSessionIsNotReopened_data();
    void closedSessionIsNotReopened();
};

void TestFtpControl::replies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("closeAfter");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("nextCode");
    QTest::addColumn<QString>("logLine"); // a line that must be logged once, or empty

    const QString lost = QStringLiteral("Connexion de controle perdue dans ret : on ferme la connexion");
    QTest::newRow("one line") << QByteArray("200 OK\r\n") << false << 200 << true << 200 << QString();
    QTest::newRow("multi-line") << QByteArray("211-Features\r\n211-MDTM\r\n211 End\r\n") << false << 211 << true << 200 << QString();
    // Lines without a code are text of the reply, which ends at its own code and a space.
    QTest::newRow("continuation without code")
        << QByteArray("211-Features\r\n more text\r\n211-x\r\n200 y\r\n211 End\r\n") << false << 211 << true << 200
        << QString();
    QTest::newRow("short line") << QByteArray("12\r\n") << false << -1 << true << 200 << QString();
    QTest::newRow("three characters") << QByteArray("200\r\n") << false << -1 << true << 200 << QString();
    QTest::newRow("no digits") << QByteArray("abc def\r\n") << false << 0 << true << 200 << QString();
    QTest::newRow("bare LF is data") << QByteArray("200 abc\ndef\r\n") << false << 200 << true << 200 << QString();
    QTest::newRow("lone CR is data") << QByteArray("200 abc\rx\r\n") << false << 200 << true << 200 << QString();
    QTest::newRow("CR CR LF") << QByteArray("200 abc\r\r\n") << false << 200 << true << 200 << QString();
    QTest::newRow("LF right after code") << QByteArray("250\n-x\r\n") << false << 250 << true << 200 << QString();
    QTest::newRow("UTF-8") << QByteArray("257 \"/caf\xc3\xa9\" created\r\n") << false << 257 << true << 200 << QString();
    QTest::newRow("invalid UTF-8") << QByteArray("200 \xff\xfe ok\r\n") << false << 200 << true << 200 << QString();
    QTest::newRow("invalid UTF-8 in multi-line")
        << QByteArray("230-\xe9t\xe9\r\n230 fin\r\n") << false << 230 << true << 200 << QString();
    // A refusal fails that command only; the whole reply is read so the next one lines up.
    QTest::newRow("refusal keeps the session") << QByteArray("550 No such file\r\n") << false << 550 << true << 200
                                               << QStringLiteral("Commande refusee par le serveur : 550 No such file");
    QTest::newRow("multi-line refusal") << QByteArray("450-Busy\r\n450 Try later\r\n") << false << 450 << true
                                        << 200 << QStringLiteral("Commande refusee par le serveur : 450 Try later");
    QTest::newRow("421 closes") << QByteArray("421-Bye\r\n421 Bye\r\n") << false << 421 << false << -1
                                << QStringLiteral("CLOSING CONNECTION !");
    QTest::newRow("399 stays") << QByteArray("399 odd\r\n") << false << 399 << true << 200 << QString();
    QTest::newRow("end of stream mid-reply") << QByteArray("220-a\r\n") << true << -1 << false << -1 << lost;
    QTest::newRow("end of stream mid-line") << QByteArray("200 no end") << true << -1 << false << -1 << lost;
    QTest::newRow("overlong line") << QByteArray("200 ") + QByteArray(200000, 'x') + "\r\n" << false << 200 << true
                                   << 200 << QString();
}

void TestFtpControl::replies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, closeAfter);
    QFETCH(int, code);
    QFETCH(bool, connected);
    QFETCH(int, nextCode);
    QFETCH(QString, logLine);
    const QString lost = QStringLiteral("Connexion de controle perdue dans ret : on ferme la connexion");

    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; expect NOOP; send $reply; )"
                                          + QByteArray(closeAfter ? "close; end" : "rest"),
                                      {{"reply", reply}}));
    LogCapture log;
    auto ftp = FTP::connectTo(server.address());
    QVERIFY(ftp->isConnected());
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), code);
    QCOMPARE(ftp->isConnected(), connected);
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), nextCode);
    if (!logLine.isEmpty())
        QCOMPARE(log.count(logLine), 1);
    QCOMPARE(log.containsPrefix(QStringLiteral("CLOSING CONNECTION !")), logLine.startsWith(u"CLOSING") || logLine == lost);
    // Bounded memory: an endless line is cut, not kept whole.
    for (const QString &line : log.lines())
        QVERIFY(line.size() <= 64 * 1024 + 16);
    QVERIFY(log.contains(QStringLiteral("RET() ==> 220 Hello")));
}

void TestFtpControl::replyLimits_data()
{
    QTest::addColumn<QByteArray>("unit"); // sent `repeat` times, then "211 End"
    QTest::addColumn<int>("repeat");
    QTest::addColumn<bool>("slowly");
    QTest::addColumn<QString>("logLine");

    const QString tooLong = QStringLiteral("Reponse trop longue dans ret : on ferme la connexion");
    QTest::newRow("bytes over all lines") << QByteArray("211-") + QByteArray(60, 'x') + "\r\n" << 100 << false
                                          << tooLong;
    QTest::newRow("one line over the budget") << QByteArray(1000, 'x') << 10 << false << tooLong;
    // Each line comes well within the line limit, but the reply never ends.
    QTest::newRow("endless slow reply") << QByteArray("211-more\r\n") << 2000 << true
                                        << QStringLiteral("Delai depasse dans ret : on ferme la connexion");
}

void TestFtpControl::replyLimits()
{
    QFETCH(QByteArray, unit);
    QFETCH(int, repeat);
    QFETCH(bool, slowly);
    QFETCH(QString, logLine);

    FTP::Settings settings = FTP::defaultSettings();
    settings.timeouts.replyTotal = 300;
    settings.limits.replyBytes = 4096;
    const QByteArray oneUnit = slowly ? "send $unit; sleep 10\n" : "send $unit\n";
    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; expect NOOP)" "\n" + oneUnit.repeated(repeat)
                                          + R"(reply "\r\n211 End"; rest)",
                                      {{"unit", unit}}));
    LogCapture log;
    auto ftp = FTP::connectTo(server.address(), settings);
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), -1);
    QVERIFY(!ftp->isConnected());
    QCOMPARE(log.count(logLine), 1);
}

void TestFtpControl::commandBytes_data()
{
    QTest::addColumn<QString>("word");
    QTest::addColumn<QString>("param");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("result");

    QTest::newRow("QUIT") << "QUIT" << QString() << QByteArray("QUIT\r\n") << 221;
    QTest::newRow("with parameter") << "CWD" << "/pub" << QByteArray("CWD /pub\r\n") << 200;
    QTest::newRow("empty parameter") << "LIST" << "" << QByteArray("LIST\r\n") << 200;
    QTest::newRow("whole line") << "DELE //a b" << QString() << QByteArray("DELE //a b\r\n") << 200;
    QTest::newRow("UTF-8 path") << "MKD" << "/caf\u00e9" << QByteArray("MKD /caf\xc3\xa9\r\n") << 200;
    // A listed name that is not UTF-8 goes back to the server as the bytes it sent.
    QTest::newRow("Latin-1 name") << "DELE" << zodaru::nameFromBytes("/caf\xe9") << QByteArray("DELE /caf\xe9\r\n")
                                  << 200;
    // Refused: nothing reaches the wire, so the next command is the first thing sent.
    QTest::newRow("CR LF in parameter") << "DELE" << "/a\r\nRMD /b" << QByteArray() << -1;
    QTest::newRow("LF in whole line") << "MKD /a\nDELE /b" << QString() << QByteArray() << -1;
    QTest::newRow("CR before end") << "CWD" << "/a\rb" << QByteArray() << -1;
    QTest::newRow("CR at end of line") << "NOOP\r" << QString() << QByteArray() << -1;
    QTest::newRow("LF at end of line") << "NOOP\n" << QString() << QByteArray() << -1;
    QTest::newRow("CR at end of parameter") << "DELE" << "x\r" << QByteArray() << -1;
    QTest::newRow("LF at end of parameter") << "RETR" << "x\n" << QByteArray() << -1;
    QTest::newRow("CR at start") << "\rNOOP" << QString() << QByteArray() << -1;
    QTest::newRow("LF at start of parameter") << "MKD" << "\nx" << QByteArray() << -1;
}

void TestFtpControl::commandBytes()
{
    QFETCH(QString, word);
    QFETCH(QString, param);
    QFETCH(QByteArray, wire);
    QFETCH(int, result);

    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; expect NOOP; reply "200 Ready"; rest)"));
    LogCapture log;
    auto ftp = FTP::connectTo(server.address());
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    QCOMPARE(ftp->command(word, param), result);
    QVERIFY(ftp->isConnected());
    ftp->close();
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.received(0), QByteArray("NOOP\r\n") + wire);
    if (result == -1)
        QVERIFY(log.containsPrefix(QStringLiteral("Commande refusee")));
}

void TestFtpControl::login_data()
{
    QTest::addColumn<QByteArray>("userReply");
    QTest::addColumn<QByteArray>("passReply");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("reply"); // the reply that ended the login

    const QByteArray both("USER anna\r\nPASS s3cr\xc3\xa9t\r\n");
    // A session that opened asks what the server offers.
    const QByteArray in = both + "FEAT\r\n";
    QTest::newRow("331 then 230") << QByteArray("331 Password") << QByteArray("230 In") << true << in << 230;
    QTest::newRow("230 still gets PASS") << QByteArray("230 In") << QByteArray("202 Superfluous") << true << in << 202;
    QTest::newRow("230 then PASS refused") << QByteArray("230 In") << QByteArray("503 Bad sequence") << true << in << 503;
    QTest::newRow("wrong password") << QByteArray("331 Password") << QByteArray("530 Denied") << false << both << 530;
    QTest::newRow("user refused") << QByteArray("530 No") << QByteArray() << false << QByteArray("USER anna\r\n") << 530;
}

void TestFtpControl::login()
{
    QFETCH(QByteArray, userReply);
    QFETCH(QByteArray, passReply);
    QFETCH(bool, connected);
    QFETCH(QByteArray, wire);
    QFETCH(int, reply);

    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; expect "USER "; reply $user; )"
                                          + QByteArray(userReply.startsWith('5') ? "eof" : "expect \"PASS \"; reply $pass; rest"),
                                      {{"user", userReply}, {"pass", passReply}}));
    LogCapture log;
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("anna"), QStringLiteral("s3cr\u00e9t"));
    QCOMPARE(ftp->isConnected(), connected);
    QCOMPARE(ftp->loginReply(), reply);
    ftp->close();
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.received(0), wire);
    QVERIFY(log.contains(QStringLiteral("=> >USER anna<")));
    if (wire.contains("PASS"))
        QVERIFY(log.contains(QStringLiteral("=> >PASS ****<")));
    QVERIFY(!log.lines().join(u'\n').contains(QStringLiteral("s3cr")));
    QVERIFY(log.containsPrefix(QStringLiteral("Adresse : %1 socket : ").arg(server.address())));
}

void TestFtpControl::multiLineGreetingIsOneReply()
{
    ScriptedFtpServer server(scripted(R"(send "220-Welcome\r\n220-Second line\r\n220 Ready\r\n"
        expect NOOP; reply "200 Fine"; rest)"));
    auto ftp = FTP::connectTo(server.address());
    // Had the greeting stopped early, its last line would answer this command.
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
}

void TestFtpControl::engineOperations_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<int>("result");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QByteArray>("script"); // after the greeting and an unasked line

    const QByteArray type = R"(expect "TYPE A"; reply "200 OK"; )";
    QTest::newRow("cd") << "cd" << QByteArray("TYPE A\r\nCWD /pub\r\n") << 250 << true
                        << type + R"(expect "CWD /pub"; reply "250 Okay"; eof)";
    QTest::newRow("cd refused") << "cd missing" << QByteArray("TYPE A\r\nCWD /missing\r\n") << 550 << true
                                << type + R"(expect "CWD /missing"; reply "550 No such directory"; eof)";
    QTest::newRow("shutdown") << "shutdown" << QByteArray("TYPE A\r\nQUIT\r\n") << 0 << false
                              << type + R"(expect QUIT; reply "221 Bye")";
    QTest::newRow("ret alone") << "ret" << QByteArray() << 200 << true << QByteArray("eof");
}

void TestFtpControl::engineOperations()
{
    QFETCH(QString, operation);
    QFETCH(QByteArray, wire);
    QFETCH(int, result);
    QFETCH(bool, connected);
    QFETCH(QByteArray, script);

    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; reply "200 Unasked")" "\n" + script));
    auto ftp = FTP::connectTo(server.address());
    if (operation == u"ret")
        QCOMPARE(ftp->ret(), result);
    else
        QCOMPARE(ftp->ret(), 200); // the unasked line, so the replies below line up
    if (operation == u"cd")
        QCOMPARE(ftp->cd(QStringLiteral("/pub")), result);
    else if (operation == u"cd missing")
        QCOMPARE(ftp->cd(QStringLiteral("/missing")), result);
    else if (operation == u"shutdown")
        ftp->shutdown();
    QCOMPARE(ftp->isConnected(), connected);
    ftp->close();
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.received(0), wire);
}

void TestFtpControl::closedEngineAnswersAtOnce()
{
    LogCapture log;
    auto never = FTP::create();
    QVERIFY(!never->isConnected());
    QCOMPARE(never->ret(), -1);
    QCOMPARE(never->command(QStringLiteral("NOOP")), -1);
    QCOMPARE(never->cd(QStringLiteral("/")), -1);
    QVERIFY(!never->list(QStringLiteral("/")).has_value());
    QCOMPARE(never->size(QStringLiteral("/a")), qint64(-1));
    never->close();
    never->close();
    never->shutdown();
    QVERIFY(log.count(QStringLiteral("On est Deconnecte")) >= 5);

    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; eof)"));
    auto ftp = FTP::connectTo(server.address());
    ftp->close();
    ftp->close();
    ftp->shutdown();
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.received(0), QByteArray());
}

void TestFtpControl::connectionFailures_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("reasonStart");

    QTest::newRow("unknown host") << "no-such-host.invalid" << "gethostbyname [errno(";
    QTest::newRow("nothing listening") << QStringLiteral("127.0.0.1:%1").arg(closedPort())
                                       << QStringLiteral("connect [errno(%1) : ").arg(ECONNREFUSED);
}

void TestFtpControl::connectionFailures()
{
    QFETCH(QString, address);
    QFETCH(QString, reasonStart);
    try {
        FTP::connectTo(address, QStringLiteral("u"), QStringLiteral("p"));
        QFAIL("no exception");
    } catch (const NetworkException &e) {
        QCOMPARE(NetworkException::name(), QStringLiteral("NetworkException"));
        QVERIFY2(e.reason().startsWith(reasonStart), qPrintable(e.reason()));
        QVERIFY(e.reason().endsWith(QLatin1Char(']')));
    }
}

void TestFtpControl::silentServerTimesOut_data()
{
    QTest::addColumn<bool>("greets");
    QTest::addColumn<QByteArray>("partial");

    QTest::newRow("no greeting") << false << QByteArray();
    QTest::newRow("no answer") << true << QByteArray();
    QTest::newRow("line never ends") << true << QByteArray("200 half a li");
    QTest::newRow("multi-line never ends") << true << QByteArray("211-first\r\n");
}

void TestFtpControl::silentServerTimesOut()
{
    QFETCH(bool, greets);
    QFETCH(QByteArray, partial);

    ScriptedFtpServer server(scripted(greets ? R"(reply "220 Hello"; expect NOOP; send $partial; silence)" : "silence",
                                      {{"partial", partial}}));
    LogCapture log;
    auto ftp = FTP::connectTo(server.address(), withTimeouts({300, 300, 300, 300}));
    if (greets) {
        QVERIFY(ftp->isConnected());
        QCOMPARE(ftp->command(QStringLiteral("NOOP")), -1);
    }
    QVERIFY(!ftp->isConnected());
    QCOMPARE(log.count(QStringLiteral("Delai depasse dans ret : on ferme la connexion")), 1);
}

void TestFtpControl::closeFromAnotherThreadWakesReader()
{
    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; silence)"));
    auto ftp = FTP::connectTo(server.address());
    std::thread closer([&] {
        if (server.waitForReceived(0, "NOOP\r\n"))
            ftp->close();
    });
    // Blocks until the other thread closes the engine (the default limit is 30 s).
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), -1);
    closer.join();
    QVERIFY(!ftp->isConnected());
}

void TestFtpControl::idleSessionIsReopened_data()
{
    QTest::addColumn<QByteArray>("farewell"); // what the idle server says before closing
    QTest::addColumn<bool>("secondLoginWorks");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("logLine");

    QTest::newRow("421 then close") << QByteArray("421 Timeout.\r\n") << true << 250
                                    << QStringLiteral("Reconnexion reussie");
    QTest::newRow("plain close") << QByteArray() << true << 250 << QStringLiteral("Reconnexion reussie");
    QTest::newRow("second login refused") << QByteArray("421 Timeout.\r\n") << false << -1
                                          << QStringLiteral("Reconnexion impossible : identification refusee");
}

// The server closed the session while the engine waited: the next action logs in again
// once, with the same address and credentials, then runs.
void TestFtpControl::idleSessionIsReopened()
{
    QFETCH(QByteArray, farewell);
    QFETCH(bool, secondLoginWorks);
    QFETCH(int, code);
    QFETCH(QString, logLine);

    // The first session ends (its control connection closed) after the farewell.
    ScriptedFtpServer server(scriptedPerConnection(
        {R"(login; expect NOOP; reply "200 Still here"; send $farewell; end)",
         R"(reply "220 Again"; expect "USER anna"; reply "331 Password"; expect "PASS pw")" "\n"
             + QByteArray(secondLoginWorks ? R"(reply "230 In"; expect "TYPE A"; reply "200 Type set"
                                                  expect "CWD /pub"; reply "250 Okay"; rest)"
                                           : R"(reply "530 Denied")")},
        {{"farewell", farewell}}));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("anna"), QStringLiteral("pw"));
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    QVERIFY(server.waitForFinished(0));
    LogCapture log;
    // The idle check sees the server's close but leaves the session to be reopened, and
    // says so once however often it looks.
    QTRY_VERIFY(!ftp->checkControlConnection());
    QVERIFY(!ftp->checkControlConnection());
    QVERIFY(ftp->reopensWhenUsed());
    QCOMPARE(log.lines().filter(QStringLiteral("Session fermee par le serveur entre deux commandes")).size(), 1);
    QCOMPARE(ftp->cd(QStringLiteral("/pub")), code);
    QVERIFY2(log.contains(logLine), qPrintable(log.lines().join(u'|')));
    QCOMPARE(server.connectionCount(), 2); // reopened once, never more
    QCOMPARE(ftp->isConnected(), secondLoginWorks);
    QCOMPARE(server.failures(), QStringList());
}

void TestFtpControl::connectAbandonedFromAnotherThread_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("dataConnection");
    QTest::newRow("login given up") << "giveUp" << false;
    QTest::newRow("session ended while dialing") << "endSession" << false;
    QTest::newRow("closed during a data connect") << "close" << true;
}

// A connect to a peer that never answers is abandoned at once from another thread,
// rather than at the end of its time limit.
void TestFtpControl::connectAbandonedFromAnotherThread()
{
    QFETCH(QString, how);
    QFETCH(bool, dataConnection);
    const FTP::Settings settings = withTimeouts({120000, 30000, 120000, 60000, 60000});
    FullListener silent;
    const quint16 port = silent.port();
    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; expect PASV; reply $pasv; eof)",
                                      {{"pasv", "227 Entering Passive Mode (127,0,0,1," + QByteArray::number(port / 256)
                                                    + ',' + QByteArray::number(port % 256) + ")"}}));
    LogCapture log;
    const auto ftp = dataConnection ? FTP::connectTo(server.address(), settings) : FTP::create(settings);
    std::atomic<bool> ended{false};
    QString reason;
    std::thread worker([&] {
        try {
            if (dataConnection)
                ftp->pasv();
            else
                FTP::connectInto(ftp, silent.address(), QStringLiteral("u"), QStringLiteral("p"));
        } catch (const NetworkException &e) {
            reason = e.reason();
        }
        ended = true;
    });
    // Should the connect not be abandoned, the listener goes and the attempt is refused.
    const auto join = qScopeGuard([&] {
        silent.close();
        worker.join();
    });
    QTRY_COMPARE_WITH_TIMEOUT(silent.connectsInProgress(), 1, 20000);
    if (how == u"giveUp")
        ftp->giveUp();
    else if (how == u"endSession")
        ftp->endSession();
    else
        ftp->close();
    // Far below the two minutes the connect would otherwise wait.
    QTRY_VERIFY_WITH_TIMEOUT(ended, 20000);
    const QString cancelled = QStringLiteral("connect [errno(%1) : ").arg(ECANCELED);
    if (dataConnection)
        QVERIFY(log.containsPrefix(QStringLiteral("Exception recue dans pasv ==> ") + cancelled));
    else
        QVERIFY2(reason.startsWith(cancelled), qPrintable(reason));
    QVERIFY(!ftp->isConnected());
    QCOMPARE(silent.connectsInProgress(), 0);
}

void TestFtpControl::closedSessionIsNotReopened_data()
{
    QTest::addColumn<QByteArray>("farewell");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("reopens"); // later, at the next action

    QTest::newRow("shutdown after 421") << QByteArray("421 Timeout.\r\n") << "shutdown" << false;
    QTest::newRow("shutdown after a plain close") << QByteArray() << "shutdown" << false;
    QTest::newRow("action after the session was ended") << QByteArray("421 Timeout.\r\n") << "endSession cd" << false;
    QTest::newRow("keep-alive") << QByteArray() << "keepAlive" << true;
}

// A session the server closed while idle: shutting it down, or anything asked after the
// user ended it, says nothing and connects nowhere; keeping it alive never reconnects.
void TestFtpControl::closedSessionIsNotReopened()
{
    QFETCH(QByteArray, farewell);
    QFETCH(QString, operation);
    QFETCH(bool, reopens);

    ScriptedFtpServer server(scriptedPerConnection(
        {R"(login; expect NOOP; reply "200 Still here"; send $farewell; end)", "login; rest"}, {{"farewell", farewell}}));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("anna"), QStringLiteral("pw"));
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    QVERIFY(server.waitForFinished(0));
    QTRY_VERIFY(!ftp->checkControlConnection());
    LogCapture log;
    if (operation == u"shutdown") {
        ftp->shutdown();
    } else if (operation == u"keepAlive") {
        ftp->keepAlive();
    } else {
        ftp->endSession();
        QCOMPARE(ftp->cd(QStringLiteral("/pub")), -1);
    }
    QCOMPARE(server.connectionCount(), 1);
    QVERIFY(!log.containsPrefix(QStringLiteral("Session fermee par le serveur pendant l'attente")));
    // Nothing is said to a server that has gone.
    if (operation != u"endSession cd")
        QVERIFY2(log.lines().filter(QStringLiteral("=> >")).isEmpty(), qPrintable(log.lines().join(u'|')));
    QCOMPARE(ftp->reopensWhenUsed(), reopens);
    if (reopens) {
        QCOMPARE(ftp->cd(QStringLiteral("/")), 200);
        QCOMPARE(server.connectionCount(), 2);
    }
}

QTEST_GUILESS_MAIN(TestFtpControl)
#include "tst_ftp_control.moc"
