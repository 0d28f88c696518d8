// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeApp.h"

#include "base/ByteNames.h"
#include "ftp/FTP.h"
#include "base/Log.h"
#include "ui/AppContext.h"
#include "ui/ColumnBrowser.h"
#include "ui/GestBrowser.h"
#include "ui/GestFTPBrowser.h"

#include "support/RealFtpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QListView>
#include <QScrollBar>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zodaru;

namespace {

using test::FakeApp;

CellFile *findCell(ColumnBrowser &browser, int column, const QString &name)
{
    for (int row = 0; row < browser.rowCount(column); ++row)
        if (browser.cellAt(column, row)->stringValue() == name)
            return browser.cellAt(column, row);
    return nullptr;
}

QSet<QString> namesIn(ColumnBrowser &browser, int column)
{
    QSet<QString> names;
    for (int row = 0; row < browser.rowCount(column); ++row)
        names << browser.cellAt(column, row)->stringValue();
    return names;
}

constexpr qint64 kSparseSize = (qint64(5) << 30) + 7;

// Hidden entries shown: these tests count every entry the delegates give.
constexpr ListOptions kAllEntries{true, true};

// A column browser on the local delegate, every entry shown.
struct LocalColumns {
    GestBrowser local;
    ColumnBrowser browser;
    LocalColumns()
    {
        browser.setListOptions(kAllEntries);
        browser.setDelegate(&local);
    }
};

} // namespace

