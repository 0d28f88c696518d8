// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/AppHarness.h"
#include "support/ShownWindow.h"

#include "model/SiteBook.h"
#include "support/PrivateKeyring.h"
#include "support/RealFtpServer.h"
#include "ui/SiteActions.h"
#include "ui/SiteManager.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QtTest>

using namespace zodaru;
using test::shown;
using test::AppHarness;
using State = MainWindowController::ConnectionState;

namespace {

SiteBook bookIn(const AppHarness &h)
{
    return SiteBook(h.bookmarksFile(), h.settingsFile());
}

} // namespace

class TestSavedSites final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A bus of the test's own, without a keyring: nothing reaches the user's.
    void initTestCase() { QVERIFY2(bus_.startBus(), qPrintable(bus_.errorText())); }

    void connectFromManagerOpensDirectories_data()
    {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("opened"); // the remote path shown once logged in
        QTest::addColumn<bool>("told");      // the user is told the directory was not found
        QTest::newRow("two levels") << "/pub/deep" << "/pub/deep" << false;
        QTest::newRow("one level, trailing slash") << "pub/" << "/pub" << false;
        QTest::newRow("missing") << "/pub/none" << "/pub" << true;
        QTest::newRow("a file") << "/a.txt" << "/" << true;
    }

    void connectFromManagerOpensDirectories()
    {
        QFETCH(QString, remote);
        QFETCH(QString, opened);
        QFETCH(bool, told);
        AppHarness h;
        QVERIFY2(h.serve({{"a.txt", "hello"}, {"pub/deep/z", "z"}}), h.why());
        const QString local = h.home() + QStringLiteral("/here");
        QVERIFY(QDir().mkpath(local));
        {
            SiteBook book = bookIn(h);
            book.setRecords({SiteRecord{QStringLiteral("Test"), h.server.address(), RealFtpServer::user(),
                                        RealFtpServer::password(), remote, local, SiteRecord::PasswordPlace::File}});
            QCOMPARE(book.save(), SiteBook::SaveFailure::None);
        }
        h.launch();
        QVERIFY(h.window().Bookmarks()->isEnabled());
        h.window().Bookmarks()->click();
        SiteManager *manager = h.app().siteActions()->manager();
        QVERIFY(manager && manager->isVisible());
        QCOMPARE(manager->list()->count(), 1);
        manager->connectButton()->click();
        QTRY_COMPARE_WITH_TIMEOUT(h.state(), State::Connected, 30000);

        QTRY_COMPARE_WITH_TIMEOUT(h.remote().pathToColumn(h.remote().lastVisibleColumn()), opened, 30000);
        if (told)
            QTRY_VERIFY(h.controller().statusText().contains(QLatin1String("was not found")));
        QCOMPARE(h.local().pathToColumn(h.local().lastVisibleColumn()), local);
    }

    // A server typed in the dialog is offered for saving once logged in; the next dialog
    // opens on it.
    void typedConnectIsOfferedThenRemembered()
    {
        AppHarness h;
        QVERIFY2(h.launchConnected(), h.why());
        QMessageBox *offer = shown<QMessageBox>("saveSiteQuestion");
        QVERIFY(offer);
        offer->button(QMessageBox::Save)->click();
        // No keyring runs on the test's bus: the user says where the password goes.
        QMessageBox *place = shown<QMessageBox>("passwordPlaceQuestion");
        QVERIFY(place);
        place->buttons().constFirst()->click(); // "Keep in the File"
        QTRY_COMPARE(h.app().bookmarks()->count(), 1);
        QCOMPARE(h.app().bookmarks()->arrayOfSites().first(),
                 (QStringList{h.server.address(), RealFtpServer::user(), RealFtpServer::password()}));

        h.app().disconnectFromFTP();
        h.launch();
        ParametersWindow *dialog = h.pressConnect();
        QVERIFY(dialog);
        QCOMPARE(dialog->getserver(), h.server.address());
        QCOMPARE(dialog->getlogin(), RealFtpServer::user());
        QCOMPARE(dialog->getpassword(), RealFtpServer::password());
    }

private:
    PrivateKeyring bus_;
};

QTEST_MAIN(TestSavedSites)
#include "tst_savedsites.moc"
