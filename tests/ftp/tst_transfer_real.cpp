// SPDX-License-Identifier: GPL-3.0-or-later
// Downloads and uploads end to end against a real FTP server (pyftpdlib).
#include "ftp/FTP.h"

#include "TransferRecorder.h"
#include "support/RealFtpServer.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace zodaru;
using namespace zodaru::testing;

namespace {

// The server opens or reuses the data connection: 150 or 125.
bool isPreliminary(int code)
{
    return code == 150 || code == 125;
}

void addSizes()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte") << 1;
    QTest::newRow("exactly one chunk") << 16384;
    QTest::newRow("exactly two chunks") << 32768;
    QTest::newRow("two chunks and 100 bytes") << 32868;
    QTest::newRow("40000 bytes") << 40000;
    QTest::newRow("a few MiB") << 3 * 1024 * 1024 + 123;
}

// Common checks of one finished transfer's notifications.
void checkSequence(const TransferRecorder &recorder, const QString &chunkName,
                   const QString &completionName, int id, qint64 size)
{
    QCOMPARE(recorder.completions(), 1);
    QVERIFY(recorder.isCompletion(recorder.notes.back())); // chunks first, nothing after
    const Notification &done = recorder.notes.back();
    QCOMPARE(done.name, completionName);
    QCOMPARE(done.object, kObject);
    QCOMPARE(done.userInfo.value(QStringLiteral("ID")), QString::number(id));
    QCOMPARE(done.userInfo.value(QStringLiteral("size")), QString::number(size));
    QCOMPARE(done.userInfo.value(QStringLiteral("status")), QStringLiteral("226"));

    const bool chunksCarryId = chunkName == QLatin1String("ChunkOfFile");
    qint64 sum = 0;
    for (std::size_t i = 0; i + 1 < recorder.notes.size(); ++i) {
        const Notification &n = recorder.notes[i];
        QCOMPARE(n.name, chunkName);
        QCOMPARE(n.object, kObject);
        QCOMPARE(n.userInfo.contains(QStringLiteral("ID")), chunksCarryId);
        if (chunksCarryId)
            QCOMPARE(n.userInfo.value(QStringLiteral("ID")), QString::number(id));
        const qint64 chunk = n.userInfo.value(QStringLiteral("size")).toLongLong();
        // Whole chunks, whatever the steps the data moved in: only the last one may be shorter.
        QVERIFY(chunk > 0 && (chunk == 16384 || i + 2 == recorder.notes.size()));
        QCOMPARE(n.userInfo.value(QStringLiteral("size")), QString::number(chunk)); // plain decimal
        sum += chunk;
    }
    QCOMPARE(sum, size);
}

} // namespace

class TestTransferReal final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void download_data() { addSizes(); }
    void download();
    void upload_data() { addSizes(); }
    void upload();
    void downloadUnderTheRemotePath();
    void uploadContinuesTheRemoteFile_data();
    void uploadContinuesTheRemoteFile();
    void nextTransferStartsFromTheCompletionHandler();
    void sessionOverIpv6();

private:
    std::shared_ptr<FTP> connect();
    std::unique_ptr<RealFtpServer> server_;
};

void TestTransferReal::initTestCase()
{
    server_ = std::make_unique<RealFtpServer>();
    QVERIFY2(server_->start(), qPrintable(server_->errorText()));
}

std::shared_ptr<FTP> TestTransferReal::connect()
{
    auto ftp = FTP::connectTo(server_->address(), RealFtpServer::user(), RealFtpServer::password());
    if (!ftp->isConnected())
        qWarning() << server_->serverLog();
    return ftp;
}

