// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QMap>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace zodaru {

// A posted notification: name ("ChunkOfFile", ...), object ("DataTransfert"), user
// information of decimal texts, and the engine that posted it (identity only, never
// dereferenced) so observers can ignore transfers of engines they no longer use.
struct Notification {
    QString name;
    QString object;
    QMap<QString, QString> userInfo;
    const void *sender = nullptr;
};

// The user-wide notification centre for transfer progress.
//
// post() may be called from any thread. Observers run on the thread of their context
// object (the main thread), in posting order. Every post is also broadcast on the user's
// D-Bus session bus, when there is one, as a signal named like the notification carrying
// the object and the user information; signals received from the bus are never handed to
// this process's observers.
class NotificationCenter final : public QObject {
    Q_OBJECT
public:
    using Handler = std::function<void(const Notification &)>;

    static NotificationCenter &defaultCenter();
    ~NotificationCenter() override;

    // `context` owns the registration: it ends with removeObserver(context) or when the
    // context object is destroyed.
    void addObserver(QObject *context, const QString &name, const QString &object, Handler handler);
    void removeObserver(QObject *context);

    void post(const QString &name, const QString &object, const QMap<QString, QString> &userInfo,
              const void *sender = nullptr);

    // The session-bus broadcast can be turned off (benchmarks measure its cost).
    void setBroadcastEnabled(bool enabled);
    bool broadcastEnabled() const;

    // D-Bus path and interface of the broadcast signals.
    static QString dbusPath();
    static QString dbusInterface();

private:
    NotificationCenter();
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace zodaru
