// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's delete buttons: what they ask, what they delete, and what they log.
#include "support/FakeApp.h"

#include "ui/BrowserSettings.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/EntryDeletion.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <memory>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zodaru;
using zodaru::test::browsingServer;
using zodaru::test::commandsSent;
using zodaru::test::linesStarting;
using zodaru::test::remoteSteps;

namespace {

int rowNamed(ColumnBrowser *browser, int column, const QString &name)
{
    for (int row = 0; row < browser->rowCount(column); ++row)
        if (browser->cellAt(column, row)->stringValue() == name)
            return row;
    return -1;
}

void touch(const QString &path)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
}

// Waits for the deletion's question, checks its text and that Cancel is its default, and
// answers it: Delete when `remove`, else Cancel. False when no question came.
bool answerDeletion(EntryDeletion &deletion, const QString &question, bool remove)
{
    if (!QTest::qWaitFor([&] { return deletion.question() != nullptr; }))
        return false;
    QMessageBox *box = deletion.question();
    if (box->text() != question) {
        qWarning() << "question:" << box->text();
        return false;
    }
    if (box->defaultButton() != box->button(QMessageBox::Cancel))
        return false;
    for (QAbstractButton *button : box->buttons())
        if ((box->buttonRole(button) == QMessageBox::DestructiveRole) == remove)
            button->click();
    return QTest::qWaitFor([&] { return !deletion.isBusy(); });
}

} // namespace

class TestMainWindowDeletions final : public QObject {
    Q_OBJECT

    // The local browser opens on the working directory: each test works in its own.
    std::unique_ptr<test::ControllerFixture> f_;
    test::TemporaryHome config_{test::TemporaryHome::Scope::ConfigOnly};
    std::unique_ptr<QTemporaryDir> data_;
    std::optional<test::ScopedEnv> dataVar_;

    void build() { f_->build(); }
    ColumnBrowser *local() const { return f_->controller->window()->localView(); }

private Q_SLOTS:
    // Hidden entries are shown, since these cases select some.
    void initTestCase()
    {
        QVERIFY(config_.isValid());
        BrowserSettings::instance().setShowHidden(true);
    }

    void init()
    {
        // What goes to the Trash goes to a Trash of this test's own.
        data_ = std::make_unique<QTemporaryDir>();
        dataVar_.emplace("XDG_DATA_HOME", QFile::encodeName(data_->path()));
        f_ = std::make_unique<test::ControllerFixture>();
        QVERIFY(f_->isValid());
    }
    void cleanup()
    {
        f_.reset();
        dataVar_.reset();
        data_.reset();
    }

    void deleteLocalEntries_data()
    {
        QTest::addColumn<QString>("open");     // under the test directory; empty: browse "/"
        QTest::addColumn<QStringList>("select"); // entries of work/, in any order
        QTest::addColumn<QString>("question");   // empty: none asked
        QTest::addColumn<bool>("answer");        // Delete (true) or Cancel
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<bool>("trash");         // the file system has a Trash

        QTest::newRow("nothing selected") << "" << QStringList{} << "" << false << QStringList{} << true;
        QTest::newRow("one file") << "work" << QStringList{"one"} << "Delete 'one'?" << true
                                  << QStringList{"one"} << false;
        QTest::newRow("three files") << "work" << QStringList{"one", "two words", ".hidden"}
                                     << "Delete these 3 entries?" << true
                                     << QStringList{"one", "two words", ".hidden"} << false;
        // A selected directory opens its listing to the right; the entry is still the one
        // selected, never work/dir/dir (a file of the same name inside it). Directories were
        // refused once; now the question says what they hold, and they go with it.
        QTest::newRow("directory") << "work" << QStringList{"dir"} << "Delete 'dir' and the 1 file in it?"
                                   << true << QStringList{"dir", "dir/dir"} << false;
        // Browsed into work/dir with nothing selected there: the selection is "dir" itself.
        QTest::newRow("only the path selected") << "work/dir" << QStringList{}
                                                << "Delete 'dir' and the 1 file in it?" << true
                                                << QStringList{"dir", "dir/dir"} << false;
        QTest::newRow("directory among files") << "work" << QStringList{"dir", "one"}
                                               << "Delete these 2 entries and the 1 file in them?" << true
                                               << QStringList{"dir", "dir/dir", "one"} << false;
        QTest::newRow("cancelled") << "work" << QStringList{"dir", "one"}
                                   << "Delete these 2 entries and the 1 file in them?" << false
                                   << QStringList{} << false;
        QTest::newRow("to the trash") << "work" << QStringList{"dir", "one"}
                                      << "Delete these 2 entries and the 1 file in them?" << true
                                      << QStringList{"dir", "dir/dir", "one"} << true;
    }

