// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LogPane.h"

#include "base/Log.h"

#include <QCoreApplication>
#include <QScrollBar>
#include <QStringMatcher>
#include <QTextCharFormat>
#include <QTextCursor>

#include <algorithm>
#include <array>
#include <utility>

namespace zodaru {

LogPane::LogPane(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(kMaxLines);
    setFont(QFont(QStringLiteral("monospace")));
    // A few updates a second: a transfer logs tens of thousands of lines a second, and
    // showing them as they come would keep the main thread busy laying out text.
    showTimer_.setSingleShot(true);
    showTimer_.setInterval(kShowIntervalMs);
    connect(&showTimer_, &QTimer::timeout, this, [this] { showPending(kLinesPerUpdate); });
    listener_ = addLogListener([this](const QByteArray &lines, qsizetype count) { take(lines, count); });
}

LogPane::~LogPane()
{
    // Once removed, no thread can be inside take(): removal waits for the listeners' lock.
    removeLogListener(listener_);
}

bool LogPane::isErrorLine(QStringView line)
{
    // Matchers built once: a queue pass logs a line per entry, and a plain case-blind
    // search per marker and line cost the window more than everything else it did.
    static const std::array<QStringMatcher, 9> markers = {
        QStringMatcher(u"Exception", Qt::CaseInsensitive),     QStringMatcher(u"refuse", Qt::CaseInsensitive),
        QStringMatcher(u"Delai depasse", Qt::CaseInsensitive), QStringMatcher(u"CLOSING CONNECTION", Qt::CaseInsensitive),
        QStringMatcher(u"impossible", Qt::CaseInsensitive),    QStringMatcher(u"ERROR", Qt::CaseInsensitive),
        QStringMatcher(u"non trouve", Qt::CaseInsensitive),    QStringMatcher(u"perdue", Qt::CaseInsensitive),
        QStringMatcher(u"Echec", Qt::CaseInsensitive),
    };
    return std::any_of(markers.begin(), markers.end(),
                       [line](const QStringMatcher &marker) { return marker.indexIn(line) >= 0; });
}

namespace {

// Bytes enough for more characters than a row shows, not more: a listing logged as one line
// may be megabytes long.
constexpr qsizetype kMaxLineBytes = 4 * LogPane::kMaxLineLength + 4;

// `lines` with every line longer than kMaxLineBytes cut to that length; shared, not copied,
// when none is (nearly always).
QByteArray withLongLinesCut(const QByteArray &lines)
{
    if (lines.size() <= kMaxLineBytes)
        return lines;
    const auto lineEnd = [&lines](qsizetype at) {
        const qsizetype newline = lines.indexOf('\n', at);
        return newline < 0 ? lines.size() : newline;
    };
    for (qsizetype at = 0;;) {
        if (at >= lines.size())
            return lines;
        const qsizetype end = lineEnd(at);
        if (end - at > kMaxLineBytes)
            break;
        at = end + 1;
    }
    QByteArray cut;
    for (qsizetype at = 0; at < lines.size();) {
        const qsizetype end = lineEnd(at);
        cut.append(lines.constData() + at, qMin(end - at, kMaxLineBytes));
        if (end < lines.size())
            cut.append('\n');
        at = end + 1;
    }
    return cut;
}

} // namespace

void LogPane::take(const QByteArray &lines, qsizetype count)
{
    // Kept as the bytes they came in: a transfer writes hundreds of thousands of lines a
    // second, the pane shows a few hundred of them per update, and only those are made text.
    // Overlong lines are cut at once, so that what is kept stays bounded.
    const QByteArray kept = withLongLinesCut(lines);
    std::lock_guard lock(mutex_);
    pending_.append({kept, count});
    pendingLines_ += count;
    // Batches whose lines are all beyond what the pane keeps go at once.
    while (pending_.size() > 1 && pendingLines_ - pending_.constFirst().count >= kMaxLines) {
        skipped_ += pending_.constFirst().count;
        pendingLines_ -= pending_.constFirst().count;
        pending_.removeFirst();
    }
    // A pane on a tab behind another one shows its lines when it comes up.
    if (!flushScheduled_ && shown_) {
        flushScheduled_ = true;
        QMetaObject::invokeMethod(this, [this] { showTimer_.start(); }, Qt::QueuedConnection);
    }
}

QStringList LogPane::lastLines(const QList<Batch> &batches, qsizetype total, qsizetype wanted)
{
    QStringList lines;
    lines.reserve(wanted);
    qsizetype toSkip = total - wanted;
    for (const Batch &batch : batches) {
        if (toSkip >= batch.count) {
            toSkip -= batch.count;
            continue;
        }
        const QByteArray &bytes = batch.bytes;
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype end = bytes.indexOf('\n', at);
            const qsizetype length = (end < 0 ? bytes.size() : end) - at;
            if (toSkip > 0) {
                --toSkip;
            } else {
                // Overlong lines were cut to kMaxLineBytes when they came in.
                const QString text = QString::fromUtf8(bytes.constData() + at, length);
                lines.append(text.size() > kMaxLineLength ? text.left(kMaxLineLength) + QStringLiteral(" [...]")
                                                          : text);
            }
            at += length + 1;
        }
    }
    return lines;
}

