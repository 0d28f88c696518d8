// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Log.h"
#include "model/SiteBook.h"
#include "model/SiteListFile.h"
#include "model/Sites.h"
#include "model/SitesCombo.h"
#include "support/Fixtures.h"

#include <QAbstractItemModelTester>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace zodaru;

using Entries = QList<QStringList>;
using Records = QList<SiteRecord>;
using FileState = SiteListFile::State;
using Place = SiteRecord::PasswordPlace;
Q_DECLARE_METATYPE(SiteRecord)

namespace {
SiteRecord site(const QString &name, const QString &server, const QString &login, const QString &password,
                const QString &remote, const QString &local, Place place)
{
    return SiteRecord{name, server, login, password, remote, local, place};
}
} // namespace

namespace {

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

QByteArray readBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Collects the log lines written while it lives.
class LogCapture final {
public:
    LogCapture() { setLogSink([this](const QString &line) { lines.append(line); }); }
    ~LogCapture() { setLogSink({}); }
    Q_DISABLE_COPY_MOVE(LogCapture)
    QStringList lines;
};

// Collects what is written on standard output while it lives.
class StdoutCapture final {
public:
    StdoutCapture()
    {
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = ::dup(STDOUT_FILENO);
        ::dup2(::fileno(file_), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    Q_DISABLE_COPY_MOVE(StdoutCapture)

    QByteArray text()
    {
        restore();
        std::rewind(file_);
        QByteArray out;
        char buf[256];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0)
            out.append(buf, qsizetype(n));
        return out;
    }

private:
    void restore()
    {
        if (saved_ < 0)
            return;
        std::fflush(stdout);
        ::dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    std::FILE *file_ = nullptr;
    int saved_ = -1;
};

const QByteArray xmlHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";

QByteArray xmlPlist(const QByteArray &body)
{
    return xmlHead + "<plist version=\"1.0\">" + body + "</plist>\n";
}

} // namespace

class TestSites final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(dir_.isValid()); }

    void readFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<Entries>("expected");

        const Entries two{{"ftp.a.org", "alice", "s3cret"}, {"ftp.b.org", "bob", "pw"}};

        QTest::newRow("xml two sites") << xmlPlist(
            "<array><array><string>ftp.a.org</string><string>alice</string>"
            "<string>s3cret</string></array>\n<array><string>ftp.b.org</string>"
            "<string>bob</string><string>pw</string></array></array>") << two;
        QTest::newRow("xml empty array") << xmlPlist("<array/>") << Entries{};
        QTest::newRow("xml entities and empty string")
            << xmlPlist("<array><array><string>a&amp;b</string><string>&lt;x&gt;</string>"
                        "<string/></array></array>")
            << Entries{{"a&b", "<x>", ""}};
        QTest::newRow("xml utf-8 with bom")
            << QByteArray("\xEF\xBB\xBF") + xmlPlist("<array><array><string>h\xC3\xA9</string>"
                                                     "<string>l</string><string>p</string>"
                                                     "</array></array>")
            << Entries{{QString::fromUtf8("h\xC3\xA9"), "l", "p"}};
        QTest::newRow("xml root dict") << xmlPlist("<dict><key>a</key><string>b</string></dict>")
                                       << Entries{};
        QTest::newRow("xml root string") << xmlPlist("<string>ftp.a.org</string>") << Entries{};
        QTest::newRow("xml truncated")
            << xmlHead + "<plist version=\"1.0\"><array><array><string>ftp.a.org</string>"
            << Entries{};
        QTest::newRow("xml not plist") << QByteArray("<html><body>hi</body></html>") << Entries{};
        QTest::newRow("xml odd entries skipped")
            << xmlPlist("<array><array><string>a</string><string>b</string></array>"
                        "<array><string>a</string><integer>3</integer><string>c</string></array>"
                        "<string>lonely</string><dict/>"
                        "<array><string>x</string><string>y</string><string>z</string></array>"
                        "<array><string>1</string><string>2</string><string>3</string>"
                        "<string>4</string></array></array>")
            << Entries{{"x", "y", "z"}};

