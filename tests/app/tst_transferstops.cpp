// SPDX-License-Identifier: GPL-3.0-or-later
// Transfers stopped on their way: cancelled, retried, resumed, cut by a disconnect or a
// quit, or ended by an event from another engine, against the scripted server.
#include "support/AppHarness.h"

#include "ftp/FTP.h"
#include "ftp/NotificationCenter.h"

#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestSupport.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QFile>
#include <QTableView>
#include <QTest>

#include <atomic>
#include <functional>
#include <memory>

using namespace zodaru;
using namespace zodaru::test;
using State = MainWindowController::ConnectionState;

namespace {

// Logs in and serves until QUIT: PASV, LIST with `listing`, and each RETR handed to `retr`
// with the offset of the REST before it. A `resumable` server tells REST STREAM, SIZE
// (`size`) and MDTM; any other command is answered 200.
using RetrHandler = std::function<void(ScriptedFtpServer::Session &, qsizetype rest)>;
ScriptedFtpServer::Script servingFiles(QByteArray listing, RetrHandler retr, bool resumable = false,
                                       qsizetype size = 0)
{
    return [=](ScriptedFtpServer::Session &s) {
        s.greetAndLogin();
        qsizetype rest = 0;
        for (;;) {
            const QByteArray line = s.readLine();
            if (line == "PASV") {
                s.line(s.openPassive());
            } else if (line.startsWith("LIST")) {
                s.sendReply("150 Here it comes", listing, "226 Done");
            } else if (line.startsWith("RETR")) {
                retr(s, rest);
                rest = 0;
            } else if (line == "QUIT") {
                s.line("221 Bye");
                return;
            } else if (resumable && line == "FEAT") {
                s.send("211-Features:\r\n REST STREAM\r\n SIZE\r\n MDTM\r\n211 End\r\n");
            } else if (resumable && line.startsWith("SIZE ")) {
                s.line("213 " + QByteArray::number(size));
            } else if (resumable && line.startsWith("MDTM ")) {
                s.line("213 20210304050607");
            } else if (resumable && line.startsWith("REST ")) {
                rest = line.mid(5).toLongLong();
                s.line("350 Restarting");
            } else {
                s.line("200 OK");
            }
        }
    };
}

// Lists "a" and "b" and serves RETR: the first `stalled` downloads of a connection send a
// few bytes and hold their data connection open, without ending it, until the client closes
// it (then 426); the others send their file whole.
ScriptedFtpServer::Script stallingDownloads(int stalled)
{
    return [stalled](ScriptedFtpServer::Session &session) {
        int retrs = 0; // counted per connection
        const RetrHandler retr = [&retrs, stalled](ScriptedFtpServer::Session &s, qsizetype) {
            s.line("150 Sending");
            if (retrs++ < stalled) {
                ScriptedFtpServer::DataConnection data = s.acceptData();
                data.send("partial");
                data.receiveAll();
                s.line("426 Aborted");
            } else {
                s.sendData("whole");
                s.line("226 Done");
            }
        };
        servingFiles(unixLine("a", 100) + unixLine("b", 5), retr)(session);
    };
}

// Lists "a" and serves RETR: the first download of the server sends a few bytes, waits for
// the client to close its data connection, and then never answers on that session again;
// the later ones send their file whole.
ScriptedFtpServer::Script silentAfterStop()
{
    const auto retrs = std::make_shared<std::atomic<int>>(0);
    return servingFiles(unixLine("a", 5), [retrs](ScriptedFtpServer::Session &s, qsizetype) {
        s.line("150 Sending");
        if (retrs->fetch_add(1) == 0) {
            ScriptedFtpServer::DataConnection data = s.acceptData();
            data.send("partial");
            data.receiveAll();
            s.stall();
        }
        s.sendData("whole");
        s.line("226 Done");
    });
}

// Serves "f" (`content`) resumable: the server's first RETR sends the first 10000 bytes and
// aborts; the later ones send the file from the REST offset on.
ScriptedFtpServer::Script resumableFile(const QByteArray &content)
{
    const auto retrs = std::make_shared<std::atomic<int>>(0);
    const RetrHandler retr = [content, retrs](ScriptedFtpServer::Session &s, qsizetype rest) {
        if (retrs->fetch_add(1) == 0) {
            s.line("150 Sending");
            ScriptedFtpServer::DataConnection data = s.acceptData();
            data.send(QByteArrayView(content).first(10000));
            data.close();
            s.line("426 Connection closed; transfer aborted");
        } else {
            s.sendReply("150 Sending", QByteArrayView(content).sliced(rest), "226 Done");
        }
    };
    return servingFiles(unixLine("f", int(content.size())), retr, true, content.size());
}

} // namespace

class TestTransferStops final : public QObject {
    Q_OBJECT

    // The program in a home of its own, with a local directory and a real server beside it.
    std::unique_ptr<AppHarness> h_;

