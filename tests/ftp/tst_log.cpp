// SPDX-License-Identifier: GPL-3.0-or-later
// The log never makes the thread that logs wait for standard error's reader.
#include "base/Log.h"

#include "base/ByteNames.h"

#include <QScopeGuard>
#include <QTest>
#include <QVariant>

#include <mutex>
#include <vector>

#include <atomic>
#include <condition_variable>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace zodaru;

namespace {

// Standard error replaced by a pipe that nobody reads until read() is called.
class UnreadStandardError final {
public:
    UnreadStandardError()
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0)
            qFatal("pipe");
        readEnd_ = ends[0];
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(ends[1], STDERR_FILENO);
        ::close(ends[1]);
    }
    ~UnreadStandardError()
    {
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        ::close(readEnd_);
    }
    Q_DISABLE_COPY_MOVE(UnreadStandardError)

    // What is in the pipe now, waiting up to `waitMs` for the first byte.
    QByteArray read(int waitMs)
    {
        QByteArray got;
        pollfd p{readEnd_, POLLIN, 0};
        while (::poll(&p, 1, got.isEmpty() ? waitMs : 0) > 0) {
            char buffer[65536];
            const ssize_t n = ::read(readEnd_, buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        return got;
    }

private:
    int readEnd_ = -1;
    int saved_ = -1;
};

// Standard error sent to /dev/null while it lives.
class DiscardedStandardError final {
public:
    DiscardedStandardError()
    {
        const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        saved_ = ::dup(STDERR_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    ~DiscardedStandardError()
    {
        flushLog();
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
    Q_DISABLE_COPY_MOVE(DiscardedStandardError)

private:
    int saved_ = -1;
};

// The formats of the line table: literals, as the log requires (it knows them by address).
constexpr const char *kFormats[] = {
    "send : %d upto : %d ",
    "chunk (%i,%i) == %i ",
    "nouvelle taille de send : %i (%i) ",
    "SEND <%@> <%@> <size: %i / %i> <isDone: %i> <isCurrent: %i>",
    "100%% fait : %@",
    "Fichier %@ sauve !\n",
    "reponse : %@",
    "a %i b %@ c",
    "taux %.2f",
    "50 %",
    "Fichier reçu : %@",
    "sans argument",
};

LogArg logArg(const QVariant &v)
{
    switch (v.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
        return LogArg(v.toLongLong());
    case QMetaType::Bool:
        return LogArg(v.toBool());
    case QMetaType::ULongLong:
        return LogArg(v.toULongLong());
    case QMetaType::Double:
        return LogArg(v.toDouble());
    case QMetaType::QByteArray:
        return LogArg(PeerBytes{v.toByteArray()});
    default:
        return LogArg(v.toString());
    }
}

} // namespace

class TestLog final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stoppedReaderDoesNotStopLogging();
    void linesAsWritten_data();
    void linesAsWritten();
    void busyWriterSlowsLoggers_data();
    void busyWriterSlowsLoggers();
};

void TestLog::stoppedReaderDoesNotStopLogging()
{
    flushLog(); // nothing earlier goes to the pipe
    // Far past the lines kept for standard error, from a thread of its own: logging on
    // the test's thread would hang the test instead of failing it.
    constexpr int kLines = 300000;
    std::atomic<qsizetype> listened{0};
    const int listener = addLogListener([&listened](const QByteArray &, qsizetype count) { listened += count; });
    UnreadStandardError pipe;
    std::atomic<bool> logged{false};
    std::thread logger([&logged] {
        for (int i = 0; i < kLines; ++i)
            zlog("ligne %i", i);
        logged = true;
    });
    QByteArray written;
    const auto drainAndJoin = qScopeGuard([&] {
        while (!logged)
            written += pipe.read(10);
        logger.join();
        removeLogListener(listener);
    });
    QTRY_VERIFY_WITH_TIMEOUT(logged, 60000);

    // Read again: what was kept is written, then the count of what was dropped before
    // the next line.
    std::atomic<bool> reading{true};
    std::thread reader([&] {
        for (;;) {
            const QByteArray got = pipe.read(10);
            written += got;
            if (got.isEmpty() && !reading)
                return;
        }
    });
    flushLog();
    zlog("fin");
    flushLog();
    reading = false;
    reader.join();

    QCOMPARE(listened.load(), qsizetype(kLines + 1)); // the log tab gets every line
    // Every line written in order or counted where it is missing, the last one included.
    const QList<QByteArray> lines = written.split('\n');
    qint64 next = 0;
    qint64 lost = 0;
    for (const QByteArray &line : lines) {
        if (line.startsWith("ligne ")) {
            QCOMPARE(line.mid(6).toLongLong(), next);
            ++next;
        } else if (line.endsWith(" lignes de journal perdues")) {
            const qint64 count = line.first(line.indexOf(' ')).toLongLong();
            QVERIFY(count > 0);
            next += count;
            lost += count;
        }
    }
    QCOMPARE(next, qint64(kLines));
    QVERIFY(lost > 0);
    QVERIFY(written.endsWith("\nfin\n"));
}

void TestLog::linesAsWritten_data()
{
    QTest::addColumn<int>("format"); // in kFormats
    QTest::addColumn<QVariantList>("args");
    QTest::addColumn<QByteArray>("line"); // as written, newline included

    QTest::newRow("upload step") << 0 << QVariantList{qint64(1) << 40, 16384} << QByteArray("send : 1099511627776 upto : 16384 \n");
    QTest::newRow("chunk") << 1 << QVariantList{0, 16384, 16384} << QByteArray("chunk (0,16384) == 16384 \n");
    QTest::newRow("chunk, negative") << 1 << QVariantList{-5, 0, 5} << QByteArray("chunk (-5,0) == 5 \n");
    QTest::newRow("upload progress") << 2 << QVariantList{32768, 16384} << QByteArray("nouvelle taille de send : 32768 (16384) \n");
    QTest::newRow("queue row, names escaped")
        << 3 << QVariantList{QStringLiteral("a\tb"), QStringLiteral("/up/été"), 10, 20, false, true}
        << QByteArray("SEND <a\\tb> </up/\xc3\xa9t\xc3\xa9> <size: 10 / 20> <isDone: 0> <isCurrent: 1>\n");
    QTest::newRow("percent sign") << 4 << QVariantList{QStringLiteral("x")} << QByteArray("100% fait : x\n");
    QTest::newRow("format ends its line") << 5 << QVariantList{QStringLiteral("f")} << QByteArray("Fichier f sauve !\n");
    QTest::newRow("argument ends the line") << 6 << QVariantList{QStringLiteral("226 ok\r\n")} << QByteArray("reponse : 226 ok\\r\n");
    QTest::newRow("newline inside an argument") << 6 << QVariantList{QStringLiteral("a\nb")} << QByteArray("reponse : a\\nb\n");
    QTest::newRow("peer bytes, not UTF-8") << 6 << QVariantList{QByteArray("na\xffme")} << QByteArray("reponse : na\\xffme\n");
    QTest::newRow("fewer arguments than places") << 7 << QVariantList{1} << QByteArray("a 1 b  c\n");
    QTest::newRow("more arguments than places") << 7 << QVariantList{1, QStringLiteral("x"), 3} << QByteArray("a 1 b x c\n");
    QTest::newRow("real") << 8 << QVariantList{2.5} << QByteArray("taux 2.5\n");
    QTest::newRow("place cut by the end") << 9 << QVariantList{} << QByteArray("50 %\n");
    QTest::newRow("accented format") << 10 << QVariantList{QStringLiteral("f")} << QByteArray("Fichier re\xc3\xa7u : f\n");
    QTest::newRow("no argument") << 11 << QVariantList{} << QByteArray("sans argument\n");
}

// A line reads the same whichever way it is made: as the writer writes it (its formats
// kept from one line to the next), as appendLogLine() makes it, and as a sink gets it.
void TestLog::linesAsWritten()
{
    QFETCH(int, format);
    QFETCH(QVariantList, args);
    QFETCH(QByteArray, line);
    std::vector<LogArg> packed;
    for (const QVariant &v : std::as_const(args))
        packed.push_back(logArg(v));

    QByteArray direct;
    appendLogLine(direct, kFormats[format], packed.data(), qsizetype(packed.size()));
    QCOMPARE(direct, line);
    // A sink gets the text without the line's own newline, the rest escaped alike.
    const QString text = formatLog(kFormats[format], packed.data(), qsizetype(packed.size()));
    const bool endsLine = text.endsWith(QLatin1Char('\n'));
    QCOMPARE(escapedForLog(endsLine ? QStringView(text).chopped(1) : QStringView(text)).toUtf8() + '\n', line);

    flushLog();
    std::mutex mutex;
    QByteArray written;
    const int listener = addLogListener([&](const QByteArray &lines, qsizetype) {
        std::lock_guard lock(mutex);
        written += lines;
    });
    // Twice: the second line comes from the format as the writer kept it.
    for (int i = 0; i < 2; ++i) {
        std::vector<LogArg> copy = packed;
        logLine(kFormats[format], copy.data(), qsizetype(copy.size()));
    }
    flushLog();
    removeLogListener(listener);
    QCOMPARE(written, line + line);
}

void TestLog::busyWriterSlowsLoggers_data()
{
    QTest::addColumn<int>("payload"); // 0: none, 1: a text of their own, 2: peer bytes
    QTest::addColumn<int>("threads");
    QTest::addColumn<int>("lines"); // per thread

    QTest::newRow("short lines") << 0 << 1 << 400000;
    QTest::newRow("texts") << 1 << 1 << 40000;
    QTest::newRow("peer bytes") << 2 << 1 << 40000;
    QTest::newRow("texts, three threads") << 1 << 3 << 20000;
    QTest::newRow("peer bytes, three threads") << 2 << 3 << 20000;
}

// While the writer is held up (a listener that does not return), threads that log stop
// once the lines waiting reach their bound, instead of piling up tens of megabytes; once
// it goes on, every line is written, in each thread's order, handed out a megabyte or so
// at a time.
void TestLog::busyWriterSlowsLoggers()
{
    QFETCH(int, payload);
    QFETCH(int, threads);
    QFETCH(int, lines);
    flushLog();
    const DiscardedStandardError discarded;

    std::mutex mutex;
    std::condition_variable released;
    bool open = false;
    qsizetype largestHandOut = 0;
    std::vector<int> next(std::size_t(threads), 0);
    bool inOrder = true;
    const int listener = addLogListener([&](const QByteArray &bytes, qsizetype) {
        std::unique_lock lock(mutex);
        released.wait(lock, [&open] { return open; });
        largestHandOut = qMax(largestHandOut, bytes.size());
        for (const QByteArray &line : bytes.split('\n')) {
            if (!line.startsWith("fil "))
                continue;
            const QList<QByteArray> words = line.split(' ');
            int &expected = next[std::size_t(words.at(1).toInt())];
            inOrder = inOrder && words.at(2).toInt() == expected;
            ++expected;
        }
    });
    const auto release = [&] {
        std::lock_guard lock(mutex);
        open = true;
        released.notify_all();
    };

    std::atomic<qint64> logged{0};
    std::vector<std::thread> loggers;
    for (int t = 0; t < threads; ++t) {
        loggers.emplace_back([&logged, payload, lines, t] {
            for (int i = 0; i < lines; ++i) {
                if (payload == 1)
                    zlog("fil %i %i %@", t, i, QString(256, QLatin1Char('t')));
                else if (payload == 2)
                    zlog("fil %i %i %@", t, i, PeerBytes{QByteArray(512, 'b')});
                else
                    zlog("fil %i %i", t, i);
                ++logged;
            }
        });
    }
    const auto joined = qScopeGuard([&] {
        release();
        for (std::thread &logger : loggers)
            logger.join();
        flushLog();
        removeLogListener(listener);
    });
    // Until the loggers are done or stand still.
    const qint64 total = qint64(threads) * lines;
    for (qint64 seen = -1; logged < total && logged != seen;) {
        seen = logged;
        QTest::qWait(50);
    }
    QVERIFY2(logged < total, "the loggers went on while nothing was written");

    release();
    for (std::thread &logger : loggers)
        logger.join();
    loggers.clear();
    flushLog();
    std::lock_guard lock(mutex);
    QVERIFY(inOrder);
    for (int t = 0; t < threads; ++t)
        QCOMPARE(next[std::size_t(t)], lines);
    QVERIFY2(largestHandOut <= 1024 * 1024 + 4096, QByteArray::number(largestHandOut));
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
