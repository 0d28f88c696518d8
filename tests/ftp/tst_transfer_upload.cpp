// SPDX-License-Identifier: GPL-3.0-or-later
// Uploads against a scripted server, and transfer starts the server refuses: what goes out,
// what is called complete, and the engine ready for the next transfer.
#include "ftp/FTP.h"

#include "TransferFiles.h"
#include "TransferRecorder.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using namespace zodaru;
using namespace zodaru::testing;

namespace {

using Session = ScriptedFtpServer::Session;

} // namespace

class TestTransferUpload final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void refusedStartLeavesNoWorker_data();
    void refusedStartLeavesNoWorker();
    void uploadOutcomes_data();
    void uploadOutcomes();
    void uploadOfWhatIsNotARegularFileStartsNothing_data();
    void uploadOfWhatIsNotARegularFileStartsNothing();
    void userDisconnectsDuringUpload_data();
    void userDisconnectsDuringUpload();
    void localFileChangesWhileSent_data();
    void localFileChangesWhileSent();
};

void TestTransferUpload::initTestCase()
{
    // The scripted server's certificate is self-signed.
    FTP::setCertificateCheck([](const QString &, const TlsPeer &) { return CertificateVerdict::Known; });
}

void TestTransferUpload::refusedStartLeavesNoWorker_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QByteArray>("script"); // after the login
    QTest::addColumn<bool>("lineBreakInName");
    QTest::addColumn<int>("result");

    // The refused transfer's data connection, read until the client closes it.
    const QByteArray closed = "; accept; dreceive-all; mark closed";
    const QByteArray pasvType = R"(pasv; expect "TYPE I"; reply "200 Binary"; )";
    QTest::newRow("PASV refused") << false << QByteArray(R"(expect PASV; reply "425 Cannot open passive connection")")
                                  << false << -1;
    QTest::newRow("TYPE refused") << false << R"(pasv; expect "TYPE I"; reply "504 Type not implemented")" + closed
                                  << false << -1;
    QTest::newRow("RETR refused") << false << pasvType + R"(expect RETR; reply "550 No such file")" + closed << false
                                  << 550;
    QTest::newRow("STOR refused") << true << pasvType + R"(expect STOR; reply "553 Not allowed")" + closed << false
                                  << 553;
    QTest::newRow("RETR answered with a line shorter than a code")
        << false << pasvType + R"(expect RETR; reply "55")" + closed << false << -1;
    QTest::newRow("STOR answered with a line shorter than a code")
        << true << pasvType + R"(expect STOR; reply "55")" + closed << false << -1;
    QTest::newRow("remote name with a CR, download") << false << pasvType + closed.mid(2) << true << -1;
    QTest::newRow("remote name with a CR, upload") << true << pasvType + closed.mid(2) << true << -1;
}

void TestTransferUpload::refusedStartLeavesNoWorker()
{
    QFETCH(bool, upload);
    QFETCH(QByteArray, script);
    QFETCH(bool, lineBreakInName);
    QFETCH(int, result);
    // A client that kept the refused transfer's data connection open would wait here.
    const FTP::Settings limits = shortTimeouts(5000, 5000);

    const QByteArray payload = patternBytes(20000);
    // Then the next transfer, when the engine is still connected.
    ScriptedFtpServer server(scripted("login\n" + script + R"(
        transfer "RETR /pub/next" "150 Here it comes"; data $payload; reply "226 Transfer complete"
        rest)", {{"payload", payload}}));
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("a.bin"));
    QVERIFY(writeFile(local, kOldContent));
    const QString remote = lineBreakInName ? QStringLiteral("/pub/a\rb") : QStringLiteral("/pub/a.bin");

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"), {}, limits);
    TransferRecorder recorder(ftp.get());
    QCOMPARE(upload ? ftp->put(local, remote, 3) : ftp->get(remote, local, 3), result);
    QVERIFY(!ftp->isTransferring());
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.notes.size(), size_t(0));
    if (script.contains("mark closed"))
        QVERIFY(server.waitForMark(0, "closed"));
    QCOMPARE(readFile(local), kOldContent);
    QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("a.bin")});

    // A refusal that left the engine connected leaves it ready for the next transfer.
    if (!ftp->isConnected())
        return;
    const QString next = dir.filePath(QStringLiteral("next"));
    QCOMPARE(ftp->get(QStringLiteral("/pub/next"), next, 4), 150);
    QVERIFY(recorder.waitForCompletion());
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
    QCOMPARE(readFile(next), payload);
}

