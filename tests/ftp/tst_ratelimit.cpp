// SPDX-License-Identifier: GPL-3.0-or-later
// The shared speed limit: its arithmetic on a clock the test moves, and limited transfers
// against a real server.
#include "ftp/FTP.h"
#include "ftp/RateLimit.h"

#include "TransferRecorder.h"
#include "support/RealFtpServer.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

using namespace zodaru;
using namespace zodaru::testing;

namespace {

constexpr qint64 kSecond = 1'000'000'000;

// Time moves only when a taker sleeps: to the end of its sleep, or not at all when another
// sleeper has moved it further meanwhile, as with sleepers on a real clock.
class FakeClock final : public RateClock {
public:
    qint64 nowNs() override
    {
        ++reads;
        return now.load();
    }
    void sleepNs(qint64 ns) override
    {
        qint64 longest = longestSleep.load();
        while (longest < ns && !longestSleep.compare_exchange_weak(longest, ns)) {
        }
        const qint64 target = now.load() + ns;
        qint64 seen = now.load();
        while (seen < target && !now.compare_exchange_weak(seen, target)) {
        }
        if (onSleep)
            onSleep();
    }

    std::atomic<qint64> now{0};
    std::atomic<int> reads{0};
    std::atomic<qint64> longestSleep{0};
    std::function<void()> onSleep; // set before any taker runs
};

// The real clock, counting how often it is read: a transfer that went through a limit
// read it.
class CountingClock final : public RateClock {
public:
    qint64 nowNs() override
    {
        ++reads;
        return RateClock::system()->nowNs();
    }
    void sleepNs(qint64 ns) override { RateClock::system()->sleepNs(ns); }
    std::atomic<int> reads{0};
};

// One taking: when its taker called it, when it returned, and the bytes.
struct Grant {
    qint64 asked;
    qint64 at;
    qint64 bytes;
};

// Nothing let through runs ahead of the rate by more than a burst: the bytes of the
// takings from the first to each one fit in rate * (its return - the first's call) +
// burst (a byte of slack for rounding). `fromAny`: from any taking to a later one, which
// holds for takings in the order they were made.
QString firstOverrun(const std::vector<Grant> &grants, qint64 rate, bool fromAny)
{
    const double perNs = double(rate) / double(kSecond);
    const double burst = double(RateLimit::burstFor(rate)) + 1;
    double sum = 0;
    qint64 latest = 0;
    // The least of (bytes before taking i) - rate * (its call) over the first takings.
    double least = 0;
    for (std::size_t j = 0; j < grants.size(); ++j) {
        if (fromAny)
            least = std::min(least, sum - perNs * double(grants[j].asked));
        sum += double(grants[j].bytes);
        latest = std::max(latest, grants[j].at);
        if (sum - perNs * double(latest) > burst + least)
            return QStringLiteral("taking %1: %2 bytes by %3 ns").arg(j).arg(sum).arg(latest);
    }
    return {};
}

const std::atomic<bool> kGoOn{false};

} // namespace

class TestRateLimit final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void burst_data();
    void burst();
    void oneTaker_data();
    void oneTaker();
    void twoTakersShareOneLimit_data();
    void twoTakersShareOneLimit();
    void rateChange_data();
    void rateChange();
    void stopWhileWaiting_data();
    void stopWhileWaiting();
    void neverWaits_data();
    void neverWaits();
    void limitedTransferArrivesWhole_data();
    void limitedTransferArrivesWhole();
};

void TestRateLimit::burst_data()
{
    QTest::addColumn<qint64>("rate");
    QTest::addColumn<qint64>("burst");
    QTest::newRow("an eighth of a second") << qint64(8 << 20) << qint64(1 << 20);
    QTest::newRow("a chunk at a slow rate") << qint64(1024) << qint64(16384);
    QTest::newRow("where both meet") << qint64(131072) << qint64(16384);
    QTest::newRow("just above") << qint64(131080) << qint64(16385);
}

