// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/NotificationCenter.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QTest>
#include <QThread>

#include <memory>
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
        for (const char *name : {"ChunkOfFile", "ChunkOfFileUploaded", "FileSaved", "FileSend"})
            bus_.connect(QString(), NotificationCenter::dbusPath(), NotificationCenter::dbusInterface(),
                         QString::fromLatin1(name), this, SLOT(onSignal(QDBusMessage)));
    }
    QDBusConnection &bus() { return bus_; }

    // Signals from earlier tests may still be on their way: each test looks for its own,
    // told apart by a "probe" entry or by their content.
    static StringMap infoOf(const QDBusMessage &m)
    {
        StringMap info;
        if (m.arguments().size() == 2)
            m.arguments().at(1).value<QDBusArgument>() >> info;
        return info;
    }
    qsizetype indexWith(const QString &member, const StringMap &info) const
    {
        for (qsizetype i = 0; i < received.size(); ++i)
            if (received[i].member() == member && infoOf(received[i]) == info)
                return i;
        return -1;
    }
    bool waitFor(const QString &member, const StringMap &info)
    {
        return QTest::qWaitFor([&] { return indexWith(member, info) >= 0; }, kWaitMs);
    }

    QList<QDBusMessage> received;

public Q_SLOTS:
    void onSignal(const QDBusMessage &message) { received.append(message); }

private:
    QDBusConnection bus_;
};

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
        if (watcher_)
            watcher_->received.clear();
    }

    void matchesNameAndObject_data();
    void matchesNameAndObject();
    void postsFromWorkerThreadsKeepTheirOrder();
    void removedObserverGetsNothingAlreadyQueued();
    void destroyedContextEndsItsRegistrations();
    void broadcastReachesAnotherBusClient_data();
    void broadcastReachesAnotherBusClient();
    void broadcastCanBeTurnedOff();
    void busSignalsNeverReachOwnObservers();

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
    int sender = 0;
    center.post(postedName, postedObject, info, &sender);
    center.post(QStringLiteral("Marker"), observedObject, {});
    QTRY_COMPARE_WITH_TIMEOUT(marker.notes.size(), size_t(1), kWaitMs);

    QCOMPARE(seen.notes.size(), size_t(delivered ? 1 : 0));
    if (delivered) {
        QCOMPARE(seen.notes[0].name, postedName);
        QCOMPARE(seen.notes[0].object, postedObject);
        QCOMPARE(seen.notes[0].userInfo, info);
        QCOMPARE(seen.notes[0].sender, static_cast<const void *>(&sender));
    }
}

void TestNotificationCenter::postsFromWorkerThreadsKeepTheirOrder()
{
    QObject context;
    Seen a, b;
    observe(&context, QStringLiteral("A"), QStringLiteral("DataTransfert"), a);
    observe(&context, QStringLiteral("B"), QStringLiteral("DataTransfert"), b);

    constexpr int kCount = 2000;
    auto poster = [](const QString &name) {
        for (int i = 0; i < kCount; ++i)
            NotificationCenter::defaultCenter().post(name, QStringLiteral("DataTransfert"),
                                                     {{QStringLiteral("size"), QString::number(i)}});
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
    const QDBusMessage &m = watcher.received.at(watcher.indexWith(name, info));
    QCOMPARE(m.member(), name);
    QCOMPARE(m.path(), NotificationCenter::dbusPath());
    QCOMPARE(m.interface(), NotificationCenter::dbusInterface());
    QCOMPARE(m.signature(), QStringLiteral("sa{ss}"));
    QCOMPARE(m.arguments().size(), 2);
    QCOMPARE(m.arguments().at(0).toString(), QStringLiteral("DataTransfert"));
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

    // Another program announces a finished download on the bus.
    BusWatcher &other = *watcher_;
    QDBusMessage foreign = QDBusMessage::createSignal(NotificationCenter::dbusPath(),
                                                      NotificationCenter::dbusInterface(),
                                                      QStringLiteral("FileSaved"));
    const StringMap info{{"ID", "0"}, {"size", "1"}, {"probe", "foreign"}};
    foreign << QStringLiteral("DataTransfert") << QVariant::fromValue(info);
    QVERIFY(other.bus().send(foreign));
    // The bus has delivered it (back to its sender, who listens too) before the marker.
    QVERIFY(other.waitFor(QStringLiteral("FileSaved"), info));
    NotificationCenter::defaultCenter().post(QStringLiteral("Marker"), QStringLiteral("DataTransfert"), {});
    QTRY_COMPARE_WITH_TIMEOUT(marker.notes.size(), size_t(1), kWaitMs);
    QCOMPARE(seen.notes.size(), size_t(0));
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<StringMap>();
    TestNotificationCenter test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notificationcenter.moc"
