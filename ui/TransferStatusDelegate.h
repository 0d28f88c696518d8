// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStyledItemDelegate>

namespace zodaru {

// Draws the status cell of a transfer table over a bar that fills with the transfer's
// progress (TransferTableModel::ProgressRole); the status text itself is unchanged. Other
// cells are drawn as usual.
class TransferStatusDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TransferStatusDelegate(QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(TransferStatusDelegate)

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;

    // The part of `cell` that the bar covers at `progress` (0 to 1).
    static QRect barRect(const QRect &cell, double progress);
};

} // namespace zodaru
