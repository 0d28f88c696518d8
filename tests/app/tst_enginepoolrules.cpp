// SPDX-License-Identifier: GPL-3.0-or-later
// The pool of transfer engines on its own, with logins whose outcome the test gives: how
// many members it makes and keeps, when it tells the server's limit, which events count
// for a member, and when members are closed.
#include "app/EnginePool.h"

#include "app/RetiredEngines.h"
#include "base/Log.h"
#include "ftp/FTP.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace zodaru;

namespace {

using LoginEnd = EnginePool::LoginEnd;

LoginEnd endNamed(const QString &word)
{
    return word == u"ok" ? LoginEnd::LoggedIn : word == u"limit" ? LoginEnd::Limit : LoginEnd::Failed;
}

// A pool of one direction whose extra logins end as the test says, in the order made.
struct Bench {
    RetiredEngines retired;
    QStringList outcomes;
    EnginePool pool{TransferDirection::Download,
                    EnginePool::Dialer{[] { return FTP::create(); },
                                       [this](std::shared_ptr<FTP>) -> std::function<LoginEnd()> {
                                           return [end = endNamed(outcomes.takeFirst())] { return end; };
                                       }},
                    retired};
    SessionEngine *first = nullptr;

    explicit Bench(int connections)
    {
        auto engine = std::make_unique<SessionEngine>();
        engine->ftp = FTP::create();
        first = engine.get();
        pool.open(std::move(engine));
        pool.setConnections(connections);
    }
};

} // namespace

class TestEnginePoolRules final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { setLogSink([](const QString &) {}); }
    void cleanup() { setLogSink({}); }

    // Member 0 runs the first entry; each other one asks for a member, which logs in.
    void logins_data()
    {
        QTest::addColumn<int>("connections");
        QTest::addColumn<QStringList>("outcomes");
        QTest::addColumn<int>("made");     // makes the pool agreed to
        QTest::addColumn<int>("ready");    // members handed over logged in
        QTest::addColumn<int>("capacity"); // afterwards
        QTest::addColumn<QList<int>>("told"); // what limited() said
        using L = QStringList;
        QTest::newRow("all log in") << 4 << L{"ok", "ok", "ok"} << 3 << 3 << 4 << QList<int>{};
        QTest::newRow("no more than the setting") << 2 << L{"ok", "ok"} << 1 << 1 << 2 << QList<int>{};
        QTest::newRow("one refused: the limit") << 4 << L{"ok", "ok", "limit"} << 3 << 2 << 3 << QList<int>{3};
        QTest::newRow("two refused: told once, with what is kept")
            << 4 << L{"ok", "limit", "limit"} << 3 << 1 << 2 << QList<int>{2};
        QTest::newRow("a failure shrinks it without a word") << 4 << L{"ok", "failed", "ok"} << 3 << 2 << 3
                                                             << QList<int>{};
        QTest::newRow("never below one") << 3 << L{"limit", "limit"} << 2 << 0 << 1 << QList<int>{1};
        QTest::newRow("a setting out of range is brought back") << 12 << L{} << 0 << 0 << 10 << QList<int>{};
    }
    void logins()
    {
        QFETCH(int, connections);
        QFETCH(QStringList, outcomes);
        QFETCH(int, made);
        QFETCH(int, ready);
        QFETCH(int, capacity);
        QFETCH(QList<int>, told);
        Bench bench(connections);
        bench.outcomes = outcomes;
        QSignalSpy limited(&bench.pool, &EnginePool::limited);
        QCOMPARE(bench.pool.take(1), bench.first);
        int agreed = 0;
        int answers = 0;
        int members = 0;
        for (qint32 entry = 2; entry < qint32(outcomes.size()) + 2; ++entry) {
            agreed += bench.pool.make(entry, [&](SessionEngine *member) {
                ++answers;
                members += member && member->ftp ? 1 : 0;
            }) ? 1 : 0;
        }
        QCOMPARE(agreed, made);
        QTRY_COMPARE(answers, made);
        QCOMPARE(members, ready);
        QCOMPARE(bench.pool.capacity(), capacity);
        QList<int> said;
        for (const QList<QVariant> &signal : limited)
            said << signal.at(0).toInt();
        QCOMPARE(said, told);
    }

    // An event counts for the member that runs its entry, told by the member's engine or
    // by the engine it is logging in again with.
    void eventsOfAMember_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<qint32>("entry");
        QTest::addColumn<bool>("counts");
        QTest::newRow("its engine, its entry") << "own" << 7 << true;
        QTest::newRow("its replacement, its entry") << "replacement" << 7 << true;
        QTest::newRow("its engine, another entry") << "own" << 8 << false;
        QTest::newRow("another engine") << "other" << 7 << false;
    }
    void eventsOfAMember()
    {
        QFETCH(QString, engine);
        QFETCH(qint32, entry);
        QFETCH(bool, counts);
        Bench bench(1);
        QCOMPARE(bench.pool.take(7), bench.first);
        bench.first->replacement = FTP::create();
        const std::shared_ptr<FTP> other = FTP::create();
        const quint64 id = engine == u"own"           ? bench.first->ftp->id()
                         : engine == u"replacement" ? bench.first->replacement->id()
                                                    : other->id();
        QCOMPARE(bench.pool.runner(id, entry) == bench.first, counts);
        // Released, it runs nothing.
        bench.pool.release(*bench.first, 7);
        QVERIFY(!bench.pool.runner(id, entry));
    }

    // A free extra member is closed past the capacity at once, otherwise after the idle
    // interval; member 0 stays.
    void membersClosed_data()
    {
        QTest::addColumn<int>("smaller"); // the setting while the member runs; 0 unchanged
        QTest::addColumn<int>("idleMs");
        QTest::newRow("idle") << 0 << 1;
        QTest::newRow("past a smaller setting") << 1 << 3600 * 1000;
    }
    void membersClosed()
    {
        QFETCH(int, smaller);
        QFETCH(int, idleMs);
        Bench bench(2);
        bench.outcomes = QStringList{"ok"};
        bench.pool.setIdleInterval(idleMs);
        QCOMPARE(bench.pool.take(1), bench.first);
        SessionEngine *extra = nullptr;
        QVERIFY(bench.pool.make(2, [&extra](SessionEngine *member) { extra = member; }));
        QTRY_VERIFY(extra);
        if (smaller > 0) {
            bench.pool.setConnections(smaller);
            // Still running its entry: kept.
            QCOMPARE(bench.pool.size(), 2);
        }
        bench.pool.release(*extra, 2);
        bench.pool.release(*bench.first, 1);
        QTRY_COMPARE(bench.pool.size(), 1);
        QCOMPARE(bench.pool.first(), bench.first);
        QCOMPARE(bench.pool.take(3), bench.first);
    }
};

QTEST_GUILESS_MAIN(TestEnginePoolRules)
#include "tst_enginepoolrules.moc"