void TestTransferUpload::uploadOutcomes_data()
{
    QTest::addColumn<QByteArray>("script"); // after STOR's 150
    QTest::addColumn<int>("change");        // to the local file before the 150: bytes added, or -(size left)
    QTest::addColumn<QByteArray>("leaf");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("startCode");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QList<qint64>>("chunks");

    const QByteArray whole = R"(receive; reply "226 Transfer complete")";
    const QByteArray failed = R"(receive; reply "426 Failure reading network stream")";
    QTest::newRow("two chunks and 100 bytes")
        << whole << 0 << QByteArray("up.bin") << 32868 << 150 << "226" << QList<qint64>{16384, 16384, 100};
    QTest::newRow("local name not UTF-8")
        << whole << 0 << QByteArray("up\xe9.bin") << 100 << 150 << "226" << QList<qint64>{100};
    // What the file held when the upload began goes out, and is not called complete.
    QTest::newRow("file grows during the upload")
        << failed << 4 << QByteArray("up.bin") << 40000 << 150 << "-1" << QList<qint64>{16384, 16384, 7232};
    // What there was of it goes out, and is not called complete either.
    QTest::newRow("file shrinks during the upload")
        << failed << -20000 << QByteArray("up.bin") << 40000 << 150 << "-1" << QList<qint64>{16384, 3616};
    // The server resets after 16384 bytes; how many chunks the client wrote before it
    // noticed depends on socket buffers, so the chunks are not compared.
    QTest::newRow("data connection reset")
        << QByteArray(R"(receive-reset 16384; reply "426 Failure reading network stream")") << 0
        << QByteArray("up.bin") << 4 * 1024 * 1024 << 150 << "-1" << QList<qint64>{-1};
    // The server stops reading: the idle limit ends the wait for room on the connection.
    QTest::newRow("server stops reading") << QByteArray("accept; dreceive 1000; silence") << 0 << QByteArray("up.bin")
                                          << 16 * 1024 * 1024 << 150 << "-1" << QList<qint64>{-1};
}

void TestTransferUpload::uploadOutcomes()
{
    QFETCH(QByteArray, script);
    QFETCH(int, change);
    QFETCH(QByteArray, leaf);
    QFETCH(int, length);
    QFETCH(int, startCode);
    QFETCH(QString, status);
    QFETCH(QList<qint64>, chunks);

    const bool stalls = script.endsWith("silence");
    const FTP::Settings limits = shortTimeouts(stalls ? 300 : 60000, stalls ? 1000 : 30000);
    const QByteArray content = patternBytes(length, 5);
    QTemporaryDir dir;
    const QString local = createNamed(dir.path(), leaf, content);
    QVERIFY(!local.isEmpty());

    ScriptedFtpServer server([&](Session &s) {
        playScript(s, R"(login; pasv; expect "TYPE I"; reply "200 Binary"; expect "STOR /in/up.bin")");
        {
            // Before the client can have read anything: deterministic.
            QFile file(local);
            if (change < 0)
                file.resize(-change);
            else if (change > 0 && file.open(QIODevice::Append))
                file.write(QByteArray(change, 'm'));
        }
        playScript(s, "reply \"150 Ok to send data\"\n" + script + "\nrest");
    });
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"), {}, limits);
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->put(local, QStringLiteral("/in/up.bin"), 9), startCode);
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());

    QCOMPARE(recorder.completions(), 1);
    QVERIFY(recorder.isCompletion(recorder.notes.back()));
    const Notification &done = recorder.completion();
    QCOMPARE(done.name, QStringLiteral("FileSend"));
    QCOMPARE(done.userInfo.value(QStringLiteral("ID")), QStringLiteral("9"));
    QCOMPARE(done.userInfo.value(QStringLiteral("size")), QString::number(length));
    QCOMPARE(done.userInfo.value(QStringLiteral("status")), status);
    for (const auto &n : recorder.notes)
        if (!recorder.isCompletion(n))
            QVERIFY(!n.userInfo.contains(QStringLiteral("ID")));
    if (chunks != QList<qint64>{-1})
        QCOMPARE(recorder.chunkSizes(), chunks);
    if (status == QLatin1String("226"))
        QCOMPARE(server.dataReceived(0), content);
    QVERIFY(!ftp->isTransferring());
}

void TestTransferUpload::uploadOfWhatIsNotARegularFileStartsNothing_data()
{
    QTest::addColumn<QString>("path"); // relative to a directory holding "subdir" and "fifo"
    QTest::addColumn<QString>("logLine");

    const QString missing = QStringLiteral("Fichier %1 non trouve !");
    const QString refused = QStringLiteral("Fichier %1 refuse : ce n'est pas un fichier ordinaire");
    QTest::newRow("missing file") << "absent.bin" << missing;
    QTest::newRow("directory") << "subdir" << refused;
    // Opened without a writer: a blocking open would never return.
    QTest::newRow("named pipe") << "fifo" << refused;
    QTest::newRow("character device") << "/dev/zero" << refused;
    QTest::newRow("empty character device") << "/dev/null" << refused;
    QTest::newRow("kernel file without a size") << "/proc/self/status" << refused;
}

void TestTransferUpload::uploadOfWhatIsNotARegularFileStartsNothing()
{
    QFETCH(QString, path);
    QFETCH(QString, logLine);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("subdir")));
    QCOMPARE(::mkfifo(bytesOfName(dir.filePath(QStringLiteral("fifo"))).constData(), 0600), 0);
    ScriptedFtpServer server(scripted("login; rest"));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    LogCapture log;
    const QString local = path.startsWith(QLatin1Char('/')) ? path : dir.filePath(path);
    QCOMPARE(ftp->put(local, QStringLiteral("/x"), 2), -1);
    QVERIFY(log.contains(logLine.arg(local)));
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.notes.size(), size_t(0));
    QVERIFY(!server.received(0).contains("PASV"));
    QVERIFY(ftp->isConnected());
    QVERIFY(!ftp->isTransferring());
}

