// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/NotificationCenter.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

namespace zodaru {

namespace {

using StringMap = QMap<QString, QString>;

// A registration outlives its removal for as long as queued deliveries still point at it;
// the flag lets those deliveries see that nobody wants them any more.
struct Registration {
    QPointer<QObject> context;
    QString name;
    QString object;
    NotificationCenter::Handler handler;
    std::atomic<bool> active{true};
};

// One delivery waiting for its thread's event loop.
struct Pending {
    std::shared_ptr<Registration> registration;
    Notification note;
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
    bool wakeUpPending = false;
    std::chrono::steady_clock::time_point lastRound;
};

} // namespace

struct NotificationCenter::Private {
    std::mutex mutex;
    std::vector<std::shared_ptr<Registration>> registrations;
    std::map<QThread *, Mailbox> mailboxes;
    std::atomic<bool> broadcast{true};

    // Looked up once: QDBusConnection::send() is thread-safe, the lookup itself is done
    // under the mutex so two first posts from different threads do not race on it.
    bool busLookedUp = false;
    std::optional<QDBusConnection> bus;

    // Runs on the receiving thread, once per wake-up: delivers now, or when the interval
    // since the last round has passed.
    static void wokenUp()
    {
        auto &self = *defaultCenter().d;
        QObject *receiver = nullptr;
        std::chrono::milliseconds wait{0};
        {
            std::lock_guard lock(self.mutex);
            Mailbox &box = self.mailboxes[QThread::currentThread()];
            receiver = box.receiver;
            const auto next = box.lastRound + kRoundInterval;
            const auto now = std::chrono::steady_clock::now();
            if (next > now)
                wait = std::chrono::ceil<std::chrono::milliseconds>(next - now);
        }
        if (wait.count() > 0)
            QTimer::singleShot(wait, Qt::PreciseTimer, receiver, [] { deliverPending(); });
        else
            deliverPending();
    }

    static void deliverPending()
    {
        auto &self = *defaultCenter().d;
        std::deque<Pending> batch;
        {
            std::lock_guard lock(self.mutex);
            Mailbox &box = self.mailboxes[QThread::currentThread()];
            batch.swap(box.queue);
            box.wakeUpPending = false;
            box.lastRound = std::chrono::steady_clock::now();
        }
        for (const Pending &p : batch) {
            // Checked per delivery: a handler may remove an observer of a later one.
            const auto &r = p.registration;
            if (r->active && r->context)
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
    // The first post may come from a worker thread that ends soon after; the centre
    // belongs with the application.
    if (auto *app = QCoreApplication::instance(); app && thread() != app->thread())
        moveToThread(app->thread());
}

NotificationCenter::~NotificationCenter() = default;

void NotificationCenter::addObserver(QObject *context, const QString &name, const QString &object,
                                     Handler handler)
{
    if (!context || !handler)
        return;
    auto reg = std::make_shared<Registration>();
    reg->context = context;
    reg->name = name;
    reg->object = object;
    reg->handler = std::move(handler);

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
    std::erase_if(d->registrations, [context](const std::shared_ptr<Registration> &r) {
        // A context being destroyed has already cleared its QPointer.
        if (r->context && r->context != context)
            return false;
        r->active = false;
        return true;
    });
    if (context)
        disconnect(context, &QObject::destroyed, this, nullptr);
}

void NotificationCenter::post(const QString &name, const QString &object, const StringMap &userInfo,
                              const void *sender)
{
    const Notification note{name, object, userInfo, sender};

    std::optional<QDBusConnection> bus;
    {
        std::lock_guard lock(d->mutex);
        // Queued under the lock, so two threads' posts reach every observer in one order.
        for (const auto &r : d->registrations) {
            if (!r->active || r->name != name || r->object != object)
                continue;
            QObject *context = r->context.data();
            if (!context)
                continue;
            QThread *thread = context->thread();
            Mailbox &box = d->mailboxes[thread];
            if (!box.receiver) {
                box.receiver = new QObject;
                box.receiver->moveToThread(thread);
            }
            box.queue.push_back({r, note});
            if (!box.wakeUpPending) {
                box.wakeUpPending = true;
                // A lambda without captures: the queued call object then holds no data that
                // the receiving thread would read before it takes the mutex.
                QMetaObject::invokeMethod(box.receiver, [] { Private::wokenUp(); },
                                          Qt::QueuedConnection);
            }
        }

        if (!d->broadcast.load(std::memory_order_relaxed))
            return;
        if (!d->busLookedUp) {
            d->busLookedUp = true;
            QDBusConnection found = QDBusConnection::sessionBus();
            if (found.isConnected())
                d->bus = found;
        }
        bus = d->bus;
    }
    // Sent outside the lock: building and sending the message is the slow part of a post,
    // and the main thread must not wait for it to take its deliveries. One thread's
    // signals still leave in the order it posted them.
    if (bus) {
        QDBusMessage signal = QDBusMessage::createSignal(dbusPath(), dbusInterface(), name);
        signal << object << QVariant::fromValue(userInfo);
        bus->send(signal);
    }
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

} // namespace zodaru
