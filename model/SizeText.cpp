// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/SizeText.h"

#include <QCoreApplication>
#include <QLocale>

namespace zodaru {

QString readableSize(qint64 bytes)
{
    if (bytes < 0)
        return QString();
    const QLocale locale;
    if (bytes < 1024)
        return QCoreApplication::translate("Sizes", "%1 B").arg(locale.toString(bytes));
    static const char *const units[] = {QT_TRANSLATE_NOOP("Sizes", "KiB"), QT_TRANSLATE_NOOP("Sizes", "MiB"),
                                        QT_TRANSLATE_NOOP("Sizes", "GiB"), QT_TRANSLATE_NOOP("Sizes", "TiB"),
                                        QT_TRANSLATE_NOOP("Sizes", "PiB"), QT_TRANSLATE_NOOP("Sizes", "EiB")};
    double value = double(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 5) {
        value /= 1024;
        ++unit;
    }
    // One decimal while it says something; rounding 1023.96 KiB up reads "1024 KiB", never
    // "1.0 MiB" too early, which keeps the text monotonic in the byte count.
    const int decimals = value < 100 ? 1 : 0;
    return locale.toString(value, 'f', decimals) + QLatin1Char(' ')
        + QCoreApplication::translate("Sizes", units[unit]);
}

QString exactSize(qint64 bytes)
{
    if (bytes < 0)
        return QString();
    return QCoreApplication::translate("Sizes", "%1 bytes").arg(QLocale().toString(bytes));
}

} // namespace zodaru
