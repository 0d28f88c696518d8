// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ftp/TransferEvent.h"

#include <QMap>
#include <QObject>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>

namespace zodaru {

// A posted notification: name ("ChunkOfFile", ...), object ("DataTransfert"), user
// information of decimal texts, and the id of the engine that posted it (FTP::id(), 0 when
// none) so observers can ignore transfers of engines they no longer use.
struct Notification {
    QString name;
    QString object;
    QMap<QString, QString> userInfo;
    quint64 engine = 0;
};

// Notifications as they travel on the session bus: the D-Bus structure
// (name, object, user information, count), "(ssa{ss}u)", stands for `count` equal
// notifications posted one after the other (the 16 KiB chunks of a transfer).
struct BroadcastNote {
    QString name;
    QString object;
    QMap<QString, QString> userInfo;
    quint32 count = 1;
};

} // namespace zodaru

class QDBusArgument;
Q_DECLARE_METATYPE(zodaru::BroadcastNote)

namespace zodaru {

QDBusArgument &operator<<(QDBusArgument &out, const BroadcastNote &note);
const QDBusArgument &operator>>(const QDBusArgument &in, BroadcastNote &note);

// The user-wide notification centre for transfer progress.
//
// post() and transferEvent() may be called from any thread. Observers run on the thread of
// their context object (the main thread), in posting order, in delivery rounds: at most one
// round per few milliseconds and thread, each delivering everything posted since the last
// one in a single pass of that thread's event loop.
//
// A transfer event stays typed on its way: observers added with addTransferObserver() get
// the TransferEvent itself. Its string-keyed notification is built only when an observer
// registered by name or the broadcast wants it; typed and named observers of one thread get
// the events in one order, since both are queued together.
//
// Every post is also broadcast on the user's D-Bus session bus, when there is one. A
// sender thread gathers what was posted within a few milliseconds and sends it as one
// signal, "Notifications" (signature "ta(ssa{ss}u)"): the sequence number of the first
// notification it carries, then the notifications in posting order, each run of equal ones
// as one (name, object, user information, count). A transfer's chunks then cost the bus a
// few bytes per delivery round instead of a structure each: with the bus daemon, that was a
// sixth of the processor time of an upload. Numbers count notifications, not structures, and
// run on from one signal to the next without a gap unless the bus could not keep up: past
// kMaxUnsent structures waiting for the bus the oldest are dropped, so the posting worker
// never waits for the bus and memory stays bounded; a listener sees the gap in the numbers.
// Signals received from the bus are never handed to this process's observers.
class NotificationCenter final : public QObject, public TransferEventSink {
    Q_OBJECT
public:
    using Handler = std::function<void(const Notification &)>;
    using TransferHandler = std::function<void(const TransferEvent &)>;

    // Structures (runs of equal notifications) waiting for the bus before the oldest are
    // dropped.
    static constexpr std::size_t kMaxUnsent = 16384;

    static NotificationCenter &defaultCenter();
    ~NotificationCenter() override;

    // `context` owns the registration: it ends with removeObserver(context) or when the
    // context object is destroyed.
    void addObserver(QObject *context, const QString &name, const QString &object, Handler handler);
    // Every transfer event given to transferEvent(), typed; ended the same way.
    void addTransferObserver(QObject *context, TransferHandler handler);
    void removeObserver(QObject *context);

    // Batched: delivered with the next round. Now: that round starts at once, without
    // waiting out the interval since the last one (the end of a transfer, which the next
    // one waits for: with many small files the interval would otherwise set their pace).
    enum class Delivery { Batched, Now };
    void post(const QString &name, const QString &object, const QMap<QString, QString> &userInfo,
              quint64 engine = 0, Delivery delivery = Delivery::Batched);
    // An engine's transfer event: to the typed observers as it is, to the observers of its
    // notification's name (object "DataTransfert") and to the bus as that notification. The
    // chunks batched, the end of a transfer delivered now. Any thread.
    void transferEvent(const TransferEvent &event) override;

    // The session-bus broadcast can be turned off (benchmarks measure its cost).
    void setBroadcastEnabled(bool enabled);
    bool broadcastEnabled() const;

    // Waits until everything posted so far has been handed to the bus; false on time-out.
    // Runs by itself when the application object goes, after which nothing is broadcast.
    bool flushBroadcast(int timeoutMs);

    // D-Bus path, interface and signal name of the broadcast.
    static QString dbusPath();
    static QString dbusInterface();
    static QString dbusSignal();

private:
    NotificationCenter();
    void addRegistration(QObject *context, QString name, QString object, Handler handler,
                         TransferHandler transferHandler);
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace zodaru
