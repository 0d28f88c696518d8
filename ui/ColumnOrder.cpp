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
    std::vector<QCollatorSortKey> keys;
    keys.reserve(cells.size());
    for (const CellFile &cell : cells)
        keys.push_back(collator.sortKey(cell.stringValue()));

    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const CellFile &ca = cells[size_t(a)];
        const CellFile &cb = cells[size_t(b)];
        if (options.directoriesFirst && ca.isLeaf() != cb.isLeaf())
            return !ca.isLeaf();
        const int byKey = keys[size_t(a)].compare(keys[size_t(b)]);
        if (byKey != 0)
            return byKey < 0;
        // Names equal but for case or accents keep one order from listing to listing.
        return ca.stringValue() < cb.stringValue();
    });
    return order;
}

} // namespace zodaru
