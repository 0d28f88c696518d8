// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ByteNames.h"
#include "ftp/FTP.h"
#include "ListingDescription.h"
#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QScopeGuard>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QtTest>

#include <cstdio>
#include <optional>

#include <fcntl.h>
#include <unistd.h>

using zodaru::File;
using zodaru::FTP;
using zodaru::LogCapture;
using zodaru::RealFtpServer;
using zodaru::ScriptedFtpServer;
using zodaru::testing::describe;
using zodaru::testing::scripted;

namespace {

// Catches what the engine prints on standard output (the PASV lines) for one test.
class StdoutCapture final {
public:
    StdoutCapture()
    {
        file_.open();
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(file_.handle(), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    Q_DISABLE_COPY_MOVE(StdoutCapture)

    QByteArray text()
    {
        restore();
        QFile read(file_.fileName());
        read.open(QIODevice::ReadOnly);
        return read.readAll();
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

bool matches(const QStringList &got, const QStringList &expected)
{
    if (got.size() != expected.size())
        return false;
    for (qsizetype i = 0; i < got.size(); ++i) {
        const QStringList g = got[i].split(QLatin1Char('|'));
        const QStringList e = expected[i].split(QLatin1Char('|'));
        if (g[0] != e[0] || g[2] != e[2] || (e[1] != u"-1" && g[1] != e[1]))
            return false;
    }
    return true;
}

// Plays one listing: PASV, TYPE A, LIST, the data, and 226 only once the client has closed
// the data connection (as proftpd does); answers 200 to anything else (CWD included).
ScriptedFtpServer::Script listingScript(const QByteArray &data)
{
    return [data](ScriptedFtpServer::Session &s) {
        s.line("220 Hello");
        for (;;) {
            const QByteArray got = s.readLine();
            if (got.startsWith("QUIT")) {
                s.line("221 Bye");
                return;
            }
            if (got == "PASV") {
                s.line(s.openPassive());
                s.expect("TYPE A");
                s.line("200 Type set");
                s.expect("LIST");
                s.line("150 Here it comes");
                s.sendDataThenWaitForClose(data);
                s.line("226 Done");
            } else {
                s.line("200 OK");
            }
        }
    };
}

// The descriptor that the log line "Adresse : ... socket : N" names.
int loggedDescriptor(const LogCapture &log)
{
    static const QRegularExpression re(QStringLiteral("^Adresse : .* socket : (\\d+)\n$"));
    for (const QString &line : log.lines()) {
        const auto m = re.match(line);
        if (m.hasMatch())
            return m.captured(1).toInt();
    }
    return -1;
}

} // namespace

class TestFtpListing final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void pasvReplies_data();
    void pasvReplies();
    void listings_data();
    void listings();
    void listingFailures_data();
    void listingFailures();
    void listingBounds_data();
    void listingBounds();
    void sizeOfPath_data();
    void sizeOfPath();
    void namesComeBackAsTheServersBytes();
    void descriptorsAreClosedAndNotInherited();
    void realServerListing();
};

void TestFtpListing::pasvReplies_data()
{
    QTest::addColumn<QByteArray>("reply"); // %1 and %2: the two port bytes
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("logPrefix"); // a line that must appear, or empty
    QTest::addColumn<QByteArray>("printedIp");

    QTest::newRow("standard") << QByteArray("227 Entering Passive Mode (127,0,0,1,%1,%2).") << true << true
                              << QString() << QByteArray("127.0.0.1");
    QTest::newRow("spaces kept") << QByteArray("227 Entering Passive Mode (127, 0, 0, 1, %1, %2)") << true << true
                                 << QString() << QByteArray("127.0.0.1");
    QTest::newRow("junk after port digits") << QByteArray("227 =(127,0,0,1,%1x,%2 )") << false << true
                                            << QStringLiteral("Exception recue dans pasv ==> ") << QByteArray();
    QTest::newRow("multi-line reply") << QByteArray("227-Wait\r\n227 Entering Passive Mode (127,0,0,1,%1,%2)")
                                      << true << true << QString() << QByteArray("127.0.0.1");
    // The server may not send us elsewhere: the control connection's peer is used.
    QTest::newRow("other host announced")
        << QByteArray("227 Entering Passive Mode (127,0,0,2,%1,%2)") << true << true
        << QStringLiteral("Adresse PASV 127.0.0.2 differente de celle du serveur, on utilise 127.0.0.1")
        << QByteArray("127.0.0.2");
    // Only numbers are read from the reply: nothing else of it reaches the terminal.
    QTest::newRow("control characters announced")
        << QByteArray("227 Entering Passive Mode (127,0,0,1\x1b[2J,%1,%2)") << false << true
        << QStringLiteral("Exception recue dans pasv ==> ") << QByteArray();
    QTest::newRow("no parentheses") << QByteArray("227 Entering Passive Mode 127,0,0,1,%1,%2") << true << true
                                    << QString() << QByteArray("127.0.0.1");
    QTest::newRow("parentheses reversed") << QByteArray("227 )127,0,0,1,%1,%2(") << false << true
                                          << QStringLiteral("Exception recue dans pasv ==> ") << QByteArray();
    QTest::newRow("five fields") << QByteArray("227 Entering Passive Mode (127,0,0,1,%1)") << false << true
                                 << QStringLiteral("Exception recue dans pasv ==> ") << QByteArray();
    QTest::newRow("seven fields") << QByteArray("227 Entering Passive Mode (127,0,0,1,%1,%2,9)") << false << true
                                  << QStringLiteral("Exception recue dans pasv ==> ") << QByteArray();
    QTest::newRow("refused") << QByteArray("425 Cannot open passive connection") << false << true
                             << QStringLiteral("Commande refusee par le serveur : 425 Cannot open passive connection")
                             << QByteArray();
}

void TestFtpListing::pasvReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, listed);
    QFETCH(bool, connected);
    QFETCH(QString, logPrefix);
    QFETCH(QByteArray, printedIp);

