// SPDX-License-Identifier: GPL-3.0-or-later
// The control channel on its own, over a local socket pair: commands written ahead in one
// write, their replies read later in order, and what a reply among them does to the rest.
#include "ftp/ControlChannel.h"
#include "ftp/EngineConnections.h"
#include "net/Socket.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <atomic>
#include <memory>

#include <sys/socket.h>
#include <unistd.h>

using zodaru::ControlChannel;
using zodaru::EngineConnections;
using zodaru::EngineSettings;
using zodaru::Socket;

Q_DECLARE_METATYPE(QList<int>)

namespace {

// A control channel whose server end is a plain descriptor the test writes replies to.
struct Pair {
    EngineConnections connections;
    EngineSettings settings;
    ControlChannel channel{connections, settings};
    int server = -1;

    Pair()
    {
        settings.timeouts.replyLine = 5000;
        int fds[2] = {-1, -1};
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
            qFatal("socketpair failed");
        const std::atomic<bool> givenUp{false};
        connections.publishControl(std::make_shared<Socket>(fds[0]), givenUp);
        server = fds[1];
    }
    ~Pair() { ::close(server); }
    Q_DISABLE_COPY_MOVE(Pair)

    // The server's replies; `end` closes its side after them.
    void reply(const QByteArray &bytes, bool end)
    {
        QCOMPARE(::write(server, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
        if (end)
            ::shutdown(server, SHUT_WR);
    }

    // What the client has written so far.
    QByteArray written()
    {
        QByteArray out;
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(server, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0)
                return out;
            out.append(buffer, n);
        }
    }
};

QList<ControlChannel::SentAhead> commandsOf(const QStringList &lines)
{
    QList<ControlChannel::SentAhead> commands;
    for (const QString &line : lines)
        commands.append({line.section(QLatin1Char(' '), 0, 0), line.section(QLatin1Char(' '), 1)});
    return commands;
}

} // namespace

class TestControlChannel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void repliesAhead_data();
    void repliesAhead();
    void settleAll_data();
    void settleAll();
    void factsAhead_data();
    void factsAhead();
};

void TestControlChannel::repliesAhead_data()
{
    QTest::addColumn<QStringList>("commands");
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<bool>("serverEnds");
    QTest::addColumn<QByteArray>("wire");     // what one write put on the wire
    QTest::addColumn<QList<int>>("codes");    // each command's reply code, in order
    QTest::addColumn<bool>("connected");

    QTest::newRow("three in one packet")
        << QStringList{"TYPE I", "SIZE f", "MDTM f"} << QByteArray("200 ok\r\n213 5\r\n213 20240102030405\r\n")
        << false << QByteArray("TYPE I\r\nSIZE f\r\nMDTM f\r\n") << QList<int>{200, 213, 213} << true;
    QTest::newRow("multi-line reply among them")
        << QStringList{"TYPE A", "FEAT"} << QByteArray("200 ok\r\n211-x\r\n MDTM\r\n211 end\r\n") << false
        << QByteArray("TYPE A\r\nFEAT\r\n") << QList<int>{200, 211} << true;
    QTest::newRow("continuation looking like a reply")
        << QStringList{"STAT", "NOOP"} << QByteArray("211-a\r\n200 not the end\r\n211 end\r\n200 ok\r\n") << false
        << QByteArray("STAT\r\nNOOP\r\n") << QList<int>{211, 200} << true;
    QTest::newRow("refusal keeps the rest")
        << QStringList{"SIZE a", "MDTM a"} << QByteArray("550 no\r\n213 20240102030405\r\n") << false
        << QByteArray("SIZE a\r\nMDTM a\r\n") << QList<int>{550, 213} << true;
    QTest::newRow("421 ends the rest")
        << QStringList{"TYPE I", "SIZE a"} << QByteArray("421 bye\r\n213 5\r\n") << false
        << QByteArray("TYPE I\r\nSIZE a\r\n") << QList<int>{421, -1} << false;
    QTest::newRow("cut inside the second reply")
        << QStringList{"TYPE I", "SIZE a"} << QByteArray("200 ok\r\n21") << true
        << QByteArray("TYPE I\r\nSIZE a\r\n") << QList<int>{200, -1} << false;
    QTest::newRow("line break in a command sends nothing")
        << QStringList{"TYPE I", "SIZE a\rRMD b"} << QByteArray() << false << QByteArray() << QList<int>{} << true;
    QTest::newRow("password hidden, still sent")
        << QStringList{"USER anna", "PASS secret"} << QByteArray("331 pass\r\n230 in\r\n") << false
        << QByteArray("USER anna\r\nPASS secret\r\n") << QList<int>{331, 230} << true;
}

