// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QtGlobal>

namespace zodaru {

// One saved FTP site: the server, the login name and the password (kept in clear, as the
// bookmark file stores it).
class Bookmark final {
public:
    Bookmark(const QString &site, const QString &login, const QString &password);
    // An anonymous site: login "anonymous" and a fixed e-mail address as password.
    explicit Bookmark(const QString &site);

    static QString anonymousPassword();

    QString site() const { return _site; }
    QString login() const { return _login; }
    QString password() const { return _password; }
    quint8 isAnonymous() const { return _anonymous; }

private:
    QString _site;
    QString _login;
    QString _password;
    quint8 _anonymous = 0;
};

} // namespace zodaru
