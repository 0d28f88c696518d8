// SPDX-License-Identifier: GPL-3.0-or-later
// The download and upload queues driven through the main window's Get and Put buttons,
// with real files, against pyftpdlib and the scripted server.
#include "support/AppHarness.h"

#include "base/ByteNames.h"
#include "ftp/FTP.h"
#include "ui/BrowserSettings.h"
#include "support/FakeApp.h"
#include "ui/TransferStatusDelegate.h"

#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestSupport.h"

#include <QAbstractItemModel>
#include <QDir>
#include <QLabel>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace zodaru;
using namespace zodaru::test;
using State = MainWindowController::ConnectionState;

namespace {

QList<qint64> sizesOf(const QVariantList &list)
{
    QList<qint64> out;
    for (const QVariant &v : list)
        out << v.toLongLong();
    return out;
}

QStringList statuses(const QList<File> &queue)
{
    QStringList out;
    for (const File &f : queue)
        out << f.getStatus();
    return out;
}

// The entry of `queue` named `name`; the queue follows the browser's row order.
File entryNamed(const QList<File> &queue, const QString &name)
{
    for (const File &f : queue)
        if (f.name() == name)
            return f;
    return File();
}

// The passes over the download queue as the log tells them, each from the queue's first
// entry on: "status name" of every entry a pass named.
QList<QStringList> downloadPasses(const QStringList &lines, const QString &firstName)
{
    static const QRegularExpression line(QStringLiteral("^DOWNLOADFILES : \\[(.*)\\] <(.*)> de <.*> a <.*>$"));
    QList<QStringList> passes;
    for (const QString &text : lines) {
        const auto match = line.match(text);
        if (!match.hasMatch())
            continue;
        if (match.captured(2) == firstName)
            passes.append(QStringList());
        passes.last().append(match.captured(1) + QLatin1Char(' ') + match.captured(2));
    }
    return passes;
}

QStringList repeated(const QString &text, qsizetype count)
{
    QStringList out;
    for (qsizetype i = 0; i < count; ++i)
        out << text;
    return out;
}

// Lists `listing` for every path and answers each RETR with `content` and `finalReply`.
ScriptedFtpServer::Script fileServer(QByteArray listing, QByteArray content, QByteArray finalReply)
{
    return [=](ScriptedFtpServer::Session &s) {
        s.greetAndLogin();
        for (;;) {
            const QByteArray line = s.readLine();
            if (line == "PASV") {
                s.line(s.openPassive());
            } else if (line.startsWith("LIST")) {
                s.sendReply("150 Here it comes", listing, "226 Done");
            } else if (line.startsWith("RETR ")) {
                s.sendReply("150 Sending", content, finalReply);
                // After a failed transfer this server ends the session.
                if (finalReply.at(0) >= '4')
                    return;
            } else if (line == "QUIT") {
                s.line("221 Bye");
                return;
            } else {
                s.line("200 OK");
            }
        }
    };
}

} // namespace

class TestTransferQueues final : public QObject {
    Q_OBJECT

    // The program in a home of its own, with a local directory and a real server beside it.
    std::unique_ptr<AppHarness> h_;

    QString local(const QString &name) const { return h_->localFile(name); }
    const QList<File> &downloads() const { return h_->downloads(); }
    const QList<File> &uploads() const { return h_->uploads(); }

private Q_SLOTS:
    void init()
    {
        h_ = std::make_unique<AppHarness>();
        QVERIFY(h_->isValid());
        // One transfer at a time per direction: what each case checks in order.
        QVERIFY(h_->useConnections(1));
    }
    void cleanup()
    {
        // Let running workers finish before their servers go.
        if (h_->isLaunched())
            QTRY_VERIFY_WITH_TIMEOUT(!h_->downloadEngine() || !h_->downloadEngine()->isTransferring(), 60000);
        h_.reset();
    }

