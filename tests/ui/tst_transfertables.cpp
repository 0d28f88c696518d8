// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Log.h"
#include "model/SizeText.h"
#include "ui/AppContext.h"
#include "ui/DownloadTableView.h"
#include "ui/TransferStatusDelegate.h"
#include "ui/GestFTPBrowser.h"
#include "ui/TransferTableActions.h"
#include "ui/UploadTableView.h"

#include "support/FakeApp.h"

#include "support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QImage>
#include <QMenu>
#include <QTableView>
#include <QTranslator>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <limits>
#include <memory>

using namespace zodaru;

namespace {

using test::FakeApp;

File entry(const QString &name, qint64 size, qint64 done = 0)
{
    File f(name, size, 0);
    f.addToSize(done);
    return f;
}

QList<File> threeFiles()
{
    return {entry("a.txt", 100), entry("b.bin", 3), entry("c.iso", 5000000000LL)};
}

std::unique_ptr<TransferTableModel> makeTable(const QString &which, FakeApp &app)
{
    if (which == u"download")
        return std::make_unique<DownloadTableView>(app);
    return std::make_unique<UploadTableView>(app);
}

QList<File> *queueOf(const QString &which, FakeApp &app)
{
    return which == u"download" ? &app.downloads : &app.uploads;
}

// A change made to a queue of three fresh entries between two reloads.
enum class Change {
    Nothing, Append, Chunk, ChunkFirstAndLast, Finish, Fail, Emptied, Shrunk, Dropped
};

void apply(Change change, FakeApp &app)
{
    QList<File> &queue = app.downloads;
    switch (change) {
    case Change::Nothing: break;
    case Change::Append: queue.append(entry("d", 1)); queue.append(entry("e", 2)); break;
    case Change::Chunk: queue[1].addToSize(1); break;
    case Change::ChunkFirstAndLast: queue[0].addToSize(10); queue[2].addToSize(10); break;
    case Change::Finish: queue[0].addToSize(100); queue[0].setDone(); break;
    case Change::Fail: queue[2].setError(); break;
    case Change::Emptied: queue.clear(); break;
    case Change::Shrunk: queue = {entry("x", 1)}; break;
    case Change::Dropped: app.queuesExist = false; break;
    }
}

using Ranges = QList<QPair<int, int>>;
using Samples = QList<QPair<qint64, qint64>>;

} // namespace

Q_DECLARE_METATYPE(Change)

