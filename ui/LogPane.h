// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPlainTextEdit>
#include <QStringList>
#include <QStringView>

#include <mutex>

namespace zodaru {

// The window's log tab: the program's log lines as they are written, from any thread, the
// last kMaxLines of them; lines that report a failure stand out in red.
//
// Lines arrive in batches on the log's writer thread. They are collected under a small
// lock and shown in one go per pass of the main thread's event loop, so a transfer that
// logs every chunk costs the window one repaint per batch, not one per line.
class LogPane final : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 10000;

    explicit LogPane(QWidget *parent = nullptr);
    ~LogPane() override;
    Q_DISABLE_COPY_MOVE(LogPane)

    // Whether a line tells of a failure: refusals, exceptions, time-outs, lost connections.
    static bool isErrorLine(QStringView line);

    // Shows every line logged so far now rather than on the next pass of the event loop.
    void flushPending();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void take(const QStringList &lines); // the log's writer thread
    void showPending();

    std::mutex mutex_;
    QStringList pending_;
    bool flushScheduled_ = false;
    bool shown_ = false; // main thread writes, the writer thread reads, under mutex_
    bool hasLines_ = false; // main thread
    int listener_ = 0;
};

} // namespace zodaru
