// SPDX-License-Identifier: GPL-3.0-or-later
// A whole folder down or up through the program, offscreen: the main window and the
// application controller, the folder handed to AppContext::getEntries / putEntries as one
// directory entry, as a drag of it onto the other pane does. Waits until every file found
// under it is saved and prints one line of key=value figures, among them where the time
// went: the first file's end (the walk's head start), when the queue stopped growing (the
// walk's end), the time between one file's end and the next, and the share of it spent with
// no file waiting (the transfers waiting on the walk), and the processor time of the whole
// process and of its main thread alone (queue, tables, handlers).
//
//   tree_bench --server ftp://127.0.0.1:2121 --direction down|up --mode folder|flat
//              --remote-dir /pub --local-dir DIR --name tree --files 2000 [--tree PATH]
//              [--connections N]
//
// --mode flat queues the same files directory by directory as plain entries instead, the
// directories made beforehand by the caller: only the queue and the per-file transfers,
// no walk. It lists the tree from the local disk: DIR/NAME when uploading, --tree (the
// served copy) when downloading. --connections sets how many connections each direction
// may use (the program's setting; its default without it).
#include "AppBench.h"
#include "PeakMemory.h"
#include "app/MyDelegate.h"
#include "ftp/NotificationCenter.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace zodaru;
using namespace zodaru::bench;

