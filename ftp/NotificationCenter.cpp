// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/NotificationCenter.h"

#include "base/Log.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <limits>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace zodaru {

QDBusArgument &operator<<(QDBusArgument &out, const BroadcastNote &note)
{
    out.beginStructure();
    out << note.name << note.object << note.userInfo << note.count;
    out.endStructure();
    return out;
}

const QDBusArgument &operator>>(const QDBusArgument &in, BroadcastNote &note)
{
    in.beginStructure();
    in >> note.name >> note.object >> note.userInfo >> note.count;
    in.endStructure();
    return in;
}

namespace {

using StringMap = QMap<QString, QString>;

// A registration outlives its removal for as long as queued deliveries still point at it;
// the flag lets those deliveries see that nobody wants them any more.
// A typed registration (transferHandler set) gets transfer events as they are; the others
// get the notifications of their name and object.
struct Registration {
    QPointer<QObject> context;
    QString name;
    QString object;
    NotificationCenter::Handler handler;
    NotificationCenter::TransferHandler transferHandler;
    std::atomic<bool> active{true};
};

// One delivery waiting for its thread's event loop: `event` for a typed registration,
// `note` for the others.
struct Pending {
    std::shared_ptr<Registration> registration;
    Notification note;
    TransferEvent event;
};

// At most one delivery round per this interval and thread: a worker posts a chunk every
// few microseconds, and waking the main thread for each one costs more than the transfer
// itself. Progress and completions reach observers at most this late.
constexpr std::chrono::milliseconds kRoundInterval{4};

// The deliveries bound for one thread, in posting order. The event posted to wake that
// thread carries nothing: the thread takes every pending delivery under the centre's
// mutex, so all data handed between threads goes through that mutex (which also keeps
// ThreadSanitizer able to see the hand-over). The receiver is the centre's own object, so
// a context that dies with deliveries pending loses nothing but its own.
struct Mailbox {
    QObject *receiver = nullptr; // never deleted: a wake-up may still be queued for it
    std::deque<Pending> queue;
    // A wake-up is on its way, or the round timer is set: a post need not wake the thread.
    bool wakeUpPending = false;
    // Something posted to be delivered now; its own wake-up is on its way.
    bool urgent = false;
    std::chrono::steady_clock::time_point lastRound;
    // The receiving thread's timer for a round that waits out the interval; set after each
    // round, and restarted when an urgent delivery takes the round first.
    QTimer *roundTimer = nullptr; // a child of `receiver`
};

// What the sender thread lets gather before it sends one signal, and the most structures
// one signal carries (about 100 bytes each).
constexpr std::chrono::milliseconds kBusInterval{4};
constexpr qsizetype kMaxPerSignal = 4096;
// How long the sender waits for the bus to have read what it was sent.
constexpr int kBusRoundTripMs = 5000;

} // namespace

struct NotificationCenter::Private {
    std::mutex mutex;
    std::vector<std::shared_ptr<Registration>> registrations;
    // Registrations by name: while there are none and the broadcast is off, a transfer
    // event needs no strings at all.
    std::atomic<int> named{0};
    std::map<QThread *, Mailbox> mailboxes;
    std::atomic<bool> broadcast{true};

    // Looked up once, under the mutex so two first posts from different threads do not
    // race on it; from then on only the sender thread uses the connection.
    bool busLookedUp = false;
    bool busFound = false;

    // The broadcast, under `mutex`: notifications not yet handed to the bus (runs of equal
    // ones as one), the sequence number of the first of them, and how many were dropped
    // since the last signal.
    std::deque<BroadcastNote> unsent;
    quint64 firstUnsent = 0;
    quint64 dropped = 0;
    bool senderIdle = false; // waiting with nothing to send: every post wakes it
    bool sending = false;    // a batch taken from `unsent` is not on the bus yet
    bool closed = false;     // the application is gone: nothing more goes to the bus
    std::condition_variable senderWake;
    std::condition_variable sent;

