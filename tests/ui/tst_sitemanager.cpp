// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeApp.h"
#include "support/Fixtures.h"
#include "support/ShownWindow.h"

#include "model/SiteBook.h"
#include "support/PrivateKeyring.h"
#include "ui/ParametersWindow.h"
#include "ui/ParametersWindowController.h"
#include "ui/SiteActions.h"
#include "ui/SiteManager.h"

#include <QApplication>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace zodaru;
using test::shown;
using test::FakeApp;
using Place = SiteRecord::PasswordPlace;
using Records = QList<SiteRecord>;
Q_DECLARE_METATYPE(SiteRecord)

namespace {

bool anyShown(const char *name)
{
    return test::shownNow(name) != nullptr;
}

QAbstractButton *buttonNamed(QMessageBox *box, const QString &text)
{
    for (QAbstractButton *b : box->buttons())
        if (b->text().remove(QLatin1Char('&')) == text)
            return b;
    return nullptr;
}

// Types into a field and leaves it with Return, as a user does.
void type(QLineEdit *field, const QString &text)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

SiteRecord site(const QString &name, const QString &server, const QString &login, const QString &password,
                Place place = Place::File, const QString &remote = {}, const QString &local = {})
{
    return SiteRecord{name, server, login, password, remote, local, place};
}

} // namespace