    ScriptedFtpServer server(scripted(R"(reply "220 Hello"; expect "CWD /pub"; reply "250 Okay"; expect PASV
        passive-as $reply)" "\n"
                                          + QByteArray(listed ? R"(expect "TYPE A"; reply "200 Type set"; expect LIST
            reply "150 Here it comes"; data "-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n"; reply "226 Done"; rest)"
                                                              : "rest"),
                                      {{"reply", reply}}));
    auto ftp = FTP::connectTo(server.address());
    LogCapture log;
    StdoutCapture out;
    const auto entries = ftp->list(QStringLiteral("/pub"));
    const QByteArray printed = out.text();
    const QString lastLogLine = log.lines().last();

    QCOMPARE(entries.has_value(), listed);
    if (listed)
        QCOMPARE(describe(*entries), QStringList{QStringLiteral("a.txt|5|0")});
    QCOMPARE(ftp->isConnected(), connected);
    QVERIFY(log.contains(QStringLiteral("=> PASV\n")));
    QVERIFY(!log.containsPrefix(QStringLiteral("=> >PASV")));
    QVERIFY(!log.containsPrefix(QStringLiteral("ret : 227")));
    QCOMPARE(lastLogLine, QStringLiteral("Sortie de la fonction list()"));
    if (!logPrefix.isEmpty())
        QVERIFY2(log.containsPrefix(logPrefix), qPrintable(log.lines().join(u'|')));
    if (!listed && logPrefix.isEmpty())
        QVERIFY(!log.containsPrefix(QStringLiteral("Exception")));
    if (printedIp.isEmpty()) {
        QCOMPARE(printed, QByteArray());
    } else {
        const quint16 port = quint16(QByteArray(printed).split('\n').value(1).mid(7).trimmed().toInt());
        QCOMPARE(printed, "IP : " + printedIp + "\nPort : " + QByteArray::number(port) + " \n");
        QVERIFY(port > 0);
        const QRegularExpression connected(QStringLiteral("^Adresse : 127\\.0\\.0\\.1 socket : \\d+ port : %1\n$").arg(port));
        const QStringList lines = log.lines();
        QVERIFY(std::any_of(lines.begin(), lines.end(), [&](const QString &l) { return connected.match(l).hasMatch(); }));
    }
    if (listed)
        QCOMPARE(server.dataConnectionCount(0), 1);
    // Without a data connection nothing more is asked for.
    ftp->close();
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.received(0).contains("LIST"), listed);
}

