// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer queue on its own, with a stand-in start whose replies the test gives: what
// the user does with its rows, folder rows, and the questions about existing targets.
// Each case is a script of steps and the queue it leaves.
#include "app/TransferQueue.h"

#include "support/TestSupport.h"

#include <QMap>
#include <QTest>

using namespace zodaru;

namespace {

QString answerName(ConflictAnswer answer)
{
    switch (answer) {
    case ConflictAnswer::Ask: return QString();
    case ConflictAnswer::Overwrite: return QStringLiteral("(overwrite)");
    case ConflictAnswer::OverwriteIfDifferent: return QStringLiteral("(ifdifferent)");
    case ConflictAnswer::Resume: return QStringLiteral("(resume)");
    case ConflictAnswer::Rename: return QStringLiteral("(rename)");
    case ConflictAnswer::Skip: return QStringLiteral("(skip)");
    }
    return QString();
}

ConflictAnswer answerNamed(const QString &word)
{
    static const QMap<QString, ConflictAnswer> answers{{"overwrite", ConflictAnswer::Overwrite},
                                                       {"ifdifferent", ConflictAnswer::OverwriteIfDifferent},
                                                       {"resume", ConflictAnswer::Resume},
                                                       {"rename", ConflictAnswer::Rename},
                                                       {"skip", ConflictAnswer::Skip},
                                                       {"none", ConflictAnswer::Ask}};
    return answers.value(word, ConflictAnswer::Ask);
}

// Facts of an existing target of each class.
TargetFacts factsOf(const QString &kind)
{
    TargetFacts facts;
    facts.sourceSize = 10;
    facts.sourceModified = 1000;
    facts.targetSize = kind == u"same" ? 10 : 7;
    facts.targetModified = kind == u"newer" ? 2000 : 500;
    facts.canResume = kind == u"resumable";
    return facts;
}

// A queue whose starts wait for the test's replies; ended transfers run the next pass, as
// the application does.
class Bench {
public:
    struct Pending {
        qint32 id;
        TransferQueue::Started started;
    };
    QList<Pending> pending;
    QStringList starts;  // names started, with the answer they carried
    QStringList asked;   // names the user was asked about
    QList<TransferQueue::Answered> answers;
    QStringList stops; // names whose transfer was stopped
    int capacity = 1;
    QMap<QString, qint32> ids;
    TransferQueue queue{TransferDirection::Download,
                        [this](const File &entry, const QString &, const QString &, TransferQueue::Started started) {
                            starts << entry.name() + answerName(entry.conflictAnswer());
                            pending.append({qint32(entry.getID()), std::move(started)});
                        },
                        [] {}, [this](qint32 id) { stops << ids.key(id); }};

    Bench()
    {
        queue.setCapacity([this] { return capacity; });
        queue.setConflictQuestion([this](const File &entry, const TargetFacts &, TransferQueue::Answered answered) {
            asked << entry.name();
            answers.append(std::move(answered));
        });
    }

    int indexOf(const QString &name) const { return queue.indexOf(ids.value(name)); }
    QList<int> indexesOf(const QString &names) const
    {
        QList<int> out;
        for (const QString &name : names.split(QLatin1Char(',')))
            out << indexOf(name);
        return out;
    }

    // Replies to the oldest start, or to the start of `name` when given.
    void reply(const TransferStart &start, const QString &name = QString())
    {
        QVERIFY(!pending.isEmpty());
        qsizetype at = 0;
        while (!name.isEmpty() && at < pending.size() && pending[at].id != ids.value(name))
            ++at;
        QVERIFY(at < pending.size());
        pending.takeAt(at).started(start);
    }

