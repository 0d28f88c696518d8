// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeApp.h"

#include "base/ByteNames.h"
#include "ui/BrowserEntryActions.h"
#include "ui/BrowserSettings.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/ConfirmDeletion.h"
#include "ui/EntryDeletion.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace zodaru;
using zodaru::test::browsingServer;
using zodaru::test::commandsSent;

namespace {

void write(const QString &path, const QByteArray &content)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

int rowNamed(ColumnBrowser &browser, int column, const QString &name)
{
    for (int row = 0; row < browser.rowCount(column); ++row)
        if (browser.cellAt(column, row)->stringValue() == name)
            return row;
    return -1;
}

// The list widget of a browser's column that has the keyboard focus in it.
QAbstractItemView *focusedList(ColumnBrowser &browser)
{
    QAbstractItemView *last = nullptr;
    for (QAbstractItemView *view : browser.findChildren<QAbstractItemView *>())
        if (view->isVisible())
            last = view;
    return last;
}

} // namespace

class TestEntryActions final : public QObject {
    Q_OBJECT

    std::unique_ptr<test::ControllerFixture> f_;
    test::TemporaryHome config_{test::TemporaryHome::Scope::ConfigOnly};
    std::unique_ptr<QTemporaryDir> data_;
    std::optional<test::ScopedEnv> dataVar_;

    MainWindowController &build()
    {
        MainWindowController &c = f_->build();
        // Nothing of these tests goes to the Trash: what is deleted is gone.
        c.deletion().setTrashCheck([](const QString &) { return false; });
        return c;
    }
    ColumnBrowser &local() const { return *f_->controller->window()->localView(); }
    ColumnBrowser &remote() const { return *f_->controller->window()->remoteView(); }

    // The local browser on the test directory with `name` selected.
    void selectLocal(const QString &name)
    {
        QVERIFY(local().setPath(f_->root()));
        const int column = local().lastVisibleColumn();
        const int row = rowNamed(local(), column, name);
        QVERIFY(row >= 0);
        local().selectRow(column, row);
    }

