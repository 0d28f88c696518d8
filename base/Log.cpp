// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Log.h"

#include "base/ByteNames.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <pthread.h>
#include <signal.h>

namespace zodaru {

namespace {

// How long the writer lets lines gather before it writes them: one write (and one batch
// for the log tab) per interval however many chunks a transfer logs. It is also the most
// a crash can take from the log.
constexpr std::chrono::milliseconds kGatherInterval{5};
// Past this many waiting lines the writer is woken at once; past the second bound a
// logging thread writes them itself, so a slow reader of standard error slows the
// program down instead of letting the log grow without limit.
constexpr std::size_t kWakeWriterAt = 8192;
constexpr std::size_t kWriteInlineAt = 65536;

struct Record {
    const char *format;
    std::size_t firstArg;
    std::size_t argCount;
};

// Lines logged and not yet written. Loggers only take `queueMutex`, briefly; writing
// happens under `writeMutex`, which is held from taking the lines to handing them out so
// that two writers (the thread, a flush) can never reorder them.
struct LogState {
    std::mutex queueMutex;
    std::condition_variable wake;
    std::vector<Record> records;
    std::vector<LogArg> args;
    bool writerIdle = false; // waiting with nothing to write: every new line wakes it
    bool writerStarted = false;

    std::mutex writeMutex;
    std::function<void(const QString &)> sink;
    std::atomic<bool> synchronous{false};

