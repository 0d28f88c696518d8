// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ColumnBrowser.h"

#include "ui/ColumnBrowserPrivate.h"

#include <QKeyEvent>
#include <QStyle>
#include <QVBoxLayout>

namespace zodaru {

ColumnBrowser::ColumnBrowser(QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<Private>())
{
    d->q = this;
    d->origin = Private::nextDragOrigin();
    d->branch = style()->standardIcon(QStyle::SP_DirIcon);
    d->leaf = style()->standardIcon(QStyle::SP_FileIcon);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    d->scroll = new QScrollArea(this);
    d->scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    d->scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    d->scroll->setWidgetResizable(true);
    d->strip = new QWidget;
    d->stripLayout = new QHBoxLayout(d->strip);
    d->stripLayout->setContentsMargins(0, 0, 0, 0);
    d->stripLayout->setSpacing(2);
    d->preview = new PreviewPanel(d->strip);
    d->preview->hide();
    d->stripLayout->addWidget(d->preview);
    d->stripLayout->addStretch(1);
    d->scroll->setWidget(d->strip); // the scroll area owns the strip
    // Drops past the columns' lists (titles, the space after the last) come to the strip.
    d->strip->setAcceptDrops(true);
    d->strip->installEventFilter(this);
    layout->addWidget(d->scroll);
}

ColumnBrowser::~ColumnBrowser() = default;

void ColumnBrowser::setDelegate(ColumnBrowserDelegate *delegate)
{
    d->delegate = delegate;
}

bool ColumnBrowser::setPath(const QString &path)
{
    d->loadColumn(0, false);
    d->revealEnd();
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = 0; i < components.size(); ++i) {
        if (i >= columnCount())
            return false; // the previous component was a leaf
        Column &c = d->columns[size_t(i)];
        const Cells &cells = c.model->cells();
        const auto found = std::find_if(cells.begin(), cells.end(), [&](const CellFile &cell) {
            return !cell.isPlaceholder() && cell.nameView() == components[i];
        });
        if (found == cells.end())
            return false;
        // A hidden directory on the way is shown: the path goes through it.
        if (isHiddenName(components[i]) && !c.pinned.contains(components[i])) {
            c.pinned.insert(components[i]);
            c.model->reorder(d->orderOf(c));
        }
        const QList<int> rows = c.rowsNamed({components[i]});
        if (rows.isEmpty())
            return false;
        selectRow(i, rows.first());
    }
    return true;
}

int ColumnBrowser::lastVisibleColumn() const
{
    return std::max(0, int(d->columns.size()) - 1);
}

