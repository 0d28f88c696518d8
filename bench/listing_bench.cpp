// SPDX-License-Identifier: GPL-3.0-or-later
// The whole program, offscreen, on a real server: either many small files fetched through
// the download queue, or one huge directory opened in the remote browser and scrolled
// through. Prints one line of key=value figures, among them the longest gap between two
// ticks of a 5 ms timer on the main thread; while files come, also how often the window was
// repainted and what that took, and how often the downloads table and its totals line were
// painted.
//
//   listing_bench --server 127.0.0.1:2121 --mode files --remote-dir small --count 1000
//                 --local-dir DIR
//   listing_bench --server 127.0.0.1:2121 --mode listing --remote-dir big --count 100000
#include "app/MyDelegate.h"
#include "AppBench.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QAbstractItemView>
#include <QLabel>
#include <QTableView>
#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <numeric>
#include <vector>

using namespace zodaru;
using zodaru::bench::waitUntil;

namespace {

// Rows of a column once its entries are there; -1 while it shows a placeholder.
int entryRows(ColumnBrowser &browser, int column)
{
    const int rows = browser.rowCount(column);
    if (rows == 1 && browser.cellAt(column, 0)->isPlaceholder())
        return -1;
    return rows;
}

bool selectNamed(ColumnBrowser &browser, int column, const QString &name)
{
    for (int row = 0; row < browser.rowCount(column); ++row) {
        if (browser.cellAt(column, row)->name() == name) {
            browser.selectRow(column, row);
            return true;
        }
    }
    return false;
}

// The longest gap between two ticks of a 5 ms timer since the last reset, and the gap that
// 99 % of them stay under.
class GapMeter final {
public:
    explicit GapMeter(QObject *context)
    {
        tick_.setTimerType(Qt::PreciseTimer);
        tick_.setInterval(5);
        QObject::connect(&tick_, &QTimer::timeout, context, [this] {
            const qint64 gap = sinceTick_.nsecsElapsed();
            longestNs_ = std::max(longestNs_, gap);
            gaps_.push_back(gap);
            sinceTick_.restart();
        });
        sinceTick_.start();
        tick_.start();
    }
    void reset()
    {
        longestNs_ = 0;
        gaps_.clear();
        sinceTick_.restart();
    }
    double p99Ms() const
    {
        if (gaps_.empty())
            return longestMs();
        std::vector<qint64> sorted = gaps_;
        const auto at = sorted.begin() + qsizetype(sorted.size() * 99 / 100);
        std::nth_element(sorted.begin(), at, sorted.end());
        return double(*at) / 1e6;
    }
    // Counts the gap still open: a phase may end in the middle of one.
    double longestMs() const { return double(std::max(longestNs_, sinceTick_.nsecsElapsed())) / 1e6; }

private:
    QTimer tick_;
    QElapsedTimer sinceTick_;
    qint64 longestNs_ = 0;
    std::vector<qint64> gaps_;
};


// Counts the paints of the downloads table and its totals line, and times the window's
// repaints (its update requests, which paint every widget marked dirty and flush).
class PaintMeter final : public QObject {
public:
    PaintMeter(QWidget &window, QWidget &table, QWidget &totals)
        : window_(window), table_(table), totals_(totals)
    {
        for (QWidget *w : {&window, &table, &totals})
            w->installEventFilter(this);
    }
    int tablePaints = 0;
    int totalsPaints = 0;
    int windowRepaints = 0;
    qint64 repaintNs = 0;
    qint64 longestRepaintNs = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            tablePaints += watched == &table_ ? 1 : 0;
            totalsPaints += watched == &totals_ ? 1 : 0;
        } else if (watched == &window_ && event->type() == QEvent::UpdateRequest) {
            // Handled here, so that it can be timed; the window does the rest as usual.
            QElapsedTimer clock;
            clock.start();
            window_.removeEventFilter(this);
            QCoreApplication::sendEvent(&window_, event);
            window_.installEventFilter(this);
            const qint64 ns = clock.nsecsElapsed();
            ++windowRepaints;
            repaintNs += ns;
            longestRepaintNs = std::max(longestRepaintNs, ns);
            return true;
        }
        return false;
    }

private:
    QWidget &window_;
    QWidget &table_;
    QWidget &totals_;
};