void TestTransferReal::download()
{
    QFETCH(int, size);
    const QByteArray content = patternBytes(size, quint32(size));
    const QString name = QStringLiteral("down-%1.bin").arg(size);
    QVERIFY(server_->writeFile(QStringLiteral("pub/") + name, content));

    QTemporaryDir dir;
    const QString target = dir.filePath(name);
    // An older copy is replaced, not appended to.
    QVERIFY(writeFile(target, "an older, different version of the file"));

    auto ftp = connect();
    QVERIFY(ftp->isConnected());
    TransferRecorder recorder(ftp.get());
    QVERIFY(recorder.flush()); // the first post opens the session-bus connection
    const int descriptors = openDescriptorCount();
    QVERIFY(isPreliminary(ftp->get(QStringLiteral("/pub/") + name, target, 7)));
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());

    checkSequence(recorder, QStringLiteral("ChunkOfFile"), QStringLiteral("FileSaved"), 7, size);
    QCOMPARE(readFile(target), content);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    QVERIFY(ftp->isConnected());
    QVERIFY(!ftp->isTransferring());
    ftp->shutdown();
    // The data connection and the local file were closed when the download ended; what the
    // engine's transfer thread keeps for the next one goes with the engine, as do its
    // control connection and the eventfd that wakes its connects.
    ftp.reset();
    QTRY_COMPARE(openDescriptorCount(), descriptors - 2);
}

void TestTransferReal::upload()
{
    QFETCH(int, size);
    const QByteArray content = patternBytes(size, quint32(size) + 1);
    const QString name = QStringLiteral("up-%1.bin").arg(size);
    QTemporaryDir dir;
    const QString local = dir.filePath(name);
    QVERIFY(writeFile(local, content));

    auto ftp = connect();
    QVERIFY(ftp->isConnected());
    TransferRecorder recorder(ftp.get());
    QVERIFY(isPreliminary(ftp->put(local, QStringLiteral("/") + name, 11)));
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());

    checkSequence(recorder, QStringLiteral("ChunkOfFileUploaded"), QStringLiteral("FileSend"), 11, size);
    QCOMPARE(server_->readFile(name), content);
    QVERIFY(!ftp->isTransferring());
    ftp->shutdown();
}

void TestTransferReal::uploadContinuesTheRemoteFile_data()
{
    QTest::addColumn<int>("size");     // of the local file
    QTest::addColumn<int>("onServer"); // bytes of it the server holds already
    QTest::addColumn<int>("from");     // what put() is asked to continue from
    QTest::addColumn<int>("resumed");  // where the upload went on from
    QTest::newRow("the second half") << 40000 << 20000 << 20000 << 20000;
    QTest::newRow("one byte left") << 16385 << 16384 << 16384 << 16384;
    // Steps from an offset that is no page or chunk boundary, across several MiB.
    QTest::newRow("from an odd byte, MiB further") << 3 * 1024 * 1024 + 77 << 1024 * 1024 + 4097
                                                   << 1024 * 1024 + 4097 << 1024 * 1024 + 4097;
    QTest::newRow("the last MiB") << 2 * 1024 * 1024 << 1024 * 1024 << 1024 * 1024 << 1024 * 1024;
    QTest::newRow("nothing left") << 5000 << 5000 << 5000 << 5000;
    QTest::newRow("from 0 sends the whole file") << 30000 << 1000 << 0 << 0;
    // Past the end REST would leave the remote file as it is and call it whole.
    QTest::newRow("past the end sends the whole file") << 3000 << 2000 << 4000 << 0;
}

// REST n then STOR sends the local file from byte n: the server's file ends up whole.
void TestTransferReal::uploadContinuesTheRemoteFile()
{
    QFETCH(int, size);
    QFETCH(int, onServer);
    QFETCH(int, from);
    QFETCH(int, resumed);
    const QByteArray content = patternBytes(size, quint32(size) + 5);
    const QString name = QStringLiteral("resumed-%1-%2.bin").arg(size).arg(from);
    QVERIFY(server_->writeFile(name, content.left(onServer)));
    QTemporaryDir dir;
    const QString local = dir.filePath(name);
    QVERIFY(writeFile(local, content));

    auto ftp = connect();
    QVERIFY(ftp->isConnected());
    TransferRecorder recorder(ftp.get());
    QVERIFY(isPreliminary(ftp->put(local, QStringLiteral("/") + name, 12, from)));
    QCOMPARE(ftp->resumeOffset(), qint64(resumed));
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
    QCOMPARE(server_->readFile(name), content);
    // Only the bytes this upload moved count as progress.
    qint64 moved = 0;
    for (const qint64 chunk : recorder.chunkSizes())
        moved += chunk;
    QCOMPARE(moved, qint64(size - resumed));
    ftp->shutdown();
}

