// SPDX-License-Identifier: GPL-3.0-or-later
// Rename and delete through the whole program, against pyftpdlib and real local files.
#include "support/AppHarness.h"

#include "ui/BrowserEntryActions.h"
#include "ui/BrowserSettings.h"
#include "ui/EntryDeletion.h"

#include "support/RealFtpServer.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QTest>

#include <optional>

#include <sys/stat.h>
#include <unistd.h>

using namespace zodaru;
using namespace zodaru::test;
using State = MainWindowController::ConnectionState;

namespace {

// A nested tree: an empty directory, a 0-byte file, names with blanks.
const QMap<QString, QByteArray> kTree{
    {"photos/a.jpg", "a"},
    {"photos/empty0", ""},
    {"photos/2020/b c.jpg", "bc"},
    {"photos/2020/deep/d", "d"},
    {"keep.txt", "kept"},
};
const QString kTreeQuestion = QStringLiteral("Delete 'photos' and the 4 files and 3 folders in it?");

bool clickDelete(QMessageBox *box)
{
    for (QAbstractButton *button : box->buttons())
        if (box->buttonRole(button) == QMessageBox::DestructiveRole) {
            button->click();
            return true;
        }
    return false;
}

} // namespace

class TestRenameDelete final : public QObject {
    Q_OBJECT

    std::unique_ptr<AppHarness> h_;
    std::optional<ScopedEnv> data_;

    // The tree on the server, the program connected to it; as the read-only account when
    // `reader`.
    bool startWithTree(bool reader = false)
    {
        if (!h_->serve(kTree) || !QDir(h_->server.rootPath()).mkpath(QStringLiteral("photos/2020/deep/none")))
            return false;
        if (!reader)
            return h_->launchConnected();
        h_->launch();
        return h_->connectThroughDialog(h_->server.address(), RealFtpServer::readerUser(), RealFtpServer::password())
            && h_->state() == State::Connected;
    }
    EntryDeletion &deletion() const { return h_->controller().deletion(); }

private Q_SLOTS:
    void initTestCase() { BrowserSettings::instance().setShowHidden(true); }
    void init()
    {
        h_ = std::make_unique<AppHarness>();
        QVERIFY(h_->isValid());
        // The Trash of the test's own home (Qt needs its data directory to exist; the
        // program makes it).
        data_.emplace("XDG_DATA_HOME", QFile::encodeName(h_->homeFile(QStringLiteral(".local/share"))));
    }
    void cleanup()
    {
        h_.reset();
        data_.reset();
    }

