// SPDX-License-Identifier: GPL-3.0-or-later
// The log tab: every line logged on any thread shows, in order, bounded, failures apart.
#include "base/Log.h"
#include "support/TestSupport.h"
#include "ui/LogPane.h"

#include <QApplication>
#include <QTest>
#include <QTextBlock>

#include <optional>
#include <thread>

using namespace zodaru;

class TestLogPane final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linesFromThreadsInOrder_data();
    void linesFromThreadsInOrder();
    void keepsTheLastLines();
    void hiddenPaneCatchesUpWhenShown();
    void busyPaneShowsTheNewestLines();
    void failuresStandOut_data();
    void failuresStandOut();
};

void TestLogPane::linesFromThreadsInOrder_data()
{
    QTest::addColumn<bool>("captured");
    // Captured, every line is written before zlog returns; otherwise by the log's writer.
    QTest::newRow("captured") << true;
    QTest::newRow("standard error") << false;
}

void TestLogPane::linesFromThreadsInOrder()
{
    QFETCH(bool, captured);
    std::optional<LogCapture> quiet; // keeps standard error clean; the pane listens beside it
    if (captured)
        quiet.emplace();
    LogPane pane;
    pane.show();
    // Fewer than one update shows, so every line is there.
    constexpr int kLines = LogPane::kLinesPerUpdate - 100;
    std::thread worker([] {
        for (int i = 0; i < kLines; ++i)
            zlog("ligne %i\x1b[0m", i);
    });
    worker.join();
    zlog("fin");
    QTRY_COMPARE(pane.blockCount(), kLines + 1);
    const QStringList shown = pane.toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(shown.first(), QStringLiteral("ligne 0\\x1b[0m"));
    QCOMPARE(shown.at(kLines - 1), QStringLiteral("ligne %1\\x1b[0m").arg(kLines - 1));
    QCOMPARE(shown.last(), QStringLiteral("fin"));
}

void TestLogPane::keepsTheLastLines()
{
    LogCapture quiet;
    LogPane pane;
    for (int i = 0; i < LogPane::kMaxLines + 250; ++i)
        zlog("%i", i);
    pane.flushPending();
    QCOMPARE(pane.blockCount(), LogPane::kMaxLines);
    QCOMPARE(pane.document()->firstBlock().text(), QStringLiteral("250"));
    // A whole listing logged as one line shows only its beginning.
    zlog("Buf NLST : %@", QString(100 * LogPane::kMaxLineLength, QLatin1Char('x')));
    zlog("Buf NLST : %@", QString(100 * LogPane::kMaxLineLength, QChar(0x00e9)));
    zlog("apres");
    pane.flushPending();
    QCOMPARE(pane.document()->lastBlock().text(), QStringLiteral("apres"));
    // Cut to the row's length, whatever the characters' size in bytes.
    const auto cut = [](QChar c) {
        return QStringLiteral("Buf NLST : ") + QString(LogPane::kMaxLineLength - 11, c) + QStringLiteral(" [...]");
    };
    QCOMPARE(pane.document()->findBlockByNumber(pane.blockCount() - 3).text(), cut(QLatin1Char('x')));
    QCOMPARE(pane.document()->findBlockByNumber(pane.blockCount() - 2).text(), cut(QChar(0x00e9)));
}

void TestLogPane::hiddenPaneCatchesUpWhenShown()
{
    LogCapture quiet;
    LogPane pane;
    zlog("avant");
    zlog("Exception recue dans pasv ==> %@", QStringLiteral("refused"));
    zlog("");
    zlog("apres");
    QCoreApplication::processEvents();
    QCOMPARE(pane.toPlainText(), QString());
    pane.show();
    QCOMPARE(pane.toPlainText(), QStringLiteral("avant\nException recue dans pasv ==> refused\n\napres"));
    const QTextBlock failure = pane.document()->findBlockByNumber(1);
    QCOMPARE(failure.begin().fragment().charFormat().fontWeight(), int(QFont::Bold));
    QVERIFY(pane.document()->findBlockByNumber(3).begin().fragment().charFormat().fontWeight() != int(QFont::Bold));
}

void TestLogPane::busyPaneShowsTheNewestLines()
{
    LogCapture quiet;
    LogPane pane;
    pane.show();
    const int count = LogPane::kLinesPerUpdate + 100;
    for (int i = 0; i < count; ++i)
        zlog("%i", i);
    QTRY_COMPARE(pane.blockCount(), LogPane::kLinesPerUpdate + 1);
    QVERIFY(pane.document()->firstBlock().text().contains(QLatin1String(" 100 ")));
    QCOMPARE(pane.document()->findBlockByNumber(1).text(), QStringLiteral("100"));
    QCOMPARE(pane.document()->lastBlock().text(), QString::number(count - 1));
}

void TestLogPane::failuresStandOut_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("failure");
    QTest::newRow("reply") << QStringLiteral("RET() ==> 226 Transfer complete") << false;
    QTest::newRow("exception") << QStringLiteral("Exception recue dans pasv ==> refused") << true;
    QTest::newRow("time-out") << QStringLiteral("Delai depasse dans ret : on ferme la connexion") << true;
    QTest::newRow("refused name") << QStringLiteral("Nom de fichier refuse : <..>") << true;
    QTest::newRow("closing") << QStringLiteral("CLOSING CONNECTION !") << true;
}

void TestLogPane::failuresStandOut()
{
    QFETCH(QString, line);
    QFETCH(bool, failure);
    QCOMPARE(LogPane::isErrorLine(line), failure);
}

QTEST_MAIN(TestLogPane)
#include "tst_logpane.moc"
