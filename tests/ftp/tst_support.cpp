// SPDX-License-Identifier: GPL-3.0-or-later
// The fixtures that every protocol test relies on, checked with a bare socket client.
#include "base/Log.h"
#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <thread>

using namespace zodaru;
using Session = ScriptedFtpServer::Session;

namespace {

// Minimal blocking client. Reads give up after a while so that a broken fixture fails
// the test instead of hanging it.
class Client final
{
public:
    explicit Client(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        timeval tv{20, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(port);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Q_DISABLE_COPY_MOVE(Client)

    bool connected() const { return m_fd >= 0; }
    void closeWrite() { ::shutdown(m_fd, SHUT_WR); }

    bool sendAll(QByteArrayView bytes)
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.data() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            done += n;
        }
        return true;
    }

    // Everything up to end of stream; `error` gets errno when the stream ended in an error.
    QByteArray readAll(int *error = nullptr)
    {
        QByteArray out;
        char buf[8192];
        for (;;) {
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                if (error)
                    *error = n < 0 ? errno : 0;
                return out;
            }
            out.append(buf, n);
        }
    }

    // Exactly `count` bytes, fewer at end of stream.
    QByteArray read(qsizetype count)
    {
        QByteArray out;
        char buf[8192];
        while (out.size() < count) {
            const ssize_t n = ::recv(m_fd, buf, size_t(std::min<qsizetype>(sizeof buf, count - out.size())), 0);
            if (n <= 0)
                return out;
            out.append(buf, n);
        }
        return out;
    }

    // One line with its CR LF; nullopt at end of stream.
    std::optional<QByteArray> readLine()
    {
        QByteArray line;
        char c;
        while (!line.endsWith("\r\n")) {
            if (::recv(m_fd, &c, 1, 0) != 1)
                return line.isEmpty() ? std::nullopt : std::optional(line);
            line.append(c);
        }
        return line;
    }

    // The code of a (possibly multi-line) reply, -1 at end of stream.
    int reply(QByteArray *last = nullptr)
    {
        for (;;) {
            const auto line = readLine();
            if (!line || line->size() < 4)
                return -1;
            if (last)
                *last = *line;
            if (line->at(3) != '-')
                return line->left(3).toInt();
        }
    }

private:
    int m_fd = -1;
};

quint16 passivePortOf(const QByteArray &reply)
{
    const qsizetype open = reply.indexOf('(');
    const qsizetype close = reply.indexOf(')');
    const QList<QByteArray> f = reply.mid(open + 1, close - open - 1).split(',');
    return f.size() == 6 ? quint16(f[4].toInt() * 256 + f[5].toInt()) : 0;
}

} // namespace

class TestSupport final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void scriptedSendsBytesAsGiven_data();
    void scriptedSendsBytesAsGiven();
    void scriptedRecordsCommands();
    void scriptedReportsUnexpectedLine();
    void scriptedServesConcurrentConnections();
    void scriptedSendsData_data();
    void scriptedSendsData();
    void scriptedReceivesData();
    void scriptedDataFaults_data();
    void scriptedDataFaults();
    void scriptedStopsWhateverTheClientDoes_data();
    void scriptedStopsWhateverTheClientDoes();
    void scriptedLeaksNoDescriptor();

    void logCaptureCollectsFromThreads();
    void patternBytesDifferPerSeed();

    void realServerLogin_data();
    void realServerLogin();
    void realServerServesItsRoot();
};

void TestSupport::scriptedSendsBytesAsGiven_data()
{
    QTest::addColumn<QByteArray>("raw");
    QTest::newRow("greeting") << QByteArray("220 hi\r\n");
    QTest::newRow("bare LF kept") << QByteArray("220-abc\ndef\r\n220 x\r\n");
    QTest::newRow("lone CR kept") << QByteArray("220 abc\rx\r\n");
    QTest::newRow("bytes above 127") << QByteArray("220 \xe9t\xe9\xff\r\n");
    QTest::newRow("no terminator") << QByteArray("220 cut");
}

void TestSupport::scriptedSendsBytesAsGiven()
{
    QFETCH(QByteArray, raw);
    ScriptedFtpServer server([raw](Session &s) {
        s.send(raw);
        s.closeControl();
    });
    Client client(server.port());
    QVERIFY(client.connected());
    QCOMPARE(client.readAll(), raw);
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.failures(), QStringList());
}

