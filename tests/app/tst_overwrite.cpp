// SPDX-License-Identifier: GPL-3.0-or-later
// Transfers whose target exists: the answers, on the real server in both directions, the
// Trash a replaced local file goes to, the question's dialog, and the rules under them.
#include "support/AppHarness.h"

#include "app/TransferStartJob.h"
#include "ftp/FTP.h"
#include "ftp/PartFile.h"
#include "ftp/TransferRecorder.h"
#include "model/TransferConflict.h"
#include "model/Trash.h"
#include "ui/OverwriteDialog.h"

#include "support/Fixtures.h"
#include "support/RealFtpServer.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <optional>

using namespace zodaru;
using namespace zodaru::test;
using zodaru::testing::TransferRecorder;
using Answer = ConflictAnswer;

Q_DECLARE_METATYPE(zodaru::ConflictAnswer)
Q_DECLARE_METATYPE(zodaru::ConflictClass)
Q_DECLARE_METATYPE(zodaru::ConflictAction)

namespace {

const QString kName = QStringLiteral("report.txt");
const QString kRenamed = QStringLiteral("report (1).txt");

bool setModified(const QString &path, qint64 secondsUtc)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite)
        && file.setFileTime(QDateTime::fromSecsSinceEpoch(secondsUtc), QFileDevice::FileModificationTime);
}

// What a start gave, in a word.
QString outcomeOf(const TransferStart &start)
{
    if (start.conflict)
        return QStringLiteral("asked");
    if (start.skipped)
        return QStringLiteral("skipped");
    return start.code == 150 || start.code == 125 ? QStringLiteral("started") : QStringLiteral("failed");
}

TargetFacts facts(qint64 targetSize, qint64 targetModified, qint64 sourceSize, qint64 sourceModified,
                  bool canResume = false)
{
    TargetFacts f;
    f.targetSize = targetSize;
    f.targetModified = targetModified;
    f.sourceSize = sourceSize;
    f.sourceModified = sourceModified;
    f.canResume = canResume;
    return f;
}

} // namespace

