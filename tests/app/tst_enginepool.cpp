// SPDX-License-Identifier: GPL-3.0-or-later
// Several transfers at once against a real server: pools of transfer engines per direction,
// a server that refuses more logins, extra engines closed when idle, and a pool made
// smaller while it runs.
#include "support/AppHarness.h"

#include "base/Log.h"
#include "ftp/NotificationCenter.h"
#include "ftp/RateLimit.h"
#include "ftp/TransferEvent.h"
#include "model/TransferSettings.h"
#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestSupport.h"

#include <QHash>
#include <QSet>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace zodaru;
using namespace zodaru::test;

namespace {

// The transfer events of the process, by file ID, in the order they were told.
class EventsById {
public:
    EventsById()
    {
        NotificationCenter::defaultCenter().addTransferObserver(&context_, [this](const TransferEvent &event) {
            events_[event.file].append(event);
            engines_.insert(event.engine);
        });
    }
    // Empty when the events of `id` are a transfer of `size` bytes told in order: chunks
    // adding up to it, then one end; otherwise what is wrong.
    QString checkOne(qint32 id, qint64 size) const
    {
        const QList<TransferEvent> events = events_.value(id);
        if (events.isEmpty() || !events.last().isEnd())
            return QStringLiteral("%1: no end last").arg(id);
        qint64 moved = 0;
        for (qsizetype i = 0; i + 1 < events.size(); ++i) {
            if (events[i].isEnd())
                return QStringLiteral("%1: an end before its chunks").arg(id);
            if (events[i].engine != events.last().engine)
                return QStringLiteral("%1: chunks from another engine").arg(id);
            moved += events[i].bytes;
        }
        return moved == size ? QString() : QStringLiteral("%1: %2 bytes of %3").arg(id).arg(moved).arg(size);
    }
    int engines() const { return int(engines_.size()); }

private:
    QObject context_;
    QHash<qint32, QList<TransferEvent>> events_;
    QSet<quint64> engines_;
};

// The sessions the server's log tells of: logged in, and closed.
int serverCount(const RealFtpServer &server, const QByteArray &what)
{
    return int(server.serverLog().count(what));
}

} // namespace

class TestEnginePool final : public QObject {
    Q_OBJECT

    std::unique_ptr<AppHarness> h_;

    // `count` files of different sizes on the server (download) or in the local directory.
    QStringList makeFiles(bool download, int count)
    {
        QStringList names;
        for (int i = 0; i < count; ++i) {
            names << QStringLiteral("p%1").arg(i);
            const QByteArray content = patternBytes(1000 + 7919 * i, quint32(i + 3));
            if (download ? !h_->server.writeFile(names.last(), content)
                         : !writeFile(h_->localFile(names.last()), content))
                return {};
        }
        return names;
    }
    // Queues `names` in `direction` through the window's Get or Put.
    bool queueFiles(bool download, const QStringList &names)
    {
        if (download) {
            if (!AppHarness::select(h_->remote(), 0, names))
                return false;
            h_->window().Get()->click();
            return true;
        }
        h_->controller().refreshLocal();
        if (!AppHarness::select(h_->local(), h_->local().lastVisibleColumn(), names))
            return false;
        h_->window().Put()->click();
        return true;
    }
    // Every file arrived byte for byte, each row done, and told in order by its ID.
    void checkArrived(bool download, const QStringList &names, const EventsById &events)
    {
        const QList<File> &queue = download ? h_->downloads() : h_->uploads();
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(queue), 60000);
        QCOMPARE(queue.size(), names.size());
        for (int i = 0; i < names.size(); ++i) {
            const QByteArray content = patternBytes(1000 + 7919 * i, quint32(i + 3));
            const File &entry = queue[i];
            QCOMPARE(entry.getStatus(), QStringLiteral("Done."));
            QCOMPARE(entry.currentsize(), qint64(content.size()));
            QCOMPARE(download ? readFile(h_->localFile(names[i])) : h_->server.readFile(names[i]), content);
            QTRY_COMPARE(events.checkOne(qint32(entry.getID()), content.size()), QString());
        }
    }

