// SPDX-License-Identifier: GPL-3.0-or-later
// Listings as the server offers them: MLSD read as facts, the fall back to LIST and to PASV
// when MLSD or EPSV are refused, and EPSV, TYPE A and LIST sent together.
#include "ftp/FTP.h"

#include "ListingDescription.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"

#include <QtTest>

#include <optional>

using zodaru::FTP;
using zodaru::ScriptedFtpServer;
using zodaru::testing::describe;
using zodaru::testing::scripted;
using zodaru::testing::quoted;

namespace {

// A server offering `features` that answers each command as it comes: the first
// `epsvAnswers` EPSV (refused from then on), MLSD as `mlsdWorks` says, every listing naming
// `mlsd` or `list`.
ScriptedFtpServer::Script offeringServer(QByteArrayList features, int epsvAnswers, bool mlsdWorks,
                                         QByteArray mlsd, QByteArray list)
{
    return [=](ScriptedFtpServer::Session &s) {
        s.offerFeatures(features);
        s.greetAndLogin();
        int epsvLeft = epsvAnswers;
        bool passive = false; // a passive port waits for this session's next transfer
        for (;;) {
            const QByteArray line = s.expect(""); // FEAT is answered by the session
            const QByteArray verb = line.split(' ').first();
            if (verb == "EPSV" && epsvLeft-- > 0) {
                s.openPassive();
                s.line(s.epsvReply(s.passivePort()));
                passive = true;
            } else if (verb == "PASV") {
                s.line(s.openPassive());
                passive = true;
            } else if ((verb == "MLSD" || verb == "LIST") && !passive) {
                s.line("425 Use PORT or PASV first");
            } else if ((verb == "MLSD" && mlsdWorks) || verb == "LIST") {
                s.sendReply("150 Here", verb == "MLSD" ? mlsd : list, "226 Done");
                passive = false;
            } else if (verb == "EPSV" || verb == "MLSD") {
                s.line("500 Unknown command");
            } else if (verb == "QUIT") {
                s.line("221 Bye");
                return;
            } else {
                s.line("250 OK");
            }
        }
    };
}

} // namespace

class TestListingFallbacks final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void machineListings_data();
    void machineListings();
    void fallbacks_data();
    void fallbacks();
    void listingSentWithEpsv_data();
    void listingSentWithEpsv();
    void factsOfAFileAboutToBeReplaced_data();
    void factsOfAFileAboutToBeReplaced();
};

void TestListingFallbacks::machineListings_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<qint64>("firstModified");

    QTest::newRow("file and directory")
        << QByteArray("type=file;size=5;modify=20200102030405; a.txt\r\ntype=dir;modify=20200102030405.123; sub\r\n")
        << QStringList{"a.txt|5|0", "sub|0|1"} << qint64(1577934245);
    QTest::newRow("directory and parent dropped")
        << QByteArray("type=cdir; /pub\r\ntype=pdir; ..\r\nType=File;Size=1; x\r\n") << QStringList{"x|1|0"}
        << qint64(-1);
    QTest::newRow("no type fact") << QByteArray("size=3; plain\r\n") << QStringList{"plain|3|0"} << qint64(-1);
    QTest::newRow("unknown facts") << QByteArray("x.vendor=1;type=file;perm=r;unique=8U1;size=2; y\r\n")
                                   << QStringList{"y|2|0"} << qint64(-1);
    QTest::newRow("spaces in names") << QByteArray("type=file;size=4; my file.txt \r\ntype=dir; two  words\n")
                                     << QStringList{"my file.txt |4|0", "two  words|0|1"} << qint64(-1);
    QTest::newRow("link") << QByteArray("type=OS.unix=slink:/etc;size=4; l\r\n") << QStringList{"l|4|2"}
                          << qint64(-1);
    QTest::newRow("lines that name nothing") << QByteArray("type=file;size=1;\r\n\r\ntype=file; \r\n")
                                             << QStringList() << qint64(-1);
    QTest::newRow("size above 2^32") << QByteArray("type=file;size=5000000000;modify=bad; big.iso\r\n")
                                     << QStringList{"big.iso|5000000000|0"} << qint64(-1);
}

void TestListingFallbacks::machineListings()
{
    QFETCH(QByteArray, data);
    QFETCH(QStringList, expected);
    QFETCH(qint64, firstModified);

    ScriptedFtpServer server(offeringServer({"MLST type*;size*;modify*;"}, 0, true, data, QByteArray()));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("u"), QStringLiteral("p"));
    const auto entries = ftp->list(QStringLiteral("/pub"));
    QVERIFY(entries.has_value());
    QCOMPARE(describe(*entries), expected);
    if (!entries->isEmpty())
        QCOMPARE(entries->first().modified(), firstModified);
    QVERIFY(server.received(0).contains("MLSD\r\n"));
    QVERIFY(!server.received(0).contains("LIST"));
}