void TestSupport::scriptedRecordsCommands()
{
    QByteArray user;
    ScriptedFtpServer server([&user](Session &s) {
        s.line("220 hi");
        user = s.expect("USER ");
        s.line("331 pass");
        s.expect("PASS ");
        s.line("230 in");
        s.answerRest();
    });
    Client client(server.port());
    QCOMPARE(client.reply(), 220);
    QVERIFY(client.sendAll("USER bob\r\n"));
    QCOMPARE(client.reply(), 331);
    QVERIFY(client.sendAll("PASS secret\r\n"));
    QCOMPARE(client.reply(), 230);
    QVERIFY(client.sendAll("TYPE A\r\n"));
    QCOMPARE(client.reply(), 200);
    QVERIFY(client.sendAll("QUIT\r\n"));
    QCOMPARE(client.reply(), 221);
    QCOMPARE(client.readAll(), QByteArray()); // closed after QUIT
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.received(0), QByteArray("USER bob\r\nPASS secret\r\nTYPE A\r\nQUIT\r\n"));
    QCOMPARE(user, QByteArray("USER bob"));
    QCOMPARE(server.failures(), QStringList());
}

void TestSupport::scriptedReportsUnexpectedLine()
{
    ScriptedFtpServer server([](Session &s) {
        s.line("220 hi");
        s.expect("USER ");
        s.line("331 never sent");
    });
    Client client(server.port());
    QCOMPARE(client.reply(), 220);
    QVERIFY(client.sendAll("PASS x\r\n"));
    // The script ends at the mismatch: the client meets end of stream, not a hang.
    QCOMPARE(client.reply(), -1);
    QVERIFY(server.waitForFinished(0));
    const QStringList failures = server.failures();
    QCOMPARE(failures.size(), 1);
    QVERIFY2(failures[0].contains("PASS x"), qPrintable(failures[0]));
}

void TestSupport::scriptedServesConcurrentConnections()
{
    ScriptedFtpServer server([](Session &s) {
        s.line("220 connection " + QByteArray::number(s.index()));
        const QByteArray got = s.readLine();
        s.line("200 " + got);
        s.answerRest();
    });
    // All three open before any is served: no connection may wait for another to end.
    Client a(server.port()), b(server.port()), c(server.port());
    QVERIFY(server.waitForConnections(3));
    Client *clients[] = {&a, &b, &c};
    QByteArray line;
    for (int i = 2; i >= 0; --i) {
        QCOMPARE(clients[i]->reply(&line), 220);
        const QByteArray index = line.mid(15).trimmed();
        QVERIFY(clients[i]->sendAll("NOOP " + index + "\r\n"));
        QCOMPARE(clients[i]->reply(&line), 200);
        QCOMPARE(line, "200 NOOP " + index + "\r\n");
        QVERIFY(server.waitForReceived(index.toInt(), "NOOP " + index + "\r\n"));
    }
    QCOMPARE(server.connectionCount(), 3);
    QCOMPARE(server.failures(), QStringList());
}

void TestSupport::scriptedSendsData_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one line") << QByteArray("-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n");
    QTest::newRow("40000 bytes") << patternBytes(40000);
    QTest::newRow("1 MiB") << patternBytes(1 << 20, 7);
}

void TestSupport::scriptedSendsData()
{
    QFETCH(QByteArray, content);
    ScriptedFtpServer server([content](Session &s) {
        s.greetAndLogin();
        s.expect("PASV");
        s.line(s.openPassive());
        s.expect("RETR a");
        s.sendReply("150 go", content, "226 done");
        s.answerRest();
    });
    Client control(server.port());
    QCOMPARE(control.reply(), 220);
    control.sendAll("USER u\r\n");
    QCOMPARE(control.reply(), 331);
    control.sendAll("PASS p\r\n");
    QCOMPARE(control.reply(), 230);
    control.sendAll("PASV\r\n");
    QByteArray line;
    QCOMPARE(control.reply(&line), 227);
    QVERIFY(line.startsWith("227 Entering Passive Mode (127,0,0,1,"));
    QVERIFY(line.endsWith(").\r\n"));
    Client data(passivePortOf(line));
    QVERIFY(data.connected());
    control.sendAll("RETR a\r\n");
    QCOMPARE(control.reply(), 150);
    QCOMPARE(data.readAll(), content);
    QCOMPARE(control.reply(), 226);
    QCOMPARE(server.dataConnectionCount(0), 1);
    QCOMPARE(server.failures(), QStringList());
}