void TestFtpListing::listings_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("expected");

    const QByteArray total("total 2");
    const QByteArray pub("drwxr-xr-x 2 u g 4096 Jan  1  2020 pub");
    const QByteArray file("-rw-r--r-- 1 u g 1234 Jan  1  2020 a.txt");
    // "total 2" names nothing: no entry.
    const QStringList three{QStringLiteral("pub|-1|1"), QStringLiteral("a.txt|1234|0")};

    QTest::newRow("CR LF") << total + "\r\n" + pub + "\r\n" + file + "\r\n" << three;
    QTest::newRow("LF only") << total + "\n" + pub + "\n" + file + "\n" << three;
    // A server that forgets the final LF still lists its last file.
    QTest::newRow("unterminated last line") << total + "\r\n" + pub + "\r\n" + file << three;
    QTest::newRow("empty") << QByteArray() << QStringList();
    QTest::newRow("blank line") << QByteArray("\r\n") << QStringList();
    QTest::newRow("rejected directory line") << QByteArray("drwxr-xr-x 2 u g\r\n") << QStringList();
    QTest::newRow("link") << QByteArray("lrwxrwxrwx 1 u g 5 Jan  1  2020 l -> a.txt\r\n")
                          << QStringList{QStringLiteral("l|5|2")};
    QTest::newRow("UTF-8 name") << QByteArray("-rw-r--r-- 1 u g 7 Jan  1  2020 caf\xc3\xa9.txt\r\n")
                                << QStringList{QStringLiteral("caf\u00e9.txt|7|0")};
    QTest::newRow("Latin-1 name") << QByteArray("-rw-r--r-- 1 u g 7 Jan  1  2020 caf\xe9.txt\r\n")
                                  << QStringList{zodaru::nameFromBytes("caf\xe9.txt|7|0")};
    QTest::newRow("size above 2^32") << QByteArray("-rw-r--r-- 1 u g 5000000000 Jan  1  2020 big.iso\r\n")
                                     << QStringList{QStringLiteral("big.iso|5000000000|0")};
    QTest::newRow("NUL ends the text") << file + "\r\n" + QByteArray("\0", 1) + pub + "\r\n"
                                       << QStringList{QStringLiteral("a.txt|1234|0")};
    QTest::newRow("DOS") << QByteArray("01-02-20  10:00AM       <DIR>          dir\r\n"
                                       "01-02-20  10:00AM              1234 f.txt\r\n")
                         << QStringList{QStringLiteral("dir|0|1"), QStringLiteral("f.txt|1234|0")};
    QTest::newRow("EPLF") << QByteArray("+i8388621.29609,m824255902,/,\tdev\r\n"
                                        "+i8388621.44468,m839956783,r,s10376,\tRFCEPLF\r\n")
                          << QStringList{QStringLiteral("dev|0|1"), QStringLiteral("RFCEPLF|10376|0")};
    QTest::newRow("lines after a long one")
        << QByteArray("-rw-r--r-- 1 u g 1 Jan  1  2020 ") + QByteArray(100000, 'n') + "\r\n" + file + "\r\n"
        << QStringList{QStringLiteral("%1|1|0").arg(QString(100000, u'n')), QStringLiteral("a.txt|1234|0")};
}

void TestFtpListing::listings()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, expected);

    ScriptedFtpServer server(listingScript(data));
    auto ftp = FTP::connectTo(server.address());
    LogCapture log;
    const auto entries = ftp->list(QStringLiteral("/pub"));
    QVERIFY(entries.has_value());
    QVERIFY2(matches(describe(*entries), expected), qPrintable(describe(*entries).join(u',').left(300)));
    QVERIFY(ftp->isConnected());
    QVERIFY(log.containsPrefix(QStringLiteral("Buf NLST : ")));
    QCOMPARE(log.lines().first(), QStringLiteral("On entre dans list()"));
    QCOMPARE(log.lines().last(), QStringLiteral("Sortie de la fonction list()"));

    // Both replies were read: the connection is in step for the next exchange.
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    ftp->close();
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.received(0), QByteArray("CWD /pub\r\nPASV\r\nTYPE A\r\nLIST\r\nNOOP\r\n"));
}

