// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LogPane.h"

#include "base/Log.h"

#include <QScrollBar>
#include <QStringMatcher>
#include <QTextCharFormat>
#include <QTextBlock>
#include <QTextCursor>

#include <algorithm>
#include <array>

namespace zodaru {

LogPane::LogPane(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(kMaxLines);
    setFont(QFont(QStringLiteral("monospace")));
    flushTimer_.setSingleShot(true);
    flushTimer_.setInterval(kFlushIntervalMs);
    connect(&flushTimer_, &QTimer::timeout, this, &LogPane::flushPending);
    listener_ = addLogListener([this](const QString &line) { take(line); });
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

void LogPane::take(const QString &line)
{
    QStringView text(line);
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    QString shown = text.size() > kMaxLineLength ? text.left(kMaxLineLength).toString() + QStringLiteral(" [...]")
                                                 : text.toString();
    std::lock_guard lock(mutex_);
    pending_.append(std::move(shown));
    // Lines beyond what the pane keeps would be dropped by it anyway; dropped in bulk, as
    // removing the first of ten thousand lines moves all the others.
    if (pending_.size() >= 2 * kMaxLines)
        pending_.remove(0, pending_.size() - kMaxLines);
    if (!flushScheduled_) {
        flushScheduled_ = true;
        // The timer belongs to the main thread: started there.
        QMetaObject::invokeMethod(this, [this] { flushTimer_.start(); }, Qt::QueuedConnection);
    }
}

void LogPane::flushPending()
{
    QStringList lines;
    {
        std::lock_guard lock(mutex_);
        lines.swap(pending_);
        flushScheduled_ = false;
    }
    if (lines.size() > kMaxLines)
        lines.remove(0, lines.size() - kMaxLines);
    if (lines.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();

    QTextCharFormat plain;
    QTextCharFormat error;
    error.setForeground(QColor(0xb0, 0x00, 0x20));
    error.setFontWeight(QFont::Bold);
    // Old lines go first, cut by position: the document's own limit walks a cursor over
    // them block by block, laying out each one it drops.
    const int excess = (hasLines_ ? document()->blockCount() : 0) + int(lines.size()) - kMaxLines;
    if (excess >= document()->blockCount()) {
        clear();
        hasLines_ = false;
    } else if (excess > 0) {
        QTextCursor cut(document());
        cut.setPosition(document()->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
        cut.removeSelectedText();
    }
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    for (const QString &line : lines) {
        if (hasLines_)
            cursor.insertBlock();
        hasLines_ = true;
        cursor.insertText(line, isErrorLine(line) ? error : plain);
    }
    cursor.endEditBlock();
    // The view follows new lines unless the user scrolled up to read.
    if (following)
        bar->setValue(bar->maximum());
}

} // namespace zodaru
