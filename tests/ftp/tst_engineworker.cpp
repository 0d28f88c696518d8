// SPDX-License-Identifier: GPL-3.0-or-later
// An engine's blocking calls run in order off the asking thread; results come back to it.
#include "app/EngineWorker.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <atomic>
#include <new>
#include <optional>
#include <stdexcept>

using namespace zodaru;

class TestEngineWorker final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void runsInOrderOffTheAskingThread();
    void dropsWhatHasNotStarted();
    void goesOnAfterAFailingJob();
    void failingJobIsAnswered_data();
    void failingJobIsAnswered();
};

void TestEngineWorker::runsInOrderOffTheAskingThread()
{
    QObject receiver;
    QList<int> ran;
    QList<int> delivered;
    std::atomic<bool> offMainThread{true};
    QThread *const mainThread = QThread::currentThread();
    {
        EngineWorker worker;
        quint64 previous = 0;
        for (int i = 0; i < 20; ++i) {
            const quint64 serial = worker.run(
                [&, i] {
                    if (QThread::currentThread() == mainThread)
                        offMainThread = false;
                    ran.append(i); // one job at a time: no lock needed
                    return i * 10;
                },
                &receiver,
                [&, mainThread](int result) {
                    QCOMPARE(QThread::currentThread(), mainThread);
                    delivered.append(result);
                });
            QVERIFY(serial > previous);
            previous = serial;
        }
        QCOMPARE(worker.lastSerial(), previous);
        QTRY_COMPARE(delivered.size(), 20);
    }
    QVERIFY(offMainThread);
    for (int i = 0; i < 20; ++i) {
        QCOMPARE(ran.at(i), i);
        QCOMPARE(delivered.at(i), i * 10);
    }
}

// What a job queues with runNext() is the second half of what it started (a transfer's
// data): neither dropPending() nor the destructor may drop it, and it runs before anything
// queued after the job.
void TestEngineWorker::dropsWhatHasNotStarted()
{
    std::atomic<bool> release{false};
    std::atomic<bool> started{false};
    QString order; // written by the worker's thread only, read once it has ended
    std::thread releaser;
    QCOMPARE(EngineWorker::current(), nullptr);
    {
        EngineWorker worker;
        const auto blocking = [&](QChar name, QChar next) {
            return [&, name, next] {
                order += name;
                EngineWorker::current()->runNext([&order, next] { order += next; });
                started = true;
                while (!release)
                    QThread::msleep(1);
            };
        };
        worker.post(blocking(u'A', u'B'));
        for (int i = 0; i < 5; ++i)
            worker.post([&] { order += u'x'; });
        QTRY_VERIFY(started);
        worker.dropPending();
        worker.post([&] { order += u'C'; });
        release = true;
        QTRY_VERIFY(!worker.busy());
        // Destroyed with jobs queued behind a running one: they never run, but what the
        // running one queued with runNext() does.
        release = false;
        started = false;
        worker.post(blocking(u'D', u'E'));
        worker.post([&] { order += u'x'; });
        QTRY_VERIFY(started);
        releaser = std::thread([&] {
            QThread::msleep(50);
            release = true;
        });
    }
    releaser.join();
    QCOMPARE(order, QStringLiteral("ABCDE"));
}

void TestEngineWorker::goesOnAfterAFailingJob()
{
    QObject receiver;
    LogCapture log;
    bool second = false;
    EngineWorker worker;
    worker.post([] { throw std::runtime_error("boom"); });
    worker.run([] { return true; }, &receiver, [&](bool) { second = true; });
    QTRY_VERIFY(second);
    QVERIFY(log.contains(QStringLiteral("Exception recue dans le travail du moteur ==> boom")));
}

void TestEngineWorker::failingJobIsAnswered_data()
{
    QTest::addColumn<int>("thrown");
    QTest::addColumn<QString>("logged");
    QTest::newRow("out of memory") << 0 << QStringLiteral("std::bad_alloc");
    QTest::newRow("runtime error") << 1 << QStringLiteral("boom");
    QTest::newRow("not a std::exception") << 2 << QStringLiteral("exception inconnue");
}

// The asker always hears back: a job that throws gives the failure, not silence.
void TestEngineWorker::failingJobIsAnswered()
{
    QFETCH(int, thrown);
    QFETCH(QString, logged);
    QObject receiver;
    LogCapture log;
    std::optional<std::optional<int>> answer;
    EngineWorker worker;
    worker.run(
        [thrown]() -> std::optional<int> {
            if (thrown == 0)
                throw std::bad_alloc();
            if (thrown == 1)
                throw std::runtime_error("boom");
            throw 42;
        },
        &receiver, [&](std::optional<int> result) { answer = result; });
    QTRY_VERIFY(answer.has_value());
    QCOMPARE(*answer, std::nullopt);
    QVERIFY(log.contains(QStringLiteral("Exception recue dans le travail du moteur ==> ") + logged));
}

QTEST_GUILESS_MAIN(TestEngineWorker)
#include "tst_engineworker.moc"