void TestFtpListing::listingFailures_data()
{
    QTest::addColumn<QByteArray>("script"); // after the greeting
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QString>("logLine");

    const QString pub = QStringLiteral("/pub");
    const QByteArray cwd = R"(expect "CWD /pub"; reply "250 Okay"; )";
    const QByteArray list = cwd + R"(pasv; expect "TYPE A"; reply "200 Type set"; expect LIST; )";
    // Ends the script once the client has closed the unused data connection.
    const QByteArray unused = "; accept; dreceive-all; end";
    const QByteArray sent = R"(reply "150 Here it comes"; )";
    QTest::newRow("CWD refused") << QByteArray(R"(expect "CWD /pub"; reply "550 No such directory"; eof)") << pub
                                 << true << QStringLiteral("Commande refusee par le serveur : 550 No such directory");
    QTest::newRow("CR in path") << QByteArray("eof") << QStringLiteral("/pu\rb") << true
                                << QStringLiteral("Commande refusee (retour a la ligne dans la commande) : CWD /pu\\rb");
    QTest::newRow("LIST refused") << list + R"(reply "550 No such directory")" + unused << pub << true
                                  << QStringLiteral("Commande refusee par le serveur : 550 No such directory");
    QTest::newRow("LIST reply shorter than a code") << list + R"(reply "15")" + unused << pub << true
                                                    << QStringLiteral("RET() ==> 15");
    // The server answers the broken data connection; that reply is the listing's, and the
    // session stays in step for the next command.
    QTest::newRow("data reset") << list + sent
            + R"(data-reset "-rw-r--r-- 1 u g 5 Jan  1  2020 a.tx"; reply "426 Transfer aborted"; step; rest)" << pub
                                << true << QStringLiteral("Exception recue dans list: /pub ");
    QTest::newRow("data stalls") << list + sent + R"(data-stall "-rw-r--r-- 1 u g 5 Jan  1  2020 a.tx")" << pub
                                 << false << QStringLiteral("Delai depasse dans list : on ferme la connexion");
    QTest::newRow("listing too long") << list + sent + "data $long; rest" << pub << false
                                      << QStringLiteral("Listing trop long dans list : on ferme la connexion");
    QTest::newRow("PASV unanswered") << cwd + "expect PASV; silence" << pub << false
                                     << QStringLiteral("Delai depasse dans ret : on ferme la connexion");
}

void TestFtpListing::listingFailures()
{
    QFETCH(QByteArray, script);
    QFETCH(QString, path);
    QFETCH(bool, connected);
    QFETCH(QString, logLine);

    FTP::Settings settings = FTP::defaultSettings();
    settings.timeouts = {2000, 300, 2000, 300};
    settings.limits.listingBytes = 1000;
    ScriptedFtpServer server(scripted("reply \"220 Hello\"\n" + script, {{"long", QByteArray(5000, 'x')}}));
    auto ftp = FTP::connectTo(server.address(), settings);
    const int descriptors = zodaru::openDescriptorCount();
    LogCapture log;
    const auto entries = ftp->list(path);
    const QString lastLogLine = log.lines().last();
    // A failed listing, refused or broken half-way, does not keep its data connection.
    if (script.contains("data-reset"))
        QCOMPARE(zodaru::openDescriptorCount(), descriptors);
    if (script.contains("dreceive-all"))
        QVERIFY(server.waitForFinished(0));
    QVERIFY(!entries.has_value());
    QCOMPARE(ftp->isConnected(), connected);
    QVERIFY2(log.count(logLine) == 1, qPrintable(log.lines().join(u'|')));
    QCOMPARE(lastLogLine, QStringLiteral("Sortie de la fonction list()"));
    QCOMPARE(log.count(QStringLiteral("Sortie de la fonction list()")), 1);
    if (script.contains("step"))
        QCOMPARE(ftp->command(QStringLiteral("NOOP")), 254);
}

