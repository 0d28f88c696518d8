// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <condition_variable>
#include <memory>
#include <mutex>

// Small helpers shared by the tests.
namespace zodaru {

// Collects every log line while it lives, instead of letting them reach standard error.
// Lines may come from worker threads: collection and the queries are thread-safe. The
// sink is installed and removed in the constructor and destructor, which must therefore
// run while no other thread logs (before a transfer starts, after it has ended).
class LogCapture final
{
public:
    LogCapture();
    ~LogCapture();
    Q_DISABLE_COPY_MOVE(LogCapture)

    QStringList lines() const;
    bool contains(const QString &line) const;            // an exact line
    int count(const QString &line) const;                // exact lines
    bool containsPrefix(const QString &prefix) const;    // a line starting with prefix
    int indexOf(const QString &line, int from = 0) const; // -1 when absent
    void clear();
    // Waits until `line` was logged (exactly), for lines written by worker threads.
    bool waitFor(const QString &line, int timeoutMs = 10000) const;

private:
    struct State
    {
        mutable std::mutex mutex;
        std::condition_variable changed;
        QStringList lines;
    };
    // Shared with the installed sink, so a late line never touches a dead object.
    std::shared_ptr<State> m_state;
};

// Number of descriptors this process has open (entries of /proc/self/fd), for leak checks:
// compare the count before and after an operation.
int openDescriptorCount();

// Deterministic, non-repeating-looking content of `size` bytes, different per seed, so a
// transfer that drops, repeats or reorders a chunk does not compare equal.
QByteArray patternBytes(qsizetype size, quint32 seed = 1);

// Whole-file helpers; writeFile creates missing parent directories.
bool writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);

} // namespace zodaru
