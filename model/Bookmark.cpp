// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/Bookmark.h"

namespace zodaru {

Bookmark::Bookmark(const QString &site, const QString &login, const QString &password)
    : _site(site), _login(login), _password(password)
{
}

Bookmark::Bookmark(const QString &site)
    : _site(site), _login(QStringLiteral("anonymous")), _password(anonymousPassword()),
      _anonymous(1)
{
}

QString Bookmark::anonymousPassword()
{
    return QStringLiteral("zodaru@example.org");
}

} // namespace zodaru
