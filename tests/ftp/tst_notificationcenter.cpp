// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/FTP.h"
#include "ftp/NotificationCenter.h"
#include "support/RealFtpServer.h"
#include "support/TestSupport.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

using namespace zodaru;

using StringMap = QMap<QString, QString>;

namespace {

constexpr int kWaitMs = 30000;

// What the handlers of one context saw, in arrival order.
struct Seen {
    std::vector<Notification> notes;
    bool allOnMainThread = true;
};

void observe(QObject *context, const QString &name, const QString &object, Seen &seen)
{
    NotificationCenter::defaultCenter().addObserver(context, name, object,
                                                    [&seen](const Notification &n) {
        if (QThread::currentThread() != qApp->thread())
            seen.allOnMainThread = false;
        seen.notes.push_back(n);
    });
}

} // namespace

// One notification as a listener on the bus gets it, with its number.
struct Heard : BroadcastNote {
    quint64 sequence = 0;
};

// A second client of the session bus, as another program of the user would be. One for
// the whole run: the bus's own thread may still touch a receiver after its connection
// was dropped, so a watcher is never destroyed while the bus runs.
class BusWatcher final : public QObject {
    Q_OBJECT
public:
    explicit BusWatcher(QObject *parent)
        : QObject(parent),
          bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("watcher")))
    {
        bus_.connect(QString(), NotificationCenter::dbusPath(), NotificationCenter::dbusInterface(),
                     NotificationCenter::dbusSignal(), this, SLOT(onSignal(QDBusMessage)));
        // Once the bus has answered, it applies the match rule to whatever comes next.
        bus_.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                 QStringLiteral("/org/freedesktop/DBus"),
                                                 QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetId")));
    }
    QDBusConnection &bus() { return bus_; }

    // Signals from earlier tests may still be on their way: each test looks for its own,
    // told apart by a "probe" entry or by their content.
    qsizetype indexWith(const QString &name, const StringMap &info) const
    {
        for (qsizetype i = 0; i < heard.size(); ++i)
            if (heard[i].name == name && heard[i].userInfo == info)
                return i;
        return -1;
    }
    bool waitFor(const QString &name, const StringMap &info)
    {
        return QTest::qWaitFor([&] { return indexWith(name, info) >= 0; }, kWaitMs);
    }

    QList<QDBusMessage> received;
    // Each notification heard, runs of equal ones taken apart, and how many structures
    // carried them.
    QList<Heard> heard;
    qsizetype structures = 0;
    std::function<void(const Heard &)> onHeard;
    // When set, only this bus name's signals are heard: the tests of one run share a bus,
    // and another test's transfers post on it too.
    QString from;

public Q_SLOTS:
    void onSignal(const QDBusMessage &message)
    {
        if (!from.isEmpty() && message.service() != from)
            return;
        received.append(message);
        if (message.signature() != QLatin1String("ta(ssa{ss}u)"))
            return;
        quint64 sequence = message.arguments().at(0).toULongLong();
        const QDBusArgument notes = message.arguments().at(1).value<QDBusArgument>();
        notes.beginArray();
        while (!notes.atEnd()) {
            Heard run;
            notes >> static_cast<BroadcastNote &>(run);
            ++structures;
            for (quint32 i = 0; i < run.count; ++i) {
                Heard h = run;
                h.count = 1;
                h.sequence = sequence++;
                heard.append(h);
                if (onHeard)
                    onHeard(h);
            }
        }
        notes.endArray();
    }

private:
    QDBusConnection bus_;
};

void registerBusTypes()
{
    qDBusRegisterMetaType<StringMap>();
    qDBusRegisterMetaType<BroadcastNote>();
    qDBusRegisterMetaType<QList<BroadcastNote>>();
}

// The listener process of secondProcessReceivesEveryChunk(): prints "ready", then a line
// per notification heard from the bus name it is given ("sequence name object
// key=value,..."), and ends after the first completion.
int listen(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    registerBusTypes();
    BusWatcher watcher(&app);
    watcher.from = QString::fromLocal8Bit(argv[2]);
    watcher.onHeard = [](const Heard &h) {
        QStringList pairs;
        for (auto it = h.userInfo.begin(); it != h.userInfo.end(); ++it)
            pairs << it.key() + QLatin1Char('=') + it.value();
        std::printf("%llu %s %s %s\n", static_cast<unsigned long long>(h.sequence), qPrintable(h.name),
                    qPrintable(h.object), qPrintable(pairs.join(QLatin1Char(','))));
        if (h.name == QLatin1String("FileSaved") || h.name == QLatin1String("FileSend")) {
            std::fflush(stdout);
            QCoreApplication::quit();
        }
    };
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}

