// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeApp.h"

#include "base/Log.h"
#include "model/Sites.h"
#include "ui/AppContext.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindow.h"
#include "ui/ParametersWindowController.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <memory>

using namespace zodaru;

namespace {

using test::FakeApp;

using SiteTable = QList<QStringList>;

// A site list as read from a bookmark file holding `entries`.
std::unique_ptr<Sites> makeSites(const SiteTable &entries)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bookmarks.tarvo"));
    Sites writer;
    for (const QStringList &e : entries)
        writer.addSite(Bookmark(e.value(0), e.value(1), e.value(2)));
    if (!writer.writeFile(path))
        return nullptr;
    return std::make_unique<Sites>(path);
}

const SiteTable threeSites = {
    {QStringLiteral("ftp.a.example"), QStringLiteral("alice"), QStringLiteral("Xq7-alice")},
    {QStringLiteral("ftp.b.example"), QStringLiteral("bob"), QStringLiteral("Xq7-bob")},
    {QStringLiteral("ftp.c.example:2121"), QStringLiteral("carol"), QStringLiteral("Xq7-carol")},
};

void deleteDeferred()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Shows the panel and gives it the keyboard, as showWindow() does for a real user.
bool showAndActivate(ParametersWindowController &dialog)
{
    dialog.showWindow();
    return QTest::qWaitForWindowActive(dialog.window());
}

QWidget *focused(ParametersWindow *panel)
{
    QWidget *w = panel->focusWidget();
    // The combo box's line edit stands for the combo box.
    if (w && panel->server()->isAncestorOf(w))
        return panel->server();
    return w;
}

} // namespace

