// SPDX-License-Identifier: GPL-3.0-or-later
// Transfers against a scripted server: refusals, aborts, broken and stalled connections,
// local failures, and the user disconnecting while the worker runs.
#include "ftp/FTP.h"

#include "TransferRecorder.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace zodaru;
using namespace zodaru::testing;

namespace {

using Session = ScriptedFtpServer::Session;

const QByteArray kOldContent = "the file the user already had\n";

// Login, PASV, TYPE I and the transfer command, answered with `reply`.
void startTransfer(Session &s, QByteArrayView command, QByteArrayView reply)
{
    s.greetAndLogin();
    s.expect("PASV");
    s.line(s.openPassive());
    s.expect("TYPE I");
    s.line("200 Binary");
    s.expect(command);
    s.line(reply);
}

// Files in `dir` that a download may have left behind.
QStringList leftovers(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

// Shorter limits for the tests that wait for one; restored at the end of the test.
class ShortTimeouts final {
public:
    explicit ShortTimeouts(int dataIdleMs, int replyLineMs) : saved_(FTP::timeouts())
    {
        FTP::Timeouts t = saved_;
        t.dataIdle = dataIdleMs;
        t.replyLine = replyLineMs;
        FTP::setTimeouts(t);
    }
    ~ShortTimeouts() { FTP::setTimeouts(saved_); }
    Q_DISABLE_COPY_MOVE(ShortTimeouts)

private:
    FTP::Timeouts saved_;
};

} // namespace

class TestTransfer final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void downloadOutcomes_data();
    void downloadOutcomes();
    void refusedDownloadClosesTheEngine();
    void downloadIntoUnwritablePlace_data();
    void downloadIntoUnwritablePlace();
    void userDisconnectsDuringDownload_data();
    void userDisconnectsDuringDownload();
    void uploadOutcomes_data();
    void uploadOutcomes();
    void uploadOfMissingOrDirectoryStartsNothing_data();
    void uploadOfMissingOrDirectoryStartsNothing();
    void userDisconnectsDuringUpload();
};

// How the server ends a download, and what the client must make of it.
enum class DownloadEnd { Complete, Aborted426, ResetMidway, Stalled };
Q_DECLARE_METATYPE(DownloadEnd)

void TestTransfer::downloadOutcomes_data()
{
    QTest::addColumn<DownloadEnd>("end");
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("complete, 226") << DownloadEnd::Complete << 40000 << "226" << true;
    QTest::newRow("aborted by the server, 426") << DownloadEnd::Aborted426 << 40000 << "426" << false;
    QTest::newRow("data connection reset") << DownloadEnd::ResetMidway << 20000 << "-1" << false;
    QTest::newRow("server stops sending") << DownloadEnd::Stalled << 20000 << "-1" << false;
}

void TestTransfer::downloadOutcomes()
{
    QFETCH(DownloadEnd, end);
    QFETCH(int, sent);
    QFETCH(QString, status);
    QFETCH(bool, replaced);

    ShortTimeouts limits(end == DownloadEnd::Stalled ? 300 : 60000,
                         end == DownloadEnd::Stalled ? 1000 : 30000);
    const QByteArray payload = patternBytes(sent);
    ScriptedFtpServer server([&](Session &s) {
        startTransfer(s, "RETR /pub/a.bin", "150 Opening BINARY mode data connection");
        switch (end) {
        case DownloadEnd::Complete:
            s.sendData(payload);
            s.line("226 Transfer complete");
            break;
        case DownloadEnd::Aborted426:
            s.sendData(payload);
            s.line("426 Connection closed; transfer aborted");
            break;
        case DownloadEnd::ResetMidway:
            s.resetData(payload);
            s.line("426 Connection reset");
            break;
        case DownloadEnd::Stalled:
            s.stallData(payload);
        }
        s.answerRest();
    });

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("a.bin"));
    QVERIFY(writeFile(target, kOldContent));

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->get(QStringLiteral("/pub/a.bin"), target, 7), 150);
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());

    QCOMPARE(recorder.completions(), 1);
    QVERIFY(recorder.isCompletion(recorder.notes.back())); // nothing after it
    const Notification &done = recorder.completion();
    QCOMPARE(done.name, QStringLiteral("FileSaved"));
    QCOMPARE(done.object, kObject);
    QCOMPARE(done.userInfo.value(QStringLiteral("ID")), QStringLiteral("7"));
    QCOMPARE(done.userInfo.value(QStringLiteral("status")), status);

    qint64 sum = 0;
    for (const qint64 size : recorder.chunkSizes()) {
        QVERIFY(size > 0 && size <= 16384);
        sum += size;
    }
    QCOMPARE(done.userInfo.value(QStringLiteral("size")), QString::number(sum));
    for (const auto &n : recorder.notes)
        QCOMPARE(n.userInfo.value(QStringLiteral("ID")), QStringLiteral("7"));

    QCOMPARE(readFile(target), replaced ? payload : kOldContent);
    QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("a.bin")});
    QVERIFY(!ftp->isTransferring());
}