    // Runs on the sender thread for the life of the program.
    void sendLoop(QDBusConnection connection)
    {
        QList<BroadcastNote> batch;
        for (;;) {
            quint64 first = 0;
            quint64 lost = 0;
            {
                std::unique_lock lock(mutex);
                if (unsent.empty()) {
                    sending = false;
                    sent.notify_all();
                    senderIdle = true;
                    senderWake.wait(lock, [this] { return !unsent.empty() || closed; });
                    senderIdle = false;
                }
                if (closed)
                    return;
                // What the next few milliseconds post goes in the same signal.
                senderWake.wait_for(lock, kBusInterval,
                                    [this] { return qsizetype(unsent.size()) >= kMaxPerSignal || closed; });
                if (closed)
                    return;
                const qsizetype count = std::min<qsizetype>(kMaxPerSignal, qsizetype(unsent.size()));
                batch.clear();
                batch.reserve(count);
                first = firstUnsent;
                for (qsizetype i = 0; i < count; ++i) {
                    firstUnsent += unsent.front().count;
                    batch.append(std::move(unsent.front()));
                    unsent.pop_front();
                }
                lost = std::exchange(dropped, 0);
                sending = true;
            }
            if (lost > 0)
                zlog("Bus de session trop lent : %i notifications non diffusees", lost);
            QDBusMessage signal = QDBusMessage::createSignal(dbusPath(), dbusInterface(), dbusSignal());
            signal << qulonglong(first) << QVariant::fromValue(batch);
            connection.send(signal);
            // The bus daemon reads a connection's messages in order: once it has answered
            // this call it has read the signal. Until then what is posted waits here, and
            // a bus that does not keep up makes the oldest wait in `unsent` be dropped
            // instead of piling up in the connection's own queue.
            connection.call(QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                           QStringLiteral("/org/freedesktop/DBus"),
                                                           QStringLiteral("org.freedesktop.DBus"),
                                                           QStringLiteral("GetId")),
                            QDBus::Block, kBusRoundTripMs);
        }
    }

    // Under `mutex`: queues a delivery for the registration's thread, and wakes that thread
    // unless a round is coming anyway.
    void queueDelivery(Pending pending, NotificationCenter::Delivery delivery)
    {
        QThread *thread = pending.registration->context->thread();
        Mailbox &box = mailboxes[thread];
        if (!box.receiver) {
            box.receiver = new QObject;
            box.receiver->moveToThread(thread);
        }
        box.queue.push_back(std::move(pending));
        // A round already waiting out its interval is overtaken by a wake-up of its own.
        const bool now = delivery == NotificationCenter::Delivery::Now;
        const bool overtake = now && !box.urgent;
        if (now)
            box.urgent = true;
        if (!box.wakeUpPending || overtake) {
            box.wakeUpPending = true;
            // A lambda without captures: the queued call object then holds no data that
            // the receiving thread would read before it takes the mutex.
            QMetaObject::invokeMethod(box.receiver, [] { Private::wokenUp(); }, Qt::QueuedConnection);
        }
    }

    // Under `mutex`: queues `note` for the bus; true when the sender must be woken.
    bool queueForBus(const Notification &note)
    {
        if (closed)
            return false;
        if (!busLookedUp) {
            busLookedUp = true;
            QDBusConnection found = QDBusConnection::sessionBus();
            if (found.isConnected()) {
                busFound = true;
                std::thread([this, found] { sendLoop(found); }).detach();
            }
        }
        if (!busFound)
            return false;
        // A run is closed once its count could overflow; the sender may have taken the
        // last run already, and then the note starts a new one.
        if (!unsent.empty()) {
            BroadcastNote &last = unsent.back();
            if (last.count < std::numeric_limits<quint32>::max() && last.name == note.name
                && last.object == note.object && last.userInfo == note.userInfo) {
                ++last.count;
                return false;
            }
        }
        unsent.push_back({note.name, note.object, note.userInfo});
        if (unsent.size() > kMaxUnsent) {
            firstUnsent += unsent.front().count;
            dropped += unsent.front().count;
            unsent.pop_front();
        }
        return senderIdle;
    }

    // Runs on the receiving thread, once per wake-up: delivers now, or when the interval
    // since the last round has passed.
    static void wokenUp()
    {
        auto &self = *defaultCenter().d;
        QTimer *timer = nullptr;
        std::chrono::milliseconds wait{0};
        {
            std::lock_guard lock(self.mutex);
            Mailbox &box = self.mailboxes[QThread::currentThread()];
            const auto next = box.lastRound + kRoundInterval;
            const auto now = std::chrono::steady_clock::now();
            if (next > now && !box.urgent) {
                wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
                timer = roundTimerOf(box);
            }
        }
        if (!timer)
            deliverPending();
        else if (!timer->isActive())
            timer->start(wait);
    }

    // Under `mutex`, on the mailbox's thread.
    static QTimer *roundTimerOf(Mailbox &box)
    {
        if (!box.roundTimer) {
            box.roundTimer = new QTimer(box.receiver);
            box.roundTimer->setSingleShot(true);
            box.roundTimer->setTimerType(Qt::PreciseTimer);
            QObject::connect(box.roundTimer, &QTimer::timeout, [] { deliverPending(); });
        }
        return box.roundTimer;
    }

    static void deliverPending()
    {
        auto &self = *defaultCenter().d;
        std::deque<Pending> batch;
        QTimer *timer = nullptr;
        bool waitForNext = false;
        {
            std::lock_guard lock(self.mutex);
            Mailbox &box = self.mailboxes[QThread::currentThread()];
            batch.swap(box.queue);
            box.urgent = false;
            // After a round the next one waits out the interval anyway: the timer is set now
            // and what is posted meanwhile waits for it without waking this thread, which
            // would only set the timer. A timer that finds nothing leaves the thread idle,
            // for the next post to wake.
            waitForNext = !batch.empty();
            box.wakeUpPending = waitForNext;
            if (waitForNext)
                box.lastRound = std::chrono::steady_clock::now();
            timer = waitForNext ? roundTimerOf(box) : box.roundTimer;
        }
        if (waitForNext)
            timer->start(kRoundInterval);
        else if (timer)
            timer->stop();
        for (const Pending &p : batch) {
            // Checked per delivery: a handler may remove an observer of a later one.
            const auto &r = p.registration;
            if (!r->active || !r->context)
                continue;
            if (r->transferHandler)
                r->transferHandler(p.event);
            else
                r->handler(p.note);
        }
    }
};