void TestFtpListing::listingBounds_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("listingBytes");
    QTest::addColumn<qint64>("mostEntries");
    QTest::addColumn<int>("kept"); // -1: as many as twice listingBytes holds
    QTest::addColumn<bool>("cut");

    const QByteArray file("-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n");
    const auto named = [](int count, int nameLength) {
        QByteArray lines;
        for (int i = 0; i < count; ++i)
            lines += "+s1,\t" + QByteArray::number(i).rightJustified(nameLength, '0') + "\r\n";
        return lines;
    };
    QTest::newRow("lines naming nothing are free")
        << QByteArray(3000, '\n') + "total 9\r\n" + QByteArray("x\r\n").repeated(500) + file + file << qint64(5000)
        << qint64(2) << 2 << false;
    QTest::newRow("at the entry limit") << named(4, 3) << qint64(5000) << qint64(4) << 4 << false;
    QTest::newRow("past the entry limit") << named(10, 3) << qint64(5000) << qint64(4) << 4 << true;
    QTest::newRow("past the memory limit") << named(30, 100) << qint64(3500) << qint64(1000) << -1 << true;
}

// However many lines a listing has, its entries are bounded: the first ones are kept and
// the cut is logged.
void TestFtpListing::listingBounds()
{
    QFETCH(QByteArray, data);
    QFETCH(qint64, listingBytes);
    QFETCH(qint64, mostEntries);
    QFETCH(int, kept);
    QFETCH(bool, cut);

    FTP::Settings settings = FTP::defaultSettings();
    settings.limits.listingBytes = listingBytes;
    settings.limits.listingEntries = mostEntries;
    ScriptedFtpServer server(listingScript(data));
    auto ftp = FTP::connectTo(server.address(), settings);
    LogCapture log;
    const auto entries = ftp->list(QStringLiteral("/pub"));
    QVERIFY(entries.has_value());
    QVERIFY(ftp->isConnected());
    qint64 bytes = 0;
    for (qsizetype i = 0; i < entries->size(); ++i) {
        QVERIFY(!entries->at(i).name().isEmpty());
        bytes += qint64(sizeof(File)) + 2 * entries->at(i).name().size();
    }
    if (kept >= 0)
        QCOMPARE(entries->size(), kept);
    QVERIFY(entries->size() > 0);
    QVERIFY(bytes <= 2 * listingBytes);
    if (data.startsWith('+'))
        QCOMPARE(entries->last().name().toInt(), entries->size() - 1); // the first lines, in order
    const QString cutLine = QStringLiteral("Listing de /pub coupe : %1 entrees gardees, les suivantes sont ignorees")
                                .arg(entries->size());
    QCOMPARE(log.contains(cutLine), cut);
}

void TestFtpListing::sizeOfPath_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<qint64>("size");

    QTest::newRow("one file") << QByteArray("-rw-r--r-- 1 u g 1234 Jan  1  2020 a.txt\r\n") << qint64(1234);
    QTest::newRow("above 2^31") << QByteArray("-rw-r--r-- 1 u g 3000000000 Jan  1  2020 a.iso\r\n")
                                << qint64(3000000000);
    QTest::newRow("directory") << QByteArray("total 1\r\n-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n") << qint64(-1);
    QTest::newRow("nothing") << QByteArray() << qint64(-1);
}

void TestFtpListing::sizeOfPath()
{
    QFETCH(QByteArray, data);
    QFETCH(qint64, size);
    ScriptedFtpServer server(listingScript(data));
    auto ftp = FTP::connectTo(server.address());
    LogCapture log;
    QCOMPARE(ftp->size(QStringLiteral("/a.txt")), size);
}

void TestFtpListing::namesComeBackAsTheServersBytes()
{
    const QByteArray data("drwxr-xr-x 2 u g 4096 Jan  1  2020 \xe9t\xe9\r\n"
                          "-rw-r--r-- 1 u g 5 Jan  1  2020 caf\xe9.txt\r\n");
    ScriptedFtpServer server(listingScript(data));
    auto ftp = FTP::connectTo(server.address());
    LogCapture log;
    const auto entries = ftp->list(QStringLiteral("/"));
    QVERIFY(entries.has_value());
    QCOMPARE(entries->size(), 2);
    QVERIFY(ftp->list(QLatin1Char('/') + entries->at(0).name()).has_value());
    QCOMPARE(ftp->command(QStringLiteral("DELE"), QLatin1Char('/') + entries->at(1).name()), 200);
    ftp->close();
    QVERIFY(server.waitForFinished(0));
    const QByteArray wire = server.received(0);
    QVERIFY2(wire.contains("CWD /\xe9t\xe9\r\n") && wire.contains("DELE /caf\xe9.txt\r\n"), wire.constData());
}

