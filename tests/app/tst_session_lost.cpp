// SPDX-License-Identifier: GPL-3.0-or-later
// Sessions the server or the user ends while they are in use: idle closes, lost
// connections, queues kept across a disconnect, engines let go without a leak.
#include "support/AppHarness.h"

#include "app/RetiredEngines.h"
#include "app/SessionEngine.h"
#include "ftp/FTP.h"
#include "ui/EntryDeletion.h"
#include "ui/GetNameWindow.h"
#include "support/FakeApp.h"

#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/ScriptedSession.h"
#include "support/ShownWindow.h"
#include "support/TestSupport.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTableView>
#include <QTest>

#include <atomic>
#include <thread>

using namespace zodaru;
using namespace zodaru::test;
using namespace zodaru::testing;
using State = MainWindowController::ConnectionState;

namespace {

// Lists `listings`, serves RETR from `files`, and on connection 0 drops the control
// connection, the way servers do ("421", then close), when asked to list `dropOn`.
ScriptedFtpServer::Script droppingServer(QMap<QByteArray, QByteArray> listings,
                                         QMap<QByteArray, QByteArray> files, QByteArray dropOn)
{
    return [=](ScriptedFtpServer::Session &s) {
        s.greetAndLogin();
        // Listed by "LIST path" or by "CWD path" then "LIST".
        for (;;) {
            const QByteArray line = s.readLine();
            if (line == "PASV") {
                s.line(s.openPassive());
            } else if (line == "LIST" || line.startsWith("LIST ")) {
                const QByteArray path = line.size() > 5 ? line.mid(5) : s.workingDirectory();
                // Only the command engine lists.
                if (path == dropOn) {
                    s.line("421 Service not available, closing control connection");
                    s.closeControl();
                    return;
                }
                s.sendReply("150 Here it comes", listings.value(path), "226 Done");
            } else if (line.startsWith("RETR ")) {
                s.sendReply("150 Sending", files.value(line.mid(5)), "226 Sent");
            } else if (line == "QUIT") {
                s.line("221 Bye");
                return;
            } else {
                s.line("200 OK");
            }
        }
    };
}

} // namespace