class TestOverwrite final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void classOfFacts_data()
    {
        QTest::addColumn<TargetFacts>("given");
        QTest::addColumn<ConflictClass>("expected");
        QTest::newRow("shorter and continuable") << facts(10, 500, 20, 100, true) << ConflictClass::Resumable;
        QTest::newRow("target newer") << facts(10, 500, 20, 100) << ConflictClass::TargetNewer;
        QTest::newRow("same size, source newer") << facts(20, 100, 20, 500) << ConflictClass::SameSize;
        QTest::newRow("same size, dates unknown") << facts(20, -1, 20, -1) << ConflictClass::SameSize;
        QTest::newRow("sizes differ, source newer") << facts(10, 100, 20, 500) << ConflictClass::Different;
        QTest::newRow("nothing known") << facts(-1, -1, -1, -1) << ConflictClass::Different;
    }
    void classOfFacts()
    {
        QFETCH(TargetFacts, given);
        QFETCH(ConflictClass, expected);
        QCOMPARE(classOf(given), expected);
    }

    void actionForAnswer_data()
    {
        QTest::addColumn<Answer>("answer");
        QTest::addColumn<TargetFacts>("given");
        QTest::addColumn<ConflictAction>("expected");
        const TargetFacts same = facts(20, 500, 20, 100);
        QTest::newRow("ask") << Answer::Ask << same << ConflictAction::Ask;
        QTest::newRow("overwrite the same file") << Answer::Overwrite << same << ConflictAction::Replace;
        QTest::newRow("if different: same size, target newer") << Answer::OverwriteIfDifferent << same
                                                               << ConflictAction::Skip;
        QTest::newRow("if different: same size and date") << Answer::OverwriteIfDifferent << facts(20, 100, 20, 100)
                                                          << ConflictAction::Skip;
        QTest::newRow("if different: same size, source newer")
            << Answer::OverwriteIfDifferent << facts(20, 100, 20, 101) << ConflictAction::Replace;
        QTest::newRow("if different: sizes differ, target newer")
            << Answer::OverwriteIfDifferent << facts(21, 500, 20, 100) << ConflictAction::Replace;
        QTest::newRow("if different: target size unknown")
            << Answer::OverwriteIfDifferent << facts(-1, 500, 20, 100) << ConflictAction::Replace;
        QTest::newRow("resume what can be continued") << Answer::Resume << facts(10, 500, 20, 100, true)
                                                      << ConflictAction::Resume;
        QTest::newRow("resume what cannot") << Answer::Resume << facts(30, 500, 20, 100) << ConflictAction::Skip;
        QTest::newRow("rename") << Answer::Rename << same << ConflictAction::Rename;
        QTest::newRow("skip what could be continued") << Answer::Skip << facts(10, 500, 20, 100, true)
                                                      << ConflictAction::Skip;
    }
    void actionForAnswer()
    {
        QFETCH(Answer, answer);
        QFETCH(TargetFacts, given);
        QFETCH(ConflictAction, expected);
        QCOMPARE(actionFor(answer, given), expected);
    }

    void freeNameBeside_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("expected");
        QTest::newRow("extension") << "report.txt" << QStringList{} << "report (1).txt";
        QTest::newRow("first ones taken") << "report.txt" << QStringList{"report (1).txt", "report (2).txt"}
                                          << "report (3).txt";
        QTest::newRow("no extension") << "README" << QStringList{} << "README (1)";
        QTest::newRow("hidden file") << ".profile" << QStringList{} << ".profile (1)";
        QTest::newRow("hidden file with an extension") << ".config.bak" << QStringList{} << ".config (1).bak";
        QTest::newRow("dots inside") << "my.notes.v2.pdf" << QStringList{} << "my.notes.v2 (1).pdf";
        QTest::newRow("compressed tarball") << "archive.tar.gz" << QStringList{} << "archive (1).tar.gz";
        QTest::newRow("tarball, upper case") << "SRC.TAR.XZ" << QStringList{} << "SRC (1).TAR.XZ";
        QTest::newRow("a tarball alone") << "archive.tar" << QStringList{} << "archive (1).tar";
        QTest::newRow("a name that is only .tar.gz") << ".tar.gz" << QStringList{} << ".tar (1).gz";
        QTest::newRow("spaces and accents") << "été 2020.jpeg" << QStringList{"été 2020 (1).jpeg"}
                                            << "été 2020 (2).jpeg";
        QStringList all;
        for (int n = 1; n <= 9999; ++n)
            all << QStringLiteral("x (%1)").arg(n);
        QTest::newRow("none free") << "x" << all << QString();
    }
    void freeNameBeside()
    {
        QFETCH(QString, name);
        QFETCH(QStringList, taken);
        QFETCH(QString, expected);
        QCOMPARE(freeName(name, [&taken](const QString &candidate) { return taken.contains(candidate); }),
                 expected);
    }

    void dialogOffers_data()
    {
        QTest::addColumn<bool>("canResume");
        QTest::addColumn<bool>("hasTrash");
        QTest::addColumn<bool>("targetIsLocal");
        QTest::addColumn<bool>("saysNoTrash");
        QTest::newRow("download, resumable") << true << true << true << false;
        QTest::newRow("download without a Trash") << false << false << true << true;
        QTest::newRow("upload") << false << true << false << false;
        QTest::newRow("upload, resumable") << true << true << false << false;
    }
    // Skip is the default; Resume only when the target can be continued; the missing Trash
    // is said.
    void dialogOffers()
    {
        QFETCH(bool, canResume);
        QFETCH(bool, hasTrash);
        QFETCH(bool, targetIsLocal);
        QFETCH(bool, saysNoTrash);
        TargetFacts given = facts(1000, 1600000000, 2000, 1500000000, canResume);
        given.hasTrash = hasTrash;
        QPointer<OverwriteDialog> dialog = new OverwriteDialog(kName, given, targetIsLocal);
        dialog->show();
        QVERIFY(!dialog->isModal());
        for (const Answer answer : {Answer::Overwrite, Answer::OverwriteIfDifferent, Answer::Rename, Answer::Skip})
            QVERIFY(dialog->button(answer));
        QCOMPARE(dialog->button(Answer::Resume) != nullptr, canResume);
        QVERIFY(dialog->button(Answer::Skip)->isDefault());
        for (QPushButton *button : dialog->findChildren<QPushButton *>())
            QCOMPARE(button->isDefault(), button == dialog->button(Answer::Skip));
        QCOMPARE(dialog->noTrashNote() != nullptr, saysNoTrash);
        QStringList texts;
        for (const QLabel *label : dialog->findChildren<QLabel *>())
            texts << label->text();
        QVERIFY2(texts.join('|').contains(kName), qPrintable(texts.join('|')));
        QVERIFY(!dialog->applyToAll()->isChecked());

        // Return answers with the default button.
        QSignalSpy answered(dialog.data(), &OverwriteDialog::answered);
        QTest::keyClick(dialog.data(), Qt::Key_Return);
        QCOMPARE(answered.size(), 1);
        QCOMPARE(answered.at(0).at(0).value<Answer>(), Answer::Skip);
        QTRY_VERIFY(dialog.isNull());
    }

    void dialogAnswersOnce_data()
    {
        QTest::addColumn<Answer>("clicked"); // Ask: closed without a button
        QTest::addColumn<bool>("applyToAll");
        QTest::addColumn<Answer>("expected");
        QTest::newRow("overwrite") << Answer::Overwrite << false << Answer::Overwrite;
        QTest::newRow("if different, to all") << Answer::OverwriteIfDifferent << true << Answer::OverwriteIfDifferent;
        QTest::newRow("resume") << Answer::Resume << false << Answer::Resume;
        QTest::newRow("rename, to all") << Answer::Rename << true << Answer::Rename;
        QTest::newRow("skip") << Answer::Skip << false << Answer::Skip;
        QTest::newRow("closed") << Answer::Ask << false << Answer::Skip;
        QTest::newRow("closed, to all") << Answer::Ask << true << Answer::Skip;
    }
    void dialogAnswersOnce()
    {
        QFETCH(Answer, clicked);
        QFETCH(bool, applyToAll);
        QFETCH(Answer, expected);
        QPointer<OverwriteDialog> dialog = new OverwriteDialog(kName, facts(10, 1, 20, 2, true), true);
        dialog->show();
        QSignalSpy answered(dialog.data(), &OverwriteDialog::answered);
        dialog->applyToAll()->setChecked(applyToAll);
        if (clicked == Answer::Ask) {
            dialog->close();
        } else {
            QPushButton *button = dialog->button(clicked);
            button->click();
            button->click(); // a second click on the way out changes nothing
        }
        QCOMPARE(answered.size(), 1);
        QCOMPARE(answered.at(0).at(0).value<Answer>(), expected);
        QCOMPARE(answered.at(0).at(1).toBool(), applyToAll);
        QTRY_VERIFY(dialog.isNull());
    }

    void trashAvailability_data();
    void trashAvailability();
    void answers_data();
    void answers();
    void stoppedResumeGivesTheFileBack_data();
    void stoppedResumeGivesTheFileBack();
    void nothingAskedOfWhatCannotBeReplaced_data();
    void nothingAskedOfWhatCannotBeReplaced();
    void downloadOverAFileWithoutATrash_data();
    void downloadOverAFileWithoutATrash();
    void existingTargetIsNeverReplacedUnasked_data();
    void existingTargetIsNeverReplacedUnasked();
};

