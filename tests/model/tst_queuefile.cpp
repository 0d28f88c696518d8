// SPDX-License-Identifier: GPL-3.0-or-later
// The saved transfer queue as bytes: entries come back as they went, whatever their names,
// states and folders; documents that are not such a queue are refused whole.
#include "model/QueueFile.h"

#include "base/ByteNames.h"

#include <QTest>

using namespace zodaru;
using State = QueueFile::EntryState;

Q_DECLARE_METATYPE(SavedSite)

namespace {

// Every field the file keeps, as one line per entry.
QString described(const File &f)
{
    return QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9|%10|%11|%12")
        .arg(QString::fromLatin1(bytesOfName(f.name()).toHex()), QString::fromLatin1(bytesOfName(f.displayName()).toHex()),
             QString::fromLatin1(bytesOfName(f.localpath()).toHex()),
             QString::fromLatin1(bytesOfName(f.remotepath()).toHex()))
        .arg(f.getID())
        .arg(f.size())
        .arg(f.modified())
        .arg(f.group())
        .arg(int(QueueFile::stateOf(f)))
        .arg(int(f.conflictAnswer()))
        .arg(f.isDir() ? QStringLiteral("dir %1/%2/%3 %4")
                             .arg(f.filesFound())
                             .arg(f.filesDone())
                             .arg(f.filesFailed())
                             .arg(f.walkIncomplete())
                       : QStringLiteral("file"))
        .arg(f.currentsize());
}

QStringList described(const SavedSite &site)
{
    QStringList out{site.server, site.login};
    for (const File &f : site.downloads)
        out << QStringLiteral("down ") + described(f);
    for (const File &f : site.uploads)
        out << QStringLiteral("up ") + described(f);
    return out;
}

File entry(const QString &name, qint32 id, State state = State::Waiting)
{
    File f(name, 1234, 0);
    f.setID(id);
    f.setLocalPath(QStringLiteral("/home/me/Downloads"));
    f.setRemotePath(QStringLiteral("/pub"));
    f.setModified(1600000000);
    QueueFile::setState(f, state);
    return f;
}

SavedSite site(QList<File> downloads, QList<File> uploads = {})
{
    return SavedSite{QStringLiteral("ftp://127.0.0.1:2121"), QStringLiteral("me"), std::move(downloads),
                     std::move(uploads)};
}

const QString kNotUtf8 = nameFromBytes("caf\xe9 \xff.txt");

} // namespace

class TestQueueFile final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void roundTrip_data();
    void roundTrip();
    void allSitesInOneDocument();
    void refused_data();
    void refused();
    void siteKey_data();
    void siteKey();
};

void TestQueueFile::roundTrip_data()
{
    QTest::addColumn<SavedSite>("saved");

    QTest::newRow("plain download") << site({entry(QStringLiteral("a.txt"), 1)});
    QTest::newRow("names with spaces") << site({}, {[] {
        File f = entry(QStringLiteral("my report (final).pdf"), 7);
        f.setLocalPath(QStringLiteral("/home/me/My Documents"));
        f.setRemotePath(QStringLiteral("/in box"));
        return f;
    }()});
    QTest::newRow("bytes that are not UTF-8") << site({[] {
        File f = entry(kNotUtf8, 2);
        f.setLocalPath(nameFromBytes("/home/me/\xc3("));
        f.setRemotePath(nameFromBytes("/pub/\x80"));
        f.setDisplayName(nameFromBytes("d\xe9j\xe0/") + kNotUtf8);
        return f;
    }()});
    QTest::newRow("unknown date, no size") << site({[] {
        File f(QStringLiteral("x"), 0, 0);
        f.setID(3);
        return f;
    }()});
    QTest::newRow("large size and id") << site({[] {
        File f = entry(QStringLiteral("big.iso"), 2147483647);
        f.setSize(qint64(5) << 40);
        return f;
    }()});
    for (const State state : {State::Waiting, State::Running, State::Failed, State::Cancelled, State::Done,
                              State::Skipped})
        QTest::addRow("state %d", int(state)) << site({entry(QStringLiteral("s"), 4, state)},
                                                      {entry(QStringLiteral("t"), 5, state)});
    for (const ConflictAnswer answer : {ConflictAnswer::Overwrite, ConflictAnswer::OverwriteIfDifferent,
                                        ConflictAnswer::Resume, ConflictAnswer::ResumeOrAsk, ConflictAnswer::Rename,
                                        ConflictAnswer::Skip}) {
        File f = entry(QStringLiteral("answered"), 6);
        f.setConflictAnswer(answer);
        QTest::addRow("answer %d", int(answer)) << site({}, {f});
    }
    // A folder row and its files in its group, one walk incomplete.
    File folder(QStringLiteral("photos"), 9000, 1);
    folder.setID(10);
    folder.setLocalPath(QStringLiteral("/home/me"));
    folder.setRemotePath(QStringLiteral("/pub"));
    folder.setFileCounts(40, 37);
    folder.setFilesFailed(1);
    folder.setWalkIncomplete(true);
    File inside = entry(QStringLiteral("a.jpg"), 11);
    inside.setGroup(10);
    inside.setDisplayName(QStringLiteral("photos/2020/a.jpg"));
    File failed = entry(QStringLiteral("b.jpg"), 12, State::Failed);
    failed.setGroup(10);
    QTest::newRow("folder with its files") << site({folder, inside, failed});
    QTest::newRow("server and login not UTF-8")
        << SavedSite{QStringLiteral("ftp://[::1]:21"), nameFromBytes("m\xe9"), {entry(QStringLiteral("a"), 1)}, {}};
}

