// SPDX-License-Identifier: GPL-3.0-or-later
// Partial downloads against a scripted server: kept after a broken transfer, continued only
// for the very file they began, and the download checked against the server's size.
#include "ftp/FTP.h"

#include "TransferRecorder.h"
#include "base/ByteNames.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <memory>
#include <numeric>

#include <sys/xattr.h>

using namespace zodaru;
using namespace zodaru::testing;

namespace {

using Session = ScriptedFtpServer::Session;

// Files in `dir` that a download may have left behind.
QStringList leftovers(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestTransferResume final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void interruptedDownloadResumes_data();
    void interruptedDownloadResumes();
    void downloadIsChecked_data();
    void downloadIsChecked();
    void resumesOnlyTheSameFile_data();
    void resumesOnlyTheSameFile();
};

void TestTransferResume::interruptedDownloadResumes_data()
{
    QTest::addColumn<bool>("restStream");
    QTest::newRow("REST STREAM offered") << true;
    QTest::newRow("not offered: starts over") << false;
}

// The first download ends early (426); the second continues the partial file with REST
// when the server can, and the result is the whole file either way.
void TestTransferResume::interruptedDownloadResumes()
{
    QFETCH(bool, restStream);
    const QByteArray payload = patternBytes(30000, 3);
    const QByteArray sizeReply = "213 " + QByteArray::number(payload.size());
    // What a partial file would be a part of is asked before each download.
    const QByteArray facts = restStream ? R"(expect "TYPE I"; reply "200 Binary"; expect "SIZE /f"; reply $size
        expect "MDTM /f"; reply "213 20210304050607")" "\n" : "";
    ScriptedFtpServer server(scripted(
        (restStream ? R"(features "REST STREAM" "SIZE" "MDTM")" "\n" : "") + QByteArray("login\n") + facts
            + R"(transfer "RETR /f" "150 Here"; accept; dsend $head; dclose
                 reply "426 Connection closed; transfer aborted")" "\n"
            + facts + R"(pasv; expect "TYPE I"; reply "200 Binary")" "\n"
            + (restStream ? R"(expect "REST 10000"; reply "350 Restarting")" "\n" : "")
            + R"(expect "RETR /f"; reply "150 Here"; data $rest; reply "226 Done"; rest)",
        {{"size", sizeReply}, {"head", payload.first(10000)}, {"rest", restStream ? payload.sliced(10000) : payload}}));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("f"));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("u"), QStringLiteral("p"));
    {
        TransferRecorder recorder(ftp.get());
        QCOMPARE(ftp->get(QStringLiteral("/f"), target, 1), 150);
        QVERIFY(recorder.waitForCompletion());
        QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("426"));
    }
    // Kept only when it can be continued, and never under the file's own name.
    QCOMPARE(leftovers(dir.path()), restStream ? QStringList{QStringLiteral("f.zodaru-part")} : QStringList());
    {
        TransferRecorder recorder(ftp.get());
        QCOMPARE(ftp->get(QStringLiteral("/f"), target, 2), 150);
        QCOMPARE(ftp->resumeOffset(), restStream ? 10000 : 0);
        QVERIFY(recorder.waitForCompletion());
        QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
        // Progress counts the bytes moved by this transfer only.
        const auto chunks = recorder.chunkSizes();
        QCOMPARE(std::accumulate(chunks.begin(), chunks.end(), qint64(0)), restStream ? 20000 : 30000);
    }
    QCOMPARE(readFile(target), payload);
    QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("f")});
    QCOMPARE(server.failures(), QStringList());
}