    QString local(const QString &name) const { return h_->localFile(name); }
    const QList<File> &downloads() const { return h_->downloads(); }
    const QList<File> &uploads() const { return h_->uploads(); }

private Q_SLOTS:
    void init()
    {
        h_ = std::make_unique<AppHarness>();
        QVERIFY(h_->isValid());
        // One transfer at a time per direction: what each case checks in order.
        QVERIFY(h_->useConnections(1));
    }
    void cleanup()
    {
        // Let running workers finish before their servers go.
        if (h_->isLaunched())
            QTRY_VERIFY_WITH_TIMEOUT(!h_->downloadEngine() || !h_->downloadEngine()->isTransferring(), 60000);
        h_.reset();
    }

    // The end of a transfer moves the queue only when it comes from the engine that
    // transfers in that direction now: the other engines of the session, and an engine
    // the session does not hold, are told apart by id.
    void eventsOfOtherEnginesMoveNothing_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<bool>("upload");
        QTest::addColumn<bool>("moves");
        QTest::newRow("download engine") << "in" << false << true;
        QTest::newRow("command engine") << "command" << false << false;
        QTest::newRow("upload engine") << "out" << false << false;
        QTest::newRow("an upload's end from the download engine") << "in" << true << false;
        QTest::newRow("an engine the session does not hold") << "other" << false << false;
    }
    void eventsOfOtherEnginesMoveNothing()
    {
        QFETCH(QString, from);
        QFETCH(bool, upload);
        QFETCH(bool, moves);
        ScriptedFtpServer server(stallingDownloads(1));
        QVERIFY(h_->launchConnectedTo(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h_->remote(), 0, {"a"}));
        h_->window().Get()->click();
        QTRY_VERIFY_WITH_TIMEOUT(downloads().size() == 1 && h_->app().dataTransfertIn()->isTransferring(), 30000);

        const std::shared_ptr<FTP> other = FTP::create();
        const std::shared_ptr<FTP> sender = from == u"in" ? h_->app().dataTransfertIn()
            : from == u"out"                             ? h_->app().dataTransfertOut()
            : from == u"command"                         ? h_->app().ftp()
                                                         : other;
        const TransferEvent end{sender->id(), upload ? TransferEvent::Kind::Uploaded : TransferEvent::Kind::Downloaded,
                                qint32(downloads()[0].getID()), 100, 226};
        // Observed after the application: once seen here, the application has had it.
        QObject context;
        bool seen = false;
        NotificationCenter::defaultCenter().addTransferObserver(&context, [&seen, &end](const TransferEvent &e) {
            seen = seen || (e.engine == end.engine && e.kind == end.kind && e.file == end.file);
        });
        NotificationCenter::defaultCenter().transferEvent(end);
        QTRY_VERIFY(seen);
        QCOMPARE(downloads()[0].isDone(), moves);
        QVERIFY(!downloads()[0].hasError());
        // The stalled transfer ends here, for the next test.
        h_->app().dataTransfertIn()->cancelTransfer();
    }

    // A running download cancelled: stopped at once, its partial file removed, it stays
    // cancelled when its worker reports, and the next entry runs.
    void cancelRunningDownloadThenTheNextOneRuns()
    {
        ScriptedFtpServer server(stallingDownloads(1));
        QVERIFY(h_->launchConnectedTo(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h_->remote(), 0, {"a", "b"}));
        h_->window().Get()->click();
        QTRY_VERIFY_WITH_TIMEOUT(downloads().size() == 2 && h_->downloadEngine()->isTransferring(), 30000);

        h_->app().cancelTransfer(AppContext::Direction::Download, 0);
        QCOMPARE(downloads()[0].getStatus(), QStringLiteral("Cancelled"));
        QTRY_VERIFY(downloads()[1].isFinished());
        QCOMPARE(downloads()[0].getStatus(), QStringLiteral("Cancelled"));
        QCOMPARE(QDir(h_->localDir()).entryList(QDir::Files | QDir::Hidden), QStringList{"b"});
        QCOMPARE(readFile(local("b")), QByteArray("whole"));

        // Queued again, it runs again (and is served whole this time).
        h_->app().retryTransfer(AppContext::Direction::Download, 0);
        QTRY_VERIFY(downloads()[0].isFinished());
        QCOMPARE(readFile(local("a")), QByteArray("whole"));
    }

    // Queued again before its stopped transfer has ended, a cancelled download waits, then
    // runs, even when the server never answers the stop.
    void retryOfACancelledDownloadRuns()
    {
        ScriptedFtpServer server(silentAfterStop());
        QVERIFY(h_->launchConnectedTo(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h_->remote(), 0, {"a"}));
        h_->window().Get()->click();
        QTRY_VERIFY_WITH_TIMEOUT(h_->downloadEngine()->isTransferring(), 30000);

        h_->app().cancelTransfer(AppContext::Direction::Download, 0);
        QCOMPARE(downloads()[0].getStatus(), QStringLiteral("Cancelled"));
        h_->app().retryTransfer(AppContext::Direction::Download, 0);
        QCOMPARE(downloads()[0].getStatus(), QStringLiteral("Waiting..."));
        // Well within the 30 s a silent server could hold the engine.
        QTRY_VERIFY_WITH_TIMEOUT(downloads()[0].isFinished(), 15000);
        QCOMPARE(downloads()[0].getStatus(), QStringLiteral("Done."));
        // The retried run logged in again: its chunks, told before its start came back,
        // count all the same.
        QCOMPARE(downloads()[0].currentsize(), qint64(5));
        QCOMPARE(readFile(local("a")), QByteArray("whole"));
    }

    // A download that continued a partial file counts the bytes it already had.
    void resumedDownloadReadsDone()
    {
        const QByteArray content = patternBytes(30000, 8);
        ScriptedFtpServer server(resumableFile(content));
        QVERIFY(h_->launchConnectedTo(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h_->remote(), 0, {"f"}));
        h_->window().Get()->click();
        QTRY_COMPARE_WITH_TIMEOUT(downloads()[0].getStatus(), QStringLiteral("FTP Error"), 30000);
        QVERIFY(QFile::exists(local("f.zodaru-part")));

        h_->app().retryTransfer(AppContext::Direction::Download, 0);
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(downloads()), 30000);
        QCOMPARE(h_->downloadEngine()->resumeOffset(), 10000);
        QCOMPARE(downloads()[0].getStatus(), QStringLiteral("Done."));
        QCOMPARE(downloads()[0].currentsize(), qint64(content.size()));
        QCOMPARE(h_->window().Downloads()->model()->index(0, 2).data().toString(), QStringLiteral("Done."));
        QCOMPARE(readFile(local("f")), content);
    }

    // Quitting with a download running and one waiting asks first; confirmed, the running
    // one is stopped and leaves no partial file.
    void quitWithRunningTransferAsks_data()
    {
        QTest::addColumn<bool>("closeButton");
        QTest::newRow("menu") << false;
        QTest::newRow("window's close button") << true;
    }
    void quitWithRunningTransferAsks()
    {
        QFETCH(bool, closeButton);
        ScriptedFtpServer server(stallingDownloads(2));
        QVERIFY(h_->launchConnectedTo(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h_->remote(), 0, {"a", "b"}));
        h_->window().Get()->click();
        QTRY_VERIFY_WITH_TIMEOUT(downloads().size() == 2 && h_->downloadEngine()->isTransferring(), 30000);

        // Declined the first time: nothing stops. Agreed the second time.
        QList<int> asked;
        h_->app().setQuitQuestion([&asked](int unfinished) {
            asked << unfinished;
            return asked.size() > 1;
        });
        const auto quit = [&] { closeButton ? void(h_->window().close()) : h_->app().quit(); };
        quit();
        QVERIFY(h_->downloadEngine()->isTransferring());
        QCOMPARE(h_->window().isVisible(), true);
        quit();
        QCOMPARE(asked, (QList<int>{2, 2}));
        QVERIFY(FTP::waitForTransfers(30000));
        QCOMPARE(QDir(h_->localDir()).entryList(QDir::Files | QDir::Hidden), QStringList());
    }

    // Disconnecting stops the download, which waits for the next session; the stopped
    // transfer's late notifications move nothing there, where progress is counted once.
    void disconnectDuringDownloadThenReconnect()
    {
        const QByteArray big = patternBytes(48 << 20, 5);
        const QByteArray small = patternBytes(3 * 16384 + 10, 6);
        QVERIFY(h_->server.writeFile("big", big));
        QVERIFY(h_->server.writeFile("small", small));
        QVERIFY2(h_->launchConnected(), h_->why());
        QVERIFY(AppHarness::select(h_->remote(), 0, {"big"}));
        h_->window().Get()->click();
        QVERIFY(downloads()[0].isCurrent());

        LogCapture log;
        h_->window().Connect()->click();
        QCOMPARE(h_->state(), State::Disconnected);
        // The unfinished download waits for the next connect to this site.
        QCOMPARE(downloads().size(), 1);
        QCOMPARE(h_->window().Downloads()->model()->rowCount(), 1);
        QCOMPARE(h_->window().Uploads()->model()->rowCount(), 0);

        // New session: index 0 starts again, before the old one's notifications arrive.
        QVERIFY(h_->connectThroughDialog(h_->server.address(), RealFtpServer::user(), RealFtpServer::password()));
        QCOMPARE(h_->state(), State::Connected);
        QVERIFY(AppHarness::select(h_->remote(), 0, {"small"}));
        h_->window().Get()->click();
        QCOMPARE(downloads().size(), 2);
        QVERIFY(log.waitFor(QStringLiteral("on fait la notification FileSaved")));

        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(downloads()), 30000);
        QCOMPARE(downloads()[0].getStatus(), QStringLiteral("Done."));
        QCOMPARE(downloads()[1].getStatus(), QStringLiteral("Done."));
        QCOMPARE(downloads()[0].currentsize(), qint64(big.size()));
        QCOMPARE(downloads()[1].currentsize(), qint64(small.size()));
        QCOMPARE(readFile(local("small")), small);
        QCOMPARE(readFile(local("big")), big);
        QCOMPARE(log.count(QStringLiteral("Notification de fichier sauvegarde !")), 2);
    }

};

QTEST_MAIN(TestTransferStops)
#include "tst_transferstops.moc"