void TestQueueFile::roundTrip()
{
    QFETCH(SavedSite, saved);
    const QByteArray bytes = QueueFile::encoded({saved});
    const auto back = QueueFile::decoded(bytes);
    QVERIFY2(back.has_value(), bytes.constData());
    QCOMPARE(back->size(), 1);
    QCOMPARE(described(back->first()), described(saved));
    // The same bytes again: a write of an unchanged queue can be recognised as one.
    QCOMPARE(QueueFile::encoded(*back), bytes);
}

// Every row's site in one file, in order: nothing of one site leaks into the next.
void TestQueueFile::allSitesInOneDocument()
{
    QList<SavedSite> sites;
    QStringList expected;
    const QList<State> states{State::Waiting, State::Running, State::Failed, State::Cancelled, State::Done,
                              State::Skipped};
    for (int i = 0; i < states.size(); ++i) {
        SavedSite one = site({entry(QStringLiteral("d%1").arg(i), i + 1, states[i])},
                             {entry(kNotUtf8, 100 + i, states[states.size() - 1 - i])});
        one.login = QStringLiteral("user %1").arg(i);
        sites << one;
        expected << described(one);
    }
    const auto back = QueueFile::decoded(QueueFile::encoded(sites));
    QVERIFY(back.has_value());
    QStringList got;
    for (const SavedSite &s : *back)
        got << described(s);
    QCOMPARE(got, expected);
}

void TestQueueFile::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray entryOk = R"({"id":1,"name":"a","local":"/l","remote":"/r","size":1,"state":"waiting"})";
    const auto document = [](const QByteArray &sites, int version = QueueFile::kVersion) {
        return R"({"format":"zodaru-transfer-queue","version":)" + QByteArray::number(version) + R"(,"sites":)"
            + sites + "}";
    };
    const auto withEntry = [&](const QByteArray &entry) {
        return document(R"([{"server":"ftp://h","login":"me","downloads":[)" + entry + "]}]");
    };
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not JSON") << QByteArray("\x00\x01garbage", 9);
    QTest::newRow("cut short") << withEntry(entryOk).chopped(5);
    QTest::newRow("an array") << QByteArray("[]");
    QTest::newRow("another format") << QByteArray(R"({"format":"bookmarks","version":1,"sites":[]})");
    QTest::newRow("a later version") << document("[]", QueueFile::kVersion + 1);
    QTest::newRow("sites not a list") << document("{}");
    QTest::newRow("site without server") << document(R"([{"login":"me"}])");
    QTest::newRow("downloads not a list") << document(R"([{"server":"ftp://h","login":"me","downloads":{}}])");
    QTest::newRow("entry not an object") << withEntry("3");
    QTest::newRow("entry without name") << withEntry(R"({"id":1,"state":"waiting"})");
    QTest::newRow("unknown state") << withEntry(R"({"id":1,"name":"a","state":"sleeping"})");
    QTest::newRow("unknown answer") << withEntry(R"({"id":1,"name":"a","state":"waiting","answer":"maybe"})");
    QTest::newRow("size as text") << withEntry(R"({"id":1,"name":"a","size":"12","state":"waiting"})");
    QTest::newRow("fractional id") << withEntry(R"({"id":1.5,"name":"a","state":"waiting"})");
    QTest::newRow("bytes not base64") << withEntry(R"({"id":1,"name":{"bytes":"***"},"state":"waiting"})");
    QTest::newRow("name of the wrong kind") << withEntry(R"({"id":1,"name":7,"state":"waiting"})");
    QTest::newRow("folder counts as text")
        << withEntry(R"({"id":1,"name":"a","state":"waiting","folder":{"found":"x"}})");
}

void TestQueueFile::refused()
{
    QFETCH(QByteArray, bytes);
    QVERIFY(!QueueFile::decoded(bytes).has_value());
}

void TestQueueFile::siteKey_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("login");
    QTest::newRow("plain") << QStringLiteral("ftp://h:21\nme") << QStringLiteral("ftp://h:21") << QStringLiteral("me");
    QTest::newRow("anonymous") << QStringLiteral("h\n") << QStringLiteral("h") << QString();
    QTest::newRow("login with a line feed") << QStringLiteral("h\na\nb") << QStringLiteral("h") << QStringLiteral("a\nb");
}

void TestQueueFile::siteKey()
{
    QFETCH(QString, key);
    QFETCH(QString, server);
    QFETCH(QString, login);
    const SavedSite site = SavedSite::fromKey(key);
    QCOMPARE(site.server, server);
    QCOMPARE(site.login, login);
    QCOMPARE(site.key(), key);
}

QTEST_GUILESS_MAIN(TestQueueFile)
#include "tst_queuefile.moc"
