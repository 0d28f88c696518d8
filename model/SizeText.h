// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

namespace zodaru {

// Sizes as people read them: "512 B", "1.5 KiB", "12 MiB", "4.7 GiB" (binary units, one
// decimal below 100, in the user's locale). Negative sizes (unknown) give an empty text.
QString readableSize(qint64 bytes);
// The exact count for a tooltip: "1,572,864 bytes" (grouped as the locale does it).
QString exactSize(qint64 bytes);

} // namespace zodaru
