// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/TransferSettings.h"

#include "model/SiteSettings.h"

#include <QSettings>

#include <algorithm>

namespace zodaru {

namespace {

constexpr qint64 kKiB = 1024;
// Past 4 TiB/s a limit means nothing; kept so that the product below cannot overflow.
constexpr qint64 kMaxLimitKiB = qint64(4) * 1024 * 1024 * 1024;

QString settingsPath(const QString &path)
{
    return path.isEmpty() ? SiteSettings::defaultPath() : path;
}

qint64 limitFrom(const QSettings &settings, const char *key)
{
    bool ok = false;
    const qint64 kib = settings.value(QLatin1String(key), 0).toLongLong(&ok);
    return ok ? std::clamp<qint64>(kib, 0, kMaxLimitKiB) * kKiB : 0;
}

} // namespace

TransferSettings TransferSettings::load(const QString &path)
{
    const QSettings settings(settingsPath(path), QSettings::IniFormat);
    TransferSettings result;
    bool ok = false;
    const int connections = settings.value(QStringLiteral("transfers/connections"), kDefaultConnections).toInt(&ok);
    result.connections = ok ? std::clamp(connections, kMinConnections, kMaxConnections) : kDefaultConnections;
    result.downloadLimit = limitFrom(settings, "transfers/downloadLimitKiB");
    result.uploadLimit = limitFrom(settings, "transfers/uploadLimitKiB");
    return result;
}

bool TransferSettings::save(const QString &path) const
{
    QSettings settings(settingsPath(path), QSettings::IniFormat);
    settings.setValue(QStringLiteral("transfers/connections"), std::clamp(connections, kMinConnections, kMaxConnections));
    // Rounded up: a limit set below 1 KiB/s is still a limit.
    settings.setValue(QStringLiteral("transfers/downloadLimitKiB"), (std::max<qint64>(downloadLimit, 0) + kKiB - 1) / kKiB);
    settings.setValue(QStringLiteral("transfers/uploadLimitKiB"), (std::max<qint64>(uploadLimit, 0) + kKiB - 1) / kKiB);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace zodaru
