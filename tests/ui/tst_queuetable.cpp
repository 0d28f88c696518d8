// SPDX-License-Identifier: GPL-3.0-or-later
// The queue's side of the transfer tables: the actions on the queue (menu, keys, rows
// dragged), folder rows, and the totals line under each table.
#include "base/Log.h"
#include "ui/DownloadTableView.h"
#include "ui/MainWindow.h"
#include "ui/TransferTableActions.h"
#include "ui/TransferTotals.h"
#include "ui/UploadTableView.h"

#include "support/FakeApp.h"
#include "support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTranslator>

#include <memory>

using namespace zodaru;
using test::FakeApp;

namespace {

File entry(const QString &name, qint64 size, qint64 done = 0)
{
    File f(name, size, 0);
    f.addToSize(done);
    return f;
}

// Rows: 0 waiting, 1 running, 2 done, 3 failed, 4 waiting.
QList<File> fiveEntries()
{
    QList<File> entries{entry("wait", 10), entry("run", 10, 4), entry("done", 10, 10), entry("failed", 10, 3),
                        entry("last", 10)};
    entries[1].setCurrent(true);
    entries[2].setDone();
    entries[3].setError();
    return entries;
}

// (milliseconds of the table's clock, row whose entry gets a byte, -1 none), one reload each;
// milliseconds -1: no reload, the event loop runs until the table tells what waited.
using Steps = QList<QPair<qint64, int>>;

// What a reload told the views: the rows changed ("0,2"), and "+totals" for a new line.
QString told(const QSignalSpy &changes, const QSignalSpy &totals)
{
    QStringList rows;
    for (const QList<QVariant> &args : changes)
        for (int row = args.at(0).value<QModelIndex>().row(); row <= args.at(1).value<QModelIndex>().row(); ++row)
            rows << QString::number(row);
    QString text = rows.join(u',');
    if (!totals.isEmpty())
        text += QStringLiteral("+totals");
    return text;
}

// One random change to a queue, as transfers and the user make them.
void randomChange(QList<File> &queue, QRandomGenerator &random)
{
    const int pick = queue.isEmpty() ? 0 : int(random.bounded(8));
    File *some = queue.isEmpty() ? nullptr : &queue[random.bounded(int(queue.size()))];
    switch (pick) {
    case 0: {
        File added(QStringLiteral("n%1").arg(random.bounded(100)), random.bounded(1000), 0);
        queue.append(added);
        break;
    }
    case 1: some->addToSize(random.bounded(300)); break;
    case 2: some->setDone(); break;
    case 3: some->setError(); break;
    case 4: some->requeue(); break;
    case 5: some->setCurrent(!some->isCurrent()); break;
    case 6: queue.removeAt(random.bounded(int(queue.size()))); break;
    case 7: {
        File folder(QStringLiteral("d"), 0, 1);
        folder.setWalking(random.bounded(2) == 0);
        *some = File::copyOf(folder);
        some->setWalking(folder.isWalking());
        break;
    }
    }
}
using Samples = QList<QPair<qint64, qint64>>;

// A folder row as the queue keeps it.
File folderRow(int found, int done, int failed, bool walking, bool incomplete = false)
{
    File f(QStringLiteral("photos"), 0, 1);
    f.setFileCounts(found, done);
    f.setFilesFailed(failed);
    f.setWalking(walking);
    f.setWalkIncomplete(incomplete);
    f.setSize(found * 10);
    f.addToSize(done * 10);
    if (!walking && done + failed == found) {
        if (failed > 0 || incomplete)
            f.setError();
        else
            f.setDone();
    }
    return f;
}

} // namespace

Q_DECLARE_METATYPE(Steps)

Q_DECLARE_METATYPE(zodaru::File)

class TestQueueTable final : public QObject {
    Q_OBJECT

    // A table of fiveEntries() in `which` queue, with its actions.
    struct Table {
        FakeApp app;
        std::unique_ptr<TransferTableModel> model;
        QTableView view;
        std::unique_ptr<TransferTableActions> actions;
        explicit Table(const QString &which)
        {
            const bool download = which == u"download";
            (download ? app.downloads : app.uploads) = fiveEntries();
            if (download)
                model = std::make_unique<DownloadTableView>(app);
            else
                model = std::make_unique<UploadTableView>(app);
            view.setSelectionBehavior(QAbstractItemView::SelectRows);
            view.setSelectionMode(QAbstractItemView::ExtendedSelection);
            view.setModel(model.get());
            actions = std::make_unique<TransferTableActions>(
                view, app, download ? AppContext::Direction::Download : AppContext::Direction::Upload);
        }
        void select(const QList<int> &rows)
        {
            view.clearSelection();
            for (int row : rows)
                view.selectionModel()->select(model->index(row, 0),
                                              QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    };

private Q_SLOTS:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }
    void init() { setLogSink([](const QString &) {}); }
    void cleanup() { setLogSink({}); }

