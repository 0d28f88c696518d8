// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The inside of ColumnBrowser, shared by the files that implement it. Main thread only.

#include "ui/BrowserColumn.h"
#include "ui/ColumnBrowser.h"
#include "ui/PreviewPanel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QScrollArea>
#include <QScrollBar>
#include <QScopedValueRollback>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <optional>
#include <vector>

namespace zodaru {

inline constexpr int kMinimumColumnWidth = 120;
// Two columns share the view, as in the classic browser: the directory and its contents.
inline constexpr int kColumnsInView = 2;

using Column = BrowserColumn;

struct ColumnBrowser::Private {
    ColumnBrowser *q = nullptr;
    ColumnBrowserDelegate *delegate = nullptr;
    QScrollArea *scroll = nullptr;
    QWidget *strip = nullptr;
    QHBoxLayout *stripLayout = nullptr;
    PreviewPanel *preview = nullptr; // owned by the strip
    QPointer<ColumnBrowser> counterpart;
    std::vector<Column> columns;
    ListOptions options;
    // Cells of reloaded or closed columns. Callers may still hold pointers from
    // selectedCells() (a delete loop refreshes after every entry), so they live on until
    // the event loop gets control back.
    std::vector<Cells> retired;
    bool purgeScheduled = false;
    // Set while the browser itself changes a selection: it reports the change once, after.
    bool selecting = false;
    QIcon branch;
    QIcon leaf;

    // Drag and drop (ColumnBrowserDrag.cpp).
    quint64 origin = 0;
    std::function<QUrl(const QString &)> urlOf;
    bool acceptsUrls = false;
    DropHighlight highlight;
    const QObject *highlightFrom = nullptr; // the widget whose drag events set it
    // While a drag started here runs (its own event loop), closed columns are kept: the list
    // that started it is still on the stack. They go once the drag is over.
    bool dragging = false;
    std::vector<QPointer<QWidget>> closedWhileDragging;

    struct DropTarget {
        DropHighlight where;
        QString directory;
    };
    // Where a drop at `pos` of `watched` (a list's viewport or the strip) would go.
    std::optional<DropTarget> dropTargetAt(const QObject *watched, QPoint pos) const;
    // Handles the drag events of the lists' viewports and of the strip; false for others.
    bool dragEvent(QObject *watched, QEvent *event);
    void setHighlight(DropHighlight where, const QObject *from = nullptr);
    std::unique_ptr<QMimeData> dragData(int column) const;
    void startDrag(int column);
    static quint64 nextDragOrigin();

    int columnWidth() const
    {
        // Our own width: the scroll area's viewport is resized only after our resize event.
        const int available = q->width() - 2 * scroll->frameWidth();
        return std::max(kMinimumColumnWidth, available / kColumnsInView - 2);
    }

    void retire(Cells cells)
    {
        if (cells.empty())
            return;
        retired.push_back(std::move(cells));
        if (!purgeScheduled) {
            purgeScheduled = true;
            QTimer::singleShot(0, q, [this] {
                purgeScheduled = false;
                retired.clear();
            });
        }
    }

    void closeColumnsAfter(int column)
    {
        if (highlight.column > column)
            setHighlight({});
        bool closed = false;
        while (int(columns.size()) > column + 1) {
            Column &c = columns.back();
            {
                const QScopedValueRollback quiet(selecting, true);
                retire(c.model->replaceCells({}, {}));
                c.byName.clear();
            }
            c.list->removeEventFilter(q);
            c.list->viewport()->removeEventFilter(q);
            c.frame->hide();
            if (dragging)
                closedWhileDragging.emplace_back(c.frame);
            else
                c.frame->deleteLater();
            columns.pop_back();
            closed = true;
        }
        if (closed)
            Q_EMIT q->columnsChanged();
    }

    Column &appendColumn()
    {
        const int index = int(columns.size());
        Column c = Column::create(strip, branch, leaf);
        c.list->installEventFilter(q);
        c.list->viewport()->installEventFilter(q);
        c.list->startDrag = [this, list = c.list] {
            const int i = columnOf(list);
            if (i >= 0)
                startDrag(i);
        };
        c.frame->setFixedWidth(columnWidth());
        stripLayout->insertWidget(index, c.frame);
        QObject::connect(c.list->selectionModel(), &QItemSelectionModel::selectionChanged, q,
                         [this, list = c.list] {
                             if (selecting)
                                 return;
                             const int i = columnOf(list);
                             if (i >= 0)
                                 selectionChangedIn(i);
                         });
        c.frame->show();
        columns.push_back(std::move(c));
        return columns.back();
    }

