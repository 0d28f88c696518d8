// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmarks that drive the whole program offscreen share: a private settings
// file with the pool's size, the program started and connected, the event loop run until
// something holds, the remote browser
// opened along a path, processor time, and the main thread's longest gap.
// Main thread only.
#pragma once

#include "app/MyDelegate.h"
#include "model/TransferSettings.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/MainWindowController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include <sys/resource.h>

namespace zodaru::bench {

// User and system time so far: of every thread of the process, or of the calling one.
inline double processorSeconds(int who = RUSAGE_SELF)
{
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Points the program's settings at `home` (a fresh directory) and writes there the number
// of connections each direction may use (0: the default, no file written). Call before the
// program starts: it reads them once then.
inline bool usePrivateSettings(const QString &home, int connections)
{
    qputenv("HOME", home.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (home + QStringLiteral("/.config")).toLocal8Bit());
    if (connections <= 0)
        return true;
    TransferSettings settings;
    settings.connections = connections;
    return QDir().mkpath(home + QStringLiteral("/.config/Zodaru")) && settings.save();
}

// Runs the event loop until `done` holds; false after `limitMs`. Blocks while nothing
// happens (a timer of the caller wakes it), so the loop takes no core from the transfers.
inline bool waitUntil(const std::function<bool()> &done, int limitMs = 300000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

inline int fail(const QString &what)
{
    std::fprintf(stdout, "error=%s\n", qPrintable(QString(what).replace(QLatin1Char(' '), QLatin1Char('_'))));
    return 1;
}

// Starts the program and logs in anonymously to `server`, as the connection dialog would;
// false when the session is not connected once the logins are back.
inline bool launchConnected(MyDelegate &delegate, const QString &server)
{
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    delegate.connectWithAddress(server, QStringLiteral("anonymous"), QStringLiteral("bench@"));
    // The logins run on the engines' workers; their results come back through the event loop.
    while (delegate.isDialing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return delegate.window()->connectionState() == MainWindowController::ConnectionState::Connected;
}

// Shows `path` ("/pub/in") in the remote browser, one column per directory, as a user
// opens it before dropping there; false when a name does not show within 30 s.
inline bool openRemote(ColumnBrowser &browser, const QString &path)
{
    QTimer wake; // lets waitUntil see its limit while no listing comes
    wake.start(100);
    int column = 0;
    for (const QString &name : path.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        const bool shown = waitUntil(
            [&] {
                for (int row = 0; row < browser.rowCount(column); ++row) {
                    if (browser.cellAt(column, row)->name() == name) {
                        browser.selectRow(column, row);
                        return true;
                    }
                }
                return false;
            },
            30000);
        if (!shown)
            return false;
        ++column;
    }
    return true;
}

// Percentile `p` (0..1) of `values`, sorted in place; 0 when empty.
inline double percentile(std::vector<double> &values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(double(values.size() - 1) * p + 0.5))];
}

// The main thread's longest gap between two ticks of a 5 ms timer; the same tick may look
// at the queue, so an end that no transfer event announces (a failed start) is seen too.
class Ticker final {
public:
    Ticker(QObject *context, std::function<void()> onTick) : onTick_(std::move(onTick))
    {
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(5);
        QObject::connect(&tick_, &QTimer::timeout, context, [this] {
            longestNs_ = std::max(longestNs_, sinceTick_.nsecsElapsed());
            sinceTick_.restart();
            onTick_();
        });
    }
    void start()
    {
        sinceTick_.start();
        tick_.start();
    }
    double longestMs() const { return double(longestNs_) / 1e6; }

private:
    std::function<void()> onTick_;
    QTimer tick_;
    QElapsedTimer sinceTick_;
    qint64 longestNs_ = 0;
};

} // namespace zodaru::bench