void TestSupport::scriptedReceivesData()
{
    const QByteArray content = patternBytes(16384 * 2 + 100, 3);
    QByteArray returned;
    ScriptedFtpServer server([&returned](Session &s) {
        s.line("220 hi");
        s.expect("PASV");
        s.line(s.openPassive());
        s.expect("STOR b");
        s.line("150 go");
        returned = s.receiveData();
        s.line("226 stored");
    });
    Client control(server.port());
    QCOMPARE(control.reply(), 220);
    control.sendAll("PASV\r\n");
    QByteArray line;
    QCOMPARE(control.reply(&line), 227);
    Client data(passivePortOf(line));
    control.sendAll("STOR b\r\n");
    QCOMPARE(control.reply(), 150);
    QVERIFY(data.sendAll(content));
    data.closeWrite();
    QCOMPARE(control.reply(), 226);
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.dataReceived(0), content);
    QCOMPARE(returned, content);
}

void TestSupport::scriptedDataFaults_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("expectReset");
    QTest::newRow("reset after some bytes") << 0 << true;
    QTest::newRow("closed early") << 1 << false;
    QTest::newRow("reset with nothing sent") << 2 << true;
}

void TestSupport::scriptedDataFaults()
{
    QFETCH(int, fault);
    QFETCH(bool, expectReset);
    ScriptedFtpServer server([fault](Session &s) {
        s.line(s.openPassive());
        switch (fault) {
        case 0:
            s.resetData(patternBytes(1000));
            break;
        case 1:
            s.closeDataEarly();
            break;
        default:
            s.resetData();
            break;
        }
        s.line("226 after");
    });
    Client control(server.port());
    QByteArray line;
    QCOMPARE(control.reply(&line), 227);
    Client data(passivePortOf(line));
    QVERIFY(data.connected());
    // Wait for the fault to have happened before reading, so that an RST is what we meet.
    QCOMPARE(control.reply(), 226);
    int error = 0;
    data.readAll(&error);
    QCOMPARE(error, expectReset ? ECONNRESET : 0);
    QCOMPARE(server.failures(), QStringList());
}

void TestSupport::scriptedStopsWhateverTheClientDoes_data()
{
    QTest::addColumn<int>("state");
    QTest::newRow("no client ever") << 0;
    QTest::newRow("control stalled") << 1;
    QTest::newRow("data stalled mid-way") << 2;
    QTest::newRow("data connection never opened") << 3;
    QTest::newRow("client blocked writing, server not reading") << 4;
}

void TestSupport::scriptedStopsWhateverTheClientDoes()
{
    QFETCH(int, state);
    std::optional<Client> control, data;
    std::thread writer;
    {
        ScriptedFtpServer server([](Session &s) {
            s.line("220 hi");
            const QByteArray what = s.readLine();
            if (what == "STALL")
                s.stall();
            s.line(s.openPassive());
            if (what == "DATA")
                s.stallData("partial");
            s.acceptData().stall();
        });
        if (state == 0)
            return; // the destructor must not wait for a connection
        control.emplace(server.port());
        QCOMPARE(control->reply(), 220);
        control->sendAll(state == 1 ? "STALL\r\n" : state == 2 ? "DATA\r\n" : "OTHER\r\n");
        if (state == 1) {
            QVERIFY(control->sendAll("NOOP\r\n"));
            QVERIFY(server.waitForReceived(0, "NOOP\r\n")); // still recorded while stalled
        } else {
            QByteArray line;
            QCOMPARE(control->reply(&line), 227);
            if (state != 3) {
                data.emplace(passivePortOf(line));
                QVERIFY(data->connected());
                QVERIFY(server.waitForDataConnections(0, 1));
                if (state == 2)
                    QCOMPARE(data->read(7), QByteArray("partial"));
            }
            if (state == 4) {
                // Fill the socket buffers from a thread: the write blocks until the server
                // goes away, which its destructor must bring about.
                writer = std::thread([&data] { data->sendAll(patternBytes(64 << 20)); });
            }
        }
    } // ~ScriptedFtpServer: must return here
    if (writer.joinable())
        writer.join(); // the server's end made the blocked write fail
    if (state == 2) {
        // The stalled data connection ends in an orderly close, with nothing more sent.
        int error = -1;
        QCOMPARE(data->readAll(&error), QByteArray());
        QCOMPARE(error, 0);
    }
}