Heard parsedHeard(const QByteArray &line)
{
    const QList<QByteArray> fields = line.trimmed().split(' ');
    Heard h;
    h.sequence = fields.value(0).toULongLong();
    h.name = QString::fromUtf8(fields.value(1));
    h.object = QString::fromUtf8(fields.value(2));
    for (const QByteArray &pair : fields.value(3).split(','))
        if (const qsizetype eq = pair.indexOf('='); eq > 0)
            h.userInfo.insert(QString::fromUtf8(pair.left(eq)), QString::fromUtf8(pair.mid(eq + 1)));
    return h;
}

class TestNotificationCenter final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        if (QDBusConnection::sessionBus().isConnected())
            watcher_ = new BusWatcher(this);
    }
    void init()
    {
        NotificationCenter::defaultCenter().setBroadcastEnabled(true);
        if (watcher_) {
            watcher_->received.clear();
            watcher_->heard.clear();
            watcher_->structures = 0;
            watcher_->from.clear();
        }
    }

    void matchesNameAndObject_data();
    void matchesNameAndObject();
    void postsFromWorkerThreadsKeepTheirOrder();
    void removedObserverGetsNothingAlreadyQueued();
    void destroyedContextEndsItsRegistrations();
    void typedAndNamedObserversShareOneOrder_data();
    void typedAndNamedObserversShareOneOrder();
    void broadcastReachesAnotherBusClient_data();
    void broadcastReachesAnotherBusClient();
    void equalNotificationsTravelAsOneRun();
    void broadcastCanBeTurnedOff();
    void busSignalsNeverReachOwnObservers();
    void secondProcessReceivesEveryChunk_data();
    void secondProcessReceivesEveryChunk();

private:
    BusWatcher *watcher_ = nullptr;
};

void TestNotificationCenter::matchesNameAndObject_data()
{
    QTest::addColumn<QString>("observedName");
    QTest::addColumn<QString>("observedObject");
    QTest::addColumn<QString>("postedName");
    QTest::addColumn<QString>("postedObject");
    QTest::addColumn<bool>("delivered");

    const QString obj = QStringLiteral("DataTransfert");
    QTest::newRow("same name and object") << "FileSaved" << obj << "FileSaved" << obj << true;
    QTest::newRow("other name") << "FileSaved" << obj << "FileSend" << obj << false;
    QTest::newRow("other object") << "FileSaved" << obj << "FileSaved" << "Other" << false;
    QTest::newRow("name differs in case") << "FileSaved" << obj << "filesaved" << obj << false;
    QTest::newRow("prefix of the name") << "ChunkOfFile" << obj << "ChunkOfFileUploaded" << obj
                                        << false;
}

void TestNotificationCenter::matchesNameAndObject()
{
    QFETCH(QString, observedName);
    QFETCH(QString, observedObject);
    QFETCH(QString, postedName);
    QFETCH(QString, postedObject);
    QFETCH(bool, delivered);

    QObject context;
    Seen seen;
    observe(&context, observedName, observedObject, seen);
    // A marker on a second registration tells when everything posted before it has arrived.
    Seen marker;
    observe(&context, QStringLiteral("Marker"), observedObject, marker);

    auto &center = NotificationCenter::defaultCenter();
    const StringMap info{{QStringLiteral("ID"), QStringLiteral("7")}};
    const quint64 engine = 41;
    center.post(postedName, postedObject, info, engine);
    center.post(QStringLiteral("Marker"), observedObject, {});
    QTRY_COMPARE_WITH_TIMEOUT(marker.notes.size(), size_t(1), kWaitMs);

    QCOMPARE(seen.notes.size(), size_t(delivered ? 1 : 0));
    if (delivered) {
        QCOMPARE(seen.notes[0].name, postedName);
        QCOMPARE(seen.notes[0].object, postedObject);
        QCOMPARE(seen.notes[0].userInfo, info);
        QCOMPARE(seen.notes[0].engine, engine);
    }
}

