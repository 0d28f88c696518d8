// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/RemoteFacts.h"

#include "ftp/ProtocolReplies.h"

namespace zodaru {

std::optional<qint64> sizeInReply(const QString &line)
{
    bool ok = false;
    const qint64 n = line.mid(4).trimmed().toLongLong(&ok);
    return ok && n >= 0 ? std::optional<qint64>(n) : std::nullopt;
}

void RemoteFacts::take(bool isSize, int code, const QString &reply)
{
    if (code != 213)
        return;
    if (isSize)
        size = sizeInReply(reply);
    else
        modified = parseFtpTime(QStringView(reply).mid(4).trimmed());
}

} // namespace zodaru