        QTest::newRow("text quoted")
            << QByteArray("(\n  (\"ftp.a.org\", \"alice\", \"s3cret\"),\n"
                          "  (\"ftp.b.org\", \"bob\", \"pw\")\n)\n")
            << two;
        QTest::newRow("text unquoted")
            << QByteArray("((ftp.a.org,alice,s3cret),(ftp.b.org,bob,pw))")
                                       << two;
        QTest::newRow("text trailing comma")
            << QByteArray("( (ftp.a.org, alice, s3cret,), (ftp.b.org, bob, pw), )") << two;
        QTest::newRow("text empty array") << QByteArray("  ( )  ") << Entries{};
        QTest::newRow("text escapes")
            << QByteArray("( (\"a\\\"b\", \"c\\\\d\", \"t\\tn\\n\"),"
                          " (\"\\101\\102\", \"\\U00e9\", \"\\q\") )")
            << Entries{{"a\"b", "c\\d", "t\tn\n"}, {"AB", QString(QChar(0xe9)), "q"}};
        QTest::newRow("text utf-8 literal")
            << QByteArray("((\"caf\xC3\xA9\", l, p))")
            << Entries{{QString::fromUtf8("caf\xC3\xA9"), "l", "p"}};
        QTest::newRow("text odd entries skipped")
            << QByteArray("( (a, b), lonely, {k = v;}, <0a0b>, (x, y, z), (a, {k = v;}, c),"
                          " (1, 2, 3, 4), (a, (b), c) )")
            << Entries{{"x", "y", "z"}};
        QTest::newRow("text root dict") << QByteArray("{ a = (x, y, z); }") << Entries{};
        QTest::newRow("text root string") << QByteArray("\"ftp.a.org\"") << Entries{};
        QTest::newRow("text unterminated string") << QByteArray("((\"a, b, c))") << Entries{};
        QTest::newRow("text missing bracket") << QByteArray("((a, b, c)") << Entries{};
        QTest::newRow("text missing comma") << QByteArray("((a b c))") << Entries{};
        QTest::newRow("text garbage after root") << QByteArray("((a, b, c)) x") << Entries{};
        QTest::newRow("text two roots") << QByteArray("((a, b, c)) ((d, e, f))") << Entries{};
        QTest::newRow("text bad data") << QByteArray("(<0g>, (a, b, c))") << Entries{};
        QTest::newRow("text lone comma") << QByteArray("(,)") << Entries{};
        QTest::newRow("text backslash at end") << QByteArray("((\"a\\") << Entries{};
        QTest::newRow("deep nesting") << QByteArray(100000, '(') + QByteArray(100000, ')')
                                      << Entries{};
        QTest::newRow("xml deep nesting")
            << xmlPlist("<array>" + QByteArray("<array>").repeated(5000)
                        + QByteArray("</array>").repeated(5000) + "</array>")
            << Entries{};
        QTest::newRow("empty file") << QByteArray() << Entries{};
        QTest::newRow("binary") << QByteArray("bplist00\x01\x02\x00\xff", 12) << Entries{};
    }

    void readFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(Entries, expected);
        const QString path = dir_.filePath(QStringLiteral("bookmarks.tarvo"));
        writeBytes(path, content);
        const Sites sites(path);
        QCOMPARE(sites.arrayOfSites(), expected);
        QCOMPARE(sites.count(), expected.size());
    }

    void missingOrUnusableFile_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("no file") << QStringLiteral("absent.tarvo");
        QTest::newRow("directory") << QStringLiteral(".");
        QTest::newRow("missing directory") << QStringLiteral("nowhere/bookmarks.tarvo");
    }

    void missingOrUnusableFile()
    {
        QFETCH(QString, name);
        const Sites sites = Sites::fromFile(dir_.filePath(name));
        QCOMPARE(sites.count(), 0);
        QVERIFY(sites.arrayOfSites().isEmpty());
    }

    void oversizedFileIsIgnored()
    {
        // A valid list, padded past the size any bookmark file has.
        const QByteArray valid = "((a, b, c))";
        const QString path = dir_.filePath(QStringLiteral("big.tarvo"));
        writeBytes(path, valid + QByteArray(SiteListFile::maxFileSize, ' '));
        QCOMPARE(Sites(path).count(), 0);
        writeBytes(path, valid + QByteArray(SiteListFile::maxFileSize - valid.size(), ' '));
        QCOMPARE(Sites(path).count(), 1);
    }

    void writeAndReadBack_data()
    {
        QTest::addColumn<Entries>("entries");
        QTest::newRow("none") << Entries{};
        QTest::newRow("order kept") << Entries{{"c", "1", "x"}, {"a", "2", "y"}, {"b", "3", "z"}};
        QTest::newRow("markup characters") << Entries{{"a&b<c>", "\"q\" 'r'", "]]>"}};
        QTest::newRow("spaces and line ends")
            << Entries{{"  padded  ", "tab\there", "cr\r\nlf\n"}};
        QTest::newRow("empty strings") << Entries{{"", "", ""}};
        QTest::newRow("server forms") << Entries{{"[::1]:2121", "a", "b"}, {"::1", "c", "d"},
                                                 {"ftps://h:990/pub", "e", "f"}, {"ftpes://h", "g", "h"}};
        QTest::newRow("non-ascii")
            << Entries{{QString::fromUtf8("d\xC3\xA9j\xC3\xA0.fr"),
                        QString::fromUtf8("\xE2\x82\xAC"), QString::fromUtf8("\xF0\x9F\x94\x91")}};
    }

    void writeAndReadBack()
    {
        QFETCH(Entries, entries);
        Sites sites;
        {
            StdoutCapture quiet;
            for (const QStringList &e : entries)
                sites.addSite(Bookmark(e.at(0), e.at(1), e.at(2)));
        }
        const QString path = dir_.filePath(QStringLiteral("rt.tarvo"));
        QVERIFY(sites.writeFile(path));
        QCOMPARE(Sites(path).arrayOfSites(), entries);
        QVERIFY(readBytes(path).startsWith("<?xml"));
    }

    void writeRefusesTextXmlCannotHold()
    {
        const QString path = dir_.filePath(QStringLiteral("ctl.tarvo"));
        writeBytes(path, "((a, b, c))");
        Sites sites(path);
        {
            StdoutCapture quiet;
            sites.addSite(Bookmark(QStringLiteral("host"), QStringLiteral("bell\x07"),
                                   QStringLiteral("p")));
        }
        QVERIFY(!sites.writeFile(path));
        QCOMPARE(readBytes(path), QByteArray("((a, b, c))"));
    }

    void writeIntoMissingDirectoryFails()
    {
        QVERIFY(!Sites().writeFile(dir_.filePath(QStringLiteral("nowhere/b.tarvo"))));
    }

    void writtenFileIsPrivate_data()
    {
        QTest::addColumn<bool>("existed");
        QTest::addColumn<int>("oldMode");
        QTest::newRow("new file") << false << 0;
        QTest::newRow("world readable file") << true << 0644;
        QTest::newRow("world writable file") << true << 0666;
    }

    void writtenFileIsPrivate()
    {
        QFETCH(bool, existed);
        QFETCH(int, oldMode);
        const QString path = dir_.filePath(QStringLiteral("private.tarvo"));
        QFile::remove(path);
        if (existed) {
            writeBytes(path, "()");
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions(
                QFileDevice::ReadOwner | QFileDevice::WriteOwner
                | ((oldMode & 044) ? QFileDevice::ReadGroup | QFileDevice::ReadOther
                                   : QFileDevice::Permissions())
                | ((oldMode & 022) ? QFileDevice::WriteGroup | QFileDevice::WriteOther
                                   : QFileDevice::Permissions()))));
        }
        Sites sites;
        {
            StdoutCapture quiet;
            sites.addSite(Bookmark(QStringLiteral("h"), QStringLiteral("l"), QStringLiteral("pw")));
        }
        QVERIFY(sites.writeFile(path));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        QCOMPARE(Sites(path).count(), 1);
    }

    void homeIsResolved_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("tilde slash") << "~/bookmarks.tarvo" << "/home/u/bookmarks.tarvo";
        QTest::newRow("tilde alone") << "~" << "/home/u";
        QTest::newRow("absolute") << "/etc/x" << "/etc/x";
        QTest::newRow("other user kept") << "~bob/x" << "~bob/x";
        QTest::newRow("tilde inside kept") << "a/~/x" << "a/~/x";
    }

    void homeIsResolved()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        const test::ScopedEnv home("HOME", "/home/u");
        QCOMPARE(SiteListFile::resolveHomePath(path), expected);
    }

    void bookmarkFileInHome()
    {
        const test::TemporaryHome home;
        writeBytes(home.bookmarksFile(), "((h, l, p))");
        QCOMPARE(Sites(QStringLiteral("~/bookmarks.tarvo")).count(), 1);
    }

    void addSiteTellsStandardOutput()
    {
        Sites sites;
        StdoutCapture out;
        sites.addSite(Bookmark(QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")));
        sites.addSite(Bookmark(QStringLiteral("d")));
        QCOMPARE(out.text(), QByteArray("on va rajouter un objet dans le bookmark\n"
                                        "il y a maintenant 1 objets dans le bookmark\n"
                                        "on va rajouter un objet dans le bookmark\n"
                                        "il y a maintenant 2 objets dans le bookmark\n"));
    }

    void anonymousSiteIsOrdinaryEntry()
    {
        const Bookmark anon(QStringLiteral("ftp.x.org"));
        QCOMPARE(anon.isAnonymous(), quint8(1));
        QCOMPARE(anon.login(), QStringLiteral("anonymous"));
        QVERIFY(anon.password().contains(u'@'));
        Sites sites;
        {
            StdoutCapture quiet;
            sites.addSite(anon);
        }
        const QString path = dir_.filePath(QStringLiteral("anon.tarvo"));
        QVERIFY(sites.writeFile(path));
        const Sites back(path);
        QCOMPARE(back.arrayOfSites(),
                 Entries({{"ftp.x.org", "anonymous", Bookmark::anonymousPassword()}}));
        const std::optional<Bookmark> site = back.siteAt(0);
        QVERIFY(site);
        QCOMPARE(site->isAnonymous(), quint8(0));
        QCOMPARE(site->login(), QStringLiteral("anonymous"));
        QVERIFY(!back.siteAt(1));
        QVERIFY(!back.siteAt(-1));
    }

    void copyIsIndependentList()
    {
        const QString path = dir_.filePath(QStringLiteral("copy.tarvo"));
        writeBytes(path, "((a, b, c))");
        const Sites original(path);
        Sites copy(original);
        QVERIFY(copy.arrayOfSites().at(0).at(0).isSharedWith(original.arrayOfSites().at(0).at(0)));
        {
            StdoutCapture quiet;
            copy.addSite(Bookmark(QStringLiteral("d"), QStringLiteral("e"), QStringLiteral("f")));
        }
        QCOMPARE(original.count(), 1);
        QCOMPARE(copy.count(), 2);
        QCOMPARE(copy.arrayOfSites().at(0), original.arrayOfSites().at(0));
        QCOMPARE(Sites(Sites()).count(), 0);
    }

    void destructionLogsOncePerList()
    {
        LogCapture log;
        {
            const Sites a = Sites::fromFile(dir_.filePath(QStringLiteral("none")));
            const Sites b(a);
            const SitesCombo c(b);
        }
        QCOMPARE(log.lines, QStringList(3, QStringLiteral("Dealloc de la classe Sites\n")));
    }

    void movedListLogsOnce_data()
    {
        QTest::addColumn<int>("how");
        QTest::newRow("move constructed") << 0;
        QTest::newRow("move assigned") << 1;
        QTest::newRow("kept on the heap") << 2;
    }

    void movedListLogsOnce()
    {
        QFETCH(int, how);
        const QString path = dir_.filePath(QStringLiteral("move.tarvo"));
        writeBytes(path, "((a, b, c))");
        LogCapture log;
        {
            Sites source(path);
            std::unique_ptr<Sites> target;
            if (how == 0) {
                target = std::make_unique<Sites>(std::move(source));
            } else if (how == 1) {
                target = std::make_unique<Sites>();
                *target = std::move(source);
            } else {
                target = std::make_unique<Sites>(Sites::fromFile(path));
            }
            QCOMPARE(target->count(), 1);
            QCOMPARE(log.lines.size(), 0);
        }
        // Only the heap case keeps its source list too.
        const qsizetype expected = how == 2 ? 2 : 1;
        QCOMPARE(log.lines.size(), expected);
    }

    void comboAnswers_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("server");
        QTest::newRow("empty list") << QByteArray("()") << 0 << 0 << QString();
        QTest::newRow("middle") << QByteArray("((a, 1, 2), (b, 3, 4), (c, 5, 6))") << 1 << 3
                                << QStringLiteral("b");
        QTest::newRow("first") << QByteArray("((a, 1, 2), (b, 3, 4))") << 0 << 2
                               << QStringLiteral("a");
        QTest::newRow("past the end") << QByteArray("((a, 1, 2))") << 1 << 1 << QString();
        QTest::newRow("negative") << QByteArray("((a, 1, 2))") << -1 << 1 << QString();
    }

    void comboAnswers()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, index);
        QFETCH(int, count);
        QFETCH(QString, server);
        const QString path = dir_.filePath(QStringLiteral("combo.tarvo"));
        writeBytes(path, content);
        const Sites book(path);
        const SitesCombo combo(book);
        LogCapture log;
        QCOMPARE(combo.numberOfItemsInComboBox(), count);
        QCOMPARE(combo.comboBox(index), server);
        QCOMPARE(log.lines, QStringList({QStringLiteral("numberOfItemsInComboBox ...\n"),
                                         QStringLiteral("on a %1 ").arg(count),
                                         QStringLiteral("comboBox:objectValueForItemAtIndex:%1\n")
                                             .arg(index)}));
    }

    void comboEditingIsAlwaysAllowed()
    {
        const SitesCombo combo{Sites()};
        QObject observer;
        combo.numberOfItemsInComboBox();
        LogCapture log;
        QVERIFY(combo.control());
        combo.controlTextDidBeginEditing();
        combo.controlTextDidChange();
        combo.controlTextDidChange();
        combo.controlTextDidEndEditing();
        QCOMPARE(log.lines, QStringList({QStringLiteral("control text should begin editing \n"),
                                         QStringLiteral("control test did begin editing... \n"),
                                         QStringLiteral("control le Texte a chang"),
                                         QStringLiteral("control le Texte a chang"),
                                         QStringLiteral("control test did end editing... \n")}));
    }

    void comboModelOffersServers()
    {
        const QString path = dir_.filePath(QStringLiteral("model.tarvo"));
        writeBytes(path, "((a, 1, 2), (b, 3, 4), (c, 5, 6))");
        Sites book(path);
        const SitesCombo combo(book);
        {
            StdoutCapture quiet;
            book.addSite(Bookmark(QStringLiteral("later")));
        }
        QCOMPARE(combo.servers(), QStringList({"a", "b", "c"}));
        LogCapture quiet;
        SitesComboModel model(combo);
        QAbstractItemModelTester tester(&model,
                                        QAbstractItemModelTester::FailureReportingMode::QtTest);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.data(model.index(2, 0)).toString(), QStringLiteral("c"));
        QCOMPARE(model.data(model.index(1, 0), Qt::EditRole).toString(), QStringLiteral("b"));
        const std::optional<Bookmark> chosen = combo.siteAt(1);
        QVERIFY(chosen);
        QCOMPARE(chosen->login(), QStringLiteral("3"));
        QCOMPARE(chosen->password(), QStringLiteral("4"));
    }

    void fileState_data()
    {
        QTest::addColumn<QByteArray>("content"); // null: no file
        QTest::addColumn<FileState>("expected");
        QTest::newRow("missing") << QByteArray() << FileState::Missing;
        QTest::newRow("xml") << xmlPlist("<array><array><string>a</string><string>b</string><string>c</string>"
                                         "</array></array>") << FileState::Read;
        QTest::newRow("text") << QByteArray("((a, b, c))") << FileState::Read;
        QTest::newRow("empty array") << QByteArray("()") << FileState::Read;
        QTest::newRow("root dict") << xmlPlist("<dict/>") << FileState::Damaged;
        QTest::newRow("not a plist") << QByteArray("hello") << FileState::Damaged;
        QTest::newRow("truncated") << QByteArray("((a, b, c)") << FileState::Damaged;
        QTest::newRow("element left out") << QByteArray("((a, b, c), (d, e))") << FileState::Damaged;
        QTest::newRow("empty file") << QByteArray("") << FileState::Damaged;
    }

    void fileState()
    {
        QFETCH(QByteArray, content);
        QFETCH(FileState, expected);
        const QString path = dir_.filePath(QStringLiteral("state.tarvo"));
        if (!content.isNull())
            writeBytes(path, content);
        FileState state = FileState::Read;
        SiteListFile::read(path, &state);
        QCOMPARE(state, expected);
    }

    // The site book writes the file in its old form (readable as triples by the list) and
    // every other field beside it; reading both back gives the same sites.
    void siteBookRoundTrip_data()
    {
        QTest::addColumn<Records>("records");
        QTest::addColumn<Entries>("triples");
        QTest::newRow("password in file")
            << Records{site("Work", "ftp.a.org", "alice", "s3cret", "/pub", "/tmp", Place::File)}
            << Entries{{"ftp.a.org", "alice", "s3cret"}};
        QTest::newRow("keyring and ask leave it empty")
            << Records{site("K", "ftpes://h:2121", "bob", "", "", "", Place::Keyring),
                       site("A", "[::1]:21", "carol", "", "/x", "", Place::Ask)}
            << Entries{{"ftpes://h:2121", "bob", ""}, {"[::1]:21", "carol", ""}};
        QTest::newRow("one account, two sites")
            << Records{site("first", "h", "u", "p", "/one", "", Place::File),
                       site("second", "h", "u", "p", "/two", "/l", Place::File)}
            << Entries{{"h", "u", "p"}, {"h", "u", "p"}};
        QTest::newRow("key characters")
            << Records{site("s/l@sh#", "ftp://h/p%20q", "a@b/c", "", "/d", "", Place::Keyring),
                       site("", "h", "a", "p", "", "", Place::File)}
            << Entries{{"ftp://h/p%20q", "a@b/c", ""}, {"h", "a", "p"}};
        QTest::newRow("none") << Records{} << Entries{};
    }

    void siteBookRoundTrip()
    {
        QFETCH(Records, records);
        QFETCH(Entries, triples);
        const QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("book.tarvo"));
        const QString settings = dir.filePath(QStringLiteral("conf/Zodaru.conf"));
        SiteBook book(file, settings);
        QCOMPARE(book.load(), FileState::Missing);
        book.setRecords(records);
        QCOMPARE(book.save(), SiteBook::SaveFailure::None);

        FileState state = FileState::Missing;
        QCOMPARE(SiteListFile::read(file, &state), triples);
        QCOMPARE(state, FileState::Read);
        QCOMPARE(Sites(file).arrayOfSites(), triples);

        SiteBook again(file, settings);
        QCOMPARE(again.load(), FileState::Read);
        QCOMPARE(again.records(), records);
    }

    // A password that the file holds is used, whatever the settings say about it.
    void passwordInFileWins()
    {
        const QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("book.tarvo"));
        const QString settings = dir.filePath(QStringLiteral("Zodaru.conf"));
        SiteBook book(file, settings);
        book.setRecords({site("n", "h", "u", "", "/r", "", Place::Keyring)});
        QCOMPARE(book.save(), SiteBook::SaveFailure::None);
        writeBytes(file, "((h, u, pw))");
        SiteBook again(file, settings);
        again.load();
        QCOMPARE(again.records(), Records{site("n", "h", "u", "pw", "/r", "", Place::File)});
    }

    void damagedFileIsNotWrittenOver_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not a plist") << QByteArray("garbage (");
        QTest::newRow("root dict") << xmlPlist("<dict><key>a</key><string>b</string></dict>");
        QTest::newRow("element left out") << QByteArray("((a, b, c), (lonely))");
    }

    void damagedFileIsNotWrittenOver()
    {
        QFETCH(QByteArray, content);
        const QString file = dir_.filePath(QStringLiteral("damaged.tarvo"));
        writeBytes(file, content);
        SiteBook book(file, dir_.filePath(QStringLiteral("Zodaru.conf")));
        QCOMPARE(book.load(), FileState::Damaged);
        book.setRecords({site("n", "h", "u", "p", "", "", Place::File)});
        QCOMPARE(book.save(), SiteBook::SaveFailure::DamagedFile);
        QCOMPARE(readBytes(file), content);
    }

private:
    QTemporaryDir dir_;
};

QTEST_GUILESS_MAIN(TestSites)
#include "tst_sites.moc"
