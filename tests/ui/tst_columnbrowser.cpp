// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ColumnBrowser.h"

#include <QListView>
#include <QScrollBar>
#include <QMap>
#include <QSignalSpy>
#include <QtTest>

using namespace zodaru;

namespace {

struct Entry {
    QString name;
    bool leaf = true;
    bool italic = false;
};

// A directory tree in memory; records every question it is asked.
class TreeDelegate final : public ColumnBrowserDelegate {
public:
    QMap<QString, QList<Entry>> tree{
        {"/", {{"a", false}, {"b", false}, {"f", true}, {"ln", true, true}}},
        {"/a", {{"x", false}, {"y", true}, {"z", true}}},
        {"/a/x", {}},
        {"/b", {{"deep", false}}},
        {"/b/deep", {{"bottom", true}}},
    };
    QStringList calls;

    int numberOfRowsInColumn(ColumnBrowser &browser, int column) override
    {
        const QString path = browser.pathToColumn(column);
        calls << QStringLiteral("count %1 %2").arg(column).arg(path);
        counted_ = path;
        return int(tree.value(path).size());
    }
    void willDisplayCell(ColumnBrowser &browser, CellFile &cell, int row, int column) override
    {
        calls << QStringLiteral("cell %1 %2").arg(column).arg(row);
        // Rows come from the column counted last, as the remote side does it.
        QVERIFY(browser.pathToColumn(column) == counted_);
        const Entry &e = tree.value(counted_).at(row);
        cell.setStringValue(e.name);
        cell.setLeaf(e.leaf);
        if (e.italic) {
            QFont font;
            font.setItalic(true);
            cell.setFont(font);
        }
    }
    QString titleOfColumn(ColumnBrowser &browser, int column) override
    {
        calls << QStringLiteral("title %1").arg(column);
        return browser.pathToColumn(column);
    }

private:
    QString counted_;
};

} // namespace

Q_DECLARE_METATYPE(Entry)

namespace {

// A click, written as {column, rows}: the rows selected together in that column.
using Clicks = QList<QPair<int, QList<int>>>;

QStringList columnTexts(ColumnBrowser &browser, int column)
{
    QStringList texts;
    for (int row = 0; row < browser.rowCount(column); ++row)
        texts << browser.cellAt(column, row)->stringValue();
    return texts;
}

QStringList selectedTexts(const ColumnBrowser &browser)
{
    QStringList texts;
    for (const CellFile *cell : browser.selectedCells())
        texts << cell->stringValue();
    return texts;
}

QListView *listOf(ColumnBrowser &browser, int column)
{
    // Lists appear left to right in the strip; closed ones may linger until deleted.
    QList<QListView *> lists;
    for (QListView *list : browser.findChildren<QListView *>())
        if (list->isVisibleTo(&browser))
            lists << list;
    std::sort(lists.begin(), lists.end(), [](QListView *l, QListView *r) {
        return l->parentWidget()->x() < r->parentWidget()->x();
    });
    return column < lists.size() ? lists[column] : nullptr;
}

} // namespace

