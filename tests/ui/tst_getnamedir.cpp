// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeApp.h"

#include "ui/ColumnBrowser.h"
#include "ui/GetNameDirController.h"
#include "ui/GetNameWindow.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <sys/stat.h>

#include <memory>

using namespace zodaru;
using zodaru::test::browsingServer;
using zodaru::test::commandsSent;
using zodaru::test::FakeApp;
using zodaru::test::linesStarting;
using zodaru::test::remoteSteps;

namespace {

QList<GetNameWindow *> openPanels()
{
    QList<GetNameWindow *> panels;
    for (QWidget *w : QApplication::allWidgets())
        if (auto *panel = qobject_cast<GetNameWindow *>(w))
            panels << panel;
    return panels;
}

void flushDeletions()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class TestGetNameDir final : public QObject {
    Q_OBJECT

    // A controller on a FakeApp, in a working directory of its own.
    std::unique_ptr<test::ControllerFixture> f_;

    // A panel opened the way the "<- Make Dir" (local) or remote button opens it.
    GetNameWindow *openPanel(void (MainWindowController::*open)())
    {
        const auto before = openPanels();
        (f_->controller.get()->*open)();
        for (GetNameWindow *panel : openPanels())
            if (!before.contains(panel))
                return panel;
        return nullptr;
    }
    GetNameWindow *openLocalPanel() { return openPanel(&MainWindowController::createLocalDirectory); }
    GetNameWindow *openRemotePanel() { return openPanel(&MainWindowController::createRemoteDirectory); }

private Q_SLOTS:
    void init()
    {
        f_ = std::make_unique<test::ControllerFixture>();
        QVERIFY(f_->isValid());
        f_->build();
    }
    void cleanup() { f_.reset(); }

    void panelLayout()
    {
        GetNameWindow *panel = openLocalPanel();
        QVERIFY(panel);
        QCOMPARE(panel->windowTitle(), QStringLiteral("Create Directory"));
        QVERIFY(!panel->isModal());
        QCOMPARE(panel->size(), QSize(300, 70));
        QCOMPARE(panel->go()->text(), QStringLiteral("Go!"));
        QCOMPARE(panel->cancel()->text(), QStringLiteral("Cancel"));
        // Keyboard loop: name field, "Go!", "Cancel", back to the name field.
        panel->name()->setFocus();
        for (QWidget *next : {static_cast<QWidget *>(panel->go()), static_cast<QWidget *>(panel->cancel()),
                              static_cast<QWidget *>(panel->name())}) {
            QTest::keyClick(panel->focusWidget(), Qt::Key_Tab);
            QCOMPARE(panel->focusWidget(), next);
        }
        QVERIFY(panel->isVisible());
        panel->close();
    }

    void localMakeDirectory_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("umask");
        QTest::addColumn<QString>("created"); // relative path expected to be a new directory
        QTest::addColumn<int>("mode");

        QTest::newRow("plain name") << "fresh" << 022 << "fresh" << 0700;
        // Owner-only whatever the usual mask, and the mask still applies on top.
        QTest::newRow("open umask") << "fresh" << 0 << "fresh" << 0700;
        QTest::newRow("strict umask") << "fresh" << 0277 << "fresh" << 0500;
        QTest::newRow("blanks kept") << " two words " << 022 << " two words " << 0700;
        QTest::newRow("existing name") << "exists" << 022 << "" << 0;
        // Names that are no single new entry of the directory shown: refused, nothing made.
        QTest::newRow("empty name") << "" << 022 << "" << 0;
        QTest::newRow("missing parent") << "none/child" << 022 << "" << 0;
        QTest::newRow("slash inside") << "exists/inner" << 022 << "" << 0;
        QTest::newRow("dot") << "." << 022 << "" << 0;
        QTest::newRow("parent") << ".." << 022 << "" << 0;
        QTest::newRow("parent then name") << "../escape" << 022 << "" << 0;
    }

