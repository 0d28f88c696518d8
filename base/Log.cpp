// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Log.h"

#include "base/ByteNames.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>
#include <utility>

#include <pthread.h>
#include <signal.h>

namespace zodaru {

namespace {
std::function<void(const QString &)> &sink()
{
    static std::function<void(const QString &)> s;
    return s;
}
struct Listeners {
    std::mutex mutex;
    std::vector<std::pair<int, std::function<void(const QString &)>>> entries;
    int nextHandle = 1;
};

Listeners &listeners()
{
    static Listeners l;
    return l;
}

void tellListeners(const QString &line)
{
    auto &l = listeners();
    std::lock_guard lock(l.mutex);
    for (const auto &entry : l.entries)
        entry.second(line);
}

// A log whose reader went away (`zodaru 2>&1 | head`) must not end the program: SIGPIPE
// is held back for the write and the one it raised is consumed. Later lines are dropped.
void writeToStandardError(const QByteArray &bytes)
{
    static std::atomic<bool> readerGone{false};
    if (readerGone.load(std::memory_order_relaxed))
        return;
    sigset_t pipeSignal;
    sigset_t previous;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &previous);
    sigset_t pendingBefore;
    sigpending(&pendingBefore);
    // One write per line, so lines from worker threads never interleave.
    const qsizetype written = qsizetype(std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr));
    if (written < bytes.size() && errno == EPIPE) {
        readerGone = true;
        if (!sigismember(&pendingBefore, SIGPIPE)) {
            const timespec noWait{};
            sigtimedwait(&pipeSignal, nullptr, &noWait);
        }
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

} // namespace

QString formatLog(const char *format, const QList<QString> &args)
{
    QString out;
    qsizetype next = 0;
    for (const char *p = format; *p; ++p) {
        if (*p != '%') {
            // Formats are ASCII apart from the odd accented letter, which is UTF-8.
            const char *start = p;
            while (p[1] && p[1] != '%')
                ++p;
            out += QString::fromUtf8(start, p - start + 1);
            continue;
        }
        const char *directive = p + 1;
        if (*directive == '%') {
            out += QLatin1Char('%');
            p = directive;
            continue;
        }
        // Skip flags, width, precision and length modifiers: "%.2f", "%ld".
        while (*directive && std::strchr("-+ #0123456789.lhqzjt", *directive))
            ++directive;
        if (!*directive) {
            out += QString::fromUtf8(p);
            break;
        }
        out += next < args.size() ? args[next] : QString();
        ++next;
        p = directive;
    }
    return out;
}

void writeLogLine(const QString &text)
{
    // Messages carry server replies, listings and file names: every control character but
    // the newline that ends the message is shown escaped.
    const bool endsLine = text.endsWith(QLatin1Char('\n'));
    QString line = escapedForLog(endsLine ? QStringView(text).chopped(1) : QStringView(text));
    if (endsLine)
        line.append(QLatin1Char('\n'));
    tellListeners(line);
    if (auto &s = sink()) {
        s(line);
        return;
    }
    QByteArray bytes = line.toUtf8();
    // Like the platform's log call, a message that already ends its line gets no second one.
    if (!bytes.endsWith('\n'))
        bytes.append('\n');
    writeToStandardError(bytes);
}

int addLogListener(std::function<void(const QString &)> listener)
{
    auto &l = listeners();
    std::lock_guard lock(l.mutex);
    const int handle = l.nextHandle++;
    l.entries.emplace_back(handle, std::move(listener));
    return handle;
}

void removeLogListener(int handle)
{
    auto &l = listeners();
    std::lock_guard lock(l.mutex);
    std::erase_if(l.entries, [handle](const auto &entry) { return entry.first == handle; });
}

void setLogSink(std::function<void(const QString &)> s)
{
    sink() = std::move(s);
}

} // namespace zodaru
