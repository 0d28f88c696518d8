// SPDX-License-Identifier: GPL-3.0-or-later
// The queue that outlives the program: what is kept, how the file is written and read, and
// the offer at the next connect, down to a transfer cut by a quit that continues where it
// stopped.
#include "support/AppHarness.h"

#include "app/SavedQueue.h"
#include "app/TransferQueue.h"
#include "base/ByteNames.h"
#include "ftp/FTP.h"
#include "ftp/PartFile.h"

#include "support/TestSupport.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <utime.h>

using namespace zodaru;
using namespace zodaru::test;
using State = QueueFile::EntryState;

Q_DECLARE_METATYPE(State)
Q_DECLARE_METATYPE(ConflictAnswer)
Q_DECLARE_METATYPE(QList<File>)

namespace {

const QString kSite = QStringLiteral("ftp://127.0.0.1:21\nme");

File entry(const QString &name, qint32 id, State state = State::Waiting, qint32 group = 0)
{
    File f(name, 10, 0);
    f.setID(id);
    f.setGroup(group);
    f.setLocalPath(QStringLiteral("/tmp"));
    f.setRemotePath(QStringLiteral("/pub"));
    QueueFile::setState(f, state);
    return f;
}

File folder(const QString &name, qint32 id)
{
    File f(name, 0, 1);
    f.setID(id);
    return f;
}

// "name:state" of each entry, in order.
QStringList shown(const QList<File> &entries)
{
    QStringList out;
    for (const File &f : entries)
        out << f.name() + QLatin1Char(':') + QString::number(int(QueueFile::stateOf(f)))
                + (f.walkIncomplete() ? QStringLiteral(" incomplete") : QString());
    return out;
}

QString mode(const QString &path)
{
    struct stat st{};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? QString::number(st.st_mode & 07777, 8)
                                                                   : QStringLiteral("none");
}

} // namespace

class TestSavedQueue final : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path() const { return dir_.filePath(QStringLiteral("Zodaru/transfer-queue.json")); }
    // What the program holds, as the snapshot the tests hand to SavedQueue.
    QList<SavedSite> live_;
    SavedQueue::Snapshot snapshot()
    {
        return [this] { return live_; };
    }