void LogPane::showEvent(QShowEvent *event)
{
    QPlainTextEdit::showEvent(event);
    {
        std::lock_guard lock(mutex_);
        shown_ = true;
    }
    showPending(kLinesPerUpdate);
}

void LogPane::hideEvent(QHideEvent *event)
{
    {
        std::lock_guard lock(mutex_);
        shown_ = false;
    }
    QPlainTextEdit::hideEvent(event);
}

void LogPane::flushPending()
{
    flushLog();
    showPending(kMaxLines);
}

void LogPane::showPending(qsizetype most)
{
    QList<Batch> batches;
    qsizetype total = 0;
    qsizetype skipped = 0;
    {
        std::lock_guard lock(mutex_);
        batches.swap(pending_);
        total = std::exchange(pendingLines_, 0);
        flushScheduled_ = false;
        // Laying out a line costs tens of microseconds: past `most` lines an update would
        // stall the window, so only the newest are shown, after a note of how many not.
        skipped_ += total - qMin(total, most);
        if (most < kMaxLines)
            skipped = std::exchange(skipped_, 0);
        else
            skipped_ = 0; // the lines that go are the ones the pane would not keep anyway
    }
    QStringList lines = lastLines(batches, total, qMin(total, most));
    if (skipped > 0)
        lines.prepend(QCoreApplication::translate("LogPane", "[... %1 lines not shown here ...]").arg(skipped));
    if (lines.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();

    QTextCharFormat plain;
    QTextCharFormat error;
    error.setForeground(QColor(0xb0, 0x00, 0x20));
    error.setFontWeight(QFont::Bold);
    // As many new lines as the pane keeps: the old ones would all go, faster at once.
    if (lines.size() >= kMaxLines) {
        clear();
        hasLines_ = false;
    }
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    // Lines of one look go in together: one insertion per run rather than per line is
    // what keeps a transfer's thousands of lines a second cheap to show.
    QString run;
    int runLines = 0;
    bool runIsError = false;
    const auto insertRun = [&] {
        if (runLines == 0)
            return;
        if (hasLines_)
            cursor.insertBlock();
        hasLines_ = true;
        cursor.insertText(run, runIsError ? error : plain);
        run.clear();
        runLines = 0;
    };
    for (const QString &line : std::as_const(lines)) {
        const bool isError = isErrorLine(line);
        if (isError != runIsError)
            insertRun();
        runIsError = isError;
        if (runLines++ > 0)
            run += QLatin1Char('\n');
        run += line;
    }
    insertRun();
    cursor.endEditBlock();
    // The view follows new lines unless the user scrolled up to read.
    if (following)
        bar->setValue(bar->maximum());
}

} // namespace zodaru
