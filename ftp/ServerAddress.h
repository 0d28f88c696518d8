// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringView>

#include <optional>

namespace zodaru {

// What the server field of the connection dialog names: a host, a port and how the session
// is to be protected. The saved sites keep the text as the user typed it; this is read from
// it each time a connection is made.
//
//   host, host:2121           TLS when the server offers it, clear otherwise
//   ftp://host[:port]         clear
//   ftpes://host[:port]       explicit TLS required (AUTH TLS), no fallback
//   ftps://host[:port]        implicit TLS, port 990 unless given
//   ::1, [::1], [::1]:2121    IPv6 literals (bare only without a port)
//
// A path after the host ("ftp://host/pub") is accepted and ignored.
struct ServerAddress final {
    enum class Security { Opportunistic, Clear, ExplicitTls, ImplicitTls };

    QString host; // without brackets
    int port = 21;
    Security security = Security::Opportunistic;

    // Nothing when the text names no host or an impossible port.
    static std::optional<ServerAddress> parse(QStringView text);
    // "host:port", with brackets around an IPv6 literal: for log lines and messages.
    QString hostAndPort() const;
};

} // namespace zodaru
