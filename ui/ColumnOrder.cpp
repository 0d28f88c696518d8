// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ColumnOrder.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>

namespace zodaru {

namespace {

QCollator nameCollator()
{
    // The C locale collates by code point and ignores numeric mode: a session started
    // without a language still sorts names the way a person reads them.
    QLocale locale;
    if (locale.language() == QLocale::C)
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    QCollator collator(locale);
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

} // namespace

std::vector<int> orderOfCells(std::span<const CellFile> cells, const ListOptions &options,
                              const QSet<QString> &pinned)
{
    std::vector<int> order;
    order.reserve(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        const CellFile &cell = cells[i];
        if (!cell.isPlaceholder() && !options.showHidden && isHiddenName(cell.name())
            && !pinned.contains(cell.name()))
            continue;
        order.push_back(int(i));
    }

    const QCollator collator = nameCollator();
    // One key per row shown, in the order of `order`; the sort moves positions into it.
    std::vector<QCollatorSortKey> keys;
    keys.reserve(order.size());
    for (int index : order)
        keys.push_back(collator.sortKey(cells[size_t(index)].stringValue()));
    std::vector<int> positions(order.size());
    std::iota(positions.begin(), positions.end(), 0);

    // The last comparison makes the order total, so an unstable sort gives one result.
    std::sort(positions.begin(), positions.end(), [&](int pa, int pb) {
        const CellFile &ca = cells[size_t(order[size_t(pa)])];
        const CellFile &cb = cells[size_t(order[size_t(pb)])];
        if (options.directoriesFirst && ca.isLeaf() != cb.isLeaf())
            return !ca.isLeaf();
        const int byKey = keys[size_t(pa)].compare(keys[size_t(pb)]);
        if (byKey != 0)
            return byKey < 0;
        // Names equal but for case or accents keep one order from listing to listing.
        return ca.stringValue() < cb.stringValue();
    });
    std::vector<int> sorted;
    sorted.reserve(order.size());
    for (int position : positions)
        sorted.push_back(order[size_t(position)]);
    return sorted;
}

} // namespace zodaru