class TestParametersWindow final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        app = std::make_unique<FakeApp>();
        app->sites = makeSites(threeSites);
        QVERIFY(app->sites);
    }
    void cleanup()
    {
        deleteDeferred();
        app.reset();
    }

    void layout_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("text");

        // Qt geometry: y counted from the top of the 120-point-high panel.
        QTest::newRow("server label") << "serverName" << QRect(5, 15, 100, 20) << "Server : ";
        QTest::newRow("login label") << "loginName" << QRect(5, 40, 100, 20) << "Login : ";
        QTest::newRow("password label")
            << "passwordName" << QRect(5, 65, 100, 20) << "Password : ";
        QTest::newRow("go") << "go" << QRect(200, 95, 50, 20) << "Go!";
        QTest::newRow("cancel") << "cancel" << QRect(130, 95, 50, 20) << "Cancel";
        QTest::newRow("server") << "server" << QRect(85, 15, 200, 20) << "";
        QTest::newRow("login") << "login" << QRect(85, 40, 200, 20) << "";
        QTest::newRow("password") << "password" << QRect(85, 65, 200, 20) << "";
    }
    void layout()
    {
        QFETCH(QString, control);
        QFETCH(QRect, geometry);
        QFETCH(QString, text);

        ParametersWindowController dialog(*app);
        ParametersWindow *panel = dialog.window();
        const QHash<QString, QWidget *> controls = {
            {QStringLiteral("serverName"), panel->serverName()},
            {QStringLiteral("loginName"), panel->loginName()},
            {QStringLiteral("passwordName"), panel->passwordName()},
            {QStringLiteral("go"), panel->go()},
            {QStringLiteral("cancel"), panel->cancel()},
            {QStringLiteral("server"), panel->server()},
            {QStringLiteral("login"), panel->login()},
            {QStringLiteral("password"), panel->password()},
        };
        QWidget *w = controls.value(control);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        if (auto *label = qobject_cast<QLabel *>(w))
            QCOMPARE(label->text(), text);
        else if (auto *button = qobject_cast<QPushButton *>(w))
            QCOMPARE(button->text(), text);
    }

    void panel()
    {
        ParametersWindowController dialog(*app);
        ParametersWindow *panel = dialog.window();
        QCOMPARE(panel->windowTitle(), QStringLiteral("Parametres..."));
        QCOMPARE(panel->size(), QSize(300, 120));
        QCOMPARE(panel->minimumSize(), panel->maximumSize());
        QVERIFY(!panel->isModal());
        QVERIFY(panel->server()->isEditable());
        QCOMPARE(panel->password()->echoMode(), QLineEdit::Password);
        QCOMPARE(panel->login()->echoMode(), QLineEdit::Normal);
        QVERIFY(panel->go()->isDefault());

        // Each label is stacked above its field, so its text shows over the field's edge.
        const QObjectList children = panel->children();
        QVERIFY(children.indexOf(panel->serverName()) > children.indexOf(panel->server()));
        QVERIFY(children.indexOf(panel->loginName()) > children.indexOf(panel->login()));
        QVERIFY(children.indexOf(panel->passwordName()) > children.indexOf(panel->password()));
    }

    void tabOrder_data()
    {
        QTest::addColumn<Qt::Key>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("forward") << Qt::Key_Tab << Qt::KeyboardModifiers(Qt::NoModifier)
                                 << QStringList{"login", "password", "cancel", "go", "server"};
        QTest::newRow("backward") << Qt::Key_Backtab << Qt::KeyboardModifiers(Qt::ShiftModifier)
                                  << QStringList{"go", "cancel", "password", "login", "server"};
    }
    void tabOrder()
    {
        QFETCH(Qt::Key, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(QStringList, expected);

        ParametersWindowController dialog(*app);
        ParametersWindow *panel = dialog.window();
        QVERIFY(showAndActivate(dialog));
        QCOMPARE(focused(panel), panel->server());
        const QHash<QWidget *, QString> names = {
            {panel->server(), QStringLiteral("server")},
            {panel->login(), QStringLiteral("login")},
            {panel->password(), QStringLiteral("password")},
            {panel->cancel(), QStringLiteral("cancel")},
            {panel->go(), QStringLiteral("go")},
        };
        QStringList seen;
        for (qsizetype i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), key, modifiers);
            seen << names.value(focused(panel), QStringLiteral("?"));
        }
        QCOMPARE(seen, expected);
    }

    void returnPressesGo_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<QString>("server");

        // A server typed to match a saved site must not bring that site's credentials in
        // over the ones typed.
        for (const QString &server : {QStringLiteral("10.0.0.9"), QStringLiteral("ftp.b.example")})
            for (const char *focus : {"server", "login", "password", "cancel"})
                QTest::addRow("%s, %s", focus, qPrintable(server)) << focus << server;
    }
    void returnPressesGo()
    {
        QFETCH(QString, focus);
        QFETCH(QString, server);

        ParametersWindowController dialog(*app);
        ParametersWindow *panel = dialog.window();
        QVERIFY(showAndActivate(dialog));
        QTest::keyClicks(panel->server(), server);
        QTest::keyClicks(panel->login(), QStringLiteral("me"));
        QTest::keyClicks(panel->password(), QStringLiteral("s3cret"));
        const QHash<QString, QWidget *> targets = {
            {QStringLiteral("server"), panel->server()},
            {QStringLiteral("login"), panel->login()},
            {QStringLiteral("password"), panel->password()},
            {QStringLiteral("cancel"), panel->cancel()},
        };
        QWidget *target = targets.value(focus);
        target->setFocus();
        QCOMPARE(focused(panel), target);

        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);

        QCOMPARE(app->connects.size(), 1);
        QCOMPARE(app->connects[0].server, server);
        QCOMPARE(app->connects[0].login, QStringLiteral("me"));
        QCOMPARE(app->connects[0].password, QStringLiteral("s3cret"));
        QVERIFY(!panel->isVisible());
    }

    void goLogsWithoutPassword_data()
    {
        QTest::addColumn<QString>("password");
        QTest::newRow("typed") << "hunter2";
        QTest::newRow("empty") << "";
        QTest::newRow("looks like a placeholder") << "%@";
    }
    void goLogsWithoutPassword()
    {
        QFETCH(QString, password);

        ParametersWindowController dialog(*app);
        ParametersWindow *panel = dialog.window();
        dialog.showWindow();
        panel->server()->setEditText(QStringLiteral("127.0.0.1:2121"));
        panel->login()->setText(QStringLiteral("demo"));
        panel->password()->setText(password);

        LogCapture log;
        QTest::mouseClick(panel->go(), Qt::LeftButton);

        QCOMPARE(log.lines(),
                 QStringList({QStringLiteral("On est dans le connect ... \n"),
                              QStringLiteral("Login : demo Password **** sur le serveur : "
                                             "127.0.0.1:2121\n")}));
        QCOMPARE(app->connects.size(), 1);
        QCOMPARE(app->connects[0].server, QStringLiteral("127.0.0.1:2121"));
        QCOMPARE(app->connects[0].login, QStringLiteral("demo"));
        QCOMPARE(app->connects[0].password, password);
        QVERIFY(!panel->isVisible());
    }

    void cancelClosesWithoutConnecting()
    {
        ParametersWindowController dialog(*app);
        ParametersWindow *panel = dialog.window();
        dialog.showWindow();
        panel->server()->setEditText(QStringLiteral("ftp.a.example"));

        LogCapture log;
        QTest::mouseClick(panel->cancel(), Qt::LeftButton);

        QCOMPARE(log.lines(), QStringList{QStringLiteral("On est dans le cancel... \n")});
        QVERIFY(app->connects.isEmpty());
        QVERIFY(!panel->isVisible());
    }

    void cancelShowsDisconnected_data()
    {
        QTest::addColumn<int>("before");
        QTest::newRow("dialing") << int(MainWindowController::ConnectionState::Dialing);
        QTest::newRow("connected") << int(MainWindowController::ConnectionState::Connected);
    }
    void cancelShowsDisconnected()
    {
        QFETCH(int, before);

        MainWindowController main(*app);
        app->controller = &main;
        if (before == int(MainWindowController::ConnectionState::Connected))
            main.setConnected();
        else
            main.setDialing();
        QCOMPARE(int(main.connectionState()), before);

        ParametersWindowController dialog(*app);
        dialog.showWindow();
        QTest::mouseClick(dialog.window()->cancel(), Qt::LeftButton);

        QCOMPARE(main.connectionState(), MainWindowController::ConnectionState::Disconnected);
        QVERIFY(app->connects.isEmpty());
        app->controller = nullptr;
    }

    void serverList_data()
    {
        QTest::addColumn<SiteTable>("entries");
        QTest::newRow("no sites") << SiteTable{};
        QTest::newRow("three sites") << threeSites;
    }
    void serverList()
    {
        QFETCH(SiteTable, entries);
        app->sites = makeSites(entries);
        QVERIFY(app->sites);

        LogCapture log;
        ParametersWindowController dialog(*app);
        QComboBox *server = dialog.window()->server();

        QStringList items;
        for (int i = 0; i < server->count(); ++i)
            items << server->itemText(i);
        QStringList servers;
        for (const QStringList &e : entries)
            servers << e.value(0);
        QCOMPARE(items, servers);
        // The field starts empty: the saved sites are only offered.
        QCOMPARE(dialog.window()->getserver(), QString());
        QCOMPARE(dialog.sites().count(), entries.size());

        QStringList expected = {
            QStringLiteral("Count externe du bookmark : \n"),
            QStringLiteral("count: %1\n").arg(entries.size()),
            QStringLiteral("numberOfItemsInComboBox ...\n"),
            QStringLiteral("on a %1 ").arg(entries.size()),
        };
        for (qsizetype i = 0; i < entries.size(); ++i)
            expected << QStringLiteral("comboBox:objectValueForItemAtIndex:%1\n").arg(i);
        QCOMPARE(log.lines(), expected);
    }

    void withoutSiteList()
    {
        app->sites.reset();
        ParametersWindowController dialog(*app);
        QCOMPARE(dialog.window()->server()->count(), 0);
        QCOMPARE(dialog.sites().count(), 0);
    }

    void choosingSiteFillsFields_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("index");
        QTest::newRow("first from the list") << "popup" << 0;
        QTest::newRow("last from the list") << "popup" << 2;
        QTest::newRow("arrow key") << "key" << 0;
    }
    void choosingSiteFillsFields()
    {
        QFETCH(QString, how);
        QFETCH(int, index);

        ParametersWindowController dialog(*app);
        ParametersWindow *panel = dialog.window();
        QVERIFY(showAndActivate(dialog));
        panel->login()->setText(QStringLiteral("typed"));
        panel->password()->setText(QStringLiteral("typed"));

        LogCapture log;
        QComboBox *server = panel->server();
        if (how == QLatin1String("popup")) {
            server->showPopup();
            QAbstractItemView *view = server->view();
            QVERIFY(QTest::qWaitForWindowExposed(view->window()));
            const QRect cell = view->visualRect(view->model()->index(index, 0));
            QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        } else {
            QTest::keyClick(server, Qt::Key_Down);
        }

        const QStringList &site = threeSites.at(index);
        QCOMPARE(panel->getserver(), site.value(0));
        QCOMPARE(panel->getlogin(), site.value(1));
        QCOMPARE(panel->getpassword(), site.value(2));
        const QStringList fills = log.lines().filter(QStringLiteral("on mets login"));
        QCOMPARE(fills, QStringList{QStringLiteral("on mets login : %1 password : ****\n")
                                        .arg(site.value(1))});
        for (const QString &line : log.lines())
            QVERIFY2(!line.contains(site.value(2)), qPrintable(line));

        QTest::mouseClick(panel->go(), Qt::LeftButton);
        QCOMPARE(app->connects.size(), 1);
        QCOMPARE(app->connects[0].login, site.value(1));
        QCOMPARE(app->connects[0].password, site.value(2));
    }

    void typingInServerField_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<int>("changes");
        QTest::newRow("one key") << "x" << 1;
        QTest::newRow("an address") << "127.0.0.1" << 9;
    }
    void typingInServerField()
    {
        QFETCH(QString, typed);
        QFETCH(int, changes);

        app->sites = makeSites({});
        ParametersWindowController dialog(*app);
        ParametersWindow *panel = dialog.window();
        QVERIFY(showAndActivate(dialog));

        LogCapture log;
        QTest::keyClicks(QApplication::focusWidget(), typed);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);

        QStringList expected = {QStringLiteral("control text should begin editing \n"),
                                QStringLiteral("control test did begin editing... \n")};
        for (int i = 0; i < changes; ++i)
            expected << QStringLiteral("control le Texte a chang");
        expected << QStringLiteral("control test did end editing... \n");
        QCOMPARE(log.lines(), expected);
        QCOMPARE(panel->getserver(), typed);
    }

    void lifetime_data()
    {
        QTest::addColumn<QString>("scenario");
        QTest::newRow("dropped while open") << "open";
        QTest::newRow("dropped after its close button") << "closed";
        QTest::newRow("dropped by the connection it starts") << "go";
        QTest::newRow("replaced by the connection it starts") << "go-replace";
    }
    void lifetime()
    {
        QFETCH(QString, scenario);

        auto dialog = std::make_shared<ParametersWindowController>(*app);
        const QPointer<ParametersWindow> panel = dialog->window();
        dialog->showWindow();
        dialog->window()->login()->setText(QStringLiteral("me"));

        if (scenario == QLatin1String("open")) {
            dialog.reset();
        } else if (scenario == QLatin1String("closed")) {
            panel->close();
            QVERIFY(app->connects.isEmpty());
            dialog.reset();
        } else {
            const bool replace = scenario == QLatin1String("go-replace");
            app->onConnect = [&] {
                if (replace) {
                    dialog = std::make_shared<ParametersWindowController>(*app);
                    dialog->showWindow();
                } else {
                    dialog.reset();
                }
            };
            QTest::mouseClick(panel->go(), Qt::LeftButton);
            app->onConnect = nullptr;
            QCOMPARE(app->connects.size(), 1);
            QCOMPARE(app->connects[0].login, QStringLiteral("me"));
        }
        QVERIFY(!panel || !panel->isVisible());
        deleteDeferred();
        QVERIFY(panel.isNull());
        if (dialog) {
            QVERIFY(dialog->window()->isVisible());
            QCOMPARE(dialog->window()->getlogin(), QString());
        }
    }

private:
    std::unique_ptr<FakeApp> app;
};

QTEST_MAIN(TestParametersWindow)
#include "tst_parameterswindow.moc"
