// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/TestSupport.h"

#include "base/Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>

#include <chrono>

namespace zodaru {

LogCapture::LogCapture()
    : m_state(std::make_shared<State>())
{
    setLogSink([state = m_state](const QString &line) {
        {
            std::lock_guard lock(state->mutex);
            state->lines.append(line);
        }
        state->changed.notify_all();
    });
}

LogCapture::~LogCapture()
{
    setLogSink({});
}

QStringList LogCapture::lines() const
{
    std::lock_guard lock(m_state->mutex);
    return m_state->lines;
}

bool LogCapture::contains(const QString &line) const
{
    return indexOf(line) >= 0;
}

int LogCapture::count(const QString &line) const
{
    std::lock_guard lock(m_state->mutex);
    return int(m_state->lines.count(line));
}

bool LogCapture::containsPrefix(const QString &prefix) const
{
    std::lock_guard lock(m_state->mutex);
    for (const QString &l : std::as_const(m_state->lines)) {
        if (l.startsWith(prefix))
            return true;
    }
    return false;
}

int LogCapture::indexOf(const QString &line, int from) const
{
    std::lock_guard lock(m_state->mutex);
    return int(m_state->lines.indexOf(line, from));
}

void LogCapture::clear()
{
    std::lock_guard lock(m_state->mutex);
    m_state->lines.clear();
}

bool LogCapture::waitFor(const QString &line, int timeoutMs) const
{
    std::unique_lock lock(m_state->mutex);
    return m_state->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return m_state->lines.contains(line); });
}

int openDescriptorCount()
{
    DIR *dir = ::opendir("/proc/self/fd");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    const int own = ::dirfd(dir);
    ::closedir(dir);
    // The directory stream's own descriptor was listed too.
    return own >= 0 ? count - 1 : count;
}

QByteArray patternBytes(qsizetype size, quint32 seed)
{
    QByteArray out(size, Qt::Uninitialized);
    // xorshift32: cheap, and every offset gets a byte that depends on all before it.
    quint32 x = seed ? seed : 0x9e3779b9u;
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = char(x & 0xff);
    }
    return out;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return f.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

} // namespace zodaru