private Q_SLOTS:
    void init()
    {
        setLogSink([](const QString &) {});
        h_ = std::make_unique<AppHarness>();
        QVERIFY(h_->isValid());
    }
    void cleanup()
    {
        h_.reset();
        setLogSink({});
    }

    // Files move on as many connections as the pool has, each on one engine from its first
    // chunk to its end.
    void severalFilesAtOnce_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<int>("connections");
        QTest::addColumn<int>("files");
        QTest::addColumn<int>("engines");
        QTest::newRow("down, pool of 1") << true << 1 << 4 << 1;
        QTest::newRow("down, pool of 2") << true << 2 << 6 << 2;
        QTest::newRow("down, pool of 4") << true << 4 << 8 << 4;
        QTest::newRow("up, pool of 1") << false << 1 << 4 << 1;
        QTest::newRow("up, pool of 2") << false << 2 << 6 << 2;
        QTest::newRow("up, pool of 4") << false << 4 << 8 << 4;
    }
    void severalFilesAtOnce()
    {
        QFETCH(bool, download);
        QFETCH(int, connections);
        QFETCH(int, files);
        QFETCH(int, engines);
        QVERIFY(h_->useConnections(connections));
        QVERIFY2(h_->serve(), h_->why());
        const QStringList names = makeFiles(download, files);
        QVERIFY(!names.isEmpty());
        QVERIFY(h_->launchConnected());
        EventsById events;
        QVERIFY(queueFiles(download, names));
        checkArrived(download, names, events);
        // The first pass hands one file to each member: the pool is used whole.
        QCOMPARE(events.engines(), engines);
    }

    // A server that takes one connection more than the session's three: the extra logins
    // it refuses make the pool smaller, said once; nothing fails and every file arrives.
    void refusedExtraLogins()
    {
        QVERIFY(h_->useConnections(4));
        RealFtpServer::Options options;
        options.maxConnections = 4;
        QVERIFY2(h_->serve({}, options), h_->why());
        const QStringList names = makeFiles(true, 8);
        QVERIFY(!names.isEmpty());
        QVERIFY(h_->launchConnected());
        EventsById events;
        LogCapture log;
        QVERIFY(queueFiles(true, names));
        checkArrived(true, names, events);
        QCOMPARE(events.engines(), 2);
        QCOMPARE(log.lines().filter(QStringLiteral("Le serveur refuse plus de")).size(), 1);
        QVERIFY(log.contains(QStringLiteral("Le serveur refuse plus de 4 connexions : les transferts continuent avec 2")));
        QVERIFY(h_->controller().statusText().contains(QStringLiteral("transfers go on with 2")));
    }

    // The ways a server refuses one more login than the session's three: the server's
    // limit (421 at the greeting or to USER, 530 to PASS of credentials that logged in)
    // is said once; a connection simply cut shrinks the pool silently. The file waits
    // for the engine that is free and arrives.
    void refusedLoginKinds_data()
    {
        QTest::addColumn<QString>("refusal");
        QTest::addColumn<int>("told");
        QTest::newRow("421 at the greeting") << "greeting" << 1;
        QTest::newRow("421 to USER") << "user" << 1;
        QTest::newRow("530 to PASS") << "pass" << 1;
        QTest::newRow("cut before the greeting") << "cut" << 0;
    }
    void refusedLoginKinds()
    {
        QFETCH(QString, refusal);
        QFETCH(int, told);
        QVERIFY(h_->useConnections(4));
        ScriptedFtpServer server([refusal](ScriptedFtpServer::Session &s) {
            if (s.index() >= 3) {
                if (refusal == u"greeting") {
                    s.line("421 Too many connections");
                } else if (refusal != u"cut") {
                    s.line("220 ready");
                    s.readLine();
                    if (refusal == u"user") {
                        s.line("421 Too many connections");
                    } else {
                        s.line("331 Password");
                        s.readLine();
                        s.line("530 Too many connections");
                    }
                }
                return;
            }
            s.greetAndLogin();
            for (;;) {
                const QByteArray line = s.readLine();
                if (line.isEmpty() || line == "QUIT")
                    return;
                if (line == "PASV")
                    s.line(s.openPassive());
                else if (line.startsWith("LIST"))
                    s.sendReply("150 Here it comes", unixLine("a") + unixLine("b"), "226 Done");
                else if (line.startsWith("RETR"))
                    s.sendReply("150 Sending", "whole", "226 Done");
                else
                    s.line("200 OK");
            }
        });
        QVERIFY(h_->launchConnectedTo(server.address(), "me", "pw"));
        LogCapture log;
        QVERIFY(queueFiles(true, {"a", "b"}));
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(h_->downloads()), 30000);
        for (const File &entry : h_->downloads())
            QCOMPARE(entry.getStatus(), QStringLiteral("Done."));
        QCOMPARE(readFile(h_->localFile("b")), QByteArray("whole"));
        QCOMPARE(log.lines().filter(QStringLiteral("Le serveur refuse plus de")).size(), told);
        if (told)
            QVERIFY(log.contains(QStringLiteral("Le serveur refuse plus de 3 connexions : les transferts continuent avec 1")));
    }

    // An extra member left without work is closed after the idle interval; member 0
    // stays.
    void idleMembersClosed()
    {
        QVERIFY(h_->useConnections(3));
        QVERIFY(writeFile(h_->settingsFile(), readFile(h_->settingsFile()) + "\n[session]\nidleTransferSeconds=1\n"));
        QVERIFY2(h_->serve(), h_->why());
        const QStringList names = makeFiles(true, 3);
        QVERIFY(h_->launchConnected());
        EventsById events;
        QVERIFY(queueFiles(true, names));
        checkArrived(true, names, events);
        QCOMPARE(events.engines(), 3);
        QCOMPARE(serverCount(h_->server, "logged in"), 5);
        QTRY_COMPARE_WITH_TIMEOUT(serverCount(h_->server, "session closed"), 2, 30000);
        QVERIFY(h_->downloadEngine() && h_->downloadEngine()->isConnected());
    }

    // The transfer engines of a direction share its speed limit, from the settings at
    // start or applied while connected.
    void speedLimitsShared_data()
    {
        QTest::addColumn<bool>("applied");
        QTest::newRow("from the settings file") << false;
        QTest::newRow("applied while connected") << true;
    }
    void speedLimitsShared()
    {
        QFETCH(bool, applied);
        TransferSettings settings;
        settings.downloadLimit = 8 * 1024;
        settings.uploadLimit = 3 * 1024;
        if (!applied)
            QVERIFY(settings.save(h_->settingsFile()));
        QVERIFY2(h_->serve(), h_->why());
        QVERIFY(h_->launchConnected());
        if (applied)
            h_->app().applyTransferSettings(settings);
        const auto down = h_->downloadEngine()->settings().rateLimit;
        const auto up = h_->uploadEngine()->settings().rateLimit;
        QVERIFY(down && up && down != up);
        QCOMPARE(down->rate(), settings.downloadLimit);
        QCOMPARE(up->rate(), settings.uploadLimit);
    }

    // The pool's size changed while it runs: a smaller one lets its transfers end, then
    // closes its extra members; a larger one starts more at once.
    void capacityChangedWhileRunning_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("after");
        QTest::addColumn<int>("closed");
        QTest::newRow("smaller") << 4 << 1 << 3;
        QTest::newRow("larger") << 1 << 4 << 0;
    }
    void capacityChangedWhileRunning()
    {
        QFETCH(int, before);
        QFETCH(int, after);
        QFETCH(int, closed);
        QVERIFY(h_->useConnections(before));
        QVERIFY2(h_->serve(), h_->why());
        const QStringList names = makeFiles(true, 8);
        QVERIFY(h_->launchConnected());
        EventsById events;
        QVERIFY(queueFiles(true, names));
        TransferSettings settings = TransferSettings::load(h_->settingsFile());
        settings.connections = after;
        h_->app().applyTransferSettings(settings);
        checkArrived(true, names, events);
        // Whichever is larger was used whole: the first pass, or the one the change ran.
        QCOMPARE(events.engines(), std::max(before, after));
        QTRY_COMPARE_WITH_TIMEOUT(serverCount(h_->server, "session closed"), closed, 30000);
        QVERIFY(h_->downloadEngine() && h_->downloadEngine()->isConnected());
    }
};

QTEST_MAIN(TestEnginePool)
#include "tst_enginepool.moc"