class TestSiteManager final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(keyring_.startBus(), qPrintable(keyring_.errorText()));
    }

    void init()
    {
        home_ = std::make_unique<test::TemporaryHome>();
        app_ = std::make_unique<FakeApp>();
    }

    void cleanup()
    {
        actions_.reset();
        app_.reset();
        for (QWidget *w : QApplication::topLevelWidgets())
            w->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        home_.reset();
    }

    void addAndEdit()
    {
        start({});
        SiteManager *m = openManager();
        QCOMPARE(m->list()->count(), 0);
        QVERIFY(!m->connectButton()->isEnabled());
        m->addButton()->click();
        QCOMPARE(m->list()->count(), 1);
        type(m->name(), QStringLiteral("Home"));
        type(m->server(), QStringLiteral("ftpes://127.0.0.1:2121"));
        type(m->login(), QStringLiteral("me"));
        type(m->remoteDirectory(), QStringLiteral("/pub"));
        type(m->localDirectory(), QStringLiteral("/tmp"));
        QCOMPARE(m->list()->item(0)->text(), QStringLiteral("Home"));
        QCOMPARE(saved(), (Records{site("Home", "ftpes://127.0.0.1:2121", "me", "", Place::File, "/pub", "/tmp")}));
        // The application's site list follows.
        QVERIFY(app_->sites);
        QCOMPARE(app_->sites->arrayOfSites(), (QList<QStringList>{{"ftpes://127.0.0.1:2121", "me", ""}}));
        type(m->server(), QStringLiteral("ftp.example"));
        QCOMPARE(saved().value(0).server, QStringLiteral("ftp.example"));
    }

    // A copy keeps its own fields, though it shares the server and login of the original.
    void duplicate()
    {
        start({site("Work", "ftp.example", "me", "pw", Place::File, "/a", "/l")});
        SiteManager *m = openManager();
        m->duplicateButton()->click();
        QCOMPARE(m->list()->count(), 2);
        QCOMPARE(m->list()->currentRow(), 1);
        QCOMPARE(m->name()->text(), QStringLiteral("Work (copy)"));
        type(m->remoteDirectory(), QStringLiteral("/b"));
        QCOMPARE(saved(), (Records{site("Work", "ftp.example", "me", "pw", Place::File, "/a", "/l"),
                                   site("Work (copy)", "ftp.example", "me", "pw", Place::File, "/b", "/l")}));
    }

    // A site file that cannot be read is left as it is, and the manager says so.
    void damagedFileIsReportedAndKept()
    {
        const QString file = home_->bookmarksFile();
        QVERIFY(writeFile(file, "((a, b, c), (broken"));
        start({});
        SiteManager *m = openManager();
        QVERIFY(m->problem()->isVisible());
        QVERIFY(m->problem()->text().contains(file));
        m->addButton()->click();
        type(m->server(), QStringLiteral("ftp.example"));
        QCOMPARE(readFile(file), QByteArray("((a, b, c), (broken"));
        QVERIFY(m->problem()->isVisible());
    }

    void removeAsks_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<int>("left");
        QTest::newRow("cancel") << "Cancel" << 2;
        QTest::newRow("escape") << "Escape" << 2;
        QTest::newRow("return") << "Return" << 2;
        QTest::newRow("remove") << "Remove" << 1;
    }

    void removeAsks()
    {
        QFETCH(QString, answer);
        QFETCH(int, left);
        start({site("A", "a.example", "u", "p"), site("B", "b.example", "u", "p")});
        SiteManager *m = openManager();
        m->list()->setCurrentRow(0);
        m->removeButton()->click();
        QMessageBox *box = shown<QMessageBox>("removeSiteQuestion");
        QVERIFY(box);
        QCOMPARE(box->defaultButton(), box->button(QMessageBox::Cancel));
        QVERIFY(box->text().contains(QLatin1String("\"A\"")));
        if (answer == u"Escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else if (answer == u"Return")
            QTest::keyClick(box, Qt::Key_Return);
        else
            buttonNamed(box, answer)->click();
        QTRY_VERIFY(!anyShown("removeSiteQuestion"));
        QCOMPARE(m->list()->count(), left);
        QCOMPARE(saved().size(), left);
        QCOMPARE(saved().last().name, QStringLiteral("B"));
    }

    void connect_data()
    {
        QTest::addColumn<SiteRecord>("record");
        QTest::addColumn<QString>("typed");     // into the password question; null: none asked
        QTest::addColumn<QStringList>("dialed"); // server, login, password; empty: no connect
        QTest::newRow("password in file") << site("S", "h.example", "u", "pw") << QString()
                                          << QStringList{"h.example", "u", "pw"};
        QTest::newRow("asked each connect") << site("S", "h.example:2121", "u", "", Place::Ask)
                                            << "typed" << QStringList{"h.example:2121", "u", "typed"};
        QTest::newRow("no password") << site("S", "h.example", "u", "") << "t2"
                                     << QStringList{"h.example", "u", "t2"};
        QTest::newRow("question cancelled") << site("S", "h.example", "u", "", Place::Ask) << "" << QStringList{};
        QTest::newRow("keyring without one asks") << site("S", "h.example", "u", "", Place::Keyring) << "t3"
                                                  << QStringList{"h.example", "u", "t3"};
        QTest::newRow("no server named") << site("S", "", "u", "pw") << QString() << QStringList{};
    }

    void connect()
    {
        QFETCH(SiteRecord, record);
        QFETCH(QString, typed);
        QFETCH(QStringList, dialed);
        start({record});
        SiteManager *m = openManager();
        m->connectButton()->click();
        if (!typed.isNull()) {
            QInputDialog *ask = shown<QInputDialog>("passwordQuestion");
            QVERIFY(ask);
            QCOMPARE(ask->textEchoMode(), QLineEdit::Password);
            if (typed.isEmpty()) {
                ask->reject();
            } else {
                ask->setTextValue(typed);
                ask->accept();
            }
        }
        if (dialed.isEmpty()) {
            QTest::qWait(50);
            QVERIFY(app_->connects.isEmpty());
            if (record.server.isEmpty()) {
                QVERIFY(m->isVisible());
                QVERIFY(m->problem()->isVisible());
            }
            return;
        }
        QTRY_COMPARE(app_->connects.size(), 1);
        const auto &c = app_->connects.first();
        QCOMPARE((QStringList{c.server, c.login, c.password}), dialed);
        QVERIFY(!m->isVisible());
        QCOMPARE(actions_->lastSite(), std::nullopt); // only a session that opened counts
    }

    void passwordWithoutKeyring_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<SiteRecord>("expected");
        QTest::newRow("keep in the file") << "Keep in the File" << site("S", "h", "u", "Xq7", Place::File);
        QTest::newRow("ask at each connect") << "Ask at Each Connect" << site("S", "h", "u", "", Place::Ask);
        QTest::newRow("escape") << "Escape" << site("S", "h", "u", "", Place::Ask);
    }

    void passwordWithoutKeyring()
    {
        QFETCH(QString, answer);
        QFETCH(SiteRecord, expected);
        QVERIFY(!PrivateKeyring::keyringRunning());
        start({site("S", "h", "u", "")});
        SiteManager *m = openManager();
        type(m->password(), QStringLiteral("Xq7"));
        QMessageBox *box = shown<QMessageBox>("passwordPlaceQuestion");
        QVERIFY(box);
        if (answer == u"Escape")
            QTest::keyClick(box, Qt::Key_Escape);
        else
            buttonNamed(box, answer)->click();
        QTRY_COMPARE(saved(), Records{expected});
    }

    void offerToSaveOnce_data()
    {
        QTest::addColumn<Records>("before");
        QTest::addColumn<QString>("answer"); // null: not asked
        QTest::addColumn<Records>("after");
        QTest::newRow("saved") << Records{} << "Save"
                               << Records{site("h.example", "h.example", "u", "pw", Place::File)};
        QTest::newRow("not saved") << Records{} << "Discard" << Records{};
        QTest::newRow("already a site") << Records{site("S", "h.example", "u", "")} << QString()
                                        << Records{site("S", "h.example", "u", "")};
    }

    void offerToSaveOnce()
    {
        QFETCH(Records, before);
        QFETCH(QString, answer);
        QFETCH(Records, after);
        start(before);
        const QString server = QStringLiteral("h.example");
        const QString login = QStringLiteral("u");
        // Only a connect typed in the dialog is offered.
        actions_->sessionOpened(server, login, QStringLiteral("pw"));
        QVERIFY(!anyShown("saveSiteQuestion"));
        for (int round = 0; round < 2; ++round) {
            actions_->typedConnect(server, login);
            actions_->sessionOpened(server, login, QStringLiteral("pw"));
            if (round == 1 || answer.isNull()) {
                QTest::qWait(20);
                QVERIFY(!anyShown("saveSiteQuestion"));
                continue;
            }
            QMessageBox *box = shown<QMessageBox>("saveSiteQuestion");
            QVERIFY(box);
            box->button(answer == u"Save" ? QMessageBox::Save : QMessageBox::Discard)->click();
            if (answer == u"Save") {
                QMessageBox *place = shown<QMessageBox>("passwordPlaceQuestion");
                QVERIFY(place);
                buttonNamed(place, QStringLiteral("Keep in the File"))->click();
            }
        }
        QTRY_COMPARE(saved(), after);
        QCOMPARE(actions_->book().settings().lastSite()->server, server);
    }

    // The connection dialog opens on the site used last, its password from the keyring.
    void dialogOpensOnLastSite_data()
    {
        QTest::addColumn<bool>("withKeyring");
        QTest::newRow("password in file") << false;
        QTest::newRow("password in keyring") << true;
    }

    void dialogOpensOnLastSite()
    {
        QFETCH(bool, withKeyring);
        if (withKeyring)
            startKeyring();
        const Place place = withKeyring ? Place::Keyring : Place::File;
        start({site("A", "a.example", "u", "pa"), site("B", "b.example", "v", withKeyring ? "" : "pb", place)});
        if (withKeyring)
            QVERIFY(storeInKeyring("b.example", "v", "pb"));
        {
            ParametersWindowController fresh(*app_);
            QCOMPARE(fresh.window()->getserver(), QString());
        }
        actions_->sessionOpened(QStringLiteral("b.example"), QStringLiteral("v"), QStringLiteral("pb"));
        ParametersWindowController dialog(*app_);
        QCOMPARE(dialog.window()->getserver(), QStringLiteral("b.example"));
        QCOMPARE(dialog.window()->getlogin(), QStringLiteral("v"));
        QTRY_COMPARE(dialog.window()->getpassword(), QStringLiteral("pb"));
    }

    // From here on a keyring runs on the test's bus.
    void passwordGoesToKeyring()
    {
        startKeyring();
        start({site("S", "h.example", "u", "old")});
        SiteManager *m = openManager();
        type(m->password(), QStringLiteral("Xq7-new"));
        QTRY_COMPARE(saved(), Records{site("S", "h.example", "u", "", Place::Keyring)});
        QVERIFY(!anyShown("passwordPlaceQuestion"));
        QCOMPARE(readKeyring("h.example", "u"), QStringLiteral("Xq7-new"));
        QCOMPARE(m->password()->text(), QString());
        // A connect takes it from there.
        m->connectButton()->click();
        QTRY_COMPARE(app_->connects.size(), 1);
        QCOMPARE(app_->connects.first().password, QStringLiteral("Xq7-new"));
    }

    void offerToMoveIntoKeyring()
    {
        startKeyring();
        start({site("A", "a.example", "u", "pa"), site("B", "b.example", "v", "", Place::Ask)});
        actions_->offerKeyringMove();
        QMessageBox *box = shown<QMessageBox>("moveToKeyringQuestion");
        QVERIFY(box);
        box->button(QMessageBox::Yes)->click();
        QTRY_COMPARE(saved(), (Records{site("A", "a.example", "u", "", Place::Keyring),
                                       site("B", "b.example", "v", "", Place::Ask)}));
        QCOMPARE(readKeyring("a.example", "u"), QStringLiteral("pa"));
        // Once only.
        actions_->offerKeyringMove();
        QTest::qWait(50);
        QVERIFY(!anyShown("moveToKeyringQuestion"));
    }