void TestOverwrite::trashAvailability_data()
{
    QTest::addColumn<QString>("where");    // home, or a path
    QTest::addColumn<bool>("dataElsewhere"); // $XDG_DATA_HOME on another file system
    QTest::addColumn<bool>("expected");
    QTest::newRow("the home's file system") << "home" << false << true;
    QTest::newRow("the data home on another file system") << "home" << true << false;
    QTest::newRow("a kernel file system") << "/proc/zodaru-none" << false << false;
}

// Whether a replaced local file can go to the Trash: only one reached by a rename counts.
void TestOverwrite::trashAvailability()
{
    QFETCH(QString, where);
    QFETCH(bool, dataElsewhere);
    QFETCH(bool, expected);
    ServedHome home;
    QTemporaryDir shared(QStringLiteral("/dev/shm/zodaru-test-XXXXXX"));
    if (!shared.isValid())
        QSKIP("no /dev/shm: no second file system to put the Trash on");
    const QString dataHome = dataElsewhere ? shared.filePath(QStringLiteral("data")) : home.homeFile(QStringLiteral("data"));
    ScopedEnv xdgData("XDG_DATA_HOME", QFile::encodeName(dataHome));
    const QString path = where == QLatin1String("home") ? home.localFile(kName) : where;
    if (where == QLatin1String("home"))
        QVERIFY(writeFile(path, "x"));
    QCOMPARE(Trash::isAvailableFor(path), expected);
    QString error;
    QCOMPARE(Trash::moveToTrash(path, error), expected);
    QCOMPARE(error.isEmpty(), expected);
    QCOMPARE(QFile::exists(dataHome + QStringLiteral("/Trash/files/") + kName), expected);
}

