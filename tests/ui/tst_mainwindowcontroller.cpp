// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeApp.h"

#include "ui/BrowserSettings.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/Images.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>

#include <QTest>
#include <QToolButton>
#include <QTranslator>

#include <algorithm>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zodaru;
using zodaru::test::browsingServer;
using zodaru::test::commandsSent;
using zodaru::test::FakeApp;
using zodaru::test::linesStarting;
using zodaru::test::remoteSteps;

namespace {

QImage look(const QIcon &icon)
{
    return icon.pixmap(QSize(32, 32)).toImage();
}

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

} // namespace

class TestMainWindowController final : public QObject {
    Q_OBJECT

    // The local browser opens on the working directory: each test works in its own.
    std::unique_ptr<test::ControllerFixture> f_;
    test::TemporaryHome config_{test::TemporaryHome::Scope::ConfigOnly};

    void build() { f_->build(); }
    ColumnBrowser *local() const { return f_->controller->window()->localView(); }

private Q_SLOTS:
    // The View menu's settings live in a private configuration; hidden entries are shown,
    // since these cases select some.
    void initTestCase()
    {
        QVERIFY(config_.isValid());
        BrowserSettings::instance().setShowHidden(true);
    }

    void init()
    {
        f_ = std::make_unique<test::ControllerFixture>();
        QVERIFY(f_->isValid());
    }
    void cleanup() { f_.reset(); }

    void constructionOrderAndInitialLook()
    {
        LogCapture log;
        build();
        QCOMPARE(log.lines(), (QStringList{
            QStringLiteral("on est dans l'init du mainWindowController\n"),
            QStringLiteral("on mets les delegates"),
            QStringLiteral("on mets les delegates A"),
            QStringLiteral("on mets les delegates A2"),
            QStringLiteral("on mets les delegates B"),
            QStringLiteral("on mets les delegates C"),
            QStringLiteral("on mets les delegates D"),
            QStringLiteral("on mets les actions"),
        }));
        MainWindow *w = f_->controller->window();
        QCOMPARE(w->windowTitle(), QStringLiteral("ZIVidur ADE Zodaru"));
        QVERIFY(!w->isVisible());
        QCOMPARE(w->minimumSize(), QSize(400, 400));
        QCOMPARE(w->Connect()->text(), QStringLiteral("Disconnected"));
        QCOMPARE(look(w->Connect()->icon()), look(imageNamed(QStringLiteral("Disconnect.tiff"))));
        QVERIFY(!w->Bookmarks()->isEnabled());
        QVERIFY(!w->Get()->isEnabled());
        QVERIFY(!w->Put()->isEnabled());
        for (QPushButton *b : {w->lmkdir(), w->rmkdir(), w->ldelete(), w->rdelete()})
            QVERIFY(b->isEnabled());
        QCOMPARE(w->Downloads()->model()->rowCount(), 0);
        QCOMPARE(w->Uploads()->model()->rowCount(), 0);
        // Opened on the working directory.
        QCOMPARE(f_->controller->localPath(), f_->root());
    }

    void connectButtonStates_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("image");
        QTest::addColumn<bool>("transfers");
        QTest::addColumn<QString>("connectDoes");

