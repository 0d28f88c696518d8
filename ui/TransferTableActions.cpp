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
    // Rows dragged within the table move their entries (the model does the move).
    table_.setDragEnabled(true);
    table_.setAcceptDrops(true);
    table_.setDragDropMode(QAbstractItemView::InternalMove);
    table_.setDragDropOverwriteMode(false);
    table_.setDropIndicatorShown(true);
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

int TransferTableActions::queueSize() const
{
    const QList<File> *queue = direction_ == AppContext::Direction::Download ? app_.downloadQueue()
                                                                            : app_.uploadQueue();
    return queue ? int(queue->size()) : 0;
}

bool TransferTableActions::movable(const QList<int> &rows, int step) const
{
    if (rows.isEmpty())
        return false;
    return step < 0 ? rows.first() > 0 : rows.last() + 1 < queueSize();
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

void TransferTableActions::remove(const QList<int> &rows)
{
    QList<int> present;
    for (int row : rows)
        if (entryAt(row))
            present.append(row);
    if (!present.isEmpty())
        app_.removeTransfers(direction_, present);
    table_.clearSelection();
}

void TransferTableActions::moveBy(const QList<int> &rows, int step)
{
    if (!movable(rows, step))
        return;
    // Before the row above the first, or before the second row below the last.
    const int before = step < 0 ? rows.first() - 1 : rows.last() + 2;
    const int first = app_.moveTransfers(direction_, rows, before);
    if (QItemSelectionModel *selection = table_.selectionModel(); selection && table_.model()) {
        selection->clearSelection();
        for (int row = first; row < first + rows.size() && row < table_.model()->rowCount(); ++row)
            selection->select(table_.model()->index(row, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
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
    menu->addSeparator();
    QAction *removeAction = menu->addAction(QCoreApplication::translate("Browsing", "Remove from queue"));
    removeAction->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    removeAction->setEnabled(std::any_of(rows.begin(), rows.end(), [this](int r) { return entryAt(r) != nullptr; }));
    connect(removeAction, &QAction::triggered, this, [this, rows] { remove(rows); });
    QAction *upAction = menu->addAction(QCoreApplication::translate("Browsing", "Move up"));
    upAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Up));
    upAction->setEnabled(movable(rows, -1));
    connect(upAction, &QAction::triggered, this, [this, rows] { moveBy(rows, -1); });
    QAction *downAction = menu->addAction(QCoreApplication::translate("Browsing", "Move down"));
    downAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Down));
    downAction->setEnabled(movable(rows, 1));
    connect(downAction, &QAction::triggered, this, [this, rows] { moveBy(rows, 1); });
    menu->addSeparator();
    // The whole queue, whatever is selected.
    QAction *retryAll = menu->addAction(QCoreApplication::translate("Browsing", "Retry all failed"));
    connect(retryAll, &QAction::triggered, this, [this] { app_.retryFailedTransfers(direction_); });
    QAction *clearAction = menu->addAction(QCoreApplication::translate("Browsing", "Clear finished"));
    connect(clearAction, &QAction::triggered, this, [this] { app_.clearFinishedTransfers(direction_); });
    const bool paused = app_.transfersPaused(direction_);
    QAction *pauseAction = menu->addAction(paused ? QCoreApplication::translate("Browsing", "Resume queue")
                                                  : QCoreApplication::translate("Browsing", "Pause queue"));
    connect(pauseAction, &QAction::triggered, this, [this, paused] { app_.setTransfersPaused(direction_, !paused); });
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
    QMenu *menu = menuFor(rows).release();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(table_.viewport()->mapToGlobal(pos));
}

bool TransferTableActions::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != &table_ || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const QKeyCombination combination = key->keyCombination();
    if (combination == QKeyCombination(Qt::ShiftModifier, Qt::Key_Delete)) {
        remove(selectedRows());
        return true;
    }
    if (key->matches(QKeySequence::Delete)) {
        cancel(selectedRows());
        return true;
    }
    if (combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Up)
        || combination == QKeyCombination(Qt::ControlModifier, Qt::Key_Down)) {
        moveBy(selectedRows(), key->key() == Qt::Key_Up ? -1 : 1);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace zodaru
