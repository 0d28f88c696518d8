// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/LogPane.h"

#include "base/Log.h"

#include <QScrollBar>
#include <QTextCharFormat>
#include <QTextCursor>

#include <array>

namespace zodaru {

LogPane::LogPane(QWidget *parent) : QPlainTextEdit(parent)
{
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setMaximumBlockCount(kMaxLines);
    setFont(QFont(QStringLiteral("monospace")));
    listener_ = addLogListener([this](const QStringList &lines) { take(lines); });
}

LogPane::~LogPane()
{
    // Once removed, no thread can be inside take(): removal waits for the listeners' lock.
    removeLogListener(listener_);
}

bool LogPane::isErrorLine(QStringView line)
{
    static const std::array<QLatin1String, 9> markers = {
        QLatin1String("Exception"),         QLatin1String("refuse"),
        QLatin1String("Delai depasse"),     QLatin1String("CLOSING CONNECTION"),
        QLatin1String("impossible"),        QLatin1String("ERROR"),
        QLatin1String("non trouve"),        QLatin1String("perdue"),
        QLatin1String("Echec"),
    };
    for (const QLatin1String &marker : markers)
        if (line.contains(marker, Qt::CaseInsensitive))
            return true;
    return false;
}

void LogPane::take(const QStringList &lines)
{
    std::lock_guard lock(mutex_);
    for (const QString &line : lines)
        pending_.append(line.endsWith(QLatin1Char('\n')) ? line.chopped(1) : line);
    // Lines beyond what the pane keeps would be dropped by it anyway.
    if (pending_.size() > kMaxLines)
        pending_.remove(0, pending_.size() - kMaxLines);
    // A pane on a tab behind another one shows its lines when it comes up.
    if (!flushScheduled_ && shown_) {
        flushScheduled_ = true;
        QMetaObject::invokeMethod(this, &LogPane::showPending, Qt::QueuedConnection);
    }
}

void LogPane::showEvent(QShowEvent *event)
{
    QPlainTextEdit::showEvent(event);
    {
        std::lock_guard lock(mutex_);
        shown_ = true;
    }
    showPending();
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
    showPending();
}

void LogPane::showPending()
{
    QStringList lines;
    {
        std::lock_guard lock(mutex_);
        lines.swap(pending_);
        flushScheduled_ = false;
    }
    if (lines.isEmpty())
        return;
    QScrollBar *bar = verticalScrollBar();
    const bool following = bar->value() == bar->maximum();

    QTextCharFormat plain;
    QTextCharFormat error;
    error.setForeground(QColor(0xb0, 0x00, 0x20));
    error.setFontWeight(QFont::Bold);
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
