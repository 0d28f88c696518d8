// SPDX-License-Identifier: GPL-3.0-or-later
// What the browsers show beyond the delegates' rows: order and hidden names, the preview
// column and its comparison, the disk followed, the keys, the strip's sideways scroll.
#include "support/FakeApp.h"

#include "ftp/FTP.h"
#include "model/EntryFacts.h"
#include "model/SizeText.h"
#include "ui/BrowserSettings.h"
#include "ui/ColumnBrowser.h"
#include "ui/ColumnOrder.h"
#include "ui/GestBrowser.h"
#include "ui/GestFTPBrowser.h"
#include "ui/PreviewPanel.h"

#include "support/ScriptedFtpServer.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QListView>
#include <QMap>
#include <QRandomGenerator>
#include <QSet>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <utime.h>

using namespace zodaru;

namespace {

using test::FakeApp;
using Field = PreviewPanel::Field;
// The preview's fields to check, by Field, with the text each must show.
using Fields = QMap<int, QString>;

// A directory tree in memory: a name ending in "/" is a directory.
class TreeDelegate final : public ColumnBrowserDelegate {
public:
    QMap<QString, QStringList> tree;
    int counts = 0;

    int numberOfRowsInColumn(ColumnBrowser &browser, int column) override
    {
        ++counts;
        counted_ = tree.value(browser.pathToColumn(column));
        return int(counted_.size());
    }
    void willDisplayCell(ColumnBrowser &, CellFile &cell, int row, int) override
    {
        QString name = counted_.at(row);
        const bool directory = name.endsWith('/');
        if (directory)
            name.chop(1);
        cell.setStringValue(name);
        cell.setLeaf(!directory);
        cell.setFile(File(name, 1, directory ? 1 : 0));
    }
    QString titleOfColumn(ColumnBrowser &browser, int column) override { return browser.pathToColumn(column); }

private:
    QStringList counted_;
};

QStringList shownNames(ColumnBrowser &browser, int column)
{
    QStringList names;
    for (int row = 0; row < browser.rowCount(column); ++row)
        names << browser.cellAt(column, row)->stringValue();
    return names;
}

int rowNamed(ColumnBrowser &browser, int column, const QString &name)
{
    return int(shownNames(browser, column).indexOf(name));
}

QStringList selectedNames(const ColumnBrowser &browser)
{
    QStringList names;
    for (const CellFile *cell : browser.selectedCells())
        names << cell->name();
    return names;
}

QListView *listOf(ColumnBrowser &browser, int column)
{
    QList<QListView *> lists;
    for (QListView *list : browser.findChildren<QListView *>())
        if (!list->isHidden())
            lists << list;
    std::sort(lists.begin(), lists.end(), [&](QListView *a, QListView *b) {
        return a->mapTo(&browser, QPoint()).x() < b->mapTo(&browser, QPoint()).x();
    });
    return lists.value(column);
}

bool writeBytes(const QString &path, qsizetype size)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(QByteArray(size, 'x')) == size;
}

bool setTimes(const QString &path, qint64 seconds)
{
    const struct utimbuf times{time_t(seconds), time_t(seconds)};
    return ::utime(QFile::encodeName(path).constData(), &times) == 0;
}

// How a person reads two names: case folded, runs of digits by value (leading zeros aside),
// other characters by code; walks both names at once.
int readingOrder(const QString &a, const QString &b)
{
    const auto digit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            while (i < a.size() && a[i] == u'0')
                ++i;
            while (j < b.size() && b[j] == u'0')
                ++j;
            qsizetype ea = i;
            qsizetype eb = j;
            while (ea < a.size() && digit(a[ea]))
                ++ea;
            while (eb < b.size() && digit(b[eb]))
                ++eb;
            if (ea - i != eb - j)
                return ea - i < eb - j ? -1 : 1;
            if (const int c = QStringView(a).mid(i, ea - i).compare(QStringView(b).mid(j, eb - j)); c != 0)
                return c;
            i = ea;
            j = eb;
            continue;
        }
        const QChar ca = a[i].toCaseFolded();
        const QChar cb = b[j].toCaseFolded();
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    return i < a.size() ? 1 : (j < b.size() ? -1 : 0);
}

constexpr qint64 kMonday = 1700000000; // 2023-11-14 22:13:20 UTC

} // namespace

