// SPDX-License-Identifier: GPL-3.0-or-later
// Downloads against a scripted server: aborts, broken and stalled connections, partial
// files, local failures, and the user disconnecting or quitting while the worker runs.
#include "ftp/FTP.h"

#include "TransferFiles.h"
#include "TransferRecorder.h"
#include "base/ByteNames.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <csignal>
#include <set>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zodaru;
using namespace zodaru::testing;

class TestTransfer final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void downloadOutcomes_data();
    void downloadOutcomes();
    void partialFile_data();
    void partialFile();
    void stopAllTransfersEndsEveryWorker_data();
    void stopAllTransfersEndsEveryWorker();
    void downloadsInARowOnOneEngine_data();
    void downloadsInARowOnOneEngine();
    void downloadIntoUnwritablePlace_data();
    void downloadIntoUnwritablePlace();
    void userDisconnectsDuringDownload_data();
    void userDisconnectsDuringDownload();
    void downloadSentWithEpsv_data();
    void downloadSentWithEpsv();
    void cancelFreesTheEngine_data();
    void cancelFreesTheEngine();
};

void TestTransfer::downloadOutcomes_data()
{
    QTest::addColumn<QByteArray>("script"); // after RETR's 150
    QTest::addColumn<int>("sent");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("replaced");

    QTest::newRow("complete, 226") << QByteArray(R"(data $payload; reply "226 Transfer complete")") << 40000 << "226" << true;
    // Servers that answer only once the client has closed the data connection.
    QTest::newRow("226 after the client's close")
        << QByteArray(R"(data-wait $payload; reply "226 Transfer complete")") << 40000 << "226" << true;
    QTest::newRow("aborted by the server, 426")
        << QByteArray(R"(data $payload; reply "426 Connection closed; transfer aborted")") << 40000 << "426" << false;
    QTest::newRow("data connection reset")
        << QByteArray(R"(data-reset $payload; reply "426 Connection reset")") << 20000 << "-1" << false;
    QTest::newRow("server stops sending") << QByteArray("data-stall $payload") << 20000 << "-1" << false;
}

void TestTransfer::downloadOutcomes()
{
    QFETCH(QByteArray, script);
    QFETCH(int, sent);
    QFETCH(QString, status);
    QFETCH(bool, replaced);

    const bool stalls = script.startsWith("data-stall");
    const FTP::Settings limits = shortTimeouts(stalls ? 300 : 60000, stalls ? 1000 : 30000);
    const QByteArray payload = patternBytes(sent);
    ScriptedFtpServer server(scripted(R"(login; transfer "RETR /pub/a.bin" "150 Opening BINARY mode data connection")"
                                      "\n" + script + "\nrest",
                                      {{"payload", payload}}));

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("a.bin"));
    QVERIFY(writeFile(target, kOldContent));

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"), {}, limits);
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

void TestTransfer::partialFile_data()
{
    QTest::addColumn<QByteArray>("leaf");
    QTest::addColumn<int>("existingMode"); // -1: no file of that name yet
    QTest::addColumn<int>("umask");
    QTest::addColumn<int>("finalMode");

    const QByteArray twoByte = QByteArray("\xc3\xa9").repeated(127) + 'a';
    const QByteArray fourByte = QByteArray("\xf0\x9f\x98\x80").repeated(63) + "abc";
    QTest::newRow("1 byte") << QByteArray("a") << -1 << 022 << 0644;
    QTest::newRow("200 bytes") << QByteArray(200, 'a') << -1 << 022 << 0644;
    QTest::newRow("244 bytes") << QByteArray(244, 'a') << -1 << 022 << 0644;
    QTest::newRow("255 bytes") << QByteArray(255, 'a') << -1 << 022 << 0644;
    QTest::newRow("255 bytes of two-byte characters") << twoByte << -1 << 022 << 0644;
    QTest::newRow("255 bytes of four-byte characters") << fourByte << -1 << 022 << 0644;
    QTest::newRow("255 bytes, not UTF-8") << QByteArray(255, '\xe9') << -1 << 022 << 0644;
    QTest::newRow("not UTF-8") << QByteArray("caf\xe9") << -1 << 022 << 0644;
    QTest::newRow("new file, umask 027") << QByteArray("n") << -1 << 027 << 0640;
    QTest::newRow("replaces a 0600 file") << QByteArray("m") << 0600 << 022 << 0600;
    QTest::newRow("replaces a 0644 file") << QByteArray("m") << 0644 << 077 << 0644;
    QTest::newRow("replaces a setuid file") << QByteArray("m") << 04755 << 022 << 0755;
}