    std::mutex listenerMutex;
    std::vector<std::pair<int, std::function<void(const QStringList &)>>> listeners;
    int nextHandle = 1;
};

LogState &state()
{
    // Never destroyed: detached workers may log while the process exits.
    static LogState *const s = new LogState;
    return *s;
}

// A log whose reader went away (`zodaru 2>&1 | head`) must not end the program: SIGPIPE
// is held back for the write and the one it raised is consumed. Later lines are dropped.
void writeToStandardError(const QByteArray &bytes)
{
    static std::atomic<bool> readerGone{false};
    if (bytes.isEmpty() || readerGone.load(std::memory_order_relaxed))
        return;
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    // Whole lines in one call: nothing else writes the log between two batches.
    const qsizetype written = qsizetype(std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr));
    if (written < bytes.size() && errno == EPIPE) {
        readerGone = true;
        if (!sigismember(&pendingBefore, SIGPIPE)) {
            const timespec noWait{};
            sigtimedwait(&pipeSignal, nullptr, &noWait);
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

// Messages carry server replies, listings and file names: every control character but
// the newline that ends the message is shown escaped.
QString escapedLine(const QString &text)
{
    const bool endsLine = text.endsWith(QLatin1Char('\n'));
    QString line = escapedForLog(endsLine ? QStringView(text).chopped(1) : QStringView(text));
    if (endsLine)
        line.append(QLatin1Char('\n'));
    return line;
}

// Takes every waiting line and writes it; the caller holds writeMutex.
void writePending(LogState &s, std::vector<Record> &records, std::vector<LogArg> &args)
{
    {
        std::lock_guard lock(s.queueMutex);
        records.swap(s.records);
        args.swap(s.args);
    }
    if (records.empty())
        return;
    QStringList lines;
    lines.reserve(qsizetype(records.size()));
    for (const Record &r : records)
        lines.append(escapedLine(formatLog(r.format, args.data() + r.firstArg, qsizetype(r.argCount))));
    // Kept for the next batch: their capacity is what makes logging allocation-free.
    records.clear();
    args.clear();

    {
        std::lock_guard lock(s.listenerMutex);
        for (const auto &entry : s.listeners)
            entry.second(lines);
    }
    if (s.sink) {
        for (const QString &line : std::as_const(lines))
            s.sink(line);
        return;
    }
    QByteArray bytes;
    for (const QString &line : std::as_const(lines)) {
        bytes.append(line.toUtf8());
        // Like the platform's log call, a message that already ends its line gets no second one.
        if (!line.endsWith(QLatin1Char('\n')))
            bytes.append('\n');
    }
    writeToStandardError(bytes);
}

// The writer's own batches, reused so that their capacity stays.
void flushWith(std::vector<Record> &records, std::vector<LogArg> &args)
{
    auto &s = state();
    std::lock_guard lock(s.writeMutex);
    writePending(s, records, args);
}

void writerLoop()
{
    auto &s = state();
    std::vector<Record> records;
    std::vector<LogArg> args;
    for (;;) {
        {
            std::unique_lock lock(s.queueMutex);
            if (s.records.empty()) {
                s.writerIdle = true;
                s.wake.wait(lock, [&s] { return !s.records.empty(); });
                s.writerIdle = false;
            }
            // Lets the lines of the next few milliseconds join this batch.
            s.wake.wait_for(lock, kGatherInterval, [&s] { return s.records.size() >= kWakeWriterAt; });
        }
        flushWith(records, args);
    }
}

void startWriter(LogState &s)
{
    s.writerStarted = true;
    std::thread(writerLoop).detach();
    // Lines still waiting when the program returns from main or calls exit().
    std::atexit(flushLog);
}

} // namespace

void LogArg::appendTo(QString &out) const
{
    switch (kind) {
    case Kind::Text:
        out += text;
        break;
    case Kind::Signed:
        out += QString::number(number.i);
        break;
    case Kind::Unsigned:
        out += QString::number(number.u);
        break;
    case Kind::Real:
        out += QString::number(number.d);
        break;
    case Kind::Bytes:
        out += nameFromBytes(bytes);
        break;
    }
}

QString formatLog(const char *format, const LogArg *args, qsizetype count)
{
    QString out;
    qsizetype next = 0;
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            // Formats are ASCII apart from the odd accented letter, which is UTF-8.
            const char *start = p;
            while (p[1] && p[1] != '%')
                ++p;
            out += QString::fromUtf8(start, p - start + 1);
            continue;
        }
        const char *directive = p + 1;
        if (*directive == '%') {
            out += QLatin1Char('%');
            p = directive;
            continue;
        }
        // Skip flags, width, precision and length modifiers: "%.2f", "%ld".
        while (*directive && std::strchr("-+ #0123456789.lhqzjt", *directive))
            ++directive;
        if (!*directive) {
            out += QString::fromUtf8(p);
            break;
        }
        if (next < count)
            args[next].appendTo(out);
        ++next;
        p = directive;
    }
    return out;
}

void logLine(const char *format, const LogArg *args, qsizetype count)
{
    auto &s = state();
    bool wakeWriter = false;
    bool writeNow = s.synchronous.load(std::memory_order_relaxed);
    {
        std::lock_guard lock(s.queueMutex);
        s.records.push_back({format, s.args.size(), std::size_t(count)});
        s.args.insert(s.args.end(), args, args + count);
        if (!s.writerStarted)
            startWriter(s);
        // Only the writer clears writerIdle: lines written by their own thread may be gone
        // by the time it wakes, and it must then still be woken by the next ones.
        wakeWriter = s.writerIdle || s.records.size() == kWakeWriterAt;
        writeNow = writeNow || s.records.size() >= kWriteInlineAt;
    }
    if (wakeWriter)
        s.wake.notify_one();
    if (writeNow)
        flushLog();
}

void flushLog()
{
    std::vector<Record> records;
    std::vector<LogArg> args;
    flushWith(records, args);
}

int addLogListener(std::function<void(const QStringList &)> listener)
{
    auto &s = state();
    std::lock_guard lock(s.listenerMutex);
    const int handle = s.nextHandle++;
    s.listeners.emplace_back(handle, std::move(listener));
    return handle;
}

void removeLogListener(int handle)
{
    auto &s = state();
    std::lock_guard lock(s.listenerMutex);
    std::erase_if(s.listeners, [handle](const auto &entry) { return entry.first == handle; });
}

void setLogSink(std::function<void(const QString &)> sink)
{
    auto &s = state();
    // What was logged before goes where it was meant to go.
    flushLog();
    std::lock_guard lock(s.writeMutex);
    s.synchronous = bool(sink);
    s.sink = std::move(sink);
}

} // namespace zodaru