void TestTransfer::refusedDownloadClosesTheEngine()
{
    ScriptedFtpServer server([](Session &s) {
        startTransfer(s, "RETR /pub/missing", "550 No such file");
        s.waitForEof();
    });
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("missing"));
    QVERIFY(writeFile(target, kOldContent));

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->get(QStringLiteral("/pub/missing"), target, 3), 550);
    QVERIFY(!ftp->isConnected());
    QVERIFY(recorder.waitForCompletion());
    const Notification &done = recorder.completion();
    QCOMPARE(done.userInfo, (QMap<QString, QString>{{"ID", "3"}, {"size", "0"}, {"status", "-1"}}));
    QCOMPARE(recorder.notes.size(), size_t(1));
    QCOMPARE(readFile(target), kOldContent);
    QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("missing")});

    // The engine stays closed: the next start is refused without a worker.
    recorder.notes.clear();
    QCOMPARE(ftp->get(QStringLiteral("/pub/other"), dir.filePath(QStringLiteral("other")), 4), -1);
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.notes.size(), size_t(0));
    QVERIFY(!ftp->isTransferring());
}

void TestTransfer::downloadIntoUnwritablePlace_data()
{
    QTest::addColumn<QString>("relativeTarget");
    QTest::addColumn<bool>("needsNonRoot");

    QTest::newRow("directory does not exist") << "nowhere/a.bin" << false;
    QTest::newRow("parent is a plain file") << "plain/a.bin" << false;
    QTest::newRow("read-only directory") << "readonly/a.bin" << true;
}

void TestTransfer::downloadIntoUnwritablePlace()
{
    QFETCH(QString, relativeTarget);
    QFETCH(bool, needsNonRoot);
    if (needsNonRoot && ::geteuid() == 0)
        QSKIP("permissions do not stop root");

    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath(QStringLiteral("plain")), "x"));
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("readonly")));
    QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("readonly")),
                                  QFile::ReadOwner | QFile::ExeOwner));

    ScriptedFtpServer server([](Session &s) {
        startTransfer(s, "RETR /a.bin", "150 Here it comes");
        s.sendData(patternBytes(1000)); // fits the socket buffers whether read or not
        s.line("226 Transfer complete");
        s.answerRest();
    });
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->get(QStringLiteral("/a.bin"), dir.filePath(relativeTarget), 0), 150);
    QVERIFY(recorder.waitForCompletion());
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("-1"));
    QVERIFY(!QFile::exists(dir.filePath(relativeTarget)));
    QVERIFY(QFile::setPermissions(dir.filePath(QStringLiteral("readonly")),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

void TestTransfer::userDisconnectsDuringDownload_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("close") << "close";
    QTest::newRow("shutdown") << "shutdown";
    QTest::newRow("engine dropped") << "drop";
}

void TestTransfer::userDisconnectsDuringDownload()
{
    QFETCH(QString, how);
    // Dropping the engine wakes nobody: the worker, which keeps the engine alive, ends
    // through the data time-out.
    ShortTimeouts limits(how == QLatin1String("drop") ? 500 : 60000, 2000);

    ScriptedFtpServer server([](Session &s) {
        startTransfer(s, "RETR /big", "150 Here it comes");
        s.stallData(patternBytes(5000));
    });
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("big"));
    QVERIFY(writeFile(target, kOldContent));

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->get(QStringLiteral("/big"), target, 1), 150);
    QVERIFY(ftp->isTransferring());
    // One transfer per engine: a second start while the worker runs is refused at once.
    QCOMPARE(ftp->get(QStringLiteral("/other"), dir.filePath(QStringLiteral("other")), 2), -1);
    QCOMPARE(ftp->put(target, QStringLiteral("/other"), 3), -1);

    if (how == QLatin1String("close"))
        ftp->close();
    else if (how == QLatin1String("shutdown"))
        ftp->shutdown();
    else
        ftp.reset();

    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.completions(), 1);
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("-1"));
    QCOMPARE(readFile(target), kOldContent);
    QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("big")});
    // Nothing more was sent on the control connection: no QUIT racing the worker.
    QVERIFY(!server.received(0).contains("QUIT"));
    QCOMPARE(server.received(0).count("PASV"), 1);
}

