// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "app/SessionEngine.h"
#include "model/TransferDirection.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QTimer;

namespace zodaru {

class RetiredEngines;

// The transfer engines of one direction of a session: each member is a logged-in engine
// with its worker, running at most one entry at a time. Member 0 is the engine the connect
// dialed and stays for the session; the others are logged in when the queue has more work
// than free members, kept while there is work, and closed after an idle interval.
//
// A member runs the entry it was taken for until release(); the events of a transfer count
// for the member whose engine (or the replacement it is logging in with) moved them and
// that runs that entry.
//
// Main thread only. Logins run on the members' workers; their results come back here.
class EnginePool final : public QObject {
    Q_OBJECT
public:
    // How an extra member's login ended.
    enum class LoginEnd {
        LoggedIn,
        Limit,  // the server refused one more connection (421, or 530 for known credentials)
        Failed, // unreachable, timed out, TLS refused...
    };
    // What the pool is made with, both called on the main thread: a new engine for a
    // member, and the job that logs it in on the member's worker and tells how it ended.
    struct Dialer {
        std::function<std::shared_ptr<FTP>()> create;
        std::function<std::function<LoginEnd()>(std::shared_ptr<FTP> engine)> logIn;
    };
    // Called with the member made for an entry, or null when its login failed.
    using Ready = std::function<void(SessionEngine *member)>;

    EnginePool(TransferDirection direction, Dialer dialer, RetiredEngines &retired, QObject *parent = nullptr);
    ~EnginePool() override;
    Q_DISABLE_COPY_MOVE(EnginePool)

    TransferDirection direction() const { return direction_; }
    // A session opens with `first` as member 0; what the server refused before is forgotten.
    void open(std::unique_ptr<SessionEngine> first);
    // Member 0; null outside a session.
    SessionEngine *first() const;
    // How many members may run at once: the setting, or less once the server refused more.
    int capacity() const;
    // The setting (1-10); a smaller pool closes its extra members as they become free.
    void setConnections(int connections);
    // How long a free extra member is kept before it is closed.
    void setIdleInterval(int ms) { idleMs_ = ms; }
    // Members logged in or logging in.
    int size() const { return int(members_.size()); }

    // A free logged-in member, now running `entry`; null when none is free.
    SessionEngine *take(qint32 entry);
    // Logs a new member in for `entry` when there is room: `ready` gets it once logged in,
    // or null when the login failed (the pool is smaller from then on). False when full.
    bool make(qint32 entry, Ready ready);
    // The member running `entry` is free again (nothing when it runs another entry now).
    void release(SessionEngine &member, qint32 entry);
    // The member that runs `entry` and whose engine is `engine`; null when none.
    SessionEngine *runner(quint64 engine, qint32 entry) const;
    // The member running `entry`, or null.
    SessionEngine *running(qint32 entry) const;
    // The member whose engine is `engine`, or null.
    SessionEngine *find(quint64 engine) const;
    // Every member, for a look at each (keep-alive, security).
    std::vector<SessionEngine *> members() const;
    // Takes every member out (end of the session), in order, member 0 first.
    std::vector<std::unique_ptr<SessionEngine>> takeAll();

Q_SIGNALS:
    // The server refused an extra login: the pool goes on with `kept` members.
    void limited(int kept);

private:
    struct Member;
    Member *memberOf(const SessionEngine &engine) const;
    void loginDone(quint64 serial, LoginEnd end);
    void startIdle(Member &member);
    // Closes a free extra member now (QUIT on its worker).
    void close(Member *member);
    // Closes free extra members past the capacity.
    void trim();

    const TransferDirection direction_;
    const Dialer dialer_;
    RetiredEngines &retired_;
    std::vector<std::unique_ptr<Member>> members_;
    int connections_ = 1;
    // What the server accepted, once it refused one more; 0 while it has not.
    int limit_ = 0;
    int idleMs_ = 60000;
    // Numbers the members: a login's result finds its member by it, or none once gone.
    quint64 serial_ = 0;
};

} // namespace zodaru
