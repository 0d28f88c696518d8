// SPDX-License-Identifier: GPL-3.0-or-later
// Names as bytes: what a server or the disk lists comes back byte for byte, whatever its
// encoding, and neither the screen nor the log ever shows raw control bytes.
#include "base/ByteNames.h"
#include "base/Log.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QTest>

#include <cstdlib>

#include <unistd.h>

using namespace zodaru;

class TestByteNames final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void logLinesAreEscaped_data();
    void logLinesAreEscaped();
    void blockLinesAreTheLinesLogged();
    void logLinesSurviveLeaving_data();
    void logLinesSurviveLeaving();
    // Last: once the log's reader is gone the program writes no more log lines.
    void closedLogPipeIsSurvived();
};

void TestByteNames::roundTrip_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");
    const QString bad(QChar::ReplacementCharacter);
    QTest::newRow("ascii") << QByteArray("report.txt") << QStringLiteral("report.txt");
    QTest::newRow("utf-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9");
    QTest::newRow("astral") << QByteArray("\xf0\x9f\x98\x80") << QStringLiteral("\U0001F600");
    QTest::newRow("latin-1") << QByteArray("caf\xe9.txt") << QStringLiteral("caf") + bad + QStringLiteral(".txt");
    QTest::newRow("lone continuation") << QByteArray("\x80") << bad;
    QTest::newRow("overlong slash") << QByteArray("\xc0\xaf") << bad + bad;
    QTest::newRow("encoded surrogate") << QByteArray("\xed\xb2\x80") << bad + bad + bad;
    QTest::newRow("past U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << bad + bad + bad + bad;
    QTest::newRow("cut sequence") << QByteArray("a\xe2\x82") << QStringLiteral("a") + bad + bad;
    QTest::newRow("every high byte") << [] {
        QByteArray all;
        for (int b = 0x80; b <= 0xff; ++b)
            all.append(char(b));
        return all;
    }() << QString(0x80, QChar::ReplacementCharacter);
}

void TestByteNames::roundTrip()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    const QString name = nameFromBytes(bytes);
    QCOMPARE(bytesOfName(name), bytes);
    QCOMPARE(displayedName(name), shown);
    QCOMPARE(hasUndecodedBytes(name), shown.contains(QChar::ReplacementCharacter));
}

void TestByteNames::logLinesAreEscaped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("logged");
    QTest::newRow("plain") << QStringLiteral("226 Done") << QStringLiteral("226 Done");
    QTest::newRow("terminal escape") << QStringLiteral("550 \x1b[2Jgone") << QStringLiteral("550 \\x1b[2Jgone");
    QTest::newRow("forged line") << QStringLiteral("a\r\nRET() ==> 230") << QStringLiteral("a\\r\\nRET() ==> 230");
    QTest::newRow("C1 control") << QStringLiteral("x\u009by") << QStringLiteral("x\\x9by");
    QTest::newRow("undecoded byte") << nameFromBytes("caf\xe9") << QStringLiteral("caf\\xe9");
    QTest::newRow("final newline kept") << QStringLiteral("line\n") << QStringLiteral("line\n");
    QTest::newRow("inner newline, final kept") << QStringLiteral("a\nb\n") << QStringLiteral("a\\nb\n");
    QTest::newRow("accented and astral") << QStringLiteral("caf\u00e9 \U0001F600\t") << QStringLiteral("caf\u00e9 \U0001F600\\t");
}

void TestByteNames::logLinesAreEscaped()
{
    QFETCH(QString, text);
    QFETCH(QString, logged);
    const QByteArray line = logged.toUtf8() + (logged.endsWith(QLatin1Char('\n')) ? "" : "\n");
    {
        LogCapture log;
        zlog("%@", text);
        QCOMPARE(log.lines(), QStringList{logged});
    }
    // What standard error gets is made straight as bytes: the same line, as text, as the
    // bytes of a peer, and behind a format.
    QByteArray written;
    const int listener = addLogListener([&written](const QByteArray &lines, qsizetype) { written += lines; });
    zlog("%@", text);
    zlog("%@", PeerBytes{bytesOfName(text)});
    zlog("%i %@ %%", -7, text);
    flushLog();
    removeLogListener(listener);
    QCOMPARE(written, line + line + QByteArray("-7 ") + escapedForLog(text).toUtf8() + " %\n");
}

