// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>

#include <condition_variable>
#include <mutex>
#include <vector>

namespace zodaru {

// The log's lines on their way to standard error, written by a thread of their own so that
// a write blocked on a reader that stopped reading (`zodaru 2>&1 | less` left on its first
// page) holds up nobody.
//
// What is not written yet is bounded: past 65 536 lines (or 16 MiB) the lines handed over
// are dropped, and counted in one line, "N lignes de journal perdues", put before the next
// lines that go through.
//
// Thread rules: queue() and waitUntilWritten() may be called from any thread; queue() never
// waits for a write. Lines queued from two threads at once go in either order.
class StandardError final {
public:
    // `bytes` holds `lineCount` whole lines, each ending with a newline. Empty bytes only
    // put the count of lines dropped, if any, in line.
    void queue(QByteArray bytes, qsizetype lineCount);
    // Returns once everything queued so far is written, or once the reader has taken
    // nothing for a second: at exit, what it has not taken is given up.
    void waitUntilWritten();

private:
    void writeLoop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable progress_;
    std::vector<QByteArray> unwritten_;
    qsizetype unwrittenLines_ = 0;
    qsizetype unwrittenBytes_ = 0;
    quint64 lostLines_ = 0; // dropped since the last lines that went through
    bool writing_ = false;
    quint64 piecesWritten_ = 0; // grows with every piece written: the reader is alive
    bool started_ = false;
};

// The one instance; never destroyed, since detached workers may log while the process exits.
StandardError &standardError();

} // namespace zodaru