void TestTransferResume::downloadIsChecked_data()
{
    QTest::addColumn<QByteArray>("sizeReply");
    QTest::addColumn<QByteArray>("mdtmReply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QStringList>("left");
    QTest::addColumn<qint64>("modified"); // -1: the time of the download

    const QStringList saved{QStringLiteral("f")};
    QTest::newRow("size matches, date kept") << QByteArray("213 1000") << QByteArray("213 20210304050607")
                                            << "226" << saved << qint64(1614834367);
    QTest::newRow("date unreadable") << QByteArray("213 1000") << QByteArray("213 yesterday") << "226" << saved
                                     << qint64(-1);
    QTest::newRow("SIZE refused") << QByteArray("550 No") << QByteArray("550 No") << "226" << saved << qint64(-1);
    // A file the server says is longer is not complete: the part waits for a resume. MDTM
    // went with SIZE; its reply is read all the same, so the next command gets its own.
    QTest::newRow("size differs") << QByteArray("213 1001") << QByteArray("213 20210304050607") << "-1"
                                  << QStringList{QStringLiteral("f.zodaru-part")} << qint64(-1);
}

void TestTransferResume::downloadIsChecked()
{
    QFETCH(QByteArray, sizeReply);
    QFETCH(QByteArray, mdtmReply);
    QFETCH(QString, status);
    QFETCH(QStringList, left);
    QFETCH(qint64, modified);

    // SIZE and MDTM are asked before the transfer, where they also tell what a partial file
    // is a part of.
    ScriptedFtpServer server(scripted(R"(features "SIZE" "MDTM" "REST STREAM"; login
        expect "TYPE I"; reply "200 Binary"; expect "SIZE /f"; reply $size; expect "MDTM /f"; reply $mdtm
        transfer "RETR /f" "150 Here"; data $data; reply "226 Done"
        expect NOOP; reply "200 In step"; rest)",
                                      {{"size", sizeReply}, {"mdtm", mdtmReply}, {"data", patternBytes(1000)}}));
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("f"));
    auto ftp = FTP::connectTo(server.address(), QStringLiteral("u"), QStringLiteral("p"));
    TransferRecorder recorder(ftp.get());
    const qint64 before = QDateTime::currentSecsSinceEpoch();
    QCOMPARE(ftp->get(QStringLiteral("/f"), target, 1), 150);
    QVERIFY(recorder.waitForCompletion());
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), status);
    QCOMPARE(leftovers(dir.path()), left);
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    if (left == QStringList{QStringLiteral("f")}) {
        const qint64 mtime = QFileInfo(target).lastModified().toSecsSinceEpoch();
        if (modified >= 0)
            QCOMPARE(mtime, modified);
        else
            QVERIFY(mtime >= before - 2);
    }
    QCOMPARE(server.failures(), QStringList());
}

// What changed between the download that left a partial file and the next one.
enum class Since { Nothing, OtherServer, OtherUser, Larger, Newer, Shrunk, OldRecord, NoRecord };
Q_DECLARE_METATYPE(Since)

void TestTransferResume::resumesOnlyTheSameFile_data()
{
    QTest::addColumn<Since>("since");
    QTest::addColumn<bool>("sizeAndDate"); // SIZE and MDTM offered; otherwise the listing tells
    QTest::addColumn<bool>("resumes");

    QTest::newRow("unchanged") << Since::Nothing << true << true;
    QTest::newRow("unchanged, told by the listing") << Since::Nothing << false << true;
    QTest::newRow("another server, same path") << Since::OtherServer << true << false;
    QTest::newRow("another user") << Since::OtherUser << true << false;
    QTest::newRow("replaced by a larger file") << Since::Larger << true << false;
    QTest::newRow("same size, newer") << Since::Newer << true << false;
    QTest::newRow("newer, told by the listing") << Since::Newer << false << false;
    QTest::newRow("shorter than the partial file, told by the listing") << Since::Shrunk << false << false;
    // Partial files an older version left, or left where user attributes cannot be kept.
    QTest::newRow("partial file recording its path only") << Since::OldRecord << true << false;
    QTest::newRow("partial file without a record") << Since::NoRecord << true << false;
}

