// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/CellFile.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <span>
#include <vector>

namespace zodaru {

// How the browsers order and filter their rows (the View menu).
struct ListOptions {
    bool directoriesFirst = true;
    // Shown by default, as a plain listing of the directory has them; Ctrl+H hides them.
    bool showHidden = true;
    friend bool operator==(const ListOptions &, const ListOptions &) = default;
};

// Names starting with "." are hidden, as file managers have it.
inline bool isHiddenName(QStringView name)
{
    return name.startsWith(u'.');
}

// The indexes of `texts` in the order names are shown: as file managers sort
// (case-insensitive, digits by their value: "file2" before "file10"). Each name becomes a
// sort key once, in one buffer; most comparisons then read two integers of the rows being
// sorted, not the names. Needs no widget: any thread may call it (a listing of 100 000
// names is sorted beside the window's thread).
std::vector<int> nameOrder(const QStringList &texts);

// The indexes of the cells to show, in the order to show them: by the name shown
// (nameOrder), directories ahead of files when asked; hidden names left out unless shown
// or pinned (the user opened one of them). Placeholder rows are always shown. `byName`,
// when it is nameOrder() of the cells' texts, spares sorting them again.
std::vector<int> orderOfCells(std::span<const CellFile> cells, const ListOptions &options,
                              const QSet<QString> &pinned = {}, std::span<const int> byName = {});

} // namespace zodaru
