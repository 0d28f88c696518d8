// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

namespace zodaru {

// A listening socket on 127.0.0.1 whose queue is full and that accepts nobody: the
// system drops the SYNs of a new connect to it, which stays in progress until the
// client gives it up or its own time-out ends it. A peer that never answers, locally.
class FullListener final {
public:
    FullListener();
    ~FullListener();
    Q_DISABLE_COPY_MOVE(FullListener)

    quint16 port() const { return port_; }
    QString address() const { return QStringLiteral("127.0.0.1:%1").arg(port_); }
    // Connects to it still in progress (sockets in SYN-SENT, from /proc/net/tcp).
    int connectsInProgress() const;
    // Stops listening: a connect still trying is refused at its next attempt.
    void close();

private:
    int listener_ = -1;
    int filler_ = -1; // the one connection the queue holds
    quint16 port_ = 0;
};

} // namespace zodaru