// How the server takes an upload.
enum class UploadEnd { Complete, Refused553, ResetMidway };
Q_DECLARE_METATYPE(UploadEnd)

void TestTransfer::uploadOutcomes_data()
{
    QTest::addColumn<UploadEnd>("end");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("startCode");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QList<qint64>>("chunks");

    QTest::newRow("two chunks and 100 bytes")
        << UploadEnd::Complete << 32868 << 150 << "226" << QList<qint64>{16384, 16384, 100};
    QTest::newRow("STOR refused") << UploadEnd::Refused553 << 40000 << 553 << "-1" << QList<qint64>{};
    // The server resets after 16384 bytes; how many chunks the client wrote before it
    // noticed depends on socket buffers, so the chunks are not compared.
    QTest::newRow("data connection reset")
        << UploadEnd::ResetMidway << 4 * 1024 * 1024 << 150 << "-1" << QList<qint64>{-1};
}

void TestTransfer::uploadOutcomes()
{
    QFETCH(UploadEnd, end);
    QFETCH(int, length);
    QFETCH(int, startCode);
    QFETCH(QString, status);
    QFETCH(QList<qint64>, chunks);

    const QByteArray content = patternBytes(length, 5);
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("up.bin"));
    QVERIFY(writeFile(local, content));

    ScriptedFtpServer server([&](Session &s) {
        switch (end) {
        case UploadEnd::Complete:
            startTransfer(s, "STOR /in/up.bin", "150 Ok to send data");
            s.receiveData();
            s.line("226 Transfer complete");
            break;
        case UploadEnd::Refused553:
            startTransfer(s, "STOR /in/up.bin", "553 Could not create file");
            break;
        case UploadEnd::ResetMidway:
            startTransfer(s, "STOR /in/up.bin", "150 Ok to send data");
            s.resetDataAfterReceiving(16384);
            s.line("426 Failure reading network stream");
            break;
        }
        s.answerRest();
    });
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
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
    if (end == UploadEnd::Complete)
        QCOMPARE(server.dataReceived(0), content);
    QVERIFY(!ftp->isTransferring());
}

void TestTransfer::uploadOfMissingOrDirectoryStartsNothing_data()
{
    QTest::addColumn<QString>("relativeLocal");
    QTest::newRow("missing file") << "absent.bin";
    QTest::newRow("directory") << "subdir";
}

void TestTransfer::uploadOfMissingOrDirectoryStartsNothing()
{
    QFETCH(QString, relativeLocal);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("subdir")));
    ScriptedFtpServer server([](Session &s) {
        s.greetAndLogin();
        s.answerRest();
    });
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    LogCapture log;
    const QString local = dir.filePath(relativeLocal);
    QCOMPARE(ftp->put(local, QStringLiteral("/x"), 2), -1);
    QVERIFY(log.contains(QStringLiteral("Fichier %1 non trouve !").arg(local)));
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.notes.size(), size_t(0));
    QVERIFY(!server.received(0).contains("PASV"));
    QVERIFY(ftp->isConnected());
}

void TestTransfer::userDisconnectsDuringUpload()
{
    ScriptedFtpServer server([](Session &s) {
        startTransfer(s, "STOR /big", "150 Ok to send data");
        auto data = s.acceptData();
        data.receive(1000);
        data.stall(); // reads nothing more: the client's writes block on full buffers
    });
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("big"));
    QVERIFY(writeFile(local, patternBytes(16 * 1024 * 1024)));

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->put(local, QStringLiteral("/big"), 4), 150);
    ftp->shutdown();
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.completions(), 1);
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("-1"));
    QVERIFY(!server.received(0).contains("QUIT"));
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
