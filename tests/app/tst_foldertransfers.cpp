// SPDX-License-Identifier: GPL-3.0-or-later
// Whole folders got and put through the main window and through named entries, against
// pyftpdlib, with real trees on both sides compared byte for byte.
#include "support/AppHarness.h"

#include "app/RemoteTreeWalk.h"
#include "base/ByteNames.h"
#include "support/RealFtpServer.h"
#include "support/ScriptedFtpServer.h"
#include "support/TestSupport.h"

#include <QSet>
#include <QTest>

#include <memory>

#include <dirent.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace zodaru;
using namespace zodaru::test;
using Tree = QMap<QByteArray, QByteArray>;
using Kind = AppHarness::TreeEntry::Kind;

namespace {

// Root reads every directory whatever its mode. Without these two capabilities (dropped
// for this thread, the threads it starts and the servers it runs), a directory of mode
// 000 is unreadable to the program and to the server as it is for any user.
bool dropReadOverride()
{
    if (::geteuid() != 0)
        return true;
    for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH})
        if (::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0) != 0)
            return false;
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0)
        return false;
    const quint32 kept = ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    data[0].effective &= kept;
    data[0].permitted &= kept;
    data[0].inheritable &= kept;
    return ::syscall(SYS_capset, &header, data) == 0;
}

// The tree both directions start from: nested directories, an empty one, an empty file,
// names with spaces and with bytes that are not UTF-8, a link back to its parent (a loop),
// a link to a file and a link to a directory of the tree.
QList<AppHarness::TreeEntry> sourceTree()
{
    return {
        {Kind::Directory, "tree", {}},
        {Kind::File, "tree/a.txt", "hello\n"},
        {Kind::File, "tree/empty.bin", {}},
        {Kind::Directory, "tree/with space", {}},
        {Kind::File, "tree/with space/b c.txt", patternBytes(3000, 7)},
        {Kind::Directory, "tree/sub", {}},
        {Kind::Directory, "tree/sub/deeper", {}},
        {Kind::File, "tree/sub/deeper/d.dat", patternBytes(70000, 9)},
        {Kind::File, "tree/sub/\xe9t\xe9.txt", "latin-1 name"},
        {Kind::Directory, "tree/nonutf\xff", {}},
        {Kind::File, "tree/nonutf\xff/x.txt", "x"},
        {Kind::Directory, "tree/emptydir", {}},
        {Kind::Link, "tree/sub/loop", ".."},
        {Kind::Link, "tree/alias.txt", "a.txt"},
        {Kind::Link, "tree/shortcut", "sub/deeper"},
    };
}

// What arrives: no link; the link to a file as the file; the link to a directory as a
// copy of it when got (remote links are followed), not at all when put (local ones are not).
Tree expectedTree(bool download)
{
    Tree tree;
    for (const AppHarness::TreeEntry &entry : sourceTree()) {
        const QByteArray path = entry.path.mid(int(qstrlen("tree/")));
        if (entry.kind == Kind::Directory && entry.path != "tree")
            tree.insert(path, "dir");
        else if (entry.kind == Kind::File)
            tree.insert(path, AppHarness::fileFacts(entry.content));
    }
    tree.insert("alias.txt", AppHarness::fileFacts("hello\n"));
    if (download) {
        tree.insert("shortcut", "dir");
        tree.insert("shortcut/d.dat", AppHarness::fileFacts(patternBytes(70000, 9)));
    }
    return tree;
}

// The files of a tree, as the rows name them: "tree/" and their path.
QSet<QString> filesOf(const Tree &tree)
{
    QSet<QString> files;
    for (auto it = tree.begin(); it != tree.end(); ++it)
        if (it.value().startsWith("file "))
            files << nameFromBytes("tree/" + it.key());
    return files;
}

// The folder row of `queue` named `name`, and the rows found under it.
qint32 folderRow(const QList<File> &queue, const QString &name)
{
    for (const File &entry : queue)
        if (entry.isDir() && entry.name() == name)
            return qint32(entry.getID());
    return -1;
}
QList<File> rowsOf(const QList<File> &queue, qint32 folder)
{
    QList<File> rows;
    for (const File &entry : queue)
        if (!entry.isDir() && entry.group() == folder)
            rows << entry;
    return rows;
}

// The index of the first line of `lines` that starts with `prefix`; -1 when none does.
qsizetype firstStarting(const QStringList &lines, const QString &prefix)
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lines[i].startsWith(prefix))
            return i;
    return -1;
}

