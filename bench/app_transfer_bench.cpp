// SPDX-License-Identifier: GPL-3.0-or-later
// Measures one download or upload through the whole program, offscreen: the main window,
// its browsers and tables, the application controller's queue and its notification
// handlers, exactly as a click on Get or Put runs them. Prints one line of key=value
// figures, among them the longest gap between two ticks of a 5 ms timer on the main
// thread while the data flows and the processor time the whole process spent per GiB
// moved (all its threads, user and system), which the shared machine's load changes less
// than the wall-clock speed.
//
//   app_transfer_bench --server 127.0.0.1:2121 --user anonymous --password x
//                      --direction down|up --remote-dir pub --file big.bin --local-dir DIR
//                      [--log-tab]   (the Log tab in front, showing every line as it comes)
#include "PeakMemory.h"
#include "app/MyDelegate.h"
#include "ftp/NotificationCenter.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/LogPane.h"
#include "ui/OverwriteDialog.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTabWidget>
#include <QTimer>
#include <QPushButton>
#include <QToolButton>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>

using namespace zodaru;
using zodaru::bench::peakResidentKiB;

namespace {

// User and system time of every thread of the process so far.
double processorSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Remote columns fill when their listing comes back from the engine's worker: waits for
// the name to show, for up to 30 s.
bool selectNamed(ColumnBrowser &browser, int column, const QString &name)
{
    QElapsedTimer waited;
    waited.start();
    do {
        for (int row = 0; row < browser.rowCount(column); ++row) {
            if (browser.cellAt(column, row)->stringValue() == name) {
                browser.selectRow(column, row);
                return true;
            }
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    } while (waited.elapsed() < 30000);
    return false;
}

// Every upload replaces the same remote file, which the program asks about: the question
// is answered Overwrite as soon as it shows, as a user who expects it would.
class OverwriteAnswerer final : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *dialog = qobject_cast<OverwriteDialog *>(watched)) {
                QTimer::singleShot(0, dialog, [dialog] { dialog->button(ConflictAnswer::Overwrite)->click(); });
            }
        }
        return false;
    }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("host:port"), QStringLiteral("server"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("login"), QStringLiteral("login"),
                                  QStringLiteral("anonymous"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("password"),
                                      QStringLiteral("password"), QStringLiteral("bench@"));
    const QCommandLineOption direction(QStringLiteral("direction"), QStringLiteral("down or up"),
                                       QStringLiteral("direction"));
    const QCommandLineOption remoteDir(QStringLiteral("remote-dir"), QStringLiteral("remote directory under /"),
                                       QStringLiteral("name"));
    const QCommandLineOption file(QStringLiteral("file"), QStringLiteral("file name"), QStringLiteral("name"));
    const QCommandLineOption localDir(QStringLiteral("local-dir"), QStringLiteral("local directory"),
                                      QStringLiteral("path"));
    const QCommandLineOption broadcast(QStringLiteral("broadcast"), QStringLiteral("session-bus broadcast: on or off"),
                                       QStringLiteral("on|off"), QStringLiteral("on"));
    const QCommandLineOption logTab(QStringLiteral("log-tab"), QStringLiteral("show the Log tab during the transfer"));
    parser.addOptions({server, user, password, direction, remoteDir, file, localDir, broadcast, logTab});
    parser.process(app);
    NotificationCenter::defaultCenter().setBroadcastEnabled(parser.value(broadcast) != QLatin1String("off"));
    const bool download = parser.value(direction) == QLatin1String("down");

    // No saved sites: a private home.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());

    MyDelegate delegate;
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    MainWindow &window = *delegate.window()->window();
    ColumnBrowser &local = *window.localView();
    ColumnBrowser &remote = *window.remoteView();

    delegate.connectWithAddress(parser.value(server), parser.value(user), parser.value(password));
    // The logins run on the engines' workers; their results come back through the event loop.
    while (delegate.isDialing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (delegate.window()->connectionState() != MainWindowController::ConnectionState::Connected) {
        std::fprintf(stdout, "error=not connected\n");
        return 1;
    }
    if (!local.setPath(parser.value(localDir)) || !selectNamed(remote, 0, parser.value(remoteDir))) {
        std::fprintf(stdout, "error=browsers do not show the directories\n");
        return 1;
    }
    const bool selected = download ? selectNamed(remote, 1, parser.value(file))
                                   : selectNamed(local, local.lastVisibleColumn(), parser.value(file));
    if (!selected) {
        std::fprintf(stdout, "error=%s not shown\n", qPrintable(parser.value(file)));
        return 1;
    }

    OverwriteAnswerer answerer;
    app.installEventFilter(&answerer);

    if (parser.isSet(logTab)) {
        window.show();
        window.transferTabs()->setCurrentWidget(window.logPane());
    }

    QElapsedTimer clock;
    QElapsedTimer sinceTick;
    qint64 longestGapNs = 0;
    qint64 elapsedNs = 0;
    double cpuAtStart = 0;
    double cpuAtEnd = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(5);
    const QList<File> *queue = nullptr;
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const qint64 gap = sinceTick.nsecsElapsed();
        sinceTick.restart();
        const bool finished = !queue->isEmpty() && queue->first().isDone();
        // The gap that ends with the entry finished holds the completion handler, which
        // lists the receiving directory again: no data flows by then.
        if (!finished)
            longestGapNs = std::max(longestGapNs, gap);
        if (finished) {
            elapsedNs = clock.nsecsElapsed();
            cpuAtEnd = processorSeconds();
            app.quit();
        }
    });

    QTimer::singleShot(0, &app, [&] {
        cpuAtStart = processorSeconds();
        clock.start();
        (download ? window.Get() : window.Put())->click();
        queue = download ? delegate.downloadQueue() : delegate.uploadQueue();
        // The start's own exchange on the control connection is behind us: from here on
        // only data flows, and the main thread only handles notifications.
        sinceTick.start();
        tick.start();
    });
    app.exec();

    const File entry = queue->first();
    const double seconds = double(elapsedNs) / 1e9;
    const double mbps = seconds > 0 ? double(entry.currentsize()) / 1e6 / seconds : 0;
    const double gib = double(entry.currentsize()) / double(1 << 30);
    const double cpuPerGiB = gib > 0 ? (cpuAtEnd - cpuAtStart) / gib : 0;
    std::fprintf(stdout,
                 "direction=%s bytes=%lld seconds=%.3f MBps=%.1f peakRSS_KiB=%ld longestStall_ms=%.1f "
                 "cpuSecondsPerGiB=%.2f status=%s\n",
                 download ? "down" : "up", static_cast<long long>(entry.currentsize()), seconds, mbps,
                 peakResidentKiB(), double(longestGapNs) / 1e6, cpuPerGiB, qPrintable(entry.getStatus()));
    return entry.getStatus() == QLatin1String("Done.") ? 0 : 1;
}