void TestTransfer::partialFile()
{
    QFETCH(QByteArray, leaf);
    QFETCH(int, existingMode);
    QFETCH(int, umask);
    QFETCH(int, finalMode);

    QTemporaryDir dir;
    QString target = dir.path() + QLatin1Char('/') + nameFromBytes(leaf);
    if (existingMode >= 0) {
        target = createNamed(dir.path(), leaf, kOldContent);
        QCOMPARE(::chmod(bytesOfName(target).constData(), mode_t(existingMode)), 0);
    }
    const mode_t savedUmask = ::umask(mode_t(umask));
    const auto restoreUmask = qScopeGuard([savedUmask] { ::umask(savedUmask); });

    // The server holds the file back until the partial file has been looked at.
    const QByteArray payload = patternBytes(30000);
    ScriptedFtpServer server(scripted(R"(login; transfer "RETR /pub/" "150 Here it comes"
        accept; dsend $first; await rest; dsend $rest; dclose; reply "226 Transfer complete"; rest)",
                                      {{"first", payload.first(1000)}, {"rest", payload.sliced(1000)}}));

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->get(QStringLiteral("/pub/") + nameFromBytes(leaf), target, 5), 150);

    const auto partName = [&] {
        for (const QByteArray &name : byteNamesIn(dir.path()))
            if (name != leaf)
                return name;
        return QByteArray();
    };
    QTRY_VERIFY(!partName().isEmpty());
    const QByteArray part = partName();
    QVERIFY2(part.size() <= 255, part.constData());
    QVERIFY(part.endsWith(".zodaru-part"));
    // As much of the name as fits, cut between characters.
    QVERIFY(part.startsWith(leaf.first(qMin<qsizetype>(leaf.size(), 230))));
    QCOMPARE(hasUndecodedBytes(nameFromBytes(part)), hasUndecodedBytes(nameFromBytes(leaf)));
    struct stat st{};
    QCOMPARE(::stat((bytesOfName(dir.path()) + '/' + part).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), 0600);

    server.release("rest");
    QVERIFY(recorder.waitForCompletion());
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
    QCOMPARE(byteNamesIn(dir.path()), QList<QByteArray>{leaf});
    QCOMPARE(::stat(bytesOfName(target).constData(), &st), 0);
    QCOMPARE(int(st.st_mode & 07777), finalMode);
    QFile saved;
    const int fd = ::open(bytesOfName(target).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(saved.open(fd, QIODevice::ReadOnly, QFile::AutoCloseHandle));
    QCOMPARE(saved.readAll(), payload);
}

void TestTransfer::stopAllTransfersEndsEveryWorker_data()
{
    QTest::addColumn<bool>("upload");
    QTest::newRow("download") << false;
    QTest::newRow("upload") << true;
}

// What quitting does: every worker ends, lets go of its engine and leaves no partial file,
// time after time (the sanitizer builds look for races and use after free here).
void TestTransfer::stopAllTransfersEndsEveryWorker()
{
    QFETCH(bool, upload);
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("big"));
    QVERIFY(writeFile(local, upload ? patternBytes(16 * 1024 * 1024) : kOldContent));
    const QByteArray localContent = readFile(local);

    for (int round = 0; round < 10; ++round) {
        // An upload's writes block on full buffers; a download's data flows until the client closes.
        ScriptedFtpServer server(scripted("login; transfer " + QByteArray(upload ? "\"STOR /big\"" : "\"RETR /big\"")
                                              + " \"150 Here it comes\"; accept; "
                                              + (upload ? "dreceive 1000; silence" : "dflood $block"),
                                          {{"block", patternBytes(65536)}}));
        auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
        QCOMPARE(upload ? ftp->put(local, QStringLiteral("/big"), round) : ftp->get(QStringLiteral("/big"), local, round),
                 150);
        QTest::qWait(300);
        QVERIFY(ftp->isTransferring());

        FTP::stopAllTransfers();
        QVERIFY(FTP::waitForTransfers(30000));
        QVERIFY(!ftp->isTransferring());
        const std::weak_ptr<FTP> engine = ftp;
        ftp.reset();
        QVERIFY(engine.expired());
        QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("big")});
        QCOMPARE(readFile(local), localContent);
    }
}

void TestTransfer::downloadsInARowOnOneEngine_data()
{
    QTest::addColumn<bool>("firstCutByFileLimit");
    QTest::newRow("every file whole") << false;
    // The first file takes only part of what was spliced from the connection: the rest,
    // left in the pipe, must not start the next file.
    QTest::newRow("after a file that could not be written whole") << true;
}

