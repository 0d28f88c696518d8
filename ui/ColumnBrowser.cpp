// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ColumnBrowser.h"

#include "ui/LargeBlockAllocator.h"

#include <QAbstractListModel>
#include <QApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QScrollArea>
#include <QScrollBar>
#include <QScopedValueRollback>
#include <QSet>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <vector>

namespace zodaru {

namespace {

using Cells = std::vector<CellFile, LargeBlockAllocator<CellFile>>;

constexpr int kMinimumColumnWidth = 120;
// Two columns share the view, as in the classic browser: the directory and its contents.
constexpr int kColumnsInView = 2;

// What the user had in a column before it was reloaded: given back once the column shows
// entries again (a remote column first shows a busy row, and its entries a moment later).
struct KeptView {
    QStringList selectedNames;
    int scroll = 0;
};

// The cells of one column as a list model. A directory may hold a hundred thousand
// entries: the view asks only for the rows it paints, and a reload is one model reset
// instead of an item per row.
class CellModel final : public QAbstractListModel {
public:
    CellModel(const QIcon &branch, const QIcon &leaf, QObject *parent)
        : QAbstractListModel(parent), branch_(branch), leaf_(leaf)
    {
    }

    // Gives the cells shown before. They move in whole, so the addresses of the ones
    // handed out stay valid.
    Cells replaceCells(Cells cells)
    {
        beginResetModel();
        Cells before = std::exchange(cells_, std::move(cells));
        endResetModel();
        return before;
    }
    Cells &cells() { return cells_; }
    const Cells &cells() const { return cells_; }

    int rowCount(const QModelIndex &parent = {}) const override
    {
        return parent.isValid() ? 0 : int(cells_.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= int(cells_.size()))
            return {};
        const CellFile &cell = cells_[size_t(index.row())];
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
        if (!index.isValid() || index.row() >= int(cells_.size()) || cells_[size_t(index.row())].isPlaceholder())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }

private:
    Cells cells_;
    QIcon branch_;
    QIcon leaf_;
};

// Rows as selection ranges, neighbours joined: selecting a thousand rows is one call.
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

struct Column {
    QWidget *frame = nullptr; // owned by the strip (Qt parent)
    QLabel *title = nullptr;
    QListView *list = nullptr;
    CellModel *model = nullptr; // owned by the list (Qt parent)
    QString titleText;
    std::optional<KeptView> kept;

    Cells &cells() const { return model->cells(); }
    bool showsPlaceholder() const
    {
        return std::any_of(cells().begin(), cells().end(), [](const CellFile &cell) { return cell.isPlaceholder(); });
    }
};

} // namespace

struct ColumnBrowser::Private {
    ColumnBrowser *q = nullptr;
    ColumnBrowserDelegate *delegate = nullptr;
    QScrollArea *scroll = nullptr;
    QWidget *strip = nullptr;
    QHBoxLayout *stripLayout = nullptr;
    std::vector<Column> columns;
    // Cells of reloaded or closed columns. Callers may still hold pointers from
    // selectedCells() (a delete loop refreshes after every entry), so they live on until
    // the event loop gets control back.
    std::vector<Cells> retired;
    bool purgeScheduled = false;
    // Set while the browser itself changes a selection: it reports the change once, after.
    bool selecting = false;
    QIcon branch;
    QIcon leaf;

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
        while (int(columns.size()) > column + 1) {
            Column &c = columns.back();
            {
                const QScopedValueRollback quiet(selecting, true);
                retire(c.model->replaceCells({}));
            }
            c.list->removeEventFilter(q);
            c.frame->hide();
            c.frame->deleteLater();
            columns.pop_back();
        }
    }