    // The whole tree goes, deepest first; a directory that gained an entry after the
    // question stops the deletion at its RMD, named, and the session goes on.
    void remoteTree_data()
    {
        QTest::addColumn<QStringList>("select");
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("late"); // a file put on the server once the question shows
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("stoppedAt");
        QTest::addColumn<int>("deleted"); // DELE commands

        QTest::newRow("folder") << QStringList{"photos"} << kTreeQuestion << "" << QStringList{"keep.txt"} << "" << 4;
        QTest::newRow("folder and file") << QStringList{"keep.txt", "photos"}
                                         << "Delete these 2 entries and the 4 files and 3 folders in them?" << ""
                                         << QStringList{} << "" << 5;
        // Each folder holds one folder: the order of the commands is known.
        QTest::newRow("refusal in the middle")
            << QStringList{"photos"} << kTreeQuestion << "photos/2020/late.txt"
            << QStringList{"keep.txt", "photos", "photos/2020", "photos/2020/late.txt"} << "//photos/2020" << 4;
    }
    void remoteTree()
    {
        QFETCH(QStringList, select);
        QFETCH(QString, question);
        QFETCH(QString, late);
        QFETCH(QStringList, left);
        QFETCH(QString, stoppedAt);
        QFETCH(int, deleted);
        QVERIFY2(startWithTree(), h_->why());
        QVERIFY(AppHarness::select(h_->remote(), 0, select));

        LogCapture log;
        h_->controller().deleteRemoteFile();
        QTRY_VERIFY(deletion().question());
        QCOMPARE(deletion().question()->text(), question);
        if (!late.isEmpty())
            QVERIFY(h_->server.writeFile(late, "late"));
        QVERIFY(clickDelete(deletion().question()));
        QTRY_VERIFY_WITH_TIMEOUT(!deletion().isBusy(), 30000);

        QStringList found;
        QDirIterator it(h_->server.rootPath(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            found << QDir(h_->server.rootPath()).relativeFilePath(it.next());
        found.sort();
        QCOMPARE(found, left);
        QCOMPARE(h_->state(), State::Connected);
        QCOMPARE(h_->controller().statusText().contains(QLatin1Char('\'') + stoppedAt + QLatin1Char('\'')),
                 !stoppedAt.isEmpty());
        // Every file deleted was logged as the program logs a DELE, and only those.
        QCOMPARE(log.lines().filter(QStringLiteral(" on envoie au ftp la commande : DELE ")).size(), deleted);
        // The browser lists the root again.
        QTRY_COMPARE(AppHarness::names(h_->remote(), 0).contains(QStringLiteral("photos")),
                     left.contains(QStringLiteral("photos")));
    }

    // Local directories go to the desktop's Trash, links in them as links.
    void localTreeToTrash()
    {
        QVERIFY2(h_->serve(), h_->why());
        const QString dir = h_->localDir();
        QVERIFY(QDir(dir).mkpath(QStringLiteral("photos/2020")));
        QVERIFY(QDir(dir).mkpath(QStringLiteral("outside")));
        for (const char *file : {"/outside/keep", "/photos/2020/a"}) {
            QFile made(dir + QLatin1String(file));
            QVERIFY(made.open(QIODevice::WriteOnly));
        }
        QVERIFY(::symlink(QFile::encodeName(dir + QStringLiteral("/outside")).constData(),
                          QFile::encodeName(dir + QStringLiteral("/photos/out")).constData())
                == 0);
        QVERIFY(h_->launchConnected());
        QVERIFY(AppHarness::select(h_->local(), h_->local().lastVisibleColumn(), {"photos"}));

        h_->controller().deleteLocalFile();
        QTRY_VERIFY(deletion().question());
        QCOMPARE(deletion().question()->text(), QStringLiteral("Delete 'photos' and the 2 files and 1 folder in it?"));
        QVERIFY(deletion().question()->informativeText().contains(QLatin1String("Trash")));
        QVERIFY(clickDelete(deletion().question()));
        QTRY_VERIFY(!deletion().isBusy());

        QVERIFY(!QFileInfo::exists(dir + QStringLiteral("/photos")));
        QVERIFY(QFileInfo::exists(dir + QStringLiteral("/outside/keep")));
        const QString trashed = h_->homeFile(QStringLiteral(".local/share/Trash/files/photos"));
        QVERIFY(QFileInfo(trashed + QStringLiteral("/2020/a")).isFile());
        QVERIFY(QFileInfo(trashed + QStringLiteral("/out")).isSymLink());
    }

    // RNFR and RNTO on the real server; a name already there is never replaced.
    void renameRemote_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<bool>("told");
        QTest::addColumn<bool>("reader"); // the read-only account: the server refuses
        QTest::newRow("free name") << "renamed.txt" << QStringList{"photos", "renamed.txt"} << false << false;
        QTest::newRow("folder's name") << "photos" << QStringList{"keep.txt", "photos"} << true << false;
        QTest::newRow("server refuses") << "renamed.txt" << QStringList{"keep.txt", "photos"} << true << true;
    }
    void renameRemote()
    {
        QFETCH(QString, to);
        QFETCH(QStringList, after);
        QFETCH(bool, told);
        QFETCH(bool, reader);
        QVERIFY2(startWithTree(reader), h_->why());
        QVERIFY(AppHarness::select(h_->remote(), 0, {"keep.txt"}));

        h_->controller().remoteEntryActions().askRename();
        auto *dialog = h_->window().findChild<QInputDialog *>();
        QVERIFY(dialog);
        QCOMPARE(dialog->textValue(), QStringLiteral("keep.txt"));
        dialog->setTextValue(to);
        dialog->accept();

        const auto shown = [this] {
            QStringList names = AppHarness::names(h_->remote(), 0);
            names.sort();
            return names;
        };
        // A refusal leaves the names as they were: the message tells when it is over.
        if (told)
            QTRY_VERIFY_WITH_TIMEOUT(!h_->controller().statusText().isEmpty(), 30000);
        QTRY_COMPARE_WITH_TIMEOUT(shown(), after, 30000);
        QCOMPARE(QDir(h_->server.rootPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name), after);
        QCOMPARE(h_->server.readFile(after.contains(QStringLiteral("keep.txt")) ? QStringLiteral("keep.txt")
                                                                               : QStringLiteral("renamed.txt")),
                 QByteArray("kept"));
        QVERIFY(QFileInfo(h_->server.localPath(QStringLiteral("photos"))).isDir());
        QCOMPARE(!h_->controller().statusText().isEmpty(), told);
        QCOMPARE(h_->state(), State::Connected);
    }
};

QTEST_MAIN(TestRenameDelete)
#include "tst_renamedelete.moc"