class TestBrowserViews final : public QObject {
    Q_OBJECT

    // The View menu's settings go to a private configuration, never the user's.
    test::TemporaryHome config_{test::TemporaryHome::Scope::ConfigOnly};

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(config_.isValid());
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    // --- order and hidden names ---

    void order_data()
    {
        QTest::addColumn<QStringList>("listed");
        QTest::addColumn<bool>("foldersFirst");
        QTest::addColumn<bool>("showHidden");
        QTest::addColumn<QStringList>("shown");
        QTest::newRow("case-insensitive, numbers by value")
            << QStringList{"file10", "File2", "file1", "apple", "Banana"} << true << false
            << QStringList{"apple", "Banana", "file1", "File2", "file10"};
        QTest::newRow("versions") << QStringList{"v1.10", "v1.9", "v1.2"} << true << false
                                  << QStringList{"v1.2", "v1.9", "v1.10"};
        QTest::newRow("leading zeros count for nothing")
            << QStringList{"a010", "a9", "a0011"} << true << false << QStringList{"a9", "a010", "a0011"};
        QTest::newRow("accented capitals fold too")
            << QStringList{"école", "Éclair", "Eau"} << true << false << QStringList{"Eau", "Éclair", "école"};
        QTest::newRow("folders first") << QStringList{"b/", "a", "c/", "A2"} << true << false
                                       << QStringList{"b", "c", "a", "A2"};
        QTest::newRow("folders mixed") << QStringList{"b/", "a", "c/", "A2"} << false << false
                                       << QStringList{"a", "A2", "b", "c"};
        QTest::newRow("hidden left out") << QStringList{".cfg", "x", ".git/"} << true << false
                                         << QStringList{"x"};
        QTest::newRow("hidden shown") << QStringList{".cfg", "x", ".git/"} << true << true
                                      << QStringList{".git", ".cfg", "x"};
        QTest::newRow("names equal but for case keep one order")
            << QStringList{"readme", "README", "Readme"} << true << false
            << QStringList{"README", "Readme", "readme"};
        // A digit sorts against other characters by its code: "." before it, ":" after.
        QTest::newRow("digits against punctuation")
            << QStringList{"a:", "a5", "a."} << true << false << QStringList{"a.", "a5", "a:"};
        QTest::newRow("runs of zeros") << QStringList{"ab", "a00b", "a0", "a"} << true << false
                                       << QStringList{"a", "a0", "a00b", "ab"};
        QTest::newRow("long shared beginning")
            << QStringList{"IMG_20200101_120000b.jpg", "IMG_20200101_120000a.jpg", "IMG_20200101_12000.jpg"}
            << true << false
            << QStringList{"IMG_20200101_12000.jpg", "IMG_20200101_120000a.jpg", "IMG_20200101_120000b.jpg"};
        QTest::newRow("numbers past 64 bits")
            << QStringList{"n123456789012345678901", "n99999999999999999999", "n0099999999999999999998"}
            << true << false
            << QStringList{"n0099999999999999999998", "n99999999999999999999", "n123456789012345678901"};
        QTest::newRow("one name the prefix of the others") << QStringList{"abcdefghij2", "abcdefghij", "abcdefghij10"}
                                                           << true << false
                                                           << QStringList{"abcdefghij", "abcdefghij2", "abcdefghij10"};
    }

