// SPDX-License-Identifier: GPL-3.0-or-later
// The log never makes the thread that logs wait for standard error's reader.
#include "base/Log.h"

#include <QScopeGuard>
#include <QTest>

#include <atomic>
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

} // namespace

class TestLog final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void stoppedReaderDoesNotStopLogging();
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

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
