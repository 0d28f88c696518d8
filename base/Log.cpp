// SPDX-License-Identifier: GPL-3.0-or-later
// What waits to be written is bounded (a couple of megabytes): a worker thread that finds
// more waits for the writer's batch and writes the next one itself, so a writer that falls
// behind slows the threads that log rather than piling their lines up; the main thread only
// does so far past the bound. The writer hands its lines out a megabyte or so at a time.
#include "base/Log.h"

#include "base/ByteNames.h"
#include "base/LogFormat.h"
#include "base/StandardError.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace zodaru {

namespace {

// How long the writer lets lines gather before it writes them: one write (and one batch
// for the log tab) per interval however many chunks a transfer logs. It is also the most
// a crash can take from the log.
constexpr std::chrono::milliseconds kGatherInterval{5};
// Past this many waiting lines the writer is woken at once; past the second bound a
// logging thread formats them itself, so a thread that logs faster than one writer can
// format is slowed down instead of letting the log grow without limit. Formatting never
// waits on standard error (see StandardError.h).
constexpr std::size_t kWakeWriterAt = 8192;
constexpr std::size_t kWriteInlineAt = 65536;
// The same bounds on what waiting lines hold (records, arguments, their own texts): lines
// with long texts reach the byte bound long before the count. The main thread only writes
// them itself far past the bound, which no transfer's lines reach: it must not stall on a
// batch a worker filled.
constexpr std::size_t kWakeWriterBytes = 256 * 1024;
constexpr std::size_t kWriteInlineBytes = 2 * 1024 * 1024;
constexpr std::size_t kMainThreadWritesAtBytes = 4 * kWriteInlineBytes;

// A line to format, or (format null) the block at `firstArg` in the blocks.
struct Record {
    const char *format;
    std::size_t firstArg;
    std::size_t argCount;
};

// A batch of lines waiting: taken whole by the writer, kept for their capacity.
struct Batch {
    std::vector<Record> records;
    std::vector<LogArg> args;
    std::vector<LogBlock::Lines> blocks;

    void swap(Batch &other)
    {
        records.swap(other.records);
        args.swap(other.args);
        blocks.swap(other.blocks);
    }
    void clear()
    {
        records.clear();
        args.clear();
        blocks.clear();
    }
};

// The most lines the writer formats before handing them out (a little over: whole lines).
constexpr qsizetype kHandOutBytes = 1024 * 1024;

// Past this size a block's next line starts a new piece. A line added while the writer
// still holds the block copies the piece it goes into, so pieces stay small.
constexpr qsizetype kBlockPieceBytes = 16 * 1024;

// Lines logged and not yet written. Loggers only take `queueMutex`, briefly; writing
// happens under `writeMutex`, which is held from taking the lines to handing them out so
// that two writers (the thread, a flush) can never reorder them.
struct LogState {
    std::mutex queueMutex;
    std::condition_variable wake;
    Batch waiting;
    std::size_t waitingBytes = 0; // roughly what `waiting` holds (see weightOf())
    bool writerIdle = false; // waiting with nothing to write: every new line wakes it
    bool writerStarted = false;

    std::mutex writeMutex;
    std::function<void(const QString &)> sink;
    std::atomic<bool> synchronous{false};

