// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace zodaru {

class AppContext;

// One transfer queue as a table: a row per entry, in queue order, showing its name, size
// and status. The queue is read only on reloadData(); between reloads the table shows what
// it read then, so a queue replaced by the application never leaves the view reading rows
// that are gone.
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

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

protected:
    TransferTableModel(const char *countingLine, const char *countLine, QObject *parent);
    virtual const QList<File> *queue() const = 0;
    // Takes the queue as it is, without logging; for the derived constructors.
    void resetFromQueue();

private:
    struct Row {
        QList<QVariant> values; // one per column
        QVariant progress;
        bool operator==(const Row &) const = default;
    };
    Row readRow(const QList<File> &entries, int row) const;

    const char *countingLine_;
    const char *countLine_;
    QStringList identifiers_;
    QList<Row> rows_;
};

} // namespace zodaru
