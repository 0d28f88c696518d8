// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/AppHarness.h"

#include "model/Bookmark.h"
#include "support/TestSupport.h"
#include "model/Sites.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/TransferSettingsDialog.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSpinBox>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

using namespace zodaru;

namespace {

QStringList titles(const QList<QAction *> &actions)
{
    QStringList out;
    for (const QAction *a : actions)
        out << a->text();
    return out;
}

QAction *actionNamed(const QList<QAction *> &actions, const QString &text)
{
    for (QAction *a : actions)
        if (a->text() == text)
            return a;
    return nullptr;
}

} // namespace

class TestStartup final : public QObject {
    Q_OBJECT

    std::unique_ptr<test::AppHarness> h_;

    void launch() { h_->launch(); }
    MyDelegate &app() const { return h_->app(); }
    QMenuBar *menu() const { return h_->window().menuBar(); }

private Q_SLOTS:
    void init()
    {
        h_ = std::make_unique<test::AppHarness>();
        QVERIFY(h_->isValid());
    }
    void cleanup() { h_.reset(); }

    void firstStartWithoutBookmarks()
    {
        LogCapture log;
        launch();
        const QStringList expected{
            "tudieu", "on arrive", "on compte les bookmarks...\n", "on a 0 bookmarks.\n",
            "on compte les bookmarks...\n", "on a 0 bookmarks.\n"};
        QStringList startup;
        for (const QString &line : log.lines())
            if (expected.contains(line))
                startup << line;
        QCOMPARE(startup, expected);

        MainWindow *w = app().window()->window();
        QVERIFY(w->isVisible());
        QCOMPARE(app().window()->connectionState(),
                 MainWindowController::ConnectionState::Disconnected);
        QCOMPARE(w->Connect()->text(), QStringLiteral("Disconnected"));
        QVERIFY(!w->Get()->isEnabled());
        QVERIFY(!w->Put()->isEnabled());
        QVERIFY(app().bookmarks());
        QCOMPARE(app().bookmarks()->count(), 0);
        QVERIFY(app().downloadQueue());
        QVERIFY(app().uploadQueue());
        QCOMPARE(w->Downloads()->model()->rowCount(), 0);
        QCOMPARE(w->Uploads()->model()->rowCount(), 0);
        QVERIFY(!app().ftp());
        // Reading the site list never creates the file.
        QVERIFY(!QFile::exists(h_->bookmarksFile()));
    }

    void savedSitesAreCounted_data()
    {
        QTest::addColumn<int>("sites");
        QTest::newRow("one") << 1;
        QTest::newRow("three") << 3;
    }

    void savedSitesAreCounted()
    {
        QFETCH(int, sites);
        const QString path = h_->bookmarksFile();
        {
            Sites saved = Sites::fromFile(path);
            for (int i = 0; i < sites; ++i)
                saved.addSite(Bookmark(QStringLiteral("ftp%1.example").arg(i), QStringLiteral("me"),
                                       QStringLiteral("secret")));
            QVERIFY(saved.writeFile(path));
        }
        LogCapture log;
        launch();
        QCOMPARE(app().bookmarks()->count(), sites);
        QCOMPARE(log.lines().count(QStringLiteral("on a %1 bookmarks.\n").arg(sites)), 2);
    }

    void mainMenu()
    {
        launch();
        QCOMPARE(titles(menu()->actions()), (QStringList{"Info..", "View", "Transfers...", "Quit"}));
        QAction *info = actionNamed(menu()->actions(), QStringLiteral("Info.."));
        QVERIFY(info->menu());
        QCOMPARE(info->shortcut(), QKeySequence());
        QCOMPARE(titles(info->menu()->actions()), (QStringList{"Info Panel ...", "Help..."}));
        QCOMPARE(actionNamed(info->menu()->actions(), QStringLiteral("Info Panel ..."))->shortcut(),
                 QKeySequence());
        QCOMPARE(actionNamed(info->menu()->actions(), QStringLiteral("Help..."))->shortcut(),
                 QKeySequence(Qt::CTRL | Qt::Key_Question));
        QCOMPARE(actionNamed(menu()->actions(), QStringLiteral("Quit"))->shortcut(),
                 QKeySequence(Qt::CTRL | Qt::Key_Q));
    }

    void panels_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("panel");
        QTest::addColumn<QStringList>("mentions");
        QTest::newRow("info") << "Info Panel ..." << "infoPanel"
                              << QStringList{"Zodaru", QStringLiteral(ZODARU_VERSION)};
        QTest::newRow("help") << "Help..." << "helpPanel" << QStringList{"Connect", "Get files"};
    }

    void panels()
    {
        QFETCH(QString, item);
        QFETCH(QString, panel);
        QFETCH(QStringList, mentions);
        launch();
        QAction *info = actionNamed(menu()->actions(), QStringLiteral("Info.."));
        QAction *action = actionNamed(info->menu()->actions(), item);
        QVERIFY(action);
        action->trigger();
        action->trigger(); // a second time brings the same panel forward
        const auto boxes = app().window()->window()->findChildren<QMessageBox *>(panel);
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes.first()->isVisible());
        QVERIFY(!boxes.first()->isModal());
        for (const QString &word : mentions)
            QVERIFY2(boxes.first()->text().contains(word), qPrintable(word));
        boxes.first()->close();
    }

    // The menu opens one non-modal settings dialog; its OK writes the program's file.
    void transferSettingsFromTheMenu()
    {
        launch();
        QAction *action = actionNamed(menu()->actions(), QStringLiteral("Transfers..."));
        QVERIFY(action);
        action->trigger();
        action->trigger();
        const auto dialogs = app().window()->window()->findChildren<TransferSettingsDialog *>();
        QCOMPARE(dialogs.size(), 1);
        QVERIFY(dialogs.first()->isVisible());
        QVERIFY(!dialogs.first()->isModal());
        dialogs.first()->uploadLimitBox()->setValue(300);
        QTest::mouseClick(dialogs.first()->okButton(), Qt::LeftButton);
        QCOMPARE(TransferSettings::load(h_->settingsFile()).uploadLimit, qint64(300 * 1024));
    }

    void disconnectRemoteEmptiesTheSession()
    {
        launch();
        app().window()->setConnected();
        LogCapture log;
        app().disconnectRemote();
        QCOMPARE(log.lines().first(), QStringLiteral("disconnectRemote"));
        QCOMPARE(app().window()->connectionState(),
                 MainWindowController::ConnectionState::Disconnected);
        QVERIFY(!app().window()->window()->Get()->isEnabled());
        QCOMPARE(app().downloadQueue()->size(), 0);
        QCOMPARE(app().uploadQueue()->size(), 0);
        QVERIFY(log.lines().contains(QStringLiteral("RefreshUploadTable()")));
    }

    // Last: quitting ends every event loop of this process.
    void quitEndsTheEventLoop()
    {
        launch();
        QAction *quit = actionNamed(menu()->actions(), QStringLiteral("Quit"));
        QVERIFY(quit);
        // Quitting ends the application's own event loop, which the test runs here.
        QTimer::singleShot(0, quit, &QAction::trigger);
        // A guard, not a measurement: should quitting fail, the loop still ends.
        QTimer::singleShot(30000, qApp, [] { QCoreApplication::exit(99); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
