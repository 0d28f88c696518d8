// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TransferTableActions.h"

#include <QCoreApplication>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QTableView>

#include <algorithm>

namespace zodaru {

TransferTableActions::TransferTableActions(QTableView &table, AppContext &app,
                                           AppContext::Direction direction)
    : table_(table)
    , app_(app)
    , direction_(direction)
{
    table_.installEventFilter(this);
    table_.setContextMenuPolicy(Qt::CustomContextMenu);
    connect(&table_, &QWidget::customContextMenuRequested, this, &TransferTableActions::showMenu);
}

QList<int> TransferTableActions::selectedRows() const
{
    QList<int> rows;
    if (const QItemSelectionModel *selection = table_.selectionModel())
        for (const QModelIndex &index : selection->selectedRows())
            rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

// Read from the queue now: the table may show an older state of the entry.
const File *TransferTableActions::entryAt(int row) const
{
    const QList<File> *queue = direction_ == AppContext::Direction::Download ? app_.downloadQueue()
                                                                            : app_.uploadQueue();
    return queue && row >= 0 && row < queue->size() ? &queue->at(row) : nullptr;
}

bool TransferTableActions::cancellable(int row) const
{
    const File *entry = entryAt(row);
    return entry && !entry->isDone();
}

bool TransferTableActions::retryable(int row) const
{
    const File *entry = entryAt(row);
    return entry && entry->hasError();
}

void TransferTableActions::cancel(const QList<int> &rows)
{
    for (int row : rows)
        if (cancellable(row))
            app_.cancelTransfer(direction_, row);
}

void TransferTableActions::retry(const QList<int> &rows)
{
    for (int row : rows)
        if (retryable(row))
            app_.retryTransfer(direction_, row);
}

std::unique_ptr<QMenu> TransferTableActions::menuFor(const QList<int> &rows)
{
    auto menu = std::make_unique<QMenu>(&table_);
    QAction *cancelAction = menu->addAction(QCoreApplication::translate("Browsing", "Cancel"));
    cancelAction->setShortcut(QKeySequence::Delete);
    cancelAction->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int r) { return cancellable(r); }));
    connect(cancelAction, &QAction::triggered, this, [this, rows] { cancel(rows); });
    QAction *retryAction = menu->addAction(QCoreApplication::translate("Browsing", "Retry"));
    retryAction->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int r) { return retryable(r); }));
    connect(retryAction, &QAction::triggered, this, [this, rows] { retry(rows); });
    return menu;
}

void TransferTableActions::showMenu(const QPoint &pos)
{
    // A right click outside the selection acts on the row clicked, as file managers do.
    const QModelIndex clicked = table_.indexAt(pos);
    QList<int> rows = selectedRows();
    if (clicked.isValid() && !rows.contains(clicked.row())) {
        table_.selectRow(clicked.row());
        rows = {clicked.row()};
    }
    if (rows.isEmpty())
        return;
    QMenu *menu = menuFor(rows).release();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(table_.viewport()->mapToGlobal(pos));
}

bool TransferTableActions::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &table_ && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->matches(QKeySequence::Delete)) {
        cancel(selectedRows());
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zodaru
