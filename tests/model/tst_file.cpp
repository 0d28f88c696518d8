// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/File.h"

#include <QtTest>

using zodaru::File;

class TestFile final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void status_data();
    void status();
    void sizeTexts_data();
    void sizeTexts();
    void setIdKeepsLow32Bits_data();
    void setIdKeepsLow32Bits();
    void copyIsAFreshPlainItem();
    void cancelledThenRequeued();
};

void TestFile::status_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<bool>("done");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<QString>("expected");

    const qint64 big = qint64(1) << 32;
    QTest::newRow("waiting") << qint64(10) << qint64(0) << false << false << "Waiting...";
    QTest::newRow("one third") << qint64(3) << qint64(1) << false << false << "33.33 ";
    QTest::newRow("two thirds") << qint64(3) << qint64(2) << false << false << "66.67 ";
    QTest::newRow("all bytes") << qint64(3) << qint64(3) << false << false << "Done.";
    QTest::newRow("done short of size") << qint64(4) << qint64(2) << true << false << "50.00 ";
    QTest::newRow("empty file done") << qint64(0) << qint64(0) << true << false << "Done.";
    QTest::newRow("empty file waiting") << qint64(0) << qint64(0) << false << false << "Waiting...";
    QTest::newRow("error wins when done") << qint64(3) << qint64(3) << true << true << "FTP Error";
    QTest::newRow("error before start") << qint64(3) << qint64(0) << false << true << "FTP Error";
    QTest::newRow("over count") << qint64(3) << qint64(5) << false << false << "ERROR ! (5 > 3)";
    // A listed size of 0 is no size at all (VMS listings give none): not an error.
    QTest::newRow("count on unknown size") << qint64(0) << qint64(5) << false << false << "Running...";
    QTest::newRow("unknown size done") << qint64(0) << qint64(3145728) << true << false << "Done.";
    QTest::newRow("over count 64-bit") << big << big + 705032704 << false << false
                                       << "ERROR ! (5000000000 > 4294967296)";
    // Single precision: both counts round to the same float.
    QTest::newRow("float rounding") << (qint64(1) << 24) + 2 << (qint64(1) << 24) + 1 << false << false
                                    << "100.00 ";
    QTest::newRow("two decimals round up") << qint64(100000) << qint64(99999) << false << false << "100.00 ";
    QTest::newRow("half of 6 GiB") << 3 * big / 2 << 3 * big / 4 << false << false << "50.00 ";
}

void TestFile::status()
{
    QFETCH(qint64, size);
    QFETCH(qint64, count);
    QFETCH(bool, done);
    QFETCH(bool, failed);
    QFETCH(QString, expected);

    File item(QStringLiteral("a.bin"), size, 0);
    item.setCurrent(true);
    item.addToSize(count);
    if (done)
        item.setDone();
    if (failed)
        item.setError();
    QCOMPARE(item.getStatus(), expected);
}

void TestFile::sizeTexts_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("count");
    QTest::addColumn<QString>("sizeText");
    QTest::addColumn<QString>("countText");

    QTest::newRow("zero") << qint64(0) << qint64(0) << "0" << "0";
    // An unknown size (listed as 0) reads as the bytes transferred.
    QTest::newRow("unknown size") << qint64(0) << qint64(3145728) << "3145728" << "3145728";
    QTest::newRow("small") << qint64(1234) << qint64(12) << "1234" << "12";
    QTest::newRow("above 2^31") << qint64(3000000000) << qint64(2147483648) << "3000000000" << "2147483648";
    QTest::newRow("above 2^32") << qint64(8589934593) << qint64(4294967297) << "8589934593" << "4294967297";
}

void TestFile::sizeTexts()
{
    QFETCH(qint64, size);
    QFETCH(qint64, count);
    QFETCH(QString, sizeText);
    QFETCH(QString, countText);
    File item(QStringLiteral("f"), size, 0);
    item.addToSize(count);
    QCOMPARE(item.size(), size);
    QCOMPARE(item.currentsize(), count);
    QCOMPARE(item.printsize(), sizeText);
    QCOMPARE(item.printcurrentsize(), countText);
}

void TestFile::setIdKeepsLow32Bits_data()
{
    QTest::addColumn<qint64>("given");
    QTest::addColumn<qint64>("kept");

    QTest::newRow("small") << qint64(7) << qint64(7);
    QTest::newRow("2^32 + 1") << (qint64(1) << 32) + 1 << qint64(1);
    QTest::newRow("2^31 wraps negative") << (qint64(1) << 31) << qint64(-2147483648LL);
    QTest::newRow("-1") << qint64(-1) << qint64(-1);
}

void TestFile::setIdKeepsLow32Bits()
{
    QFETCH(qint64, given);
    QFETCH(qint64, kept);
    File item;
    item.setID(given);
    QCOMPARE(item.getID(), kept);
}

void TestFile::copyIsAFreshPlainItem()
{
    File dir(QStringLiteral("pub"), 4096, 1);
    dir.setLocalPath(QStringLiteral("/home/u"));
    dir.setRemotePath(QStringLiteral("/srv"));
    dir.setID(5);
    dir.addToSize(10);
    dir.setCurrent(true);
    dir.setDone();
    QVERIFY(dir.isDir());

    File copy = File::copyOf(dir);
    QCOMPARE(copy.name(), QStringLiteral("pub"));
    QCOMPARE(copy.localpath(), QStringLiteral("/home/u"));
    QCOMPARE(copy.remotepath(), QStringLiteral("/srv"));
    QCOMPARE(copy.size(), qint64(4096));
    QCOMPARE(copy.currentsize(), qint64(10));
    QCOMPARE(copy.getID(), qint64(5));
    QVERIFY(copy.isCurrent());
    QCOMPARE(copy.type(), 0);
    QVERIFY(!copy.isDir());
    QVERIFY(!copy.isFinished());
    QVERIFY(!copy.isDone());

    // Value semantics: changing the copy leaves the original alone.
    copy.setRemotePath(QStringLiteral("/other"));
    copy.setError();
    QCOMPARE(dir.remotepath(), QStringLiteral("/srv"));
    QVERIFY(!dir.hasError());

    File failed(QStringLiteral("x"), 1, 0);
    failed.setError();
    QVERIFY(!File::copyOf(failed).hasError());
}

// Cancel, then Retry: the entry waits again from its first byte and is copied as a fresh item.
void TestFile::cancelledThenRequeued()
{
    File entry(QStringLiteral("a"), 10, 0);
    entry.setCurrent(true);
    entry.addToSize(4);
    entry.setCancelled();
    QCOMPARE(entry.getStatus(), QStringLiteral("Cancelled"));
    QVERIFY(entry.isDone() && entry.hasError() && !entry.isCurrent());
    QVERIFY(!File::copyOf(entry).isCancelled());
    entry.requeue();
    QCOMPARE(entry.getStatus(), QStringLiteral("Waiting..."));
    QVERIFY(!entry.isDone() && !entry.isCancelled() && entry.currentsize() == 0);
}

QTEST_GUILESS_MAIN(TestFile)
#include "tst_file.moc"
