// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ColumnOrder.h"

#include <algorithm>

namespace zodaru {

namespace {

bool isAsciiDigit(char16_t c)
{
    return c >= u'0' && c <= u'9';
}

// The character a name is compared by: case folded, ASCII at once (most names are), any
// other through Qt's per-character folding.
char16_t foldedChar(char16_t c)
{
    if (c < 0x80)
        return c >= u'A' && c <= u'Z' ? char16_t(c + (u'a' - u'A')) : c;
    return QChar(c).toCaseFolded().unicode();
}

// Names are compared as a person reads them: case folded, runs of digits by their value
// ("file2" before "file10", leading zeros aside), everything else by code point. Each name
// becomes a key that plain code-unit order sorts that way: a run of digits is written as
// u'0' (any digit sorts against the other characters as a digit does), the count of its
// significant digits, then those digits.
void appendKey(std::vector<char16_t> &keys, const QString &name)
{
    const qsizetype n = name.size();
    const QChar *text = name.constData();
    for (qsizetype i = 0; i < n;) {
        const char16_t c = text[i].unicode();
        if (!isAsciiDigit(c)) {
            keys.push_back(foldedChar(c));
            ++i;
            continue;
        }
        while (i < n && text[i].unicode() == u'0')
            ++i;
        qsizetype end = i;
        while (end < n && isAsciiDigit(text[end].unicode()))
            ++end;
        keys.push_back(u'0');
        keys.push_back(char16_t(std::min<qsizetype>(end - i, 0xffff)));
        for (; i < end; ++i)
            keys.push_back(text[i].unicode());
    }
}

// One row to sort: the first code units of its key past the prefix that all keys share,
// packed so that one integer comparison mostly decides, and where the whole key lies.
struct SortRow {
    quint64 head0;
    quint64 head1;
    qint32 offset;
    qint32 length;
    int index;
};

quint64 packUnits(const char16_t *units, qsizetype count)
{
    quint64 packed = 0;
    for (int k = 0; k < 4; ++k)
        packed = (packed << 16) | (k < count ? units[k] : 0u);
    return packed;
}

int compareUnits(const char16_t *a, qsizetype na, const char16_t *b, qsizetype nb)
{
    const qsizetype n = std::min(na, nb);
    for (qsizetype k = 0; k < n; ++k)
        if (a[k] != b[k])
            return a[k] < b[k] ? -1 : 1;
    return na == nb ? 0 : (na < nb ? -1 : 1);
}

} // namespace

std::vector<int> nameOrder(const QStringList &texts)
{
    // Every key goes into one buffer: no allocation per row.
    std::vector<char16_t> keys;
    std::vector<SortRow> rows;
    rows.reserve(size_t(texts.size()));
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const qsizetype start = qsizetype(keys.size());
        appendKey(keys, texts.at(i));
        rows.push_back({0, 0, qint32(start), qint32(qsizetype(keys.size()) - start), int(i)});
    }
    const char16_t *const base = keys.data();

    // Names of one directory often share a beginning ("IMG_", "entry-"): the packed units
    // start after it.
    qsizetype skip = rows.empty() ? 0 : rows.front().length;
    for (const SortRow &row : rows) {
        const char16_t *first = base + rows.front().offset;
        const char16_t *mine = base + row.offset;
        skip = std::min<qsizetype>(skip, row.length);
        qsizetype k = 0;
        while (k < skip && first[k] == mine[k])
            ++k;
        skip = k;
    }
    for (SortRow &row : rows) {
        const char16_t *units = base + row.offset + skip;
        const qsizetype count = row.length - skip;
        row.head0 = packUnits(units, count);
        row.head1 = count > 4 ? packUnits(units + 4, count - 4) : 0;
    }

    // The last comparison makes the order total, so an unstable sort gives one result.
    std::sort(rows.begin(), rows.end(), [&](const SortRow &ra, const SortRow &rb) {
        if (ra.head0 != rb.head0)
            return ra.head0 < rb.head0;
        if (ra.head1 != rb.head1)
            return ra.head1 < rb.head1;
        const int byKey = compareUnits(base + ra.offset + skip, ra.length - skip, base + rb.offset + skip,
                                       rb.length - skip);
        if (byKey != 0)
            return byKey < 0;
        // Names equal but for case keep one order from listing to listing.
        return texts.at(ra.index) < texts.at(rb.index);
    });
    std::vector<int> sorted;
    sorted.reserve(rows.size());
    for (const SortRow &row : rows)
        sorted.push_back(row.index);
    return sorted;
}

std::vector<int> orderOfCells(std::span<const CellFile> cells, const ListOptions &options,
                              const QSet<QString> &pinned, std::span<const int> byName)
{
    std::vector<int> sorted;
    if (byName.size() != cells.size()) {
        QStringList texts;
        texts.reserve(qsizetype(cells.size()));
        for (const CellFile &cell : cells)
            texts.append(cell.stringValue());
        sorted = nameOrder(texts);
        byName = sorted;
    }
    const auto shown = [&](const CellFile &cell) {
        return cell.isPlaceholder() || options.showHidden || !isHiddenName(cell.name()) || pinned.contains(cell.name());
    };
    std::vector<int> order;
    order.reserve(cells.size());
    // Directories first, each part in name order.
    for (const bool leaves : {false, true}) {
        for (const int index : byName) {
            const CellFile &cell = cells[size_t(index)];
            if ((!options.directoriesFirst || cell.isLeaf() == leaves) && shown(cell))
                order.push_back(index);
        }
        if (!options.directoriesFirst)
            break;
    }
    return order;
}

} // namespace zodaru