void TestTransferUpload::userDisconnectsDuringUpload_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("shutdown") << "shutdown";
    // The connection stays: the worker, woken from its wait for the full connection, then
    // waits for a completion reply that never comes.
    QTest::newRow("cancel") << "cancel";
}

void TestTransferUpload::userDisconnectsDuringUpload()
{
    QFETCH(QString, how);
    const FTP::Settings limits = shortTimeouts(60000, 1000);
    // Reads nothing more after 1000 bytes: the client's writes block on full buffers.
    ScriptedFtpServer server(scripted(R"(login; transfer "STOR /big" "150 Ok to send data"
        accept; dreceive 1000; silence)"));
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("big"));
    QVERIFY(writeFile(local, patternBytes(16 * 1024 * 1024)));

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"), {}, limits);
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->put(local, QStringLiteral("/big"), 4), 150);
    QTest::qWait(300);
    QVERIFY(ftp->isTransferring());
    if (how == QLatin1String("cancel"))
        ftp->cancelTransfer();
    else
        ftp->shutdown();
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.completions(), 1);
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("-1"));
    QVERIFY(!server.received(0).contains("QUIT"));
}

void TestTransferUpload::localFileChangesWhileSent_data()
{
    // The server reads 64 KiB of a 16 MiB file, then the file changes: the client has sent
    // at most a few hundred KiB by then (what the connection's buffers hold).
    QTest::addColumn<qint64>("cutTo"); // the file's new size; -1: it grows instead
    QTest::addColumn<qint64>("mostReceived");
    QTest::addColumn<bool>("tls");
    // Bytes the client was about to send are gone: the upload ends, not called complete.
    QTest::newRow("cut behind what was sent") << qint64(32 * 1024) << qint64(4 * 1024 * 1024) << false;
    QTest::newRow("emptied") << qint64(0) << qint64(4 * 1024 * 1024) << false;
    // What is left is sent, up to the new end: short, so not complete either.
    QTest::newRow("cut ahead of what was sent") << qint64(12 * 1024 * 1024 + 5) << qint64(12 * 1024 * 1024 + 5) << false;
    QTest::newRow("grows") << qint64(-1) << qint64(16 * 1024 * 1024) << false;
    // Over TLS the file is read, not mapped: the same outcomes.
    QTest::newRow("TLS, cut behind what was sent") << qint64(32 * 1024) << qint64(4 * 1024 * 1024) << true;
    QTest::newRow("TLS, cut ahead of what was sent") << qint64(12 * 1024 * 1024 + 5) << qint64(12 * 1024 * 1024 + 5) << true;
    QTest::newRow("TLS, grows") << qint64(-1) << qint64(16 * 1024 * 1024) << true;
}

// A local file that changes while it goes up: what arrives is a prefix of the file as it
// was, the upload fails, and the program is still there (a file read through a mapping
// that was cut short must not bring it down).
void TestTransferUpload::localFileChangesWhileSent()
{
    QFETCH(qint64, cutTo);
    QFETCH(qint64, mostReceived);
    QFETCH(bool, tls);
    const QByteArray content = patternBytes(16 * 1024 * 1024, 11);
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("changing.bin"));
    QVERIFY(writeFile(local, content));

    ScriptedFtpServer server([&](Session &s) {
        playScript(s, tls ? R"(greet; auth-tls; expect "USER "; reply "331 Password required"
            expect "PASS "; reply "230 Logged in"; expect FEAT; reply "502 No features"
            expect "PBSZ 0"; reply "200 PBSZ=0"; expect "PROT P"; reply "200 Protection level set to P"; protect)"
                          : "login");
        playScript(s, R"(transfer "STOR /in/changing.bin" "150 Ok to send data")");
        auto data = s.acceptData();
        data.receive(64 * 1024);
        {
            QFile file(local);
            if (cutTo >= 0)
                file.resize(cutTo);
            else if (file.open(QIODevice::Append))
                file.write(QByteArray(1000, 'm'));
        }
        data.receiveAll();
        playScript(s, R"(reply "426 Failure reading network stream"; rest)");
    });
    const QString address = tls ? QStringLiteral("ftpes://127.0.0.1:%1").arg(server.port()) : server.address();
    auto ftp = FTP::connectTo(address, QStringLiteral("user"), QStringLiteral("secret"), {}, shortTimeouts(60000, 30000));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->put(local, QStringLiteral("/in/changing.bin"), 3), 150);
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.completions(), 1);
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("-1"));
    const QByteArray received = server.dataReceived(0);
    QVERIFY2(received.size() <= mostReceived, qPrintable(QString::number(received.size())));
    QVERIFY(content.startsWith(received));
    QVERIFY(!ftp->isTransferring());
}

QTEST_GUILESS_MAIN(TestTransferUpload)
#include "tst_transfer_upload.moc"
