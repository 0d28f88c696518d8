// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

namespace zodaru {

// The number a "213 <n>" reply (SIZE) carries.
std::optional<qint64> sizeInReply(const QString &line);

// SIZE and MDTM of a remote file, each when offered and answered.
struct RemoteFacts {
    std::optional<qint64> size;
    std::optional<qint64> modified; // seconds since the epoch, UTC
    // Takes what a reply to SIZE (`isSize`) or MDTM says.
    void take(bool isSize, int code, const QString &reply);
};

} // namespace zodaru