QString ColumnBrowser::pathToColumn(int column) const
{
    QStringList parts;
    const int end = std::min(column, columnCount());
    for (int i = 0; i < end; ++i) {
        const QList<int> rows = d->selectedRows(i);
        if (rows.isEmpty())
            break;
        parts.append(d->columns[size_t(i)].model->cellAt(rows.first()).name());
    }
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

QList<CellFile *> ColumnBrowser::selectedCells() const
{
    const int column = selectedColumn();
    if (column < 0)
        return {};
    QList<CellFile *> cells;
    CellModel &model = *d->columns[size_t(column)].model;
    for (int row : d->selectedRows(column))
        cells.append(&model.cellAt(row));
    return cells;
}

int ColumnBrowser::selectedColumn() const
{
    for (int i = columnCount() - 1; i >= 0; --i)
        if (!d->selectedRows(i).isEmpty())
            return i;
    return -1;
}

void ColumnBrowser::reloadColumn(int column)
{
    if (column < 0)
        return;
    if (column < columnCount() || (column == 0 && d->columns.empty())) {
        const int kept = horizontalScroll();
        d->loadColumn(column);
        d->holdScroll(kept);
    }
}

void ColumnBrowser::refreshColumn(int column)
{
    if (column < 0 || column >= columnCount())
        return;
    const int kept = horizontalScroll();
    d->rebuildColumn(column, true);
    d->holdScroll(kept);
}

void ColumnBrowser::reloadOpenDirectory()
{
    reloadColumn(lastVisibleColumn());
}

void ColumnBrowser::goToParent()
{
    const int column = d->focusedColumn();
    if (column <= 0)
        return;
    const QList<int> rows = d->selectedRows(column - 1);
    d->columns[size_t(column - 1)].list->setFocus();
    if (!rows.isEmpty())
        selectRow(column - 1, rows.first()); // closes the column we came from
}

void ColumnBrowser::setListOptions(const ListOptions &options)
{
    if (options == d->options)
        return;
    d->options = options;
    const int kept = horizontalScroll();
    // Left to right: a column whose selection stays keeps the columns opened from it.
    for (int i = 0; i < columnCount(); ++i)
        d->rebuildColumn(i, false);
    d->holdScroll(kept);
}

ListOptions ColumnBrowser::listOptions() const
{
    return d->options;
}

void ColumnBrowser::setCounterpart(ColumnBrowser *other)
{
    if (d->counterpart)
        disconnect(d->counterpart, nullptr, this, nullptr);
    d->counterpart = other;
    if (other) {
        // The comparison follows the other side's open directory.
        connect(other, &ColumnBrowser::columnsChanged, this, [this] { d->updatePreview(); });
        connect(other, &ColumnBrowser::selectionChanged, this, [this] { d->updatePreview(); });
    }
    d->updatePreview();
}

std::optional<EntryFacts> ColumnBrowser::factsInOpenDirectory(const QString &name)
{
    if (d->columns.empty() || !d->delegate)
        return std::nullopt;
    const int column = lastVisibleColumn();
    const Cells &cells = d->columns.back().model->cells();
    for (const CellFile &cell : cells)
        if (!cell.isPlaceholder() && cell.nameView() == name)
            return d->delegate->factsOf(*this, cell, column);
    return std::nullopt;
}

const PreviewPanel &ColumnBrowser::preview() const
{
    return *d->preview;
}

bool ColumnBrowser::isPreviewShown() const
{
    return !d->preview->isHidden();
}

int ColumnBrowser::horizontalScroll() const
{
    return d->scroll->horizontalScrollBar()->value();
}

void ColumnBrowser::setHorizontalScroll(int value)
{
    d->scroll->horizontalScrollBar()->setValue(value);
}

void ColumnBrowser::selectRow(int column, int row)
{
    selectRows(column, {row});
}

void ColumnBrowser::selectRows(int column, const QList<int> &rows)
{
    if (column < 0 || column >= columnCount())
        return;
    const Column &c = d->columns[size_t(column)];
    QList<int> selectable;
    for (int row : rows)
        if (row >= 0 && row < c.model->rows() && !c.model->cellAt(row).isPlaceholder())
            selectable.append(row);
    {
        const QScopedValueRollback quiet(d->selecting, true);
        QItemSelectionModel *selection = c.list->selectionModel();
        if (!selectable.isEmpty()) {
            const QModelIndex first = c.model->index(selectable.first());
            selection->setCurrentIndex(first, QItemSelectionModel::NoUpdate);
            c.list->scrollTo(first);
        }
        selection->select(selectionOf(*c.model, selectable), QItemSelectionModel::ClearAndSelect);
    }
    d->selectionChangedIn(column);
}

int ColumnBrowser::columnCount() const
{
    return int(d->columns.size());
}

int ColumnBrowser::rowCount(int column) const
{
    if (column < 0 || column >= columnCount())
        return 0;
    return d->columns[size_t(column)].model->rows();
}

CellFile *ColumnBrowser::cellAt(int column, int row)
{
    if (row < 0 || row >= rowCount(column))
        return nullptr;
    return &d->columns[size_t(column)].model->cellAt(row);
}

QString ColumnBrowser::titleOfColumn(int column) const
{
    if (column < 0 || column >= columnCount())
        return {};
    return d->columns[size_t(column)].titleText;
}

void ColumnBrowser::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // A browser that nobody loaded shows its first column when it first appears.
    if (d->columns.empty())
        d->loadColumn(0);
}

void ColumnBrowser::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    d->relayout();
}

bool ColumnBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (d->dragEvent(watched, event))
        return true;
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const int i = d->columnOf(watched);
    if (i < 0)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    const Qt::KeyboardModifiers modifiers = key->modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::AltModifier && key->key() == Qt::Key_Up) {
        goToParent();
        return true;
    }
    if (modifiers != Qt::NoModifier)
        return QWidget::eventFilter(watched, event);
    switch (key->key()) {
    // Right and Left move the keyboard focus between columns, as arrow keys do in a tree.
    case Qt::Key_Right:
        if (i + 1 < columnCount() && rowCount(i + 1) > 0) {
            d->columns[size_t(i + 1)].list->setFocus();
            selectRow(i + 1, 0);
            return true;
        }
        break;
    case Qt::Key_Left:
    case Qt::Key_Backspace:
        goToParent();
        return true;
    case Qt::Key_F5:
        reloadOpenDirectory();
        return true;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace zodaru
