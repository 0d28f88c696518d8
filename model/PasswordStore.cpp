// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/PasswordStore.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>
#include <QTimer>

#include <qt6keychain/keychain.h>

namespace zodaru {

namespace {

const QString service = QStringLiteral("Zodaru");
const QString secretService = QStringLiteral("org.freedesktop.secrets");

PasswordStore::Failure failureOf(QKeychain::Error error)
{
    switch (error) {
    case QKeychain::NoError:
        return PasswordStore::Failure::None;
    case QKeychain::EntryNotFound:
        return PasswordStore::Failure::NotFound;
    case QKeychain::AccessDenied:
    case QKeychain::AccessDeniedByUser:
        return PasswordStore::Failure::Denied;
    case QKeychain::NoBackendAvailable:
        return PasswordStore::Failure::NoKeyring;
    default:
        return PasswordStore::Failure::Other;
    }
}

} // namespace

PasswordStore::PasswordStore(QObject *parent) : QObject(parent) {}

PasswordStore::~PasswordStore() = default;

QString PasswordStore::keyOf(const QString &server, const QString &login)
{
    return login + QLatin1Char('@') + server;
}

void PasswordStore::probe(QObject *context, Running answer)
{
    const QPointer<QObject> guard(context);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QTimer::singleShot(0, this, [guard, answer = std::move(answer)] {
            if (guard)
                answer(false);
        });
        return;
    }
    // NameHasOwner rather than a call to the service itself: a call would have the bus
    // start a keyring daemon, and this asks only about one already running.
    QDBusMessage ask = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("/org/freedesktop/DBus"),
                                                      QStringLiteral("org.freedesktop.DBus"),
                                                      QStringLiteral("NameHasOwner"));
    ask << secretService;
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [guard, answer = std::move(answer)](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<bool> reply = *w;
                if (guard)
                    answer(!reply.isError() && reply.value());
            });
}

void PasswordStore::read(const QString &server, const QString &login, QObject *context, Read answer)
{
    start(Kind::Read, keyOf(server, login), QString(), context, std::move(answer));
}

void PasswordStore::write(const QString &server, const QString &login, const QString &password,
                          QObject *context, Done answer)
{
    start(Kind::Write, keyOf(server, login), password, context,
          [answer = std::move(answer)](Failure f, const QString &) { answer(f); });
}

void PasswordStore::remove(const QString &server, const QString &login, QObject *context, Done answer)
{
    start(Kind::Remove, keyOf(server, login), QString(), context,
          [answer = std::move(answer)](Failure f, const QString &) { answer(f); });
}

void PasswordStore::start(Kind kind, const QString &key, const QString &password, QObject *context,
                          Read answer)
{
    const QPointer<QObject> guard(context);
    probe(this, [this, kind, key, password, guard, answer = std::move(answer)](bool running) {
        if (!guard)
            return;
        if (!running) {
            answer(Failure::NoKeyring, QString());
            return;
        }
        QKeychain::Job *job = nullptr;
        if (kind == Kind::Read) {
            job = new QKeychain::ReadPasswordJob(service, this);
        } else if (kind == Kind::Write) {
            auto *w = new QKeychain::WritePasswordJob(service, this);
            w->setTextData(password);
            job = w;
        } else {
            job = new QKeychain::DeletePasswordJob(service, this);
        }
        job->setKey(key);
        // Never a plain-text file in place of the keyring.
        job->setInsecureFallback(false);
        connect(job, &QKeychain::Job::finished, this, [guard, answer](QKeychain::Job *done) {
            if (!guard)
                return;
            const Failure failure = failureOf(done->error());
            const auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(done);
            answer(failure, read && failure == Failure::None ? read->textData() : QString());
        });
        job->start();
    });
}

} // namespace zodaru
