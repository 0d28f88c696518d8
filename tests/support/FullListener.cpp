// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FullListener.h"

#include <QFile>
#include <QList>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zodaru {

FullListener::FullListener()
{
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    ::bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a);
    // A backlog of 0 holds one connection that nobody accepts; past it the queue is full.
    ::listen(listener_, 0);
    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &length);
    port_ = ntohs(a.sin_port);
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(filler_, reinterpret_cast<sockaddr *>(&a), sizeof a);
}

FullListener::~FullListener()
{
    close();
}

void FullListener::close()
{
    for (int *fd : {&filler_, &listener_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

int FullListener::connectsInProgress() const
{
    // "sl local_address rem_address st ...": addresses as hex "IP:PORT", state 02 is SYN-SENT.
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray remote = ':' + QByteArray::number(port_, 16).toUpper().rightJustified(4, '0');
    int count = 0;
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[2].endsWith(remote) && fields[3] == "02")
            ++count;
    }
    return count;
}

} // namespace zodaru
