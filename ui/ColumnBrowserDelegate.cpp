// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ColumnBrowser.h"

namespace zodaru {

EntryFacts ColumnBrowserDelegate::factsOf(ColumnBrowser &, const CellFile &cell, int)
{
    return factsOfCell(cell);
}

std::vector<int> ColumnBrowserDelegate::rowsByName(ColumnBrowser &, int)
{
    return {};
}

EntryFacts ColumnBrowserDelegate::factsOfCell(const CellFile &cell)
{
    EntryFacts facts;
    facts.name = cell.name();
    if (!cell.hasFile()) {
        facts.kind = cell.isLeaf() ? EntryFacts::Kind::File : EntryFacts::Kind::Directory;
        return facts;
    }
    const File &file = cell.getFile();
    facts.kind = cell.entryType() == 1 ? EntryFacts::Kind::Directory
                                       : (cell.entryType() == 2 ? EntryFacts::Kind::Link : EntryFacts::Kind::File);
    facts.size = file.size();
    facts.modified = file.modified();
    facts.permissions = file.permissions();
    facts.linkTarget = file.link();
    return facts;
}

} // namespace zodaru
