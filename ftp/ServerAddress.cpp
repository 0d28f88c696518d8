// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/ServerAddress.h"

#include <QList>

namespace zodaru {

namespace {

std::optional<int> portNumber(QStringView digits)
{
    if (digits.isEmpty() || digits.size() > 5)
        return std::nullopt;
    int port = 0;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return std::nullopt;
        port = port * 10 + (c.unicode() - u'0');
    }
    return port >= 1 && port <= 65535 ? std::optional<int>(port) : std::nullopt;
}

} // namespace

std::optional<ServerAddress> ServerAddress::parse(QStringView text)
{
    ServerAddress address;
    QStringView rest = text.trimmed();

    struct Scheme {
        QLatin1String prefix;
        Security security;
        int port;
    };
    static const Scheme schemes[] = {
        {QLatin1String("ftp://"), Security::Clear, 21},
        {QLatin1String("ftpes://"), Security::ExplicitTls, 21},
        {QLatin1String("ftps://"), Security::ImplicitTls, 990},
    };
    bool isUrl = false;
    for (const Scheme &scheme : schemes) {
        if (rest.startsWith(scheme.prefix, Qt::CaseInsensitive)) {
            rest = rest.sliced(scheme.prefix.size());
            address.security = scheme.security;
            address.port = scheme.port;
            isUrl = true;
            break;
        }
    }
    if (isUrl) {
        const qsizetype slash = rest.indexOf(u'/');
        if (slash >= 0)
            rest = rest.first(slash);
    }

    if (rest.startsWith(u'[')) {
        const qsizetype close = rest.indexOf(u']');
        if (close < 2)
            return std::nullopt;
        address.host = rest.sliced(1, close - 1).toString();
        const QStringView after = rest.sliced(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(u':'))
                return std::nullopt;
            const auto port = portNumber(after.sliced(1));
            if (!port)
                return std::nullopt;
            address.port = *port;
        }
        return address;
    }

    const qsizetype colons = rest.count(u':');
    if (colons == 1) {
        const qsizetype colon = rest.indexOf(u':');
        const auto port = portNumber(rest.sliced(colon + 1));
        if (!port || colon == 0)
            return std::nullopt;
        address.port = *port;
        rest = rest.first(colon);
    }
    // Two colons or more without brackets: an IPv6 literal on the default port.
    if (rest.isEmpty() || rest.contains(u' ') || rest.contains(u'/'))
        return std::nullopt;
    address.host = rest.toString();
    return address;
}

QString ServerAddress::hostAndPort() const
{
    const QString shownHost = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shownHost + QLatin1Char(':') + QString::number(port);
}

} // namespace zodaru