    void localMakeDirectory()
    {
        QFETCH(QString, name);
        QFETCH(int, umask);
        QFETCH(QString, created);
        QFETCH(int, mode);

        QVERIFY(QDir(f_->root()).mkdir(QStringLiteral("exists")));
        const QStringList before = QDir(f_->root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot
                                                         | QDir::Hidden);
        GetNameWindow *panel = openLocalPanel();
        QVERIFY(panel);
        panel->name()->setText(name);

        LogCapture log;
        const mode_t saved = ::umask(mode_t(umask));
        QTest::mouseClick(panel->go(), Qt::LeftButton);
        ::umask(saved);

        QCOMPARE(linesStarting(log, QStringLiteral("On est dans le makedir")).size(), 1);
        QCOMPARE(linesStarting(log, QStringLiteral("Nom du repertoire : ")),
                 QStringList{QStringLiteral("Nom du repertoire : %1\n").arg(name)});
        const bool refused = !isPlainName(name);
        QCOMPARE(log.contains(QStringLiteral("Nom de fichier refuse : <%1>").arg(name)), refused);
        QCOMPARE(linesStarting(log, QStringLiteral("on veut creer le repertoire ")),
                 refused ? QStringList()
                         : QStringList{QStringLiteral("on veut creer le repertoire %1/%2\n").arg(f_->root(), name)});
        // The listing is refreshed whether or not the directory could be made.
        QCOMPARE(linesStarting(log, QStringLiteral("On est dans refreshLocal !")).size(), refused ? 0 : 1);
        QVERIFY(!panel->isVisible());
        QVERIFY(!QFileInfo::exists(QFileInfo(f_->root()).path() + QStringLiteral("/escape")));

        QStringList after = QDir(f_->root()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
        if (created.isEmpty()) {
            QCOMPARE(after, before);
        } else {
            after.removeOne(created);
            QCOMPARE(after, before);
        }
        if (!created.isEmpty()) {
            struct stat st {};
            QCOMPARE(::stat(QFile::encodeName(f_->root() + QLatin1Char('/') + created).constData(), &st), 0);
            QVERIFY(S_ISDIR(st.st_mode));
            QCOMPARE(int(st.st_mode & 07777), mode);
        }
    }

    // Return presses "Go!", even while "Cancel" has the keyboard.
    void returnPressesGo_data()
    {
        QTest::addColumn<bool>("onCancel");
        QTest::newRow("typed in the name field") << false;
        QTest::newRow("while Cancel has the keyboard") << true;
    }
    void returnPressesGo()
    {
        QFETCH(bool, onCancel);
        GetNameWindow *panel = openLocalPanel();
        QVERIFY(panel);
        QTest::keyClicks(panel->name(), QStringLiteral("typed"));
        QWidget *focus = onCancel ? static_cast<QWidget *>(panel->cancel()) : panel->name();
        focus->setFocus();
        QTest::keyClick(focus, Qt::Key_Return);
        QVERIFY(QFileInfo(f_->root() + QStringLiteral("/typed")).isDir());
        QVERIFY(!panel->isVisible());
    }

    void directoryIsTakenWhenGoIsPressed()
    {
        QVERIFY(QDir(f_->root()).mkdir(QStringLiteral("later")));
        GetNameWindow *panel = openLocalPanel();
        QVERIFY(panel);
        panel->name()->setText(QStringLiteral("made"));
        QVERIFY(f_->controller->window()->localView()->setPath(f_->root() + QStringLiteral("/later")));
        QTest::mouseClick(panel->go(), Qt::LeftButton);
        QVERIFY(QFileInfo(f_->root() + QStringLiteral("/later/made")).isDir());
        QVERIFY(!QFileInfo::exists(f_->root() + QStringLiteral("/made")));
    }

    void remoteWithoutEngineOnlyRefreshes()
    {
        f_->controller->window()->remoteView()->reloadColumn(0);
        GetNameWindow *panel = openRemotePanel();
        QVERIFY(panel);
        panel->name()->setText(QStringLiteral("up"));
        LogCapture log;
        QTest::mouseClick(panel->go(), Qt::LeftButton);
        QCOMPARE(linesStarting(log, QStringLiteral("on envoie au ftp la commande : ")),
                 QStringList{QStringLiteral("on envoie au ftp la commande : MKD //up\n")});
        QCOMPARE(linesStarting(log, QStringLiteral("On est dans refreshRemote !")).size(), 1);
        QVERIFY(!QFileInfo::exists(f_->root() + QStringLiteral("/up")));
    }

    void remoteMakeDirectory_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("open");
        QTest::addColumn<QStringList>("expected"); // listings and MKD lines, in order
        QTest::newRow("at the root") << "new" << "" << QStringList{"ls /", "MKD //new", "ls /"};
        QTest::newRow("blanks kept") << " a b" << "" << QStringList{"ls /", "MKD // a b", "ls /"};
        QTest::newRow("in a subdirectory")
            << "new" << "pub" << QStringList{"ls /", "ls /pub", "MKD /pub/new", "ls /pub"};
        // Refused: nothing is sent and nothing refreshed.
        QTest::newRow("empty name") << "" << "" << QStringList{"ls /"};
        QTest::newRow("parent") << ".." << "pub" << QStringList{"ls /", "ls /pub"};
        QTest::newRow("parent then name") << "../x" << "pub" << QStringList{"ls /", "ls /pub"};
    }

    void remoteMakeDirectory()
    {
        QFETCH(QString, name);
        QFETCH(QString, open);
        QFETCH(QStringList, expected);

        ScriptedFtpServer server(browsingServer({
            {"/", "drwxr-xr-x 2 u g 0 Jan  1  2020 pub\r\n"},
            {"/pub", QByteArray()},
        }));
        f_->app.engine = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("pw"));
        QVERIFY(f_->app.engine->isConnected());
        LogCapture log;
        f_->controller->setConnected();
        f_->app.settle();
        if (!open.isEmpty())
            f_->controller->window()->remoteView()->selectRow(0, 0);
        f_->app.settle();