private:
    // Saves the sites, then makes the actions over them as the application does.
    void start(const Records &records)
    {
        const QString file = home_->bookmarksFile();
        const QString settings = home_->settingsFile();
        if (!records.isEmpty()) {
            SiteBook book(file, settings);
            book.setRecords(records);
            QCOMPARE(book.save(), SiteBook::SaveFailure::None);
            app_->sites = std::make_unique<Sites>(Sites::fromEntries(book.entries()));
        }
        actions_ = std::make_unique<SiteActions>(*app_, file, settings, [this](QList<QStringList> entries) {
            app_->sites = std::make_unique<Sites>(Sites::fromEntries(std::move(entries)));
        });
        app_->siteActionsFor = actions_.get();
    }

    SiteManager *openManager()
    {
        actions_->openManager();
        SiteManager *m = actions_->manager();
        return m && QTest::qWaitForWindowExposed(m) ? m : nullptr;
    }

    // What the files hold now, read afresh.
    Records saved() const
    {
        SiteBook book(actions_->book().filePath(), actions_->book().settings().path());
        book.load();
        return book.records();
    }

    void startKeyring()
    {
        if (!PrivateKeyring::keyringRunning())
            QVERIFY2(keyring_.startKeyring(), qPrintable(keyring_.errorText()));
    }

    static bool storeInKeyring(const char *server, const char *login, const char *password)
    {
        PasswordStore store;
        std::optional<PasswordStore::Failure> done;
        store.write(QString::fromUtf8(server), QString::fromUtf8(login), QString::fromUtf8(password), &store,
                    [&](PasswordStore::Failure f) { done = f; });
        return QTest::qWaitFor([&] { return done.has_value(); }, 30000) && *done == PasswordStore::Failure::None;
    }

    static QString readKeyring(const char *server, const char *login)
    {
        PasswordStore store;
        std::optional<QString> got;
        store.read(QString::fromUtf8(server), QString::fromUtf8(login), &store,
                   [&](PasswordStore::Failure, const QString &pw) { got = pw; });
        (void)QTest::qWaitFor([&] { return got.has_value(); }, 30000);
        return got.value_or(QStringLiteral("<no answer>"));
    }

    PrivateKeyring keyring_;
    std::unique_ptr<test::TemporaryHome> home_;
    std::unique_ptr<FakeApp> app_;
    std::unique_ptr<SiteActions> actions_;
};

QTEST_MAIN(TestSiteManager)
#include "tst_sitemanager.moc"