void TestNotificationCenter::postsFromWorkerThreadsKeepTheirOrder()
{
    QObject context;
    Seen a, b;
    observe(&context, QStringLiteral("A"), QStringLiteral("DataTransfert"), a);
    observe(&context, QStringLiteral("B"), QStringLiteral("DataTransfert"), b);

    constexpr int kCount = 2000;
    // Some posts ask for a round at once (as a transfer's end does): they must not
    // overtake what was posted before them.
    auto poster = [](const QString &name) {
        for (int i = 0; i < kCount; ++i)
            NotificationCenter::defaultCenter().post(name, QStringLiteral("DataTransfert"),
                                                     {{QStringLiteral("size"), QString::number(i)}}, 0,
                                                     i % 7 == 0 ? NotificationCenter::Delivery::Now
                                                                : NotificationCenter::Delivery::Batched);
    };
    std::thread ta(poster, QStringLiteral("A"));
    std::thread tb(poster, QStringLiteral("B"));
    ta.join();
    tb.join();

    QTRY_COMPARE_WITH_TIMEOUT(a.notes.size() + b.notes.size(), size_t(2 * kCount), kWaitMs);
    QVERIFY(a.allOnMainThread && b.allOnMainThread);
    for (int i = 0; i < kCount; ++i) {
        QCOMPARE(a.notes[i].userInfo.value(QStringLiteral("size")), QString::number(i));
        QCOMPARE(b.notes[i].userInfo.value(QStringLiteral("size")), QString::number(i));
    }
}

void TestNotificationCenter::removedObserverGetsNothingAlreadyQueued()
{
    QObject context, other;
    Seen seen, marker;
    observe(&context, QStringLiteral("FileSaved"), QStringLiteral("DataTransfert"), seen);
    observe(&other, QStringLiteral("FileSaved"), QStringLiteral("DataTransfert"), marker);

    auto &center = NotificationCenter::defaultCenter();
    center.post(QStringLiteral("FileSaved"), QStringLiteral("DataTransfert"), {});
    // Queued but not yet delivered: the event loop has not run since the post.
    center.removeObserver(&context);
    QTRY_COMPARE_WITH_TIMEOUT(marker.notes.size(), size_t(1), kWaitMs);
    QCOMPARE(seen.notes.size(), size_t(0));
    center.removeObserver(&other);
}

void TestNotificationCenter::destroyedContextEndsItsRegistrations()
{
    Seen seen, marker;
    QObject survivor;
    observe(&survivor, QStringLiteral("FileSend"), QStringLiteral("DataTransfert"), marker);
    auto &center = NotificationCenter::defaultCenter();
    {
        auto context = std::make_unique<QObject>();
        observe(context.get(), QStringLiteral("FileSend"), QStringLiteral("DataTransfert"), seen);
        center.post(QStringLiteral("FileSend"), QStringLiteral("DataTransfert"), {});
    }
    // A later post must not reach the dead context either.
    center.post(QStringLiteral("FileSend"), QStringLiteral("DataTransfert"), {});
    QTRY_COMPARE_WITH_TIMEOUT(marker.notes.size(), size_t(2), kWaitMs);
    QCOMPARE(seen.notes.size(), size_t(0));
}

namespace {

// One transfer event as a line: the notification's name, engine, ID, size and status, "-"
// for what the notification leaves out.
QString eventLine(const QString &name, quint64 engine, const QString &id, const QString &size, const QString &status)
{
    return QStringLiteral("%1 %2 %3 %4 %5").arg(name).arg(engine).arg(id, size, status);
}

QString eventLine(const TransferEvent &e)
{
    static const QStringList names{QStringLiteral("ChunkOfFile"), QStringLiteral("ChunkOfFileUploaded"),
                                   QStringLiteral("FileSaved"), QStringLiteral("FileSend")};
    const QString none = QStringLiteral("-");
    return eventLine(names[int(e.kind)], e.engine, e.kind == TransferEvent::Kind::UploadChunk ? none : QString::number(e.file),
                     QString::number(e.bytes), e.isEnd() ? QString::number(e.status) : none);
}

} // namespace

void TestNotificationCenter::typedAndNamedObserversShareOneOrder_data()
{
    QTest::addColumn<bool>("broadcast");
    QTest::addColumn<bool>("byName");
    QTest::newRow("observers by name, the bus on") << true << true;
    QTest::newRow("observers by name, the bus off") << false << true;
    QTest::newRow("typed alone, the bus on") << true << false;
    QTest::newRow("typed alone, no strings wanted") << false << false;
}