    Column &appendColumn()
    {
        const int index = int(columns.size());
        Column c;
        c.frame = new QWidget(strip);
        auto *layout = new QVBoxLayout(c.frame);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(2);
        c.title = new QLabel(c.frame);
        c.title->setAlignment(Qt::AlignCenter);
        c.title->setFrameShape(QFrame::StyledPanel);
        c.list = new QListView(c.frame);
        c.model = new CellModel(branch, leaf, c.list);
        c.list->setModel(c.model);
        c.list->setSelectionMode(QAbstractItemView::ExtendedSelection);
        c.list->setEditTriggers(QAbstractItemView::NoEditTriggers);
        c.list->setUniformItemSizes(true);
        c.list->installEventFilter(q);
        layout->addWidget(c.title);
        layout->addWidget(c.list, 1);
        c.frame->setFixedWidth(columnWidth());
        stripLayout->insertWidget(index, c.frame);
        QObject::connect(c.list->selectionModel(), &QItemSelectionModel::selectionChanged, q,
                         [this, list = c.list] {
                             if (selecting)
                                 return;
                             for (int i = 0; i < int(columns.size()); ++i) {
                                 if (columns[size_t(i)].list == list) {
                                     selectionChangedIn(i);
                                     return;
                                 }
                             }
                         });
        c.frame->show();
        columns.push_back(std::move(c));
        return columns.back();
    }

    // Counts the rows, fills every cell, then asks the title: the remote side lists a
    // directory when counting and fills the cells from that listing.
    void fill(int index)
    {
        Cells cells;
        const int rows = delegate ? std::max(0, delegate->numberOfRowsInColumn(*q, index)) : 0;
        cells.resize(size_t(rows));
        for (int row = 0; row < rows; ++row)
            delegate->willDisplayCell(*q, cells[size_t(row)], row, index);
        const QString title = delegate ? delegate->titleOfColumn(*q, index) : QString();

        Column &c = columns[size_t(index)];
        c.titleText = title;
        showTitle(c);
        const QScopedValueRollback quiet(selecting, true);
        retire(c.model->replaceCells(std::move(cells)));
    }

    KeptView viewOf(const Column &c) const
    {
        KeptView view;
        const Cells &cells = c.cells();
        for (int row : selectedRows(c))
            view.selectedNames.append(cells[size_t(row)].name());
        view.scroll = c.list->verticalScrollBar()->value();
        return view;
    }

    // Selects again, by name, what was selected before the reload, and scrolls back.
    void restoreView(int index)
    {
        Column &c = columns[size_t(index)];
        if (!c.kept || c.showsPlaceholder())
            return;
        const KeptView view = *std::exchange(c.kept, std::nullopt);
        QList<int> rows;
        if (!view.selectedNames.isEmpty()) {
            const QSet<QString> names(view.selectedNames.begin(), view.selectedNames.end());
            const Cells &cells = c.cells();
            for (int row = 0; row < int(cells.size()); ++row)
                if (names.contains(cells[size_t(row)].name()))
                    rows.append(row);
        }
        if (!rows.isEmpty()) {
            const QScopedValueRollback quiet(selecting, true);
            c.list->selectionModel()->setCurrentIndex(c.model->index(rows.first()), QItemSelectionModel::NoUpdate);
            c.list->selectionModel()->select(selectionOf(*c.model, rows), QItemSelectionModel::Select);
        }
        // The range of the scroll bar is known only once the rows are laid out.
        c.list->doItemsLayout();
        c.list->verticalScrollBar()->setValue(view.scroll);
        if (!rows.isEmpty())
            selectionChangedIn(index);
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
            if (!keepView)
                c.kept.reset();
            else if (!c.showsPlaceholder())
                c.kept = viewOf(c);
        } else {
            appendColumn();
        }
        fill(index);
        keepLastColumnInView();
        restoreView(index);
    }

    static QList<int> selectedRows(const Column &c)
    {
        QList<int> rows;
        for (const QModelIndex &index : c.list->selectionModel()->selectedIndexes())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    QList<int> selectedRows(int column) const { return selectedRows(columns[size_t(column)]); }

    void selectionChangedIn(int column)
    {
        closeColumnsAfter(column);
        const QList<int> rows = selectedRows(column);
        if (rows.size() == 1) {
            const CellFile &cell = columns[size_t(column)].cells()[size_t(rows.first())];
            if (!cell.isLeaf())
                loadColumn(column + 1);
        }
        keepLastColumnInView();
        Q_EMIT q->selectionChanged();
    }

    void keepLastColumnInView()
    {
        stripLayout->activate();
        strip->adjustSize();
        QScrollBar *bar = scroll->horizontalScrollBar();
        bar->setValue(bar->maximum());
        // The scroll area learns the strip's new width from a posted layout request, so
        // the range may grow only after this pass: scroll once more then.
        QTimer::singleShot(0, q, [bar] { bar->setValue(bar->maximum()); });
    }

    void relayout()
    {
        const int width = columnWidth();
        for (Column &c : columns) {
            c.frame->setFixedWidth(width);
            showTitle(c);
        }
        keepLastColumnInView();
    }
};

