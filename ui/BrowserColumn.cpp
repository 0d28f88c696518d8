// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/BrowserColumn.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>

namespace zodaru {

bool sameCells(const Cells &a, const Cells &b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CellFile &x, const CellFile &y) {
        return x.nameView() == y.nameView() && x.stringValue() == y.stringValue() && x.isLeaf() == y.isLeaf()
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

ColumnListView::ColumnListView(QWidget *parent)
    : QListView(parent)
{
    viewport()->setAcceptDrops(true);
}

void ColumnListView::setDropHighlight(int target)
{
    if (target == dropTarget_)
        return;
    dropTarget_ = target;
    viewport()->update();
}

void ColumnListView::mousePressEvent(QMouseEvent *event)
{
    // A press on a selected row leaves the selection as it is until the release, so that
    // several rows can be dragged together; a press elsewhere selects its row first.
    QListView::mousePressEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    pressedAt_ = event->position().toPoint();
    pressedOnSelection_ = event->button() == Qt::LeftButton && index.isValid()
        && selectionModel()->isSelected(index);
}

void ColumnListView::mouseMoveEvent(QMouseEvent *event)
{
    if (pressedOnSelection_ && (event->buttons() & Qt::LeftButton) && startDrag) {
        // Not handed to the view, which would select the rows swept over instead.
        if ((event->position().toPoint() - pressedAt_).manhattanLength() < QApplication::startDragDistance())
            return;
        pressedOnSelection_ = false;
        const QPointer<ColumnListView> self(this);
        startDrag(); // runs until the drop
        if (self)
            setState(NoState); // the release went to the drag, not to the view
        return;
    }
    QListView::mouseMoveEvent(event);
}

void ColumnListView::paintEvent(QPaintEvent *event)
{
    QListView::paintEvent(event);
    if (dropTarget_ == kNoDrop)
        return;
    QRect area = viewport()->rect();
    if (dropTarget_ >= 0)
        area = visualRect(model()->index(dropTarget_, 0));
    QPainter painter(viewport());
    QPen pen(palette().color(QPalette::Highlight));
    pen.setWidth(2);
    painter.setPen(pen);
    painter.drawRect(area.adjusted(1, 1, -1, -1));
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
    c.list = new ColumnListView(c.frame);
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
    // The cells are read in the order they lie in memory, and only those found are looked
    // up among the rows: a reload of a huge directory gives back a few selected rows.
    const bool few = names.size() <= 4;
    const QSet<QString> wanted = few ? QSet<QString>() : QSet<QString>(names.begin(), names.end());
    const Cells &cells = model->cells();
    QSet<int> found;
    for (size_t i = 0; i < cells.size(); ++i) {
        const bool match = few ? std::find(names.begin(), names.end(), cells[i].nameView()) != names.end()
                               : wanted.contains(cells[i].name());
        if (match)
            found.insert(int(i));
    }
    if (found.isEmpty())
        return rows;
    const std::vector<int> &order = model->order();
    for (int row = 0; row < int(order.size()); ++row)
        if (found.contains(order[size_t(row)]))
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