void TestControlChannel::repliesAhead()
{
    QFETCH(QStringList, commands);
    QFETCH(QByteArray, replies);
    QFETCH(bool, serverEnds);
    QFETCH(QByteArray, wire);
    QFETCH(QList<int>, codes);
    QFETCH(bool, connected);

    const zodaru::LogCapture log;
    Pair pair;
    const bool sent = pair.channel.sendAhead(commandsOf(commands));
    QCOMPARE(sent, !wire.isEmpty());
    QCOMPARE(pair.written(), wire);
    pair.reply(replies, serverEnds);

    QList<int> read;
    while (const auto code = pair.channel.settleAhead())
        read.append(*code);
    QCOMPARE(read, codes);
    QVERIFY(!pair.channel.hasAhead());
    QCOMPARE(pair.connections.control() != nullptr, connected);
    // Each command is logged where its reply is read; a password never is.
    for (const QString &line : log.lines())
        QVERIFY2(!line.contains(QLatin1String("secret")), qPrintable(line));
    if (commands.contains(QLatin1String("PASS secret")))
        QVERIFY(log.containsPrefix(QStringLiteral("=> >PASS ****<")));
}

void TestControlChannel::settleAll_data()
{
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("connected");

    // TYPE A and LIST went ahead of a data connection that was never made.
    QTest::newRow("listing refused") << QByteArray("200 ok\r\n550 no\r\n") << 550 << true;
    QTest::newRow("listing answered at once") << QByteArray("200 ok\r\n226 empty\r\n") << 226 << true;
    // Taken up without a data connection: nothing keeps the replies in step any more.
    QTest::newRow("listing taken up") << QByteArray("200 ok\r\n150 here\r\n226 done\r\n") << -1 << false;
    QTest::newRow("TYPE refused, listing taken up") << QByteArray("504 no\r\n125 here\r\n") << -1 << false;
}

void TestControlChannel::settleAll()
{
    QFETCH(QByteArray, replies);
    QFETCH(int, code);
    QFETCH(bool, connected);

    Pair pair;
    QVERIFY(pair.channel.sendAhead(commandsOf({"TYPE A", "LIST"})));
    pair.reply(replies, false);
    QCOMPARE(pair.channel.settleAllAhead(), code);
    QVERIFY(!pair.channel.hasAhead());
    QCOMPARE(pair.connections.control() != nullptr, connected);
}

void TestControlChannel::factsAhead_data()
{
    QTest::addColumn<QByteArray>("replies");
    QTest::addColumn<qint64>("size");     // -1: none
    QTest::addColumn<qint64>("modified"); // -1: none

    const qint64 when = QDateTime(QDate(2024, 1, 2), QTime(3, 4, 5), QTimeZone::utc()).toSecsSinceEpoch();
    QTest::newRow("both answered") << QByteArray("213 42\r\n213 20240102030405\r\n") << qint64(42) << when;
    QTest::newRow("SIZE refused") << QByteArray("550 no\r\n213 20240102030405\r\n") << qint64(-1) << when;
    QTest::newRow("MDTM refused") << QByteArray("213 42\r\n502 no\r\n") << qint64(42) << qint64(-1);
    QTest::newRow("size not a number") << QByteArray("213 forty\r\n213 20240102030405\r\n") << qint64(-1) << when;
    QTest::newRow("negative size") << QByteArray("213 -5\r\n213 20240102030405\r\n") << qint64(-1) << when;
}

void TestControlChannel::factsAhead()
{
    QFETCH(QByteArray, replies);
    QFETCH(qint64, size);
    QFETCH(qint64, modified);

    Pair pair;
    QVERIFY(pair.channel.sendAhead(commandsOf({"SIZE f", "MDTM f", "RETR f"})));
    pair.reply(replies, false);
    const auto facts = pair.channel.settleFactsAhead();
    QVERIFY(facts.has_value());
    QCOMPARE(facts->size.value_or(-1), size);
    QCOMPARE(facts->modified.value_or(-1), modified);
    // The transfer's own reply is still to come, for whoever opens its data connection.
    QCOMPARE(pair.channel.firstAhead(), QStringLiteral("RETR"));
    QVERIFY(pair.connections.control() != nullptr);
}

QTEST_GUILESS_MAIN(TestControlChannel)
#include "tst_controlchannel.moc"
