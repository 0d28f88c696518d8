// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIcon>
#include <QString>

namespace zodaru {

// The application's artwork by its historical file name ("Connect.tiff", "Get.tiff", ...);
// the drawings themselves are SVG resources under ":/icons/". A null icon for an unknown
// name.
QIcon imageNamed(const QString &name);

} // namespace zodaru