class TestSessionLost final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The server closes the command connection while nothing is asked of it (its idle
    // time-out): the idle check notices and says so, the session stays shown connected and
    // the next request logs in again quietly. Only a failed login then is a lost session.
    // Once the user disconnects, nothing logs in again.
    void serverClosesWhileIdle_data()
    {
        QTest::addColumn<QByteArray>("farewell");
        QTest::addColumn<bool>("loginAgainWorks");
        QTest::addColumn<QString>("then");
        QTest::newRow("end of stream, next listing") << QByteArray() << true << "list";
        QTest::newRow("421, next listing") << QByteArray("421 Timeout.\r\n") << true << "list";
        QTest::newRow("login refused when reopening") << QByteArray("421 Timeout.\r\n") << false << "list";
        QTest::newRow("disconnect after the close") << QByteArray() << true << "disconnect";
    }
    void serverClosesWhileIdle()
    {
        QFETCH(QByteArray, farewell);
        QFETCH(bool, loginAgainWorks);
        QFETCH(QString, then);
        ScriptedFtpServer server([&](ScriptedFtpServer::Session &s) {
            // The first three are the session's logins; a fourth can only be a reopening.
            if (s.index() < 3) {
                s.greetAndLogin();
            } else {
                playScript(s, R"(reply "220 Again"; expect "USER me"; reply "331 Password"; expect "PASS pw")");
                if (!loginAgainWorks)
                    return playScript(s, R"(reply "530 Denied")");
                s.line("230 In");
            }
            for (;;) {
                const QByteArray line = s.readLine();
                if (line == "PASV") {
                    s.line(s.openPassive());
                } else if (line.startsWith("LIST")) {
                    s.sendReply("150 Here it comes", unixLine("f"), "226 Done");
                    if (s.index() < 3) {
                        s.send(farewell);
                        s.closeControl();
                        return;
                    }
                } else if (line == "QUIT") {
                    s.line("221 Bye");
                    return;
                } else {
                    s.line("250 OK");
                }
            }
        });
        AppHarness h;
        h.launch();
        const int descriptors = openDescriptorCount();
        LogCapture log;
        QVERIFY(h.connectThroughDialog(server.address(), "me", "pw"));
        QCOMPARE(AppHarness::names(h.remote(), 0), QStringList{"f"});
        const QString noticed = QStringLiteral("Session fermee par le serveur entre deux commandes (%1)")
                                    .arg(farewell.isEmpty() ? QStringLiteral("fin de flux") : QStringLiteral("421"));
        QTRY_VERIFY(log.containsPrefix(noticed));
        QCOMPARE(h.state(), State::Connected);
        const QString reopening = QStringLiteral("Session fermee par le serveur pendant l'attente : on se reconnecte a ");
        if (then == u"disconnect") {
            h.window().Connect()->click();
            QCOMPARE(h.state(), State::Disconnected);
            // Every engine has been let go once the descriptors are back where they were.
            QTRY_COMPARE(openDescriptorCount(), descriptors);
            QCOMPARE(server.connectionCount(), 3);
            QVERIFY(!log.containsPrefix(reopening));
            return;
        }
        std::optional<bool> listed;
        h.app().listRemote(QStringLiteral("/"), [&listed](const std::optional<QList<File>> &entries) {
            listed = entries && entries->value(0).name() == u"f";
        });
        QTRY_VERIFY(listed.has_value());
        QVERIFY(log.contains(reopening + server.address()));
        QCOMPARE(*listed, loginAgainWorks);
        QCOMPARE(server.connectionCount(), 4);
        QCOMPARE(h.state() == State::Connected, loginAgainWorks);
        QCOMPARE(log.containsPrefix(QStringLiteral("Connexion au serveur perdue (listing)")), !loginAgainWorks);
        QCOMPARE(h.controller().statusText().isEmpty(), loginAgainWorks);
    }

    // A transfer engine that lost its connection logs in again on its worker; a disconnect
    // gives that login up at once, not at the end of its time limits.
    void disconnectGivesUpATransferEngineLogin()
    {
        FTP::Settings longer;
        longer.timeouts.replyLine = 120000;
        ScriptedFtpServer server([](ScriptedFtpServer::Session &s) {
            if (s.index() >= 3)
                return playScript(s, "eof"); // the new login of the download engine: never greeted
            s.greetAndLogin();
            for (;;) {
                const QByteArray line = s.readLine();
                if (line == "PASV") {
                    s.line(s.openPassive());
                } else if (line.startsWith("LIST")) {
                    s.sendReply("150 Here it comes", unixLine("a") + unixLine("b"),
                                "226 Done");
                } else if (line.startsWith("RETR")) {
                    s.line("421 Going away");
                    s.closeControl();
                    return;
                } else if (line == "QUIT") {
                    s.line("221 Bye");
                    return;
                } else {
                    s.line("250 OK");
                }
            }
        });
        AppHarness h;
        h.engineSettings = longer;
        QVERIFY(h.launchConnectedTo(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h.remote(), 0, {"a", "b"}));
        // "a" closes the download engine; "b" makes it log in again, into silence.
        h.window().Get()->click();
        QTRY_COMPARE(server.connectionCount(), 4);
        h.window().Connect()->click();
        QCOMPARE(h.state(), State::Disconnected);
        // Far below the two minutes the greeting would be waited for.
        QTRY_VERIFY_WITH_TIMEOUT(server.waitForFinished(3, 0), 20000);
    }

    // Quitting closes every engine kept, a transfer engine's new login on its way
    // included: the worker's wait ends at once, not at the end of the greeting's limit.
    void quittingGivesUpALoginOnItsWay()
    {
        FTP::Settings longer;
        longer.timeouts.replyLine = 120000;
        ScriptedFtpServer server(scripted("eof"));
        auto engine = std::make_unique<SessionEngine>();
        engine->replacement = FTP::create(longer);
        engine->worker.post([ftp = engine->replacement, address = server.address()] {
            try {
                FTP::connectInto(ftp, address, QStringLiteral("me"), QStringLiteral("pw"));
            } catch (const NetworkException &) {
            }
        });
        QVERIFY(server.waitForConnections(1));
        std::atomic<bool> closedSoon{false};
        std::thread watcher([&] { closedSoon = server.waitForFinished(0, 20000); });
        {
            RetiredEngines retired;
            retired.retire(std::move(engine), true);
        } // closes what it keeps, then waits for the worker
        watcher.join();
        QVERIFY(closedSoon);
    }

    // Disconnect keeps the unfinished downloads: they wait, and start at the next connect
    // to the same site. A connect to another site sets them aside, without starting them
    // there, until the first site is connected again.
    void disconnectKeepsTheQueues_data()
    {
        QTest::addColumn<bool>("otherSiteFirst");
        QTest::newRow("same site again") << false;
        QTest::newRow("another site in between") << true;
    }
    void disconnectKeepsTheQueues()
    {
        QFETCH(bool, otherSiteFirst);
        AppHarness h;
        const QByteArray big = patternBytes(16 << 20, 5);
        QVERIFY2(h.serve({{"big", big}, {"small", "small file"}}), h.why());
        QVERIFY2(h.launchConnected(), h.why());
        QVERIFY(AppHarness::select(h.remote(), 0, {"big", "small"}));
        // Disconnected before the queue hears of any progress: both are unfinished.
        h.window().Get()->click();
        h.window().Connect()->click();
        QCOMPARE(h.state(), State::Disconnected);
        const auto waiting = [&h] {
            QStringList names;
            for (const File &entry : *h.app().downloadQueue())
                if (!entry.isDone() && !entry.isCurrent())
                    names << entry.name();
            names.sort();
            return names;
        };
        QCOMPARE(waiting(), (QStringList{"big", "small"}));
        QCOMPARE(h.window().Downloads()->model()->rowCount(), 2);

        if (otherSiteFirst) {
            // Another login on the same server is another site.
            QVERIFY(h.connectThroughDialog(h.server.address(), QStringLiteral("anonymous"), QStringLiteral("guest")));
            QCOMPARE(h.state(), State::Connected);
            QCOMPARE(h.app().downloadQueue()->size(), 0);
            QCOMPARE(h.unfinishedTransfers(), 2);
            h.window().Connect()->click();
            QCOMPARE(h.app().downloadQueue()->size(), 0);
        }
        QVERIFY(h.connectThroughDialog(h.server.address(), RealFtpServer::user(), RealFtpServer::password()));
        QCOMPARE(h.state(), State::Connected);
        QCOMPARE(h.app().downloadQueue()->size(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(h.unfinishedTransfers() == 0, 60000);
        for (const File &entry : *h.app().downloadQueue())
            QCOMPARE(entry.getStatus(), QStringLiteral("Done."));
        QCOMPARE(readFile(h.localFile("big")), big);
        QCOMPARE(readFile(h.localFile("small")), QByteArray("small file"));
    }

    // A refused DELE or MKD fails that command alone and is logged; a server that closes
    // ends the session. Either way the window never shows a dead session as Connected.
    void refusedCommandAtTheRoot_data()
    {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("serverCloses");
        QTest::newRow("DELE refused") << QByteArray("DELE") << QByteArray("550 No such file") << false;
        QTest::newRow("MKD of an existing name") << QByteArray("MKD") << QByteArray("550 File exists") << false;
        QTest::newRow("DELE, server closes") << QByteArray("DELE") << QByteArray("421 Bye now") << true;
        QTest::newRow("MKD, server closes") << QByteArray("MKD") << QByteArray("421 Bye now") << true;
    }
    void refusedCommandAtTheRoot()
    {
        QFETCH(QByteArray, word);
        QFETCH(QByteArray, reply);
        QFETCH(bool, serverCloses);
        ScriptedFtpServer server(browsingServer({{"/", unixLine("f")}}, {{word, reply}}));
        AppHarness h;
        QVERIFY(h.launchConnectedTo(server.address(), "me", "pw"));
        LogCapture log;
        if (word == "DELE") {
            QVERIFY(AppHarness::select(h.remote(), 0, {"f"}));
            h.window().rdelete()->click();
            // Every delete asks first.
            QTRY_VERIFY(h.controller().deletion().question());
            QMessageBox *question = h.controller().deletion().question();
            for (QAbstractButton *button : question->buttons())
                if (question->buttonRole(button) == QMessageBox::DestructiveRole)
                    button->click();
        } else {
            h.window().rmkdir()->click();
            GetNameWindow *panel = shownNow<GetNameWindow>();
            QVERIFY(panel);
            panel->name()->setText(QStringLiteral("new"));
            panel->go()->click();
        }
        const QString line = word == "DELE" ? QStringLiteral("DELE //f") : QStringLiteral("MKD //new");
        // The reply comes back from the command engine's worker on a later pass.
        QTRY_VERIFY(log.contains(QStringLiteral("Commande refusee par le serveur (%1) : %2")
                                     .arg(QString::fromLatin1(reply.left(3)), line)));
        if (serverCloses)
            QTRY_COMPARE(h.state(), State::Disconnected);
        const bool alive = h.app().ftp() && h.app().ftp()->isConnected();
        QCOMPARE(h.state() == State::Connected, alive);
        QCOMPARE(log.count(QStringLiteral("disconnectRemote")), alive ? 0 : 1);
        if (serverCloses)
            QVERIFY(!alive);
    }

    // The command connection drops while a second column loads: one disconnect, queues
    // emptied, the transfer engines left without QUIT and then closed by the next connect,
    // which works as the first did.
    void lostCommandConnectionThenReconnect()
    {
        const QMap<QByteArray, QByteArray> listings{
            {"/", unixLine("d", 5, "drwxr-xr-x") + unixLine("f.txt", 4)}};
        ScriptedFtpServer server(droppingServer(listings, {{"//f.txt", "data"}}, "/d"));
        AppHarness h;
        QVERIFY(h.launchConnectedTo(server.address(), "me", "pw"));

        QVERIFY(AppHarness::select(h.remote(), 0, {"f.txt"}));
        h.window().Get()->click();
        QTRY_COMPARE(h.app().downloadQueue()->value(0).getStatus(), QStringLiteral("Done."));
        QCOMPARE(h.window().Downloads()->model()->rowCount(), 1);

        LogCapture log;
        QVERIFY(AppHarness::select(h.remote(), 0, {"d"}));
        QTRY_COMPARE(h.state(), State::Disconnected);
        QTest::qWait(0);
        QCoreApplication::processEvents();
        QCOMPARE(log.count(QStringLiteral("disconnectRemote")), 1);
        QCOMPARE(h.app().downloadQueue()->size(), 0);
        QCOMPARE(h.window().Downloads()->model()->rowCount(), 0);
        QVERIFY(!h.window().Get()->isEnabled());

        QVERIFY(h.connectThroughDialog(server.address(), "me", "pw"));
        QCOMPARE(h.state(), State::Connected);
        QStringList root = AppHarness::names(h.remote(), 0);
        QCOMPARE(root, (QStringList{"d", "f.txt"}));
        // The old transfer engines were never told QUIT, and are closed now. The logins ran
        // side by side: any of the first three connections may be the command engine's.
        for (int conn : {0, 1, 2}) {
            // The event loop runs meanwhile: busy engines are looked at again from it.
            QTRY_VERIFY2(server.waitForFinished(conn, 0),
                         qPrintable(QStringLiteral("connection %1 still open after: %2")
                                        .arg(conn).arg(QString::fromUtf8(server.received(conn)))));
            QVERIFY(commandsSent(server, conn, {"QUIT"}).isEmpty());
        }
        // Closed without a word: the script of each sees the end of its stream.
        QStringList failures = server.failures();
        failures.sort();
        QCOMPARE(failures.size(), 2);
        for (const QString &failure : failures)
            QVERIFY2(failure.contains(QRegularExpression(QStringLiteral("^connection [012]: end of stream"))),
                     qPrintable(failure));
    }

    void reconnectingLeaksNoConnection_data()
    {
        QTest::addColumn<bool>("downloading");
        QTest::newRow("idle engines") << false;
        QTest::newRow("replaced while a download runs") << true;
    }
    void reconnectingLeaksNoConnection()
    {
        QFETCH(bool, downloading);
        AppHarness h;
        // Large enough to be still on its way after four reconnects, fast as transfers are.
        const QByteArray big = patternBytes(96 << 20, 3);
        QVERIFY2(h.serve({{"big", big}}), h.why());
        QVERIFY2(h.launchConnected(), h.why());
        // Counted once the root's listing is in: its data connection is closed by then.
        QVERIFY(AppHarness::names(h.remote(), 0).contains(QStringLiteral("big")));
        const int descriptors = openDescriptorCount();

        std::weak_ptr<FTP> oldIn = h.downloadEngine();
        if (downloading) {
            QVERIFY(AppHarness::select(h.remote(), 0, {"big"}));
            h.window().Get()->click();
            // Watched closely: polled at the usual 50 ms, the whole download may pass unseen.
            QElapsedTimer waited;
            waited.start();
            while (!h.downloadEngine()->isTransferring() && waited.elapsed() < 10000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QVERIFY(h.downloadEngine()->isTransferring());
        }
        for (int i = 0; i < 4; ++i) {
            h.app().connectWithAddress(h.server.address(), RealFtpServer::user(), RealFtpServer::password());
            QTRY_VERIFY(!h.app().isDialing());
            QCOMPARE(h.state(), State::Connected);
        }
        // A replaced download goes on to its end, and its connections close after it.
        QTRY_VERIFY_WITH_TIMEOUT(oldIn.expired(), 60000);
        // Retired engines close once their workers have finished, on a loaded machine later.
        QTRY_COMPARE_WITH_TIMEOUT(openDescriptorCount(), descriptors, 30000);
        if (downloading)
            QCOMPARE(readFile(h.localFile("big")), big);
    }
};

QTEST_MAIN(TestSessionLost)
#include "tst_session_lost.moc"