    // A file changed after its column was listed goes up as it is when opened, and its row
    // counts against that size.
    void uploadOfAFileChangedSinceListed_data()
    {
        QTest::addColumn<int>("listed");
        QTest::addColumn<int>("opened");
        QTest::newRow("grown") << 30 << 100030;
        QTest::newRow("shrunk") << 100030 << 70;
    }
    void uploadOfAFileChangedSinceListed()
    {
        QFETCH(int, listed);
        QFETCH(int, opened);
        QVERIFY(writeFile(local("g"), patternBytes(listed, 2)));
        QVERIFY2(h_->launchConnected(), h_->why());
        h_->controller().refreshLocal();
        const int localColumn = h_->local().lastVisibleColumn();
        QVERIFY(writeFile(local("g"), patternBytes(opened, 3)));
        QVERIFY(AppHarness::select(h_->local(), localColumn, {"g"}));
        QCOMPARE(uploads().size(), 0);
        h_->window().Put()->click();
        QCOMPARE(uploads()[0].size(), qint64(listed));

        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(uploads()), 30000);
        QCOMPARE(h_->server.readFile("g"), patternBytes(opened, 3));
        QCOMPARE(uploads()[0].size(), qint64(opened));
        QCOMPARE(uploads()[0].getStatus(), QStringLiteral("Done."));
        QCOMPARE(h_->window().Uploads()->model()->index(0, 2).data().toString(), QStringLiteral("Done."));
    }

    void statusColumnDrawsProgress()
    {
        AppHarness h;
        h.launch();
        QVERIFY(qobject_cast<TransferStatusDelegate *>(h.window().Downloads()->itemDelegate()));
        QVERIFY(qobject_cast<TransferStatusDelegate *>(h.window().Uploads()->itemDelegate()));
    }

    void getRunsOneFileAtATime_data()
    {
        QTest::addColumn<QVariantList>("sizes");
        QTest::newRow("three files") << QVariantList{40000, 16384, 100};
        QTest::newRow("an empty file first") << QVariantList{0, 70000};
        QTest::newRow("one file of several chunks") << QVariantList{5 * 16384 + 3};
    }
    void getRunsOneFileAtATime()
    {
        QFETCH(QVariantList, sizes);
        const QList<qint64> lengths = sizesOf(sizes);
        QStringList names;
        for (int i = 0; i < lengths.size(); ++i) {
            names << QStringLiteral("f%1").arg(i);
            QVERIFY(h_->server.writeFile(names.last(), patternBytes(lengths[i], quint32(i + 1))));
        }
        QVERIFY2(h_->launchConnected(), h_->why());
        QVERIFY(AppHarness::select(h_->remote(), 0, names));
        QSignalSpy changed(h_->window().Downloads()->model(), &QAbstractItemModel::dataChanged);
        LogCapture log;
        h_->window().Get()->click();

        // Only the first one runs; the others wait for its completion.
        QCOMPARE(downloads().size(), lengths.size());
        QVERIFY(downloads()[0].isCurrent());
        for (int i = 1; i < lengths.size(); ++i)
            QCOMPARE(downloads()[i].getStatus(), QStringLiteral("Waiting..."));
        const QString first = downloads()[0].name();
        QVERIFY(log.contains(QStringLiteral("DOWNLOAD fichier path : //%1 dans : %2").arg(first, local(first))));
        QCOMPARE(log.lines().filter(QRegularExpression("^DOWNLOAD fichier path")).size(), 1);
        QCOMPARE(h_->window().Downloads()->model()->rowCount(), lengths.size());

        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(downloads()), 30000);
        QCOMPARE(statuses(downloads()), repeated("Done.", lengths.size()));
        for (int i = 0; i < lengths.size(); ++i) {
            // IDs are given from 1 on, in the order queued.
            QCOMPARE(downloads()[i].getID(), i + 1);
            const File entry = entryNamed(downloads(), names[i]);
            QCOMPARE(entry.localpath(), h_->localDir());
            QCOMPARE(entry.remotepath(), QStringLiteral("/"));
            QCOMPARE(entry.currentsize(), lengths[i]);
            QCOMPARE(readFile(local(names[i])), patternBytes(lengths[i], quint32(i + 1)));
        }
        QCOMPARE(log.count(QStringLiteral("Notification de fichier sauvegarde !")), lengths.size());
        // Every pass names the finished entries from the first on, then the one it starts.
        const QList<QStringList> passes = downloadPasses(log.lines(), downloads()[0].name());
        QVERIFY(passes.size() > lengths.size());
        for (const QStringList &pass : passes) {
            for (int i = 0; i < pass.size(); ++i) {
                QVERIFY2(pass[i].endsWith(QLatin1Char(' ') + downloads()[i].name()), qPrintable(pass.join('|')));
                QVERIFY2(i + 1 == pass.size() || pass[i].startsWith(QLatin1String("Done. ")), qPrintable(pass.join('|')));
            }
        }
        QStringList allDone;
        for (const File &entry : downloads())
            allDone << QStringLiteral("Done. ") + entry.name();
        QCOMPARE(passes.last(), allDone);
        // A running transfer repaints its own row only.
        for (const QList<QVariant> &args : changed) {
            const auto from = args.at(0).value<QModelIndex>();
            const auto to = args.at(1).value<QModelIndex>();
            QCOMPARE(from.row(), to.row());
        }
        // The new files show in the local browser.
        QStringList shown = AppHarness::names(h_->local(), h_->local().lastVisibleColumn());
        for (const QString &name : names)
            QVERIFY(shown.contains(name));
    }

    void putRunsOneFileAtATime_data()
    {
        QTest::addColumn<QString>("remoteDir");
        QTest::addColumn<QVariantList>("sizes");
        QTest::newRow("into a directory") << "up" << QVariantList{40000, 0, 32768};
        QTest::newRow("into the root") << "" << QVariantList{100, 16384 * 2 + 100};
    }
    void putRunsOneFileAtATime()
    {
        QFETCH(QString, remoteDir);
        QFETCH(QVariantList, sizes);
        const QList<qint64> lengths = sizesOf(sizes);
        QStringList names;
        for (int i = 0; i < lengths.size(); ++i) {
            names << QStringLiteral("u%1").arg(i);
            QVERIFY(writeFile(local(names.last()), patternBytes(lengths[i], quint32(i + 7))));
        }
        QVERIFY(QDir(h_->server.rootPath()).mkdir("up"));
        QVERIFY2(h_->launchConnected(), h_->why());
        // Re-read the local column: the files were made after it was first listed.
        h_->controller().refreshLocal();
        const int localColumn = h_->local().lastVisibleColumn();
        if (!remoteDir.isEmpty())
            QVERIFY(AppHarness::select(h_->remote(), 0, {remoteDir}));
        QVERIFY(AppHarness::select(h_->local(), localColumn, names));
        LogCapture log;
        h_->window().Put()->click();

        const QString target = remoteDir.isEmpty() ? QStringLiteral("/") : "/" + remoteDir;
        QCOMPARE(uploads().size(), lengths.size());
        QVERIFY(uploads()[0].isCurrent());
        for (int i = 1; i < lengths.size(); ++i)
            QVERIFY(!uploads()[i].isCurrent());
        const QString first = uploads()[0].name();
        QVERIFY(log.contains(QStringLiteral("UPLOAD fichier path : %1 vers : %2/%3 ")
                                 .arg(local(first), target, first)));

        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(uploads()), 30000);
        QCOMPARE(statuses(uploads()), repeated("Done.", lengths.size()));
        for (int i = 0; i < lengths.size(); ++i) {
            const File entry = entryNamed(uploads(), names[i]);
            QCOMPARE(entry.remotepath(), target);
            QCOMPARE(entry.localpath(), h_->localDir());
            QCOMPARE(entry.currentsize(), lengths[i]);
            const QString stored = remoteDir.isEmpty() ? names[i] : remoteDir + "/" + names[i];
            QCOMPARE(h_->server.readFile(stored), patternBytes(lengths[i], quint32(i + 7)));
        }
        QCOMPARE(log.count(QStringLiteral("Notification de fichier envoye !")), lengths.size());
    }

    void moreFilesQueuedWhileOneRuns()
    {
        const QByteArray big = patternBytes(8 << 20, 9);
        QVERIFY(h_->server.writeFile("big", big));
        QVERIFY(h_->server.writeFile("a", "aaa"));
        QVERIFY(h_->server.writeFile("b", "bbbb"));
        QVERIFY2(h_->launchConnected(), h_->why());
        QVERIFY(AppHarness::select(h_->remote(), 0, {"big"}));
        h_->window().Get()->click();
        QVERIFY(AppHarness::select(h_->remote(), 0, {"a", "b"}));
        LogCapture log;
        h_->window().Get()->click();

        // Nothing new starts: the new entries wait behind the running one.
        QVERIFY(!log.containsPrefix(QStringLiteral("DOWNLOAD fichier path")));
        QCOMPARE(downloads().size(), 3);
        QVERIFY(downloads()[0].isCurrent());
        QCOMPARE(downloads()[1].getID(), 2);
        QCOMPARE(downloads()[2].getID(), 3);
        QVERIFY(!downloads()[1].isCurrent() && !downloads()[2].isCurrent());

        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(downloads()), 60000);
        QCOMPARE(statuses(downloads()), repeated("Done.", 3));
        QCOMPARE(readFile(local("big")), big);
        QCOMPARE(readFile(local("b")), QByteArray("bbbb"));
    }

    // The queue changed while its first entry runs: the transfers' ends find their entries
    // by ID wherever they went.
    void queueChangedWhileOneRuns_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QStringList>("order");   // the names as the queue ends
        QTest::addColumn<QStringList>("started"); // the names in the order they started
        QTest::newRow("the last moved up") << "move" << QStringList{"big", "b", "a"} << QStringList{"big", "b", "a"};
        QTest::newRow("the running one removed") << "remove" << QStringList{"a", "b"} << QStringList{"big", "a", "b"};
        QTest::newRow("paused, then resumed") << "pause" << QStringList{"big", "a", "b"}
                                              << QStringList{"big", "a", "b"};
    }
    void queueChangedWhileOneRuns()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, order);
        QFETCH(QStringList, started);
        const QByteArray big = patternBytes(8 << 20, 5);
        QVERIFY(h_->server.writeFile("big", big));
        QVERIFY(h_->server.writeFile("a", "aaa"));
        QVERIFY(h_->server.writeFile("b", "bbbb"));
        QVERIFY2(h_->launchConnected(), h_->why());
        LogCapture log;
        QVERIFY(AppHarness::select(h_->remote(), 0, {"big"}));
        h_->window().Get()->click();
        QVERIFY(AppHarness::select(h_->remote(), 0, {"a", "b"}));
        h_->window().Get()->click();
        QVERIFY(downloads()[0].isCurrent());
        const auto download = AppContext::Direction::Download;
        if (change == u"move") {
            QCOMPARE(h_->app().moveTransfers(download, {2}, 1), 1);
        } else if (change == u"remove") {
            h_->app().removeTransfers(download, {0});
        } else {
            h_->app().setTransfersPaused(download, true);
            // The running one goes on to its end; its end starts nothing.
            QTRY_VERIFY_WITH_TIMEOUT(downloads()[0].isFinished(), 60000);
            QVERIFY(!downloads()[1].isCurrent() && !downloads()[2].isCurrent());
            QCOMPARE(h_->window().downloadTotals()->text(), QStringLiteral("Paused - 2 files left, 7 B"));
            h_->app().setTransfersPaused(download, false);
        }

        QTRY_VERIFY_WITH_TIMEOUT(downloads().size() == order.size() && AppHarness::allFinished(downloads()), 60000);
        QStringList names;
        for (const File &entry : downloads())
            names << entry.name();
        QCOMPARE(names, order);
        QCOMPARE(statuses(downloads()), repeated("Done.", order.size()));
        QStringList starts;
        for (const QString &line : log.lines())
            if (line.startsWith(QStringLiteral("DOWNLOAD fichier path : //")))
                starts << line.section(QLatin1Char(' '), 4, 4).mid(2);
        QCOMPARE(starts, started);
        QCOMPARE(readFile(local("a")), QByteArray("aaa"));
        QCOMPARE(readFile(local("b")), QByteArray("bbbb"));
        // A removed download leaves no partial file behind; its file is there only whole
        // (its last bytes may have arrived before the removal).
        if (order.contains("big") || QFile::exists(local("big")))
            QCOMPARE(readFile(local("big")), big);
        QCOMPARE(QDir(h_->localDir()).entryList(QDir::Files | QDir::Hidden).size(), 2 + qsizetype(QFile::exists(local("big"))));
        QCOMPARE(h_->window().downloadTotals()->text(), QStringLiteral("Nothing left to transfer"));
    }

    void getWithNothingSelected()
    {
        QVERIFY(h_->server.writeFile("a", "a"));
        QVERIFY2(h_->launchConnected(), h_->why());
        LogCapture log;
        h_->window().Get()->click();
        QCOMPARE(downloads().size(), 0);
        QVERIFY(log.contains(QStringLiteral("rfiles count : 0")));
        QVERIFY(!log.containsPrefix(QStringLiteral("DOWNLOAD fichier")));
    }

    // A RETR the server refuses fails that entry alone; the same pass goes on with the next
    // one on the same download engine, which the refusal left connected.
    void refusedDownloadThenTheNextOneRuns()
    {
        for (const char *name : {"a", "b", "c"})
            QVERIFY(h_->server.writeFile(name, QByteArray(name) + "-content"));
        QVERIFY2(h_->launchConnected(), h_->why());
        const QStringList rows = AppHarness::names(h_->remote(), 0);
        QVERIFY(AppHarness::select(h_->remote(), 0, rows));
        // The entry queued first disappears from the server: its RETR is refused.
        const QString gone = rows.first();
        QVERIFY(QFile::remove(h_->server.localPath(gone)));
        const FTP *first = h_->downloadEngine().get();
        h_->window().Get()->click();

        QCOMPARE(downloads()[0].name(), gone);
        QTRY_COMPARE(downloads()[0].getStatus(), QStringLiteral("FTP Error"));
        QVERIFY(downloads()[1].isCurrent() || downloads()[1].isFinished());
        QCOMPARE(h_->downloadEngine().get(), first);
        QVERIFY(h_->downloadEngine()->isConnected());
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(downloads()), 30000);
        QCOMPARE(statuses(downloads()), (QStringList{"FTP Error", "Done.", "Done."}));
        QVERIFY(!QFile::exists(local(gone)));
        for (const QString &name : rows.mid(1))
            QCOMPARE(readFile(local(name)), name.toUtf8() + "-content");
    }

    // Uploads that cannot start (a directory, a STOR refused) fail alone; later uploads
    // still go through.
    void refusedUploadsThenTheNextOneRuns()
    {
        // The server holds a directory where the file would go: STOR is refused.
        QVERIFY(QDir(h_->server.rootPath()).mkdir("x"));
        QVERIFY(QDir(h_->localDir()).mkdir("folder"));
        QVERIFY(writeFile(local("x"), "xx"));
        QVERIFY(writeFile(local("y"), "yyy"));
        QVERIFY2(h_->launchConnected(), h_->why());
        h_->controller().refreshLocal();
        const int localColumn = h_->local().lastVisibleColumn();

        QVERIFY(AppHarness::select(h_->local(), localColumn, {"x"}));
        const FTP *first = h_->uploadEngine().get();
        h_->window().Put()->click();
        QTRY_COMPARE(uploads()[0].getStatus(), QStringLiteral("FTP Error"));
        QVERIFY(h_->uploadEngine()->isConnected());
        QVERIFY(!h_->uploadEngine()->isTransferring());

        // The same upload engine goes on; the (empty) directory is made on the server as a
        // folder transfer, the file goes through.
        QVERIFY(AppHarness::select(h_->local(), localColumn, {"folder", "y"}));
        h_->window().Put()->click();
        QCOMPARE(h_->uploadEngine().get(), first);
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(uploads()), 30000);
        QCOMPARE(uploads().size(), 3);
        QCOMPARE(entryNamed(uploads(), "x").getStatus(), QStringLiteral("FTP Error"));
        QCOMPARE(entryNamed(uploads(), "folder").getStatus(), QStringLiteral("Done."));
        QVERIFY(QFileInfo(h_->server.rootPath() + QStringLiteral("/folder")).isDir());
        QCOMPARE(entryNamed(uploads(), "y").getStatus(), QStringLiteral("Done."));
        QCOMPARE(h_->server.readFile("y"), QByteArray("yyy"));
        QCOMPARE(h_->state(), State::Connected);
    }

    // Only a completion the server confirmed counts as done. A listed size of 0 is no
    // size (VMS listings give none): the bytes that came are the size shown.
    void completionStatus_data()
    {
        QTest::addColumn<QByteArray>("finalReply");
        QTest::addColumn<int>("listedSize");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("sizeShown");
        QTest::newRow("226") << QByteArray("226 Transfer complete") << 4 << "Done." << "4 B";
        QTest::newRow("426 aborted") << QByteArray("426 Connection closed; transfer aborted") << 4
                                     << "FTP Error" << "4 B";
        QTest::newRow("451 local error") << QByteArray("451 Local error") << 4 << "FTP Error" << "4 B";
        QTest::newRow("listed without a size") << QByteArray("226 Transfer complete") << 0 << "Done." << "4 B";
    }
    void completionStatus()
    {
        QFETCH(QByteArray, finalReply);
        QFETCH(int, listedSize);
        QFETCH(QString, status);
        QFETCH(QString, sizeShown);
        ScriptedFtpServer server(fileServer(unixLine("f", listedSize), "data", finalReply));
        QVERIFY(h_->launchConnectedTo(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h_->remote(), 0, {"f"}));
        h_->window().Get()->click();
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(downloads()), 30000);
        QCOMPARE(downloads()[0].getStatus(), status);
        const QAbstractItemModel *table = h_->window().Downloads()->model();
        QCOMPARE(table->index(0, 1).data().toString(), sizeShown);
        QCOMPARE(table->index(0, 2).data().toString(), status);
        QCOMPARE(QFile::exists(local("f")), status == "Done.");
    }

    // Get of a selected directory (its listing open to the right) takes that entry from
    // its own directory, never the file of the same name inside it: the directory comes
    // whole, the file inside it.
    void getTakesTheDirectoryOfTheSelection()
    {
        QVERIFY(h_->server.writeFile("sub/sub", "inner file"));
        QVERIFY2(h_->launchConnected(), h_->why());
        QVERIFY(AppHarness::select(h_->remote(), 0, {"sub"}));
        QCOMPARE(h_->remote().lastVisibleColumn(), 1);
        h_->window().Get()->click();
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(local("sub/sub")), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(downloads()), 30000);
        QCOMPARE(downloads()[0].remotepath(), QStringLiteral("/"));
        QVERIFY(QFileInfo(local("sub")).isDir());
        QCOMPARE(readFile(local("sub/sub")), QByteArray("inner file"));
    }

    // A local name that is not UTF-8 is shown with U+FFFD and handed to the upload under
    // its exact bytes.
    void putKeepsTheBytesOfALocalName()
    {
        const QByteArray name("caf\xe9");
        const QByteArray path = QFile::encodeName(h_->localDir()) + '/' + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT, 0600);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "latin", 5), ssize_t(5));
        ::close(fd);
        QVERIFY2(h_->launchConnected(), h_->why());
        h_->controller().refreshLocal();
        QVERIFY(AppHarness::select(h_->local(), h_->local().lastVisibleColumn(), {"caf\uFFFD"}));
        h_->window().Put()->click();
        QCOMPARE(uploads().size(), 1);
        const File &entry = uploads()[0];
        QCOMPARE(bytesOfName(entry.localpath() + '/' + entry.name()), path);
        QCOMPARE(h_->window().Uploads()->model()->index(0, 0).data().toString(), "caf\uFFFD");
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(uploads()), 30000);
        ::unlink(path.constData()); // QTemporaryDir removes by decoded names only
    }

    // A name from the server never leads outside the chosen local directory.
    void hostileNames_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("refused");
        QTest::newRow("parent then name") << QByteArray("../x") << true;
        QTest::newRow("slash inside") << QByteArray("a/b") << true;
        QTest::newRow("deep parent") << QByteArray("../../x") << true;
        QTest::newRow("dots in a plain name") << QByteArray("..x") << false;
        QTest::newRow("plain") << QByteArray("ok.txt") << false;
    }
    void hostileNames()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, refused);
        ScriptedFtpServer server(fileServer(unixLine(name, 4), "evil", "226 Done"));
        QVERIFY(QDir(h_->localDir()).mkpath("inner/deeper"));
        h_->launch();
        BrowserSettings::instance().setShowHidden(true); // names starting with "." are listed
        QVERIFY(h_->local().setPath(local("inner/deeper")));
        QVERIFY(h_->connectThroughDialog(server.address(), "me", "pw"));
        QVERIFY(AppHarness::select(h_->remote(), 0, {QString::fromUtf8(name)}));
        LogCapture log;
        h_->window().Get()->click();
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(downloads()), 30000);

        QCOMPARE(downloads()[0].getStatus(), refused ? QStringLiteral("FTP Error") : QStringLiteral("Done."));
        QCOMPARE(log.contains(QStringLiteral("Nom de fichier refuse : <%1>").arg(QString::fromUtf8(name))), refused);
        // The three logins run side by side: any connection may be the download engine's.
        qsizetype retrs = 0;
        for (int conn = 0; conn < 3; ++conn)
            retrs += commandsSent(server, conn, {"RETR"}).size();
        QCOMPARE(retrs, refused ? 0 : 1);
        QVERIFY(!QFile::exists(local("x")));
        QVERIFY(!QFile::exists(local("inner/x")));
        QVERIFY(!QFile::exists(local("inner/deeper/a/b")));
        QCOMPARE(QFile::exists(local("inner/deeper/") + QString::fromUtf8(name)), !refused);
    }
};

QTEST_MAIN(TestTransferQueues)
#include "tst_transferqueues.moc"