    void step(const QStringList &w)
    {
        const QString &verb = w[0];
        if (verb == u"add" || verb == u"in") {
            const qint32 group = verb == u"in" ? ids.value(w[1]) : 0;
            for (qsizetype i = verb == u"in" ? 2 : 1; i < w.size(); ++i) {
                File entry(w[i], 10, 0);
                entry.setLocalPath(QStringLiteral("/l"));
                entry.setRemotePath(QStringLiteral("/r"));
                entry.setGroup(group);
                ids[w[i]] = queue.append(entry);
            }
        } else if (verb == u"folder") {
            ids[w[1]] = queue.appendFolder(File(w[1], 0, 1));
        } else if (verb == u"walked") {
            queue.folderWalkEnded(ids.value(w[1]), w.size() < 3);
        } else if (verb == u"pass") {
            queue.runPass();
        } else if (verb == u"ok" || verb == u"refuse") {
            TransferStart start;
            start.code = verb == u"ok" ? 150 : 550;
            reply(start, w.value(1));
        } else if (verb == u"again") {
            TransferStart start;
            start.again = true;
            reply(start, w.value(1));
        } else if (verb == u"capacity") {
            capacity = w[1].toInt();
        } else if (verb == u"conflict") {
            TransferStart start;
            start.conflict = factsOf(w[1]);
            reply(start);
        } else if (verb == u"skipped") {
            TransferStart start;
            start.skipped = true;
            reply(start);
        } else if (verb == u"done" || verb == u"fail") {
            queue.completed(ids.value(w[1]), verb == u"done");
            queue.runPass();
        } else if (verb == u"chunk") {
            queue.chunk(ids.value(w[1]), w[2].toLongLong());
        } else if (verb == u"cancel") {
            queue.cancel(indexOf(w[1]));
        } else if (verb == u"retry") {
            queue.retry(indexOf(w[1]));
        } else if (verb == u"remove") {
            queue.remove(indexesOf(w[1]));
        } else if (verb == u"move") {
            queue.move(indexesOf(w[1]), w[2] == u"end" ? int(queue.entries().size()) : indexOf(w[2]));
        } else if (verb == u"retryfailed") {
            queue.retryFailed();
        } else if (verb == u"clearfinished") {
            queue.clearFinished();
        } else if (verb == u"pause") {
            queue.setPaused(true);
        } else if (verb == u"resume") {
            queue.setPaused(false);
            queue.runPass();
        } else if (verb == u"answer") {
            QVERIFY(!answers.isEmpty());
            answers.takeFirst()(answerNamed(w[1]), w.size() > 2);
        } else if (verb == u"clear") {
            queue.clear();
        } else if (verb == u"hold") {
            queue.holdUnfinished();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown step ") + verb));
        }
    }

    void run(const QString &script)
    {
        for (const QString &text : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            step(text.simplified().split(QLatin1Char(' ')));
            if (QTest::currentTestFailed())
                return;
        }
    }

    // "a:R" per file (Waiting, Running, Done, Error, Cancelled, Skipped, Asking), and
    // "F:done/found,bytes done/found,state" per folder row (~ while walked).
    QString shown() const
    {
        QStringList out;
        for (const File &e : queue.entries()) {
            if (e.isDir()) {
                out << QStringLiteral("%1:%2/%3,%4/%5,%6%7")
                           .arg(e.name())
                           .arg(e.filesDone())
                           .arg(e.filesFound())
                           .arg(e.currentsize())
                           .arg(e.size())
                           .arg(e.hasError() ? "E" : e.isFinished() ? "D" : "W")
                           .arg(e.isWalking() ? "~" : "");
                continue;
            }
            const char *state = e.isAsking()      ? "A"
                                : e.isSkipped()   ? "S"
                                : e.isCancelled() ? "C"
                                : e.hasError()    ? "E"
                                : e.isFinished()  ? "D"
                                : e.isCurrent()   ? "R"
                                                  : "W";
            out << e.name() + QLatin1Char(':') + QLatin1String(state);
        }
        return out.join(QLatin1Char(' '));
    }
};

} // namespace

class TestQueueOperations final : public QObject {
    Q_OBJECT

    void addScriptColumns()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("queue");
        QTest::addColumn<QStringList>("starts");
    }
    void checkScript()
    {
        QFETCH(QString, script);
        QFETCH(QString, queue);
        QFETCH(QStringList, starts);
        Bench bench;
        bench.run(script);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(bench.shown(), queue);
        QCOMPARE(bench.starts, starts);
    }