    int columnOf(const QObject *list) const
    {
        for (int i = 0; i < int(columns.size()); ++i)
            if (columns[size_t(i)].list == list)
                return i;
        return -1;
    }

    std::vector<int> orderOf(const Column &c) const
    {
        const Cells &cells = c.model->cells();
        return orderOfCells(std::span<const CellFile>(cells.data(), cells.size()), options, c.pinned, c.byName);
    }

    // Counts the rows, fills every cell, then asks the title: the remote side lists a
    // directory when counting and fills the cells from that listing.
    // `byName` gets the delegate's name order of the cells, empty when it has none.
    Cells read(int index, QString &title, std::vector<int> &byName)
    {
        Cells cells;
        const int rows = delegate ? std::max(0, delegate->numberOfRowsInColumn(*q, index)) : 0;
        cells.resize(size_t(rows));
        for (int row = 0; row < rows; ++row)
            delegate->willDisplayCell(*q, cells[size_t(row)], row, index);
        title = delegate ? delegate->titleOfColumn(*q, index) : QString();
        byName = delegate ? delegate->rowsByName(*q, index) : std::vector<int>();
        return cells;
    }

    // The rows are sorted here, once per listing, unless the delegate did it already.
    void show(int index, Cells cells, const QString &title, std::vector<int> byName)
    {
        Column &c = columns[size_t(index)];
        c.titleText = title;
        showTitle(c);
        if (byName.size() != cells.size()) {
            QStringList texts;
            texts.reserve(qsizetype(cells.size()));
            for (const CellFile &cell : cells)
                texts.append(cell.stringValue());
            byName = nameOrder(texts);
        }
        std::vector<int> order = orderOfCells(std::span<const CellFile>(cells.data(), cells.size()), options,
                                              c.pinned, byName);
        c.byName = std::move(byName);
        const QScopedValueRollback quiet(selecting, true);
        retire(c.model->replaceCells(std::move(cells), std::move(order)));
    }

    void fill(int index)
    {
        QString title;
        std::vector<int> byName;
        Cells cells = read(index, title, byName);
        show(index, std::move(cells), title, std::move(byName));
    }

    void putBack(Column &c, const QList<int> &rows, int scrollValue)
    {
        const QScopedValueRollback quiet(selecting, true);
        c.putBack(rows, scrollValue);
    }

    // Selects again, by name, what was selected before the reload, and scrolls back.
    void restoreView(int index)
    {
        Column &c = columns[size_t(index)];
        if (!c.kept || c.showsPlaceholder())
            return;
        const KeptView view = *std::exchange(c.kept, std::nullopt);
        const QList<int> rows = c.rowsNamed(view.selectedNames);
        putBack(c, rows, view.scroll);
        if (!rows.isEmpty())
            selectionChangedIn(index, false);
    }

    void showTitle(Column &c) const
    {
        const int room = std::max(10, columnWidth() - 8);
        c.title->setText(c.title->fontMetrics().elidedText(c.titleText, Qt::ElideLeft, room));
        c.title->setToolTip(c.titleText);
    }

    // `keepView`: give the user's selection and scroll position back once the column shows
    // its entries; a new path shows a column afresh.
    void loadColumn(int index, bool keepView = true)
    {
        if (index < int(columns.size())) {
            closeColumnsAfter(index);
            Column &c = columns[size_t(index)];
            // A column still waiting for its entries keeps what was taken before.
            if (!keepView) {
                c.kept.reset();
                c.pinned.clear();
            } else if (!c.showsPlaceholder()) {
                c.kept = c.view();
            }
        } else {
            appendColumn();
        }
        fill(index);
        restoreView(index);
        updatePreview();
        Q_EMIT q->columnsChanged();
    }

