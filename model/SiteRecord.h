// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

namespace zodaru {

// One saved site with every field the site manager shows. The bookmark file keeps the
// server, the login and (for File) the password; the rest lives in the settings.
struct SiteRecord {
    // Where the password is kept. Keyring and Ask leave an empty password in the file.
    enum class PasswordPlace { File, Keyring, Ask };

    QString name;
    QString server; // as typed: every form the connection dialog's server field takes
    QString login;
    QString password; // only meaningful with PasswordPlace::File
    QString remoteDirectory;
    QString localDirectory;
    PasswordPlace passwordPlace = PasswordPlace::File;

    // What the list shows: the name, or login@server for a site without one.
    QString title() const
    {
        if (!name.isEmpty())
            return name;
        return login.isEmpty() ? server : login + QLatin1Char('@') + server;
    }
    bool sameAccount(const QString &otherServer, const QString &otherLogin) const
    {
        return server == otherServer && login == otherLogin;
    }
    // Whether a connect must get the password from somewhere else than this record.
    bool needsPassword() const
    {
        return passwordPlace != PasswordPlace::File || password.isEmpty();
    }

    bool operator==(const SiteRecord &) const = default;
};

} // namespace zodaru
