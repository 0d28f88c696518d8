// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/SiteSettings.h"

#include <QHash>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>

namespace zodaru {

namespace {

const QString sitesGroup = QStringLiteral("sites");
const QString offeredKey = QStringLiteral("saveOffered");

// The key of an account: "login@server", each part percent-encoded so that neither an "@"
// in a login nor a "/" in a server makes a different key.
QString accountKey(const QString &server, const QString &login)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(login) + '@' + QUrl::toPercentEncoding(server));
}

QString placeName(SiteRecord::PasswordPlace place)
{
    switch (place) {
    case SiteRecord::PasswordPlace::Keyring:
        return QStringLiteral("keyring");
    case SiteRecord::PasswordPlace::Ask:
        return QStringLiteral("ask");
    case SiteRecord::PasswordPlace::File:
        break;
    }
    return QStringLiteral("file");
}

SiteRecord::PasswordPlace placeOf(const QString &name)
{
    if (name == u"keyring")
        return SiteRecord::PasswordPlace::Keyring;
    if (name == u"ask")
        return SiteRecord::PasswordPlace::Ask;
    return SiteRecord::PasswordPlace::File;
}

} // namespace

SiteSettings::SiteSettings(QString path) : path_(std::move(path)) {}

QString SiteSettings::defaultPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/Zodaru/Zodaru.conf");
}

QList<SiteSettings::Extras> SiteSettings::extras() const
{
    QSettings s(path_, QSettings::IniFormat);
    s.beginGroup(sitesGroup);
    QList<Extras> out;
    const QStringList keys = s.childGroups();
    for (const QString &key : keys) {
        s.beginGroup(key);
        Extras e;
        e.server = s.value(QStringLiteral("server")).toString();
        e.login = s.value(QStringLiteral("login")).toString();
        e.name = s.value(QStringLiteral("name")).toString();
        e.remoteDirectory = s.value(QStringLiteral("remoteDirectory")).toString();
        e.localDirectory = s.value(QStringLiteral("localDirectory")).toString();
        e.passwordPlace = placeOf(s.value(QStringLiteral("password")).toString());
        // Several sites with one account are told apart by their order.
        e.order = s.value(QStringLiteral("order")).toInt();
        out.append(e);
        s.endGroup();
    }
    std::stable_sort(out.begin(), out.end(), [](const Extras &a, const Extras &b) { return a.order < b.order; });
    return out;
}

bool SiteSettings::setExtras(const QList<Extras> &sites)
{
    QSettings s(path_, QSettings::IniFormat);
    s.remove(sitesGroup);
    s.beginGroup(sitesGroup);
    QHash<QString, int> seen;
    int order = 0;
    for (const Extras &e : sites) {
        QString key = accountKey(e.server, e.login);
        const int n = ++seen[key];
        if (n > 1)
            key += QStringLiteral("#%1").arg(n);
        s.beginGroup(key);
        s.setValue(QStringLiteral("server"), e.server);
        s.setValue(QStringLiteral("login"), e.login);
        s.setValue(QStringLiteral("name"), e.name);
        s.setValue(QStringLiteral("remoteDirectory"), e.remoteDirectory);
        s.setValue(QStringLiteral("localDirectory"), e.localDirectory);
        s.setValue(QStringLiteral("password"), placeName(e.passwordPlace));
        s.setValue(QStringLiteral("order"), order++);
        s.endGroup();
    }
    s.endGroup();
    s.sync();
    return s.status() == QSettings::NoError;
}

std::optional<SiteSettings::Account> SiteSettings::lastSite() const
{
    QSettings s(path_, QSettings::IniFormat);
    if (!s.contains(QStringLiteral("lastSite/server")))
        return std::nullopt;
    return Account{s.value(QStringLiteral("lastSite/server")).toString(),
                   s.value(QStringLiteral("lastSite/login")).toString()};
}

void SiteSettings::setLastSite(const QString &server, const QString &login)
{
    QSettings s(path_, QSettings::IniFormat);
    s.setValue(QStringLiteral("lastSite/server"), server);
    s.setValue(QStringLiteral("lastSite/login"), login);
}

bool SiteSettings::saveOffered(const QString &server, const QString &login) const
{
    QSettings s(path_, QSettings::IniFormat);
    return s.value(offeredKey).toStringList().contains(accountKey(server, login));
}

void SiteSettings::setSaveOffered(const QString &server, const QString &login)
{
    QSettings s(path_, QSettings::IniFormat);
    QStringList offered = s.value(offeredKey).toStringList();
    const QString key = accountKey(server, login);
    if (!offered.contains(key))
        s.setValue(offeredKey, offered << key);
}

bool SiteSettings::keyringMoveOffered() const
{
    return QSettings(path_, QSettings::IniFormat).value(QStringLiteral("keyringMoveOffered")).toBool();
}

void SiteSettings::setKeyringMoveOffered()
{
    QSettings(path_, QSettings::IniFormat).setValue(QStringLiteral("keyringMoveOffered"), true);
}

QByteArray SiteSettings::managerGeometry() const
{
    return QSettings(path_, QSettings::IniFormat).value(QStringLiteral("siteManager/geometry")).toByteArray();
}

void SiteSettings::setManagerGeometry(const QByteArray &geometry)
{
    QSettings(path_, QSettings::IniFormat).setValue(QStringLiteral("siteManager/geometry"), geometry);
}

} // namespace zodaru