namespace {

QString joined(const QString &directory, const QString &relative)
{
    return relative.isEmpty() ? directory : directory + QLatin1Char('/') + relative;
}

// The files of each directory of `top`, keyed by the path under it ("" for `top` itself).
QList<std::pair<QString, QList<File>>> filesByDirectory(const QString &top)
{
    QList<std::pair<QString, QList<File>>> all;
    const QDir base(top);
    QStringList directories{QString()};
    QDirIterator walk(top, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
    while (walk.hasNext())
        directories.append(base.relativeFilePath(walk.next()));
    for (const QString &relative : directories) {
        QList<File> files;
        const QDir directory(joined(top, relative));
        for (const QFileInfo &info : directory.entryInfoList(QDir::Files | QDir::Hidden | QDir::NoSymLinks))
            files.append(File(info.fileName(), info.size(), 0));
        if (!files.isEmpty())
            all.append({relative, files});
    }
    return all;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    const auto option = [](const char *name, const char *what, const char *value = "value") {
        return QCommandLineOption(QLatin1String(name), QLatin1String(what), QLatin1String(value));
    };
    const QCommandLineOption server = option("server", "ftp://host:port (anonymous login)");
    const QCommandLineOption direction = option("direction", "down or up");
    const QCommandLineOption mode = option("mode", "folder (one directory entry) or flat (its files)");
    const QCommandLineOption remoteDir = option("remote-dir", "remote directory holding (or receiving) the folder");
    const QCommandLineOption localDir = option("local-dir", "local directory receiving (or holding) the folder");
    const QCommandLineOption name = option("name", "the folder's name");
    const QCommandLineOption count = option("files", "files in the folder's tree");
    const QCommandLineOption tree = option("tree", "flat download: a local copy of the served folder");
    const QCommandLineOption connections = option("connections", "connections per direction (the setting)");
    parser.addOptions({server, direction, mode, remoteDir, localDir, name, count, tree, connections});
    parser.process(app);
    const bool download = parser.value(direction) == QLatin1String("down");
    const bool flat = parser.value(mode) == QLatin1String("flat");
    const int expected = parser.value(count).toInt();
    const QString folder = parser.value(name);
    const QString remoteParent = parser.value(remoteDir);
    const QString localParent = parser.value(localDir);
    // No transfer event is needed on the session bus; the broadcast stays as a user has it.

    QTemporaryDir home;
    if (!usePrivateSettings(home.path(), parser.value(connections).toInt()))
        return fail(QStringLiteral("settings not written"));

    MyDelegate delegate;
    if (!launchConnected(delegate, parser.value(server)))
        return fail(QStringLiteral("not connected"));
    // Both panes show where the folder comes from and goes to, as when it is dragged.
    MainWindow &window = *delegate.window()->window();
    if (!window.localView()->setPath(localParent) || !openRemote(*window.remoteView(), remoteParent))
        return fail(QStringLiteral("browsers do not show the directories"));

    QList<std::pair<QString, QList<File>>> flatFiles;
    if (flat) {
        flatFiles = filesByDirectory(download ? parser.value(tree) : joined(localParent, folder));
        if (flatFiles.isEmpty())
            return fail(QStringLiteral("no files to queue flat"));
    }

    const QList<File> *queue = download ? delegate.downloadQueue() : delegate.uploadQueue();
    // The files found under the folder carry its row's id as their group; flat, every entry
    // is a file.
    const auto counted = [flat](const File &entry) { return flat || entry.group() != 0; };

    QElapsedTimer clock;
    std::vector<qint64> endsNs;       // each file's end as the main thread learnt it
    std::vector<bool> starvedAfter;   // no file waiting right after that end
    qint64 grewAtNs = 0;              // the last time the queue grew
    qsizetype lastSize = 0;
    int finished = 0;
    QString failed;
    const auto look = [&] {
        if (queue->size() != lastSize) {
            lastSize = queue->size();
            grewAtNs = clock.nsecsElapsed();
        }
        int done = 0;
        bool waiting = false;
        for (const File &entry : *queue) {
            if (entry.hasError() && failed.isEmpty())
                failed = entry.displayName() + QLatin1Char(':') + entry.getStatus();
            if (!counted(entry))
                continue;
            if (entry.isFinished())
                ++done;
            else
                waiting = true;
        }
        finished = done;
        return waiting;
    };
    Ticker ticker(&app, [&] { look(); });
    NotificationCenter::defaultCenter().addTransferObserver(&app, [&](const TransferEvent &event) {
        if (!event.isEnd() || event.isDownload() != download)
            return;
        endsNs.push_back(clock.nsecsElapsed());
        // After the program's own handlers of this event have moved the queue on.
        QTimer::singleShot(0, &app, [&] { starvedAfter.push_back(!look()); });
    });

    const double cpuAtStart = processorSeconds();
    const double mainCpuAtStart = processorSeconds(RUSAGE_THREAD);
    clock.start();
    ticker.start();
    if (!flat) {
        const QList<File> entries{File(folder, 0, 1)};
        if (download)
            delegate.getEntries(remoteParent, entries, localParent);
        else
            delegate.putEntries(localParent, entries, remoteParent);
    } else {
        for (const auto &[relative, files] : flatFiles) {
            const QString relativeTop = joined(folder, relative);
            if (download)
                delegate.getEntries(joined(remoteParent, relativeTop), files, joined(localParent, relativeTop));
            else
                delegate.putEntries(joined(localParent, relativeTop), files, joined(remoteParent, relativeTop));
        }
    }
    const bool complete = waitUntil([&] { return finished >= expected || !failed.isEmpty(); }, 600000);
    const qint64 elapsedNs = clock.nsecsElapsed();
    const double cpu = processorSeconds() - cpuAtStart;
    // The main thread runs the queue, the tables and every handler: near `seconds`, it sets
    // the pace.
    const double mainCpu = processorSeconds(RUSAGE_THREAD) - mainCpuAtStart;
    look();

    qint64 bytes = 0;
    for (const File &entry : *queue)
        if (counted(entry) && entry.isFinished())
            bytes += entry.currentsize();
    // Between one file's end and the next: the per-file cost once the queue runs; the
    // intervals that began with no file waiting add up to the time the walk held it back.
    std::vector<double> stepsMs;
    double starvedMs = 0;
    for (size_t i = 1; i < endsNs.size(); ++i) {
        const double step = double(endsNs[i] - endsNs[i - 1]) / 1e6;
        stepsMs.push_back(step);
        if (i - 1 < starvedAfter.size() && starvedAfter[i - 1])
            starvedMs += step;
    }
    const double firstEnd = endsNs.empty() ? 0 : double(endsNs.front()) / 1e9;
    const double maxStep = stepsMs.empty() ? 0 : *std::max_element(stepsMs.begin(), stepsMs.end());
    const double medianStep = percentile(stepsMs, 0.5);
    const double p90Step = percentile(stepsMs, 0.9);
    std::fprintf(stdout,
                 "direction=%s mode=%s connections=%d files=%d bytes=%lld seconds=%.3f firstEnd_s=%.3f "
                 "queueGrewUntil_s=%.3f perFileMedian_ms=%.2f perFileP90_ms=%.2f perFileMax_ms=%.1f starved_s=%.3f "
                 "entries=%lld cpu_s=%.2f mainThreadCpu_s=%.2f peakRSS_KiB=%ld longestStall_ms=%.1f\n",
                 download ? "down" : "up", flat ? "flat" : "folder", TransferSettings::load().connections, finished,
                 static_cast<long long>(bytes), double(elapsedNs) / 1e9, firstEnd, double(grewAtNs) / 1e9, medianStep,
                 p90Step, maxStep, starvedMs / 1e3, static_cast<long long>(queue->size()), cpu, mainCpu,
                 peakResidentKiB(), ticker.longestMs());
    if (!failed.isEmpty())
        return fail(QStringLiteral("failed ") + failed);
    if (!complete)
        return fail(QStringLiteral("timed out"));
    delegate.disconnectFromFTP();
    return 0;
}