    // Names made of characters that sort differently by code, by case and as digits: the
    // order given is the one a plain comparison of the names, as a person reads them, gives.
    void nameOrderMatchesReading_data()
    {
        QTest::addColumn<QString>("alphabet");
        QTest::addColumn<int>("names");
        QTest::newRow("digits and letters") << QStringLiteral("a0A19") << 3000;
        QTest::newRow("punctuation around digits") << QStringLiteral("0/:5._") << 3000;
        QTest::newRow("folded letters") << QStringLiteral("eEé\u00c99") << 2000;
        QTest::newRow("zeros") << QStringLiteral("00a") << 500;
    }
    void nameOrderMatchesReading()
    {
        QFETCH(QString, alphabet);
        QFETCH(int, names);
        QRandomGenerator random(42);
        QStringList texts;
        for (int i = 0; i < names; ++i) {
            QString name;
            for (int n = int(random.bounded(9)); n > 0; --n)
                name += alphabet.at(random.bounded(alphabet.size()));
            texts << name;
        }
        const std::vector<int> order = nameOrder(texts);
        QCOMPARE(qsizetype(order.size()), texts.size());
        QCOMPARE(QSet<int>(order.begin(), order.end()).size(), texts.size());
        for (size_t i = 1; i < order.size(); ++i) {
            const QString &before = texts.at(order[i - 1]);
            const QString &after = texts.at(order[i]);
            const int reading = readingOrder(before, after);
            QVERIFY2(reading < 0 || (reading == 0 && before <= after), qPrintable(before + QStringLiteral(" / ") + after));
        }
    }
    void order()
    {
        QFETCH(QStringList, listed);
        QFETCH(bool, foldersFirst);
        QFETCH(bool, showHidden);
        QFETCH(QStringList, shown);
        TreeDelegate tree;
        tree.tree["/"] = listed;
        ColumnBrowser browser;
        browser.setListOptions({foldersFirst, showHidden});
        browser.setDelegate(&tree);
        browser.reloadColumn(0);
        QCOMPARE(shownNames(browser, 0), shown);

        // The same rows, whatever order the options were set in: changed on a shown column.
        ColumnBrowser later;
        later.setDelegate(&tree);
        later.reloadColumn(0);
        later.setListOptions({foldersFirst, showHidden});
        QCOMPARE(shownNames(later, 0), shown);
    }

    // Changing the options re-sorts in place: the selection and the columns opened from it stay.
    void optionsKeepTheSelection()
    {
        TreeDelegate tree;
        tree.tree["/"] = QStringList{"z/", "a", ".h/"};
        tree.tree["/.h"] = QStringList{"inner"};
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        QVERIFY(browser.setPath("/.h")); // a hidden directory on the path is shown
        QCOMPARE(shownNames(browser, 0), (QStringList{".h", "z", "a"}));
        browser.selectRow(1, 0);
        const int counts = tree.counts;
        browser.setListOptions({false, false});
        QCOMPARE(shownNames(browser, 0), (QStringList{".h", "a", "z"}));
        QCOMPARE(browser.columnCount(), 2);
        QCOMPARE(browser.pathToColumn(1), "/.h");
        QCOMPARE(selectedNames(browser), QStringList{"inner"});
        QCOMPARE(tree.counts, counts); // nothing listed again
    }

    void settingsAreRemembered()
    {
        BrowserSettings &settings = BrowserSettings::instance();
        QSignalSpy changes(&settings, &BrowserSettings::changed);
        settings.setShowHidden(!settings.options().showHidden);
        settings.setDirectoriesFirst(!settings.options().directoriesFirst);
        QCOMPARE(changes.size(), 2);
        const QSettings stored(config_.settingsFile(), QSettings::NativeFormat);
        QCOMPARE(stored.value("Browsers/showHidden").toBool(), settings.options().showHidden);
        QCOMPARE(stored.value("Browsers/directoriesFirst").toBool(), settings.options().directoriesFirst);
    }

    // --- the preview column ---

