// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/AppContext.h"

#include <QList>
#include <QObject>

#include <memory>

class QMenu;
class QPoint;
class QTableView;

namespace zodaru {

// What the user does with a transfer table. Rows are indexes in the queue; the application
// does the work. On the selected rows: Cancel (Delete key; an entry waiting or running),
// Retry (a failed or cancelled one), Remove from the queue (Shift+Delete), Move up and
// Move down (Ctrl+Up, Ctrl+Down; rows can also be dragged). On the whole queue: Retry all
// failed, Clear finished, Pause or Resume. It must not outlive its table.
class TransferTableActions final : public QObject {
    Q_OBJECT
public:
    TransferTableActions(QTableView &table, AppContext &app, AppContext::Direction direction);
    Q_DISABLE_COPY_MOVE(TransferTableActions)

    // The rows an action applies to: the selected ones, in row order.
    QList<int> selectedRows() const;
    // The menu for `rows`, each action enabled only when it applies to one of them.
    std::unique_ptr<QMenu> menuFor(const QList<int> &rows);
    void cancel(const QList<int> &rows);
    void retry(const QList<int> &rows);
    void remove(const QList<int> &rows);
    // One place up (-1) or down (+1); the moved rows stay selected.
    void moveBy(const QList<int> &rows, int step);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const File *entryAt(int row) const;
    bool cancellable(int row) const;
    bool retryable(int row) const;
    bool movable(const QList<int> &rows, int step) const;
    int queueSize() const;
    void showMenu(const QPoint &pos);

    QTableView &table_;
    AppContext &app_;
    const AppContext::Direction direction_;
};

} // namespace zodaru
