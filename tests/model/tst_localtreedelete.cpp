// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/ByteNames.h"
#include "model/LocalTreeDelete.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace zodaru;

namespace {

// Makes a tree under `root` from lines: "d path" a directory, "f path" an empty file,
// "l path -> target" a symbolic link (target relative to root when it does not start with /).
bool makeTree(const QString &root, const QStringList &lines)
{
    for (const QString &line : lines) {
        const QStringList parts = line.mid(2).split(QStringLiteral(" -> "));
        const QByteArray path = QFile::encodeName(root + QLatin1Char('/') + parts.value(0));
        if (line.startsWith(QLatin1String("d "))) {
            if (::mkdir(path.constData(), 0700) != 0)
                return false;
        } else if (line.startsWith(QLatin1String("f "))) {
            QFile file(QFile::decodeName(path));
            if (!file.open(QIODevice::WriteOnly))
                return false;
        } else {
            const QString target = parts.value(1).startsWith(QLatin1Char('/')) ? parts.value(1)
                                                                                : root + QLatin1Char('/') + parts.value(1);
            if (::symlink(QFile::encodeName(target).constData(), path.constData()) != 0)
                return false;
        }
    }
    return true;
}

bool existsNoFollow(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace

class TestLocalTreeDelete final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Each tree lives under top/; outside/ stands for what lies beyond it and must stay.
    void countAndErase_data()
    {
        QTest::addColumn<QStringList>("tree");
        QTest::addColumn<QString>("entry"); // what is deleted, under the temporary directory
        QTest::addColumn<int>("kind");      // LocalEntryKind
        QTest::addColumn<qint64>("files");
        QTest::addColumn<qint64>("folders");

        const QStringList outside{"d outside", "f outside/keep", "d outside/deep", "f outside/deep/keep2"};
        QTest::newRow("one file") << (outside + QStringList{"f top"}) << "top" << int(LocalEntryKind::File)
                                  << qint64(0) << qint64(0);
        QTest::newRow("empty directory") << (outside + QStringList{"d top"}) << "top"
                                         << int(LocalEntryKind::Directory) << qint64(0) << qint64(0);
        QTest::newRow("nested, names with blanks")
            << (outside + QStringList{"d top", "f top/a", "d top/b c", "f top/b c/d e", "d top/b c/empty",
                                      "d top/x", "d top/x/y", "f top/x/y/z"})
            << "top" << int(LocalEntryKind::Directory) << qint64(3) << qint64(4);
        // A link to a directory outside: counted and removed as one entry, never entered.
        QTest::newRow("link to a directory outside")
            << (outside + QStringList{"d top", "l top/out -> outside", "f top/f"}) << "top"
            << int(LocalEntryKind::Directory) << qint64(2) << qint64(0);
        QTest::newRow("link to a file outside")
            << (outside + QStringList{"d top", "l top/k -> outside/keep"}) << "top" << int(LocalEntryKind::Directory)
            << qint64(1) << qint64(0);
        QTest::newRow("dangling link") << (outside + QStringList{"d top", "l top/gone -> nowhere"}) << "top"
                                       << int(LocalEntryKind::Directory) << qint64(1) << qint64(0);
        // The entry chosen is itself a link to a directory: the link goes, not what it names.
        QTest::newRow("chosen link to a directory") << (outside + QStringList{"l top -> outside"}) << "top"
                                                    << int(LocalEntryKind::File) << qint64(0) << qint64(0);
        // A loop through links is never walked.
        QTest::newRow("link loop") << (outside + QStringList{"d top", "d top/a", "l top/a/up -> top"}) << "top"
                                   << int(LocalEntryKind::Directory) << qint64(1) << qint64(1);
    }

    void countAndErase()
    {
        QFETCH(QStringList, tree);
        QFETCH(QString, entry);
        QFETCH(int, kind);
        QFETCH(qint64, files);
        QFETCH(qint64, folders);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QVERIFY(makeTree(dir.path(), tree));
        const QString path = dir.filePath(entry);

        const LocalEntryFacts facts = inspectLocalEntry(path);
        QCOMPARE(int(facts.kind), kind);
        QCOMPARE(facts.inside.files, files);
        QCOMPARE(facts.inside.folders, folders);
        QVERIFY(facts.complete);

        const LocalDeleteResult result = eraseLocalTree(path);
        QVERIFY2(result.ok(), qPrintable(result.where));
        QVERIFY(!existsNoFollow(path));
        for (const char *kept : {"outside/keep", "outside/deep/keep2"})
            QVERIFY2(QFile::exists(dir.filePath(QString::fromLatin1(kept))), kept);
    }

    // Names that are not UTF-8 are walked and removed under their exact bytes.
    void eraseNamesAsBytes()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray top = QFile::encodeName(dir.path()) + "/caf\xe9";
        QVERIFY(::mkdir(top.constData(), 0700) == 0);
        QVERIFY(::close(::open((top + "/\xff").constData(), O_WRONLY | O_CREAT, 0600)) == 0);
        const QString name = nameFromBytes(top);
        QCOMPARE(inspectLocalEntry(name).inside.files, qint64(1));
        QVERIFY(!trashCanTake(name + QStringLiteral("/x")));
        QVERIFY(eraseLocalTree(name).ok());
        QVERIFY(!existsNoFollow(QFile::decodeName(top)));
    }

    void missingEntry()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("none"));
        QCOMPARE(int(inspectLocalEntry(path).kind), int(LocalEntryKind::Missing));
        const LocalDeleteResult result = eraseLocalTree(path);
        QCOMPARE(int(result.failure), int(LocalDeleteFailure::Refused));
        QCOMPARE(result.where, path);
        QCOMPARE(result.error, ENOENT);
    }

    // Asked to stop, the walk ends at its next entry and says so, leaving the rest.
    void stopFlag()
    {
        QTemporaryDir dir;
        QVERIFY(makeTree(dir.path(), {"d top", "f top/a", "f top/b"}));
        const std::atomic<bool> stop{true};
        const LocalDeleteResult result = eraseLocalTree(dir.filePath(QStringLiteral("top")), &stop);
        QCOMPARE(int(result.failure), int(LocalDeleteFailure::Stopped));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("top/a"))));
        QVERIFY(!inspectLocalEntry(dir.filePath(QStringLiteral("top")), &stop).complete);
    }
};

QTEST_GUILESS_MAIN(TestLocalTreeDelete)
#include "tst_localtreedelete.moc"