    void queueMenu_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QList<int>>("selected"); // afterwards
        using R = QList<int>;
        QTest::newRow("remove") << "download" << false << R{1, 2} << "Remove from queue" << true
                                << QStringList{"removeTransfers 0 1,2"} << R{};
        QTest::newRow("move up") << "download" << false << R{1, 2} << "Move up" << true
                                 << QStringList{"moveTransfers 0 1,2 0"} << R{0, 1};
        QTest::newRow("the first row cannot go up") << "upload" << false << R{0, 1} << "Move up" << false
                                                    << QStringList{} << R{0, 1};
        QTest::newRow("move down") << "upload" << false << R{2, 3} << "Move down" << true
                                   << QStringList{"moveTransfers 1 2,3 5"} << R{3, 4};
        QTest::newRow("the last row cannot go down") << "download" << false << R{4} << "Move down" << false
                                                     << QStringList{} << R{4};
        QTest::newRow("retry all failed, nothing selected") << "download" << false << R{} << "Retry all failed"
                                                            << true << QStringList{"retryFailedTransfers 0"} << R{};
        QTest::newRow("clear finished") << "upload" << false << R{0} << "Clear finished" << true
                                        << QStringList{"clearFinishedTransfers 1"} << R{0};
        QTest::newRow("pause") << "download" << false << R{} << "Pause queue" << true
                               << QStringList{"setTransfersPaused 0 1"} << R{};
        QTest::newRow("resume") << "upload" << true << R{} << "Resume queue" << true
                                << QStringList{"setTransfersPaused 1 0"} << R{};
    }
    void queueMenu()
    {
        QFETCH(QString, which);
        QFETCH(bool, paused);
        QFETCH(QList<int>, rows);
        QFETCH(QString, action);
        QFETCH(bool, enabled);
        QFETCH(QStringList, calls);
        QFETCH(QList<int>, selected);
        Table t(which);
        t.app.paused = paused;
        t.select(rows);
        const std::unique_ptr<QMenu> menu = t.actions->menuFor(rows);
        QAction *found = nullptr;
        for (QAction *item : menu->actions())
            if (item->text() == action)
                found = item;
        QVERIFY(found);
        QCOMPARE(found->isEnabled(), enabled);
        if (found->isEnabled())
            found->trigger();
        QCOMPARE(t.app.calls, calls);
        QCOMPARE(t.actions->selectedRows(), selected);
    }