void TestSupport::scriptedLeaksNoDescriptor()
{
    const int before = openDescriptorCount();
    QVERIFY(before > 0);
    {
        ScriptedFtpServer server([](Session &s) {
            s.line(s.openPassive());
            s.sendData("x");
            s.line(s.openPassive()); // never used
            s.stall();
        });
        Client control(server.port());
        QByteArray line;
        QCOMPARE(control.reply(&line), 227);
        Client data(passivePortOf(line));
        QCOMPARE(data.readAll(), QByteArray("x"));
        QCOMPARE(control.reply(), 227);
    }
    QCOMPARE(openDescriptorCount(), before);
}

void TestSupport::logCaptureCollectsFromThreads()
{
    {
        LogCapture log;
        std::thread a([] {
            for (int i = 0; i < 200; ++i)
                zlog("a %d", i);
        });
        std::thread b([] {
            for (int i = 0; i < 200; ++i)
                zlog("b %d", i);
        });
        a.join();
        b.join();
        QVERIFY(log.waitFor("b 199"));
        QCOMPARE(log.lines().size(), 400);
        QCOMPARE(log.count("a 17"), 1);
        QVERIFY(log.indexOf("a 3") < log.indexOf("a 4"));
        QVERIFY(log.containsPrefix("b 1"));
        QVERIFY(!log.contains("a 200"));
        log.clear();
        zlog("%@ %i", QStringLiteral("x"), -2);
        QCOMPARE(log.lines(), QStringList{"x -2"});
    }
    // A later capture starts empty: the first one's sink is gone.
    LogCapture again;
    QVERIFY(again.lines().isEmpty());
}

void TestSupport::patternBytesDifferPerSeed()
{
    QCOMPARE(patternBytes(5000, 4), patternBytes(5000, 4));
    QVERIFY(patternBytes(5000, 4) != patternBytes(5000, 5));
    const QByteArray p = patternBytes(40000);
    // Chunk-sized pieces differ, so a repeated or dropped chunk is caught by a compare.
    QVERIFY(p.mid(0, 16384) != p.mid(16384, 16384));
}

void TestSupport::realServerLogin_data()
{
    QTest::addColumn<QByteArray>("user");
    QTest::addColumn<QByteArray>("password");
    QTest::addColumn<int>("passCode");
    QTest::addColumn<int>("mkdCode");
    QTest::newRow("full rights") << QByteArray("user") << QByteArray("secret") << 230 << 257;
    QTest::newRow("read-only reader") << QByteArray("reader") << QByteArray("secret") << 230 << 550;
    QTest::newRow("anonymous") << QByteArray("anonymous") << QByteArray("me@here") << 230 << 550;
    QTest::newRow("wrong password") << QByteArray("user") << QByteArray("nope") << 530 << -1;
}

void TestSupport::realServerLogin()
{
    QFETCH(QByteArray, user);
    QFETCH(QByteArray, password);
    QFETCH(int, passCode);
    QFETCH(int, mkdCode);
    RealFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    Client control(server.port());
    QVERIFY(control.connected());
    QCOMPARE(control.reply(), 220);
    control.sendAll("USER " + user + "\r\n");
    QCOMPARE(control.reply(), 331);
    control.sendAll("PASS " + password + "\r\n");
    QCOMPARE(control.reply(), passCode);
    if (mkdCode < 0)
        return;
    control.sendAll("MKD /made\r\n");
    QCOMPARE(control.reply(), mkdCode);
    QCOMPARE(QFileInfo(server.localPath("made")).isDir(), mkdCode == 257);
}

void TestSupport::realServerServesItsRoot()
{
    const QByteArray content = patternBytes(40000, 9);
    RealFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QVERIFY(server.writeFile("pub/a.bin", content));
    Client control(server.port());
    QCOMPARE(control.reply(), 220);
    control.sendAll("USER user\r\n");
    QCOMPARE(control.reply(), 331);
    control.sendAll("PASS secret\r\n");
    QCOMPARE(control.reply(), 230);
    control.sendAll("TYPE I\r\n");
    QCOMPARE(control.reply(), 200);
    control.sendAll("PASV\r\n");
    QByteArray line;
    QCOMPARE(control.reply(&line), 227);
    Client data(passivePortOf(line));
    QVERIFY(data.connected());
    control.sendAll("RETR /pub/a.bin\r\n");
    // 125 when the server had already accepted the data connection, 150 otherwise.
    const int preliminary = control.reply();
    QVERIFY2(preliminary == 125 || preliminary == 150, qPrintable(QString::number(preliminary)));
    QCOMPARE(data.readAll(), content);
    QCOMPARE(control.reply(), 226);
    control.sendAll("QUIT\r\n");
    QCOMPARE(control.reply(), 221);
}

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