// A partial file is continued only by a download of the very file it began, unchanged since;
// otherwise the download starts over, and the result is the file as the server has it now.
void TestTransferResume::resumesOnlyTheSameFile()
{
    QFETCH(Since, since);
    QFETCH(bool, sizeAndDate);
    QFETCH(bool, resumes);

    const QByteArray before = patternBytes(30000, 3);
    QByteArray after = before;
    if (since == Since::Larger)
        after += patternBytes(10000, 4);
    else if (since == Since::Newer)
        after = patternBytes(30000, 5);
    else if (since == Since::Shrunk)
        after = patternBytes(5000, 6);
    // What the server tells of /f before a download: SIZE and MDTM, or a listing.
    const auto facts = [&](const QByteArray &content, bool newer) -> QByteArray {
        const QByteArray size = QByteArray::number(content.size());
        if (sizeAndDate)
            return R"(expect "TYPE I"; reply "200 Binary"; expect "SIZE /f"; reply "213 )" + size
                + R"("; expect "MDTM /f"; reply )" + (newer ? "\"213 20220101000000\"\n" : "\"213 20210304050607\"\n");
        return R"(pasv; expect "TYPE A"; reply "200 ASCII"; expect "LIST /f"; reply "150 Here"
            data "-rw-r--r-- 1 u g )" + size + (newer ? " Jan  1  2022 f\\r\\n" : " Mar  4  2021 f\\r\\n")
            + "\"; reply \"226 Done\"\n";
    };
    const bool crafted = since == Since::OldRecord || since == Since::NoRecord;
    const bool elsewhere = since == Since::OtherServer || since == Since::OtherUser;
    std::atomic<bool> partialMade{crafted};
    const ScriptValues values{{"head", before.first(10000)}, {"rest", resumes ? after.sliced(10000) : after}};
    const ScriptedFtpServer::Script script = [&](Session &s) {
        playScript(s, (sizeAndDate ? R"(features "REST STREAM" "SIZE" "MDTM")" : R"(features "REST STREAM")")
                          + QByteArray("; login"));
        if (!partialMade.exchange(true)) {
            playScript(s, facts(before, false) + R"(transfer "RETR /f" "150 Here"; accept; dsend $head; dclose
                reply "426 Connection closed; transfer aborted")" "\n" + (elsewhere ? "rest; end" : ""), values);
            if (elsewhere)
                return;
        }
        playScript(s, facts(after, since == Since::Newer) + R"(pasv; expect "TYPE I"; reply "200 Binary")" "\n"
                          + (resumes ? R"(expect "REST 10000"; reply "350 Restarting")" "\n" : "")
                          + R"(expect "RETR /f"; reply "150 Here"; data $rest; reply "226 Done"
                               expect NOOP; reply "200 In step"; rest)", values);
    };
    ScriptedFtpServer server(script);
    ScriptedFtpServer other(script);
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("f"));
    std::shared_ptr<FTP> first;
    if (crafted) {
        const QString part = dir.filePath(QStringLiteral("f.zodaru-part"));
        QVERIFY(writeFile(part, QByteArrayView(before).first(10000).toByteArray()));
        if (since == Since::OldRecord)
            QCOMPARE(::setxattr(bytesOfName(part).constData(), "user.zodaru.remote", "/f", 2, 0), 0);
    } else {
        first = FTP::connectTo(server.address(), QStringLiteral("u"), QStringLiteral("p"));
        TransferRecorder recorder(first.get());
        QCOMPARE(first->get(QStringLiteral("/f"), target, 1), 150);
        QVERIFY(recorder.waitForCompletion());
        QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("426"));
        QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("f.zodaru-part")});
    }
    auto ftp = first;
    if (!ftp || elsewhere)
        ftp = FTP::connectTo((since == Since::OtherServer ? other : server).address(),
                             since == Since::OtherUser ? QStringLiteral("v") : QStringLiteral("u"), QStringLiteral("p"));
    TransferRecorder recorder(ftp.get());
    QCOMPARE(ftp->get(QStringLiteral("/f"), target, 2), 150);
    QCOMPARE(ftp->resumeOffset(), resumes ? 10000 : 0);
    QVERIFY(recorder.waitForCompletion());
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
    QCOMPARE(readFile(target), after);
    QCOMPARE(leftovers(dir.path()), QStringList{QStringLiteral("f")});
    QCOMPARE(ftp->command(QStringLiteral("NOOP")), 200);
    QCOMPARE(server.failures() + other.failures(), QStringList());
}

QTEST_GUILESS_MAIN(TestTransferResume)
#include "tst_transfer_resume.moc"
