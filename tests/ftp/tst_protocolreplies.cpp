// SPDX-License-Identifier: GPL-3.0-or-later
// Replies that carry data, read as the servers of several makes write them.
#include "base/ByteNames.h"
#include "ftp/ProtocolReplies.h"

#include <QTest>

using namespace zodaru;
using Kind = MachineListEntry::Kind;

class TestProtocolReplies final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void passive_data();
    void passive();
    void extendedPassive_data();
    void extendedPassive();
    void features();
    void machineListing_data();
    void machineListing();
    void times_data();
    void times();
};

void TestProtocolReplies::passive_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QString>("host"); // empty: rejected
    QTest::addColumn<int>("port");
    QTest::newRow("usual") << "227 Entering Passive Mode (127,0,0,1,195,80)." << "127.0.0.1" << 50000;
    QTest::newRow("spaces") << "227 Entering Passive Mode ( 10, 0, 0, 7, 4, 1 )" << "10.0.0.7" << 1025;
    QTest::newRow("no parentheses") << "227 =127,0,0,1,0,21" << "127.0.0.1" << 21;
    QTest::newRow("five numbers") << "227 (127,0,0,1,80)" << "" << 0;
    QTest::newRow("past 255") << "227 (127,0,0,1,256,1)" << "" << 0;
    QTest::newRow("negative") << "227 (127,0,0,1,-1,1)" << "" << 0;
    QTest::newRow("port zero") << "227 (127,0,0,1,0,0)" << "" << 0;
    QTest::newRow("garbage") << "227 ok" << "" << 0;
}

void TestProtocolReplies::passive()
{
    QFETCH(QString, reply);
    QFETCH(QString, host);
    QFETCH(int, port);
    const auto parsed = parsePasvReply(reply);
    QCOMPARE(parsed.has_value(), !host.isEmpty());
    if (parsed) {
        QCOMPARE(parsed->host, host);
        QCOMPARE(parsed->port, port);
    }
}

void TestProtocolReplies::extendedPassive_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("port"); // -1: rejected
    QTest::newRow("usual") << "229 Entering Extended Passive Mode (|||6446|)" << 6446;
    QTest::newRow("other delimiter") << "229 Extended Passive (!!!65535!)" << 65535;
    QTest::newRow("protocol given") << "229 (|2|::1|6446|)" << -1;
    QTest::newRow("past 65535") << "229 (|||65536|)" << -1;
    QTest::newRow("mixed delimiters") << "229 (|||6446!)" << -1;
    QTest::newRow("no port") << "229 (||||)" << -1;
    QTest::newRow("digit delimiter") << "229 (11164461)" << -1;
    QTest::newRow("no parentheses") << "229 |||6446|" << -1;
}

void TestProtocolReplies::extendedPassive()
{
    QFETCH(QString, reply);
    QFETCH(int, port);
    QCOMPARE(parseEpsvReply(reply).value_or(-1), port);
}

void TestProtocolReplies::features()
{
    const ServerFeatures none = parseFeatReply({QStringLiteral("500 FEAT not understood")});
    QVERIFY(!none.utf8 && !none.epsv && !none.mlsd && !none.restStream && !none.size && !none.mdtm);

    const ServerFeatures all = parseFeatReply({
        QStringLiteral("211-Features:"),
        QStringLiteral(" EPRT"),
        QStringLiteral(" EPSV"),
        QStringLiteral(" MDTM"),
        QStringLiteral(" MLST type*;perm*;size*;modify*;unique*;unix.mode;"),
        QStringLiteral(" REST STREAM"),
        QStringLiteral(" SIZE"),
        QStringLiteral(" AUTH TLS"),
        QStringLiteral(" utf8"),
        QStringLiteral("211 End"),
    });
    QVERIFY(all.utf8 && all.epsv && all.mlsd && all.restStream && all.size && all.mdtm && all.authTls);
    QCOMPARE(all.lines.size(), 8);

    // "REST" alone is not stream restarting; "MLSD" is not how MLST is announced.
    const ServerFeatures odd = parseFeatReply({QStringLiteral("211-x"), QStringLiteral(" REST"),
                                               QStringLiteral(" MLSD"), QStringLiteral("211 End")});
    QVERIFY(!odd.restStream && !odd.mlsd);
}

