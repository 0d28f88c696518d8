// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <concepts>
#include <functional>
#include <string>
#include <type_traits>

// The program's one diagnostic channel: one line per call on standard error.
//
// Formats keep the printf-like placeholders of the messages ("%@", "%d", "%i", "%s",
// "%f"), filled in order from the arguments, so every message reads in the code exactly
// as it reads in the log. Arguments are turned into text by logText().
namespace zodaru {

inline QString logText(const QString &s) { return s; }
inline QString logText(const char *s) { return s ? QString::fromUtf8(s) : QStringLiteral("(null)"); }
inline QString logText(const std::string &s) { return QString::fromStdString(s); }
inline QString logText(const QByteArray &b) { return QString::fromUtf8(b); }
inline QString logText(bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); }
template <typename T>
  requires std::is_arithmetic_v<T>
QString logText(T v)
{
    return QString::number(v);
}

// Replaces each placeholder of `format` with the next argument's text; "%%" is a '%'.
QString formatLog(const char *format, const QList<QString> &args);

// Writes one line (no trailing newline needed) to the current sink.
void writeLogLine(const QString &line);

// Tests redirect the log to capture it; an empty function restores standard error.
// Must be set while no other thread logs.
void setLogSink(std::function<void(const QString &)> sink);

// Another reader of every line (the window's log tab), besides standard error or the sink.
// Called on the thread that logs, after the line was written: it must be quick and
// thread-safe. Returns a handle for removeLogListener().
int addLogListener(std::function<void(const QString &)> listener);
void removeLogListener(int handle);

template <typename... Args>
void zlog(const char *format, const Args &...args)
{
    writeLogLine(formatLog(format, QList<QString>{logText(args)...}));
}

} // namespace zodaru
