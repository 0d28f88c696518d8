// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace zodaru {

// A man in the middle on 127.0.0.1 in front of an FTP server on 127.0.0.1: it passes each
// control connection through to the server, byte for byte, or strips its TLS: it answers
// AUTH with a refusal itself and passes the rest through in clear, recording every line
// the client sends on it (a password in clear shows there).
//
//     StrippingProxy proxy(server.port(), [](int index) { return index == 1; });
//     ... connect to proxy.address() ...
//     QVERIFY(!proxy.clientLines().join('|').contains("PASS"));
//
// Data connections do not go through it: the server's passive replies name the server.
class StrippingProxy final {
public:
    // `strip` says, for the index of each accepted connection (0, 1, ...), whether its TLS
    // is stripped; none is without it.
    explicit StrippingProxy(quint16 serverPort, std::function<bool(int index)> strip = {});
    ~StrippingProxy();
    Q_DISABLE_COPY_MOVE(StrippingProxy)

    // "127.0.0.1:<port>": a bare host, so that the client asks for TLS.
    QString address() const;
    quint16 port() const { return port_; }
    // From now on every new connection is stripped.
    void stripFromNow() { stripAll_ = true; }
    // Ends every connection open now, on both sides, as a server closing idle sessions.
    void cutAll();
    int connectionCount() const;
    // The lines clients sent on stripped connections, oldest first.
    QList<QByteArray> clientLines() const;

private:
    void acceptLoop();
    void relay(int index, int client);

    quint16 serverPort_;
    std::function<bool(int)> strip_;
    std::atomic<bool> stripAll_{false};
    std::atomic<bool> stop_{false};
    int listener_ = -1;
    quint16 port_ = 0;
    mutable std::mutex mutex_;
    std::vector<int> open_; // both ends of every connection being relayed
    QList<QByteArray> lines_;
    int accepted_ = 0;
    std::thread acceptThread_;
    std::vector<std::thread> relays_; // touched by the accept thread only, then joined
};

} // namespace zodaru