    void deleteLocalEntries()
    {
        QFETCH(QString, open);
        QFETCH(QStringList, select);
        QFETCH(QString, question);
        QFETCH(bool, answer);
        QFETCH(QStringList, removed);
        QFETCH(bool, trash);

        const QString work = f_->root() + QStringLiteral("/work");
        QVERIFY(QDir(f_->root()).mkpath(QStringLiteral("work/dir")));
        const QStringList files{"one", "two words", ".hidden", "kept", "dir/dir"};
        for (const QString &f : files)
            touch(work + QLatin1Char('/') + f);
        build();
        f_->controller->deletion().setTrashCheck([trash](const QString &) { return trash; });
        if (open.isEmpty())
            QVERIFY(local()->setPath(QStringLiteral("/")));
        else
            QVERIFY(local()->setPath(f_->root() + QLatin1Char('/') + open));
        const int column = open.isEmpty() ? 0 : int(work.count(QLatin1Char('/')));

        // Selection order is row order, which is the directory's own order.
        QList<int> rows;
        for (const QString &name : select) {
            const int row = rowNamed(local(), column, name);
            QVERIFY(row >= 0);
            rows << row;
        }
        std::sort(rows.begin(), rows.end());
        QStringList expectedPaths;
        for (int row : rows) {
            const QString name = local()->cellAt(column, row)->stringValue();
            if (removed.contains(name))
                expectedPaths << work + QLatin1Char('/') + name;
        }
        if (open == QLatin1String("work/dir") && !removed.isEmpty())
            expectedPaths << work + QStringLiteral("/dir");
        if (!rows.isEmpty())
            local()->selectRows(column, rows);

        LogCapture log;
        QTest::mouseClick(f_->controller->window()->ldelete(), Qt::LeftButton);
        if (!question.isEmpty())
            QVERIFY(answerDeletion(f_->controller->deletion(), question, answer));
        QCoreApplication::processEvents();
        QVERIFY(!f_->controller->deletion().question() || question.isEmpty());

        QStringList logged;
        for (const QString &line : linesStarting(log, QStringLiteral(" on veut effacer le fichier : ")))
            logged << line.mid(30).chopped(1);
        QCOMPARE(logged, expectedPaths);
        QCOMPARE(linesStarting(log, QStringLiteral(" on veut effacer un ou des")).size(), 1);
        // The one line of the action comes first, then one line per entry that goes.
        const QStringList lines = log.lines();
        const auto firstOf = [&lines](const char *prefix) {
            for (qsizetype i = 0; i < lines.size(); ++i)
                if (lines[i].startsWith(QLatin1String(prefix)))
                    return i;
            return lines.size();
        };
        QVERIFY(firstOf(" on veut effacer un") < firstOf(" on veut effacer le fichier"));
        QVERIFY(f_->controller->statusText().isEmpty());

        for (const QString &f : files + QStringList{"dir"})
            QCOMPARE(QFileInfo::exists(work + QLatin1Char('/') + f), !removed.contains(f));
        // What went to the Trash is there to get back, with what it held.
        const QString trashed = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash/files/");
        for (const QString &f : removed)
            QCOMPARE(QFileInfo::exists(trashed + f), trash);
        // The column lists the directory again: what went is no longer shown.
        for (const QString &f : removed)
            if (!f.contains(QLatin1Char('/')))
                QTRY_COMPARE(rowNamed(local(), column, f), -1);
    }

