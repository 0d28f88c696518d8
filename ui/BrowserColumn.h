// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/CellModel.h"

#include <QItemSelection>
#include <QList>
#include <QListView>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QWidget;

namespace zodaru {

// What the user had in a column before it was reloaded: given back once the column shows
// entries again (a remote column first shows a busy row, and its entries a moment later).
struct KeptView {
    QStringList selectedNames;
    int scroll = 0;
};

// True when both show the same: names, texts, kinds, sizes and dates.
bool sameCells(const Cells &a, const Cells &b);

// Rows as selection ranges, neighbours joined: selecting a thousand rows is one call.
QItemSelection selectionOf(const QAbstractListModel &model, QList<int> rows);

// The list of a column. It starts no drag of its own (its model offers none): once the
// mouse, pressed on a selected row, has moved far enough, it asks `startDrag`, which the
// browser sets. It paints where a drag would drop: the whole column, or one row.
class ColumnListView final : public QListView {
public:
    explicit ColumnListView(QWidget *parent);

    static constexpr int kNoDrop = -2;
    static constexpr int kWholeColumn = -1;
    // kNoDrop, kWholeColumn or the row (as shown) that a drop would go into.
    void setDropHighlight(int target);

    std::function<void()> startDrag;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    QPoint pressedAt_;
    bool pressedOnSelection_ = false;
    int dropTarget_ = kNoDrop;
};

// One column of a ColumnBrowser: its title, its list and the list's cells. The widgets
// belong to the browser's strip (Qt parents); main thread only.
struct BrowserColumn {
    QWidget *frame = nullptr;
    QLabel *title = nullptr;
    ColumnListView *list = nullptr;
    CellModel *model = nullptr; // owned by the list (Qt parent)
    // The model's cells in name order (nameOrder): the rows shown are these, filtered and
    // with directories first, so a change of options does not sort again.
    std::vector<int> byName;
    QString titleText;
    std::optional<KeptView> kept;
    // Hidden names shown all the same: the user went into them.
    QSet<QString> pinned;

    // Makes the frame, title and list under `parent`.
    static BrowserColumn create(QWidget *parent, const QIcon &branch, const QIcon &leaf);

    bool showsPlaceholder() const;
    // The rows showing these names, in row order.
    QList<int> rowsNamed(const QStringList &names) const;
    QList<int> selectedRows() const;
    KeptView view() const;
    // Selects the rows (the caller keeps the selection signals quiet) and scrolls back.
    void putBack(const QList<int> &rows, int scrollValue);
};

} // namespace zodaru