    // Shows the column's cells again, read afresh or only put in another order, keeping the
    // selection and the columns opened from it.
    void rebuildColumn(int index, bool reread)
    {
        Column &c = columns[size_t(index)];
        if (c.showsPlaceholder())
            return; // its listing is on the way and will fill it
        const KeptView view = c.view();
        for (const QString &name : view.selectedNames)
            if (isHiddenName(name))
                c.pinned.insert(name);
        if (reread) {
            QString title;
            std::vector<int> byName;
            Cells cells = read(index, title, byName);
            // The disk tells of changes that show nothing new (times of access, a file
            // written again the same): the column stays as it is.
            if (sameCells(cells, c.model->cells()) && title == c.titleText)
                return;
            show(index, std::move(cells), title, std::move(byName));
            if (c.showsPlaceholder()) {
                c.kept = view;
                return;
            }
        } else {
            c.model->reorder(orderOf(c));
        }
        const QList<int> rows = c.rowsNamed(view.selectedNames);
        putBack(c, rows, view.scroll);
        QStringList names;
        for (int row : rows)
            names.append(c.model->cellAt(row).name());
        if (names != view.selectedNames) {
            selectionChangedIn(index, false);
            return;
        }
        updatePreview();
        Q_EMIT q->columnsChanged();
    }

    static QList<int> selectedRows(const Column &c) { return c.selectedRows(); }

    QList<int> selectedRows(int column) const { return selectedRows(columns[size_t(column)]); }

    // `byUser`: the user opened something, which is brought into view; a reload that
    // selects again what was selected leaves the strip where it is.
    void selectionChangedIn(int column, bool byUser = true)
    {
        closeColumnsAfter(column);
        const QList<int> rows = selectedRows(column);
        if (rows.size() == 1) {
            const CellFile &cell = columns[size_t(column)].model->cellAt(rows.first());
            if (!cell.isLeaf())
                loadColumn(column + 1);
        }
        updatePreview();
        if (byUser)
            revealEnd();
        Q_EMIT q->selectionChanged();
    }

    // The cell that the preview shows: the one leaf selected in the last column.
    const CellFile *previewedCell() const
    {
        if (columns.empty())
            return nullptr;
        const Column &c = columns.back();
        const QList<int> rows = selectedRows(c);
        if (rows.size() != 1)
            return nullptr;
        const CellFile &cell = c.model->cellAt(rows.first());
        return cell.isLeaf() && !cell.isPlaceholder() ? &cell : nullptr;
    }

    void updatePreview()
    {
        const CellFile *cell = previewedCell();
        if (!cell || !delegate) {
            preview->hide();
            return;
        }
        const EntryFacts facts = delegate->factsOf(*q, *cell, int(columns.size()) - 1);
        std::optional<Namesake> namesake;
        std::optional<EntryFacts> there;
        if (counterpart) {
            there = counterpart->factsInOpenDirectory(cell->name());
            namesake = compareNamesakes(facts, there);
        }
        preview->showFacts(facts, namesake, there);
        preview->setFixedWidth(columnWidth());
        preview->show();
    }

    void revealEnd()
    {
        stripLayout->activate();
        strip->adjustSize();
        QScrollBar *bar = scroll->horizontalScrollBar();
        bar->setValue(bar->maximum());
        // The scroll area learns the strip's new width from a posted layout request, so
        // the range may grow only after this pass: scroll once more then.
        QTimer::singleShot(0, q, [bar] { bar->setValue(bar->maximum()); });
    }

    // Puts the strip back where it was once the columns have been laid out again.
    void holdScroll(int value)
    {
        stripLayout->activate();
        strip->adjustSize();
        QScrollBar *bar = scroll->horizontalScrollBar();
        bar->setValue(value);
        QTimer::singleShot(0, q, [bar, value] { bar->setValue(value); });
    }

    void relayout()
    {
        const int width = columnWidth();
        for (Column &c : columns) {
            c.frame->setFixedWidth(width);
            showTitle(c);
        }
        preview->setFixedWidth(width);
        revealEnd();
    }

    // The column whose list has the keyboard focus, else the last one.
    int focusedColumn() const
    {
        const int focused = columnOf(QApplication::focusWidget());
        return focused >= 0 ? focused : int(columns.size()) - 1;
    }
};

} // namespace zodaru
