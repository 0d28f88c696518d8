// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <type_traits>
#include <utility>

// The program's one diagnostic channel: one line per call on standard error.
//
// Formats keep the printf-like placeholders of the messages ("%@", "%d", "%i", "%s",
// "%f"), filled in order from the arguments, so every message reads in the code exactly
// as it reads in the log.
//
// A transfer logs a few lines per 16 KiB chunk, so a call only records its format and
// arguments (numbers stay numbers, texts are shared, not copied); a writer thread turns
// them into text and writes them in batches a few milliseconds later, in the order they
// were logged across all threads. flushLog() writes everything logged so far; it runs at
// exit, and must be called before leaving by any path that skips exit handlers.
//
// Logging never waits on standard error's reader: a thread of its own writes there, and
// when a reader that stopped reading (`zodaru 2>&1 | less`) leaves 65 536 lines unwritten,
// later lines are dropped for standard error alone — listeners still get every line — and
// counted in one line, "N lignes de journal perdues", once there is room again.
namespace zodaru {

// Bytes from a peer (a listing, a name) logged as the lossless name they decode to
// (see ByteNames.h), decoded only when the line is written: a listing of megabytes costs
// the thread that logs it nothing but a shared reference.
struct PeerBytes {
    QByteArray bytes;
};

// One argument as given, made text only when the line is written.
struct LogArg {
    enum class Kind : unsigned char { Text, Signed, Unsigned, Real, Bytes };
    Kind kind = Kind::Text;
    union {
        qint64 i;
        quint64 u;
        double d;
    } number{0};
    QString text;
    QByteArray bytes;

    LogArg() = default;
    LogArg(const PeerBytes &b) : kind(Kind::Bytes), bytes(b.bytes) {}
    LogArg(const QString &s) : text(s) {}
    LogArg(QString &&s) : text(std::move(s)) {}
    LogArg(const char *s) : text(s ? QString::fromUtf8(s) : QStringLiteral("(null)")) {}
    LogArg(const std::string &s) : text(QString::fromStdString(s)) {}
    LogArg(const QByteArray &b) : text(QString::fromUtf8(b)) {}
    template <typename T>
        requires std::is_integral_v<T> && std::is_signed_v<T>
    LogArg(T v) : kind(Kind::Signed)
    {
        number.i = v;
    }
    template <typename T>
        requires std::is_integral_v<T> && std::is_unsigned_v<T>
    LogArg(T v) : kind(Kind::Unsigned)
    {
        number.u = v; // bool included: "1" or "0"
    }
    template <typename T>
        requires std::is_floating_point_v<T>
    LogArg(T v) : kind(Kind::Real)
    {
        number.d = double(v);
    }

    void appendTo(QString &out) const;
};

// Replaces each placeholder of `format` with the next argument's text; "%%" is a '%'.
QString formatLog(const char *format, const LogArg *args, qsizetype count);
// The same line as written to standard error, appended to `out`: UTF-8, control
// characters escaped, one newline at the end. A transfer logs hundreds of thousands of
// lines a second, so this goes straight to bytes instead of through formatLog(). True when
// the message ended its line itself (its last character was the newline).
bool appendLogLine(QByteArray &out, const char *format, const LogArg *args, qsizetype count);

// Records one line, taking the arguments over. `format` must outlive the program (a string
// literal): it is read when the line is written, later and on another thread, and the writer
// knows it by its address from then on (split once into its pieces).
void logLine(const char *format, LogArg *args, qsizetype count);

// Lines made once and logged again and again: a queue's pass names every finished entry
// at each start, thousands of unchanged lines per file. logBlock() logs them all for one
// shared reference; they are written exactly as zlog() would write each one.
class LogBlock final {
public:
    template <typename... Args>
    void append(const char *format, Args &&...args)
    {
        LogArg packed[] = {LogArg(std::forward<Args>(args))...};
        appendLine(format, packed, qsizetype(sizeof...(Args)));
    }
    // Keeps the first `count` lines.
    void truncate(qsizetype count);
    qsizetype lineCount() const { return lines_.count; }

    // What a logged block holds, shared with the lines waiting to be written.
    struct Lines {
        // Whole lines, each ending with a newline; pieces of bounded size, so that adding
        // a line while the writer still holds the block copies at most one piece.
        QList<QByteArray> pieces;
        qsizetype count = 0;
        // The lines whose message ended with its own newline (the text a sink gets keeps it).
        QList<qsizetype> endingTheirLine;
    };
    const Lines &lines() const { return lines_; }

private:
    void appendLine(const char *format, const LogArg *args, qsizetype count);

    Lines lines_;
};

// Records every line of `block` as it stands now, in order with the lines logged around it.
void logBlock(const LogBlock &block);

// Hands every line logged so far to the listeners and waits until standard error has them,
// as long as its reader keeps reading: one that took nothing for a second is given up on.
void flushLog();

// Tests redirect the log to capture it; an empty function restores standard error. While
// a sink is set, every line reaches it before the call that logged it returns.
// Must be set while no other thread logs.
void setLogSink(std::function<void(const QString &)> sink);

// Another reader of every line (the window's log tab), besides standard error or the sink.
// Gets the lines in batches, in order, on the thread that writes them, as the UTF-8 bytes
// written to standard error with their count: each line ends with a newline, and none
// holds another (they are escaped). It must be quick, thread-safe, and must not log. Returns a handle for
// removeLogListener(); once that returns the listener is never called again.
int addLogListener(std::function<void(const QByteArray &lines, qsizetype count)> listener);
void removeLogListener(int handle);

// Texts given as temporaries (a getter's result) are moved in, not shared: a queue pass
// logs a line of four names per entry, on the main thread.
template <typename... Args>
void zlog(const char *format, Args &&...args)
{
    if constexpr (sizeof...(Args) == 0) {
        logLine(format, nullptr, 0);
    } else {
        LogArg packed[] = {LogArg(std::forward<Args>(args))...};
        logLine(format, packed, qsizetype(sizeof...(Args)));
    }
}

} // namespace zodaru
