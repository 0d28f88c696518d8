// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/AppHarness.h"
#include "support/FakeApp.h"

#include "base/ByteNames.h"
#include "ui/BrowserColumn.h"
#include "ui/BrowserSettings.h"
#include "ui/CellFile.h"
#include "ui/ColumnBrowser.h"
#include "ui/EntryDrag.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QDir>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QListView>
#include <QMimeData>
#include <QMouseEvent>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

using namespace zodaru;
using zodaru::test::browsingServer;
using zodaru::test::FakeApp;

using Highlight = ColumnBrowser::DropHighlight;

namespace zodaru {
char *toString(const ColumnBrowser::DropHighlight &h)
{
    return qstrdup(QByteArray("{" + QByteArray::number(h.column) + ", " + QByteArray::number(h.row) + "}").constData());
}
} // namespace zodaru

namespace {

// The remote side of the browser tests: "/" holds a directory, a file and another directory.
const QMap<QByteArray, QByteArray> kRemoteTree{
    {"/", "drwxr-xr-x 2 u g 0 Jan  1  2020 pub\r\n"
          "-rw-r--r-- 1 u g 5 Jan  1  2020 r.txt\r\n"
          "drwxr-xr-x 2 u g 0 Jan  1  2020 rdir\r\n"},
};

// What a drag over `area` at `pos` did: the highlight while over it, after the drop (or the
// leave), and whether the drop was taken.
struct DragOutcome {
    Highlight during;
    Highlight after;
    bool accepted = false;
};

DragOutcome dragOver(ColumnBrowser &browser, QWidget *area, QPoint pos, const QMimeData &data, bool leave = false)
{
    DragOutcome out;
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &enter);
    QDragMoveEvent move(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(area, &move);
    out.during = browser.dropHighlight();
    if (leave) {
        QDragLeaveEvent gone;
        QCoreApplication::sendEvent(area, &gone);
    } else {
        QDropEvent drop(QPointF(pos), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(area, &drop);
        out.accepted = drop.isAccepted();
    }
    out.after = browser.dropHighlight();
    return out;
}

int rowNamed(ColumnBrowser &browser, int column, const QString &name)
{
    for (int row = 0; row < browser.rowCount(column); ++row)
        if (browser.cellAt(column, row)->name() == name)
            return row;
    return -1;
}

// The middle of a row, or, for no row, a point of the column under its rows.
QPoint pointOf(ColumnBrowser &browser, int column, int row)
{
    auto *list = qobject_cast<QListView *>(browser.dropArea(column)->parentWidget());
    if (row >= 0)
        return list->visualRect(list->model()->index(row, 0)).center();
    return {5, list->viewport()->height() - 5};
}

bool makeFile(const QString &path, const QByteArray &content = "abc")
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

std::unique_ptr<QMimeData> urisOf(const QStringList &uris, const QString &root)
{
    auto data = std::make_unique<QMimeData>();
    QList<QUrl> urls;
    for (QString uri : uris)
        urls << QUrl::fromEncoded(uri.replace(QStringLiteral("ROOT"), root).toUtf8());
    data->setUrls(urls);
    return data;
}

} // namespace

class TestDragDrop final : public QObject {
    Q_OBJECT

    // The main window on a FakeApp, the local browser on a working directory of its own
    // holding a.txt, b.txt and sub/; the remote one on a scripted server listing kRemoteTree.
    std::unique_ptr<test::ControllerFixture> f_;
    std::unique_ptr<ScriptedFtpServer> server_;
    test::TemporaryHome config_{test::TemporaryHome::Scope::ConfigOnly};
    int localColumn_ = 0; // the local column listing the working directory

    ColumnBrowser &local() const { return *f_->controller->window()->localView(); }
    ColumnBrowser &remote() const { return *f_->controller->window()->remoteView(); }
    ColumnBrowser &side(const QString &which) const { return which == u"local" ? local() : remote(); }
    int rootColumn(const QString &which) const { return which == u"local" ? localColumn_ : 0; }