void TestOverwrite::answers_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<Answer>("answer");
    QTest::addColumn<bool>("targetExists");
    QTest::addColumn<QByteArray>("target");     // what the target holds before
    QTest::addColumn<bool>("targetNewer");      // its date after the source's
    QTest::addColumn<QString>("outcome");       // asked, skipped or started
    QTest::addColumn<QByteArray>("afterwards"); // what the target holds after
    QTest::addColumn<QByteArray>("renamed");    // what "report (1).txt" holds; null: absent
    QTest::addColumn<QByteArray>("trashed");    // what the Trash holds; null: nothing
    QTest::addColumn<int>("resumedAt");

    const QByteArray source = patternBytes(40000, 3);
    const QByteArray old = patternBytes(25000, 9);
    const QByteArray sameSize = patternBytes(40000, 10);
    const QByteArray beginning = source.left(15000);
    const QByteArray none;
    for (const bool download : {true, false}) {
        const QByteArray way = download ? "download: " : "upload: ";
        // A replaced local file goes to the Trash; a remote one has none.
        const auto trashed = [download](const QByteArray &bytes) { return download ? bytes : QByteArray(); };
        const auto row = [&way](const char *name) -> QTestData & { return QTest::newRow((way + name).constData()); };
        row("no target, nothing asked") << download << Answer::Ask << false << none << false << "started" << source
                                        << none << none << 0;
        row("ask") << download << Answer::Ask << true << old << false << "asked" << old << none << none << 0;
        row("skip") << download << Answer::Skip << true << old << false << "skipped" << old << none << none << 0;
        row("overwrite") << download << Answer::Overwrite << true << old << true << "started" << source << none
                         << trashed(old) << 0;
        row("if different: sizes differ") << download << Answer::OverwriteIfDifferent << true << old << true
                                          << "started" << source << none << trashed(old) << 0;
        row("if different: same size, source newer") << download << Answer::OverwriteIfDifferent << true << sameSize
                                                     << false << "started" << source << none << trashed(sameSize)
                                                     << 0;
        row("if different: same size, target newer") << download << Answer::OverwriteIfDifferent << true << sameSize
                                                     << true << "skipped" << sameSize << none << none << 0;
        row("resume") << download << Answer::Resume << true << beginning << false << "started" << source << none
                      << none << int(beginning.size());
        row("resume of a longer target") << download << Answer::Resume << true << source + "more" << false
                                         << "skipped" << source + "more" << none << none << 0;
        row("rename") << download << Answer::Rename << true << old << true << "started" << old << source << none
                      << 0;
    }
}