class TestTransferTables final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Sizes are written as the locale writes numbers: one locale for every run.
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void readableSizes_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("readable");
        QTest::addColumn<QString>("exact");
        QTest::newRow("empty") << qint64(0) << "0 B" << "0 bytes";
        QTest::newRow("under a KiB") << qint64(1023) << "1,023 B" << "1,023 bytes";
        QTest::newRow("one KiB") << qint64(1024) << "1.0 KiB" << "1,024 bytes";
        QTest::newRow("a KiB and a half") << qint64(1536) << "1.5 KiB" << "1,536 bytes";
        QTest::newRow("no decimal from 100 on") << qint64(150 * 1024) << "150 KiB" << "153,600 bytes";
        QTest::newRow("just under a MiB") << qint64(1048575) << "1,024 KiB" << "1,048,575 bytes";
        QTest::newRow("one MiB") << qint64(1048576) << "1.0 MiB" << "1,048,576 bytes";
        QTest::newRow("five billion bytes") << qint64(5000000000LL) << "4.7 GiB" << "5,000,000,000 bytes";
        QTest::newRow("three TiB") << (qint64(3) << 40) << "3.0 TiB" << "3,298,534,883,328 bytes";
        QTest::newRow("largest") << std::numeric_limits<qint64>::max() << "8.0 EiB"
                                 << "9,223,372,036,854,775,807 bytes";
        QTest::newRow("unknown") << qint64(-1) << "" << "";
    }
    void readableSizes()
    {
        QFETCH(qint64, bytes);
        QFETCH(QString, readable);
        QFETCH(QString, exact);
        QCOMPARE(readableSize(bytes), readable);
        QCOMPARE(exactSize(bytes), exact);
    }

    // The size column reads like the preview column; the exact count is on hover.
    void sizeColumnIsReadable()
    {
        FakeApp app;
        app.downloads = threeFiles();
        DownloadTableView table(app);
        QCOMPARE(table.index(2, 1).data().toString(), "4.7 GiB");
        QCOMPARE(table.index(2, 1).data(Qt::ToolTipRole).toString(), "5,000,000,000 bytes");
        QCOMPARE(table.index(2, 0).data(Qt::ToolTipRole), QVariant());
        // The table's own question keeps the exact count.
        QCOMPARE(table.tableView("Size", 2).toString(), "5000000000");
    }

    void init() { setLogSink([](const QString &) {}); }
    void cleanup() { setLogSink({}); }

    void rowCountIsLogged_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<bool>("hasQueue");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("download, no queue")
            << "download" << false
            << QStringList{"downloadtableview numberofrowsintableview",
                           "download numberOfRowsInTableView : 0"};
        QTest::newRow("download, three") << "download" << true
                                         << QStringList{"downloadtableview numberofrowsintableview",
                                                        "download numberOfRowsInTableView : 3"};
        QTest::newRow("upload, no queue") << "upload" << false
                                          << QStringList{"uploadtableview numberofrowsintableview",
                                                         "upload numberOfRowsInTableView : 0"};
        QTest::newRow("upload, three") << "upload" << true
                                       << QStringList{"uploadtableview numberofrowsintableview",
                                                      "upload numberOfRowsInTableView : 3"};
    }

    void rowCountIsLogged()
    {
        QFETCH(QString, which);
        QFETCH(bool, hasQueue);
        QFETCH(QStringList, expected);
        FakeApp app;
        app.queuesExist = hasQueue;
        auto table = makeTable(which, app);
        *queueOf(which, app) = threeFiles();
        LogCapture log;
        table->reloadData();
        QCOMPARE(log.lines(), expected);
        QCOMPARE(table->rowCount(), hasQueue ? 3 : 0);
    }

    void rowsShowTheQueue_data()
    {
        QTest::addColumn<QString>("which");
        QTest::newRow("download") << "download";
        QTest::newRow("upload") << "upload";
    }

    void rowsShowTheQueue()
    {
        QFETCH(QString, which);
        FakeApp app;
        QList<File> files = threeFiles();
        files[0].addToSize(50);
        files[1].setError();
        *queueOf(which, app) = files;
        // The other direction's queue must not show up here.
        const QString other = which == u"download" ? "upload" : "download";
        *queueOf(other, app) = {entry("elsewhere", 1)};
        auto table = makeTable(which, app);
        QAbstractItemModelTester tester(table.get(),
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->columnCount(), 3);
        const QStringList expected[] = {{"a.txt", "100 B", files[0].getStatus()},
                                        {"b.bin", "3 B", files[1].getStatus()},
                                        {"c.iso", "4.7 GiB", files[2].getStatus()}};
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                QCOMPARE(table->index(row, col).data().toString(), expected[row][col]);
        QCOMPARE(table->index(0, 2).data().toString(), files[0].getStatus());
        QVERIFY(table->index(0, 2).data().toString() != table->index(2, 2).data().toString());
    }

    void headersAreTheIdentifiers()
    {
        FakeApp app;
        DownloadTableView table(app);
        QCOMPARE(table.rowCount(), 0);
        QStringList titles;
        for (int col = 0; col < table.columnCount(); ++col)
            titles << table.headerData(col, Qt::Horizontal).toString();
        QCOMPARE(titles, QStringList({"Name", "Size", "Status"}));
        QCOMPARE(table.headerData(0, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(),
                 Qt::Alignment(Qt::AlignCenter));
    }

    void answersByIdentifier_data()
    {
        QTest::addColumn<QString>("identifier");
        QTest::addColumn<int>("row");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("name") << "Name" << 1 << QVariant(QStringLiteral("b.bin"));
        QTest::newRow("size") << "Size" << 2 << QVariant(QStringLiteral("5000000000"));
        QTest::newRow("status") << "Status" << 0 << QVariant(QStringLiteral("Waiting..."));
        QTest::newRow("unknown identifier") << "Date" << 0 << QVariant();
        QTest::newRow("identifier case matters") << "name" << 0 << QVariant();
        QTest::newRow("row past the end") << "Name" << 3 << QVariant();
        QTest::newRow("negative row") << "Name" << -1 << QVariant();
    }

    void answersByIdentifier()
    {
        QFETCH(QString, identifier);
        QFETCH(int, row);
        QFETCH(QVariant, expected);
        FakeApp app;
        app.queuesExist = false;
        UploadTableView table(app);
        QCOMPARE(table.tableView(identifier, row), QVariant()); // no queue yet
        app.queuesExist = true;
        *queueOf("upload", app) = threeFiles();
        QCOMPARE(table.tableView(identifier, row), expected);
    }

    void unknownColumnShowsEmptyCells()
    {
        FakeApp app;
        *queueOf("download", app) = threeFiles();
        DownloadTableView table(app);
        table.setColumnIdentifiers({"Name", "Owner", "Status"});
        QAbstractItemModelTester tester(&table,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(table.index(0, 0).data().toString(), QStringLiteral("a.txt"));
        QVERIFY(!table.index(0, 1).data().isValid());
        QCOMPARE(table.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Owner"));
    }

    void reloadSignalsOnlyChanges_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<Ranges>("changed");
        QTest::addColumn<Ranges>("inserted");
        QTest::addColumn<bool>("reset");
        QTest::addColumn<int>("rows");
        QTest::newRow("nothing") << Change::Nothing << Ranges{} << Ranges{} << false << 3;
        QTest::newRow("two appended") << Change::Append << Ranges{} << Ranges{{3, 4}} << false << 5;
        QTest::newRow("chunk of the running one")
            << Change::Chunk << Ranges{{1, 1}} << Ranges{} << false << 3;
        QTest::newRow("two apart") << Change::ChunkFirstAndLast << Ranges{{0, 0}, {2, 2}}
                                   << Ranges{} << false << 3;
        QTest::newRow("finished") << Change::Finish << Ranges{{0, 0}} << Ranges{} << false << 3;
        QTest::newRow("failed") << Change::Fail << Ranges{{2, 2}} << Ranges{} << false << 3;
        QTest::newRow("replaced by empty") << Change::Emptied << Ranges{} << Ranges{} << true << 0;
        QTest::newRow("replaced by shorter") << Change::Shrunk << Ranges{} << Ranges{} << true << 1;
        QTest::newRow("queue gone") << Change::Dropped << Ranges{} << Ranges{} << true << 0;
    }

    void reloadSignalsOnlyChanges()
    {
        QFETCH(Change, change);
        QFETCH(Ranges, changed);
        QFETCH(Ranges, inserted);
        QFETCH(bool, reset);
        QFETCH(int, rows);
        FakeApp app;
        *queueOf("download", app) = threeFiles();
        DownloadTableView table(app);
        QAbstractItemModelTester tester(&table,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changes(&table, &QAbstractItemModel::dataChanged);
        QSignalSpy inserts(&table, &QAbstractItemModel::rowsInserted);
        QSignalSpy resets(&table, &QAbstractItemModel::modelReset);

        apply(change, app);
        table.reloadData();

        Ranges gotChanged;
        for (const QList<QVariant> &args : changes) {
            const auto from = args.at(0).value<QModelIndex>();
            const auto to = args.at(1).value<QModelIndex>();
            QCOMPARE(from.column(), 0);
            QCOMPARE(to.column(), 2);
            gotChanged.append({from.row(), to.row()});
        }
        Ranges gotInserted;
        for (const QList<QVariant> &args : inserts)
            gotInserted.append({args.at(1).toInt(), args.at(2).toInt()});
        QCOMPARE(gotChanged, changed);
        QCOMPARE(gotInserted, inserted);
        QCOMPARE(resets.size(), reset ? 1 : 0);
        QCOMPARE(table.rowCount(), rows);

        // Whatever changed, the rows now read as the queue does.
        for (int row = 0; row < rows; ++row)
            QCOMPARE(table.index(row, 2).data().toString(), app.downloads.at(row).getStatus());

        // A second reload with nothing new tells nobody anything.
        changes.clear();
        inserts.clear();
        resets.clear();
        table.reloadData();
        QCOMPARE(changes.size() + inserts.size() + resets.size(), qsizetype(0));
    }

    void rowsHoldUntilReload()
    {
        // A queue replaced behind the table's back must not be read through stale rows.
        FakeApp app;
        *queueOf("upload", app) = threeFiles();
        UploadTableView table(app);
        app.queuesExist = false;
        QCOMPARE(table.rowCount(), 3);
        QCOMPARE(table.index(2, 0).data().toString(), QStringLiteral("c.iso"));
        table.reloadData();
        QCOMPARE(table.rowCount(), 0);
    }

    void progressOfStatusCell_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("done");
        QTest::addColumn<bool>("failed");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("waiting") << qint64(100) << qint64(0) << false << QVariant();
        QTest::newRow("half") << qint64(100) << qint64(50) << false << QVariant(0.5);
        QTest::newRow("done") << qint64(100) << qint64(100) << false << QVariant(1.0);
        QTest::newRow("over count") << qint64(3) << qint64(5) << false << QVariant(1.0);
        QTest::newRow("failed") << qint64(100) << qint64(50) << true << QVariant();
        QTest::newRow("size zero") << qint64(0) << qint64(7) << false << QVariant();
    }

    void progressOfStatusCell()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, done);
        QFETCH(bool, failed);
        QFETCH(QVariant, expected);
        FakeApp app;
        File f = entry("f", size, done);
        if (failed)
            f.setError();
        *queueOf("download", app) = {f};
        DownloadTableView table(app);
        const QVariant progress = table.index(0, 2).data(TransferTableModel::ProgressRole);
        QCOMPARE(progress.isValid(), expected.isValid());
        if (expected.isValid())
            QCOMPARE(progress.toDouble(), expected.toDouble());
        QVERIFY(!table.index(0, 0).data(TransferTableModel::ProgressRole).isValid());
    }

    void barCoversProgress_data()
    {
        QTest::addColumn<double>("progress");
        QTest::addColumn<int>("width");
        QTest::newRow("none") << 0.0 << 0;
        QTest::newRow("half") << 0.5 << 49;
        QTest::newRow("all") << 1.0 << 98;
        QTest::newRow("beyond") << 3.0 << 98;
        QTest::newRow("negative") << -1.0 << 0;
        QTest::newRow("not a number") << std::nan("") << 0;
    }

    void barCoversProgress()
    {
        QFETCH(double, progress);
        QFETCH(int, width);
        const QRect bar = TransferStatusDelegate::barRect(QRect(10, 20, 100, 18), progress);
        QCOMPARE(bar.width(), width);
        if (width > 0)
            QCOMPARE(bar.topLeft(), QPoint(11, 22));
    }

    void delegateDrawsBarBehindText()
    {
        FakeApp app;
        *queueOf("download", app) = {entry("f", 100, 100), entry("g", 100, 0)};
        DownloadTableView table(app);
        TransferStatusDelegate delegate;
        auto render = [&](int row) {
            QImage image(120, 20, QImage::Format_ARGB32);
            image.fill(Qt::white);
            QPainter painter(&image);
            QStyleOptionViewItem option;
            option.rect = image.rect();
            option.state = QStyle::State_Enabled;
            option.palette.setColor(QPalette::Base, Qt::white);
            delegate.paint(&painter, option, table.index(row, 2));
            return image;
        };
        // Right half of the cell, where no text is: green only under a full bar.
        const QColor finished = render(0).pixelColor(110, 10);
        const QColor waiting = render(1).pixelColor(110, 10);
        QVERIFY2(finished.green() > finished.red() + 20, qPrintable(finished.name()));
        QCOMPARE(waiting, QColor(Qt::white));
    }

    // Rows: 0 waiting, 1 running, 2 done, 3 failed, 4 cancelled.
    void cancelAndRetry_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QString>("how"); // the Delete key, or an action of the context menu
        QTest::addColumn<QList<int>>("rows");
        QTest::addColumn<bool>("canCancel");
        QTest::addColumn<bool>("canRetry");
        QTest::addColumn<QStringList>("calls");
        const QList<int> all{0, 1, 2, 3, 4};
        QTest::newRow("Delete key: waiting and running")
            << "download" << "key" << all << true << true
            << QStringList{"cancelTransfer 0 0", "cancelTransfer 0 1"};
        QTest::newRow("Delete key on finished rows") << "upload" << "key" << QList<int>{2, 3} << false
                                                     << true << QStringList{};
        QTest::newRow("menu: cancel the running upload")
            << "upload" << "Cancel" << QList<int>{1, 2} << true << false << QStringList{"cancelTransfer 1 1"};
        QTest::newRow("menu: retry failed and cancelled")
            << "download" << "Retry" << all << true << true
            << QStringList{"retryTransfer 0 3", "retryTransfer 0 4"};
        QTest::newRow("menu: nothing to retry on a waiting row")
            << "upload" << "Retry" << QList<int>{0} << true << false << QStringList{};
    }
    void cancelAndRetry()
    {
        QFETCH(QString, which);
        QFETCH(QString, how);
        QFETCH(QList<int>, rows);
        QFETCH(bool, canCancel);
        QFETCH(bool, canRetry);
        QFETCH(QStringList, calls);
        FakeApp app;
        QList<File> entries{entry("wait", 10), entry("run", 10, 4), entry("done", 10, 10),
                            entry("failed", 10, 3), entry("cancelled", 10, 3)};
        entries[1].setCurrent(true);
        entries[2].setDone();
        entries[3].setError();
        entries[4].setCancelled();
        *queueOf(which, app) = entries;
        auto model = makeTable(which, app);
        QTableView view;
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.setSelectionMode(QAbstractItemView::ExtendedSelection);
        view.setModel(model.get());
        TransferTableActions actions(view, app, which == u"download" ? AppContext::Direction::Download
                                                                     : AppContext::Direction::Upload);
        for (int row : rows)
            view.selectionModel()->select(model->index(row, 0),
                                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
        QCOMPARE(actions.selectedRows(), rows);
        if (how == u"key") {
            QTest::keyClick(&view, Qt::Key_Delete);
        } else {
            const std::unique_ptr<QMenu> menu = actions.menuFor(rows);
            const QList<QAction *> items = menu->actions();
            // Cancel and Retry first; the queue's own actions follow.
            QCOMPARE(items.size(), 10);
            QCOMPARE(items[0]->isEnabled(), canCancel);
            QCOMPARE(items[1]->isEnabled(), canRetry);
            for (QAction *item : items)
                if (item->text() == how)
                    item->trigger();
        }
        QCOMPARE(app.calls, calls);
    }

    // Samples of the running entry's bytes, (milliseconds, bytes done), one reload each.
    void speedOfTheRunningEntry_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("running");
        QTest::addColumn<Samples>("samples");
        QTest::addColumn<QString>("status");
        using S = Samples;
        const qint64 ten = 10000000;
        QTest::newRow("less than a second: not yet") << ten << true << S{{0, 0}, {500, 500000}} << "5.00 ";
        QTest::newRow("steady") << ten << true << S{{0, 0}, {1000, 1000000}, {2000, 2000000}}
                                << "20.00 - 1.0 MB/s, 0:08 left";
        QTest::newRow("bytes before the first sample are not timed")
            << ten << true << S{{0, 5000000}, {2000, 6000000}} << "60.00 - 500 KB/s, 0:08 left";
        QTest::newRow("size unknown: speed only") << qint64(0) << true
                                                  << S{{0, 0}, {1000, 1000000}, {2000, 2000000}}
                                                  << "Running... - 1.0 MB/s";
        QTest::newRow("stalled longer than the window") << ten << true
                                                        << S{{0, 0}, {1000, 1000000}, {6500, 1000000}}
                                                        << "10.00 ";
        QTest::newRow("not running") << ten << false << S{{0, 0}, {1000, 1000000}, {2000, 2000000}}
                                     << "20.00 ";
    }
    void speedOfTheRunningEntry()
    {
        QFETCH(qint64, size);
        QFETCH(bool, running);
        QFETCH(Samples, samples);
        QFETCH(QString, status);
        FakeApp app;
        app.downloads = {entry("before", 10, 10), entry("big", size), entry("after", 10)};
        app.downloads[0].setDone();
        app.downloads[1].setCurrent(running);
        DownloadTableView table(app);
        qint64 now = 0;
        table.setClock([&now] { return now; });
        for (const auto &[ms, bytes] : samples) {
            now = ms;
            app.downloads[1].addToSize(bytes - app.downloads[1].currentsize());
            table.reloadData();
        }
        QCOMPARE(table.index(1, 2).data().toString(), status);
        QCOMPARE(table.index(0, 2).data().toString(), QStringLiteral("Done."));
        QCOMPARE(table.index(2, 2).data().toString(), QStringLiteral("Waiting..."));
    }

    void frenchTexts()
    {
        QTranslator french;
        QVERIFY(french.load(QStringLiteral(":/i18n/zodaru_fr.qm")));
        QCoreApplication::installTranslator(&french);
        FakeApp app;
        DownloadTableView model(app);
        QTableView view;
        view.setModel(&model);
        TransferTableActions actions(view, app, AppContext::Direction::Download);
        QStringList texts;
        const std::unique_ptr<QMenu> menu = actions.menuFor({});
        for (const QAction *action : menu->actions())
            if (!action->isSeparator())
                texts << action->text();
        texts << GestFTPBrowser::loadingText() << GestFTPBrowser::failedText()
              << TransferTableModel::rateSuffix(1500, 42);
        QCoreApplication::removeTranslator(&french);
        QCOMPARE(texts, (QStringList{QStringLiteral("Annuler"), QStringLiteral("Réessayer"),
                                     QStringLiteral("Retirer de la file"), QStringLiteral("Monter"),
                                     QStringLiteral("Descendre"), QStringLiteral("Réessayer tous les échecs"),
                                     QStringLiteral("Effacer les terminés"), QStringLiteral("Suspendre la file"),
                                     QStringLiteral("Chargement…"), QStringLiteral("Échec du listage"),
                                     QStringLiteral(" - 1.5 KB/s, reste 0:42")}));
    }
};

QTEST_MAIN(TestTransferTables)
#include "tst_transfertables.moc"
