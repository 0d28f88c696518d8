// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/EntryFacts.h"
#include "ui/CellFile.h"
#include "ui/ColumnOrder.h"
#include "ui/EntryDrag.h"

#include <QList>
#include <QString>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zodaru {

class ColumnBrowser;
class PreviewPanel;

// Supplies a column browser's rows. The browser asks for a column's row count and then
// fills every cell of that column before it counts another column; the column's title is
// asked last. A delegate whose rows come later shows a placeholder cell meanwhile and
// reloads the column when they are there.
class ColumnBrowserDelegate {
public:
    virtual ~ColumnBrowserDelegate() = default;
    virtual int numberOfRowsInColumn(ColumnBrowser &browser, int column) = 0;
    virtual void willDisplayCell(ColumnBrowser &browser, CellFile &cell, int row, int column) = 0;
    virtual QString titleOfColumn(ColumnBrowser &browser, int column) = 0;
    // The rows of the column just filled in name order (nameOrder of the cells' texts), when
    // the delegate has it ready; asked after the title. Empty by default: the browser sorts.
    virtual std::vector<int> rowsByName(ColumnBrowser &browser, int column);
    // What the preview column shows of a cell of `column`. By default what the cell's
    // entry holds; a delegate that can learn more (the local disk) says more.
    virtual EntryFacts factsOf(ColumnBrowser &browser, const CellFile &cell, int column);
    // The facts a cell's own entry gives.
    static EntryFacts factsOfCell(const CellFile &cell);
};

// A row of list columns with titles, each listing one directory; selecting a row that is
// not a leaf opens the next column with its contents, selecting one leaf opens a preview
// of it as the last column. Rows are shown sorted by name, hidden names left out unless
// asked (ListOptions); row numbers in this interface are the rows as shown.
// Keys in a column: Right and Left move between columns, F5 lists the open directory again,
// Backspace or Alt+Up go to the parent, typing the first letters of a name selects it.
// The strip scrolls sideways only when the user opens a column; reloads keep it still.
// Drag and drop: the selected rows of a column drag together (EntryDrag, and URLs for other
// programs); a drop onto a directory row goes into that directory, anywhere else in a
// column into the column's directory. The browser only says what was dropped where (the
// signals below); drops that came from itself are refused.
class ColumnBrowser final : public QWidget {
    Q_OBJECT
public:
    explicit ColumnBrowser(QWidget *parent = nullptr);
    ~ColumnBrowser() override;
    Q_DISABLE_COPY_MOVE(ColumnBrowser)

    void setDelegate(ColumnBrowserDelegate *delegate); // not owned

    // Opens the columns along an absolute path (of names, as pathToColumn gives them),
    // selecting each component. Stops at the
    // first component that no row of its column shows, or at a leaf; false then.
    bool setPath(const QString &path);
    // Index of the rightmost loaded column (the one in view; never beyond the last loaded).
    int lastVisibleColumn() const;
    // "/" followed by the names (CellFile::name) of the selected cells of columns
    // 0..column-1, joined by "/".
    QString pathToColumn(int column) const;
    // The selected cells of the rightmost column that has a selection, in row order. The
    // pointers stay valid until that column is reloaded or closed and control has then
    // returned to the event loop, so a handler may reload while it walks the list.
    QList<CellFile *> selectedCells() const;
    // The column that holds selectedCells(), -1 when nothing is selected. A selected
    // directory opens its listing to the right, so this may be left of the last column.
    int selectedColumn() const;
    // Asks the delegate again for the column's rows and cells; columns right of it close.
    // The rows selected before (by name) are selected again and the column scrolls back to
    // where it was; while the column shows a placeholder row (a listing on its way), that
    // waits for the reload that brings its entries. Column 0 is loaded even when nothing
    // was loaded yet; columns beyond the last loaded one are ignored.
    void reloadColumn(int column);
    // Reads the column again in place (the directory changed on disk): the selection and
    // the scroll position stay, and so do the columns to its right while the directory
    // selected in it is still there.
    void refreshColumn(int column);
    // F5: lists the open directory (the last column) again.
    void reloadOpenDirectory();
    // Backspace: the focus goes to the column left of the focused one (or of the last),
    // whose selected directory becomes the open one.
    void goToParent();

    void setListOptions(const ListOptions &options);
    ListOptions listOptions() const;

    // The browser whose open directory the preview compares with (not owned; may be null).
    void setCounterpart(ColumnBrowser *other);
    // The facts of the entry called `name` in the open directory (the last column).
    std::optional<EntryFacts> factsInOpenDirectory(const QString &name);
    // The preview column; hidden unless one leaf is selected in the last column.
    const PreviewPanel &preview() const;
    bool isPreviewShown() const;
    // The strip's sideways scroll position, in pixels.
    int horizontalScroll() const;
    void setHorizontalScroll(int value);

    // Programmatic selection, as a user's click would do it (tests and keyboard use).
    void selectRow(int column, int row);
    void selectRows(int column, const QList<int> &rows);
    int columnCount() const;
    int rowCount(int column) const;
    CellFile *cellAt(int column, int row);
    QString titleOfColumn(int column) const;

    // --- Drag and drop ---
    // Tells this browser's drags from all others; unique in the process.
    quint64 dragOrigin() const;
    // Makes the URL that other programs get for the entry at an absolute path of this
    // browser; without one, or when it gives an empty URL, drags offer no URLs.
    void setUrlMaker(std::function<QUrl(const QString &path)> urlOf);
    // Whether URLs dropped from other programs (a file manager) are taken; off by default.
    void setAcceptsUrls(bool accept);
    // The drag data of the selected cells of `column` (directories: the cells that are not
    // leaves); null when nothing is selected there.
    std::unique_ptr<QMimeData> dragData(int column) const;
    // Where a drag over the browser would drop now: a column, and a row in it (-1 for the
    // column itself); column -1 when no drag is over it.
    struct DropHighlight {
        int column = -1;
        int row = -1;
        bool operator==(const DropHighlight &) const = default;
    };
    DropHighlight dropHighlight() const;
    // The widget of a column that takes drops (its list's viewport); null past the last.
    QWidget *dropArea(int column) const;

Q_SIGNALS:
    void selectionChanged();
    // A column was loaded, refreshed or closed: the directories shown may differ.
    void columnsChanged();
    // Entries dragged from another browser of this process were dropped into `directory`.
    void entriesDropped(const zodaru::EntryDrag &drag, const QString &directory);
    // URLs from another program were dropped into `directory` (only with setAcceptsUrls).
    void urlsDropped(const QList<QUrl> &urls, const QString &directory);

protected:
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace zodaru