void TestTransferReal::downloadUnderTheRemotePath()
{
    // get(remote, id) saves under the remote path itself: serve the file at the path that
    // a local temporary directory has, seen from the server's root.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("same.txt"));
    QVERIFY(server_->writeFile(path.mid(1), "same path on both sides"));

    auto ftp = connect();
    TransferRecorder recorder(ftp.get());
    QVERIFY(isPreliminary(ftp->get(path, 2)));
    QVERIFY(recorder.waitForCompletion());
    QCOMPARE(readFile(path), QByteArray("same path on both sides"));
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("ID")), QStringLiteral("2"));
    ftp->shutdown();
}

void TestTransferReal::nextTransferStartsFromTheCompletionHandler()
{
    // As the application's queue does: each completion handler starts the next file on
    // the same engine, so the engine must be free by the time the completion arrives.
    QTemporaryDir dir;
    for (int i = 0; i < 3; ++i)
        QVERIFY(server_->writeFile(QStringLiteral("queue/f%1").arg(i), patternBytes(20000 + i, quint32(i))));

    auto ftp = connect();
    QList<int> starts;
    int finished = 0;
    QObject context;
    NotificationCenter::defaultCenter().addObserver(
        &context, QStringLiteral("FileSaved"), kObject, [&](const Notification &n) {
            if (n.engine != ftp->id())
                return;
            QCOMPARE(n.userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
            ++finished;
            if (finished < 3)
                starts.append(ftp->get(QStringLiteral("/queue/f%1").arg(finished),
                                       dir.filePath(QStringLiteral("f%1").arg(finished)), finished));
        });
    starts.append(ftp->get(QStringLiteral("/queue/f0"), dir.filePath(QStringLiteral("f0")), 0));
    QVERIFY(QTest::qWaitFor([&] { return finished == 3; }, 120000));
    QCOMPARE(starts.size(), 3);
    QVERIFY(std::all_of(starts.begin(), starts.end(), isPreliminary));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(readFile(dir.filePath(QStringLiteral("f%1").arg(i))), patternBytes(20000 + i, quint32(i)));
    ftp->shutdown();
}

// Browse, get and put with a server reached over IPv6: the data connections go to the
// control connection's peer (EPSV), and the download keeps the server's date (MDTM).
void TestTransferReal::sessionOverIpv6()
{
    RealFtpServer server;
    RealFtpServer::Options options;
    options.ipv6 = true;
    if (!server.start(options))
        QSKIP(qPrintable(QStringLiteral("no server on ::1: ") + server.errorText()));
    const QByteArray content = patternBytes(50000, 6);
    QVERIFY(server.writeFile(QStringLiteral("six.bin"), content));
    const QDateTime serverTime(QDate(2021, 3, 4), QTime(5, 6, 7), QTimeZone::utc());
    QFile served(server.localPath(QStringLiteral("six.bin")));
    QVERIFY(served.open(QIODevice::ReadWrite));
    QVERIFY(served.setFileTime(serverTime, QFileDevice::FileModificationTime));
    served.close();

    auto ftp = FTP::connectTo(server.address(), RealFtpServer::user(), RealFtpServer::password());
    QVERIFY2(ftp->isConnected(), server.serverLog().constData());
    QVERIFY(ftp->features().epsv && ftp->features().mlsd && ftp->features().mdtm);
    const auto entries = ftp->list(QStringLiteral("/"));
    QVERIFY(entries && entries->size() == 1);
    QCOMPARE(entries->first().modified(), serverTime.toSecsSinceEpoch());

    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("six.bin"));
    {
        TransferRecorder recorder(ftp.get());
        QVERIFY(isPreliminary(ftp->get(QStringLiteral("/six.bin"), target, 1)));
        QVERIFY(recorder.waitForCompletion());
        QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")).toInt() / 100, 2);
    }
    QCOMPARE(readFile(target), content);
    QCOMPARE(QFileInfo(target).lastModified().toUTC(), serverTime);
    {
        TransferRecorder recorder(ftp.get());
        QVERIFY(isPreliminary(ftp->put(target, QStringLiteral("/back.bin"), 2)));
        QVERIFY(recorder.waitForCompletion());
    }
    QCOMPARE(server.readFile(QStringLiteral("back.bin")), content);
    ftp->shutdown();
}

QTEST_GUILESS_MAIN(TestTransferReal)
#include "tst_transfer_real.moc"