void TestRateLimit::burst()
{
    QFETCH(qint64, rate);
    QFETCH(qint64, burst);
    QCOMPARE(RateLimit::burstFor(rate), burst);
    // A limited loop steps by a burst at most; an unlimited one by what it wants.
    QCOMPARE(RateLimit::stepUnder(std::make_shared<RateLimit>(rate), 4 << 20), std::min<qint64>(burst, 4 << 20));
    QCOMPARE(RateLimit::stepUnder(std::make_shared<RateLimit>(rate), 100), qint64(100));
    QCOMPARE(RateLimit::stepUnder(std::make_shared<RateLimit>(0), 4 << 20), qint64(4 << 20));
    QCOMPARE(RateLimit::stepUnder(nullptr, 4 << 20), qint64(4 << 20));
}

void TestRateLimit::oneTaker_data()
{
    QTest::addColumn<qint64>("rate");
    QTest::addColumn<qint64>("chunk");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint64>("idleNs"); // before each taking
    QTest::addColumn<qint64>("endNs"); // when the last taking returns
    // A full bucket first, then the rate: (bytes - burst) / rate.
    QTest::newRow("small chunks at 100 KiB/s") << qint64(102400) << qint64(4096) << 100 << qint64(0) << qint64(3'840'000'000);
    QTest::newRow("steps at 1 MiB/s") << qint64(1 << 20) << qint64(262144) << 8 << qint64(0) << qint64(1'875'000'000);
    QTest::newRow("one chunk of many seconds") << qint64(10240) << qint64(1 << 20) << 1 << qint64(0) << qint64(100'800'000'000);
    QTest::newRow("all within the burst") << qint64(8 << 20) << qint64(65536) << 16 << qint64(0) << qint64(0);
    QTest::newRow("odd sizes") << qint64(3000) << qint64(1000) << 50 << qint64(0) << qint64(11'205'333'334);
    QTest::newRow("single bytes") << qint64(1024) << qint64(1) << 20000 << qint64(0) << qint64(3'531'250'000);
    // After a pause only a burst goes at once: (chunk - burst) / rate after each one.
    QTest::newRow("pauses between chunks") << qint64(102400) << qint64(65536) << 10 << 2 * kSecond
                                           << qint64(24'800'000'000);
    QTest::newRow("pauses longer than the wait") << qint64(1 << 20) << qint64(262144) << 4 << 5 * kSecond
                                                 << qint64(20'500'000'000);
}

// Back to back on one thread: each taking returns when the rate has paid for it, in
// sleeps no longer than a slice.
void TestRateLimit::oneTaker()
{
    QFETCH(qint64, rate);
    QFETCH(qint64, chunk);
    QFETCH(int, count);
    QFETCH(qint64, idleNs);
    QFETCH(qint64, endNs);
    const auto clock = std::make_shared<FakeClock>();
    RateLimit limit(rate, clock);
    std::vector<Grant> grants;
    for (int i = 0; i < count; ++i) {
        clock->now += idleNs;
        const qint64 asked = clock->now.load();
        QVERIFY(limit.take(chunk, kGoOn));
        grants.push_back({asked, clock->now.load(), chunk});
    }
    const QString overrun = firstOverrun(grants, rate, true);
    QVERIFY2(overrun.isEmpty(), qPrintable(overrun));
    QVERIFY2(std::abs(clock->now.load() - endNs) <= count, qPrintable(QString::number(clock->now.load())));
    QVERIFY(clock->longestSleep.load() <= RateLimit::kSliceNs);
}

void TestRateLimit::twoTakersShareOneLimit_data()
{
    QTest::addColumn<qint64>("rate");
    QTest::addColumn<qint64>("chunkA");
    QTest::addColumn<qint64>("chunkB");
    QTest::addColumn<qint64>("total"); // bytes each taker moves
    QTest::newRow("same chunks") << qint64(1 << 20) << qint64(16384) << qint64(16384) << qint64(4 << 20);
    QTest::newRow("a download beside an upload's steps") << qint64(1 << 20) << qint64(16384) << qint64(262144)
                                                          << qint64(4 << 20);
    QTest::newRow("slow rate, bursts larger than it") << qint64(20000) << qint64(16384) << qint64(65536)
                                                      << qint64(262144);
    QTest::newRow("fast rate, tiny chunks") << qint64(64 << 20) << qint64(512) << qint64(700) << qint64(1 << 20);
}

// Two transfer threads on one limit: together they never run ahead of it, and it is not
// twice the rate they get.
void TestRateLimit::twoTakersShareOneLimit()
{
    QFETCH(qint64, rate);
    QFETCH(qint64, chunkA);
    QFETCH(qint64, chunkB);
    QFETCH(qint64, total);
    const auto clock = std::make_shared<FakeClock>();
    RateLimit limit(rate, clock);
    std::mutex mutex;
    std::vector<Grant> grants;
    std::atomic<int> refused{0};
    const auto taker = [&](qint64 chunk) {
        for (qint64 moved = 0; moved < total; moved += chunk) {
            const qint64 n = std::min(chunk, total - moved);
            if (!limit.take(n, kGoOn))
                ++refused;
            const std::lock_guard lock(mutex);
            grants.push_back({0, clock->now.load(), n});
        }
    };
    std::thread a(taker, chunkA);
    std::thread b(taker, chunkB);
    a.join();
    b.join();
    QCOMPARE(refused.load(), 0);
    const QString overrun = firstOverrun(grants, rate, false);
    QVERIFY2(overrun.isEmpty(), qPrintable(overrun));
    QVERIFY(clock->longestSleep.load() <= RateLimit::kSliceNs);
}

void TestRateLimit::rateChange_data()
{
    QTest::addColumn<qint64>("first");
    QTest::addColumn<qint64>("second");
    QTest::addColumn<qint64>("bytes"); // taken after the change
    QTest::addColumn<qint64>("waitNs"); // what that taking waits
    // Before the change: the bucket emptied, then a second of the first rate owed and paid.
    QTest::newRow("raised") << qint64(10240) << qint64(102400) << qint64(102400) << kSecond;
    QTest::newRow("lowered") << qint64(102400) << qint64(10240) << qint64(10240) << kSecond;
    QTest::newRow("lifted") << qint64(10240) << qint64(0) << qint64(1 << 30) << qint64(0);
    // The limit starts with a full bucket whatever came before it.
    QTest::newRow("set where there was none") << qint64(0) << qint64(20480) << qint64(16384 + 20480) << kSecond;
}

void TestRateLimit::rateChange()
{
    QFETCH(qint64, first);
    QFETCH(qint64, second);
    QFETCH(qint64, bytes);
    QFETCH(qint64, waitNs);
    const auto clock = std::make_shared<FakeClock>();
    RateLimit limit(first, clock);
    QVERIFY(limit.take(RateLimit::burstFor(first), kGoOn));
    QVERIFY(limit.take(first, kGoOn));
    limit.setRate(second);
    QCOMPARE(limit.rate(), second);
    const qint64 before = clock->now.load();
    QVERIFY(limit.take(bytes, kGoOn));
    QVERIFY2(std::abs(clock->now.load() - before - waitNs) <= 1, qPrintable(QString::number(clock->now.load() - before)));
}

void TestRateLimit::stopWhileWaiting_data()
{
    QTest::addColumn<int>("stopAfter"); // sleeps; -1: stopped before the taking
    QTest::addColumn<bool>("taken");
    QTest::addColumn<qint64>("stoppedAt"); // the time when take() returned
    QTest::newRow("after one slice") << 1 << false << RateLimit::kSliceNs;
    QTest::newRow("after three slices") << 3 << false << 3 * RateLimit::kSliceNs;
    QTest::newRow("already stopped") << -1 << false << qint64(0);
    QTest::newRow("never") << 1000 << true << 10 * kSecond;
}

// A stopped transfer returns at the next slice, and the rest of its wait is not held
// against the next taking: that one waits only for its own bytes.
void TestRateLimit::stopWhileWaiting()
{
    QFETCH(int, stopAfter);
    QFETCH(bool, taken);
    QFETCH(qint64, stoppedAt);
    constexpr qint64 rate = 10240;
    const auto clock = std::make_shared<FakeClock>();
    std::atomic<bool> stop{stopAfter < 0};
    int slept = 0;
    clock->onSleep = [&] {
        if (++slept == stopAfter)
            stop = true;
    };
    RateLimit limit(rate, clock);
    // A full bucket, then ten seconds owed.
    QCOMPARE(limit.take(RateLimit::burstFor(rate) + 10 * rate, stop), taken);
    QCOMPARE(clock->now.load(), stoppedAt);

    stop = false;
    clock->onSleep = nullptr;
    QVERIFY(limit.take(rate, stop));
    QCOMPARE(clock->now.load(), stoppedAt + kSecond);
}

void TestRateLimit::neverWaits_data()
{
    QTest::addColumn<qint64>("rate");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<qint64>("owed"); // by another taker on the limit, waiting meanwhile
    QTest::newRow("no limit: a chunk") << qint64(0) << qint64(16384) << false << qint64(0);
    QTest::newRow("no limit: a large file at once") << qint64(0) << (qint64(8) << 30) << false << qint64(0);
    QTest::newRow("no limit: nothing") << qint64(0) << qint64(0) << false << qint64(0);
    QTest::newRow("no limit: stopped") << qint64(0) << qint64(16384) << true << qint64(0);
    // A read that found nothing takes 0 bytes.
    QTest::newRow("nothing while another owes, slow") << qint64(10240) << qint64(0) << false << qint64(100 * 10240);
    QTest::newRow("nothing while another owes, fast") << qint64(64 << 20) << qint64(0) << false << qint64(64 << 20);
}

// Without a limit, or with nothing to take, take() returns at once without reading the
// time, whatever the other takers owe.
void TestRateLimit::neverWaits()
{
    QFETCH(qint64, rate);
    QFETCH(qint64, bytes);
    QFETCH(bool, stopped);
    QFETCH(qint64, owed);
    const auto clock = std::make_shared<FakeClock>();
    RateLimit limit(rate, clock);
    const std::atomic<bool> stop{stopped};
    bool calm = false;
    const auto takeThrice = [&] {
        const qint64 at = clock->now.load();
        const int reads = clock->reads.load();
        bool answered = true;
        for (int i = 0; i < 3; ++i)
            answered = answered && limit.take(bytes, stop) == !stopped;
        calm = answered && clock->now.load() == at && clock->reads.load() == reads;
    };
    if (owed > 0) {
        clock->onSleep = [&, asked = false]() mutable {
            if (!std::exchange(asked, true))
                takeThrice();
        };
        QVERIFY(limit.take(RateLimit::burstFor(rate) + owed, kGoOn));
    } else {
        takeThrice();
    }
    QVERIFY(calm);
}

void TestRateLimit::limitedTransferArrivesWhole_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<qint64>("rate");
    QTest::addColumn<int>("size");
    QTest::newRow("download") << false << qint64(4 << 20) << 1'000'003;
    QTest::newRow("upload") << true << qint64(4 << 20) << 1'000'003;
    QTest::newRow("download below a chunk a second") << false << qint64(12000) << 20'000;
    QTest::newRow("upload below a chunk a second") << true << qint64(12000) << 20'000;
}

// Through a limit the file still arrives byte for byte, and the limit was used.
void TestRateLimit::limitedTransferArrivesWhole()
{
    QFETCH(bool, upload);
    QFETCH(qint64, rate);
    QFETCH(int, size);
    RealFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    const QByteArray content = patternBytes(size, quint32(size) + (upload ? 1 : 2));
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("file.bin"));
    if (upload)
        QVERIFY(writeFile(local, content));
    else
        QVERIFY(server.writeFile(QStringLiteral("file.bin"), content));

    const auto clock = std::make_shared<CountingClock>();
    FTP::Settings settings = FTP::defaultSettings();
    settings.rateLimit = std::make_shared<RateLimit>(rate, clock);
    const auto ftp = FTP::connectTo(server.address(), RealFtpServer::user(), RealFtpServer::password(), {}, settings);
    QVERIFY(ftp->isConnected());
    TransferRecorder recorder(ftp.get());
    const int code = upload ? ftp->put(local, QStringLiteral("/file.bin"), 3) : ftp->get(QStringLiteral("/file.bin"), local, 3);
    QVERIFY2(code == 150 || code == 125, qPrintable(QString::number(code)));
    QVERIFY(recorder.waitForCompletion());
    QVERIFY(recorder.flush());
    QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
    QCOMPARE(upload ? server.readFile(QStringLiteral("file.bin")) : readFile(local), content);
    QVERIFY(clock->reads.load() > 0);
    ftp->shutdown();
}

QTEST_GUILESS_MAIN(TestRateLimit)
#include "tst_ratelimit.moc"
