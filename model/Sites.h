// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/Bookmark.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace zodaru {

// The saved sites, in file order. Each entry is the list [server, login, password].
class Sites {
public:
    Sites() = default;
    // Reads the bookmark file at `path` ("~/" stands for the home directory). Every problem
    // with the file gives an empty list.
    explicit Sites(const QString &path);
    static Sites fromFile(const QString &path) { return Sites(path); }
    // A list holding these entries, in order (what the site manager saved).
    static Sites fromEntries(QList<QStringList> entries);

    // A new list holding the other's entries, in order. Copies share the entry strings but
    // not the list: adding to one leaves the other unchanged.
    Sites(const Sites &other) = default;
    Sites &operator=(const Sites &other) = default;
    // Hands the list over; the emptied source no longer counts as a list of its own and
    // leaves without a word.
    Sites(Sites &&other) noexcept;
    Sites &operator=(Sites &&other) noexcept;
    virtual ~Sites();

    const QList<QStringList> &arrayOfSites() const { return _sites; }
    qint32 count() const { return qint32(_sites.size()); }
    // The site at `index`, without its anonymous mark; none outside the list.
    std::optional<Bookmark> siteAt(qsizetype index) const;

    // Appends the bookmark's server, login and password, telling standard output.
    void addSite(const Bookmark &bookmark);
    // Writes the list as an XML property list readable by the owner alone; false when the
    // file could not be written.
    bool writeFile(const QString &path) const;

private:
    QList<QStringList> _sites;
    bool movedFrom_ = false;
};

} // namespace zodaru