    bool buildConnected(bool connected = true)
    {
        if (!makeFile(f_->root() + QStringLiteral("/a.txt")) || !makeFile(f_->root() + QStringLiteral("/b.txt"))
            || !QDir(f_->root()).mkdir(QStringLiteral("sub")))
            return false;
        server_ = std::make_unique<ScriptedFtpServer>(browsingServer(kRemoteTree));
        f_->build();
        f_->app.engine = FTP::connectTo(server_->address(), QStringLiteral("user"), QStringLiteral("pw"));
        if (!f_->app.engine->isConnected())
            return false;
        f_->controller->setConnected();
        f_->app.settle();
        f_->controller->window()->show();
        if (!QTest::qWaitForWindowExposed(f_->controller->window()))
            return false;
        localColumn_ = local().lastVisibleColumn();
        if (!connected) {
            f_->app.engine->shutdown();
            f_->app.engine.reset();
        }
        return rowNamed(remote(), 0, QStringLiteral("pub")) >= 0 && rowNamed(local(), localColumn_, "sub") >= 0;
    }

    bool selectNames(const QString &which, const QStringList &names)
    {
        QList<int> rows;
        for (const QString &name : names) {
            const int row = rowNamed(side(which), rootColumn(which), name);
            if (row < 0)
                return false;
            rows << row;
        }
        side(which).selectRows(rootColumn(which), rows);
        return true;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(config_.isValid());
        BrowserSettings::instance().setShowHidden(true);
    }
    void init()
    {
        f_ = std::make_unique<test::ControllerFixture>();
        QVERIFY(f_->isValid());
    }
    void cleanup()
    {
        if (f_->app.engine)
            f_->app.engine->shutdown();
        f_.reset();
        server_.reset();
    }

    // Entries dragged from one browser onto the other go to the directory dropped onto: a
    // directory row, else the column's directory. Back onto their own browser they do nothing.
    void browserToBrowser_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("select");
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("onto"); // a row's name; empty: the column under its rows
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("status");

        QTest::newRow("local file onto the remote column")
            << "local" << QStringList{"a.txt"} << "remote" << "" << true << "put ROOT [a.txt] -> /" << "";
        QTest::newRow("local file and folder onto a remote directory")
            << "local" << QStringList{"a.txt", "sub"} << "remote" << "pub" << true
            << "put ROOT [sub/, a.txt] -> /pub" << ""; // in the order shown: folders first
        QTest::newRow("onto a remote file: its column")
            << "local" << QStringList{"b.txt"} << "remote" << "r.txt" << true << "put ROOT [b.txt] -> /" << "";
        QTest::newRow("remote file onto the local column")
            << "remote" << QStringList{"r.txt"} << "local" << "" << true << "get / [r.txt] -> ROOT" << "";
        QTest::newRow("remote file and folder onto a local directory")
            << "remote" << QStringList{"r.txt", "rdir"} << "local" << "sub" << true
            << "get / [rdir/, r.txt] -> ROOT/sub" << "";
        QTest::newRow("local onto local") << "local" << QStringList{"a.txt"} << "local" << "sub" << true << "" << "";
        QTest::newRow("remote onto remote")
            << "remote" << QStringList{"r.txt"} << "remote" << "pub" << true << "" << "";
        QTest::newRow("not connected")
            << "local" << QStringList{"a.txt"} << "remote" << "" << false << "" << "Not connected";
    }

    void browserToBrowser()
    {
        QFETCH(QString, from);
        QFETCH(QStringList, select);
        QFETCH(QString, to);
        QFETCH(QString, onto);
        QFETCH(bool, connected);
        QFETCH(QString, expected);
        QFETCH(QString, status);
        QVERIFY(buildConnected(connected));
        QVERIFY(selectNames(from, select));
        const std::unique_ptr<QMimeData> data = side(from).dragData(rootColumn(from));
        QVERIFY(data);

        ColumnBrowser &target = side(to);
        const int column = rootColumn(to);
        const int row = onto.isEmpty() ? -1 : rowNamed(target, column, onto);
        QVERIFY(onto.isEmpty() || row >= 0);
        const DragOutcome out = dragOver(target, target.dropArea(column), pointOf(target, column, row), *data);

        QStringList calls;
        if (!expected.isEmpty())
            calls << QString(expected).replace(QStringLiteral("ROOT"), f_->root());
        QCOMPARE(f_->app.entryCalls, calls);
        const bool welcome = from != to;
        QCOMPARE(out.accepted, welcome);
        // Outlined while over it: the directory row, or the whole column for a file row.
        const bool intoRow = row >= 0 && !target.cellAt(column, row)->isLeaf();
        QCOMPARE(out.during, (welcome ? Highlight{column, intoRow ? row : -1} : Highlight{}));
        QCOMPARE(out.after, Highlight{});
        QVERIFY2(f_->controller->statusText().contains(status), qPrintable(f_->controller->statusText()));
        QCOMPARE(f_->controller->statusText().isEmpty(), status.isEmpty());
    }

