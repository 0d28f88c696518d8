// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BrowserColumn.h"

#include <QLabel>
#include <QListView>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace zodaru {

bool sameCells(const Cells &a, const Cells &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CellFile &x, const CellFile &y) {
        return x.name() == y.name() && x.stringValue() == y.stringValue() && x.isLeaf() == y.isLeaf()
            && x.isPlaceholder() == y.isPlaceholder() && x.entryType() == y.entryType()
            && x.getFile().size() == y.getFile().size() && x.getFile().modified() == y.getFile().modified();
    });
}

QItemSelection selectionOf(const QAbstractListModel &model, QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    QItemSelection selection;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1] <= rows[j] + 1)
            ++j;
        selection.select(model.index(rows[i]), model.index(rows[j]));
        i = j + 1;
    }
    return selection;
}

BrowserColumn BrowserColumn::create(QWidget *parent, const QIcon &branch, const QIcon &leaf)
{
    BrowserColumn c;
    c.frame = new QWidget(parent);
    auto *layout = new QVBoxLayout(c.frame);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    c.title = new QLabel(c.frame);
    c.title->setAlignment(Qt::AlignCenter);
    c.title->setFrameShape(QFrame::StyledPanel);
    c.list = new QListView(c.frame);
    c.model = new CellModel(branch, leaf, c.list);
    c.list->setModel(c.model);
    c.list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    c.list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    c.list->setUniformItemSizes(true);
    layout->addWidget(c.title);
    layout->addWidget(c.list, 1);
    return c;
}

bool BrowserColumn::showsPlaceholder() const
{
    const Cells &cells = model->cells();
    return std::any_of(cells.begin(), cells.end(), [](const CellFile &cell) { return cell.isPlaceholder(); });
}

QList<int> BrowserColumn::rowsNamed(const QStringList &names) const
{
    QList<int> rows;
    if (names.isEmpty())
        return rows;
    const QSet<QString> wanted(names.begin(), names.end());
    for (int row = 0; row < model->rows(); ++row)
        if (wanted.contains(model->cellAt(row).name()))
            rows.append(row);
    return rows;
}

QList<int> BrowserColumn::selectedRows() const
{
    QList<int> rows;
    for (const QModelIndex &index : list->selectionModel()->selectedIndexes())
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

KeptView BrowserColumn::view() const
{
    KeptView view;
    for (int row : selectedRows())
        view.selectedNames.append(model->cellAt(row).name());
    view.scroll = list->verticalScrollBar()->value();
    return view;
}

void BrowserColumn::putBack(const QList<int> &rows, int scrollValue)
{
    QItemSelectionModel *selection = list->selectionModel();
    selection->clearSelection();
    if (!rows.isEmpty()) {
        selection->setCurrentIndex(model->index(rows.first()), QItemSelectionModel::NoUpdate);
        selection->select(selectionOf(*model, rows), QItemSelectionModel::Select);
    }
    // The range of the scroll bar is known only once the rows are laid out.
    list->doItemsLayout();
    list->verticalScrollBar()->setValue(scrollValue);
}

} // namespace zodaru