// One engine, many files: each arrives exactly, the same thread carries them all without
// a descriptor more per file, and that thread ends with the engine.
void TestTransfer::downloadsInARowOnOneEngine()
{
    QFETCH(bool, firstCutByFileLimit);
    constexpr int kFiles = 6;
    const auto payload = [](int i) { return patternBytes(65536 + 1000 * i, quint32(i + 1)); };
    QByteArray script = "login\n";
    ScriptValues files;
    for (int i = 0; i < kFiles; ++i) {
        const QByteArray n = QByteArray::number(i);
        script += R"(transfer "RETR /f)" + n + R"(" "150 Here it comes"; data $f)" + n + "; reply \"226 Done\"\n";
        files.insert("f" + n, payload(i));
    }
    // This connection's thread stays: only the engine's may end.
    ScriptedFtpServer server(scripted(script + "silence", files));
    const auto threads = [] {
        const QStringList ids = QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        return std::set<QString>(ids.begin(), ids.end());
    };
    QTemporaryDir dir;
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    std::set<QString> threadsAfterFirst;
    int descriptorsAfterFirst = 0;
    for (int i = 0; i < kFiles; ++i) {
        TransferRecorder recorder(ftp.get());
        const QString target = dir.filePath(QStringLiteral("f%1").arg(i));
        const bool cut = firstCutByFileLimit && i == 0;
        rlimit saved{};
        QVERIFY(::getrlimit(RLIMIT_FSIZE, &saved) == 0);
        const auto oldHandler = cut ? std::signal(SIGXFSZ, SIG_IGN) : SIG_DFL;
        const auto restore = qScopeGuard([&] {
            if (cut) {
                ::setrlimit(RLIMIT_FSIZE, &saved);
                std::signal(SIGXFSZ, oldHandler);
            }
        });
        const rlimit small{10000, saved.rlim_max};
        QVERIFY(!cut || ::setrlimit(RLIMIT_FSIZE, &small) == 0);

        QCOMPARE(ftp->get(QStringLiteral("/f%1").arg(i), target, i), 150);
        QVERIFY(recorder.waitForCompletion());
        QVERIFY(recorder.flush());
        QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")),
                 cut ? QStringLiteral("-1") : QStringLiteral("226"));
        if (cut) {
            QVERIFY(!QFile::exists(target));
            continue;
        }
        QCOMPARE(readFile(target), payload(i));
        if (threadsAfterFirst.empty()) {
            threadsAfterFirst = threads();
            descriptorsAfterFirst = openDescriptorCount();
        } else {
            QCOMPARE(threads(), threadsAfterFirst);
            QCOMPARE(openDescriptorCount(), descriptorsAfterFirst);
        }
    }
    ftp.reset();
    QTRY_COMPARE(threads().size(), threadsAfterFirst.size() - 1);
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

    // The file fits the socket buffers whether read or not.
    ScriptedFtpServer server(scripted(R"(login; transfer "RETR /a.bin" "150 Here it comes"
        data $p; reply "226 Transfer complete"; rest)", {{"p", patternBytes(1000)}}));
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
    const FTP::Settings limits = shortTimeouts(how == QLatin1String("drop") ? 500 : 60000, 2000);

    ScriptedFtpServer server(scripted(R"(login; transfer "RETR /big" "150 Here it comes"; data-stall $p)",
                                      {{"p", patternBytes(5000)}}));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("big"));
    QVERIFY(writeFile(target, kOldContent));

    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"), {}, limits);
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

void TestTransfer::downloadSentWithEpsv_data()
{
    QTest::addColumn<QByteArray>("script"); // after EPSV, TYPE I, SIZE, MDTM and RETR for /b were read
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("status");

    const QByteArray facts = R"(reply "213 3000"; reply "213 20210304050607"; )";
    QTest::newRow("answered in turn")
        << R"(passive-epsv; reply "200 Binary"; )" + facts + R"(reply "150 Here"; data $payload; reply "226 Done")"
        << 150 << "226";
    // SIZE went before RETR: its answer still decides whether what arrived is whole.
    QTest::newRow("size differs") << QByteArray(R"(passive-epsv; reply "200 Binary"; reply "213 3001";
        reply "213 20210304050607"; reply "150 Here"; data $payload; reply "226 Done")") << 150 << "-1";
    // The server waits for the data connection before it answers RETR: nothing would come
    // until its own time-out, so the control connection is given up.
    QTest::newRow("data connection refused, no answer") << QByteArray("passive-epsv-closed; eof; end") << -1 << "";
    // A missing file: the server answered RETR and closed its listener before the client
    // could connect.
    QTest::newRow("RETR refused before the connection") << QByteArray(R"(passive-epsv-closed; reply "200 Binary";
        reply "550 No such file"; reply "550 No such file"; reply "550 No such file")") << 550 << "";
    QTest::newRow("TYPE refused, RETR taken up")
        << R"(passive-epsv; reply "504 Type not supported"; )" + facts
               + R"(reply "150 Here"; accept; dfinish; reply "426 Aborted")"
        << 504 << "";
    // SIZE and MDTM are asked again after the transfer that followed PASV.
    QTest::newRow("EPSV refused after it worked")
        << R"(reply "500 Unknown command"; reply "200 Binary"; )" + facts + R"(reply "425 Use PORT or PASV first"
            transfer "RETR /b" "150 Here"; data $payload; reply "226 Done"
            expect "SIZE /b"; reply "213 3000"; expect "MDTM /b"; reply "213 20210304050607")"
        << 150 << "226";
}