// A server that lists with LIST only, under "/tree", directories without end: each holds
// a file named after its depth ("f0", "f1", ...) and a link "deeper" to `target`, which
// lists as the next one down. No two listings are alike.
ScriptedFtpServer::Script linksWithoutEnd(const QByteArray &target)
{
    return [target](ScriptedFtpServer::Session &s) {
        s.greetAndLogin();
        QByteArray cwd = "/";
        QByteArray line;
        while (s.readLineOrEof(line)) {
            if (line.startsWith("CWD ")) {
                cwd = line.mid(4);
                s.line("250 OK");
            } else if (line == "PASV") {
                s.line(s.openPassive());
            } else if (line.startsWith("LIST")) {
                const QByteArray listing = cwd == "/"
                    ? unixLine("tree", 0, "drwxr-xr-x")
                    : unixLine("f" + QByteArray::number(cwd.count("/deeper")), 4)
                        + unixLine("deeper -> " + target, 1, "lrwxrwxrwx");
                s.sendReply("150 Here it comes", listing, "226 Done");
            } else if (line.startsWith("RETR ")) {
                s.sendReply("150 Sending", "data", "226 Done");
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

class TestFolderTransfers final : public QObject {
    Q_OBJECT

    std::unique_ptr<AppHarness> h_;
    bool readOverrideDropped_ = false;

    // Where a folder comes from and goes to: the server's root and the local directory.
    QString sourceRoot(bool download) const { return download ? h_->server.rootPath() : h_->localDir(); }
    QString targetRoot(bool download) const { return download ? h_->localDir() : h_->server.rootPath(); }
    const QList<File> &queue(bool download) const { return download ? h_->downloads() : h_->uploads(); }

    // Starts the transfer of the folder "tree" of the source root, with the Get or Put
    // button on its selected row, or as a named entry.
    bool transferTree(bool download, bool button) const
    {
        if (!button) {
            const QString remoteRoot = h_->remote().pathToColumn(0);
            const QList<File> entries{File(QStringLiteral("tree"), 0, 1)};
            if (download)
                h_->app().getEntries(remoteRoot, entries, h_->localDir());
            else
                h_->app().putEntries(h_->localDir(), entries, remoteRoot);
            return true;
        }
        ColumnBrowser &browser = download ? h_->remote() : h_->local();
        const int column = download ? 0 : browser.lastVisibleColumn();
        if (!AppHarness::select(browser, column, {QStringLiteral("tree")}))
            return false;
        (download ? h_->window().Get() : h_->window().Put())->click();
        return true;
    }

private Q_SLOTS:
    void initTestCase() { readOverrideDropped_ = dropReadOverride(); }
    void init()
    {
        h_ = std::make_unique<AppHarness>();
        QVERIFY(h_->isValid());
    }
    void cleanup()
    {
        if (h_->isLaunched()) {
            QTRY_VERIFY_WITH_TIMEOUT(!h_->downloadEngine() || !h_->downloadEngine()->isTransferring(), 60000);
            QTRY_VERIFY_WITH_TIMEOUT(!h_->uploadEngine() || !h_->uploadEngine()->isTransferring(), 60000);
        }
        // Names that are not UTF-8, and locked directories, are removed here.
        AppHarness::removeTree(h_->localDir() + QStringLiteral("/tree"));
        AppHarness::removeTree(h_->server.rootPath() + QStringLiteral("/tree"));
        h_.reset();
    }

    // The whole tree arrives byte for byte, its rows named by their path under the folder
    // and grouped under its row; the loop is skipped and named in the log; the first file
    // is queued (and starts) before the walk ends; directories already there are fine.
    void wholeTreeBothWays_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<bool>("button");
        QTest::addColumn<bool>("partlyThere");
        QTest::addColumn<QString>("loopLine");
        const QString remoteLoop = QStringLiteral("Lien tree/sub/loop ignore : il mene a un dossier deja parcouru");
        const QString localLoop =
            QStringLiteral("Lien tree/sub/loop vers un dossier ignore : les liens locaux ne sont pas suivis");
        QTest::newRow("get, Get button") << true << true << false << remoteLoop;
        QTest::newRow("get, named entry") << true << false << false << remoteLoop;
        QTest::newRow("get into a tree partly there") << true << false << true << remoteLoop;
        QTest::newRow("put, Put button") << false << true << false << localLoop;
        QTest::newRow("put, named entry") << false << false << false << localLoop;
        QTest::newRow("put into a tree partly there") << false << false << true << localLoop;
    }
    void wholeTreeBothWays()
    {
        QFETCH(bool, download);
        QFETCH(bool, button);
        QFETCH(bool, partlyThere);
        QFETCH(QString, loopLine);
        QVERIFY2(h_->serve(), h_->why());
        QVERIFY(AppHarness::makeTree(sourceRoot(download), sourceTree()));
        if (partlyThere)
            QVERIFY(AppHarness::makeTree(targetRoot(download), {{Kind::Directory, "tree", {}},
                                                                 {Kind::Directory, "tree/sub", {}}}));
        QVERIFY2(h_->launchConnected(), h_->why());
        LogCapture log;
        QVERIFY(transferTree(download, button));

        QTRY_VERIFY_WITH_TIMEOUT(log.containsPrefix(QStringLiteral("Dossier tree parcouru")), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(queue(download)), 60000);
        const Tree expected = expectedTree(download);
        QCOMPARE(AppHarness::treeOf(targetRoot(download) + QStringLiteral("/tree")), expected);

        const qint32 folder = folderRow(queue(download), QStringLiteral("tree"));
        QVERIFY(folder >= 0);
        QSet<QString> shown;
        for (const File &row : rowsOf(queue(download), folder)) {
            QVERIFY2(!row.hasError(), qPrintable(row.displayName()));
            shown << row.displayName();
        }
        QCOMPARE(shown, filesOf(expected));
        const int files = int(filesOf(expected).size());
        const int directories = int(std::count(expected.begin(), expected.end(), QByteArray("dir"))) + 1;
        QVERIFY(log.contains(
            QStringLiteral("Dossier tree parcouru : %1 fichiers, %2 dossiers").arg(files).arg(directories)));
        QVERIFY(log.contains(loopLine));

        const QStringList lines = log.lines();
        const QString start =
            download ? QStringLiteral("DOWNLOAD fichier path : ") : QStringLiteral("UPLOAD fichier path : ");
        const qsizetype firstStart = firstStarting(lines, start);
        QVERIFY(firstStart >= 0);
        QVERIFY(firstStart < firstStarting(lines, QStringLiteral("Dossier tree parcouru")));
    }

    // Remote links are followed a bounded number of times, and not at all when their
    // listed target is a directory of the walk's chain.
    void remoteLinksAreBounded_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<int>("levels");
        QTest::addColumn<QString>("skipped");
        const QString loop = QStringLiteral("deeper ignore : il mene a un dossier deja parcouru");
        QTest::newRow("target named, in the chain") << QByteArray(".") << 1 << loop;
        QTest::newRow("target named, the folder from below") << QByteArray("../..") << 3 << loop;
        QTest::newRow("listings all different") << QByteArray("elsewhere") << 1 + RemoteTreeWalk::maxLinkDepth
                                               << QStringLiteral("deeper ignore : plus de 8 liens suivis a la suite");
    }
    void remoteLinksAreBounded()
    {
        QFETCH(QByteArray, target);
        QFETCH(int, levels);
        QFETCH(QString, skipped);
        ScriptedFtpServer server(linksWithoutEnd(target));
        QVERIFY(h_->launchConnectedTo(server.address(), "me", "pw"));
        LogCapture log;
        h_->app().getEntries(QStringLiteral("/"), {File(QStringLiteral("tree"), 0, 1)}, h_->localDir());
        QTRY_VERIFY_WITH_TIMEOUT(log.containsPrefix(QStringLiteral("Dossier tree parcouru")), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(h_->downloads()), 30000);

        // Each level followed gave its file; the link below the last one was skipped.
        Tree expected;
        QByteArray path;
        for (int level = 0; level < levels; ++level) {
            if (level > 0) {
                path += "deeper/";
                expected.insert(path.chopped(1), "dir");
            }
            expected.insert(path + "f" + QByteArray::number(level), AppHarness::fileFacts("data"));
        }
        QCOMPARE(AppHarness::treeOf(h_->localDir() + QStringLiteral("/tree")), expected);
        QVERIFY(log.contains(QStringLiteral("Lien tree/") + QString::fromLatin1(path) + skipped));
        QVERIFY(log.contains(QStringLiteral("Dossier tree parcouru : %1 fichiers, %1 dossiers").arg(levels)));
    }

    // A directory that cannot be made on the other side (a file has its name there) fails
    // alone: one row names it, nothing is sent into it, the file in the way is left as it
    // was, and the rest of the tree arrives.
    void directoryThatCannotBeMadeFailsAlone_data()
    {
        QTest::addColumn<bool>("download");
        QTest::newRow("get") << true;
        QTest::newRow("put") << false;
    }
    void directoryThatCannotBeMadeFailsAlone()
    {
        QFETCH(bool, download);
        QVERIFY2(h_->serve(), h_->why());
        QVERIFY(AppHarness::makeTree(sourceRoot(download), {{Kind::Directory, "tree", {}},
                                                            {Kind::File, "tree/a.txt", "a"},
                                                            {Kind::Directory, "tree/sub", {}},
                                                            {Kind::File, "tree/sub/b.txt", "b"}}));
        QVERIFY(AppHarness::makeTree(targetRoot(download), {{Kind::Directory, "tree", {}},
                                                            {Kind::File, "tree/sub", "in the way"}}));
        QVERIFY2(h_->launchConnected(), h_->why());
        LogCapture log;
        QVERIFY(transferTree(download, false));

        QTRY_VERIFY_WITH_TIMEOUT(log.containsPrefix(QStringLiteral("Dossier tree parcouru en partie")), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(queue(download)), 60000);
        const Tree expected{{"a.txt", AppHarness::fileFacts("a")}, {"sub", AppHarness::fileFacts("in the way")}};
        QCOMPARE(AppHarness::treeOf(targetRoot(download) + QStringLiteral("/tree")), expected);
        QStringList failed;
        QStringList done;
        for (const File &row : rowsOf(queue(download), folderRow(queue(download), QStringLiteral("tree"))))
            (row.hasError() ? failed : done) << row.displayName();
        QCOMPARE(failed, QStringList{QStringLiteral("tree/sub/")});
        QCOMPARE(done, QStringList{QStringLiteral("tree/a.txt")});
    }

    // A directory that cannot be listed fails alone: its row fails and the log names it,
    // the rest of the tree arrives, and the walk ends incomplete.
    void unreadableDirectoryFailsOnlyItsEntries_data()
    {
        QTest::addColumn<bool>("download");
        QTest::addColumn<QString>("failureLine");
        const QString notSent = QStringLiteral("tree/locked impossible : ses fichiers ne sont pas transferes");
        QTest::newRow("get") << true << QStringLiteral("Liste de ") + notSent;
        QTest::newRow("put") << false << QStringLiteral("Lecture de ") + notSent;
    }
    void unreadableDirectoryFailsOnlyItsEntries()
    {
        QFETCH(bool, download);
        QFETCH(QString, failureLine);
        if (!readOverrideDropped_)
            QSKIP("this process reads directories of any mode and cannot give that up");
        QVERIFY2(h_->serve(), h_->why());
        const QString root = sourceRoot(download);
        QVERIFY(AppHarness::makeTree(root, {{Kind::Directory, "tree", {}},
                                            {Kind::File, "tree/a.txt", "a"},
                                            {Kind::Directory, "tree/locked", {}},
                                            {Kind::File, "tree/locked/secret.txt", "s"},
                                            {Kind::Directory, "tree/later", {}},
                                            {Kind::File, "tree/later/z.txt", "zz"}}));
        const QByteArray locked = QFile::encodeName(root + QStringLiteral("/tree/locked"));
        QCOMPARE(::chmod(locked.constData(), 0), 0);
        DIR *probe = ::opendir(locked.constData());
        if (probe)
            ::closedir(probe);
        QVERIFY2(!probe, "a directory of mode 000 can still be read");
        QVERIFY2(h_->launchConnected(), h_->why());
        LogCapture log;
        QVERIFY(transferTree(download, false));

        QTRY_VERIFY_WITH_TIMEOUT(log.containsPrefix(QStringLiteral("Dossier tree parcouru")), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(queue(download)), 60000);
        QVERIFY(log.contains(failureLine));
        QVERIFY(log.contains(QStringLiteral("Dossier tree parcouru en partie : 2 fichiers, 3 dossiers")));
        const Tree expected{{"a.txt", AppHarness::fileFacts("a")},
                            {"later", "dir"},
                            {"later/z.txt", AppHarness::fileFacts("zz")},
                            {"locked", "dir"}};
        QCOMPARE(AppHarness::treeOf(targetRoot(download) + QStringLiteral("/tree")), expected);

        QStringList failed;
        QStringList done;
        for (const File &row : rowsOf(queue(download), folderRow(queue(download), QStringLiteral("tree"))))
            (row.hasError() ? failed : done) << row.displayName();
        done.sort();
        QCOMPARE(failed, QStringList{QStringLiteral("tree/locked/")});
        QCOMPARE(done, (QStringList{QStringLiteral("tree/a.txt"), QStringLiteral("tree/later/z.txt")}));
    }
};

QTEST_MAIN(TestFolderTransfers)
#include "tst_foldertransfers.moc"