void TestListingFallbacks::fallbacks_data()
{
    QTest::addColumn<QByteArrayList>("features");
    QTest::addColumn<int>("epsvAnswers");
    QTest::addColumn<bool>("mlsdWorks");
    QTest::addColumn<QByteArray>("asked"); // two listings in a row, then the shutdown's TYPE

    const QByteArray epsv("EPSV"), mlst("MLST type*;size*;");
    const int always = 99;
    QTest::newRow("nothing offered") << QByteArrayList{} << always << true
                                     << QByteArray("PASV TYPE LIST PASV TYPE LIST TYPE");
    QTest::newRow("EPSV") << QByteArrayList{epsv} << always << false << QByteArray("EPSV TYPE LIST EPSV TYPE LIST TYPE");
    // A refusal is remembered: the next listing asks PASV at once.
    QTest::newRow("EPSV refused") << QByteArrayList{epsv} << 0 << false
                                  << QByteArray("EPSV PASV TYPE LIST PASV TYPE LIST TYPE");
    // Once EPSV has worked, TYPE and the listing go along with it; refused later, their
    // replies are read before PASV is sent, and the listing sends its own after PASV.
    QTest::newRow("EPSV refused after it worked")
        << QByteArrayList{epsv} << 1 << false << QByteArray("EPSV TYPE LIST EPSV TYPE LIST PASV TYPE LIST TYPE");
    QTest::newRow("MLSD") << QByteArrayList{mlst} << 0 << true << QByteArray("PASV TYPE MLSD PASV TYPE MLSD TYPE");
    QTest::newRow("MLSD refused") << QByteArrayList{mlst} << 0 << false
                                  << QByteArray("PASV TYPE MLSD PASV TYPE LIST PASV TYPE LIST TYPE");
    QTest::newRow("both") << QByteArrayList{mlst, epsv} << always << true
                          << QByteArray("EPSV TYPE MLSD EPSV TYPE MLSD TYPE");
}

// Whatever the server offers, the browsers get the same entries.
void TestListingFallbacks::fallbacks()
{
    QFETCH(QByteArrayList, features);
    QFETCH(int, epsvAnswers);
    QFETCH(bool, mlsdWorks);
    QFETCH(QByteArray, asked);

    ScriptedFtpServer server(offeringServer(features, epsvAnswers, mlsdWorks, "type=file;size=5; a.txt\r\n",
                                            "-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n"));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("u"), QStringLiteral("p"));
    for (int i = 0; i < 2; ++i) {
        const auto entries = ftp->list(QStringLiteral("/pub"));
        QVERIFY(entries.has_value());
        QCOMPARE(describe(*entries), QStringList{QStringLiteral("a.txt|5|0")});
    }
    ftp->shutdown();
    QVERIFY(server.waitForFinished(0));
    QByteArrayList verbs;
    for (const QByteArray &line : server.received(0).split('\n')) {
        const QByteArray verb = line.trimmed().split(' ').first();
        if (verb == "EPSV" || verb == "PASV" || verb == "TYPE" || verb == "MLSD" || verb == "LIST")
            verbs << verb;
    }
    QCOMPARE(verbs.join(' '), asked);
    QCOMPARE(server.failures(), QStringList());
}

void TestListingFallbacks::listingSentWithEpsv_data()
{
    QTest::addColumn<QByteArray>("script"); // after EPSV, TYPE A and LIST were read
    QTest::addColumn<bool>("listed");
    QTest::addColumn<bool>("connected");

    QTest::newRow("answered in turn") << QByteArray(R"(passive-epsv; reply "200 ASCII"
        reply "150 Here"; data $list; reply "226 Done")") << true << true;
    QTest::newRow("TYPE refused, LIST taken up") << QByteArray(R"(passive-epsv; reply "504 Type not supported"
        reply "150 Here"; accept; dfinish; reply "426 Aborted")") << false << true;
    // The server waits for the data connection before it answers LIST: given up.
    QTest::newRow("data connection refused, no answer") << QByteArray("passive-epsv-closed; eof; end") << false
                                                        << false;
    QTest::newRow("LIST refused before the connection")
        << QByteArray(R"(passive-epsv-closed; reply "200 ASCII"; reply "550 No")") << false << true;
}