    // The outline follows the drag and goes when it leaves.
    void highlightFollowsTheDrag()
    {
        QVERIFY(buildConnected());
        QVERIFY(selectNames("local", {"a.txt"}));
        const std::unique_ptr<QMimeData> data = local().dragData(localColumn_);
        QVERIFY(data);
        const int pub = rowNamed(remote(), 0, "pub");
        QWidget *area = remote().dropArea(0);
        QDragEnterEvent enter(pointOf(remote(), 0, pub), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(area, &enter);
        QCOMPARE(remote().dropHighlight(), (Highlight{0, pub}));
        QDragMoveEvent move(pointOf(remote(), 0, -1), Qt::CopyAction, data.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(area, &move);
        QCOMPARE(remote().dropHighlight(), (Highlight{0, -1}));
        const DragOutcome out = dragOver(remote(), area, pointOf(remote(), 0, pub), *data, true);
        QCOMPARE(out.during, (Highlight{0, pub}));
        QCOMPARE(out.after, Highlight{});
        QCOMPARE(f_->app.entryCalls, QStringList());
    }

    // Files and folders of a file manager dropped onto the remote browser are put, one call
    // per directory holding some, folders as directories and links as links; URLs that are
    // not local files are left, and said so.
    void uriListOntoRemote_data()
    {
        QTest::addColumn<QStringList>("uris");
        QTest::addColumn<QString>("onto");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("status");

        QTest::newRow("one file") << QStringList{"file://ROOT/a.txt"} << "" << true
                                  << QStringList{"put ROOT [a.txt] -> /"} << "";
        QTest::newRow("file and folder, one parent")
            << QStringList{"file://ROOT/a.txt", "file://ROOT/sub/"} << "pub" << true
            << QStringList{"put ROOT [a.txt, sub/] -> /pub"} << "";
        QTest::newRow("two parents, in the order dropped")
            << QStringList{"file://ROOT/sub/in.txt", "file://ROOT/a.txt", "file://ROOT/sub/deep"} << "" << true
            << QStringList{"put ROOT/sub [in.txt, deep/] -> /", "put ROOT [a.txt] -> /"} << "";
        QTest::newRow("link to a folder stays a link")
            << QStringList{"file://ROOT/ln", "file://localhostROOT/b.txt"} << "" << true
            << QStringList{"put ROOT [ln@, b.txt] -> /"} << "";
        QTest::newRow("a name that is not UTF-8")
            << QStringList{"file://ROOT/caf%E9.txt"} << "" << true
            << QStringList{QStringLiteral("put ROOT [%1] -> /").arg(nameFromBytes("caf\xe9.txt"))} << "";
        QTest::newRow("other URLs ignored")
            << QStringList{"http://127.0.0.1/x", "file://ROOT/a.txt", "ftp://127.0.0.1/y", "file://127.0.0.2ROOT/b.txt"}
            << "" << true << QStringList{"put ROOT [a.txt] -> /"} << "Only local files can be uploaded: 3";
        QTest::newRow("nothing local") << QStringList{"https://127.0.0.1/x"} << "" << true << QStringList{}
                                       << "Only local files can be uploaded: 1";
        QTest::newRow("gone since") << QStringList{"file://ROOT/gone.txt", "file://ROOT/a.txt"} << "" << true
                                    << QStringList{"put ROOT [a.txt] -> /"} << "1 dropped item(s) not found";
        QTest::newRow("not connected") << QStringList{"file://ROOT/a.txt"} << "" << false << QStringList{}
                                       << "Not connected";
    }

    void uriListOntoRemote()
    {
        QFETCH(QStringList, uris);
        QFETCH(QString, onto);
        QFETCH(bool, connected);
        QFETCH(QStringList, expected);
        QFETCH(QString, status);
        QVERIFY(buildConnected(connected));
        const QString root = f_->root();
        QVERIFY(QDir(root).mkpath(QStringLiteral("sub/deep")));
        QVERIFY(makeFile(root + QStringLiteral("/sub/in.txt")));
        QVERIFY(::symlink("sub", QFile::encodeName(root + QStringLiteral("/ln")).constData()) == 0);
        const int made = ::open((bytesOfName(root) + "/caf\xe9.txt").constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(made >= 0);
        ::close(made);

        const std::unique_ptr<QMimeData> data = urisOf(uris, root);
        const int row = onto.isEmpty() ? -1 : rowNamed(remote(), 0, onto);
        const DragOutcome out = dragOver(remote(), remote().dropArea(0), pointOf(remote(), 0, row), *data);
        QVERIFY(out.accepted);
        QStringList calls;
        for (QString call : expected)
            calls << call.replace(QStringLiteral("ROOT"), root);
        QCOMPARE(f_->app.entryCalls, calls);
        QVERIFY2(f_->controller->statusText().contains(status), qPrintable(f_->controller->statusText()));
        QCOMPARE(f_->controller->statusText().isEmpty(), status.isEmpty());
    }

    // The local browser takes no files from other programs; the remote one takes no text.
    void foreignDropsRefused_data()
    {
        QTest::addColumn<QString>("to");
        QTest::addColumn<QString>("format");
        QTest::newRow("files onto the local browser") << "local" << "text/uri-list";
        QTest::newRow("text onto the remote browser") << "remote" << "text/plain";
    }

    void foreignDropsRefused()
    {
        QFETCH(QString, to);
        QFETCH(QString, format);
        QVERIFY(buildConnected());
        QMimeData data;
        data.setData(format, "file://" + QFile::encodeName(f_->root()) + "/a.txt\r\n");
        ColumnBrowser &target = side(to);
        const DragOutcome out = dragOver(target, target.dropArea(rootColumn(to)), {5, 5}, data);
        QVERIFY(!out.accepted);
        QCOMPARE(out.during, Highlight{});
        QCOMPARE(f_->app.entryCalls, QStringList());
    }

    // The mouse starts a drag of the selected rows once it has moved far enough from a
    // press on one of them; a press on another row drags that one. Moving less changes
    // nothing, not even the selection.
    void mouseStartsDrag_data()
    {
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("distance");
        QTest::addColumn<QStringList>("dragged"); // empty: no drag started
        QTest::addColumn<QStringList>("selected");
        QTest::newRow("from a selected row") << "a.txt" << 40 << QStringList{"a.txt", "b.txt"}
                                             << QStringList{"a.txt", "b.txt"};
        QTest::newRow("from another row") << "sub" << 40 << QStringList{"sub/"} << QStringList{"sub"};
        QTest::newRow("too short a move") << "b.txt" << 1 << QStringList{} << QStringList{"a.txt", "b.txt"};
    }

    void mouseStartsDrag()
    {
        QFETCH(QString, press);
        QFETCH(int, distance);
        QFETCH(QStringList, dragged);
        QFETCH(QStringList, selected);
        QVERIFY(buildConnected());
        QVERIFY(selectNames("local", {"a.txt", "b.txt"}));
        auto *list = static_cast<ColumnListView *>(local().dropArea(localColumn_)->parentWidget());
        QStringList started;
        // The real drag would run until a drop: read what it would carry instead.
        list->startDrag = [&] {
            const std::unique_ptr<QMimeData> data = local().dragData(localColumn_);
            const std::optional<EntryDrag> drag = decodeEntryDrag(*data);
            for (const File &f : drag->entries)
                started << f.name() + (f.isDir() ? QStringLiteral("/") : QString());
        };
        const QPoint at = pointOf(local(), localColumn_, rowNamed(local(), localColumn_, press));
        QTest::mousePress(list->viewport(), Qt::LeftButton, {}, at);
        const QPointF to = at + QPoint(distance, 0);
        QMouseEvent move(QEvent::MouseMove, to, list->viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QCoreApplication::sendEvent(list->viewport(), &move);
        QCOMPARE(started, dragged);
        QStringList names;
        for (const CellFile *cell : local().selectedCells())
            names << cell->name();
        names.sort();
        QCOMPARE(names, selected);
        QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, at + QPoint(distance, 0));
    }

    // A drag offers the entries to this program and URLs to the others: file:// locally,
    // ftp:// of the site remotely without its password, none outside a session.
    void dragDataOffered_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QStringList>("select");
        QTest::addColumn<QString>("site");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("urls");

        QTest::newRow("local file and folder")
            << "local" << QStringList{"a.txt", "sub"} << "" << QStringList{"sub/", "a.txt"}
            << QStringList{"file://ROOT/sub", "file://ROOT/a.txt"};
        QTest::newRow("remote entries") << "remote" << QStringList{"pub", "r.txt"}
                                        << "ftp://user:pw@127.0.0.1:2121" << QStringList{"pub/", "r.txt"}
                                        << QStringList{"ftp://user@127.0.0.1:2121/pub", "ftp://user@127.0.0.1:2121/r.txt"};
        QTest::newRow("remote, no site") << "remote" << QStringList{"r.txt"} << "" << QStringList{"r.txt"}
                                         << QStringList{};
    }

    void dragDataOffered()
    {
        QFETCH(QString, from);
        QFETCH(QStringList, select);
        QFETCH(QString, site);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, urls);
        QVERIFY(buildConnected());
        f_->app.site = QUrl(site);
        QVERIFY(selectNames(from, select));
        const std::unique_ptr<QMimeData> data = side(from).dragData(rootColumn(from));
        QVERIFY(data);
        const std::optional<EntryDrag> drag = decodeEntryDrag(*data);
        QVERIFY(drag);
        QCOMPARE(drag->origin, side(from).dragOrigin());
        QCOMPARE(drag->directory, from == u"local" ? f_->root() : QStringLiteral("/"));
        QStringList names;
        for (const File &f : drag->entries)
            names << f.name() + (f.isDir() ? QStringLiteral("/") : QString());
        QCOMPARE(names, entries);
        QStringList offered;
        for (const QUrl &url : data->urls())
            offered << QString::fromUtf8(url.toEncoded());
        for (QString &url : urls)
            url.replace(QStringLiteral("ROOT"), f_->root());
        QCOMPARE(offered, urls);
    }

    // What a drag carries comes back whole, exact names and kinds included.
    void entryDragRoundTrip_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QStringList>("entries"); // "name size type"
        QTest::addColumn<QStringList>("urls");
        QTest::newRow("one file") << "/pub" << QStringList{"a.txt 5 0"} << QStringList{"ftp://u@127.0.0.1:21/pub/a.txt"};
        QTest::newRow("folders and files") << "/" << QStringList{"d 0 1", "a b 7 0", "big 5000000000 0"}
                                           << QStringList{};
        QTest::newRow("names not UTF-8") << nameFromBytes("/caf\xe9") << QStringList{nameFromBytes("\xff\xfe 1 0")}
                                         << QStringList{"file:///caf%E9/%FF%FE"};
        QTest::newRow("no entries") << "/x" << QStringList{} << QStringList{};
    }

