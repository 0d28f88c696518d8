// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

namespace zodaru {

// How the transfers run, from the [transfers] group of the program's settings file
// (SiteSettings::defaultPath()): how many connections each direction may open at once, and
// the speed each direction may not go past, shared by its connections.
//
//   [transfers]
//   connections=4         ; 1 to 10 per direction
//   downloadLimitKiB=0    ; KiB/s, 0 for none
//   uploadLimitKiB=0
//
// A value out of range is brought back into it. Main thread only (QSettings).
struct TransferSettings {
    static constexpr int kMinConnections = 1;
    static constexpr int kMaxConnections = 10;
    static constexpr int kDefaultConnections = 4;

    int connections = kDefaultConnections;
    qint64 downloadLimit = 0; // bytes per second; 0: none
    qint64 uploadLimit = 0;

    // From `path` (the program's settings file when empty); defaults where absent.
    static TransferSettings load(const QString &path = QString());
    // Writes them to `path` (the program's settings file when empty); false when it could not.
    bool save(const QString &path = QString()) const;

    friend bool operator==(const TransferSettings &, const TransferSettings &) = default;
};

} // namespace zodaru
