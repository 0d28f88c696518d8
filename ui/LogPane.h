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
// Lines arrive in batches on the log's writer thread. They are collected under a small
// lock and shown together every kShowIntervalMs while the pane is on screen, so a transfer
// that logs every chunk costs the window a few updates a second, not one per line.
class LogPane final : public QPlainTextEdit {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 10000;
    static constexpr int kShowIntervalMs = 100;
    // The most lines one update shows; faster than that the pane shows the newest and says
    // how many it left out (standard error still has them all).
    static constexpr int kLinesPerUpdate = 500;
    // A longer line shows cut: a whole listing logged as one line would cost the window
    // seconds of text layout, and nobody reads it there.
    static constexpr int kMaxLineLength = 2000;

    explicit LogPane(QWidget *parent = nullptr);
    ~LogPane() override;
    Q_DISABLE_COPY_MOVE(LogPane)

    // Whether a line tells of a failure: refusals, exceptions, time-outs, lost connections.
    static bool isErrorLine(QStringView line);

    // Shows every line logged so far (the last kMaxLines) now rather than on the next update.
    void flushPending();

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    // Lines as the log's writer handed them over: UTF-8, each ending with a newline.
    struct Batch {
        QByteArray bytes;
        qsizetype count = 0;
    };

    void take(const QByteArray &lines, qsizetype count); // the log's writer thread
    void showPending(qsizetype most);
    // The last `wanted` of the `total` lines of `batches`, as text.
    static QStringList lastLines(const QList<Batch> &batches, qsizetype total, qsizetype wanted);

    std::mutex mutex_;
    QList<Batch> pending_;
    qsizetype pendingLines_ = 0;
    bool flushScheduled_ = false;
    qsizetype skipped_ = 0; // lines left out since the last update
    bool shown_ = false; // main thread writes, the writer thread reads, under mutex_
    bool hasLines_ = false; // main thread
    QTimer showTimer_;
    int listener_ = 0;
};

} // namespace zodaru