        GetNameWindow *panel = openRemotePanel();
        QVERIFY(panel);
        panel->name()->setText(name);
        QTest::mouseClick(panel->go(), Qt::LeftButton);
        // A polite end, so the server script ends on QUIT rather than on a dropped line.
        f_->app.engine->shutdown();
        f_->app.engine.reset();

        QCOMPARE(remoteSteps(log, QStringLiteral("on envoie au ftp la commande : ")), expected);
        const QStringList sent = expected.filter(QRegularExpression(QStringLiteral("^MKD ")));
        QCOMPARE(commandsSent(server, 0, {"MKD"}), sent);
        QCOMPARE(log.contains(QStringLiteral("Nom de fichier refuse : <%1>").arg(name)), sent.isEmpty());
        QCOMPARE(server.failures(), QStringList());
    }

    // An open panel needs no owner but itself, and every way of closing it frees it with its
    // controller.
    void panelsLiveUntilClosed_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("close button") << "close";
        QTest::newRow("escape") << "escape";
        QTest::newRow("go") << "go";
    }

    void panelsLiveUntilClosed()
    {
        QFETCH(QString, how);
        QList<QPointer<GetNameWindow>> panels;
        QList<QPointer<GetNameDirController>> controllers;
        for (int i = 0; i < 5; ++i) {
            GetNameWindow *panel = openLocalPanel();
            QVERIFY(panel);
            panels << panel;
            controllers << panel->findChild<GetNameDirController *>();
            QVERIFY(controllers.last());
        }
        // Nothing holds the open panels, and they survive the event loop.
        flushDeletions();
        QCoreApplication::processEvents();
        for (int i = 0; i < panels.size(); ++i) {
            QVERIFY(panels[i]);
            QVERIFY(controllers[i]);
        }
        for (const auto &panel : panels) {
            if (how == QLatin1String("close"))
                panel->close();
            else if (how == QLatin1String("escape"))
                QTest::keyClick(panel->name(), Qt::Key_Escape);
            else
                QTest::mouseClick(panel->go(), Qt::LeftButton);
        }
        flushDeletions();
        for (int i = 0; i < panels.size(); ++i) {
            QVERIFY(!panels[i]);
            QVERIFY(!controllers[i]);
        }
        QCOMPARE(openPanels().size(), 0);
    }

    // Every way of closing the panel but "Go!" makes nothing, locally or on the server.
    void closeMakesNothing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("remote");
        for (const bool remote : {false, true}) {
            const char *side = remote ? "remote" : "local";
            QTest::addRow("%s, close button", side) << "close" << remote;
            QTest::addRow("%s, escape", side) << "escape" << remote;
            QTest::addRow("%s, cancel button", side) << "cancel" << remote;
        }
    }

    void closeMakesNothing()
    {
        QFETCH(QString, how);
        QFETCH(bool, remote);

        ScriptedFtpServer server(browsingServer({{"/", QByteArray()}}));
        if (remote) {
            f_->app.engine = FTP::connectTo(server.address(), QStringLiteral("user"), QStringLiteral("pw"));
            QVERIFY(f_->app.engine->isConnected());
            f_->controller->setConnected();
            f_->app.settle();
        }
        LogCapture log;
        const auto before = openPanels();
        if (remote)
            f_->controller->createRemoteDirectory();
        else
            f_->controller->createLocalDirectory();
        GetNameWindow *panel = nullptr;
        for (GetNameWindow *p : openPanels())
            if (!before.contains(p))
                panel = p;
        QVERIFY(panel);
        QPointer<GetNameWindow> alive(panel);
        QTest::keyClicks(panel->name(), QStringLiteral("never"));
        if (how == QLatin1String("close"))
            panel->close();
        else if (how == QLatin1String("escape"))
            QTest::keyClick(panel->name(), Qt::Key_Escape);
        else
            QTest::mouseClick(panel->cancel(), Qt::LeftButton);
        QVERIFY(!panel->isVisible());
        flushDeletions();
        QVERIFY(!alive);
        f_->app.settle();
        if (f_->app.engine) {
            f_->app.engine->shutdown();
            f_->app.engine.reset();
        }

        QVERIFY(!QFileInfo::exists(f_->root() + QStringLiteral("/never")));
        QCOMPARE(linesStarting(log, QStringLiteral("On est dans le makedir")), QStringList());
        QCOMPARE(linesStarting(log, QStringLiteral("on veut creer le repertoire ")), QStringList());
        QCOMPARE(linesStarting(log, QStringLiteral("on envoie au ftp la commande : ")), QStringList());
        if (remote) {
            QCOMPARE(commandsSent(server, 0, {"MKD"}), QStringList());
            QCOMPARE(server.failures(), QStringList());
        }
    }
};

QTEST_MAIN(TestGetNameDir)
#include "tst_getnamedir.moc"