// Each answer on a conflicting file, both ways, through the start job on a real server:
// the bytes on both sides and what the Trash (a private one) holds afterwards.
void TestOverwrite::answers()
{
    QFETCH(bool, download);
    QFETCH(Answer, answer);
    QFETCH(bool, targetExists);
    QFETCH(QByteArray, target);
    QFETCH(bool, targetNewer);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, afterwards);
    QFETCH(QByteArray, renamed);
    QFETCH(QByteArray, trashed);
    QFETCH(int, resumedAt);

    ServedHome home;
    const QString dataHome = home.homeFile(QStringLiteral("data"));
    ScopedEnv xdgData("XDG_DATA_HOME", QFile::encodeName(dataHome));
    QVERIFY2(home.serve(), home.why());
    const QByteArray source = patternBytes(40000, 3);
    const qint64 sourceTime = 1600000000;
    const qint64 targetTime = targetNewer ? sourceTime + 3600 : sourceTime - 3600;
    const QString localPath = home.localFile(kName);
    const QString serverPath = home.server.localPath(kName);
    const QString sourcePath = download ? serverPath : localPath;
    const QString targetPath = download ? localPath : serverPath;
    QVERIFY(writeFile(sourcePath, source));
    QVERIFY(setModified(sourcePath, sourceTime));
    if (targetExists) {
        QVERIFY(writeFile(targetPath, target));
        QVERIFY(setModified(targetPath, targetTime));
    }

    auto ftp = FTP::connectTo(home.server.address(), RealFtpServer::user(), RealFtpServer::password());
    QVERIFY(ftp->isConnected());
    TransferRecorder recorder(ftp.get());
    LogCapture log;
    const TransferStart start = TransferStartJob::start(
        *ftp, {download ? TransferDirection::Download : TransferDirection::Upload, localPath,
               QLatin1Char('/') + kName, 4, answer});
    QCOMPARE(outcomeOf(start), outcome);
    if (outcome == QLatin1String("started")) {
        QVERIFY(recorder.waitForCompletion());
        QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
        QCOMPARE(start.resumedAt, qint64(resumedAt));
    }
    QVERIFY(recorder.flush());
    if (outcome != QLatin1String("started"))
        QCOMPARE(recorder.completions(), 0);
    if (start.conflict) {
        QCOMPARE(start.conflict->targetSize, qint64(target.size()));
        QCOMPARE(start.conflict->sourceSize, qint64(source.size()));
        QCOMPARE(start.conflict->targetModified, targetTime);
        QCOMPARE(start.conflict->sourceModified, sourceTime);
        QVERIFY(start.conflict->hasTrash);
    }
    if (targetExists)
        QVERIFY2(log.contains(QStringLiteral("Fichier existant %1 : %2")
                                  .arg(download ? localPath : QLatin1Char('/') + kName, answerWord(answer))),
                 qPrintable(log.lines().join('\n')));

    QCOMPARE(readFile(targetPath), afterwards);
    QCOMPARE(readFile(sourcePath), source);
    const QString renamedPath = download ? home.localFile(kRenamed) : home.server.localPath(kRenamed);
    QCOMPARE(QFile::exists(renamedPath), !renamed.isNull());
    if (!renamed.isNull())
        QCOMPARE(readFile(renamedPath), renamed);
    const QString inTrash = dataHome + QStringLiteral("/Trash/files/") + kName;
    QCOMPARE(QFile::exists(inTrash), !trashed.isNull());
    if (!trashed.isNull())
        QCOMPARE(readFile(inTrash), trashed);
    // Nothing else is left beside the files: no partial file.
    QStringList expectedLocal{kName};
    if (download && !renamed.isNull())
        expectedLocal << kRenamed;
    expectedLocal.sort();
    QCOMPARE(QDir(home.localDir()).entryList(QDir::Files | QDir::Hidden, QDir::Name), expectedLocal);
    QVERIFY(ftp->isConnected());
    ftp->shutdown();
}

void TestOverwrite::stoppedResumeGivesTheFileBack_data()
{
    QTest::addColumn<bool>("serverChangesFile"); // the file changed after the question
    QTest::newRow("stopped by the user") << false;
    QTest::newRow("file changed on the server") << true;
}