ColumnBrowser::ColumnBrowser(QWidget *parent)
    : QWidget(parent)
    , d(std::make_unique<Private>())
{
    d->q = this;
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
    d->stripLayout->addStretch(1);
    d->scroll->setWidget(d->strip); // the scroll area owns the strip
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
    const QStringList components = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (int i = 0; i < components.size(); ++i) {
        if (i >= columnCount())
            return false; // the previous component was a leaf
        const Column &c = d->columns[size_t(i)];
        const Cells &cells = c.cells();
        const auto found = std::find_if(cells.begin(), cells.end(), [&](const CellFile &cell) {
            return !cell.isPlaceholder() && cell.name() == components[i];
        });
        if (found == cells.end())
            return false;
        selectRow(i, int(found - cells.begin()));
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
        parts.append(d->columns[size_t(i)].cells()[size_t(rows.first())].name());
    }
    return QLatin1Char('/') + parts.join(QLatin1Char('/'));
}

QList<CellFile *> ColumnBrowser::selectedCells() const
{
    const int column = selectedColumn();
    if (column < 0)
        return {};
    QList<CellFile *> cells;
    Cells &shown = d->columns[size_t(column)].cells();
    for (int row : d->selectedRows(column))
        cells.append(&shown[size_t(row)]);
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
    if (column < columnCount() || (column == 0 && d->columns.empty()))
        d->loadColumn(column);
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
    const Cells &cells = c.cells();
    QList<int> selectable;
    for (int row : rows)
        if (row >= 0 && row < int(cells.size()) && !cells[size_t(row)].isPlaceholder())
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
    return int(d->columns[size_t(column)].cells().size());
}

CellFile *ColumnBrowser::cellAt(int column, int row)
{
    if (row < 0 || row >= rowCount(column))
        return nullptr;
    return &d->columns[size_t(column)].cells()[size_t(row)];
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

// Right and Left move the keyboard focus between columns, as arrow keys do in a tree.
bool ColumnBrowser::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    if (key->modifiers() != Qt::NoModifier && key->modifiers() != Qt::KeypadModifier)
        return QWidget::eventFilter(watched, event);
    for (int i = 0; i < columnCount(); ++i) {
        if (d->columns[size_t(i)].list != watched)
            continue;
        if (key->key() == Qt::Key_Right && i + 1 < columnCount() && rowCount(i + 1) > 0) {
            d->columns[size_t(i + 1)].list->setFocus();
            selectRow(i + 1, 0);
            return true;
        }
        if (key->key() == Qt::Key_Left && i > 0) {
            QListView *left = d->columns[size_t(i - 1)].list;
            left->setFocus();
            const QList<int> rows = d->selectedRows(i - 1);
            if (!rows.isEmpty())
                selectRow(i - 1, rows.first()); // closes the column we came from
            return true;
        }
        break;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace zodaru