NotificationCenter &NotificationCenter::defaultCenter()
{
    // Never destroyed: a detached transfer worker may still post while the process exits.
    static NotificationCenter *const center = new NotificationCenter;
    return *center;
}

NotificationCenter::NotificationCenter() : d(std::make_unique<Private>())
{
    qDBusRegisterMetaType<StringMap>();
    qDBusRegisterMetaType<BroadcastNote>();
    qDBusRegisterMetaType<QList<BroadcastNote>>();
    // The first post may come from a worker thread that ends soon after; the centre
    // belongs with the application.
    if (auto *app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
    // The last completions of a quit still reach the bus; past that the bus connection
    // is being torn down and the sender must leave it alone.
    qAddPostRoutine([] {
        auto &self = *defaultCenter().d;
        defaultCenter().flushBroadcast(kBusRoundTripMs);
        std::lock_guard lock(self.mutex);
        self.closed = true;
        self.senderWake.notify_all();
    });
}

NotificationCenter::~NotificationCenter() = default;

void NotificationCenter::addObserver(QObject *context, const QString &name, const QString &object,
                                     Handler handler)
{
    if (handler)
        addRegistration(context, name, object, std::move(handler), nullptr);
}

void NotificationCenter::addTransferObserver(QObject *context, TransferHandler handler)
{
    if (handler)
        addRegistration(context, QString(), QString(), nullptr, std::move(handler));
}

void NotificationCenter::addRegistration(QObject *context, QString name, QString object, Handler handler,
                                         TransferHandler transferHandler)
{
    if (!context)
        return;
    auto reg = std::make_shared<Registration>();
    reg->context = context;
    reg->name = std::move(name);
    reg->object = std::move(object);
    reg->handler = std::move(handler);
    reg->transferHandler = std::move(transferHandler);
    if (!reg->transferHandler)
        ++d->named;

    bool firstForContext = true;
    {
        std::lock_guard lock(d->mutex);
        for (const auto &r : d->registrations)
            if (r->context == context)
                firstForContext = false;
        d->registrations.push_back(std::move(reg));
    }
    if (firstForContext) {
        // Direct: the registration must be gone before the object is, whatever thread
        // deletes it.
        connect(context, &QObject::destroyed, this,
                [this](QObject *gone) { removeObserver(gone); }, Qt::DirectConnection);
    }
}

void NotificationCenter::removeObserver(QObject *context)
{
    std::lock_guard lock(d->mutex);
    std::erase_if(d->registrations, [this, context](const std::shared_ptr<Registration> &r) {
        // A context being destroyed has already cleared its QPointer.
        if (r->context && r->context != context)
            return false;
        r->active = false;
        if (!r->transferHandler)
            --d->named;
        return true;
    });
    if (context)
        disconnect(context, &QObject::destroyed, this, nullptr);
}

void NotificationCenter::post(const QString &name, const QString &object, const StringMap &userInfo,
                              quint64 engine, Delivery delivery)
{
    const Notification note{name, object, userInfo, engine};

    bool wakeSender = false;
    {
        std::lock_guard lock(d->mutex);
        // Queued under the lock, so two threads' posts reach every observer in one order.
        for (const auto &r : d->registrations) {
            if (r->active && r->context && !r->transferHandler && r->name == name && r->object == object)
                d->queueDelivery({r, note, {}}, delivery);
        }

        if (d->broadcast.load(std::memory_order_relaxed))
            wakeSender = d->queueForBus(note);
    }
    if (wakeSender)
        d->senderWake.notify_one();
}

namespace {

const QString kObjectName = QStringLiteral("DataTransfert");

QString eventName(TransferEvent::Kind kind)
{
    switch (kind) {
    case TransferEvent::Kind::DownloadChunk:
        return QStringLiteral("ChunkOfFile");
    case TransferEvent::Kind::UploadChunk:
        return QStringLiteral("ChunkOfFileUploaded");
    case TransferEvent::Kind::Downloaded:
        return QStringLiteral("FileSaved");
    case TransferEvent::Kind::Uploaded:
        break;
    }
    return QStringLiteral("FileSend");
}

// The user information of an event. An upload's chunks carry no "ID"; the ends carry the
// completion's status beside the size.
QMap<QString, QString> eventInfo(const TransferEvent &event)
{
    QMap<QString, QString> info{{QStringLiteral("size"), QString::number(event.bytes)}};
    if (event.kind != TransferEvent::Kind::UploadChunk)
        info.insert(QStringLiteral("ID"), QString::number(event.file));
    if (event.isEnd())
        info.insert(QStringLiteral("status"), QString::number(event.status));
    return info;
}

} // namespace

void NotificationCenter::transferEvent(const TransferEvent &event)
{
    // All but the last chunk of a transfer carry the same information: built once per thread
    // and transfer and shared instead of once per chunk (65 536 chunks per GiB).
    struct LastChunk {
        TransferEvent::Kind kind = TransferEvent::Kind::Downloaded;
        qint32 file = 0;
        qint64 bytes = -1;
        QMap<QString, QString> info;
    };
    thread_local LastChunk last;
    const Delivery delivery = event.isEnd() ? Delivery::Now : Delivery::Batched;
    const bool broadcast = d->broadcast.load(std::memory_order_relaxed);
    // Strings only for whoever reads them: observers by name and the bus.
    const bool strings = broadcast || d->named.load(std::memory_order_relaxed) > 0;
    Notification note;
    if (strings) {
        note.name = eventName(event.kind);
        note.object = kObjectName;
        note.engine = event.engine;
        if (event.isEnd()) {
            last = LastChunk{};
            note.userInfo = eventInfo(event);
        } else {
            if (last.kind != event.kind || last.file != event.file || last.bytes != event.bytes)
                last = LastChunk{event.kind, event.file, event.bytes, eventInfo(event)};
            note.userInfo = last.info;
        }
    }

    bool wakeSender = false;
    {
        std::lock_guard lock(d->mutex);
        for (const auto &r : d->registrations) {
            if (!r->active || !r->context)
                continue;
            if (r->transferHandler)
                d->queueDelivery({r, {}, event}, delivery);
            else if (strings && r->name == note.name && r->object == note.object)
                d->queueDelivery({r, note, {}}, delivery);
        }
        if (strings && broadcast)
            wakeSender = d->queueForBus(note);
    }
    if (wakeSender)
        d->senderWake.notify_one();
}

bool NotificationCenter::flushBroadcast(int timeoutMs)
{
    std::unique_lock lock(d->mutex);
    return d->sent.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [this] { return d->unsent.empty() && !d->sending; });
}

void NotificationCenter::setBroadcastEnabled(bool enabled)
{
    d->broadcast = enabled;
}

bool NotificationCenter::broadcastEnabled() const
{
    return d->broadcast;
}

QString NotificationCenter::dbusPath()
{
    return QStringLiteral("/org/zodaru/Transfers");
}

QString NotificationCenter::dbusInterface()
{
    return QStringLiteral("org.zodaru.Transfers");
}

QString NotificationCenter::dbusSignal()
{
    return QStringLiteral("Notifications");
}

} // namespace zodaru
