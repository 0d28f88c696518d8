// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QtGlobal>

#include <atomic>
#include <memory>
#include <mutex>

namespace zodaru {

class Socket;

// An engine's two connections: the control connection (PI) and at most one passive data
// connection (DTP). They are swapped under a mutex and I/O happens on a copy of the
// pointer, so a drop from another thread never frees a descriptor that a read still uses;
// the descriptor closes when its last user lets go. Any thread.
class EngineConnections final {
public:
    EngineConnections() = default;
    Q_DISABLE_COPY_MOVE(EngineConnections)

    std::shared_ptr<Socket> control() const;
    std::shared_ptr<Socket> data() const;

    // Makes `control` the control connection, unless the session was given up meanwhile
    // (`givenUp` is read under the lock that dropAll() takes): it then closes as it goes.
    void publishControl(std::shared_ptr<Socket> control, const std::atomic<bool> &givenUp);
    // Makes `data` the data connection, unless the control connection was dropped meanwhile.
    void publishData(std::shared_ptr<Socket> data);
    // Forgets the data connection; a transfer worker that holds it keeps it until it lets go.
    void forgetData();
    // Forgets the data connection if it still is `data`.
    void forgetData(const std::shared_ptr<Socket> &data);
    // Drops both and shuts them down, which wakes a thread blocked on either.
    void dropAll();

private:
    mutable std::mutex mutex_;
    std::shared_ptr<Socket> PI;
    std::shared_ptr<Socket> DTP;
};

} // namespace zodaru
