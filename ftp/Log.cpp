// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/Log.h"

#include <cstdio>
#include <cstring>
#include <utility>

namespace zodaru {

namespace {
std::function<void(const QString &)> &sink()
{
    static std::function<void(const QString &)> s;
    return s;
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

void writeLogLine(const QString &line)
{
    if (auto &s = sink()) {
        s(line);
        return;
    }
    QByteArray bytes = line.toUtf8();
    // Like the platform's log call, a message that already ends its line gets no second one.
    if (!bytes.endsWith('\n'))
        bytes.append('\n');
    // One write per line, so lines from worker threads never interleave.
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
}

void setLogSink(std::function<void(const QString &)> s)
{
    sink() = std::move(s);
}

} // namespace zodaru
