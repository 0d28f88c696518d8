// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/StandardError.h"

#include <QByteArrayView>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <thread>
#include <utility>

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace zodaru {

namespace {

constexpr qsizetype kMaxUnwrittenLines = 65536;
constexpr qsizetype kMaxUnwrittenBytes = 16 * 1024 * 1024;
// Written in pieces of about this size, so that waitUntilWritten() sees the reader
// still reading.
constexpr qsizetype kWritePieceBytes = 64 * 1024;
// waitUntilWritten() gives up on a reader that took nothing for this long.
constexpr std::chrono::seconds kStuckReader{1};

// A log whose reader went away (`zodaru 2>&1 | head`) must not end the program: SIGPIPE
// is held back for the write and the one it raised is consumed. Later lines are dropped.
void writeToStandardError(QByteArrayView bytes)
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
    // Straight to the descriptor, not through stderr's stream: a write blocked on a reader
    // that stopped must not hold the stream's lock, which exit() and fflush() take.
    qsizetype at = 0;
    int error = 0;
    while (at < bytes.size() && error == 0) {
        const ssize_t n = ::write(STDERR_FILENO, bytes.data() + at, size_t(bytes.size() - at));
        if (n >= 0)
            at += n;
        else if (errno != EINTR)
            error = errno;
    }
    if (error == EPIPE) {
        readerGone = true;
        if (!sigismember(&pendingBefore, SIGPIPE)) {
            const timespec noWait{};
            sigtimedwait(&pipeSignal, nullptr, &noWait);
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace

StandardError &standardError()
{
    static StandardError *const instance = new StandardError;
    return *instance;
}

void StandardError::queue(QByteArray bytes, qsizetype lineCount)
{
    {
        std::lock_guard lock(mutex_);
        if (!started_) {
            started_ = true;
            std::thread([this] { writeLoop(); }).detach();
        }
        const bool full = unwrittenLines_ > 0 && (unwrittenLines_ + lineCount > kMaxUnwrittenLines
                                                  || unwrittenBytes_ + bytes.size() > kMaxUnwrittenBytes);
        if (full) {
            lostLines_ += quint64(lineCount);
            return;
        }
        if (lostLines_ > 0) {
            QByteArray lost = QByteArray::number(lostLines_) + " lignes de journal perdues\n";
            unwrittenBytes_ += lost.size();
            ++unwrittenLines_;
            unwritten_.push_back(std::move(lost));
            lostLines_ = 0;
        }
        if (!bytes.isEmpty()) {
            unwrittenBytes_ += bytes.size();
            unwrittenLines_ += lineCount;
            unwritten_.push_back(std::move(bytes));
        }
    }
    wake_.notify_one();
}

void StandardError::waitUntilWritten()
{
    std::unique_lock lock(mutex_);
    const auto written = [this] { return unwritten_.empty() && !writing_; };
    while (!written()) {
        const quint64 before = piecesWritten_;
        if (!progress_.wait_for(lock, kStuckReader, [&] { return written() || piecesWritten_ != before; }))
            return;
    }
}

void StandardError::writeLoop()
{
    std::vector<QByteArray> taken;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            writing_ = false;
            progress_.notify_all();
            wake_.wait(lock, [this] { return !unwritten_.empty(); });
            taken.swap(unwritten_);
            unwrittenLines_ = 0;
            unwrittenBytes_ = 0;
            writing_ = true;
        }
        for (const QByteArray &bytes : taken) {
            // Whole lines per write: other writers of standard error (the platform's own
            // warnings) may come between two writes, never inside a line.
            for (qsizetype at = 0; at < bytes.size();) {
                qsizetype end = bytes.size();
                if (end - at > kWritePieceBytes) {
                    const qsizetype lineEnd = bytes.lastIndexOf('\n', at + kWritePieceBytes - 1);
                    end = lineEnd >= at ? lineEnd + 1 : bytes.indexOf('\n', at + kWritePieceBytes) + 1;
                    if (end <= at)
                        end = bytes.size();
                }
                writeToStandardError(QByteArrayView(bytes).sliced(at, end - at));
                at = end;
                std::lock_guard lock(mutex_);
                ++piecesWritten_;
                progress_.notify_all();
            }
        }
        taken.clear();
    }
}

} // namespace zodaru