// Each event reaches the typed observer as it was told and, right after, the observer of
// its name as the notification with the same content: one queue, one order, from engines
// posting on two threads at once.
void TestNotificationCenter::typedAndNamedObserversShareOneOrder()
{
    QFETCH(bool, broadcast);
    QFETCH(bool, byName);
    auto &center = NotificationCenter::defaultCenter();
    center.setBroadcastEnabled(broadcast);
    QObject context;
    QStringList seen;
    std::vector<TransferEvent> typed;
    center.addTransferObserver(&context, [&](const TransferEvent &e) {
        typed.push_back(e);
        seen << QStringLiteral("typed ") + eventLine(e);
    });
    if (byName) {
        for (const char *name : {"ChunkOfFile", "ChunkOfFileUploaded", "FileSaved", "FileSend"})
            center.addObserver(&context, QString::fromLatin1(name), QStringLiteral("DataTransfert"),
                               [&seen](const Notification &n) {
                const QString none = QStringLiteral("-");
                seen << QStringLiteral("named ")
                        + eventLine(n.name, n.engine, n.userInfo.value(QStringLiteral("ID"), none),
                                    n.userInfo.value(QStringLiteral("size"), none),
                                    n.userInfo.value(QStringLiteral("status"), none));
            });
    }
    constexpr int kFiles = 40;
    constexpr int kChunks = 12;
    // Chunks batched, ends delivered at once; equal chunks in a row, then a short last one.
    auto told = [](quint64 engine, bool upload) {
        std::vector<TransferEvent> events;
        for (qint32 file = 0; file < kFiles; ++file) {
            for (int chunk = 0; chunk < kChunks; ++chunk)
                events.push_back({engine, upload ? TransferEvent::Kind::UploadChunk : TransferEvent::Kind::DownloadChunk,
                                  file, chunk + 1 < kChunks ? 16384 : file + 1, 0});
            events.push_back({engine, upload ? TransferEvent::Kind::Uploaded : TransferEvent::Kind::Downloaded, file,
                              qint64(kChunks - 1) * 16384 + file + 1, file % 3 == 0 ? -1 : 226});
        }
        return events;
    };
    const std::vector<TransferEvent> down = told(101, false);
    const std::vector<TransferEvent> up = told(202, true);
    auto poster = [&center](const std::vector<TransferEvent> &events) {
        for (const TransferEvent &e : events)
            center.transferEvent(e);
    };
    std::thread a(poster, std::cref(down));
    std::thread b(poster, std::cref(up));
    a.join();
    b.join();
    const size_t total = down.size() + up.size();
    QTRY_COMPARE_WITH_TIMEOUT(typed.size(), total, kWaitMs);
    center.removeObserver(&context);
    // Each engine's events arrive as told.
    QStringList fromDown, fromUp, expectDown, expectUp;
    for (const TransferEvent &e : typed)
        (e.engine == 101 ? fromDown : fromUp) << eventLine(e);
    for (const TransferEvent &e : down)
        expectDown << eventLine(e);
    for (const TransferEvent &e : up)
        expectUp << eventLine(e);
    QCOMPARE(fromDown, expectDown);
    QCOMPARE(fromUp, expectUp);
    // The notification of each event follows it at once.
    QCOMPARE(seen.size(), qsizetype(byName ? 2 * total : total));
    if (byName) {
        for (qsizetype i = 0; i < seen.size(); i += 2)
            QCOMPARE(seen[i + 1], QStringLiteral("named ") + seen[i].mid(6));
    }
}

void TestNotificationCenter::broadcastReachesAnotherBusClient_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<StringMap>("info");

    QTest::newRow("chunk downloaded")
        << "ChunkOfFile" << StringMap{{"ID", "7"}, {"size", "16384"}};
    QTest::newRow("chunk uploaded, no ID") << "ChunkOfFileUploaded" << StringMap{{"size", "100"}};
    QTest::newRow("download finished, 64-bit size")
        << "FileSaved" << StringMap{{"ID", "0"}, {"size", "5368709120"}, {"status", "226"}};
    QTest::newRow("upload broke")
        << "FileSend" << StringMap{{"ID", "3"}, {"size", "0"}, {"status", "-1"}};
}