int fail(const char *what)
{
    std::fprintf(stdout, "error=%s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCommandLineParser parser;
    // The benchmark server takes anonymous logins.
    const QCommandLineOption server(QStringLiteral("server"), QStringLiteral("host:port"), QStringLiteral("server"));
    const QCommandLineOption mode(QStringLiteral("mode"), QStringLiteral("files or listing"), QStringLiteral("mode"));
    const QCommandLineOption remoteDir(QStringLiteral("remote-dir"), QStringLiteral("remote directory under /"),
                                       QStringLiteral("name"));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("entries in the directory"),
                                   QStringLiteral("n"));
    const QCommandLineOption localDir(QStringLiteral("local-dir"), QStringLiteral("where files go"),
                                      QStringLiteral("path"));
    parser.addOptions({server, mode, remoteDir, count, localDir});
    parser.process(app);
    const int expected = parser.value(count).toInt();

    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());

    MyDelegate delegate;
    delegate.applicationWillFinishLaunching();
    delegate.applicationDidFinishLaunching();
    MainWindowController &controller = *delegate.window();
    MainWindow &window = *controller.window();
    ColumnBrowser &local = *window.localView();
    ColumnBrowser &remote = *window.remoteView();
    GapMeter gaps(&app);

    delegate.connectWithAddress(parser.value(server), QStringLiteral("anonymous"), QStringLiteral("bench@"));
    if (!waitUntil([&] { return !delegate.isDialing() && entryRows(remote, 0) > 0; })
        || controller.connectionState() != MainWindowController::ConnectionState::Connected)
        return fail("not connected");

    QElapsedTimer clock;
    if (parser.value(mode) == QLatin1String("files")) {
        if (!local.setPath(parser.value(localDir)) || !selectNamed(remote, 0, parser.value(remoteDir)))
            return fail("browsers do not show the directories");
        if (!waitUntil([&] { return entryRows(remote, 1) == expected; }))
            return fail("remote directory not listed");
        QList<int> rows(expected);
        std::iota(rows.begin(), rows.end(), 0);
        remote.selectRows(1, rows);
        const QList<File> *queue = nullptr;
        PaintMeter paints(window, *window.Downloads()->viewport(), *window.downloadTotals());
        gaps.reset();
        clock.start();
        window.Get()->click();
        queue = delegate.downloadQueue();
        const bool finished = waitUntil([&] {
            return queue->size() == expected
                   && std::all_of(queue->rbegin(), queue->rend(), [](const File &f) { return f.isDone(); });
        });
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        const auto failed = std::count_if(queue->begin(), queue->end(), [](const File &f) { return f.hasError(); });
        std::fprintf(stdout,
                     "files=%d seconds=%.3f filesPerSecond=%.1f failed=%lld longestGap_ms=%.1f p99Gap_ms=%.1f "
                     "windowRepaints=%d "
                     "repaintTotal_ms=%.1f repaintMax_ms=%.1f tablePaints=%d totalsPaints=%d\n",
                     int(queue->size()), seconds, seconds > 0 ? double(queue->size()) / seconds : 0,
                     static_cast<long long>(failed), gaps.longestMs(), gaps.p99Ms(), paints.windowRepaints,
                     double(paints.repaintNs) / 1e6, double(paints.longestRepaintNs) / 1e6, paints.tablePaints,
                     paints.totalsPaints);
        return finished && failed == 0 ? 0 : fail("not all files done");
    }

    // The huge directory: opened, then scrolled through page by page, then listed again
    // with a row selected in the middle.
    gaps.reset();
    clock.start();
    if (!selectNamed(remote, 0, parser.value(remoteDir)))
        return fail("remote directory not shown");
    if (!waitUntil([&] { return entryRows(remote, 1) == expected; }))
        return fail("huge directory not listed");
    const double openSeconds = double(clock.nsecsElapsed()) / 1e9;
    const double openGapMs = gaps.longestMs();
    const double openP99Ms = gaps.p99Ms();

    QAbstractItemView *view = nullptr;
    for (QAbstractItemView *candidate : remote.findChildren<QAbstractItemView *>())
        if (candidate->isVisible() && candidate->model() && candidate->model()->rowCount() == expected)
            view = candidate;
    if (!view)
        return fail("no view shows the huge column");
    QScrollBar *bar = view->verticalScrollBar();
    constexpr int kScrollSteps = 400;
    qint64 longestStepNs = 0;
    QElapsedTimer step;
    for (int i = 0; i <= kScrollSteps; ++i) {
        step.start();
        bar->setValue(int(qint64(bar->maximum()) * i / kScrollSteps));
        view->viewport()->repaint();
        QCoreApplication::processEvents();
        longestStepNs = std::max(longestStepNs, step.nsecsElapsed());
    }

    const int middle = expected / 2;
    remote.selectRow(1, middle);
    const QString chosen = remote.cellAt(1, middle)->name();
    gaps.reset();
    clock.start();
    controller.refreshRemote();
    const bool relisted = waitUntil([&] {
        if (entryRows(remote, 1) != expected)
            return false;
        const QList<CellFile *> cells = remote.selectedCells();
        return cells.size() == 1 && cells.first()->name() == chosen;
    });
    const double reloadSeconds = double(clock.nsecsElapsed()) / 1e9;
    std::fprintf(stdout,
                 "rows=%d openSeconds=%.3f openGap_ms=%.1f openP99_ms=%.1f scrollStepMax_ms=%.1f "
                 "reloadSeconds=%.3f reloadGap_ms=%.1f reloadP99_ms=%.1f selectionKept=%d\n",
                 remote.rowCount(1), openSeconds, openGapMs, openP99Ms, double(longestStepNs) / 1e6, reloadSeconds,
                 gaps.longestMs(), gaps.p99Ms(), relisted ? 1 : 0);
    delegate.disconnectFromFTP();
    return relisted ? 0 : 1;
}