    void localPreview_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Fields>("fields");
        const QString when = PreviewPanel::timeText(kMonday);
        QTest::newRow("file") << "data.bin"
                              << Fields{{int(Field::Name), "data.bin"}, {int(Field::Kind), "File"},
                                                    {int(Field::Size), "1.5 KiB"}, {int(Field::Modified), when},
                                                    {int(Field::Permissions), "-rw-r-----"},
                                                    {int(Field::LinkTarget), ""},
                                                    {int(Field::Comparison), ""}};
        QTest::newRow("link to the file: the target's size and date")
            << "ln" << Fields{{int(Field::Kind), "Symbolic link"}, {int(Field::Size), "1.5 KiB"},
                                          {int(Field::Modified), when}, {int(Field::Permissions), "lrwxrwxrwx"},
                                          {int(Field::LinkTarget), "data.bin"}};
        QTest::newRow("broken link") << "broken"
                                     << Fields{{int(Field::Kind), "Symbolic link"},
                                                           {int(Field::Size), "0 B"},
                                                           {int(Field::LinkTarget), "nowhere"}};
    }
    void localPreview()
    {
        QFETCH(QString, name);
        QFETCH(Fields, fields);
        QTemporaryDir dir;
        const QString root = dir.path();
        QVERIFY(writeBytes(root + "/data.bin", 1536));
        QVERIFY(QFile::setPermissions(root + "/data.bin",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        QVERIFY(setTimes(root + "/data.bin", kMonday));
        QVERIFY(QFile::link("data.bin", root + "/ln"));
        QVERIFY(QFile::link("nowhere", root + "/broken"));
        QVERIFY(QDir(root).mkdir("sub"));

        GestBrowser local;
        ColumnBrowser browser;
        browser.setDelegate(&local);
        QVERIFY(browser.setPath(root));
        const int column = browser.lastVisibleColumn();
        QVERIFY(!browser.isPreviewShown());
        browser.selectRow(column, rowNamed(browser, column, name));
        QVERIFY(browser.isPreviewShown());
        QCOMPARE(browser.columnCount(), column + 1);
        for (auto it = fields.begin(); it != fields.end(); ++it)
            QCOMPARE(browser.preview().fieldText(Field(it.key())), it.value());
        if (name == "data.bin")
            QCOMPARE(browser.preview().fieldToolTip(Field::Size), "1,536 bytes");

        // A directory opens its listing, not a preview; the disk still says what it is.
        browser.selectRow(column, rowNamed(browser, column, "sub"));
        QVERIFY(!browser.isPreviewShown());
        QVERIFY(QFile::setPermissions(root + "/sub", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const EntryFacts sub = local.factsOf(browser, *browser.selectedCells().first(), column);
        QCOMPARE(sub.kind, EntryFacts::Kind::Directory);
        QCOMPARE(sub.permissions, "drwx------");
        QCOMPARE(PreviewPanel::kindText(sub.kind), "Folder");
        // Two files selected: no preview either.
        browser.selectRows(column, {rowNamed(browser, column, "data.bin"), rowNamed(browser, column, "ln")});
        QVERIFY(!browser.isPreviewShown());
    }

    // Remote facts come from the listing line: permissions, link target, size and date.
    void remotePreview_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Fields>("fields");
        QTest::newRow("file") << "notes.txt"
                              << Fields{{int(Field::Kind), "File"}, {int(Field::Size), "2.7 KiB"},
                                                    {int(Field::Permissions), "-rw-r--r--"},
                                                    {int(Field::Modified),
                                                     PreviewPanel::timeText(QDateTime(QDate(2020, 1, 2), QTime(0, 0), QTimeZone::utc())
                                                                                .toSecsSinceEpoch())},
                                                    {int(Field::LinkTarget), ""}};
        QTest::newRow("link") << "current"
                              << Fields{{int(Field::Kind), "Symbolic link"},
                                                    {int(Field::Permissions), "lrwxrwxrwx"},
                                                    {int(Field::LinkTarget), "releases/v2"}};
    }
    void remotePreview()
    {
        QFETCH(QString, name);
        QFETCH(Fields, fields);
        ScriptedFtpServer server(test::browsingServer(
            {{"/", "-rw-r--r-- 1 u g 2718 Jan  2  2020 notes.txt\r\n"
                   "lrwxrwxrwx 1 u g 11 Jan  2  2020 current -> releases/v2\r\n"
                   "drwxr-xr-x 2 u g 0 Jan  2  2020 releases\r\n"}}));
        FakeApp app;
        app.engine = FTP::connectTo(server.address(), "me", "pw");
        QVERIFY(app.engine->isConnected());
        GestFTPBrowser remote(app);
        ColumnBrowser browser;
        browser.setDelegate(&remote);
        browser.reloadColumn(0);
        app.settle();
        QCOMPARE(shownNames(browser, 0), (QStringList{"releases", "current", "notes.txt"}));
        browser.selectRow(0, rowNamed(browser, 0, name));
        QVERIFY(browser.isPreviewShown());
        QCOMPARE(browser.preview().fieldText(Field::Name), name);
        for (auto it = fields.begin(); it != fields.end(); ++it)
            QCOMPARE(browser.preview().fieldText(Field(it.key())), it.value());
        app.engine->shutdown();
    }

    void namesakes_data()
    {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<qint64>("modified");
        QTest::addColumn<bool>("present");
        QTest::addColumn<qint64>("thereSize");
        QTest::addColumn<qint64>("thereModified");
        QTest::addColumn<int>("expected");
        const qint64 t = kMonday; // 22:13:20 UTC
        QTest::newRow("missing") << qint64(5) << t << false << qint64(0) << qint64(0) << int(Namesake::Missing);
        QTest::newRow("same") << qint64(5) << t << true << qint64(5) << t << int(Namesake::Same);
        QTest::newRow("newer") << qint64(5) << t + 120 << true << qint64(5) << t << int(Namesake::Newer);
        QTest::newRow("older") << qint64(5) << t - 120 << true << qint64(5) << t << int(Namesake::Older);
        QTest::newRow("other size, same date") << qint64(5) << t << true << qint64(6) << t << int(Namesake::OtherSize);
        QTest::newRow("listed to the minute") << qint64(5) << t << true << qint64(5) << t - 20 << int(Namesake::Same);
        QTest::newRow("minute after the listed one") << qint64(5) << t + 60 << true << qint64(5) << t - 20
                                                     << int(Namesake::Newer);
        QTest::newRow("listed to the day") << qint64(5) << t << true << qint64(5) << t - (t % 86400)
                                           << int(Namesake::Same);
        QTest::newRow("date unknown there") << qint64(5) << t << true << qint64(5) << qint64(-1)
                                            << int(Namesake::SameSize);
        QTest::newRow("date unknown, other size") << qint64(5) << t << true << qint64(7) << qint64(-1)
                                                  << int(Namesake::OtherSize);
    }
    void namesakes()
    {
        QFETCH(qint64, size);
        QFETCH(qint64, modified);
        QFETCH(bool, present);
        QFETCH(qint64, thereSize);
        QFETCH(qint64, thereModified);
        QFETCH(int, expected);
        const EntryFacts here{"f", EntryFacts::Kind::File, size, modified, {}, {}};
        std::optional<EntryFacts> there;
        if (present)
            there = EntryFacts{"f", EntryFacts::Kind::File, thereSize, thereModified, {}, {}};
        QCOMPARE(int(compareNamesakes(here, there)), expected);
    }

    // The preview compares with the other browser's open directory, and follows it.
    void previewComparesWithTheOtherSide()
    {
        QTemporaryDir left;
        QTemporaryDir right;
        QVERIFY(writeBytes(left.path() + "/same", 10) && setTimes(left.path() + "/same", kMonday));
        QVERIFY(writeBytes(right.path() + "/same", 10) && setTimes(right.path() + "/same", kMonday));
        QVERIFY(writeBytes(left.path() + "/alone", 1));
        QVERIFY(QDir(right.path()).mkdir("sub"));
        QVERIFY(writeBytes(right.path() + "/sub/same", 2048) && setTimes(right.path() + "/sub/same", kMonday - 3600));
        GestBrowser local;
        GestBrowser other;
        ColumnBrowser a;
        ColumnBrowser b;
        a.setDelegate(&local);
        b.setDelegate(&other);
        a.setCounterpart(&b);
        QVERIFY(a.setPath(left.path()));
        QVERIFY(b.setPath(right.path()));
        const int column = a.lastVisibleColumn();
        a.selectRow(column, rowNamed(a, column, "same"));
        QCOMPARE(a.preview().namesake(), Namesake::Same);
        QCOMPARE(a.preview().fieldText(Field::Comparison),
                 "Same size and date on the other side (10 B, " + PreviewPanel::timeText(kMonday) + ")");
        // The other side opens a directory: the comparison follows it.
        b.selectRow(b.lastVisibleColumn(), rowNamed(b, b.lastVisibleColumn(), "sub"));
        QCOMPARE(a.preview().namesake(), Namesake::Newer);
        QCOMPARE(a.preview().fieldToolTip(Field::Comparison), "2,048 bytes");
        a.selectRow(column, rowNamed(a, column, "alone"));
        QCOMPARE(a.preview().namesake(), Namesake::Missing);
        QCOMPARE(a.preview().fieldText(Field::Comparison), "Missing on the other side");
    }

    // --- the disk followed ---

    void watcherFollowsTheDisk()
    {
        QTemporaryDir dir;
        const QString root = dir.path();
        QVERIFY(writeBytes(root + "/kept", 1));
        QVERIFY(writeBytes(root + "/gone", 1));
        QVERIFY(QDir(root).mkdir("sub"));
        QVERIFY(writeBytes(root + "/sub/inner", 1));
        GestBrowser local;
        ColumnBrowser browser;
        browser.setDelegate(&local);
        QVERIFY(browser.setPath(root + "/sub"));
        const int column = browser.lastVisibleColumn() - 1; // root, with "sub" selected
        QVERIFY(writeBytes(root + "/new", 1));
        QTRY_VERIFY(rowNamed(browser, column, "new") >= 0);
        QVERIFY(QFile::remove(root + "/gone"));
        QTRY_VERIFY(rowNamed(browser, column, "gone") < 0);
        // Still inside "sub": the directory's column stayed open.
        QCOMPARE(browser.pathToColumn(column + 1), root + "/sub");
        QCOMPARE(selectedNames(browser), QStringList{"sub"});
        QVERIFY(writeBytes(root + "/sub/more", 1));
        QTRY_VERIFY(rowNamed(browser, column + 1, "more") >= 0);

        // The previewed file grows: the preview shows its new size.
        browser.selectRow(column + 1, rowNamed(browser, column + 1, "inner"));
        QCOMPARE(browser.preview().fieldText(Field::Size), "1 B");
        QVERIFY(writeBytes(root + "/sub/inner", 3000));
        QTRY_COMPARE(browser.preview().fieldText(Field::Size), "2.9 KiB");
        QCOMPARE(selectedNames(browser), QStringList{"inner"});
    }

    // --- keys ---

    void keys_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("selected");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("listings"); // listings asked by the key
        // Browsed to /a/b with "f" selected in it.
        QTest::newRow("F5 lists the open directory again")
            << int(Qt::Key_F5) << int(Qt::NoModifier) << "" << QStringList{"f"} << 3 << 1;
        QTest::newRow("Backspace goes to the parent")
            << int(Qt::Key_Backspace) << int(Qt::NoModifier) << "" << QStringList{"b"} << 3 << 1;
        QTest::newRow("Alt+Up goes to the parent")
            << int(Qt::Key_Up) << int(Qt::AltModifier) << "" << QStringList{"b"} << 3 << 1;
        QTest::newRow("typing selects by the first letters")
            << 0 << int(Qt::NoModifier) << "ha" << QStringList{"hat"} << 3 << 0;
    }
    void keys()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(QString, text);
        QFETCH(QStringList, selected);
        QFETCH(int, columns);
        QFETCH(int, listings);
        TreeDelegate tree;
        tree.tree["/"] = QStringList{"a/"};
        tree.tree["/a"] = QStringList{"b/"};
        tree.tree["/a/b"] = QStringList{"f", "g", "hat", "home"};
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.resize(600, 300);
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QVERIFY(browser.setPath("/a/b/f"));
        QListView *list = listOf(browser, 2);
        QVERIFY(list);
        list->setFocus();
        const int counts = tree.counts;
        if (text.isEmpty())
            QTest::keyClick(list, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        else
            QTest::keyClicks(list, text);
        QCOMPARE(selectedNames(browser), selected);
        QCOMPARE(browser.columnCount(), columns);
        QCOMPARE(tree.counts - counts, listings);
    }

    // --- the strip's sideways scroll ---

    void reloadKeepsTheStripWhereTheUserPutIt()
    {
        TreeDelegate tree;
        tree.tree["/"] = QStringList{"a/"};
        tree.tree["/a"] = QStringList{"b/"};
        tree.tree["/a/b"] = QStringList{"c/"};
        tree.tree["/a/b/c"] = QStringList{"f"};
        ColumnBrowser browser;
        browser.setDelegate(&tree);
        browser.resize(300, 200);
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QVERIFY(browser.setPath("/a/b/c/f"));
        QTRY_VERIFY(browser.horizontalScroll() > 0); // opening columns brings them into view
        const int opened = browser.horizontalScroll();
        browser.setHorizontalScroll(opened / 2); // the user scrolls back a little
        const int kept = browser.horizontalScroll();
        browser.reloadColumn(browser.lastVisibleColumn()); // a finished transfer does this
        QCOMPARE(browser.horizontalScroll(), kept);
        browser.reloadColumn(2); // closes and opens again the column right of it
        QCOMPARE(browser.columnCount(), 4);
        QCOMPARE(browser.horizontalScroll(), kept);
        QCoreApplication::processEvents(); // the posted layout passes
        QCoreApplication::processEvents();
        QCOMPARE(browser.horizontalScroll(), kept);
    }
};

QTEST_MAIN(TestBrowserViews)
#include "tst_browserviews.moc"