private Q_SLOTS:
    void init() { setLogSink([](const QString &) {}); }
    void cleanup() { setLogSink({}); }

    void operations_data()
    {
        addScriptColumns();
        using L = QStringList;
        QTest::newRow("remove a waiting entry") << "add a b c; pass; remove b" << "a:R c:W" << L{"a"};
        QTest::newRow("remove the running one: it goes at its end")
            << "add a b; pass; ok; remove a" << "a:C b:W" << L{"a"};
        QTest::newRow("removed running one, ended") << "add a b; pass; ok; remove a; fail a" << "b:R" << L{"a", "b"};
        QTest::newRow("removed while its start is on its way")
            << "add a b; pass; remove a; ok; fail a" << "b:R" << L{"a", "b"};
        QTest::newRow("removed several, running among them")
            << "add a b c d; pass; ok; remove a,c,d" << "a:C b:W" << L{"a"};
        QTest::newRow("move a waiting entry up") << "add a b c; pass; move c b; ok; done a" << "a:D c:R b:W"
                                                 << L{"a", "c"};
        QTest::newRow("the moved running entry keeps its ID")
            << "add a b c; pass; ok; move a end; done a" << "b:R c:W a:D" << L{"a", "b"};
        QTest::newRow("entries moved before a finished head")
            << "add a b c d; pass; ok; done a; ok; done b; move d a; ok; done c" << "d:R a:D b:D c:D"
            << L{"a", "b", "c", "d"};
        QTest::newRow("move down past the end stays last") << "add a b c; move b,c end" << "a:W b:W c:W" << L{};
        QTest::newRow("retry all failed")
            << "add a b c; pass; refuse; ok; fail b; ok; done c; retryfailed" << "a:R b:W c:D"
            << L{"a", "b", "c", "a"};
        QTest::newRow("retry all takes cancelled ones too")
            << "add a b c; cancel b; cancel c; pass; ok; done a; retryfailed" << "a:D b:R c:W" << L{"a", "b"};
        QTest::newRow("clear finished keeps failed and running")
            << "add a b c d; pass; ok; done a; refuse; skipped; ok; clearfinished" << "b:E d:R"
            << L{"a", "b", "c", "d"};
        QTest::newRow("paused: the running one ends, nothing new starts")
            << "add a b; pass; pause; ok; done a" << "a:D b:W" << L{"a"};
        QTest::newRow("resumed") << "add a b; pass; pause; ok; done a; resume" << "a:D b:R" << L{"a", "b"};
        QTest::newRow("paused before anything ran") << "add a; pause; pass" << "a:W" << L{};
        QTest::newRow("retried while its cancelled run ends")
            << "add a b; pass; ok; cancel a; retry a; pass" << "a:W b:W" << L{"a"};
        QTest::newRow("retried, started after its cancelled run ended")
            << "add a b; pass; ok; cancel a; retry a; fail a" << "a:R b:W" << L{"a", "a"};
        QTest::newRow("an end reported before its start")
            << "add a b; pass; done a; pass; ok" << "a:D b:R" << L{"a", "b"};
        QTest::newRow("a session ends: unfinished ones wait again")
            << "add a b c; pass; ok; done a; ok; chunk b 4; hold; pass" << "b:R c:W" << L{"a", "b", "b"};
        QTest::newRow("a start answered after the queue was cleared") << "add a; pass; clear; add b; ok; pass"
                                                                      << "b:R" << L{"a", "b"};
    }
    void operations() { checkScript(); }

    // Several entries at once: as many run as the capacity lets, in order; each end makes
    // room for the next waiting one.
    void severalAtOnce_data()
    {
        addScriptColumns();
        QTest::addColumn<QStringList>("stopped");
        using L = QStringList;
        QTest::newRow("starts up to the capacity") << "capacity 3; add a b c d; pass" << "a:R b:R c:R d:W"
                                                   << L{"a", "b", "c"} << L{};
        QTest::newRow("an end makes room for the next")
            << "capacity 2; add a b c; pass; ok a; ok b; done b" << "a:R b:D c:R" << L{"a", "b", "c"} << L{};
        QTest::newRow("a refused start makes room at once")
            << "capacity 2; add a b c; pass; refuse b" << "a:R b:E c:R" << L{"a", "b", "c"} << L{};
        QTest::newRow("cancel one of several stops only that one")
            << "capacity 3; add a b c; pass; ok; ok; ok; cancel b" << "a:R b:C c:R" << L{"a", "b", "c"} << L{"b"};
        QTest::newRow("cancelled while starting: stopped once it runs")
            << "capacity 2; add a b; pass; cancel b; ok a; ok b" << "a:R b:C" << L{"a", "b"} << L{"b", "b"};
        QTest::newRow("no engine for one: it waits for the next free one")
            << "capacity 3; add a b c; pass; capacity 2; again b" << "a:R b:W c:R" << L{"a", "b", "c"} << L{};
        QTest::newRow("then it starts at the next end")
            << "capacity 3; add a b c; pass; capacity 2; again b; ok a; done a" << "a:D b:R c:R"
            << L{"a", "b", "c", "b"} << L{};
        QTest::newRow("a retried entry waits for its cancelled run, others go on")
            << "capacity 2; add a b c; pass; ok a; ok b; cancel a; retry a; done b" << "a:W b:D c:R"
            << L{"a", "b", "c"} << L{"a"};
        QTest::newRow("then it starts once that run ended")
            << "capacity 3; add a b c; pass; ok a; cancel a; retry a; fail a" << "a:R b:R c:R"
            << L{"a", "b", "c", "a"} << L{"a"};
        QTest::newRow("a smaller capacity lets the running ones end")
            << "capacity 3; add a b c d; pass; ok; ok; ok; capacity 1; done a; done b" << "a:D b:D c:R d:W"
            << L{"a", "b", "c"} << L{};
        QTest::newRow("a larger capacity starts more at the next pass")
            << "add a b c; pass; capacity 3; pass" << "a:R b:R c:R" << L{"a", "b", "c"} << L{};
        QTest::newRow("a question holds new starts, running ones go on")
            << "capacity 2; add a b c; pass; conflict different; ok b; done b" << "a:A b:D c:W" << L{"a", "b"}
            << L{};
        QTest::newRow("paused: nothing new starts beside the running ones")
            << "capacity 2; add a b c; pass; pause; ok a; done a" << "a:D b:R c:W" << L{"a", "b"} << L{};
    }
    void severalAtOnce()
    {
        QFETCH(QString, script);
        QFETCH(QString, queue);
        QFETCH(QStringList, starts);
        QFETCH(QStringList, stopped);
        Bench bench;
        bench.run(script);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(bench.shown(), queue);
        QCOMPARE(bench.starts, starts);
        QCOMPARE(bench.stops, stopped);
    }

    void folderRows_data()
    {
        addScriptColumns();
        using L = QStringList;
        QTest::newRow("files found while walked") << "folder F; in F x y; chunk x 4; pass; ok; chunk x 4"
                                                  << "F:0/2,4/20,W~ x:R y:W" << L{"x"};
        QTest::newRow("done once walked and its files finished")
            << "folder F; in F x y; pass; ok; done x; walked F; ok; done y" << "F:2/2,20/20,D x:D y:D" << L{"x", "y"};
        QTest::newRow("files done before the walk ended: not done yet")
            << "folder F; in F x; pass; ok; done x" << "F:1/1,10/10,W~ x:D" << L{"x"};
        QTest::newRow("an empty folder is done when walked") << "folder F; walked F" << "F:0/0,0/0,D" << L{};
        QTest::newRow("a failed file fails it") << "folder F; in F x y; walked F; pass; refuse; ok; done y"
                                                << "F:1/2,10/20,E x:E y:D" << L{"x", "y"};
        QTest::newRow("an incomplete walk fails it")
            << "folder F; in F x; walked F partly; pass; ok; done x" << "F:1/1,10/10,E x:D" << L{"x"};
        QTest::newRow("its failed file retried, it counts on")
            << "folder F; in F x y; walked F; pass; refuse; ok; done y; retry x" << "F:1/2,10/20,W x:R y:D"
            << L{"x", "y", "x"};
        QTest::newRow("retried from its row, then done")
            << "folder F; in F x y; walked F; pass; refuse; ok; done y; retry F; ok; done x"
            << "F:2/2,20/20,D x:D y:D" << L{"x", "y", "x"};
        QTest::newRow("a skipped file counts as done") << "folder F; in F x; walked F; pass; skipped"
                                                       << "F:1/1,10/10,D x:S" << L{"x"};
        QTest::newRow("a cancelled file fails it, its bytes no longer count")
            << "folder F; in F x y; walked F; pass; ok; chunk x 3; cancel x; fail x; ok; done y"
            << "F:1/2,10/20,E x:C y:D" << L{"x", "y"};
        QTest::newRow("cancelling the folder row cancels its files")
            << "folder F; in F x y; add z; walked F; pass; ok; cancel F" << "F:0/2,0/20,E x:C y:C z:W" << L{"x"};
        QTest::newRow("then the next entry starts at the end of the cancelled one")
            << "folder F; in F x y; add z; walked F; pass; ok; cancel F; fail x" << "F:0/2,0/20,E x:C y:C z:R"
            << L{"x", "z"};
        QTest::newRow("files found after the folder row was cancelled arrive cancelled")
            << "folder F; in F x; add z; pass; ok; cancel F; in F y; fail x; walked F" << "F:0/2,0/20,E x:C z:R y:C"
            << L{"x", "z"};
        QTest::newRow("removing the folder row takes its waiting files")
            << "folder F; in F x y; add z; remove F" << "z:W" << L{};
        QTest::newRow("removing the folder row cancels its running file")
            << "folder F; in F x y; add z; pass; ok; remove F" << "x:C z:W" << L{"x"};
        QTest::newRow("then the next entry starts") << "folder F; in F x y; add z; pass; ok; remove F; fail x"
                                                    << "z:R" << L{"x", "z"};
        QTest::newRow("a removed waiting file no longer counts")
            << "folder F; in F x y; walked F; remove y; pass; ok; done x" << "F:1/1,10/10,D x:D" << L{"x"};
        QTest::newRow("finished folders are cleared with their files")
            << "folder F; in F x; walked F; folder G; in G y; pass; ok; done x; ok; clearfinished" << "G:0/1,0/10,W~ y:R"
            << L{"x", "y"};
        QTest::newRow("a session ends during the walk") << "folder F; in F x y; pass; ok; done x; hold"
                                                        << "F:1/2,10/20,W y:W" << L{"x", "y"};
    }
    void folderRows() { checkScript(); }

    void conflicts_data()
    {
        addScriptColumns();
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<QStringList>("logged");
        using L = QStringList;
        QTest::newRow("asked, the queue waits") << "add a b; pass; conflict different" << "a:A b:W" << L{"a"} << L{"a"}
                                                << L{};
        QTest::newRow("overwrite: started again with the answer")
            << "add a b; pass; conflict different; answer overwrite" << "a:R b:W" << L{"a", "a(overwrite)"} << L{"a"}
            << L{"Fichier existant <a> : reponse ecraser"};
        QTest::newRow("skip: the next one starts") << "add a b; pass; conflict different; answer skip"
                                                   << "a:S b:R" << L{"a", "b"} << L{"a"}
                                                   << L{"Fichier existant <a> : reponse passer"};
        QTest::newRow("no answer loses nothing") << "add a; pass; conflict same; answer none" << "a:S" << L{"a"}
                                                 << L{"a"} << L{"Fichier existant <a> : reponse passer"};
        QTest::newRow("once only: the next one of the class is asked")
            << "add a b; pass; conflict same; answer rename; ok; done a; conflict same" << "a:D b:A"
            << L{"a", "a(rename)", "b"} << L{"a", "b"} << L{"Fichier existant <a> : reponse renommer"};
        QTest::newRow("to all: the same class is not asked again")
            << "add a b; pass; conflict same; answer overwrite all; ok; done a; conflict same" << "a:D b:R"
            << L{"a", "a(overwrite)", "b", "b(overwrite)"} << L{"a"}
            << L{"Fichier existant <a> : reponse ecraser", "Fichier existant <b> : reponse ecraser (pour tous)"};
        QTest::newRow("to all: another class is asked")
            << "add a b; pass; conflict same; answer overwrite all; ok; done a; conflict newer" << "a:D b:A"
            << L{"a", "a(overwrite)", "b"} << L{"a", "b"} << L{"Fichier existant <a> : reponse ecraser"};
        QTest::newRow("skip to all: skipped without a start")
            << "add a b c; pass; conflict resumable; answer skip all; conflict resumable" << "a:S b:S c:R"
            << L{"a", "b", "c"} << L{"a"}
            << L{"Fichier existant <a> : reponse passer", "Fichier existant <b> : reponse passer (pour tous)"};
        QTest::newRow("to all is forgotten when the queue is cleared")
            << "add a; pass; conflict same; answer skip all; clear; add b; pass; conflict same" << "b:A" << L{"a", "b"}
            << L{"a", "b"} << L{"Fichier existant <a> : reponse passer"};
        QTest::newRow("an answer after the queue was cleared starts nothing")
            << "add a; pass; conflict different; clear; add b; answer overwrite" << "b:W" << L{"a"} << L{"a"} << L{};
        QTest::newRow("an answer after a session ended starts nothing")
            << "add a; pass; conflict different; hold; answer overwrite" << "a:W" << L{"a"} << L{"a"} << L{};
        QTest::newRow("the asked entry removed: the queue goes on")
            << "add a b; pass; conflict different; remove a; answer overwrite" << "b:R" << L{"a", "b"} << L{"a"}
            << L{};
        QTest::newRow("the asked entry cancelled: the queue goes on")
            << "add a b; pass; conflict different; cancel a" << "a:C b:R" << L{"a", "b"} << L{"a"} << L{};
        QTest::newRow("asked again after an answer: failed, not asked for ever")
            << "add a b; pass; conflict same; answer resume; conflict same" << "a:E b:R" << L{"a", "a(resume)", "b"}
            << L{"a"} << L{"Fichier existant <a> : reponse reprendre"};
        QTest::newRow("a start that skipped") << "add a b; pass; skipped" << "a:S b:R" << L{"a", "b"} << L{} << L{};
        QTest::newRow("conflicts in a folder: one answer for the class")
            << "folder F; in F x y; walked F; pass; conflict same; answer skip all; conflict same"
            << "F:2/2,20/20,D x:S y:S" << L{"x", "y"} << L{"x"}
            << L{"Fichier existant <x> : reponse passer", "Fichier existant <y> : reponse passer (pour tous)"};
    }
    void conflicts()
    {
        QFETCH(QString, script);
        QFETCH(QString, queue);
        QFETCH(QStringList, starts);
        QFETCH(QStringList, asked);
        QFETCH(QStringList, logged);
        LogCapture log;
        Bench bench;
        bench.run(script);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(bench.shown(), queue);
        QCOMPARE(bench.starts, starts);
        QCOMPARE(bench.asked, asked);
        QCOMPARE(linesStartingWith(log, QStringLiteral("Fichier existant")), logged);
    }

    // IDs are given once: never again after a removal, a move or a clear.
    void idsAreNeverReused()
    {
        Bench bench;
        bench.run("add a b c; remove c; add d; move d a; clear; add e");
        QCOMPARE(bench.ids.value("a"), 1);
        QCOMPARE(bench.ids.value("c"), 3);
        QCOMPARE(bench.ids.value("d"), 4);
        QCOMPARE(bench.ids.value("e"), 5);
        QCOMPARE(bench.queue.entries().first().getID(), 5);
    }

    // A file of a folder row the user removed is not queued: its walk can stop.
    void filesOfARemovedFolderAreDropped()
    {
        Bench bench;
        bench.run("folder F; in F x; remove F");
        File late(QStringLiteral("y"), 1, 0);
        late.setGroup(bench.ids.value("F"));
        QCOMPARE(bench.queue.append(late), 0);
        QVERIFY(bench.queue.entries().isEmpty());
    }

private:
    static QStringList linesStartingWith(const LogCapture &log, const QString &prefix)
    {
        QStringList out;
        for (const QString &line : log.lines())
            if (line.startsWith(prefix))
                out << line;
        return out;
    }
};

QTEST_GUILESS_MAIN(TestQueueOperations)
#include "tst_queueoperations.moc"
