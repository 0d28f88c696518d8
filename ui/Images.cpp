// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Images.h"

#include <QFileInfo>

// The resources are compiled into a static library; registering them explicitly keeps the
// linker from dropping them from executables that only use them through file names.
static void registerImageResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace zodaru {

QIcon imageNamed(const QString &name)
{
    static const bool registered = (registerImageResources(), true);
    Q_UNUSED(registered);
    const QString base = QFileInfo(name).completeBaseName();
    if (base.isEmpty())
        return QIcon();
    const QString path = QStringLiteral(":/icons/%1.svg").arg(base);
    if (!QFileInfo::exists(path))
        return QIcon();
    return QIcon(path);
}

} // namespace zodaru
