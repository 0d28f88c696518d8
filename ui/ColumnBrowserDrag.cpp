// SPDX-License-Identifier: GPL-3.0-or-later
// Dragging entries out of a ColumnBrowser and dropping onto it.
#include "ui/ColumnBrowser.h"

#include "ui/ColumnBrowserPrivate.h"

#include <QDrag>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>

namespace zodaru {

namespace {

QString joined(const QString &directory, const QString &name)
{
    return directory.endsWith(QLatin1Char('/')) ? directory + name : directory + QLatin1Char('/') + name;
}

} // namespace

quint64 ColumnBrowser::Private::nextDragOrigin()
{
    static quint64 last = 0; // browsers are made on the main thread only
    return ++last;
}

std::optional<ColumnBrowser::Private::DropTarget> ColumnBrowser::Private::dropTargetAt(const QObject *watched,
                                                                                          QPoint pos) const
{
    if (columns.empty())
        return std::nullopt;
    for (int i = 0; i < int(columns.size()); ++i) {
        const Column &c = columns[size_t(i)];
        if (c.list->viewport() != watched)
            continue;
        const QModelIndex index = c.list->indexAt(pos);
        const QString directory = q->pathToColumn(i);
        if (index.isValid()) {
            const CellFile &cell = c.model->cellAt(index.row());
            if (!cell.isPlaceholder() && !cell.isLeaf())
                return DropTarget{{i, index.row()}, joined(directory, cell.name())};
        }
        return DropTarget{{i, -1}, directory};
    }
    if (watched != strip)
        return std::nullopt;
    // Between or after the columns (a title, the space past the last): that column, or the
    // last one, whose directory is the one open.
    int column = int(columns.size()) - 1;
    for (int i = 0; i < int(columns.size()); ++i)
        if (columns[size_t(i)].frame->geometry().contains(pos))
            column = i;
    return DropTarget{{column, -1}, q->pathToColumn(column)};
}

void ColumnBrowser::Private::setHighlight(DropHighlight where, const QObject *from)
{
    if (highlight.column >= 0 && highlight.column < int(columns.size()))
        columns[size_t(highlight.column)].list->setDropHighlight(ColumnListView::kNoDrop);
    highlight = where;
    highlightFrom = where.column >= 0 ? from : nullptr;
    if (where.column >= 0 && where.column < int(columns.size()))
        columns[size_t(where.column)].list->setDropHighlight(where.row >= 0 ? where.row
                                                                            : ColumnListView::kWholeColumn);
}

bool ColumnBrowser::Private::dragEvent(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::DragLeave && type != QEvent::Drop)
        return false;
    const bool ours = watched == strip || std::any_of(columns.begin(), columns.end(), [&](const Column &c) {
                          return c.list->viewport() == watched;
                      });
    if (!ours)
        return false;
    if (type == QEvent::DragLeave) {
        if (highlightFrom == watched)
            setHighlight({});
        return true;
    }
    auto *drop = static_cast<QDropEvent *>(event); // enter and move events are drop events too
    const QMimeData *data = drop->mimeData();
    bool welcome = false;
    if (data) {
        // Entries of this very browser would go where they are: nothing to do.
        if (const std::optional<quint64> from = entryDragOrigin(*data))
            welcome = *from != origin;
        else
            welcome = acceptsUrls && data->hasUrls();
    }
    const std::optional<DropTarget> target = welcome ? dropTargetAt(watched, drop->position().toPoint())
                                                     : std::nullopt;
    if (!target) {
        setHighlight({});
        drop->ignore();
        return true;
    }
    drop->setDropAction(Qt::CopyAction);
    drop->accept();
    if (type != QEvent::Drop) {
        setHighlight(target->where, watched);
        return true;
    }
    setHighlight({});
    if (std::optional<EntryDrag> drag = decodeEntryDrag(*data))
        Q_EMIT q->entriesDropped(*drag, target->directory);
    else
        Q_EMIT q->urlsDropped(data->urls(), target->directory);
    return true;
}

std::unique_ptr<QMimeData> ColumnBrowser::Private::dragData(int column) const
{
    if (column < 0 || column >= int(columns.size()))
        return nullptr;
    const Column &c = columns[size_t(column)];
    EntryDrag drag;
    drag.origin = origin;
    drag.directory = q->pathToColumn(column);
    QList<QUrl> urls;
    for (int row : c.selectedRows()) {
        const CellFile &cell = c.model->cellAt(row);
        if (cell.isPlaceholder())
            continue;
        // A cell that opens a column is a directory (locally perhaps a link to one).
        drag.entries.append(File(cell.name(), cell.getFile().size(), cell.isLeaf() ? 0 : 1));
        if (urlOf) {
            const QUrl url = urlOf(joined(drag.directory, cell.name()));
            if (!url.isEmpty())
                urls.append(url);
        }
    }
    if (drag.entries.isEmpty())
        return nullptr;
    return encodeEntryDrag(drag, urls);
}

void ColumnBrowser::Private::startDrag(int column)
{
    std::unique_ptr<QMimeData> data = dragData(column);
    if (!data)
        return;
    auto *drag = new QDrag(q);
    drag->setMimeData(data.release());
    const QPointer<ColumnBrowser> alive(q);
    dragging = true;
    // Copy only: the entries stay where they are, whoever takes them.
    drag->exec(Qt::CopyAction, Qt::CopyAction);
    if (!alive)
        return;
    dragging = false;
    for (const QPointer<QWidget> &frame : closedWhileDragging)
        if (frame)
            frame->deleteLater();
    closedWhileDragging.clear(); // Qt deletes the QDrag itself
}

quint64 ColumnBrowser::dragOrigin() const
{
    return d->origin;
}

void ColumnBrowser::setUrlMaker(std::function<QUrl(const QString &path)> urlOf)
{
    d->urlOf = std::move(urlOf);
}

void ColumnBrowser::setAcceptsUrls(bool accept)
{
    d->acceptsUrls = accept;
}

std::unique_ptr<QMimeData> ColumnBrowser::dragData(int column) const
{
    return d->dragData(column);
}

ColumnBrowser::DropHighlight ColumnBrowser::dropHighlight() const
{
    return d->highlight;
}

QWidget *ColumnBrowser::dropArea(int column) const
{
    if (column < 0 || column >= columnCount())
        return nullptr;
    return d->columns[size_t(column)].list->viewport();
}

} // namespace zodaru
