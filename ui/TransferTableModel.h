// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"
#include "model/TransferRate.h"
#include "ui/TransferTotals.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QVariant>

#include <functional>

namespace zodaru {

class AppContext;

// One transfer queue as a table: a row per entry, in queue order, showing its name, size
// and status. The queue is read only on reloadData(); between reloads the table shows what
// it read then, so a queue replaced by the application never leaves the view reading rows
// that are gone. The status of the running entry also tells its speed over the last
// seconds and the time left, sampled at each reload. Folder rows read as the count of
// their files. Rows can be dragged to another place of the same table.
// A reload comes with every credited chunk: the rows and the totals are read at once, but
// the views hear of changed rows and of a new totals line at most once a frame (kFrameMs of
// the model's clock); what changes within a frame is told together at its end. Rows
// inserted and a reset are told at once, and so is everything once the queue rests
// (nothing running, and nothing left or paused). Main thread only.
class TransferTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Fraction of the transfer done, 0 to 1, for the status column; absent while the entry
    // has not started or when it failed.
    static constexpr int ProgressRole = Qt::UserRole + 1;

    ~TransferTableModel() override;
    Q_DISABLE_COPY_MOVE(TransferTableModel)

    // The identifiers of the columns, in order; they are also the header titles.
    static QStringList defaultColumnIdentifiers();
    // Columns whose identifier is not one of the defaults show empty cells.
    void setColumnIdentifiers(const QStringList &identifiers);
    QString columnIdentifier(int column) const;

    // The number of entries in the queue now; 0 before the queue exists. Logs it.
    qint32 numberOfRowsInTableView() const;
    // The value for the entry at `row` in the column `identifier`, read from the queue now;
    // none when there is no queue, no such row or no such identifier.
    QVariant tableView(const QString &identifier, int row) const;

    // Reads the queue again and tells the views only what changed: rows appended, rows
    // whose texts changed; a queue that shrank was replaced, and resets the table.
    void reloadData();

    static constexpr int kFrameMs = 16;

    // Milliseconds of a monotonic clock; tests give their own.
    using Clock = std::function<qint64()>;
    void setClock(Clock clock) { clock_ = std::move(clock); }
    // " - 1.2 MB/s, 0:42 left" after a status; empty while the speed is not known.
    static QString rateSuffix(double bytesPerSecond, qint64 secondsLeft);
    // A folder row's status: "12 / 40 files", while listed ", listing...", once failed
    // ", failed".
    static QString folderStatus(const File &folder);

    // The line under the table: what is left of the queue, its speed, paused or not; as
    // of the last reload.
    QString totalsText() const { return totals_; }

    // Dragging rows within the table moves their entries.
    static QString rowsMimeType();
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;
    bool dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                      const QModelIndex &parent) override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

Q_SIGNALS:
    void totalsChanged(const QString &text);

protected:
    TransferTableModel(const char *countingLine, const char *countLine, QObject *parent);
    virtual const QList<File> *queue() const = 0;
    virtual bool queuePaused() const = 0;
    // Moves the entries at `rows` before the one at `before`; where the first now is.
    virtual int moveEntries(const QList<int> &rows, int before) = 0;
    // Takes the queue as it is, without logging; for the derived constructors.
    void resetFromQueue();

private:
    // What of an entry its row shows: a row whose source is unchanged since the last
    // reload is not read again, so a reload costs the rows that changed, not the queue's
    // length (a queue of thousands of small files reloads after each of them).
    struct Source {
        QString name;
        qint64 size = 0;
        qint64 current = 0;
        bool done = false;
        bool error = false;
        bool cancelled = false;
        bool skipped = false;
        bool asking = false;
        bool walking = false;
        int filesFound = 0;
        int filesDone = 0;
        int filesFailed = 0;
        bool running = false;
        bool dir = false;
        // Compared field by field, without copying the name: a reload compares every row.
        bool shows(const File &entry) const;
    };
    static Source sourceOf(const File &entry);
    struct Row {
        QList<QVariant> values; // one per column
        QVariant progress;
        Source source;
        TotalsShare share;
    };
    Row readRow(const QList<File> &entries, int row) const;
    // Feeds the rate with the running entry's new bytes; a new running entry starts afresh.
    void sampleRunning(const QList<File> &entries);
    QString withRate(const QString &status) const;
    // Between reloads (a stalled transfer) the speed still falls as time passes.
    void refreshRate();
    // Makes the totals line again from the rows' shares; true when it changed.
    bool refreshTotals();
    // Tells the views of changed rows (in row order) and of a new totals line: now, or at
    // the end of the frame when they heard of something less than a frame ago.
    void announce(const QList<int> &changedRows, bool totalsChanged);
    // Tells what waited for the end of the frame.
    void flushPending();
    void emitRows(const QList<int> &rows);

    const char *countingLine_;
    const char *countLine_;
    QStringList identifiers_;
    QList<Row> rows_;

    Clock clock_;
    TransferRate rate_;
    int runningRow_ = -1;
    qint64 runningId_ = 0;
    QString runningName_;
    qint64 runningBytes_ = 0;
    qint64 runningLeft_ = -1; // bytes; -1 when the size is not known
    QString runningStatus_;
    QTimer rateTimer_;
    QueueRate queueRate_;
    TransferTotals lastTotals_;
    TotalsShare sum_; // of the rows' shares
    QString totals_;

    QTimer frameTimer_;
    qint64 lastAnnouncedMs_ = -1; // none yet
    QList<int> pendingRows_;
    bool pendingTotals_ = false;
};

} // namespace zodaru