    void queueKeys_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QStringList>("calls");
        using R = QList<int>;
        QTest::newRow("Shift+Delete removes") << R{0, 3} << int(Qt::Key_Delete) << int(Qt::ShiftModifier)
                                              << QStringList{"removeTransfers 0 0,3"};
        QTest::newRow("Delete still cancels") << R{0, 3} << int(Qt::Key_Delete) << int(Qt::NoModifier)
                                              << QStringList{"cancelTransfer 0 0"};
        QTest::newRow("Ctrl+Up") << R{3} << int(Qt::Key_Up) << int(Qt::ControlModifier)
                                 << QStringList{"moveTransfers 0 3 2"};
        QTest::newRow("Ctrl+Down") << R{0, 1} << int(Qt::Key_Down) << int(Qt::ControlModifier)
                                   << QStringList{"moveTransfers 0 0,1 3"};
        QTest::newRow("Ctrl+Up on the first row") << R{0} << int(Qt::Key_Up) << int(Qt::ControlModifier)
                                                  << QStringList{};
    }
    void queueKeys()
    {
        QFETCH(QList<int>, rows);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QStringList, calls);
        Table t(QStringLiteral("download"));
        t.select(rows);
        QTest::keyClick(&t.view, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        QCOMPARE(t.app.calls, calls);
    }

    // Rows dragged within the table: dropped onto a row or between rows, they go before it.
    void rowsDragged_data()
    {
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<int>("row");    // where dropped between rows; -1 onto a row or past the end
        QTest::addColumn<int>("onto");   // the row dropped onto; -1 none
        QTest::addColumn<QString>("from"); // the table the rows come from
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("calls");
        using R = QList<int>;
        const int move = int(Qt::MoveAction);
        QTest::newRow("between rows") << R{1, 3} << 0 << -1 << "same" << move << QStringList{"moveTransfers 0 1,3 0"};
        QTest::newRow("onto a row") << R{0} << -1 << 2 << "same" << move << QStringList{"moveTransfers 0 0 2"};
        QTest::newRow("past the last row") << R{0} << -1 << -1 << "same" << move
                                           << QStringList{"moveTransfers 0 0 5"};
        QTest::newRow("rows of the other table") << R{0} << 2 << -1 << "other" << move << QStringList{};
        QTest::newRow("a copy is not a move") << R{0} << 2 << -1 << "same" << int(Qt::CopyAction) << QStringList{};
    }
    void rowsDragged()
    {
        QFETCH(QList<int>, rows);
        QFETCH(int, row);
        QFETCH(int, onto);
        QFETCH(QString, from);
        QFETCH(int, action);
        QFETCH(QStringList, calls);
        Table t(QStringLiteral("download"));
        Table other(QStringLiteral("upload"));
        QCOMPARE(t.view.dragDropMode(), QAbstractItemView::InternalMove);
        TransferTableModel &source = from == u"same" ? *t.model : *other.model;
        QModelIndexList indexes;
        for (int r : rows)
            indexes << source.index(r, 0) << source.index(r, 2);
        const std::unique_ptr<QMimeData> data(source.mimeData(indexes));
        const QModelIndex parent = onto >= 0 ? t.model->index(onto, 0) : QModelIndex();
        const bool taken = t.model->dropMimeData(data.get(), Qt::DropAction(action), row, 0, parent);
        QCOMPARE(taken, !calls.isEmpty());
        QCOMPARE(t.app.calls, calls);
    }

    // Folder rows read as the count of their files; files found in them by their path.
    void folderRows_data()
    {
        QTest::addColumn<File>("row");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("size");
        QTest::addColumn<QString>("status");
        QTest::newRow("walked") << folderRow(40, 12, 0, true) << "photos" << "400 B" << "12 / 40 files, listing...";
        QTest::newRow("going on") << folderRow(40, 12, 0, false) << "photos" << "400 B" << "12 / 40 files";
        QTest::newRow("done") << folderRow(3, 3, 0, false) << "photos" << "30 B" << "3 / 3 files";
        QTest::newRow("a file failed") << folderRow(3, 2, 1, false) << "photos" << "30 B"
                                       << "2 / 3 files, failed";
        QTest::newRow("walk incomplete") << folderRow(2, 2, 0, false, true) << "photos" << "20 B"
                                         << "2 / 2 files, failed";
        File inside = entry("a.jpg", 5);
        inside.setDisplayName("photos/2020/a.jpg");
        QTest::newRow("a file of it") << inside << "photos/2020/a.jpg" << "5 B" << "Waiting...";
        File asking = entry("b.jpg", 5);
        asking.setAsking(true);
        QTest::newRow("a file asked about") << asking << "b.jpg" << "5 B" << "Asking...";
        File skipped = entry("c.jpg", 5);
        skipped.setSkipped();
        QTest::newRow("a skipped file") << skipped << "c.jpg" << "5 B" << "Skipped";
    }
    void folderRows()
    {
        QFETCH(File, row);
        QFETCH(QString, name);
        QFETCH(QString, size);
        QFETCH(QString, status);
        FakeApp app;
        app.downloads = {entry("first", 1)};
        DownloadTableView table(app);
        // Shown after a reload, as a change of the row: the counts are part of what it shows.
        app.downloads = {row};
        table.reloadData();
        QCOMPARE(table.index(0, 0).data().toString(), name);
        QCOMPARE(table.index(0, 1).data().toString(), size);
        QCOMPARE(table.index(0, 2).data().toString(), status);
        File counted = row;
        counted.setFileCounts(row.filesFound() + 1, row.filesDone());
        app.downloads = {counted};
        table.reloadData();
        if (row.isDir())
            QVERIFY(table.index(0, 2).data().toString() != status);
    }

    // Samples of the queue's bytes moved, (milliseconds, bytes of the running entry), one
    // reload each.
    void totalsLine_data()
    {
        QTest::addColumn<QList<File>>("entries");
        QTest::addColumn<bool>("paused");
        QTest::addColumn<Samples>("samples");
        QTest::addColumn<QString>("line");
        const QList<File> none;
        QTest::newRow("empty") << none << false << Samples{} << "Nothing left to transfer";
        QList<File> two{entry("a", 100), entry("b", 3)};
        QTest::newRow("two waiting") << two << false << Samples{} << "2 files left, 103 B";
        QTest::newRow("paused") << two << true << Samples{} << "Paused - 2 files left, 103 B";
        QList<File> finished{entry("a", 100, 100), entry("b", 3)};
        finished[0].setDone();
        QTest::newRow("finished ones do not count") << finished << false << Samples{} << "1 file left, 3 B";
        QList<File> failed{entry("a", 100, 40), entry("b", 3, 3)};
        failed[0].setError();
        failed[1].setSkipped();
        QTest::newRow("failed or skipped: nothing left") << failed << false << Samples{} << "Nothing left to transfer";
        QList<File> running{entry("big", 10000000), entry("next", 2000000)};
        running[0].setCurrent(true);
        QTest::newRow("running: speed and time left")
            << running << false << Samples{{0, 0}, {1000, 1000000}, {2000, 2000000}}
            << "2 files left, 9.5 MiB - 1.0 MB/s, 0:10 left";
        QTest::newRow("speed not known yet") << running << false << Samples{{0, 0}, {500, 500000}}
                                             << "2 files left, 11.0 MiB";
        QList<File> walking{folderRow(1, 0, 0, true), entry("x", 10)};
        walking[1].setGroup(1);
        QTest::newRow("a folder still listed") << walking << false << Samples{}
                                               << "1 file left, 10 B (more being listed)";
        QList<File> emptyWalk{folderRow(0, 0, 0, true)};
        QTest::newRow("only a folder being listed") << emptyWalk << false << Samples{}
                                                    << "Nothing left to transfer (more being listed)";
    }
    void totalsLine()
    {
        QFETCH(QList<File>, entries);
        QFETCH(bool, paused);
        QFETCH(Samples, samples);
        QFETCH(QString, line);
        FakeApp app;
        app.paused = paused;
        DownloadTableView table(app);
        QLabel label;
        showTotals(table, label);
        qint64 now = 0;
        table.setClock([&now] { return now; });
        app.downloads = entries;
        if (samples.isEmpty())
            table.reloadData();
        for (const auto &[ms, bytes] : samples) {
            now = ms;
            app.downloads[0].addToSize(bytes - app.downloads[0].currentsize());
            table.reloadData();
        }
        QCOMPARE(table.totalsText(), line);
        QCOMPARE(label.text(), line);
    }

    // A reload within a frame of the last change told is told at the frame's end, the rows
    // changed meanwhile together.
    void changesToldOncePerFrame_data()
    {
        QTest::addColumn<Steps>("steps");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("a frame apart: at once") << Steps{{0, 1}, {20, 1}, {40, 2}} << QStringList{"1+totals", "1", "2"};
        QTest::newRow("within a frame: at its end")
            << Steps{{0, 1}, {5, 2}, {10, 0}, {16, -2}} << QStringList{"1+totals", "", "", "0,2"};
        QTest::newRow("one row many times: once")
            << Steps{{0, 1}, {1, 1}, {2, 1}, {30, -2}} << QStringList{"1+totals", "", "", "1"};
        QTest::newRow("the totals line waits too")
            << Steps{{0, 0}, {3, 0}, {100, -2}} << QStringList{"0+totals", "", "0"};
        QTest::newRow("the frame ends by itself") << Steps{{0, 1}, {4, 2}, {-1, -2}} << QStringList{"1+totals", "", "2"};
        // The first reload makes the line of the queue the table was made with.
        QTest::newRow("nothing new: nothing told") << Steps{{0, -2}, {50, -2}} << QStringList{"+totals", ""};
        // Row 3 of these steps finishes every entry: the queue rests, and is told so at once.
        QTest::newRow("the end of a run: at once") << Steps{{0, 1}, {5, 3}} << QStringList{"1+totals", "0,1,2+totals"};
        // Row 4 pauses the queue.
        QTest::newRow("paused: at once") << Steps{{0, 1}, {5, 4}} << QStringList{"1+totals", "+totals"};
    }
    void changesToldOncePerFrame()
    {
        QFETCH(Steps, steps);
        QFETCH(QStringList, expected);
        FakeApp app;
        app.downloads = {entry("a.txt", 100), entry("b.bin", 3), entry("c.iso", 5000000000LL)};
        DownloadTableView table(app);
        QAbstractItemModelTester tester(&table, QAbstractItemModelTester::FailureReportingMode::QtTest);
        qint64 now = 0;
        table.setClock([&now] { return now; });
        QStringList got;
        for (const auto &[ms, row] : steps) {
            QSignalSpy changes(&table, &QAbstractItemModel::dataChanged);
            QSignalSpy totals(&table, &TransferTableModel::totalsChanged);
            if (ms < 0) {
                QVERIFY(changes.wait(5000));
            } else {
                now = ms;
                if (row == 3)
                    for (File &entry : app.downloads) {
                        entry.addToSize(entry.size() - entry.currentsize());
                        entry.setDone();
                    }
                else if (row == 4)
                    app.paused = true;
                else if (row >= 0)
                    app.downloads[row].addToSize(1);
                table.reloadData();
            }
            got << told(changes, totals);
            // The rows read as the queue does at once, whatever waits to be told.
            for (int r = 0; r < table.rowCount(); ++r)
                QCOMPARE(table.index(r, 2).data().toString(), app.downloads.at(r).getStatus());
        }
        QCOMPARE(got, expected);
    }

    // The totals line follows the rows that changed; it reads as a walk of the whole queue.
    void totalsFollowChanges_data()
    {
        QTest::addColumn<quint32>("seed");
        for (quint32 seed : {1u, 7u, 1234u, 99999u})
            QTest::newRow(qPrintable(QStringLiteral("seed %1").arg(seed))) << seed;
    }
    void totalsFollowChanges()
    {
        QFETCH(quint32, seed);
        QRandomGenerator random(seed);
        FakeApp app;
        app.downloads = {entry("a.txt", 100), entry("b.bin", 3), entry("c.iso", 5000000000LL)};
        DownloadTableView table(app);
        table.setClock([] { return qint64(0); }); // no speed: the line is the counts alone
        for (int step = 0; step < 400; ++step) {
            for (int n = int(random.bounded(3)); n >= 0; --n)
                randomChange(app.downloads, random);
            table.reloadData();
            QCOMPARE(table.totalsText(), TransferTotals::of(app.downloads).text(0, false));
        }
    }

    void frenchTexts()
    {
        QTranslator french;
        QVERIFY(french.load(QStringLiteral(":/i18n/zodaru_fr.qm")));
        QCoreApplication::installTranslator(&french);
        TransferTotals two;
        two.filesLeft = 2;
        two.bytesLeft = 103;
        TransferTotals one = two;
        one.filesLeft = 1;
        one.listing = true;
        const QStringList texts{two.text(0, true), one.text(0, false), TransferTotals().text(0, false),
                                TransferTableModel::folderStatus(folderRow(3, 1, 0, true)),
                                TransferTableModel::folderStatus(folderRow(3, 2, 1, false))};
        QCoreApplication::removeTranslator(&french);
        QCOMPARE(texts, (QStringList{"En pause - 2 fichiers restants, 103 o", "1 fichier restant, 103 o (listage en cours)",
                                     "Plus rien à transférer", "1 / 3 fichiers, listage…", "2 / 3 fichiers, échec"}));
    }

    // Each tab holds its table and, under it, its totals line.
    void totalsLineUnderEachTable()
    {
        MainWindow window;
        window.layoutWindow();
        window.resize(640, 600);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QTabWidget *tabs = window.transferTabs();
        const std::pair<QTableView *, QLabel *> pages[] = {{window.Downloads(), window.downloadTotals()},
                                                           {window.Uploads(), window.uploadTotals()}};
        for (int tab = 0; tab < 2; ++tab) {
            window.transferTabs()->setCurrentIndex(tab);
            QApplication::processEvents();
            const auto [table, totals] = pages[tab];
            QVERIFY(totals);
            QCOMPARE(totals->parentWidget(), tabs->widget(tab));
            QCOMPARE(table->parentWidget(), tabs->widget(tab));
            QCOMPARE(table->width(), tabs->widget(tab)->width());
            QVERIFY2(totals->y() > table->geometry().bottom(),
                     qPrintable(QStringLiteral("%1 %2").arg(totals->y()).arg(table->geometry().bottom())));
        }
    }
};

QTEST_MAIN(TestQueueTable)
#include "tst_queuetable.moc"