// Once EPSV has worked, EPSV, TYPE A and LIST reach the server before it has answered any of
// them, and every reply is read in turn whatever the server makes of them.
void TestListingFallbacks::listingSentWithEpsv()
{
    QFETCH(QByteArray, script);
    QFETCH(bool, listed);
    QFETCH(bool, connected);

    ScriptedFtpServer server(scripted(R"(features "EPSV"; login
        epsv; expect "TYPE A"; reply "200 Type set"; expect LIST; reply "150 Here"; data $list; reply "226 Done"
        expect EPSV; expect "TYPE A"; expect LIST)" "\n" + script + R"(
        expect NOOP; reply "200 In step"; rest)",
                                      {{"list", "-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n"}}));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("u"), QStringLiteral("p"));
    QVERIFY(ftp->list(QString()).has_value());
    const auto entries = ftp->list(QString());
    QCOMPARE(entries.has_value(), listed);
    if (listed)
        QCOMPARE(describe(*entries), QStringList{QStringLiteral("a.txt|5|0")});
    QCOMPARE(ftp->isConnected(), connected);
    if (connected)
        QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    QCOMPARE(server.failures(), QStringList());
}

QTEST_GUILESS_MAIN(TestListingFallbacks)

void TestListingFallbacks::factsOfAFileAboutToBeReplaced_data()
{
    QTest::addColumn<QByteArray>("script"); // after the login
    QTest::addColumn<qint64>("size");       // -1: no such file
    QTest::addColumn<qint64>("modified");   // -1: unknown

    const QByteArray sizeAndDate = R"(expect "TYPE I"; reply "200 Binary"; expect "SIZE /up/report.txt"; )";
    QTest::newRow("SIZE and MDTM") << sizeAndDate + R"(reply "213 1234"; expect "MDTM"; reply "213 20200101000000")"
                                   << qint64(1234) << qint64(1577836800);
    QTest::newRow("SIZE refused: no such file")
        << sizeAndDate + R"(reply "550 No such file"; expect "MDTM"; reply "550 No such file")" << qint64(-1)
        << qint64(-1);
    QTest::newRow("MDTM refused") << sizeAndDate + R"(reply "213 0"; expect "MDTM"; reply "500 Unknown")" << qint64(0)
                                  << qint64(-1);
    // Without SIZE only a listing of the file itself tells it is there.
    const auto listed = [](const QByteArray &lines) {
        return R"(listing "150 Here"; data )" + quoted(lines) + R"(; reply "226 Done")";
    };
    QTest::newRow("no SIZE: listed") << listed("-rw-r--r-- 1 u g 777 Jan  1  2020 report.txt\r\n") << qint64(777)
                                     << qint64(0);
    QTest::newRow("no SIZE: listed with its path")
        << listed("-rw-r--r-- 1 u g 778 Jan  1  2020 /up/report.txt\r\n") << qint64(778) << qint64(0);
    QTest::newRow("no SIZE: a directory of that name")
        << listed("drwxr-xr-x 1 u g 4096 Jan  1  2020 report.txt\r\n") << qint64(-1) << qint64(-1);
    QTest::newRow("no SIZE: a directory holding one file")
        << listed("-rw-r--r-- 1 u g 5 Jan  1  2020 other.txt\r\n") << qint64(-1) << qint64(-1);
    QTest::newRow("no SIZE: nothing listed") << listed("") << qint64(-1) << qint64(-1);
}

// What an upload learns of its target before replacing it: SIZE and MDTM, or a listing.
void TestListingFallbacks::factsOfAFileAboutToBeReplaced()
{
    QFETCH(QByteArray, script);
    QFETCH(qint64, size);
    QFETCH(qint64, modified);
    const bool offered = script.startsWith("expect \"TYPE I\"");
    ScriptedFtpServer server(scripted((offered ? R"(features "SIZE" "MDTM"; )" : "") + QByteArray("login; ") + script
                                      + "; rest"));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("u"), QStringLiteral("p"));
    QVERIFY(ftp->isConnected());
    const std::optional<zodaru::RemoteFacts> facts = ftp->fileFacts(QStringLiteral("/up/report.txt"));
    QCOMPARE(facts.has_value(), size >= 0);
    if (facts) {
        QCOMPARE(facts->size.value_or(-1), size);
        // A listing's date is read in the listing's own way; only that it is known counts.
        if (modified == 0)
            QVERIFY(facts->modified.has_value());
        else
            QCOMPARE(facts->modified.value_or(-1), modified);
    }
    QVERIFY(ftp->isConnected());
    ftp->shutdown();
    QVERIFY(server.waitForFinished(0));
    QCOMPARE(server.failures(), QStringList());
}

#include "tst_listing_fallbacks.moc"