// A resumed download takes the user's own file over as its partial file: stopped, or not
// continued after all, it is given back under its name and never emptied or removed.
void TestOverwrite::stoppedResumeGivesTheFileBack()
{
    QFETCH(bool, serverChangesFile);
    ServedHome home;
    QVERIFY2(home.serve(), home.why());
    const QByteArray source = patternBytes(48 << 20, 3);
    const QByteArray beginning = source.left(15000);
    const QString localPath = home.localFile(kName);
    QVERIFY(writeFile(home.server.localPath(kName), source));
    QVERIFY(writeFile(localPath, beginning));

    auto ftp = FTP::connectTo(home.server.address(), RealFtpServer::user(), RealFtpServer::password());
    QVERIFY(ftp->isConnected());
    TransferRecorder recorder(ftp.get());
    if (serverChangesFile) {
        // Continued from the first byte: the file had to be emptied, and is not.
        QVERIFY(setModified(localPath, 1500000000));
        QString error;
        PartOrigin origin{QStringLiteral("elsewhere:21"), QStringLiteral("u"), "/other", 1, 1};
        QVERIFY2(continueAsPart(localPath, origin, error), qPrintable(error));
        ftp->get(QLatin1Char('/') + kName, localPath, 4);
    } else {
        const TransferStart start = TransferStartJob::start(
            *ftp, {TransferDirection::Download, localPath, QLatin1Char('/') + kName, 4, ConflictAnswer::Resume});
        QCOMPARE(start.resumedAt, qint64(beginning.size()));
        ftp->cancelTransfer();
        QVERIFY(recorder.waitForCompletion());
    }
    QVERIFY(FTP::waitForTransfers(10000));
    const QByteArray after = readFile(localPath);
    QVERIFY2(after.size() >= beginning.size(), qPrintable(QString::number(after.size())));
    QVERIFY(source.startsWith(after));
    if (serverChangesFile)
        QCOMPARE(after, beginning);
    QCOMPARE(QDir(home.localDir()).entryList(QDir::Files | QDir::Hidden), QStringList{kName});
    ftp->shutdown();
}

void TestOverwrite::nothingAskedOfWhatCannotBeReplaced_data()
{
    QTest::addColumn<bool>("download");
    QTest::addColumn<QString>("local"); // "missing", "directory"
    QTest::addColumn<QString>("outcome");
    // The upload fails before any command: there is nothing to replace the target with.
    QTest::newRow("upload of a missing file") << false << "missing" << "failed";
    QTest::newRow("upload of a directory") << false << "directory" << "failed";
    // A directory is no file the download could replace: it runs, and fails at its end.
    QTest::newRow("download onto a directory") << true << "directory" << "started";
}

// Only a file the transfer would replace is asked about; what it cannot replace is left
// to fail on its own, and stays as it was.
void TestOverwrite::nothingAskedOfWhatCannotBeReplaced()
{
    QFETCH(bool, download);
    QFETCH(QString, local);
    QFETCH(QString, outcome);
    ServedHome home;
    QVERIFY2(home.serve({{kName, "on the server"}}), home.why());
    if (local == QLatin1String("directory"))
        QVERIFY(QDir(home.localDir()).mkdir(kName));
    auto ftp = FTP::connectTo(home.server.address(), RealFtpServer::user(), RealFtpServer::password());
    QVERIFY(ftp->isConnected());
    TransferRecorder recorder(ftp.get());
    const TransferStart start =
        TransferStartJob::start(*ftp, {download ? TransferDirection::Download : TransferDirection::Upload,
                                       home.localFile(kName), QLatin1Char('/') + kName, 2, Answer::Ask});
    QCOMPARE(outcomeOf(start), outcome);
    if (outcome == QLatin1String("started")) {
        QVERIFY(recorder.waitForCompletion());
        QCOMPARE(recorder.completion().userInfo.value(QStringLiteral("status")), QStringLiteral("-1"));
    }
    QCOMPARE(home.server.readFile(kName), QByteArray("on the server"));
    QCOMPARE(QFileInfo(home.localFile(kName)).isDir(), local == QLatin1String("directory"));
    QVERIFY(ftp->isConnected());
    ftp->shutdown();
}

void TestOverwrite::downloadOverAFileWithoutATrash_data()
{
    QTest::addColumn<Answer>("answer");
    QTest::newRow("ask") << Answer::Ask;
    QTest::newRow("overwrite") << Answer::Overwrite;
}