    // A name that is not UTF-8 is removed under its exact bytes, and only that file.
    void deleteLocalNameAsBytes()
    {
        const QByteArray dir = QFile::encodeName(f_->root());
        for (const QByteArray &name : {QByteArray("caf\xe9"), QByteArray("caf\xc3\xa9")}) {
            const int fd = ::open((dir + '/' + name).constData(), O_WRONLY | O_CREAT, 0600);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        build();
        const int column = local()->lastVisibleColumn();
        const int row = rowNamed(local(), column, QStringLiteral("caf\uFFFD"));
        QVERIFY(row >= 0);
        local()->selectRow(column, row);
        QTest::mouseClick(f_->controller->window()->ldelete(), Qt::LeftButton);
        QVERIFY(answerDeletion(f_->controller->deletion(), QStringLiteral("Delete 'caf\uFFFD'?"), true));
        struct stat st {};
        QCOMPARE(::stat((dir + "/caf\xe9").constData(), &st), -1);
        QCOMPARE(::stat((dir + "/caf\xc3\xa9").constData(), &st), 0);
    }

    void deleteRemoteWithoutEngineSendsNothing()
    {
        build();
        LogCapture log;
        f_->controller->deleteRemoteFile();
        QCOMPARE(log.lines(), QStringList{QStringLiteral(" on veut effacer un ou des fichier(s) distant")});
    }

    void deleteRemoteEntries_data()
    {
        QTest::addColumn<QString>("open"); // a directory of the root to open first, or none
        QTest::addColumn<QStringList>("select");
        QTest::addColumn<QString>("question");     // empty: none asked
        QTest::addColumn<QStringList>("expected"); // listings, DELE and RMD lines, in order
        QTest::addColumn<QString>("refusal");     // the log line of a refused entry

        QTest::newRow("nothing selected") << "" << QStringList{} << "" << QStringList{"ls /"} << "";
        // At the root the directory is "/": names get two slashes, blanks stay as they are.
        // One command at a time, each after the last one's reply; one listing at the end.
        QTest::newRow("three at the root")
            << "" << QStringList{"a", "b c", "d"} << "Delete these 3 entries?"
            << QStringList{"ls /", "DELE //a", "DELE //b c", "DELE //d", "ls /"} << "";
        QTest::newRow("in a subdirectory")
            << "sub" << QStringList{"inner"} << "Delete 'inner'?"
            << QStringList{"ls /", "ls /sub", "DELE /sub/inner", "ls /sub"} << "";
        // A selected directory opens its listing to the right; it is never turned into
        // /sub/sub (a file of the same name inside it). Directories were refused once; now
        // the question says what they hold, and they go with it, deepest first. (This
        // server still lists "sub" afterwards, so the browser opens it again.)
        QTest::newRow("directory") << "" << QStringList{"sub"} << "Delete 'sub' and the 2 files in it?"
                                   << QStringList{"ls /", "ls /sub", "DELE //sub/inner", "DELE //sub/sub",
                                                  "RMD //sub", "ls /", "ls /sub"}
                                   << "";
        QTest::newRow("only the path selected") << "sub" << QStringList{} << "Delete 'sub' and the 2 files in it?"
                                                << QStringList{"ls /", "ls /sub", "DELE //sub/inner",
                                                               "DELE //sub/sub", "RMD //sub", "ls /", "ls /sub"}
                                                << "";
        // Listed names that would reach another file than the one shown.
        QTest::newRow("parent in the name") << "" << QStringList{"../escape.txt"} << "" << QStringList{"ls /"}
                                            << "Nom de fichier refuse : <../escape.txt>";
        QTest::newRow("slash in the name") << "" << QStringList{"x/y"} << "" << QStringList{"ls /"}
                                           << "Nom de fichier refuse : <x/y>";
    }

    void deleteRemoteEntries()
    {
        QFETCH(QString, open);
        QFETCH(QStringList, select);
        QFETCH(QString, question);
        QFETCH(QStringList, expected);
        QFETCH(QString, refusal);

        const QByteArray sub = "-rw-r--r-- 1 u g 5 Jan  1  2020 inner\r\n"
                               "-rw-r--r-- 1 u g 5 Jan  1  2020 sub\r\n";
        ScriptedFtpServer server(browsingServer({
            {"/", "-rw-r--r-- 1 u g 5 Jan  1  2020 a\r\n"
                  "-rw-r--r-- 1 u g 5 Jan  1  2020 b c\r\n"
                  "drwxr-xr-x 2 u g 0 Jan  1  2020 sub\r\n"
                  "-rw-r--r-- 1 u g 5 Jan  1  2020 ../escape.txt\r\n"
                  "-rw-r--r-- 1 u g 5 Jan  1  2020 x/y\r\n"
                  "-rw-r--r-- 1 u g 5 Jan  1  2020 d\r\n"},
            {"/sub", sub},
            {"//sub", sub},
        }));
        build();
        f_->app.engine = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("pw"));
        QVERIFY(f_->app.engine->isConnected());
        LogCapture log;
        f_->controller->setConnected();
        f_->app.settle();
        ColumnBrowser *remote = f_->controller->window()->remoteView();
        if (!open.isEmpty()) {
            const int row = rowNamed(remote, 0, open);
            QVERIFY(row >= 0);
            remote->selectRow(0, row);
            f_->app.settle();
        }
        const int column = open.isEmpty() ? 0 : 1;
        QList<int> rows;
        for (const QString &name : select) {
            const int row = rowNamed(remote, column, name);
            QVERIFY(row >= 0);
            rows << row;
        }
        if (!rows.isEmpty())
            remote->selectRows(column, rows);

        f_->controller->deleteRemoteFile();
        if (!question.isEmpty())
            QVERIFY(answerDeletion(f_->controller->deletion(), question, true));
        f_->app.settle();
        // A polite end, so the server script ends on QUIT rather than on a dropped line.
        f_->app.engine->shutdown();
        f_->app.engine.reset();

        QCOMPARE(remoteSteps(log, QStringLiteral(" on envoie au ftp la commande : ")), expected);
        QCOMPARE(commandsSent(server, 0, {"DELE ", "RMD "}), expected.filter(QRegularExpression("^(DELE|RMD) ")));
        QCOMPARE(log.contains(refusal), !refusal.isEmpty());
        QCOMPARE(f_->controller->statusText().isEmpty(), refusal.isEmpty());
        QCOMPARE(server.failures(), QStringList());
    }

};

QTEST_MAIN(TestMainWindowDeletions)
#include "tst_mainwindowdeletions.moc"
