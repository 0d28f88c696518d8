// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ColumnOrder.h"


#include <algorithm>

namespace zodaru {

namespace {

bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// Compares two case-folded names as a person reads them: runs of digits by their value
// ("file2" before "file10"), everything else by code point. A hand-made comparison on the
// raw characters instead of the locale's collation keys: sorting is done on the window's
// thread, once per listing.
int compareNatural(const char16_t *a, qsizetype na, const char16_t *b, qsizetype nb)
{
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < na && j < nb) {
        const char16_t ca = a[i];
        const char16_t cb = b[j];
        if (!isAsciiDigit(ca) || !isAsciiDigit(cb)) {
            if (ca != cb)
                return ca < cb ? -1 : 1;
            ++i;
            ++j;
            continue;
        }
        // Leading zeros do not change a number's value; the longer run of significant
        // digits is the larger number, then the first digit that differs decides.
        while (i < na && a[i] == u'0')
            ++i;
        while (j < nb && b[j] == u'0')
            ++j;
        qsizetype ea = i;
        qsizetype eb = j;
        while (ea < na && isAsciiDigit(a[ea]))
            ++ea;
        while (eb < nb && isAsciiDigit(b[eb]))
            ++eb;
        if (ea - i != eb - j)
            return ea - i < eb - j ? -1 : 1;
        for (; i < ea; ++i, ++j) {
            if (a[i] != b[j])
                return a[i] < b[j] ? -1 : 1;
        }
    }
    if (i < na)
        return 1;
    if (j < nb)
        return -1;
    return 0;
}

// One row to sort: where its folded name lies in the buffer of folded names, so the
// comparisons read one compact array instead of following the cells.
struct SortRow {
    qsizetype offset;
    qsizetype length;
    int index;
    bool leaf;
};

// The character a name is compared by: case folded, ASCII at once (most names are), any
// other through Qt's per-character folding.
char16_t foldedChar(char16_t c)
{
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
    return QChar(c).toCaseFolded().unicode();
}

} // namespace

std::vector<int> orderOfCells(std::span<const CellFile> cells, const ListOptions &options,
                              const QSet<QString> &pinned)
{
    // Every folded name goes into one buffer: no allocation per row.
    std::vector<char16_t> folded;
    std::vector<SortRow> rows;
    rows.reserve(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        const CellFile &cell = cells[i];
        if (!cell.isPlaceholder() && !options.showHidden && isHiddenName(cell.name())
            && !pinned.contains(cell.name()))
            continue;
        const QString name = cell.stringValue();
        const qsizetype start = qsizetype(folded.size());
        for (const QChar c : name)
            folded.push_back(foldedChar(c.unicode()));
        rows.push_back({start, name.size(), int(i), cell.isLeaf()});
    }
    const char16_t *const base = folded.data();

    // The last comparison makes the order total, so an unstable sort gives one result.
    std::sort(rows.begin(), rows.end(), [&](const SortRow &ra, const SortRow &rb) {
        if (options.directoriesFirst && ra.leaf != rb.leaf)
            return !ra.leaf;
        const int byKey = compareNatural(base + ra.offset, ra.length, base + rb.offset, rb.length);
        if (byKey != 0)
            return byKey < 0;
        // Names equal but for case keep one order from listing to listing.
        return cells[size_t(ra.index)].stringValue() < cells[size_t(rb.index)].stringValue();
    });
    std::vector<int> sorted;
    sorted.reserve(rows.size());
    for (const SortRow &row : rows)
        sorted.push_back(row.index);
    return sorted;
}

} // namespace zodaru