    void entryDragRoundTrip()
    {
        QFETCH(QString, directory);
        QFETCH(QStringList, entries);
        QFETCH(QStringList, urls);
        EntryDrag drag;
        drag.origin = 42;
        drag.directory = directory;
        for (const QString &e : entries) {
            const QStringList parts = e.split(QLatin1Char(' '));
            drag.entries.append(File(parts.mid(0, parts.size() - 2).join(QLatin1Char(' ')),
                                     parts.at(parts.size() - 2).toLongLong(), parts.last().toInt()));
        }
        QList<QUrl> offered;
        for (const QString &url : urls)
            offered << QUrl::fromEncoded(url.toUtf8());
        const std::unique_ptr<QMimeData> data = encodeEntryDrag(drag, offered);
        QCOMPARE(data->urls(), offered);
        QCOMPARE(entryDragOrigin(*data), std::optional<quint64>(42));
        const std::optional<EntryDrag> back = decodeEntryDrag(*data);
        QVERIFY(back);
        QCOMPARE(back->origin, drag.origin);
        QCOMPARE(back->directory, directory);
        QCOMPARE(back->entries.size(), drag.entries.size());
        for (qsizetype i = 0; i < drag.entries.size(); ++i) {
            QCOMPARE(back->entries[i].name(), drag.entries[i].name());
            QCOMPARE(back->entries[i].size(), drag.entries[i].size());
            QCOMPARE(back->entries[i].type(), drag.entries[i].type());
        }
    }