void TestFtpListing::descriptorsAreClosedAndNotInherited()
{
    const QByteArray data("-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n");
    const int atStart = zodaru::openDescriptorCount();
    std::optional<ScriptedFtpServer> running;
    ScriptedFtpServer &server = running.emplace(listingScript(data));
    LogCapture log;
    auto ftp = FTP::connectTo(server.address());
    const int control = loggedDescriptor(log);
    QVERIFY(control >= 0);
    QVERIFY(::fcntl(control, F_GETFD) & FD_CLOEXEC);

    const int before = zodaru::openDescriptorCount();
    for (int i = 0; i < 5; ++i) {
        const auto entries = ftp->list(QStringLiteral("/"));
        QVERIFY(entries.has_value());
        QCOMPARE(entries->size(), 1);
        // The listing's data connection does not outlive the listing.
        QCOMPARE(zodaru::openDescriptorCount(), before);
    }
    QCOMPARE(server.dataConnectionCount(0), 5);

    const int data_fd = FTP::createSocket(QStringLiteral("127.0.0.1"), server.port(), 2000);
    QVERIFY(::fcntl(data_fd, F_GETFD) & FD_CLOEXEC);
    ::close(data_fd);

    // Nothing is left open once the engine and the server are gone.
    ftp.reset();
    running.reset();
    QCOMPARE(zodaru::openDescriptorCount(), atStart);
}

void TestFtpListing::realServerListing()
{
    RealFtpServer server;
    if (!server.start())
        QSKIP(qPrintable(QStringLiteral("pyftpdlib not available: ") + server.errorText()));
    QVERIFY(server.writeFile(QStringLiteral("a.txt"), "hello"));
    QVERIFY(server.writeFile(QStringLiteral("caf\u00e9.txt"), "1234567"));
    QVERIFY(server.writeFile(QStringLiteral("sub/inner.txt"), "x"));
    QVERIFY(QFile::link(QStringLiteral("a.txt"), server.localPath(QStringLiteral("link"))));
    {
        // Sparse: 5 GB of size without 5 GB of disk.
        QFile big(server.localPath(QStringLiteral("big.iso")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        QVERIFY(big.resize(5000000000LL));
    }

    auto ftp = FTP::connectTo(server.address(), RealFtpServer::user(), RealFtpServer::password());
    QVERIFY2(ftp->isConnected(), server.serverLog().constData());
    const auto entries = ftp->list(QStringLiteral("/"));
    QVERIFY(entries.has_value());
    QMap<QString, File> byName;
    for (const File &f : *entries)
        byName.insert(f.name(), f);
    QCOMPARE(byName.size(), 5);
    QCOMPARE(byName.value(QStringLiteral("a.txt")).type(), 0);
    QCOMPARE(byName.value(QStringLiteral("a.txt")).size(), qint64(5));
    QCOMPARE(byName.value(QStringLiteral("caf\u00e9.txt")).size(), qint64(7));
    QCOMPARE(byName.value(QStringLiteral("sub")).type(), 1);
    QCOMPARE(byName.value(QStringLiteral("link")).type(), 2);
    QVERIFY(byName.value(QStringLiteral("a.txt")).modified() > 0);
    QCOMPARE(byName.value(QStringLiteral("big.iso")).size(), qint64(5000000000LL));

    const auto inner = ftp->list(QStringLiteral("/sub"));
    QVERIFY(inner.has_value());
    QCOMPARE(describe(*inner), QStringList{QStringLiteral("inner.txt|1|0")});
    QCOMPARE(ftp->size(QStringLiteral("/a.txt")), qint64(5));
    QCOMPARE(ftp->cd(QStringLiteral("/sub")), 250);
    ftp->shutdown();
    QVERIFY(!ftp->isConnected());
}

QTEST_GUILESS_MAIN(TestFtpListing)
#include "tst_ftp_listing.moc"
