// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/SiteRecord.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace zodaru {

// The program's settings file (QSettings, INI form, under the user's configuration
// directory: ~/.config/Zodaru/Zodaru.conf). It holds what the bookmark file has no place
// for: each site's name, directories and password place, keyed by server and login; the
// last site used; the sites the user chose not to save; the site manager's geometry.
//
// Every call opens the file, so a test that points XDG_CONFIG_HOME elsewhere is obeyed.
// Main thread only.
class SiteSettings final {
public:
    explicit SiteSettings(QString path);
    // $XDG_CONFIG_HOME/Zodaru/Zodaru.conf (~/.config when unset): the program's one
    // settings file, which the View menu's choices and the keep-alive share.
    static QString defaultPath();
    QString path() const { return path_; }

    // The fields of each site beyond the file's triple; server and login are the key.
    struct Extras {
        QString server;
        QString login;
        QString name;
        QString remoteDirectory;
        QString localDirectory;
        SiteRecord::PasswordPlace passwordPlace = SiteRecord::PasswordPlace::File;
        int order = 0; // position in the list, when read back
    };
    QList<Extras> extras() const;
    // Replaces every site's fields; false when the file could not be written.
    bool setExtras(const QList<Extras> &sites);

    struct Account {
        QString server;
        QString login;
    };
    std::optional<Account> lastSite() const;
    void setLastSite(const QString &server, const QString &login);

    // "Save this site?" is asked once per server and login.
    bool saveOffered(const QString &server, const QString &login) const;
    void setSaveOffered(const QString &server, const QString &login);

    // Moving the file's passwords into the keyring is offered once.
    bool keyringMoveOffered() const;
    void setKeyringMoveOffered();

    QByteArray managerGeometry() const;
    void setManagerGeometry(const QByteArray &geometry);

private:
    QString path_;
};

} // namespace zodaru
