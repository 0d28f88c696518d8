// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/StrippingProxy.h"

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zodaru {

namespace {

sockaddr_in loopback(quint16 port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

} // namespace

StrippingProxy::StrippingProxy(quint16 serverPort, std::function<bool(int)> strip)
    : serverPort_(serverPort), strip_(std::move(strip))
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    socklen_t length = sizeof addr;
    ::bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    ::listen(listener_, 16);
    ::getsockname(listener_, reinterpret_cast<sockaddr *>(&addr), &length);
    port_ = ntohs(addr.sin_port);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

StrippingProxy::~StrippingProxy()
{
    stop_ = true;
    acceptThread_.join();
    for (std::thread &relay : relays_)
        relay.join();
    ::close(listener_);
}

QString StrippingProxy::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(port_);
}

void StrippingProxy::cutAll()
{
    std::lock_guard lock(mutex_);
    for (const int fd : open_)
        ::shutdown(fd, SHUT_RDWR);
}

int StrippingProxy::connectionCount() const
{
    std::lock_guard lock(mutex_);
    return accepted_;
}

QList<QByteArray> StrippingProxy::clientLines() const
{
    std::lock_guard lock(mutex_);
    return lines_;
}

void StrippingProxy::acceptLoop()
{
    while (!stop_) {
        pollfd p{listener_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0)
            continue;
        int index = 0;
        {
            std::lock_guard lock(mutex_);
            index = accepted_++;
        }
        relays_.emplace_back([this, index, client] { relay(index, client); });
    }
}

void StrippingProxy::relay(int index, int client)
{
    const int server = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in target = loopback(serverPort_);
    const bool stripped = stripAll_ || (strip_ && strip_(index));
    if (::connect(server, reinterpret_cast<const sockaddr *>(&target), sizeof target) == 0) {
        {
            std::lock_guard lock(mutex_);
            open_.push_back(client);
            open_.push_back(server);
        }
        QByteArray pending; // what the client sent on a stripped connection, not a line yet
        bool going = true;
        while (going && !stop_) {
            pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
            if (::poll(p, 2, 20) <= 0)
                continue;
            char buffer[16384];
            if (p[1].revents) {
                const ssize_t n = ::read(server, buffer, sizeof buffer);
                going = n > 0 && writeAll(client, QByteArray(buffer, n));
            }
            if (going && p[0].revents) {
                const ssize_t n = ::read(client, buffer, sizeof buffer);
                going = n > 0;
                if (going && !stripped)
                    going = writeAll(server, QByteArray(buffer, n));
                else if (going)
                    pending.append(buffer, n);
                for (qsizetype end; going && (end = pending.indexOf("\r\n")) >= 0;) {
                    const QByteArray line = pending.left(end);
                    pending.remove(0, end + 2);
                    {
                        std::lock_guard lock(mutex_);
                        lines_.append(line);
                    }
                    going = line.toUpper().startsWith("AUTH") ? writeAll(client, "504 AUTH not available here\r\n")
                                                              : writeAll(server, line + "\r\n");
                }
            }
        }
        std::lock_guard lock(mutex_);
        open_.erase(std::remove_if(open_.begin(), open_.end(), [&](int fd) { return fd == client || fd == server; }),
                    open_.end());
    }
    ::close(server);
    ::close(client);
}

} // namespace zodaru