    // Connects the stand-in to `server` and selects `name` in the remote root.
    void selectRemote(ScriptedFtpServer &server, const QString &name)
    {
        f_->app.engine = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("pw"));
        QVERIFY(f_->app.engine->isConnected());
        f_->controller->setConnected();
        f_->app.settle();
        const int row = rowNamed(remote(), 0, name);
        QVERIFY(row >= 0);
        remote().selectRow(0, row);
        f_->app.settle();
    }

    // The rename dialog that F2 opened, its text as it was offered, then `to` typed and OK.
    QString renameTo(BrowserEntryActions &actions, const QString &to)
    {
        actions.askRename();
        auto *dialog = f_->controller->window()->findChild<QInputDialog *>();
        if (!dialog)
            return QStringLiteral("<no dialog>");
        const QString offered = dialog->textValue();
        dialog->setTextValue(to);
        dialog->accept();
        f_->app.settle();
        QCoreApplication::processEvents();
        return offered;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(config_.isValid());
        BrowserSettings::instance().setShowHidden(true);
    }
    void init()
    {
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
        QLocale::setDefault(QLocale::c());
    }

    void deletionQuestion_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("oneDirectory");
        QTest::addColumn<qint64>("files");
        QTest::addColumn<qint64>("folders");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("expected");

        QTest::newRow("one file") << QStringList{"a.txt"} << false << qint64(0) << qint64(0) << "en_US"
                                  << "Delete 'a.txt'?";
        QTest::newRow("folder, English numbers") << QStringList{"photos"} << true << qint64(1243) << qint64(37)
                                                 << "en_US"
                                                 << "Delete 'photos' and the 1,243 files and 37 folders in it?";
        QTest::newRow("folder, German numbers") << QStringList{"photos"} << true << qint64(1243) << qint64(37)
                                                << "de_DE"
                                                << "Delete 'photos' and the 1.243 files and 37 folders in it?";
        QTest::newRow("one of each") << QStringList{"p"} << true << qint64(1) << qint64(1) << "en_US"
                                     << "Delete 'p' and the 1 file and 1 folder in it?";
        QTest::newRow("folders only") << QStringList{"p"} << true << qint64(0) << qint64(2) << "en_US"
                                      << "Delete 'p' and the 2 folders in it?";
        QTest::newRow("empty folder") << QStringList{"p"} << true << qint64(0) << qint64(0) << "en_US"
                                      << "Delete the empty folder 'p'?";
        QTest::newRow("several") << QStringList{"a", "b", "c"} << false << qint64(0) << qint64(0) << "en_US"
                                 << "Delete these 3 entries?";
        QTest::newRow("several with contents") << QStringList{"a", "b"} << false << qint64(5) << qint64(1)
                                               << "en_US"
                                               << "Delete these 2 entries and the 5 files and 1 folder in them?";
        QTest::newRow("name not UTF-8") << QStringList{nameFromBytes("caf\xe9")} << false << qint64(0)
                                        << qint64(0) << "en_US" << QStringLiteral("Delete 'caf\uFFFD'?");
    }
    void deletionQuestion()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, oneDirectory);
        QFETCH(qint64, files);
        QFETCH(qint64, folders);
        QFETCH(QString, locale);
        QFETCH(QString, expected);
        QLocale::setDefault(QLocale(locale));
        const DeletionSummary summary{names, oneDirectory, {files, folders}, DeletionSummary::Undo::Remote};
        QCOMPARE(zodaru::deletionQuestion(summary), expected);
    }

    // Only the Trash can give back what was deleted; the question says when nothing can.
    void deletionConsequence_data()
    {
        QTest::addColumn<int>("undo");
        QTest::addColumn<bool>("final");
        QTest::newRow("trash") << int(DeletionSummary::Undo::Trash) << false;
        QTest::newRow("no trash") << int(DeletionSummary::Undo::Never) << true;
        QTest::newRow("server") << int(DeletionSummary::Undo::Remote) << true;
    }
    void deletionConsequence()
    {
        QFETCH(int, undo);
        QFETCH(bool, final);
        const DeletionSummary summary{{"a"}, false, {}, DeletionSummary::Undo(undo)};
        QCOMPARE(zodaru::deletionConsequence(summary).contains(QLatin1String("cannot be undone")), final);
    }

    // Every way to delete asks first; only the Delete button deletes, and the keys that a
    // hurried user presses (Return, Escape) keep the file.
    void deleteAsksFirst_data()
    {
        QTest::addColumn<QString>("how");    // "button", "key", "menu"
        QTest::addColumn<QString>("answer"); // "Return", "Escape", "Delete"
        QTest::addColumn<bool>("removed");
        QTest::newRow("button, Return") << "button" << "Return" << false;
        QTest::newRow("button, Escape") << "button" << "Escape" << false;
        QTest::newRow("button, Delete") << "button" << "Delete" << true;
        QTest::newRow("Delete key, Return") << "key" << "Return" << false;
        QTest::newRow("Delete key, Delete") << "key" << "Delete" << true;
        QTest::newRow("menu, Delete") << "menu" << "Delete" << true;
    }
    void deleteAsksFirst()
    {
        QFETCH(QString, how);
        QFETCH(QString, answer);
        QFETCH(bool, removed);
        write(f_->root() + QStringLiteral("/doomed"), "x");
        build();
        MainWindow *w = f_->controller->window();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        selectLocal(QStringLiteral("doomed"));

        if (how == QLatin1String("button")) {
            QTest::mouseClick(w->ldelete(), Qt::LeftButton);
        } else if (how == QLatin1String("key")) {
            QAbstractItemView *list = focusedList(local());
            QVERIFY(list);
            list->setFocus();
            QTest::keyClick(list, Qt::Key_Delete);
        } else {
            f_->controller->localEntryActions().deleteAction()->trigger();
        }
        QTRY_VERIFY(f_->controller->deletion().question());
        QMessageBox *box = f_->controller->deletion().question();
        QCOMPARE(box->text(), QStringLiteral("Delete 'doomed'?"));
        QVERIFY(box->informativeText().contains(QLatin1String("cannot be undone")));
        QTRY_VERIFY(box->isVisible());
        if (answer == QLatin1String("Return"))
            QTest::keyClick(box, Qt::Key_Return);
        else if (answer == QLatin1String("Escape"))
            QTest::keyClick(box, Qt::Key_Escape);
        else
            for (QAbstractButton *button : box->buttons())
                if (box->buttonRole(button) == QMessageBox::DestructiveRole)
                    button->click();
        QTRY_VERIFY(!f_->controller->deletion().question());
        QTRY_VERIFY(!f_->controller->deletion().isBusy());
        QCOMPARE(QFile::exists(f_->root() + QStringLiteral("/doomed")), !removed);
    }

    // The menu offers what applies to the selection now; F2 renames the one selected entry.
    void contextMenu_data()
    {
        QTest::addColumn<QStringList>("select");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QList<bool>>("enabled"); // Upload, Rename, Delete, New folder
        QTest::addColumn<QString>("offered");     // the name the rename dialog offers; empty: none
        // Nothing selected in the open directory: the selection is the directory itself.
        QTest::newRow("only the path") << QStringList{} << false << QList<bool>{false, true, true, true}
                                       << "<directory>";
        QTest::newRow("one file") << QStringList{"a"} << false << QList<bool>{false, true, true, true} << "a";
        QTest::newRow("two files") << QStringList{"a", "b"} << false << QList<bool>{false, false, true, true} << "";
        QTest::newRow("one file, connected") << QStringList{"a"} << true << QList<bool>{true, true, true, true}
                                             << "a";
    }
    void contextMenu()
    {
        QFETCH(QStringList, select);
        QFETCH(bool, connected);
        QFETCH(QList<bool>, enabled);
        QFETCH(QString, offered);
        if (offered == QLatin1String("<directory>"))
            offered = QFileInfo(f_->root()).fileName();
        write(f_->root() + QStringLiteral("/a"), "a");
        write(f_->root() + QStringLiteral("/b"), "b");
        ScriptedFtpServer server(browsingServer({{"/", ""}}));
        build();
        if (connected)
            f_->app.engine = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("pw"));
        QVERIFY(local().setPath(f_->root()));
        const int column = local().lastVisibleColumn();
        QList<int> rows;
        for (const QString &name : select)
            rows << rowNamed(local(), column, name);
        if (!rows.isEmpty())
            local().selectRows(column, rows);

        Q_EMIT local().customContextMenuRequested(QPoint(10, 10));
        auto *menu = local().findChild<QMenu *>();
        QVERIFY(menu);
        BrowserEntryActions &actions = f_->controller->localEntryActions();
        const QList<QAction *> ours{actions.transferAction(), actions.renameAction(), actions.deleteAction(),
                                    actions.newFolderAction()};
        QList<bool> shown;
        for (QAction *action : ours) {
            QVERIFY(menu->actions().contains(action));
            shown << action->isEnabled();
        }
        QCOMPARE(shown, enabled);
        menu->close();
        if (f_->app.engine)
            f_->app.engine->shutdown();

        // F2 where the focus is in the browser opens the rename dialog on the selection.
        MainWindow *w = f_->controller->window();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QAbstractItemView *list = focusedList(local());
        QVERIFY(list);
        list->setFocus();
        QTest::keyClick(list, Qt::Key_F2);
        auto *dialog = w->findChild<QInputDialog *>();
        QCOMPARE(dialog != nullptr, !offered.isEmpty());
        if (dialog)
            QCOMPARE(dialog->textValue(), offered);
        else
            QVERIFY(f_->controller->statusText().isEmpty());
    }

    // Renamed in place, never over another entry, never out of the directory.
    void renameLocal_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("after"); // entries of the directory afterwards
        QTest::addColumn<bool>("told");         // a message in the status bar
        QTest::newRow("new name") << "b.txt" << QStringList{"b.txt", "taken"} << false;
        QTest::newRow("name with blanks") << "b c" << QStringList{"b c", "taken"} << false;
        QTest::newRow("existing name") << "taken" << QStringList{"a.txt", "taken"} << true;
        QTest::newRow("unchanged") << "a.txt" << QStringList{"a.txt", "taken"} << false;
        QTest::newRow("parent") << ".." << QStringList{"a.txt", "taken"} << true;
        QTest::newRow("path") << "../a.txt" << QStringList{"a.txt", "taken"} << true;
        QTest::newRow("into a directory") << "sub/a.txt" << QStringList{"a.txt", "taken"} << true;
        QTest::newRow("empty") << "" << QStringList{"a.txt", "taken"} << true;
    }
    void renameLocal()
    {
        QFETCH(QString, to);
        QFETCH(QStringList, after);
        QFETCH(bool, told);
        const QString dir = f_->root() + QStringLiteral("/work");
        QVERIFY(QDir(f_->root()).mkpath(QStringLiteral("work")));
        write(dir + QStringLiteral("/a.txt"), "moved");
        write(dir + QStringLiteral("/taken"), "kept");
        build();
        QVERIFY(local().setPath(dir));
        const int column = local().lastVisibleColumn();
        local().selectRow(column, rowNamed(local(), column, QStringLiteral("a.txt")));

        QCOMPARE(renameTo(f_->controller->localEntryActions(), to), QStringLiteral("a.txt"));
        QCOMPARE(QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name), after);
        QCOMPARE(contentOf(dir + QStringLiteral("/taken")), QByteArray("kept"));
        QCOMPARE(contentOf(dir + QLatin1Char('/') + after.constFirst()), QByteArray("moved"));
        QCOMPARE(!f_->controller->statusText().isEmpty(), told);
        QCOMPARE(QFile::exists(f_->root() + QStringLiteral("/a.txt")), false);
        // The column shows the directory as it is now.
        QTRY_VERIFY(rowNamed(local(), column, after.constFirst()) >= 0);
    }

    // Remotely: the name is checked against a fresh listing, then RNFR and RNTO; a
    // refusal is shown and the session goes on.
    void renameRemote_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QByteArray>("refuse"); // a command word and the reply it gets
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QString>("status"); // part of the message shown, empty: none

        QTest::newRow("renamed") << "b.txt" << QByteArray() << QStringList{"RNFR /a.txt", "RNTO /b.txt"} << "";
        QTest::newRow("existing name") << "taken" << QByteArray() << QStringList{} << "already exists";
        QTest::newRow("refused name") << "x/y" << QByteArray() << QStringList{} << "Refused name";
        QTest::newRow("RNTO refused") << "b.txt" << QByteArray("RNTO 553 Not allowed")
                                      << QStringList{"RNFR /a.txt", "RNTO /b.txt"} << "(553)";
        QTest::newRow("RNFR refused") << "b.txt" << QByteArray("RNFR 550 No such file")
                                      << QStringList{"RNFR /a.txt"} << "(550)";
    }
    void renameRemote()
    {
        QFETCH(QString, to);
        QFETCH(QByteArray, refuse);
        QFETCH(QStringList, sent);
        QFETCH(QString, status);
        QMap<QByteArray, QByteArray> replies{{"RNFR", "350 Ready"}};
        if (!refuse.isEmpty())
            replies[refuse.left(4)] = refuse.mid(5);
        const QByteArray listing = "-rw-r--r-- 1 u g 5 Jan  1  2020 a.txt\r\n"
                                   "-rw-r--r-- 1 u g 5 Jan  1  2020 taken\r\n";
        ScriptedFtpServer server(browsingServer({{"/", listing}, {"", listing}}, replies));
        build();
        selectRemote(server, QStringLiteral("a.txt"));

        QCOMPARE(renameTo(f_->controller->remoteEntryActions(), to), QStringLiteral("a.txt"));
        QVERIFY(f_->app.engine->isConnected());
        QCOMPARE(f_->app.disconnects, 0);
        f_->app.engine->shutdown();
        QCOMPARE(commandsSent(server, 0, {"RNFR ", "RNTO "}), sent);
        if (status.isEmpty())
            QVERIFY(f_->controller->statusText().isEmpty());
        else
            QVERIFY2(f_->controller->statusText().contains(status), qPrintable(f_->controller->statusText()));
        QCOMPARE(server.failures(), QStringList());
    }

    // A refusal in the middle of a remote tree stops it there: nothing after it is sent,
    // and the message names the path.
    void remoteDeleteStopsAtRefusal_data()
    {
        QTest::addColumn<QByteArray>("refused"); // the command refused, as sent
        QTest::addColumn<QStringList>("sent");
        QTest::newRow("none") << QByteArray()
                              << QStringList{"DELE //top/a", "DELE //top/in/b", "RMD //top/in", "RMD //top"};
        QTest::newRow("second file") << QByteArray("DELE //top/in/b") << QStringList{"DELE //top/a", "DELE //top/in/b"};
        QTest::newRow("inner folder") << QByteArray("RMD //top/in")
                                      << QStringList{"DELE //top/a", "DELE //top/in/b", "RMD //top/in"};
    }
    void remoteDeleteStopsAtRefusal()
    {
        QFETCH(QByteArray, refused);
        QFETCH(QStringList, sent);
        QMap<QByteArray, QByteArray> replies;
        if (!refused.isEmpty())
            replies[refused] = "550 Permission denied";
        ScriptedFtpServer server(browsingServer(
            {{"/", "drwxr-xr-x 2 u g 0 Jan  1  2020 top\r\n"},
             {"//top", "-rw-r--r-- 1 u g 5 Jan  1  2020 a\r\ndrwxr-xr-x 2 u g 0 Jan  1  2020 in\r\n"},
             {"//top/in", "-rw-r--r-- 1 u g 5 Jan  1  2020 b\r\n"}},
            replies));
        build();
        selectRemote(server, QStringLiteral("top"));
        LogCapture log;
        f_->controller->deleteRemoteFile();
        QTRY_VERIFY(f_->controller->deletion().question());
        QCOMPARE(f_->controller->deletion().question()->text(),
                 QStringLiteral("Delete 'top' and the 2 files and 1 folder in it?"));
        for (QAbstractButton *button : f_->controller->deletion().question()->buttons())
            if (f_->controller->deletion().question()->buttonRole(button) == QMessageBox::DestructiveRole)
                button->click();
        QTRY_VERIFY(!f_->controller->deletion().isBusy());
        f_->app.settle();
        QVERIFY(f_->app.engine->isConnected());
        f_->app.engine->shutdown();
        QCOMPARE(commandsSent(server, 0, {"DELE ", "RMD "}), sent);
        const QString path = QString::fromLatin1(refused.mid(refused.indexOf(' ') + 1));
        QCOMPARE(f_->controller->statusText().contains(QLatin1Char('\'') + path + QLatin1Char('\'')),
                 !refused.isEmpty());
        QCOMPARE(log.contains(QStringLiteral("Commande refusee par le serveur (550) : ")
                              + QString::fromLatin1(refused)),
                 !refused.isEmpty());
        QCOMPARE(server.failures(), QStringList());
    }

    // A listing that fails while the tree is surveyed: nothing is asked, nothing deleted.
    void remoteDeleteListingFails()
    {
        ScriptedFtpServer server(browsingServer({{"/", "drwxr-xr-x 2 u g 0 Jan  1  2020 top\r\n"}},
                                                {{"CWD //top", "550 No access"}}));
        build();
        selectRemote(server, QStringLiteral("top"));
        f_->controller->deleteRemoteFile();
        QTRY_VERIFY(!f_->controller->deletion().isBusy());
        QVERIFY(!f_->controller->deletion().question());
        QVERIFY(f_->controller->statusText().contains(QLatin1String("//top")));
        f_->app.engine->shutdown();
        QCOMPARE(commandsSent(server, 0, {"DELE ", "RMD "}), QStringList());
    }
};

QTEST_MAIN(TestEntryActions)
#include "tst_entryactions.moc"