private Q_SLOTS:
    void init()
    {
        live_.clear();
        QDir(dir_.path()).removeRecursively();
        QDir().mkpath(dir_.path());
    }

    void keptEntries_data()
    {
        QTest::addColumn<QList<File>>("queue");
        QTest::addColumn<QStringList>("kept");
        File moving = entry(QStringLiteral("moving"), 1, State::Running);
        moving.addToSize(5);
        QTest::newRow("waiting, running, failed kept") << QList<File>{entry(QStringLiteral("w"), 1), moving,
                                                                      entry(QStringLiteral("f"), 3, State::Failed)}
                                                       << QStringList{"w:0", "moving:1", "f:2"};
        QTest::newRow("running before its first byte waits")
            << QList<File>{entry(QStringLiteral("r"), 1, State::Running)} << QStringList{"r:0"};
        QTest::newRow("cancelled, done, skipped go")
            << QList<File>{entry(QStringLiteral("c"), 1, State::Cancelled), entry(QStringLiteral("d"), 2, State::Done),
                           entry(QStringLiteral("s"), 3, State::Skipped)}
            << QStringList{};
        QTest::newRow("a folder row with its unfinished files")
            << QList<File>{entry(QStringLiteral("alone"), 1), folder(QStringLiteral("dir"), 2),
                           entry(QStringLiteral("in1"), 3, State::Done, 2), entry(QStringLiteral("in2"), 4, State::Waiting, 2)}
            << QStringList{"dir:0", "alone:0", "in2:0"};
        File walking = folder(QStringLiteral("dir"), 2);
        walking.setWalking(true);
        QTest::newRow("a folder row still walked reads incomplete")
            << QList<File>{walking, entry(QStringLiteral("in"), 3, State::Waiting, 2)}
            << QStringList{"dir:0 incomplete", "in:0"};
        QTest::newRow("a folder row whose files are all done goes")
            << QList<File>{folder(QStringLiteral("dir"), 2), entry(QStringLiteral("in"), 3, State::Done, 2)}
            << QStringList{};
    }
    void keptEntries()
    {
        QFETCH(QList<File>, queue);
        QFETCH(QStringList, kept);
        const SavedSite down = SavedQueue::unfinishedOf(kSite, queue, {});
        const SavedSite up = SavedQueue::unfinishedOf(kSite, {}, queue);
        QCOMPARE(shown(down.downloads), kept);
        QCOMPARE(shown(up.uploads), kept);
        QCOMPARE(down.key(), kSite);
    }

    // Made private from its creation, whatever the umask and whatever the file it replaces;
    // nothing left beside it.
    void fileIsPrivate_data()
    {
        QTest::addColumn<int>("umask");
        QTest::addColumn<bool>("readableFileBefore");
        QTest::newRow("open umask, new file") << 0 << false;
        QTest::newRow("usual umask, readable file before") << 022 << true;
    }
    void fileIsPrivate()
    {
        QFETCH(int, umask);
        QFETCH(bool, readableFileBefore);
        if (readableFileBefore) {
            QVERIFY(writeFile(path(), QueueFile::encoded({SavedQueue::unfinishedOf(
                                          QStringLiteral("ftp://other\nyou"), {entry(QStringLiteral("o"), 1)}, {})})));
            QVERIFY(QFile::setPermissions(path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                      | QFileDevice::ReadOther | QFileDevice::ReadGroup));
        }
        const mode_t saved = ::umask(mode_t(umask));
        live_ = {SavedQueue::unfinishedOf(kSite, {entry(QStringLiteral("a"), 1)}, {})};
        {
            SavedQueue queue(path(), snapshot());
            QVERIFY(queue.writeNow());
        }
        ::umask(saved);
        QCOMPARE(mode(path()), QStringLiteral("600"));
        QCOMPARE(QDir(QFileInfo(path()).path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{QStringLiteral("transfer-queue.json")});
    }

    // Only what is stored counts: progress alone writes nothing; nothing left removes the file.
    void writesOnlyChanges_data()
    {
        QTest::addColumn<int>("change");
        QTest::addColumn<int>("writes");
        QTest::addColumn<bool>("fileLeft");
        QTest::newRow("progress") << 0 << 0 << true;
        QTest::newRow("an entry failed") << 1 << 1 << true;
        QTest::newRow("an entry added") << 2 << 1 << true;
        QTest::newRow("everything done") << 3 << 1 << false;
    }
    void writesOnlyChanges()
    {
        QFETCH(int, change);
        QFETCH(int, writes);
        QFETCH(bool, fileLeft);
        QList<File> queue{entry(QStringLiteral("a"), 1, State::Running), entry(QStringLiteral("b"), 2)};
        queue[0].addToSize(1);
        live_ = {SavedQueue::unfinishedOf(kSite, queue, {})};
        SavedQueue saved(path(), snapshot());
        QVERIFY(saved.writeNow());
        const int before = saved.writes();
        switch (change) {
        case 0:
            queue[0].addToSize(1000);
            break;
        case 1:
            queue[1].setError();
            break;
        case 2:
            queue << entry(QStringLiteral("c"), 3);
            break;
        default:
            queue[0].setDone();
            queue[1].setDone();
        }
        live_ = {SavedQueue::unfinishedOf(kSite, queue, {})};
        QVERIFY(saved.writeNow());
        QCOMPARE(saved.writes() - before, writes);
        QCOMPARE(QFile::exists(path()), fileLeft);
    }

    // A file that cannot be read is set aside, said in the log, and the program goes on.
    void unreadableFileSetAside_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("garbage") << QByteArray("\x01\x02 not a queue");
        QTest::newRow("cut short") << QueueFile::encoded({SavedSite::fromKey(kSite)}).chopped(3);
        QTest::newRow("a later version") << QByteArray(R"({"format":"zodaru-transfer-queue","version":99,"sites":[]})");
    }
    void unreadableFileSetAside()
    {
        QFETCH(QByteArray, content);
        QVERIFY(writeFile(path(), content));
        LogCapture log;
        SavedQueue saved(path(), snapshot());
        QVERIFY(log.contains(QStringLiteral("File des transferts illisible, mise de cote : ") + path()
                             + QStringLiteral(".bad")));
        QCOMPARE(readFile(path() + QStringLiteral(".bad")), content);
        QVERIFY(!QFile::exists(path()));
        QVERIFY(saved.pending(kSite).isEmpty());
        live_ = {SavedQueue::unfinishedOf(kSite, {entry(QStringLiteral("a"), 1)}, {})};
        QVERIFY(saved.writeNow());
        QVERIFY(QueueFile::decoded(readFile(path())).has_value());
    }

    // Saved entries of a site stay in the file, beside the live ones, until brought back or
    // discarded; Later keeps them.
    void offerAnswers_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("resumed");
        QTest::addColumn<int>("stillSaved");
        QTest::newRow("resume") << QStringLiteral("resume") << 1 << 0;
        QTest::newRow("discard") << QStringLiteral("discard") << 0 << 0;
        QTest::newRow("later") << QStringLiteral("later") << 0 << 1;
    }
    void offerAnswers()
    {
        QFETCH(QString, button);
        QFETCH(int, resumed);
        QFETCH(int, stillSaved);
        const QString other = QStringLiteral("ftp://other\nyou");
        live_ = {SavedQueue::unfinishedOf(kSite, {entry(QStringLiteral("a"), 1), entry(QStringLiteral("b"), 2)}, {}),
                 SavedQueue::unfinishedOf(other, {}, {entry(QStringLiteral("c"), 1)})};
        { SavedQueue first(path(), snapshot()); }
        live_.clear();
        SavedQueue second(path(), snapshot());
        QCOMPARE(second.pending(kSite).size(), 1);
        int calls = 0;
        second.offer(kSite, nullptr, [&calls](const SavedSite &site) {
            calls += site.files() == 2 ? 1 : 100;
            return true;
        });
        QMessageBox *box = second.question();
        QVERIFY(box);
        QVERIFY(box->text().startsWith(QStringLiteral("2 unfinished transfer")));
        QCOMPARE(box->defaultButton()->objectName(), QStringLiteral("resume"));
        box->findChild<QAbstractButton *>(button)->click();
        QCOMPARE(calls, resumed);
        QCOMPARE(second.pending(kSite).size(), stillSaved);
        QVERIFY(second.writeNow());
        const auto file = QueueFile::decoded(readFile(path()));
        QVERIFY(file.has_value());
        QStringList sites;
        for (const SavedSite &site : *file)
            sites << site.key();
        QCOMPARE(sites, (stillSaved ? QStringList{kSite, other} : QStringList{other}));
    }

    // Entries a lost session took out of the queues are offered at the next connect, and
    // written to the file meanwhile; an empty set adds nothing.
    void keptAfterLoss_data()
    {
        QTest::addColumn<int>("files");
        QTest::newRow("two files") << 2;
        QTest::newRow("nothing left") << 0;
    }
    void keptAfterLoss()
    {
        QFETCH(int, files);
        QList<File> downloads;
        for (int i = 0; i < files; ++i)
            downloads << entry(QStringLiteral("f%1").arg(i), i + 1);
        SavedQueue saved(path(), snapshot());
        saved.keep(SavedQueue::unfinishedOf(kSite, downloads, {}));
        QCOMPARE(saved.pending(kSite).size(), files > 0 ? 1 : 0);
        QVERIFY(saved.writeNow());
        const auto file = QueueFile::decoded(readFile(path()));
        QCOMPARE(file.has_value() ? int(file->size()) : 0, files > 0 ? 1 : 0);
        int offered = 0;
        saved.offer(kSite, nullptr, [&offered](const SavedSite &site) {
            offered += site.files();
            return true;
        });
        QCOMPARE(bool(saved.question()), files > 0);
        if (saved.question())
            saved.question()->findChild<QAbstractButton *>(QStringLiteral("resume"))->click();
        QCOMPARE(offered, files);
    }

    // Back in a queue: new IDs, folder rows first with their files in them, everything
    // waiting; an upload that was under way continues only when its file is unchanged.
    void appendTo_data()
    {
        QTest::addColumn<State>("state");
        QTest::addColumn<ConflictAnswer>("answer");
        QTest::addColumn<bool>("touchLocal");
        QTest::addColumn<ConflictAnswer>("restored");
        QTest::newRow("running, unchanged") << State::Running << ConflictAnswer::Ask << false << ConflictAnswer::ResumeOrAsk;
        QTest::newRow("running, overwrite") << State::Running << ConflictAnswer::Overwrite << false << ConflictAnswer::ResumeOrAsk;
        QTest::newRow("running, file changed") << State::Running << ConflictAnswer::Ask << true << ConflictAnswer::Ask;
        QTest::newRow("running, renamed") << State::Running << ConflictAnswer::Rename << false << ConflictAnswer::Rename;
        QTest::newRow("waiting") << State::Waiting << ConflictAnswer::Ask << false << ConflictAnswer::Ask;
        QTest::newRow("failed") << State::Failed << ConflictAnswer::Skip << false << ConflictAnswer::Skip;
    }
    void appendTo()
    {
        QFETCH(State, state);
        QFETCH(ConflictAnswer, answer);
        QFETCH(bool, touchLocal);
        QFETCH(ConflictAnswer, restored);
        const QString local = dir_.filePath(QStringLiteral("up.bin"));
        QVERIFY(writeFile(local, patternBytes(10)));
        utimbuf times{1600000000, 1600000000};
        QVERIFY(::utime(QFile::encodeName(local).constData(), &times) == 0);
        File file = entry(QStringLiteral("up.bin"), 41, state, 40);
        file.setLocalPath(dir_.path());
        file.setModified(1600000000);
        file.setConflictAnswer(answer);
        if (touchLocal)
            QVERIFY(writeFile(local, patternBytes(10, 2)));
        File row = folder(QStringLiteral("tree"), 40);
        row.setDisplayName(QStringLiteral("tree"));

        for (const bool upload : {false, true}) {
            TransferQueue queue(upload ? TransferDirection::Upload : TransferDirection::Download, {}, [] {}, [](qint32) {});
            queue.append(entry(QStringLiteral("before"), 1));
            SavedQueue::appendTo(queue, {row, entry(QStringLiteral("alone"), 39), file}, upload);
            const QList<File> &got = queue.entries();
            QCOMPARE(shown(got), (QStringList{"before:0", "tree:0", "alone:0", "up.bin:0"}));
            QCOMPARE(got[1].getID(), 2);
            QVERIFY(got[1].isDir());
            QCOMPARE(got[1].filesFound(), 1);
            QCOMPARE(got[2].group(), 0);
            QCOMPARE(got[3].group(), 2);
            QCOMPARE(got[3].getID(), 4);
            QCOMPARE(got[3].conflictAnswer(), upload ? restored : answer);
        }
    }

    // The cost of one write of a large queue, on the main thread (printed, not asserted).
    void largeQueueWrite()
    {
        QList<File> queue;
        for (int i = 0; i < 2000; ++i)
            queue << entry(QStringLiteral("file number %1.dat").arg(i), i + 1);
        // As the program does it: the entries picked from the queue at each write.
        SavedQueue saved(path(), [&queue] { return QList<SavedSite>{SavedSite::fromKey(kSite, queue)}; });
        QStringList costs;
        for (int round = 0; round < 5; ++round) {
            queue[round].setDone();
            QVERIFY(saved.writeNow());
            costs << QStringLiteral("%1/%2").arg(saved.lastWriteMicros()).arg(saved.writerMicros());
        }
        qInfo("2000 entries, per write (us, main thread / writer's thread): %s", qPrintable(costs.join(QLatin1Char(' '))));
        QCOMPARE(QueueFile::decoded(readFile(path()))->first().downloads.size(), 1995);
    }

    // The whole program: a transfer cut by a quit comes back at the next connect to the
    // site and continues from where it stopped, or waits, or is forgotten.
    void quitMidwayThenConnectAgain_data()
    {
        QTest::addColumn<bool>("upload");
        QTest::addColumn<QStringList>("answers"); // one per connect after the quit
        QTest::newRow("download resumed") << false << QStringList{"resume"};
        QTest::newRow("upload resumed") << true << QStringList{"resume"};
        QTest::newRow("download later, then resumed") << false << QStringList{"later", "resume"};
        QTest::newRow("download discarded") << false << QStringList{"discard"};
    }
    void quitMidwayThenConnectAgain()
    {
        QFETCH(bool, upload);
        QFETCH(QStringList, answers);
        const QString name = QStringLiteral("big file.bin");
        const QByteArray content = patternBytes(1 << 20, 9);
        AppHarness h;
        RealFtpServer::Options options;
        options.throttle = 256 * 1024; // still on its way when the program quits
        QVERIFY2(h.serve(upload ? QMap<QString, QByteArray>{} : QMap<QString, QByteArray>{{name, content}}, options),
                 h.why());
        const QString local = h.localFile(name);
        const QString remote = h.server.localPath(name);
        if (upload)
            QVERIFY(writeFile(local, content));
        QVERIFY2(h.launchConnected(), h.why());
        if (upload) {
            h.controller().refreshLocal();
            QVERIFY(AppHarness::select(h.local(), h.local().lastVisibleColumn(), {name}));
            h.window().Put()->click();
        } else {
            QVERIFY(AppHarness::select(h.remote(), 0, {name}));
            h.window().Get()->click();
        }
        const auto queue = [&h, upload]() -> const QList<File> & { return upload ? h.uploads() : h.downloads(); };
        QTRY_VERIFY_WITH_TIMEOUT(!queue().isEmpty() && queue().first().currentsize() >= 64 * 1024, 30000);
        // Bytes the client wrote may still sit in the connection: some must have arrived.
        if (upload)
            QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(remote).size() > 0, 30000);
        h.app().setQuitQuestion([](int) { return true; });
        h.app().quit();
        QVERIFY(FTP::waitForTransfers(30000));

        // What the quit left: the entry in the file, the bytes moved so far on the target's side.
        const QString saved = h.configDir() + QStringLiteral("/Zodaru/transfer-queue.json");
        QCOMPARE(mode(saved), QStringLiteral("600"));
        const auto file = QueueFile::decoded(readFile(saved));
        QVERIFY(file && file->size() == 1 && file->first().files() == 1);
        const auto part = existingPart(local);
        const qint64 moved = upload ? QFileInfo(remote).size() : (part ? part->length : 0);
        QVERIFY2(moved > 0 && moved < content.size(), qPrintable(QString::number(moved)));

        LogCapture log;
        h.launch();
        QVERIFY(h.local().setPath(h.localDir()));
        const auto question = [&h] { return h.window().findChild<QMessageBox *>(QStringLiteral("resumeQueueQuestion")); };
        for (const QString &answer : std::as_const(answers)) {
            if (h.state() == MainWindowController::ConnectionState::Connected)
                h.app().disconnectFromFTP();
            QVERIFY(h.connectThroughDialog(h.server.address(), RealFtpServer::user(), RealFtpServer::password()));
            QTRY_VERIFY_WITH_TIMEOUT(question() && question()->isVisible(), 30000);
            QVERIFY(queue().isEmpty()); // nothing runs until the user says so
            question()->findChild<QAbstractButton *>(answer)->click();
            QTRY_VERIFY(!question());
        }
        if (answers.last() == QStringLiteral("discard")) {
            QVERIFY(queue().isEmpty());
            QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(saved), 30000);
            QCOMPARE(existingPart(local)->length, moved); // left where it was
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(queue().size() == 1 && AppHarness::allFinished(queue()), 60000);
        QVERIFY(!queue().first().hasError());
        QCOMPARE(readFile(upload ? remote : local), content);
        // Continued from where it stopped (an upload's server may have taken in a few more
        // bytes after the quit): the bytes before were not moved again.
        const QString resumed = upload ? QStringLiteral("Reprise de l'envoi de //%1 a l'octet ").arg(name)
                                       : QStringLiteral("Reprise de %1 a l'octet ").arg(local);
        const QStringList lines = log.lines().filter(resumed);
        QVERIFY2(lines.size() == 1, qPrintable(log.lines().filter(QStringLiteral("Reprise")).join(QLatin1Char('\n'))));
        const qint64 from = lines.first().mid(resumed.size()).toLongLong();
        QVERIFY2(upload ? from >= moved && from < content.size() : from == moved, qPrintable(lines.first()));
        QVERIFY2(h.server.serverLog().contains("completed=1 bytes=" + QByteArray::number(content.size() - from)),
                 h.server.serverLog().constData());
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(saved), 30000);
    }
};

QTEST_MAIN(TestSavedQueue)
#include "tst_savedqueue.moc"