// Where the local file system has no Trash the question says so, and an Overwrite still
// replaces the file (the user was told it cannot be got back).
void TestOverwrite::downloadOverAFileWithoutATrash()
{
    QFETCH(Answer, answer);
    ServedHome home;
    QTemporaryDir shared(QStringLiteral("/dev/shm/zodaru-test-XXXXXX"));
    if (!shared.isValid())
        QSKIP("no /dev/shm: no second file system to put the Trash on");
    ScopedEnv xdgData("XDG_DATA_HOME", QFile::encodeName(shared.filePath(QStringLiteral("data"))));
    QVERIFY2(home.serve({{kName, "new content"}}), home.why());
    QVERIFY(writeFile(home.localFile(kName), "old"));
    auto ftp = FTP::connectTo(home.server.address(), RealFtpServer::user(), RealFtpServer::password());
    QVERIFY(ftp->isConnected());
    TransferRecorder recorder(ftp.get());
    const TransferStart start = TransferStartJob::start(
        *ftp, {TransferDirection::Download, home.localFile(kName), QLatin1Char('/') + kName, 1, answer});
    if (answer == Answer::Ask) {
        QVERIFY(start.conflict);
        QVERIFY(!start.conflict->hasTrash);
        QCOMPARE(readFile(home.localFile(kName)), QByteArray("old"));
    } else {
        QCOMPARE(outcomeOf(start), QStringLiteral("started"));
        QVERIFY(recorder.waitForCompletion());
        QCOMPARE(readFile(home.localFile(kName)), QByteArray("new content"));
    }
    QVERIFY(!QFileInfo::exists(shared.filePath(QStringLiteral("data/Trash"))));
    ftp->shutdown();
}

void TestOverwrite::existingTargetIsNeverReplacedUnasked_data()
{
    QTest::addColumn<bool>("download");
    QTest::newRow("get") << true;
    QTest::newRow("put") << false;
}

// Get or Put on a file whose target exists: the program asks (Skip the default) and the
// target stays as it was.
void TestOverwrite::existingTargetIsNeverReplacedUnasked()
{
    QFETCH(bool, download);
    AppHarness h;
    ScopedEnv xdgData("XDG_DATA_HOME", QFile::encodeName(h.homeFile(QStringLiteral("data"))));
    const QByteArray source = patternBytes(30000, 5);
    const QByteArray target = patternBytes(20000, 6);
    QVERIFY2(h.serve({{kName, download ? source : target}}), h.why());
    QVERIFY(writeFile(h.localFile(kName), download ? target : source));
    QVERIFY2(h.launchConnected(), h.why());
    if (download) {
        QVERIFY(AppHarness::select(h.remote(), 0, {kName}));
        h.window().Get()->click();
    } else {
        h.controller().refreshLocal();
        QVERIFY(AppHarness::select(h.local(), h.local().lastVisibleColumn(), {kName}));
        h.window().Put()->click();
    }
    const auto question = [&h]() -> OverwriteDialog * {
        const auto dialogs = h.window().findChildren<OverwriteDialog *>();
        return dialogs.isEmpty() ? nullptr : dialogs.first();
    };
    const QList<File> &queue = download ? h.downloads() : h.uploads();
    QTRY_VERIFY_WITH_TIMEOUT(question() || AppHarness::allFinished(queue), 30000);
    if (OverwriteDialog *dialog = question()) {
        QVERIFY(dialog->isVisible());
        QVERIFY(h.window().isEnabled());
        QVERIFY(dialog->button(Answer::Skip)->isDefault());
        QVERIFY(!AppHarness::allFinished(queue)); // the queue waits for the answer
        dialog->button(Answer::Skip)->click();
        QTRY_VERIFY_WITH_TIMEOUT(AppHarness::allFinished(queue), 30000);
    }
    QCOMPARE(readFile(download ? h.localFile(kName) : h.server.localPath(kName)), target);
    QVERIFY(!QFile::exists(h.homeFile(QStringLiteral("data/Trash/files/")) + kName));
}

QTEST_MAIN(TestOverwrite)
#include "tst_overwrite.moc"