// A block made once is logged as its lines would have been, one by one: same bytes on
// standard error, same text for a sink, also after it was cut back and grew again over the
// bounds of its pieces.
void TestByteNames::blockLinesAreTheLinesLogged()
{
    const QString texts[] = {QStringLiteral("plain"), QStringLiteral("a\r\nforged"), QStringLiteral("ends\n"),
                             nameFromBytes("caf\xe9"), QString(300, QLatin1Char('x'))};
    const auto lineOf = [&texts](int i, auto &&log) { log("DOWNLOADFILES <%i> %@", i, texts[i % 5]); };
    LogBlock block;
    for (int i = 0; i < 1500; ++i)
        lineOf(i, [&block](const char *format, const auto &...args) { block.append(format, args...); });
    block.truncate(1000);
    for (int i = 1000; i < 1200; ++i)
        lineOf(i, [&block](const char *format, const auto &...args) { block.append(format, args...); });
    QCOMPARE(block.lineCount(), 1200);

    const auto logBoth = [&] {
        zlog("avant");
        logBlock(block);
        for (int i = 0; i < 1200; ++i)
            lineOf(i, [](const char *format, const auto &...args) { zlog(format, args...); });
    };
    QByteArray written;
    const int listener = addLogListener([&written](const QByteArray &lines, qsizetype) { written += lines; });
    logBoth();
    flushLog();
    removeLogListener(listener);
    const QByteArray twice = written.mid(written.indexOf('\n') + 1);
    QCOMPARE(twice.left(twice.size() / 2), twice.mid(twice.size() / 2));

    LogCapture log;
    logBoth();
    const QStringList lines = log.lines();
    QCOMPARE(lines.size(), 2401);
    QCOMPARE(lines.mid(1, 1200), lines.mid(1201));
    QCOMPARE(lines.at(3), QStringLiteral("DOWNLOADFILES <2> ends\n"));
}

namespace {

constexpr int kLinesBeforeLeaving = 3000;

// Run as a child by logLinesSurviveLeaving(): logs, then leaves the way `how` says.
int logThenLeave(const char *how)
{
    for (int i = 0; i < kLinesBeforeLeaving; ++i)
        zlog("ligne %i", i);
    if (qstrcmp(how, "exit") == 0)
        std::exit(0);
    if (qstrcmp(how, "_Exit") == 0) {
        flushLog();
        std::_Exit(0);
    }
    return 0;
}

} // namespace

void TestByteNames::logLinesSurviveLeaving_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("return from main") << QStringLiteral("return");
    QTest::newRow("exit()") << QStringLiteral("exit");
    QTest::newRow("flush, then _Exit()") << QStringLiteral("_Exit");
}

void TestByteNames::logLinesSurviveLeaving()
{
    QFETCH(QString, how);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--log-then"), how});
    QVERIFY(child.waitForFinished(30000));
    const QList<QByteArray> lines = child.readAllStandardError().split('\n');
    QCOMPARE(lines.size(), kLinesBeforeLeaving + 1); // and the empty rest after the last newline
    QCOMPARE(lines.at(kLinesBeforeLeaving - 1), QByteArray("ligne ") + QByteArray::number(kLinesBeforeLeaving - 1));
}

void TestByteNames::closedLogPipeIsSurvived()
{
    flushLog(); // nothing earlier goes to the pipe
    int ends[2];
    QCOMPARE(::pipe(ends), 0);
    ::close(ends[0]);
    const int savedStderr = ::dup(STDERR_FILENO);
    ::dup2(ends[1], STDERR_FILENO);
    ::close(ends[1]);
    zlog("nobody reads this");
    zlog("nor this");
    flushLog();
    ::dup2(savedStderr, STDERR_FILENO);
    ::close(savedStderr);
    QVERIFY(true); // reached: SIGPIPE did not end the process
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--log-then") == 0)
        return logThenLeave(argv[2]);
    QCoreApplication app(argc, argv);
    TestByteNames test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_bytenames.moc"