// EPSV, TYPE I, SIZE, MDTM and RETR reach the server before it has answered any of them,
// and every reply is read in turn whatever the server makes of them.
void TestTransfer::downloadSentWithEpsv()
{
    QFETCH(QByteArray, script);
    QFETCH(int, code);
    QFETCH(QString, status);

    const QByteArray payload = patternBytes(3000, 7);
    ScriptedFtpServer server(scripted(R"(
        features "EPSV" "SIZE" "MDTM"; login
        epsv; expect "TYPE I"; reply "200 Type set"; expect "RETR /a"; reply "150 Here"; data $payload; reply "226 Done"
        expect "SIZE /a"; reply "213 3000"; expect "MDTM /a"; reply "213 20210304050607"
        expect EPSV; expect "TYPE I"; expect "SIZE /b"; expect "MDTM /b"; expect "RETR /b"
        )" + script + R"(
        expect NOOP; reply "200 In step"; rest)",
                                      {{"payload", payload}}));
    QTemporaryDir dir;
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("u"), QStringLiteral("p"));
    {
        TransferRecorder first(ftp.get());
        QCOMPARE(ftp->get(QStringLiteral("/a"), dir.filePath(QStringLiteral("a")), 1), 150);
        QVERIFY(first.waitForCompletion());
    }
    TransferRecorder recorder(ftp.get());
    const QString target = dir.filePath(QStringLiteral("b"));
    QCOMPARE(ftp->get(QStringLiteral("/b"), target, 2), code);
    if (code == 150) {
        QVERIFY(recorder.waitForCompletion());
        QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), status);
    }
    if (status == QLatin1String("226")) {
        QCOMPARE(readFile(target), payload);
        QCOMPARE(QFileInfo(target).lastModified().toSecsSinceEpoch(), qint64(1614834367));
    } else {
        QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("a")});
    }
    if (code == -1)
        QVERIFY(!ftp->isConnected());
    else
        QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    QCOMPARE(server.failures(), QStringList());
}

void TestTransfer::cancelFreesTheEngine_data()
{
    QTest::addColumn<bool>("serverAnswers");
    QTest::newRow("server answers the stop") << true;
    // It would answer only once the whole file had gone.
    QTest::newRow("server stays silent") << false;
}

// A cancelled download ends at once, whatever the server makes of it: the engine is then in
// step for the next command, or closed (the next transfer logs in anew), never held.
void TestTransfer::cancelFreesTheEngine()
{
    QFETCH(bool, serverAnswers);
    // The data connection is read until the client closes it.
    ScriptedFtpServer server(scripted(R"(login; transfer "RETR /big" "150 Here it comes"
        accept; dsend $p; dreceive-all)" + QByteArray(serverAnswers ? "" : "; silence") + R"(
        reply "426 Connection closed; transfer aborted"; expect NOOP; reply "200 In step"; rest)",
                                      {{"p", patternBytes(5000)}}));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("big"));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("secret"));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->get(QStringLiteral("/big"), target, 1), 150);
    ftp->cancelTransfer();
    // Far less than the 30 s a reply may take.
    QVERIFY(recorder.waitForCompletion(15000));
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("-1"));
    QVERIFY(!ftp->isTransferring());
    QCOMPARE(leftovers(dir.path()), QStringList());
    QCOMPARE(ftp->isConnected(), serverAnswers);
    if (serverAnswers)
        QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    QCOMPARE(server.failures(), QStringList());
}

QTEST_GUILESS_MAIN(TestTransfer)
#include "tst_transfer.moc"
