// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/CellFile.h"
#include "ui/ColumnOrder.h"
#include "ui/LargeBlockAllocator.h"

#include <QAbstractListModel>
#include <QIcon>

#include <utility>
#include <vector>

namespace zodaru {

using Cells = std::vector<CellFile, LargeBlockAllocator<CellFile>>;

// The cells of one browser column as a list model, shown in the order given with them
// (sorted, hidden names left out). A directory may hold a hundred thousand entries: the
// view asks only for the rows it paints, and a reload is one model reset instead of an
// item per row. Rows are the rows shown; cells keep the order the delegate filled them in.
// Main thread only.
class CellModel final : public QAbstractListModel {
public:
    CellModel(const QIcon &branch, const QIcon &leaf, QObject *parent)
        : QAbstractListModel(parent), branch_(branch), leaf_(leaf)
    {
    }

    // Gives the cells shown before. They move in whole, so the addresses of the ones
    // handed out stay valid.
    Cells replaceCells(Cells cells, std::vector<int> order)
    {
        beginResetModel();
        Cells before = std::exchange(cells_, std::move(cells));
        order_ = std::move(order);
        endResetModel();
        return before;
    }
    // Shows the same cells in another order; the cells do not move.
    void reorder(std::vector<int> order)
    {
        beginResetModel();
        order_ = std::move(order);
        endResetModel();
    }
    const Cells &cells() const { return cells_; }
    int rows() const { return int(order_.size()); }
    // The index in cells() of each row.
    const std::vector<int> &order() const { return order_; }
    CellFile &cellAt(int row) { return cells_[size_t(order_[size_t(row)])]; }
    const CellFile &cellAt(int row) const { return cells_[size_t(order_[size_t(row)])]; }

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : rows(); }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= rows())
            return {};
        const CellFile &cell = cellAt(index.row());
        switch (role) {
        case Qt::DisplayRole:
            return cell.stringValue();
        case Qt::DecorationRole:
            if (cell.isPlaceholder())
                return {};
            return cell.isLeaf() ? leaf_ : branch_;
        case Qt::FontRole:
            if (const auto font = cell.font())
                return *font;
            return {};
        default:
            return {};
        }
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        if (!index.isValid() || index.row() >= rows() || cellAt(index.row()).isPlaceholder())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }

private:
    Cells cells_;
    std::vector<int> order_;
    QIcon branch_;
    QIcon leaf_;
};

} // namespace zodaru