    std::mutex listenerMutex;
    std::vector<std::pair<int, std::function<void(const QByteArray &, qsizetype)>>> listeners;
    int nextHandle = 1;

};

LogState &state()
{
    // Never destroyed: detached workers may log while the process exits.
    static LogState *const s = new LogState;
    return *s;
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

// Each line of a block as the text a sink gets.
void sinkBlock(const std::function<void(const QString &)> &sink, const LogBlock::Lines &block)
{
    qsizetype index = 0;
    qsizetype own = 0;
    for (const QByteArray &piece : block.pieces) {
        for (qsizetype at = 0; at < piece.size(); ++index) {
            const qsizetype end = piece.indexOf('\n', at);
            const bool keepsNewline = own < block.endingTheirLine.size() && block.endingTheirLine[own] == index;
            own += keepsNewline ? 1 : 0;
            sink(QString::fromUtf8(piece.constData() + at, end - at + (keepsNewline ? 1 : 0)));
            at = end + 1;
        }
    }
}


// Takes every waiting line and writes it; the caller holds writeMutex.
void writePending(LogState &s, Batch &batch)
{
    {
        std::lock_guard lock(s.queueMutex);
        batch.swap(s.waiting);
        s.waitingBytes = 0;
    }
    if (batch.records.empty())
        return;
    QByteArray bytes;
    bytes.reserve(qMin(qsizetype(batch.records.size()) * 48, kHandOutBytes + kHandOutBytes / 8));
    qsizetype lineCount = 0;
    // Handed out in parts of about kHandOutBytes: a queue's pass logs its finished entries
    // as one shared block, and a few milliseconds of passes hold tens of megabytes of lines.
    const auto handOut = [&s, &bytes, &lineCount] {
        {
            std::lock_guard lock(s.listenerMutex);
            for (const auto &entry : s.listeners)
                entry.second(bytes, lineCount);
        }
        if (!s.sink)
            standardError().queue(std::move(bytes), lineCount);
        bytes = QByteArray();
        lineCount = 0;
    };
    for (const Record &r : batch.records) {
        if (bytes.size() >= kHandOutBytes)
            handOut();
        if (!r.format) {
            const LogBlock::Lines &block = batch.blocks[r.firstArg];
            if (s.sink)
                sinkBlock(s.sink, block);
            // Pieces hold whole lines, each ending with its newline.
            for (const QByteArray &piece : block.pieces) {
                if (bytes.size() >= kHandOutBytes) {
                    handOut();
                    bytes.reserve(kHandOutBytes + kBlockPieceBytes);
                }
                bytes.append(piece);
                lineCount += piece.count('\n');
            }
            continue;
        }
        ++lineCount;
        const LogArg *args = batch.args.data() + r.firstArg;
        if (s.sink) {
            // Tests get each line as text, without the newline the log adds.
            const QString line = escapedLine(formatLog(r.format, args, qsizetype(r.argCount)));
            s.sink(line);
            bytes.append(line.toUtf8());
            // Like the platform's log call, a message that already ends its line gets no second one.
            if (!line.endsWith(QLatin1Char('\n')))
                bytes.append('\n');
        } else {
            appendCompiledLine(bytes, r.format, args, qsizetype(r.argCount));
        }
    }
    // Kept for the next batch: their capacity is what makes logging allocation-free.
    batch.clear();
    if (lineCount > 0)
        handOut();
}

// The writer's own batch, reused so that its capacity stays.
void flushWith(Batch &batch)
{
    auto &s = state();
    std::lock_guard lock(s.writeMutex);
    writePending(s, batch);
}

void writerLoop()
{
    auto &s = state();
    Batch batch;
    for (;;) {
        {
            std::unique_lock lock(s.queueMutex);
            if (s.waiting.records.empty()) {
                s.writerIdle = true;
                s.wake.wait(lock, [&s] { return !s.waiting.records.empty(); });
                s.writerIdle = false;
            }
            // Lets the lines of the next few milliseconds join this batch.
            s.wake.wait_for(lock, kGatherInterval, [&s] {
                return s.waiting.records.size() >= kWakeWriterAt || s.waitingBytes >= kWakeWriterBytes;
            });
        }
        flushWith(batch);
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


namespace {

// What an argument adds to the waiting lines: itself, and its text when no one else holds
// it (a shared text costs nothing more while it waits).
std::size_t weightOf(const LogArg &arg)
{
    std::size_t bytes = sizeof(LogArg);
    if (arg.kind == LogArg::Kind::Text && arg.text.isDetached())
        bytes += std::size_t(arg.text.capacity()) * sizeof(QChar);
    else if (arg.kind == LogArg::Kind::Bytes && arg.bytes.isDetached())
        bytes += std::size_t(arg.bytes.capacity());
    return bytes;
}

bool onMainThread()
{
    const QCoreApplication *app = QCoreApplication::instance();
    return app && app->thread() == QThread::currentThread();
}

// Queues one record of `weight` bytes; `add` puts what it refers to in the waiting batch,
// under the lock.
template <typename Add>
void record(std::size_t weight, Add &&add)
{
    auto &s = state();
    bool wakeWriter = false;
    bool writeNow = s.synchronous.load(std::memory_order_relaxed);
    std::size_t bytes = 0;
    {
        std::lock_guard lock(s.queueMutex);
        add(s.waiting);
        if (!s.writerStarted)
            startWriter(s);
        // Only the writer clears writerIdle: lines written by their own thread may be gone
        // by the time it wakes, and it must then still be woken by the next ones.
        const std::size_t waiting = s.waiting.records.size();
        const std::size_t before = s.waitingBytes;
        s.waitingBytes += weight;
        wakeWriter = s.writerIdle || waiting == kWakeWriterAt
            || (before < kWakeWriterBytes && s.waitingBytes >= kWakeWriterBytes);
        writeNow = writeNow || waiting >= kWriteInlineAt;
        bytes = s.waitingBytes;
    }
    // Past the byte bound a worker waits for the writer's batch and writes the next one
    // itself; the main thread goes on unless the lines are far past it.
    writeNow = writeNow || bytes >= kMainThreadWritesAtBytes || (bytes >= kWriteInlineBytes && !onMainThread());
    if (wakeWriter)
        s.wake.notify_one();
    if (writeNow) {
        // Formats what waits; standard error's own writing is never waited for here.
        Batch batch;
        flushWith(batch);
    }
}

} // namespace

void logLine(const char *format, LogArg *args, qsizetype count)
{
    std::size_t weight = sizeof(Record);
    for (qsizetype i = 0; i < count; ++i)
        weight += weightOf(args[i]);
    record(weight, [&](Batch &batch) {
        batch.records.push_back({format, batch.args.size(), std::size_t(count)});
        batch.args.insert(batch.args.end(), std::make_move_iterator(args), std::make_move_iterator(args + count));
    });
}

void LogBlock::appendLine(const char *format, const LogArg *args, qsizetype count)
{
    if (lines_.pieces.isEmpty() || lines_.pieces.constLast().size() >= kBlockPieceBytes)
        lines_.pieces.append(QByteArray());
    QByteArray &piece = lines_.pieces.last();
    if (appendLogLine(piece, format, args, count))
        lines_.endingTheirLine.append(lines_.count);
    ++lines_.count;
}

void LogBlock::truncate(qsizetype count)
{
    if (count >= lineCount())
        return;
    if (count <= 0) {
        *this = LogBlock();
        return;
    }
    // Rare (an entry at the head of a queue changed): the lines kept are found by counting.
    qsizetype seen = 0;
    for (qsizetype piece = 0;; ++piece) {
        const QByteArray &bytes = lines_.pieces.at(piece);
        const qsizetype inPiece = bytes.count('\n');
        if (seen + inPiece < count) {
            seen += inPiece;
            continue;
        }
        qsizetype end = -1;
        while (seen < count) {
            end = bytes.indexOf('\n', end + 1);
            ++seen;
        }
        lines_.pieces.resize(piece + 1);
        lines_.pieces.last().truncate(end + 1);
        break;
    }
    lines_.count = count;
    while (!lines_.endingTheirLine.isEmpty() && lines_.endingTheirLine.constLast() >= count)
        lines_.endingTheirLine.removeLast();
}

void logBlock(const LogBlock &block)
{
    if (block.lineCount() == 0)
        return;
    // The block's lines are shared with its owner: only the reference waits.
    record(sizeof(Record) + sizeof(LogBlock::Lines), [&](Batch &batch) {
        batch.records.push_back({nullptr, batch.blocks.size(), 0});
        batch.blocks.push_back(block.lines());
    });
}

void flushLog()
{
    auto &s = state();
    Batch batch;
    flushWith(batch);
    if (s.synchronous.load(std::memory_order_relaxed))
        return;
    // Lines dropped last are counted now, not at some later line that may never come.
    {
        std::lock_guard lock(s.writeMutex);
        standardError().queue(QByteArray(), 0);
    }
    standardError().waitUntilWritten();
}

int addLogListener(std::function<void(const QByteArray &, qsizetype)> listener)
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
