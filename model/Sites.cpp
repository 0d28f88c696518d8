// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/Sites.h"

#include "base/Log.h"
#include "model/SiteListFile.h"

#include <cstdio>
#include <utility>

namespace zodaru {

Sites::Sites(const QString &path) : _sites(SiteListFile::read(path)) {}

Sites Sites::fromEntries(QList<QStringList> entries)
{
    Sites sites;
    sites._sites = std::move(entries);
    return sites;
}

Sites::Sites(Sites &&other) noexcept : _sites(std::move(other._sites))
{
    other._sites.clear();
    other.movedFrom_ = true;
}

Sites &Sites::operator=(Sites &&other) noexcept
{
    if (this != &other) {
        _sites = std::move(other._sites);
        other._sites.clear();
        movedFrom_ = false;
        other.movedFrom_ = true;
    }
    return *this;
}

Sites::~Sites()
{
    if (!movedFrom_)
        zlog("Dealloc de la classe Sites\n");
}

std::optional<Bookmark> Sites::siteAt(qsizetype index) const
{
    if (index < 0 || index >= _sites.size())
        return std::nullopt;
    const QStringList &entry = _sites.at(index);
    return Bookmark(entry.value(0), entry.value(1), entry.value(2));
}

void Sites::addSite(const Bookmark &bookmark)
{
    const QStringList entry{bookmark.site(), bookmark.login(), bookmark.password()};
    std::puts("on va rajouter un objet dans le bookmark");
    _sites.append(entry);
    std::printf("il y a maintenant %d objets dans le bookmark\n", int(count()));
    std::fflush(stdout);
}

bool Sites::writeFile(const QString &path) const
{
    return SiteListFile::write(path, _sites);
}

} // namespace zodaru
