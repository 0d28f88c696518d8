// SPDX-License-Identifier: GPL-3.0-or-later
// Many small files of one directory down or up through the program, offscreen, as a user
// moves them: both browsers open on the two directories, every file of the source column
// selected, the Get (or Put) button clicked. The program reads the number of connections
// each direction may use from its settings file at start; --connections writes it there
// first (a private one). Waits until every file is done and prints one line of key=value
// figures: the time from the click to the last file's end, the processor time of the
// process and of its main thread, the engines that carried data, the main thread's longest
// gap, peak memory.
//
//   pool_bench --server ftp://127.0.0.1:2121 --direction down|up --remote-dir /pub/small
//              --local-dir DIR --files 1000 [--connections N]
//
// Down, --remote-dir holds the files and --local-dir receives them; up, the other way.
#include "AppBench.h"
#include "PeakMemory.h"
#include "app/MyDelegate.h"
#include "ftp/NotificationCenter.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QSet>
#include <QTemporaryDir>
#include <QToolButton>

#include <numeric>

using namespace zodaru;
using namespace zodaru::bench;

namespace {

// Rows of a column once its entries are there; -1 while it is not open or shows a
// placeholder.
int entryRows(ColumnBrowser &browser, int column)
{
    if (browser.columnCount() <= column)
        return -1;
    const int rows = browser.rowCount(column);
    if (rows == 1 && browser.cellAt(column, 0)->isPlaceholder())
        return -1;
    return rows;
}

int depth(const QString &path)
{
    return int(path.split(QLatin1Char('/'), Qt::SkipEmptyParts).size());
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const auto option = [](const char *name, const char *what) {
        return QCommandLineOption(QLatin1String(name), QLatin1String(what), QStringLiteral("value"));
    };
    const QCommandLineOption server = option("server", "ftp://host:port (anonymous login)");
    const QCommandLineOption direction = option("direction", "down or up");
    const QCommandLineOption remoteDir = option("remote-dir", "remote directory holding (or receiving) the files");
    const QCommandLineOption localDir = option("local-dir", "local directory receiving (or holding) the files");
    const QCommandLineOption count = option("files", "files in the source directory");
    const QCommandLineOption connections = option("connections", "connections per direction (the setting)");
    parser.addOptions({server, direction, remoteDir, localDir, count, connections});
    parser.process(app);
    const bool download = parser.value(direction) == QLatin1String("down");
    const int expected = parser.value(count).toInt();
    const QString remotePath = parser.value(remoteDir);
    const QString localPath = parser.value(localDir);

    QTemporaryDir home;
    if (!usePrivateSettings(home.path(), parser.value(connections).toInt()))
        return fail(QStringLiteral("settings not written"));
    const int pool = TransferSettings::load().connections;

    MyDelegate delegate;
    if (!launchConnected(delegate, parser.value(server)))
        return fail(QStringLiteral("not connected"));

    // Both browsers open on their directory, its listing in the column after the path's.
    MainWindow &window = *delegate.window()->window();
    ColumnBrowser &local = *window.localView();
    ColumnBrowser &remote = *window.remoteView();
    if (!local.setPath(localPath) || !openRemote(remote, remotePath))
        return fail(QStringLiteral("browsers do not show the directories"));
    ColumnBrowser &source = download ? remote : local;
    const int sourceColumn = download ? depth(remotePath) : depth(localPath);
    const int targetColumn = download ? depth(localPath) : depth(remotePath);
    ColumnBrowser &target = download ? local : remote;
    QTimer wake; // lets waitUntil see its limit while no listing comes
    wake.start(100);
    if (!waitUntil([&] { return entryRows(source, sourceColumn) == expected && entryRows(target, targetColumn) >= 0; },
                   60000))
        return fail(QStringLiteral("directories not listed"));
    QList<int> rows(expected);
    std::iota(rows.begin(), rows.end(), 0);
    source.selectRows(sourceColumn, rows);

    const QList<File> *queue = download ? delegate.downloadQueue() : delegate.uploadQueue();
    bool allDone = false;
    qsizetype failed = 0;
    const auto look = [&] {
        if (queue->size() < expected)
            return;
        failed = std::count_if(queue->begin(), queue->end(), [](const File &f) { return f.hasError(); });
        allDone = std::all_of(queue->rbegin(), queue->rend(), [](const File &f) { return f.isDone(); });
    };
    Ticker ticker(&app, look);
    QSet<quint64> engines;
    int ends = 0;
    NotificationCenter::defaultCenter().addTransferObserver(&app, [&](const TransferEvent &event) {
        if (event.isDownload() != download)
            return;
        engines.insert(event.engine);
        if (event.isEnd() && ++ends >= expected)
            QTimer::singleShot(0, &app, look); // after the program's own handlers of it
    });

    const double cpuAtStart = processorSeconds();
    const double mainCpuAtStart = processorSeconds(RUSAGE_THREAD);
    QElapsedTimer clock;
    clock.start();
    ticker.start();
    (download ? window.Get() : window.Put())->click();
    const bool complete = waitUntil([&] { return allDone; }, 600000);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = processorSeconds() - cpuAtStart;
    const double mainCpu = processorSeconds(RUSAGE_THREAD) - mainCpuAtStart;
    look();

    qint64 bytes = 0;
    int finished = 0;
    for (const File &entry : *queue) {
        if (entry.isFinished()) {
            ++finished;
            bytes += entry.currentsize();
        }
    }
    std::fprintf(stdout,
                 "direction=%s connections=%d files=%d bytes=%lld seconds=%.3f filesPerSecond=%.1f failed=%lld "
                 "engines=%lld cpu_s=%.2f mainThreadCpu_s=%.2f peakRSS_KiB=%ld longestStall_ms=%.1f\n",
                 download ? "down" : "up", pool, finished, static_cast<long long>(bytes), seconds,
                 seconds > 0 ? finished / seconds : 0, static_cast<long long>(failed),
                 static_cast<long long>(engines.size()), cpu, mainCpu, peakResidentKiB(), ticker.longestMs());
    if (!complete)
        return fail(QStringLiteral("timed out"));
    if (failed > 0 || finished != expected)
        return fail(QStringLiteral("not all files done"));
    delegate.disconnectFromFTP();
    return 0;
}