void TestNotificationCenter::broadcastReachesAnotherBusClient()
{
    QFETCH(QString, name);
    QFETCH(StringMap, info);
    if (!watcher_)
        QSKIP("no session bus");
    BusWatcher &watcher = *watcher_;

    // Posted from a worker thread, as the transfers do.
    std::thread([&] {
        NotificationCenter::defaultCenter().post(name, QStringLiteral("DataTransfert"), info);
    }).join();

    QVERIFY(watcher.waitFor(name, info));
    const Heard &h = watcher.heard.at(watcher.indexWith(name, info));
    QCOMPARE(h.object, QStringLiteral("DataTransfert"));
    const QDBusMessage &m = watcher.received.constLast();
    QCOMPARE(m.member(), NotificationCenter::dbusSignal());
    QCOMPARE(m.path(), NotificationCenter::dbusPath());
    QCOMPARE(m.interface(), NotificationCenter::dbusInterface());
}

void TestNotificationCenter::equalNotificationsTravelAsOneRun()
{
    if (!watcher_)
        QSKIP("no session bus");
    BusWatcher &watcher = *watcher_;
    watcher.from = QDBusConnection::sessionBus().baseService();

    // A transfer's chunks: equal notes in a row, one that differs, then equal ones again in
    // a later signal, whose first number must count every note of the runs before it.
    constexpr int kChunks = 500;
    const StringMap chunk{{"probe", "run"}, {"size", "16384"}};
    const StringMap last{{"probe", "run"}, {"size", "5"}};
    const StringMap end{{"probe", "run end"}};
    std::thread([&] {
        auto &center = NotificationCenter::defaultCenter();
        for (int i = 0; i < kChunks; ++i)
            center.post(QStringLiteral("ChunkOfFile"), QStringLiteral("DataTransfert"), chunk);
        center.post(QStringLiteral("ChunkOfFile"), QStringLiteral("DataTransfert"), last);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (int i = 0; i < kChunks; ++i)
            center.post(QStringLiteral("ChunkOfFile"), QStringLiteral("DataTransfert"), chunk);
        center.post(QStringLiteral("FileSaved"), QStringLiteral("DataTransfert"), end);
    }).join();
    QVERIFY(watcher.waitFor(QStringLiteral("FileSaved"), end));

    const qsizetype first = watcher.indexWith(QStringLiteral("ChunkOfFile"), chunk);
    QVERIFY(first >= 0);
    const QList<Heard> heard = watcher.heard.mid(first);
    QCOMPARE(heard.size(), qsizetype(2 * kChunks + 2));
    for (qsizetype i = 0; i < heard.size(); ++i) {
        QCOMPARE(heard[i].sequence, heard[0].sequence + quint64(i));
        const StringMap expected = i == kChunks ? last : (i == heard.size() - 1 ? end : chunk);
        QCOMPARE(heard[i].userInfo, expected);
    }
    // What makes the broadcast cheap: not a structure per chunk.
    QVERIFY2(watcher.structures < kChunks / 4, qPrintable(QString::number(watcher.structures)));
}

void TestNotificationCenter::broadcastCanBeTurnedOff()
{
    if (!watcher_)
        QSKIP("no session bus");
    BusWatcher &watcher = *watcher_;

    auto &center = NotificationCenter::defaultCenter();
    const StringMap silent{{"probe", "while off"}};
    const StringMap heard{{"probe", "after on"}};
    center.setBroadcastEnabled(false);
    center.post(QStringLiteral("FileSaved"), QStringLiteral("DataTransfert"), silent);
    center.setBroadcastEnabled(true);
    center.post(QStringLiteral("FileSaved"), QStringLiteral("DataTransfert"), heard);

    // Signals of one sender arrive in order: once the second is in, the first never comes.
    QVERIFY(watcher.waitFor(QStringLiteral("FileSaved"), heard));
    QCOMPARE(watcher.indexWith(QStringLiteral("FileSaved"), silent), -1);
}

void TestNotificationCenter::busSignalsNeverReachOwnObservers()
{
    if (!watcher_)
        QSKIP("no session bus");
    QObject context;
    Seen seen, marker;
    observe(&context, QStringLiteral("FileSaved"), QStringLiteral("DataTransfert"), seen);
    observe(&context, QStringLiteral("Marker"), QStringLiteral("DataTransfert"), marker);

    // Another program announces a finished download on the bus, in the form this one uses.
    BusWatcher &other = *watcher_;
    QDBusMessage foreign = QDBusMessage::createSignal(NotificationCenter::dbusPath(),
                                                      NotificationCenter::dbusInterface(),
                                                      NotificationCenter::dbusSignal());
    const StringMap info{{"ID", "0"}, {"size", "1"}, {"probe", "foreign"}};
    foreign << qulonglong(0)
            << QVariant::fromValue(QList<BroadcastNote>{{QStringLiteral("FileSaved"), QStringLiteral("DataTransfert"), info}});
    QVERIFY(other.bus().send(foreign));
    // The bus has delivered it (back to its sender, who listens too) before the marker.
    QVERIFY(other.waitFor(QStringLiteral("FileSaved"), info));
    NotificationCenter::defaultCenter().post(QStringLiteral("Marker"), QStringLiteral("DataTransfert"), {});
    QTRY_COMPARE_WITH_TIMEOUT(marker.notes.size(), size_t(1), kWaitMs);
    QCOMPARE(seen.notes.size(), size_t(0));
}

