// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TransferStatusDelegate.h"

#include "ui/TransferTableModel.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <cmath>

namespace zodaru {

TransferStatusDelegate::TransferStatusDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QRect TransferStatusDelegate::barRect(const QRect &cell, double progress)
{
    if (!std::isfinite(progress) || progress <= 0.0)
        return QRect();
    const QRect inner = cell.adjusted(1, 2, -1, -2);
    const int width = int(std::lround(inner.width() * qMin(progress, 1.0)));
    return QRect(inner.topLeft(), QSize(width, inner.height()));
}

void TransferStatusDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    const QVariant progress = index.data(TransferTableModel::ProgressRole);
    if (!progress.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QWidget *widget = opt.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();

    // Background and selection first, then the bar, then the text on top of both.
    QStyleOptionViewItem background(opt);
    background.text.clear();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const QRect bar = barRect(opt.rect, progress.toDouble());
    if (!bar.isEmpty()) {
        QColor fill(92, 184, 92);
        fill.setAlpha(150);
        painter->fillRect(bar, fill);
    }

    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, widget);
    const bool selected = opt.state & QStyle::State_Selected;
    const QString text = opt.fontMetrics.elidedText(opt.text, opt.textElideMode, textRect.width());
    painter->save();
    painter->setFont(opt.font);
    style->drawItemText(painter, textRect, int(opt.displayAlignment), opt.palette,
                        opt.state & QStyle::State_Enabled, text,
                        selected ? QPalette::HighlightedText : QPalette::Text);
    painter->restore();
}

} // namespace zodaru
