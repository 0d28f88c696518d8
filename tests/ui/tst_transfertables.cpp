// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/Log.h"
#include "ui/AppContext.h"
#include "ui/DownloadTableView.h"
#include "ui/TransferStatusDelegate.h"
#include "ui/UploadTableView.h"

#include "support/TestSupport.h"

#include <QAbstractItemModelTester>
#include <QImage>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace zodaru;

namespace {

// The application controller as the tables see it: two queues that may not exist yet.
class QueuesOnly final : public AppContext {
public:
    MainWindowController *window() const override { return nullptr; }
    std::shared_ptr<FTP> ftp() const override { return nullptr; }
    const QList<File> *downloadQueue() const override { return downloads.get(); }
    const QList<File> *uploadQueue() const override { return uploads.get(); }
    const Sites *bookmarks() const override { return nullptr; }
    void getParametersOfConnection() override {}
    void connectWithAddress(const QString &, const QString &, const QString &) override {}
    void disconnectFromFTP() override {}
    void disconnectRemote() override {}
    void getFile() override {}
    void putFile() override {}
    quint64 listRemote(const QString &, ListingDone) override { return 0; }
    quint64 remoteCommand(const QString &, const QString &, CommandDone) override { return 0; }
    void cancelTransfer(Direction, int) override {}
    void retryTransfer(Direction, int) override {}

    std::unique_ptr<QList<File>> downloads;
    std::unique_ptr<QList<File>> uploads;
};


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

std::unique_ptr<TransferTableModel> makeTable(const QString &which, QueuesOnly &app)
{
    if (which == u"download")
        return std::make_unique<DownloadTableView>(app);
    return std::make_unique<UploadTableView>(app);
}

QList<File> *queueOf(const QString &which, QueuesOnly &app)
{
    auto &q = which == u"download" ? app.downloads : app.uploads;
    if (!q)
        q = std::make_unique<QList<File>>();
    return q.get();
}

// A change made to a queue of three fresh entries between two reloads.
enum class Change {
    Nothing, Append, Chunk, ChunkFirstAndLast, Finish, Fail, Emptied, Shrunk, Dropped
};

void apply(Change change, std::unique_ptr<QList<File>> &queue)
{
    switch (change) {
    case Change::Nothing: break;
    case Change::Append: queue->append(entry("d", 1)); queue->append(entry("e", 2)); break;
    case Change::Chunk: (*queue)[1].addToSize(1); break;
    case Change::ChunkFirstAndLast: (*queue)[0].addToSize(10); (*queue)[2].addToSize(10); break;
    case Change::Finish: (*queue)[0].addToSize(100); (*queue)[0].setDone(); break;
    case Change::Fail: (*queue)[2].setError(); break;
    case Change::Emptied: queue = std::make_unique<QList<File>>(); break;
    case Change::Shrunk: queue = std::make_unique<QList<File>>(QList<File>{entry("x", 1)}); break;
    case Change::Dropped: queue.reset(); break;
    }
}

using Ranges = QList<QPair<int, int>>;

} // namespace

Q_DECLARE_METATYPE(Change)

class TestTransferTables final : public QObject {
    Q_OBJECT

private Q_SLOTS:
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
        QueuesOnly app;
        auto table = makeTable(which, app);
        if (hasQueue)
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
        QueuesOnly app;
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
        const QStringList expected[] = {{"a.txt", "100", files[0].getStatus()},
                                        {"b.bin", "3", files[1].getStatus()},
                                        {"c.iso", "5000000000", files[2].getStatus()}};
        for (int row = 0; row < 3; ++row)
            for (int col = 0; col < 3; ++col)
                QCOMPARE(table->index(row, col).data().toString(), expected[row][col]);
        QCOMPARE(table->index(0, 2).data().toString(), files[0].getStatus());
        QVERIFY(table->index(0, 2).data().toString() != table->index(2, 2).data().toString());
    }

    void headersAreTheIdentifiers()
    {
        QueuesOnly app;
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
        QueuesOnly app;
        UploadTableView table(app);
        QCOMPARE(table.tableView(identifier, row), QVariant()); // no queue yet
        *queueOf("upload", app) = threeFiles();
        QCOMPARE(table.tableView(identifier, row), expected);
    }

    void unknownColumnShowsEmptyCells()
    {
        QueuesOnly app;
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
        QueuesOnly app;
        *queueOf("download", app) = threeFiles();
        DownloadTableView table(app);
        QAbstractItemModelTester tester(&table,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changes(&table, &QAbstractItemModel::dataChanged);
        QSignalSpy inserts(&table, &QAbstractItemModel::rowsInserted);
        QSignalSpy resets(&table, &QAbstractItemModel::modelReset);

        apply(change, app.downloads);
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
            QCOMPARE(table.index(row, 2).data().toString(), app.downloads->at(row).getStatus());

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
        QueuesOnly app;
        *queueOf("upload", app) = threeFiles();
        UploadTableView table(app);
        app.uploads.reset();
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
        QueuesOnly app;
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
        QueuesOnly app;
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
};

QTEST_MAIN(TestTransferTables)
#include "tst_transfertables.moc"
