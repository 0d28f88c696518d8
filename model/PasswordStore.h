// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace zodaru {

// The sites' passwords in the desktop's keyring (the Secret Service, through QtKeychain),
// one entry per account, named "login@server" under the service "Zodaru".
//
// Every call returns at once; its answer comes on a later pass of the main thread's event
// loop, and is dropped when `context` is gone by then. Before each operation the session
// bus is asked whether a Secret Service is running now; when none is, the answer is
// NoKeyring and no keyring program is started on the user's behalf.
//
// Thread rules: main thread only (the jobs report on the thread that made them).
class PasswordStore final : public QObject {
    Q_OBJECT
public:
    enum class Failure {
        None,
        NoKeyring, // no Secret Service on the session bus
        NotFound,  // the keyring holds nothing for this account
        Denied,    // the user refused, or the keyring stayed locked
        Other,
    };

    explicit PasswordStore(QObject *parent = nullptr);
    ~PasswordStore() override;
    Q_DISABLE_COPY_MOVE(PasswordStore)

    static QString keyOf(const QString &server, const QString &login);

    using Running = std::function<void(bool running)>;
    using Done = std::function<void(Failure failure)>;
    using Read = std::function<void(Failure failure, const QString &password)>;

    // Whether a Secret Service is running on the session bus.
    void probe(QObject *context, Running answer);
    void read(const QString &server, const QString &login, QObject *context, Read answer);
    void write(const QString &server, const QString &login, const QString &password, QObject *context,
               Done answer);
    void remove(const QString &server, const QString &login, QObject *context, Done answer);

private:
    enum class Kind { Read, Write, Remove };
    void start(Kind kind, const QString &key, const QString &password, QObject *context, Read answer);
};

} // namespace zodaru