        QTest::newRow("after construction") << QStringList{} << "Disconnected"
                                            << "Disconnect.tiff" << false << "getParametersOfConnection";
        QTest::newRow("dialing") << QStringList{"dialing"} << "Dialing" << "Connect-zoom.tiff"
                                 << false << "getParametersOfConnection";
        QTest::newRow("connected") << QStringList{"dialing", "connected"} << "Connected"
                                   << "Connect.tiff" << true << "disconnectFromFTP";
        QTest::newRow("disconnected again")
            << QStringList{"dialing", "connected", "disconnected"} << "Disconnected"
            << "Disconnect.tiff" << false << "getParametersOfConnection";
        // Dialing only changes the look: a connected session keeps its action and buttons.
        QTest::newRow("dialing while connected") << QStringList{"connected", "dialing"} << "Dialing"
                                                 << "Connect-zoom.tiff" << true << "disconnectFromFTP";
        QTest::newRow("cancelled dialog") << QStringList{"dialing", "disconnected"} << "Disconnected"
                                          << "Disconnect.tiff" << false << "getParametersOfConnection";
        QTest::newRow("connected twice") << QStringList{"connected", "connected"} << "Connected"
                                         << "Connect.tiff" << true << "disconnectFromFTP";
    }

    void connectButtonStates()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, title);
        QFETCH(QString, image);
        QFETCH(bool, transfers);
        QFETCH(QString, connectDoes);

        build();
        for (const QString &step : steps) {
            if (step == QLatin1String("dialing"))
                f_->controller->setDialing();
            else if (step == QLatin1String("connected"))
                f_->controller->setConnected();
            else
                f_->controller->setDisconnected();
        }
        MainWindow *w = f_->controller->window();
        QCOMPARE(w->Connect()->text(), title);
        QCOMPARE(look(w->Connect()->icon()), look(imageNamed(image)));
        QCOMPARE(w->Get()->isEnabled(), transfers);
        QCOMPARE(w->Put()->isEnabled(), transfers);
        QVERIFY(!w->Bookmarks()->isEnabled());

        QTest::mouseClick(w->Connect(), Qt::LeftButton);
        QCOMPARE(f_->app.calls, QStringList{connectDoes});
    }

    // The titles go through the translation of the user's language.
    void frenchTitles_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("title");
        QTest::newRow("dialing") << "dialing" << QStringLiteral("Connexion…");
        QTest::newRow("connected") << "connected" << QStringLiteral("Connecté");
        QTest::newRow("disconnected") << "disconnected" << QStringLiteral("Déconnecté");
    }

    void frenchTitles()
    {
        QFETCH(QString, step);
        QFETCH(QString, title);
        QTranslator french;
        QVERIFY(french.load(QStringLiteral(":/i18n/zodaru_fr.qm")));
        QCoreApplication::installTranslator(&french);
        build();
        if (step == QLatin1String("dialing"))
            f_->controller->setDialing();
        else if (step == QLatin1String("connected"))
            f_->controller->setConnected();
        else
            f_->controller->setDisconnected();
        const QString shown = f_->controller->window()->Connect()->text();
        QCoreApplication::removeTranslator(&french);
        QCOMPARE(shown, title);
    }

    void stateChangesAreLogged_data()
    {
        QTest::addColumn<QString>("step");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("connected") << "connected"
                                   << QStringList{"On entre dans setConnected", "On quitte setConnected"};
        QTest::newRow("disconnected") << "disconnected"
                                      << QStringList{"==> On entre dans setDisconnected",
                                                     "==> On quitte setDisconnected"};
        QTest::newRow("dialing") << "dialing" << QStringList{};
    }

    void stateChangesAreLogged()
    {
        QFETCH(QString, step);
        QFETCH(QStringList, expected);
        build();
        LogCapture log;
        if (step == QLatin1String("connected"))
            f_->controller->setConnected();
        else if (step == QLatin1String("disconnected"))
            f_->controller->setDisconnected();
        else
            f_->controller->setDialing();
        QCOMPARE(log.lines(), expected);
    }

    void transferButtonsReachTheApplication()
    {
        build();
        f_->controller->setConnected();
        MainWindow *w = f_->controller->window();
        QTest::mouseClick(w->Get(), Qt::LeftButton);
        QTest::mouseClick(w->Put(), Qt::LeftButton);
        QTest::mouseClick(w->Bookmarks(), Qt::LeftButton);
        QCOMPARE(f_->app.calls, (QStringList{"getFile", "putFile"}));
    }

    void localPathFollowsTheOpenColumns_data()
    {
        QTest::addColumn<QString>("open");   // relative to the test directory
        QTest::addColumn<QString>("select"); // an entry of the last column, or none
        QTest::addColumn<QString>("expected");

        QTest::newRow("working directory") << "" << "" << "";
        QTest::newRow("one level down") << "a" << "" << "/a";
        QTest::newRow("two levels down") << "a/b" << "" << "/a/b";
        QTest::newRow("file selected") << "a" << "f" << "/a";
        // Selecting a directory opens its listing, which becomes the last column.
        QTest::newRow("directory selected") << "a" << "b" << "/a/b";
    }

    void localPathFollowsTheOpenColumns()
    {
        QFETCH(QString, open);
        QFETCH(QString, select);
        QFETCH(QString, expected);

        QVERIFY(QDir(f_->root()).mkpath(QStringLiteral("a/b")));
        touch(f_->root() + QStringLiteral("/a/f"));
        build();
        const QString target = open.isEmpty() ? f_->root() : f_->root() + QLatin1Char('/') + open;
        QVERIFY(local()->setPath(target));
        if (!select.isEmpty()) {
            const int column = local()->lastVisibleColumn();
            const int row = rowNamed(local(), column, select);
            QVERIFY(row >= 0);
            local()->selectRow(column, row);
        }
        LogCapture log;
        QCOMPARE(f_->controller->localPath(), f_->root() + expected);
        const int depth = int(QString(f_->root() + expected).count(QLatin1Char('/')));
        QCOMPARE(log.lines(), QStringList{QStringLiteral("Lastvisiblecolumn local : %1\n").arg(depth)});
    }

    void remotePathWithoutEngineIsTheRoot()
    {
        build();
        LogCapture log;
        QCOMPARE(f_->controller->remotePath(), QStringLiteral("/"));
        QCOMPARE(f_->controller->remoteViewSelectedCells().size(), 0);
        QCOMPARE(log.lines(), QStringList{QStringLiteral("Lastvisiblecolumn remote : 0\n")});
    }

    // The delete buttons are tested in tst_mainwindowdeletions.

    void refreshLines_data()
    {
        QTest::addColumn<QString>("which");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("local") << "local" << QStringList{"On est dans refreshLocal !", "On quitte refreshLocal !"};
        QTest::newRow("remote") << "remote" << QStringList{"On est dans refreshRemote !", "On quitte refreshRemote !"};
        QTest::newRow("uploads") << "uploads" << QStringList{"RefreshUploadTable()"};
        QTest::newRow("downloads") << "downloads" << QStringList{};
    }

    void refreshLines()
    {
        QFETCH(QString, which);
        QFETCH(QStringList, expected);
        build();
        LogCapture log;
        if (which == QLatin1String("local"))
            f_->controller->refreshLocal();
        else if (which == QLatin1String("remote"))
            f_->controller->refreshRemote();
        else if (which == QLatin1String("uploads"))
            f_->controller->refreshUploadTable();
        else
            f_->controller->refreshDownloadTable();
        // The tables log their own row counts; only this controller's lines count here.
        QStringList own;
        for (const QString &line : log.lines())
            if (line.startsWith(QLatin1String("On est dans refresh"))
                || line.startsWith(QLatin1String("On quitte refresh"))
                || line.startsWith(QLatin1String("RefreshUploadTable")))
                own << line;
        QCOMPARE(own, expected);
    }

    void refreshLocalShowsNewEntries()
    {
        build();
        const int before = local()->rowCount(local()->lastVisibleColumn());
        touch(f_->root() + QStringLiteral("/new"));
        f_->controller->refreshLocal();
        const int column = local()->lastVisibleColumn();
        QCOMPARE(local()->rowCount(column), before + 1);
        QVERIFY(rowNamed(local(), column, QStringLiteral("new")) >= 0);
    }

    // Each finished download asks for a reload; while the queue still has entries to run,
    // the asks fold into one reload once they pause.
    void refreshDuringARun_data()
    {
        QTest::addColumn<QList<bool>>("done"); // the download queue, entry by entry
        QTest::addColumn<bool>("atOnce");
        QTest::newRow("no queue") << QList<bool>{} << true;
        QTest::newRow("last file finished") << QList<bool>{true, true, true} << true;
        QTest::newRow("run goes on") << QList<bool>{true, true, true, false} << false;
    }
    void refreshDuringARun()
    {
        QFETCH(QList<bool>, done);
        QFETCH(bool, atOnce);
        for (bool finished : done) {
            f_->app.downloads.append(File(QStringLiteral("f"), 1, 0));
            if (finished)
                f_->app.downloads.last().setDone();
        }
        build();
        const int column = local()->lastVisibleColumn();
        QAbstractItemView *list = nullptr;
        for (QAbstractItemView *view : local()->findChildren<QAbstractItemView *>())
            list = view->isVisibleTo(local()) ? view : list;
        QVERIFY(list);
        QSignalSpy reloads(list->model(), &QAbstractItemModel::modelReset);
        touch(f_->root() + QStringLiteral("/new"));
        for (int i = 0; i < 3; ++i)
            f_->controller->refreshLocal();
        QCOMPARE(rowNamed(local(), column, QStringLiteral("new")) >= 0, atOnce);
        QTRY_VERIFY(rowNamed(local(), column, QStringLiteral("new")) >= 0);
        QCOMPARE(reloads.size(), atOnce ? 3 : 1);
    }
};

QTEST_MAIN(TestMainWindowController)
#include "tst_mainwindowcontroller.moc"