void TestProtocolReplies::machineListing_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<bool>("named");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("kind");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("modified");
    QTest::newRow("file") << QByteArray("type=file;size=1024;modify=20201231235959; report.pdf\r\n") << true
                          << QByteArray("report.pdf") << int(Kind::File) << qint64(1024) << qint64(1609459199);
    QTest::newRow("dir") << QByteArray("Type=DIR;Modify=19700101000000.123; sub") << true << QByteArray("sub")
                         << int(Kind::Directory) << qint64(-1) << qint64(0);
    QTest::newRow("cdir") << QByteArray("type=cdir;modify=20200101000000; .") << true << QByteArray(".")
                          << int(Kind::CurrentDirectory) << qint64(-1) << qint64(1577836800);
    QTest::newRow("pdir") << QByteArray("type=pdir; ..") << true << QByteArray("..")
                          << int(Kind::ParentDirectory) << qint64(-1) << qint64(-1);
    QTest::newRow("link") << QByteArray("type=OS.unix=slink:/etc;size=4; etc-link") << true
                          << QByteArray("etc-link") << int(Kind::Link) << qint64(4) << qint64(-1);
    QTest::newRow("no type fact") << QByteArray("size=7; plain") << true << QByteArray("plain")
                                  << int(Kind::Other) << qint64(7) << qint64(-1);
    QTest::newRow("unknown facts") << QByteArray("x.y=1;unique=fd01;perm=adfrw;type=file;size=0; empty")
                                   << true << QByteArray("empty") << int(Kind::File) << qint64(0) << qint64(-1);
    QTest::newRow("spaces in name") << QByteArray("type=file;size=3;  two  spaces ") << true
                                    << QByteArray(" two  spaces ") << int(Kind::File) << qint64(3) << qint64(-1);
    QTest::newRow("semicolon in name") << QByteArray("type=file; a;b=c") << true << QByteArray("a;b=c")
                                       << int(Kind::File) << qint64(-1) << qint64(-1);
    QTest::newRow("latin-1 name") << QByteArray("type=file;size=1; caf\xe9") << true << QByteArray("caf\xe9")
                                  << int(Kind::File) << qint64(1) << qint64(-1);
    QTest::newRow("bad size and time") << QByteArray("type=file;size=-5;modify=20201340000000; x") << true
                                       << QByteArray("x") << int(Kind::File) << qint64(-1) << qint64(-1);
    QTest::newRow("dir size") << QByteArray("type=dir;sizd=4096; d") << true << QByteArray("d")
                              << int(Kind::Directory) << qint64(4096) << qint64(-1);
    QTest::newRow("no name") << QByteArray("type=file;size=1; ") << false << QByteArray() << 0 << qint64(0)
                             << qint64(0);
    QTest::newRow("no space") << QByteArray("type=file;size=1;name") << false << QByteArray() << 0 << qint64(0)
                              << qint64(0);
    QTest::newRow("empty") << QByteArray("") << false << QByteArray() << 0 << qint64(0) << qint64(0);
}

void TestProtocolReplies::machineListing()
{
    QFETCH(QByteArray, line);
    QFETCH(bool, named);
    const auto entry = parseMlsdLine(line);
    QCOMPARE(entry.has_value(), named);
    if (!entry)
        return;
    QTEST(bytesOfName(entry->name), "name");
    QTEST(int(entry->kind), "kind");
    QTEST(entry->size, "size");
    QTEST(entry->modified, "modified");
}

void TestProtocolReplies::times_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("seconds"); // -1: rejected
    QTest::newRow("epoch") << "19700101000000" << qint64(0);
    QTest::newRow("leap day") << "20240229120000" << qint64(1709208000);
    QTest::newRow("fraction") << "20240229120000.5" << qint64(1709208000);
    QTest::newRow("leap second") << "20161231235960" << qint64(1483228799);
    QTest::newRow("no leap day") << "20230229120000" << qint64(-1);
    QTest::newRow("short") << "2024022912" << qint64(-1);
    QTest::newRow("letters") << "2024O229120000" << qint64(-1);
    QTest::newRow("bad fraction") << "20240229120000x" << qint64(-1);
}

void TestProtocolReplies::times()
{
    QFETCH(QString, text);
    QFETCH(qint64, seconds);
    QCOMPARE(parseFtpTime(text).value_or(-1), seconds);
}

QTEST_GUILESS_MAIN(TestProtocolReplies)
#include "tst_protocolreplies.moc"
