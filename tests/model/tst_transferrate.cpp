// SPDX-License-Identifier: GPL-3.0-or-later
// Speed and time left of a running transfer, fed with made-up arrival times.
#include "model/TransferRate.h"

#include <QTest>

using namespace zodaru;

using Arrivals = QList<QPair<qint64, qint64>>; // (ms, bytes)

class TestTransferRate final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void speed_data();
    void speed();
    void texts_data();
    void texts();
};

void TestTransferRate::speed_data()
{
    QTest::addColumn<Arrivals>("arrivals");
    QTest::addColumn<qint64>("nowMs");
    QTest::addColumn<double>("bytesPerSecond");
    QTest::addColumn<qint64>("secondsLeftOf10MB");

    Arrivals steady; // 1 MB every 100 ms for 10 s: 10 MB/s
    for (qint64 t = 0; t < 10000; t += 100)
        steady.append({t, 1000000});
    QTest::newRow("nothing yet") << Arrivals{} << qint64(5000) << 0.0 << qint64(-1);
    QTest::newRow("under a second") << Arrivals{{0, 500000}, {500, 500000}} << qint64(900) << 0.0 << qint64(-1);
    QTest::newRow("steady") << steady << qint64(9999) << 10e6 << qint64(1);
    QTest::newRow("young transfer") << Arrivals{{0, 1000000}, {1000, 1000000}} << qint64(2000) << 1e6
                                    << qint64(10);
    // Only the last five seconds count: a fast start does not hide a stall.
    QTest::newRow("stalled after a burst") << Arrivals{{0, 50000000}} << qint64(20000) << 0.0 << qint64(-1);
    QTest::newRow("slowed down") << Arrivals{{0, 50000000}, {15000, 2500000}, {19900, 2500000}}
                                 << qint64(19999) << 1e6 << qint64(10);
}

void TestTransferRate::speed()
{
    QFETCH(Arrivals, arrivals);
    QFETCH(qint64, nowMs);
    QFETCH(double, bytesPerSecond);
    QFETCH(qint64, secondsLeftOf10MB);
    TransferRate rate;
    for (const auto &[ms, bytes] : arrivals)
        rate.add(bytes, ms);
    QVERIFY2(qAbs(rate.bytesPerSecond(nowMs) - bytesPerSecond) <= bytesPerSecond * 0.06,
             qPrintable(QString::number(rate.bytesPerSecond(nowMs))));
    QCOMPARE(rate.secondsLeft(10000000, nowMs), secondsLeftOf10MB);
}

void TestTransferRate::texts_data()
{
    QTest::addColumn<double>("speed");
    QTest::addColumn<QString>("speedText");
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("durationText");
    QTest::newRow("bytes") << 12.0 << QStringLiteral("12 B/s") << qint64(0) << QStringLiteral("0:00");
    QTest::newRow("kilobytes") << 850e3 << QStringLiteral("850 KB/s") << qint64(42) << QStringLiteral("0:42");
    QTest::newRow("megabytes") << 12.34e6 << QStringLiteral("12.3 MB/s") << qint64(725) << QStringLiteral("12:05");
    QTest::newRow("gigabytes") << 1.5e9 << QStringLiteral("1.5 GB/s") << qint64(3723) << QStringLiteral("1:02:03");
    QTest::newRow("unknown") << 0.0 << QStringLiteral("0 B/s") << qint64(-1) << QString();
}

void TestTransferRate::texts()
{
    QFETCH(double, speed);
    QFETCH(QString, speedText);
    QFETCH(qint64, seconds);
    QFETCH(QString, durationText);
    QCOMPARE(TransferRate::speedText(speed), speedText);
    QCOMPARE(TransferRate::durationText(seconds), durationText);
}

QTEST_GUILESS_MAIN(TestTransferRate)
#include "tst_transferrate.moc"
