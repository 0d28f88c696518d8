// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QStringView>
#include <QTimer>

#include <mutex>

namespace zodaru {

// The window's log tab: the program's log lines as they are written, from any thread, the
// last kMaxLines of them; lines that report a failure stand out in red.
//
// Lines arrive on the threads that log. They are collected under a small lock and shown in
// one batch at most every kFlushIntervalMs, so a transfer that logs every chunk (or a
// thousand small files that log hundreds of lines each) costs the window one layout per
// batch, not one per line or per pass of the event loop.
class LogPane final : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kFlushIntervalMs = 100;
    // A longer line shows cut: a whole listing logged as one line would cost the window
    // seconds of text layout, and nobody reads it there.
    static constexpr int kMaxLineLength = 2000;

    explicit LogPane(QWidget *parent = nullptr);
    ~LogPane() override;
    Q_DISABLE_COPY_MOVE(LogPane)

    // Whether a line tells of a failure: refusals, exceptions, time-outs, lost connections.
    static bool isErrorLine(QStringView line);

    // Shows what has arrived so far now rather than on the next pass of the event loop.
    void flushPending();

private:
    void take(const QString &line); // any thread

    std::mutex mutex_;
    QStringList pending_;
    bool flushScheduled_ = false;
    QTimer flushTimer_;         // main thread
    bool hasLines_ = false; // main thread
    int listener_ = 0;
};

} // namespace zodaru