class TestColumnBrowser final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void selecting_data()
    {
        QTest::addColumn<Clicks>("clicks");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("lastPath");
        QTest::addColumn<QStringList>("selected");

        QTest::newRow("nothing selected") << Clicks{} << 1 << "/" << QStringList{};
        QTest::newRow("directory opens a column") << Clicks{{0, {0}}} << 2 << "/a" << QStringList{"a"};
        QTest::newRow("empty directory still opens one")
            << Clicks{{0, {0}}, {1, {0}}} << 3 << "/a/x" << QStringList{"x"};
        QTest::newRow("leaf opens nothing") << Clicks{{0, {0}}, {1, {1}}} << 2 << "/a" << QStringList{"y"};
        QTest::newRow("link cell is a leaf") << Clicks{{0, {3}}} << 1 << "/" << QStringList{"ln"};
        QTest::newRow("reselecting left closes the right")
            << Clicks{{0, {0}}, {1, {0}}, {0, {1}}} << 2 << "/b" << QStringList{"b"};
        QTest::newRow("two directories open nothing")
            << Clicks{{0, {1}}, {0, {1, 0}}} << 1 << "/" << QStringList{"a", "b"};
        QTest::newRow("leaves in row order")
            << Clicks{{0, {0}}, {1, {2, 1}}} << 2 << "/a" << QStringList{"y", "z"};
        QTest::newRow("cleared column: the left selection counts")
            << Clicks{{0, {0}}, {1, {1}}, {1, {}}} << 2 << "/a" << QStringList{"a"};
        QTest::newRow("three levels") << Clicks{{0, {1}}, {1, {0}}, {2, {0}}} << 3 << "/b/deep"
                                      << QStringList{"bottom"};
    }
    void selecting()
    {
        QFETCH(Clicks, clicks);
        QFETCH(int, columns);
        QFETCH(QString, lastPath);
        QFETCH(QStringList, selected);

        TreeDelegate tree;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.reloadColumn(0);
        for (const auto &[column, rows] : clicks)
            browser.selectRows(column, rows);

        QCOMPARE(browser.columnCount(), columns);
        QCOMPARE(browser.lastVisibleColumn(), columns - 1);
        QCOMPARE(browser.pathToColumn(browser.lastVisibleColumn()), lastPath);
        QCOMPARE(browser.titleOfColumn(columns - 1), lastPath);
        QCOMPARE(selectedTexts(browser), selected);
    }

    void setPath_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("complete");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QString>("lastPath");

        QTest::newRow("root") << "/" << true << 1 << "/";
        QTest::newRow("directory") << "/a/x" << true << 3 << "/a/x";
        QTest::newRow("doubled separators") << "//b///deep" << true << 3 << "/b/deep";
        QTest::newRow("leaf at the end") << "/a/y" << true << 2 << "/a";
        QTest::newRow("missing component") << "/a/nope" << false << 2 << "/a";
        QTest::newRow("beyond a leaf") << "/f/more" << false << 1 << "/";
    }
    void setPath()
    {
        QFETCH(QString, path);
        QFETCH(bool, complete);
        QFETCH(int, columns);
        QFETCH(QString, lastPath);

        TreeDelegate tree;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.setPath("/b/deep/bottom"); // a previous path is replaced, not extended
        QCOMPARE(browser.setPath(path), complete);
        QCOMPARE(browser.columnCount(), columns);
        QCOMPARE(browser.pathToColumn(browser.lastVisibleColumn()), lastPath);
    }

    // Each column is counted, then all its cells filled, then titled, before the next.
    void delegateQuestionOrder_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("reload");
        QTest::addColumn<QStringList>("calls");

        QTest::newRow("path") << "/a/x" << -1
                              << QStringList{"count 0 /", "cell 0 0", "cell 0 1", "cell 0 2",
                                             "cell 0 3", "title 0", "count 1 /a", "cell 1 0",
                                             "cell 1 1", "cell 1 2", "title 1", "count 2 /a/x",
                                             "title 2"};
        // The selection is kept: the selected directory opens its column again.
        QTest::newRow("reload middle column")
            << "/b/deep" << 1
            << QStringList{"count 1 /b", "cell 1 0", "title 1", "count 2 /b/deep", "cell 2 0", "title 2"};
        QTest::newRow("reload beyond the last is ignored") << "/b" << 2 << QStringList{};
    }
    void delegateQuestionOrder()
    {
        QFETCH(QString, path);
        QFETCH(int, reload);
        QFETCH(QStringList, calls);

        TreeDelegate tree;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.setPath(path);
        if (reload >= 0) {
            tree.calls.clear();
            browser.reloadColumn(reload);
        }
        QCOMPARE(tree.calls, calls);
    }

    // A reload shows the new rows and keeps the selection by name, whatever rows moved.
    void reloadKeepsSelection_data()
    {
        QTest::addColumn<Clicks>("clicks");
        QTest::addColumn<QList<Entry>>("newRows"); // of /a
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<int>("columns");
        // Shown sorted, directories first.
        const QList<Entry> added{{"new", true}, {"z", true}, {"x", false}, {"y", true}};
        QTest::newRow("directory kept: its column opens again")
            << Clicks{{0, {0}}, {1, {0}}} << added << QStringList{"x", "new", "y", "z"}
            << QStringList{"x"} << 3;
        QTest::newRow("files kept though their rows moved")
            << Clicks{{0, {0}}, {1, {1, 2}}} << added << QStringList{"x", "new", "y", "z"}
            << QStringList{"y", "z"} << 2; // in row order
        QTest::newRow("selected entry gone: the left selection counts")
            << Clicks{{0, {0}}, {1, {1}}} << QList<Entry>{{"new", true}} << QStringList{"new"}
            << QStringList{"a"} << 2;
        QTest::newRow("nothing selected stays so")
            << Clicks{{0, {0}}} << added << QStringList{"x", "new", "y", "z"} << QStringList{"a"} << 2;
        QList<Entry> many;
        QStringList manyNames;
        // Cells past a few megabytes live in a block mapped on its own.
        for (int i = 0; i < 30000; ++i) {
            many.append({i == 7000 ? QStringLiteral("z") : QString::number(i), true});
            if (i != 7000)
                manyNames << many.last().name; // in numeric order
        }
        manyNames << QStringLiteral("z");
        QTest::newRow("thirty thousand rows") << Clicks{{0, {0}}, {1, {2}}} << many << manyNames
                                              << QStringList{"z"} << 2;
    }
    void reloadKeepsSelection()
    {
        QFETCH(Clicks, clicks);
        QFETCH(QList<Entry>, newRows);
        QFETCH(QStringList, rows);
        QFETCH(QStringList, selected);
        QFETCH(int, columns);
        TreeDelegate tree;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.reloadColumn(0);
        for (const auto &[column, clicked] : clicks)
            browser.selectRows(column, clicked);
        tree.tree["/a"] = newRows;
        QSignalSpy changes(&browser, &ColumnBrowser::selectionChanged);
        browser.reloadColumn(1);
        QCOMPARE(columnTexts(browser, 1), rows);
        QCOMPARE(selectedTexts(browser), selected);
        QCOMPARE(browser.columnCount(), columns);
        QCOMPARE(browser.pathToColumn(1), "/a");
        QCOMPARE(changes.isEmpty(), selected == QStringList{"a"});
    }

    void reloadKeepsScrollPosition()
    {
        TreeDelegate tree;
        QList<Entry> many;
        for (int i = 0; i < 200; ++i)
            many.append({QString::number(i), true});
        tree.tree["/"] = many;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.resize(400, 300);
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QScrollBar *bar = listOf(browser, 0)->verticalScrollBar();
        QVERIFY(bar->maximum() > 100);
        bar->setValue(100);
        tree.tree["/"].prepend({"first", true});
        browser.reloadColumn(0);
        QCOMPARE(browser.rowCount(0), 201);
        QCOMPARE(listOf(browser, 0)->verticalScrollBar()->value(), 100);
    }

    void firstReloadLoadsColumnZero()
    {
        TreeDelegate tree;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        QCOMPARE(browser.columnCount(), 0);
        QCOMPARE(browser.lastVisibleColumn(), 0);
        browser.reloadColumn(1);
        QCOMPARE(browser.columnCount(), 0);
        browser.reloadColumn(0);
        QCOMPARE(columnTexts(browser, 0), (QStringList{"a", "b", "f", "ln"}));
    }

    // A delete loop takes the selection once and refreshes after each entry.
    void selectedCellsOutliveAReload()
    {
        TreeDelegate tree;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.setPath("/a");
        browser.selectRows(1, {1, 2});
        const QList<CellFile *> cells = browser.selectedCells();
        QStringList names;
        for (CellFile *cell : cells) {
            names << cell->stringValue();
            browser.reloadColumn(browser.lastVisibleColumn());
        }
        QCOMPARE(names, (QStringList{"y", "z"}));
        QCOMPARE(selectedTexts(browser), (QStringList{"y", "z"})); // new cells, same names
        QCoreApplication::sendPostedEvents();
    }

    void cellLooks()
    {
        TreeDelegate tree;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.reloadColumn(0);
        QListView *list = listOf(browser, 0);
        QVERIFY(list);
        const QAbstractItemModel &rows = *list->model();
        QCOMPARE(rows.rowCount(), 4);
        const auto font = [&](int row) { return rows.index(row, 0).data(Qt::FontRole).value<QFont>(); };
        const auto icon = [&](int row) { return rows.index(row, 0).data(Qt::DecorationRole).value<QIcon>(); };
        QVERIFY(font(3).italic());
        QVERIFY(!font(2).italic());
        // Directories and leaves are told apart at a glance.
        QVERIFY(icon(0).cacheKey() != icon(2).cacheKey());
        QCOMPARE(icon(0).cacheKey(), icon(1).cacheKey());
    }

    void userInput()
    {
        TreeDelegate tree;
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.resize(400, 300);
        browser.show(); // shows column 0 by itself
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QCOMPARE(browser.columnCount(), 1);
        QSignalSpy changes(&browser, &ColumnBrowser::selectionChanged);

        QListView *first = listOf(browser, 0);
        const auto rowCentre = [first](int row) { return first->visualRect(first->model()->index(row, 0)).center(); };
        QTest::mouseClick(first->viewport(), Qt::LeftButton, {}, rowCentre(1));
        QCOMPARE(browser.pathToColumn(browser.lastVisibleColumn()), "/b");
        QCOMPARE(changes.count(), 1);

        QTest::keyClick(first, Qt::Key_Right);
        QCOMPARE(browser.pathToColumn(browser.lastVisibleColumn()), "/b/deep");
        QTest::keyClick(listOf(browser, 1), Qt::Key_Left);
        QCOMPARE(browser.columnCount(), 2);

        QTest::mouseClick(first->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(0));
        QCOMPARE(selectedTexts(browser), (QStringList{"a", "b"}));
        QCOMPARE(browser.columnCount(), 1);
    }
};

QTEST_MAIN(TestColumnBrowser)
#include "tst_columnbrowser.moc"
