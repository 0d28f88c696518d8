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

// Cancel and Retry on a transfer table: the Delete key cancels the selected entries, and
// a context menu offers both. Rows are indexes in the queue; an entry waiting or running
// can be cancelled, a failed or cancelled one queued again. The application does the work.
// It must not outlive its table.
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

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    const File *entryAt(int row) const;
    bool cancellable(int row) const;
    bool retryable(int row) const;
    void showMenu(const QPoint &pos);

    QTableView &table_;
    AppContext &app_;
    const AppContext::Direction direction_;
};

} // namespace zodaru