class TestBrowsers final : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    QString root_;

    void write(const QString &name, const QByteArray &bytes)
    {
        QFile f(root_ + "/" + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), qint64(bytes.size()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(tmp_.isValid());
        root_ = tmp_.path();
        write("file.txt", "0123456789");
        write(".hidden", "abc");
        QVERIFY(QDir(root_).mkdir("sub"));
        write("sub/inner.txt", "x");
        QVERIFY(QFile::link(root_ + "/sub", root_ + "/linkdir"));
        QVERIFY(QFile::link(root_ + "/file.txt", root_ + "/linkfile"));
        QVERIFY(QFile::link(root_ + "/nowhere", root_ + "/broken"));
        QFile sparse(root_ + "/sparse");
        QVERIFY(sparse.open(QIODevice::WriteOnly));
        QVERIFY(sparse.resize(kSparseSize));
    }

    // --- local side ---

    void localEntry_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("leaf");
        QTest::addColumn<qint64>("size");

        QTest::newRow("plain file") << "file.txt" << true << qint64(10);
        QTest::newRow("hidden file") << ".hidden" << true << qint64(3);
        QTest::newRow("directory") << "sub" << false << QFileInfo(root_ + "/sub").size();
        QTest::newRow("link to a directory") << "linkdir" << false << QFileInfo(root_ + "/sub").size();
        QTest::newRow("link to a file: target's size") << "linkfile" << true << qint64(10);
        QTest::newRow("broken link") << "broken" << true << qint64(0);
        QTest::newRow("sparse file over 4 GiB") << "sparse" << true << kSparseSize;
    }
    void localEntry()
    {
        QFETCH(QString, name);
        QFETCH(bool, leaf);
        QFETCH(qint64, size);

        LocalColumns columns;
        ColumnBrowser &browser = columns.browser;
        QVERIFY(browser.setPath(root_));
        const int column = browser.lastVisibleColumn();
        QCOMPARE(browser.pathToColumn(column), root_);
        CellFile *cell = findCell(browser, column, name);
        QVERIFY(cell);
        QVERIFY(cell->hasFile());
        QCOMPARE(cell->isLeaf(), leaf);
        QCOMPARE(cell->getFile().name(), name);
        QCOMPARE(cell->getFile().size(), size);
        QCOMPARE(cell->getFile().localpath(), root_);
        QVERIFY(!cell->font().has_value());
    }

    void localListsEveryEntryOnce()
    {
        LocalColumns columns;
        ColumnBrowser &browser = columns.browser;
        browser.setPath(root_);
        const int column = browser.lastVisibleColumn();
        QCOMPARE(browser.rowCount(column), 7);
        QCOMPARE(namesIn(browser, column), (QSet<QString>{"file.txt", ".hidden", "sub", "linkdir",
                                                          "linkfile", "broken", "sparse"}));
        QCOMPARE(browser.titleOfColumn(column), root_);
    }

    void localLinkToDirectoryOpensAColumn()
    {
        LocalColumns columns;
        ColumnBrowser &browser = columns.browser;
        QVERIFY(browser.setPath(root_ + "/linkdir"));
        const int column = browser.lastVisibleColumn();
        QCOMPARE(browser.pathToColumn(column), root_ + "/linkdir");
        QCOMPARE(namesIn(browser, column), QSet<QString>{"inner.txt"});
        QCOMPARE(browser.cellAt(column, 0)->getFile().localpath(), root_ + "/linkdir");
        QCOMPARE(browser.cellAt(column, 0)->getFile().size(), qint64(1));
    }

    void localUnreadableDirectoryIsEmpty()
    {
        if (geteuid() == 0)
            QSKIP("permissions do not stop root from reading");
        const QString locked = root_ + "/locked";
        QVERIFY(QDir(root_).mkdir("locked"));
        QFile(locked + "/inside").open(QIODevice::WriteOnly);
        QVERIFY(QFile::setPermissions(locked, QFileDevice::WriteOwner));
        LocalColumns columns;
        ColumnBrowser &browser = columns.browser;
        QVERIFY(browser.setPath(locked));
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                          | QFileDevice::ExeOwner);
        QCOMPARE(browser.pathToColumn(browser.lastVisibleColumn()), locked);
        QCOMPARE(browser.rowCount(browser.lastVisibleColumn()), 0);
    }

    // Entries of the root are joined as "//name" and must still resolve.
    void localRootColumn()
    {
        LocalColumns columns;
        ColumnBrowser &browser = columns.browser;
        QVERIFY(browser.setPath("/"));
        QCOMPARE(browser.columnCount(), 1);
        QCOMPARE(browser.titleOfColumn(0), "/");
        CellFile *tmp = findCell(browser, 0, "tmp");
        QVERIFY(tmp);
        QVERIFY(!tmp->isLeaf());
        QCOMPARE(tmp->getFile().localpath(), "/");
        QCOMPARE(tmp->getFile().size(), QFileInfo("/tmp").size());
        const QStringList rootNames = QDir("/").entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        QCOMPARE(namesIn(browser, 0), QSet<QString>(rootNames.begin(), rootNames.end()));
    }

    // Names are bytes: a name that is not UTF-8 is shown with U+FFFD, kept exactly in the
    // cell's entry, and paths built from it (a directory opened) name the same bytes.
    void localNamesAsBytes_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("Latin-1") << QByteArray("caf\xe9") << QStringLiteral("caf\uFFFD");
        QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("caf\u00e9");
        QTest::newRow("lone continuation byte") << QByteArray("\x80x") << QStringLiteral("\uFFFDx");
    }
    void localNamesAsBytes()
    {
        QFETCH(QByteArray, name);
        QFETCH(QString, shown);
        QTemporaryDir dir;
        const QByteArray base = QFile::encodeName(dir.path());
        QCOMPARE(::mkdir((base + '/' + name).constData(), 0700), 0);
        const QByteArray innerPath = base + '/' + name + '/' + name;
        const int fd = ::open(innerPath.constData(), O_WRONLY | O_CREAT, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "abc", 3), ssize_t(3));
        ::close(fd);

        LocalColumns columns;
        ColumnBrowser &browser = columns.browser;
        const QString lossless = nameFromBytes(base + '/' + name);
        QVERIFY(browser.setPath(lossless));
        const int column = browser.lastVisibleColumn();
        QCOMPARE(browser.titleOfColumn(column), displayedName(lossless));
        QCOMPARE(browser.titleOfColumn(column).endsWith(shown), true);
        QCOMPARE(browser.rowCount(column), 1);
        const CellFile *inner = browser.cellAt(column, 0);
        QCOMPARE(inner->stringValue(), shown);
        QCOMPARE(bytesOfName(inner->getFile().name()), name);
        QCOMPARE(bytesOfName(inner->getFile().localpath()), base + '/' + name);
        QCOMPARE(inner->getFile().size(), qint64(3)); // stat() reached the exact file
    }

    // --- remote side without a usable engine ---

    // Nothing is asked and the columns are empty; closing a lost session is the
    // application's business, never the browser's.
    void remoteWithoutConnectedEngine_data()
    {
        QTest::addColumn<bool>("withEngine");
        QTest::addColumn<QList<int>>("columns");
        QTest::newRow("no engine, first column") << false << QList<int>{0};
        QTest::newRow("no engine, three columns") << false << QList<int>{1, 2, 3};
        QTest::newRow("closed engine, first column twice") << true << QList<int>{0, 0};
        QTest::newRow("closed engine, two columns") << true << QList<int>{2, 1};
    }
    void remoteWithoutConnectedEngine()
    {
        QFETCH(bool, withEngine);
        QFETCH(QList<int>, columns);

        FakeApp app;
        if (withEngine)
            app.engine = FTP::create();
        GestFTPBrowser remote(app);
        ColumnBrowser browser;
        browser.setListOptions(kAllEntries);
        browser.setDelegate(&remote);
        LogCapture log;
        for (int column : columns)
            QCOMPARE(remote.numberOfRowsInColumn(browser, column), 0);
        QCoreApplication::processEvents();
        QCOMPARE(app.disconnects, 0);
        QCOMPARE(app.listed, QStringList());
        QVERIFY(!log.containsPrefix("On fait un ls"));
    }

    void remoteColumnsEmptyWhileDisconnected()
    {
        FakeApp app;
        app.engine = FTP::create();
        GestFTPBrowser remote(app);
        ColumnBrowser browser;
        browser.setListOptions(kAllEntries);
        browser.setDelegate(&remote);
        browser.reloadColumn(0);
        QCOMPARE(browser.columnCount(), 1);
        QCOMPARE(browser.rowCount(0), 0);
        QCOMPARE(browser.titleOfColumn(0), "/");

        CellFile cell;
        cell.setStringValue("untouched");
        remote.willDisplayCell(browser, cell, 0, 0);
        QCOMPARE(cell.stringValue(), "untouched");
        QVERIFY(!cell.hasFile());
    }

    // --- remote listings that arrive later ---

    // Steps: "reload N", "select N name", "answer I" (the I-th listing still held, with
    // the directory's entries), "fail I" (that listing failed).
    void remoteListingArrivesLater_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("columns"); // each column's rows, joined by "|"
        QTest::addColumn<QStringList>("selected");
        const QString busy = "Loading...";
        const QString failed = "Listing failed";
        const QString root = "a|b|c";
        const QStringList opened{"reload 0", "answer 0"};

        QTest::newRow("busy row at once") << QStringList{"reload 0"} << QStringList{busy} << QStringList{};
        QTest::newRow("filled when it arrives") << opened << QStringList{root} << QStringList{};
        QTest::newRow("failed listing says so")
            << QStringList{"reload 0", "fail 0"} << QStringList{failed} << QStringList{};
        QTest::newRow("opened directory waits")
            << opened + QStringList{"select 0 a"} << QStringList{root, busy} << QStringList{"a"};
        QTest::newRow("opened directory filled")
            << opened + QStringList{"select 0 a", "answer 0"} << QStringList{root, "x"} << QStringList{"a"};
        QTest::newRow("inner listing failed")
            << opened + QStringList{"select 0 a", "fail 0"} << QStringList{root, failed} << QStringList{"a"};
        QTest::newRow("stale: moved to another directory")
            << opened + QStringList{"select 0 a", "select 0 b", "answer 0"} << QStringList{root, busy}
            << QStringList{"b"};
        QTest::newRow("the new directory's listing fills it")
            << opened + QStringList{"select 0 a", "select 0 b", "answer 0", "answer 0"}
            << QStringList{root, "y|z"} << QStringList{"b"};
        QTest::newRow("stale: column closed")
            << opened + QStringList{"select 0 a", "select 0 c", "answer 0"} << QStringList{root}
            << QStringList{"c"};
        QTest::newRow("stale: back to the same directory, the first answer is old")
            << opened + QStringList{"select 0 a", "select 0 b", "select 0 a", "answer 0", "answer 0"}
            << QStringList{root, busy} << QStringList{"a"};
        QTest::newRow("superseded by a reload")
            << QStringList{"reload 0", "reload 0", "answer 0"} << QStringList{busy} << QStringList{};
        QTest::newRow("the reload's listing fills it")
            << QStringList{"reload 0", "reload 0", "answer 0", "answer 0"} << QStringList{root}
            << QStringList{};
        QTest::newRow("reload keeps the selection through the busy row")
            << opened + QStringList{"select 0 c", "reload 0", "answer 0"} << QStringList{root}
            << QStringList{"c"};
        QTest::newRow("a kept directory opens its column again")
            << opened + QStringList{"select 0 b", "answer 0", "reload 0", "answer 0", "answer 0"}
            << QStringList{root, "y|z"} << QStringList{"b"};
    }
    void remoteListingArrivesLater()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, columns);
        QFETCH(QStringList, selected);
        const auto entry = [](const char *name, int type) { return File(name, 1, type); };
        const QMap<QString, QList<File>> tree{
            {"/", {entry("a", 1), entry("b", 1), entry("c", 0)}},
            {"/a", {entry("x", 0)}},
            {"/b", {entry("y", 0), entry("z", 0)}},
        };

        ScriptedFtpServer server(test::browsingServer({}));
        FakeApp app;
        app.engine = FTP::connectTo(server.address(), "me", "pw");
        QVERIFY(app.engine->isConnected());
        app.holdListings = true;
        GestFTPBrowser remote(app);
        ColumnBrowser browser;
        browser.setListOptions(kAllEntries);
        browser.setDelegate(&remote);
        for (const QString &step : steps) {
            const QStringList w = step.split(' ');
            if (w[0] == "reload") {
                browser.reloadColumn(w[1].toInt());
            } else if (w[0] == "select") {
                const int column = w[1].toInt();
                const CellFile *cell = findCell(browser, column, w[2]);
                QVERIFY2(cell, qPrintable(step));
                for (int row = 0; row < browser.rowCount(column); ++row)
                    if (browser.cellAt(column, row) == cell)
                        browser.selectRow(column, row);
            } else {
                const int index = w[1].toInt();
                QVERIFY2(index < app.held.size(), qPrintable(step));
                const QString path = app.held[index].path;
                app.answer(index, w[0] == "answer" ? std::optional(tree.value(path)) : std::nullopt);
            }
        }

        QStringList shown;
        for (int column = 0; column < browser.columnCount(); ++column) {
            QStringList rows;
            for (int row = 0; row < browser.rowCount(column); ++row) {
                CellFile *cell = browser.cellAt(column, row);
                rows << cell->stringValue();
                if (cell->isPlaceholder()) {
                    QVERIFY(cell->font() && cell->font()->italic());
                    browser.selectRow(column, row); // neither selected nor opened
                    QVERIFY(browser.selectedColumn() < column);
                }
            }
            shown << rows.join('|');
        }
        QCOMPARE(shown, columns);
        QStringList names;
        for (const CellFile *cell : browser.selectedCells())
            names << cell->stringValue();
        QCOMPARE(names, selected);
        QCOMPARE(app.disconnects, 0);
        app.engine->shutdown();
    }

    // A directory listed again keeps the row selected and the place scrolled to; a large
    // one is put in order beside the window's thread, and an answer overtaken meanwhile by
    // another listing of the column does not fill it.
    void largeRemoteDirectoryReload_data()
    {
        QTest::addColumn<int>("entries");
        QTest::addColumn<bool>("overtaken");
        QTest::newRow("small") << 300 << false;
        QTest::newRow("sorted aside") << int(GestFTPBrowser::kSortAside) + 1000 << false;
        QTest::newRow("sorted aside, overtaken") << int(GestFTPBrowser::kSortAside) + 1000 << true;
    }
    void largeRemoteDirectoryReload()
    {
        QFETCH(int, entries);
        QFETCH(bool, overtaken);
        QList<File> listing;
        for (int i = 0; i < entries; ++i)
            listing.append(File(QStringLiteral("f%1").arg((i * 7919) % entries), 1, 0)); // shuffled
        QList<File> second = listing;
        second.append(File(QStringLiteral("late"), 1, 0));

        ScriptedFtpServer server(test::browsingServer({}));
        FakeApp app;
        app.engine = FTP::connectTo(server.address(), "me", "pw");
        QVERIFY(app.engine->isConnected());
        app.holdListings = true;
        GestFTPBrowser remote(app);
        ColumnBrowser browser;
        browser.setListOptions(kAllEntries);
        browser.setDelegate(&remote);
        browser.resize(500, 300);
        browser.show(); // lists the first column
        // The listing asked last; any earlier one is stale.
        const auto answerLast = [&app](const QList<File> &entries) { app.answer(int(app.held.size()) - 1, entries); };
        answerLast(listing);
        QTRY_COMPARE(browser.rowCount(0), entries);
        for (int row = 0; row < entries; ++row)
            QCOMPARE(browser.cellAt(0, row)->name(), QStringLiteral("f%1").arg(row));

        const int middle = entries / 2;
        browser.selectRow(0, middle);
        QListView *list = nullptr;
        for (QListView *view : browser.findChildren<QListView *>())
            if (view->isVisible() && view->model()->rowCount() == entries)
                list = view;
        QVERIFY(list);
        const int scroll = list->verticalScrollBar()->value();
        QVERIFY(scroll > 0);

        browser.reloadColumn(0);
        QCOMPARE(browser.rowCount(0), 1); // busy
        if (overtaken) {
            answerLast(listing);
            browser.reloadColumn(0); // before the first answer is in order
        }
        answerLast(second);
        QTRY_COMPARE(browser.rowCount(0), entries + 1);
        QCoreApplication::processEvents(); // an overtaken answer would come now
        QCOMPARE(browser.rowCount(0), entries + 1);
        QCOMPARE(browser.cellAt(0, 0)->name(), QStringLiteral("f0"));
        QCOMPARE(browser.cellAt(0, entries)->name(), QStringLiteral("late"));
        const QList<CellFile *> selected = browser.selectedCells();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first()->name(), QStringLiteral("f%1").arg(middle));
        QCOMPARE(list->verticalScrollBar()->value(), scroll);
        app.engine->shutdown();
    }

    // An answer that comes after the browser's delegate is gone is dropped.
    void remoteAnswerAfterTheDelegateIsGone()
    {
        ScriptedFtpServer server(test::browsingServer({}));
        FakeApp app;
        app.engine = FTP::connectTo(server.address(), "me", "pw");
        app.holdListings = true;
        ColumnBrowser browser;
        browser.setListOptions(kAllEntries);
        {
            GestFTPBrowser remote(app);
            browser.setDelegate(&remote);
            browser.reloadColumn(0);
            browser.setDelegate(nullptr);
        }
        QCOMPARE(app.held.size(), 1);
        app.answer(0, QList<File>{File("a", 1, 0)});
        QCOMPARE(browser.rowCount(0), 1);
        QVERIFY(browser.cellAt(0, 0)->isPlaceholder());
        app.engine->shutdown();
    }

    // Lines that name nothing and the "." and ".." entries are no rows.
    void remoteRowsThatNameNothingAreHidden_data()
    {
        QTest::addColumn<QByteArray>("listing");
        QTest::newRow("unix") << QByteArray("total 3\r\n"
                                            "drwxr-xr-x 2 u g 0 Jan  1  2020 .\r\n"
                                            "drwxr-xr-x 9 u g 0 Jan  1  2020 ..\r\n"
                                            "-rw-r--r-- 1 u g 5 Jan  1  2020 a\r\n"
                                            "\r\n"
                                            "drwxr-xr-x 2 u g 0 Jan  1  2020 d\r\n");
        QTest::newRow("vms headers") << QByteArray("\r\nDirectory DISK$USER:[ME]\r\n\r\n"
                                                   "A.TXT;1    1/3  1-JAN-2020 00:00 [U] (RWED)\r\n"
                                                   "D.DIR;1    1/3  1-JAN-2020 00:00 [U] (RWED)\r\n"
                                                   "\r\nTotal of 2 files, 2/6 blocks.\r\n");
    }
    void remoteRowsThatNameNothingAreHidden()
    {
        QFETCH(QByteArray, listing);
        ScriptedFtpServer server(test::browsingServer({{"/", listing}}));
        FakeApp app;
        app.engine = FTP::connectTo(server.address(), "me", "pw");
        QVERIFY(app.engine->isConnected());
        GestFTPBrowser remote(app);
        ColumnBrowser browser;
        browser.setListOptions(kAllEntries);
        browser.setDelegate(&remote);
        browser.reloadColumn(0);
        app.settle();
        QCOMPARE(browser.rowCount(0), 2);
        for (int row = 0; row < 2; ++row) {
            const QString name = browser.cellAt(0, row)->stringValue();
            QVERIFY2(!name.isEmpty() && name != "." && name != "..", qPrintable(name));
        }
        QCOMPARE(remote.listing().size(), 2);
        app.engine->shutdown();
    }

    // --- remote side against a real server ---

    void remoteBrowsingOfARealServer()
    {
        RealFtpServer server;
        QVERIFY2(server.start(), qPrintable(server.errorText()));
        QVERIFY(server.writeFile("pub/a.txt", "hello"));
        QVERIFY(server.writeFile("pub/sub/b.txt", "0123456789"));
        QVERIFY(QFile::link(server.localPath("pub"), server.localPath("ln")));

        FakeApp app;
        app.engine = FTP::connectTo(server.address(), RealFtpServer::user(),
                                    RealFtpServer::password());
        QVERIFY(app.engine->isConnected());
        GestFTPBrowser remote(app);
        ColumnBrowser browser;
        browser.setListOptions(kAllEntries);
        browser.setDelegate(&remote);
        LogCapture log;

        browser.reloadColumn(0);
        app.settle();
        QVERIFY(log.contains("On fait un ls sur >/<"));
        QCOMPARE(namesIn(browser, 0), (QSet<QString>{"pub", "ln"}));
        CellFile *link = findCell(browser, 0, "ln");
        QVERIFY(link->isLeaf()); // a link opens nothing, even to a directory
        QVERIFY(link->font().has_value() && link->font()->italic());
        CellFile *pub = findCell(browser, 0, "pub");
        QVERIFY(!pub->isLeaf());
        QVERIFY(!pub->font().has_value());

        for (const char *name : {"pub", "sub"}) {
            const int column = browser.lastVisibleColumn();
            for (int row = 0; row < browser.rowCount(column); ++row)
                if (browser.cellAt(column, row)->stringValue() == name)
                    browser.selectRow(column, row);
            app.settle();
        }
        QVERIFY(log.contains("On fait un ls sur >/pub<"));
        QVERIFY(log.contains("On fait un ls sur >/pub/sub<"));
        QCOMPARE(browser.columnCount(), 3);
        QCOMPARE(namesIn(browser, 1), (QSet<QString>{"a.txt", "sub"}));
        QCOMPARE(findCell(browser, 1, "a.txt")->getFile().size(), qint64(5));
        QCOMPARE(namesIn(browser, 2), QSet<QString>{"b.txt"});
        QCOMPARE(browser.cellAt(2, 0)->getFile().size(), qint64(10));

        // A refused listing fails that listing only, and the column says so: the
        // directory vanished meanwhile.
        QVERIFY(QFile::remove(server.localPath("pub/sub/b.txt")));
        QVERIFY(QDir(server.localPath("pub")).rmdir("sub"));
        browser.reloadColumn(browser.lastVisibleColumn());
        app.settle();
        QVERIFY2(app.engine->isConnected(), qPrintable(log.lines().join('\n')));
        QCOMPARE(browser.rowCount(2), 1);
        QVERIFY(browser.cellAt(2, 0)->isPlaceholder());
        QCOMPARE(browser.cellAt(2, 0)->stringValue(), GestFTPBrowser::failedText());
        QCOMPARE(app.disconnects, 0);
    }
};

QTEST_MAIN(TestBrowsers)
#include "tst_browsers.moc"