void TestNotificationCenter::secondProcessReceivesEveryChunk_data()
{
    QTest::addColumn<bool>("upload");
    QTest::addColumn<qint64>("length");
    QTest::newRow("download of many chunks") << false << qint64(200 * 16384 + 77);
    QTest::newRow("upload of a few chunks") << true << qint64(3 * 16384 + 5);
    QTest::newRow("empty download") << false << qint64(0);
}

void TestNotificationCenter::secondProcessReceivesEveryChunk()
{
    QFETCH(bool, upload);
    QFETCH(qint64, length);
    if (!watcher_)
        QSKIP("no session bus");
    RealFtpServer server;
    QVERIFY2(server.start(), qPrintable(server.errorText()));
    QTemporaryDir dir;
    const QString local = dir.filePath(QStringLiteral("f.bin"));
    const QByteArray content = patternBytes(length);
    QVERIFY(upload ? writeFile(local, content) : server.writeFile(QStringLiteral("f.bin"), content));

    QProcess listener;
    listener.start(QCoreApplication::applicationFilePath(),
                   {QStringLiteral("--listen"), QDBusConnection::sessionBus().baseService()});
    QVERIFY(listener.waitForReadyRead(kWaitMs));
    QCOMPARE(listener.readLine(), QByteArray("ready\n"));

    const QString chunkName = upload ? QStringLiteral("ChunkOfFileUploaded") : QStringLiteral("ChunkOfFile");
    QObject context;
    Seen chunks;
    observe(&context, chunkName, QStringLiteral("DataTransfert"), chunks);

    auto ftp = FTP::connectTo(server.address(), RealFtpServer::user(), RealFtpServer::password());
    const int started = upload ? ftp->put(local, QStringLiteral("/f.bin"), 4) : ftp->get(QStringLiteral("/f.bin"), local, 4);
    QCOMPARE(started / 100, 1);
    QVERIFY(listener.waitForFinished(kWaitMs));
    QVERIFY(FTP::waitForTransfers(kWaitMs));

    QList<Heard> heard;
    for (const QByteArray &line : listener.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            heard.append(parsedHeard(line));
    QVERIFY(!heard.isEmpty());
    // Every chunk this process's observer got, the other process got too, in the same order,
    // and nothing went missing between them: the numbers run on without a gap.
    QList<qint64> heardSizes;
    for (qsizetype i = 0; i < heard.size(); ++i) {
        QCOMPARE(heard[i].sequence, heard[0].sequence + quint64(i));
        QCOMPARE(heard[i].object, QStringLiteral("DataTransfert"));
        if (heard[i].name == chunkName)
            heardSizes << heard[i].userInfo.value(QStringLiteral("size")).toLongLong();
    }
    QTRY_COMPARE_WITH_TIMEOUT(qsizetype(chunks.notes.size()), heardSizes.size(), kWaitMs);
    QList<qint64> seenSizes;
    for (const Notification &n : chunks.notes)
        seenSizes << n.userInfo.value(QStringLiteral("size")).toLongLong();
    QCOMPARE(heardSizes, seenSizes);
    QCOMPARE(std::accumulate(heardSizes.begin(), heardSizes.end(), qint64(0)), length);

    const Heard &completion = heard.constLast();
    QCOMPARE(completion.name, upload ? QStringLiteral("FileSend") : QStringLiteral("FileSaved"));
    QCOMPARE(completion.userInfo.value(QStringLiteral("ID")), QStringLiteral("4"));
    QCOMPARE(completion.userInfo.value(QStringLiteral("size")), QString::number(length));
    QCOMPARE(completion.userInfo.value(QStringLiteral("status")), QStringLiteral("226"));
}

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--listen") == 0)
        return listen(argc, argv);
    QCoreApplication app(argc, argv);
    registerBusTypes();
    TestNotificationCenter test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notificationcenter.moc"