    // Data damaged, of another layout or of another process is no drag of ours.
    void damagedDragIgnored_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("originRead");
        QTest::newRow("cut short") << "cut" << true;
        QTest::newRow("another layout") << "layout" << false;
        QTest::newRow("another process") << "process" << false;
        QTest::newRow("absurd count") << "count" << true;
        QTest::newRow("empty") << "empty" << false;
    }

    void damagedDragIgnored()
    {
        QFETCH(QString, damage);
        QFETCH(bool, originRead);
        EntryDrag drag;
        drag.origin = 3;
        drag.directory = QStringLiteral("/d");
        if (damage == u"cut")
            drag.entries = {File(QStringLiteral("a"), 1, 0), File(QStringLiteral("b"), 1, 0)};
        const std::unique_ptr<QMimeData> data = encodeEntryDrag(drag, {});
        const QString type = QString::fromLatin1(kEntryDragMimeType);
        QByteArray bytes = data->data(type);
        if (damage == u"cut")
            bytes.chop(3);
        else if (damage == u"layout")
            bytes[0] = char(bytes[0] ^ 0x40);
        else if (damage == u"process")
            bytes[11] = char(bytes[11] ^ 0x01); // the last byte of the process id
        else if (damage == u"count")
            bytes.replace(bytes.size() - 4, 4, QByteArray("\xff\xff\xff\xf0", 4));
        else
            bytes.clear();
        QMimeData damaged;
        damaged.setData(type, bytes);
        QVERIFY(!decodeEntryDrag(damaged));
        QCOMPARE(entryDragOrigin(damaged).has_value(), originRead);
    }

    // Local paths and file:// URLs, both ways, with the exact bytes of every name; other
    // URLs name no local path (an empty one here) and are counted as such when dropped.
    void localUrls_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("url");
        QTest::newRow("plain") << QByteArray("/tmp/a.txt") << QByteArray("file:///tmp/a.txt");
        QTest::newRow("space and percent") << QByteArray("/tmp/a b%c") << QByteArray("file:///tmp/a%20b%25c");
        QTest::newRow("hash and question mark") << QByteArray("/t/a#b?c") << QByteArray("file:///t/a%23b%3Fc");
        QTest::newRow("UTF-8") << QByteArray("/t/\xc3\xa9") << QByteArray("file:///t/%C3%A9");
        QTest::newRow("not UTF-8") << QByteArray("/t/caf\xe9") << QByteArray("file:///t/caf%E9");
        QTest::newRow("ftp") << QByteArray() << QByteArray("ftp://127.0.0.1/a");
        QTest::newRow("http on localhost") << QByteArray() << QByteArray("http://localhost/a");
        QTest::newRow("file on another host") << QByteArray() << QByteArray("file://127.0.0.2/a");
        QTest::newRow("relative") << QByteArray() << QByteArray("a.txt");
    }

    void localUrls()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, url);
        const std::optional<QString> back = localPathOfUrl(QUrl::fromEncoded(url));
        if (path.isEmpty()) {
            QVERIFY(!back);
            const DroppedFiles dropped = droppedFilesOf({QUrl::fromEncoded(url)});
            QCOMPARE(dropped.notLocal, 1);
            QVERIFY(dropped.groups.isEmpty());
            return;
        }
        QCOMPARE(localFileUrl(nameFromBytes(path)).toEncoded(), url);
        QVERIFY(back);
        QCOMPARE(bytesOfName(*back), path);
    }

    // The whole way: a file manager's file dropped onto the remote browser of the program
    // lands on the real server, byte for byte.
    void droppedFileLandsOnServer()
    {
        test::AppHarness h;
        QVERIFY2(h.launchConnected(), h.why());
        const QByteArray content = patternBytes(300000, 7);
        QVERIFY(writeFile(h.localFile(QStringLiteral("dropped.bin")), content));
        h.window().show();
        QVERIFY(QTest::qWaitForWindowExposed(&h.window()));
        (void)test::AppHarness::names(h.remote(), 0);
        QMimeData data;
        data.setUrls({localFileUrl(h.localFile(QStringLiteral("dropped.bin")))});
        const DragOutcome out = dragOver(h.remote(), h.remote().dropArea(0), pointOf(h.remote(), 0, -1), data);
        QVERIFY(out.accepted);
        QTRY_VERIFY_WITH_TIMEOUT(!h.uploads().isEmpty() && test::AppHarness::allFinished(h.uploads()), 60000);
        QVERIFY(!h.uploads().first().hasError());
        QCOMPARE(h.server.readFile(QStringLiteral("dropped.bin")), content);
    }
};

QTEST_MAIN(TestDragDrop)
#include "tst_dragdrop.moc"
