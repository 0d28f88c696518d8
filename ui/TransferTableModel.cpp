// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TransferTableModel.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "model/SizeText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMimeData>

#include <cmath>
#include <memory>

namespace zodaru {

namespace {

// A File status as the table shows it: the words File marks for translation ("Cancelled",
// "Running...") in the user's language; the fixed ones and percentages, having no
// translation, as they are. The model gives them untranslated so that the log keeps them.
QString shownStatus(const QString &status)
{
    return QCoreApplication::translate("File", status.toLatin1().constData());
}

} // namespace

TransferTableModel::TransferTableModel(const char *countingLine, const char *countLine,
                                       QObject *parent)
    : QAbstractTableModel(parent), countingLine_(countingLine), countLine_(countLine),
      identifiers_(defaultColumnIdentifiers())
{
    auto monotonic = std::make_shared<QElapsedTimer>();
    monotonic->start();
    clock_ = [monotonic] { return monotonic->elapsed(); };
    rateTimer_.setInterval(1000);
    connect(&rateTimer_, &QTimer::timeout, this, &TransferTableModel::refreshRate);
    totals_ = TransferTotals().text(0, false);
}

QString TransferTableModel::folderStatus(const File &folder)
{
    const QString count =
        QCoreApplication::translate("Browsing", "%1 / %2 files").arg(folder.filesDone()).arg(folder.filesFound());
    if (folder.isWalking())
        return count + QStringLiteral(", ") + QCoreApplication::translate("Browsing", "listing...");
    if (folder.hasError())
        return count + QStringLiteral(", ") + QCoreApplication::translate("Browsing", "failed");
    return count;
}

void TransferTableModel::refreshTotals(const QList<File> &entries)
{
    const qint64 now = clock_();
    lastTotals_ = TransferTotals::of(entries);
    queueRate_.sample(lastTotals_, now);
    QString text = lastTotals_.text(queueRate_.bytesPerSecond(now), queuePaused());
    if (text == totals_)
        return;
    totals_ = std::move(text);
    Q_EMIT totalsChanged(totals_);
}

QString TransferTableModel::rateSuffix(double bytesPerSecond, qint64 secondsLeft)
{
    if (bytesPerSecond <= 0)
        return QString();
    const QString speed = TransferRate::speedText(bytesPerSecond);
    if (secondsLeft < 0)
        return QStringLiteral(" - ") + speed;
    return QStringLiteral(" - ")
        + QCoreApplication::translate("Browsing", "%1, %2 left").arg(speed, TransferRate::durationText(secondsLeft));
}

void TransferTableModel::sampleRunning(const QList<File> &entries)
{
    const qint64 now = clock_();
    for (int row = 0; row < entries.size(); ++row) {
        const File &entry = entries.at(row);
        if (!entry.isCurrent() || entry.isDone())
            continue;
        const bool same = row == runningRow_ && entry.getID() == runningId_
                          && entry.name() == runningName_ && entry.currentsize() >= runningBytes_;
        if (!same) {
            rate_.reset();
            runningRow_ = row;
            runningId_ = entry.getID();
            runningName_ = entry.name();
            runningBytes_ = entry.currentsize();
        }
        // The first sample only starts the clock: bytes from before it are not timed.
        rate_.add(entry.currentsize() - runningBytes_, now);
        runningBytes_ = entry.currentsize();
        runningLeft_ = entry.size() > 0 ? std::max<qint64>(0, entry.size() - entry.currentsize()) : -1;
        runningStatus_ = shownStatus(entry.getStatus());
        if (!rateTimer_.isActive())
            rateTimer_.start();
        return;
    }
    runningRow_ = -1;
    rateTimer_.stop();
}

QString TransferTableModel::withRate(const QString &status) const
{
    const qint64 now = clock_();
    const double speed = rate_.bytesPerSecond(now);
    const QString suffix = rateSuffix(speed, runningLeft_ < 0 ? -1 : rate_.secondsLeft(runningLeft_, now));
    return suffix.isEmpty() ? status : status.trimmed() + suffix;
}

void TransferTableModel::refreshRate()
{
    const int column = int(identifiers_.indexOf(QStringLiteral("Status")));
    if (runningRow_ < 0 || runningRow_ >= rows_.size() || column < 0)
        return;
    if (QString line = lastTotals_.text(queueRate_.bytesPerSecond(clock_()), queuePaused()); line != totals_) {
        totals_ = std::move(line);
        Q_EMIT totalsChanged(totals_);
    }
    const QVariant text = withRate(runningStatus_);
    QVariant &shown = rows_[runningRow_].values[column];
    if (shown == text)
        return;
    shown = text;
    Q_EMIT dataChanged(index(runningRow_, column), index(runningRow_, column));
}

TransferTableModel::~TransferTableModel() = default;

QStringList TransferTableModel::defaultColumnIdentifiers()
{
    return {QStringLiteral("Name"), QStringLiteral("Size"), QStringLiteral("Status")};
}

void TransferTableModel::setColumnIdentifiers(const QStringList &identifiers)
{
    beginResetModel();
    identifiers_ = identifiers;
    endResetModel();
    resetFromQueue();
}

void TransferTableModel::resetFromQueue()
{
    beginResetModel();
    rows_.clear();
    if (const QList<File> *entries = queue()) {
        for (int row = 0; row < entries->size(); ++row)
            rows_.append(readRow(*entries, row));
    }
    endResetModel();
}

QString TransferTableModel::columnIdentifier(int column) const
{
    return identifiers_.value(column);
}

qint32 TransferTableModel::numberOfRowsInTableView() const
{
    zlog(countingLine_);
    const QList<File> *entries = queue();
    const qint32 count = entries ? qint32(entries->size()) : 0;
    zlog(countLine_, count);
    return count;
}

QVariant TransferTableModel::tableView(const QString &identifier, int row) const
{
    const QList<File> *entries = queue();
    if (!entries || row < 0 || row >= entries->size())
        return QVariant();
    const File &entry = entries->at(row);
    if (identifier == u"Name")
        return displayedName(entry.displayName());
    if (identifier == u"Size")
        return entry.printsize();
    if (identifier == u"Status")
        return entry.isDir() ? folderStatus(entry) : shownStatus(entry.getStatus());
    return QVariant();
}

bool TransferTableModel::Source::shows(const File &entry) const
{
    return current == entry.currentsize() && size == entry.size() && done == entry.isFinished()
        && error == entry.hasError() && cancelled == entry.isCancelled() && skipped == entry.isSkipped()
        && asking == entry.isAsking() && walking == entry.isWalking() && filesFound == entry.filesFound()
        && filesDone == entry.filesDone() && filesFailed == entry.filesFailed() && name == entry.displayNameView();
}

TransferTableModel::Source TransferTableModel::sourceOf(const File &entry)
{
    return {entry.displayName(), entry.size(),        entry.currentsize(), entry.isFinished(),
            entry.hasError(),    entry.isCancelled(), entry.isSkipped(),   entry.isAsking(),
            entry.isWalking(),   entry.filesFound(),  entry.filesDone(),   entry.filesFailed()};
}

TransferTableModel::Row TransferTableModel::readRow(const QList<File> &entries, int row) const
{
    Row r;
    r.source = sourceOf(entries.at(row));
    for (const QString &identifier : identifiers_) {
        const QVariant value = tableView(identifier, row);
        r.values.append(row == runningRow_ && identifier == u"Status" ? QVariant(withRate(value.toString()))
                                                                       : value);
    }
    const File &entry = entries.at(row);
    const double percent = entry.getAdvance();
    // A size of 0 makes the percentage not a number; such an entry shows no bar.
    if (!entry.hasError() && entry.currentsize() > 0 && std::isfinite(percent))
        r.progress = qBound(0.0, percent / 100.0, 1.0);
    return r;
}

void TransferTableModel::reloadData()
{
    const qint32 count = numberOfRowsInTableView();
    const QList<File> *entries = queue();
    const int runningBefore = runningRow_;
    sampleRunning(entries ? *entries : QList<File>());
    refreshTotals(entries ? *entries : QList<File>());

    if (count < rows_.size()) {
        QList<Row> fresh;
        fresh.reserve(count);
        for (int row = 0; row < count; ++row)
            fresh.append(readRow(*entries, row));
        beginResetModel();
        rows_ = std::move(fresh);
        endResetModel();
        return;
    }
    // Changed rows, in contiguous runs, so that a running transfer repaints one row. The
    // running row (and the one that ran before) carries the speed, which changes with
    // time alone: it is always read again.
    const int kept = int(rows_.size());
    int runStart = -1;
    for (int row = 0; row <= kept; ++row) {
        bool changed = false;
        if (row < kept
            && (row == runningRow_ || row == runningBefore || !rows_[row].source.shows(entries->at(row)))) {
            Row fresh = readRow(*entries, row);
            changed = fresh.values != rows_[row].values || fresh.progress != rows_[row].progress;
            rows_[row] = std::move(fresh);
        }
        if (changed) {
            if (runStart < 0)
                runStart = row;
        } else if (runStart >= 0) {
            Q_EMIT dataChanged(index(runStart, 0), index(row - 1, columnCount() - 1));
            runStart = -1;
        }
    }
    if (count > kept) {
        beginInsertRows(QModelIndex(), kept, count - 1);
        for (int row = kept; row < count; ++row)
            rows_.append(readRow(*entries, row));
        endInsertRows();
    }
}

int TransferTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(rows_.size());
}

int TransferTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(identifiers_.size());
}

QVariant TransferTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size() || index.column() >= identifiers_.size())
        return QVariant();
    const Row &row = rows_.at(index.row());
    const bool sizeColumn = identifiers_.at(index.column()) == u"Size";
    switch (role) {
    case Qt::DisplayRole:
        // Sizes read as people read them; the exact count is in the tooltip.
        if (sizeColumn && row.values.at(index.column()).isValid())
            return readableSize(row.values.at(index.column()).toLongLong());
        return row.values.at(index.column());
    case Qt::ToolTipRole:
        if (sizeColumn && row.values.at(index.column()).isValid())
            return exactSize(row.values.at(index.column()).toLongLong());
        return QVariant();
    case ProgressRole:
        return identifiers_.at(index.column()) == u"Status" ? row.progress : QVariant();
    default:
        return QVariant();
    }
}

QVariant TransferTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= identifiers_.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return identifiers_.at(section);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignCenter));
    return QVariant();
}

Qt::ItemFlags TransferTableModel::flags(const QModelIndex &index) const
{
    // Dropped between rows (an invalid index) or onto a row: placed before it.
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren | Qt::ItemIsDragEnabled
        | Qt::ItemIsDropEnabled;
}

QString TransferTableModel::rowsMimeType()
{
    return QStringLiteral("application/x-zodaru-queue-rows");
}

Qt::DropActions TransferTableModel::supportedDropActions() const
{
    return Qt::MoveAction;
}

Qt::DropActions TransferTableModel::supportedDragActions() const
{
    return Qt::MoveAction;
}

QStringList TransferTableModel::mimeTypes() const
{
    return {rowsMimeType()};
}

// The rows, and the table they come from: rows of the other queue are not taken.
QMimeData *TransferTableModel::mimeData(const QModelIndexList &indexes) const
{
    QList<int> rows;
    for (const QModelIndex &index : indexes)
        if (index.isValid() && !rows.contains(index.row()))
            rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QStringList parts{QString::number(quintptr(this))};
    for (int row : rows)
        parts << QString::number(row);
    auto *data = new QMimeData;
    data->setData(rowsMimeType(), parts.join(QLatin1Char(' ')).toLatin1());
    return data;
}

bool TransferTableModel::dropMimeData(const QMimeData *data, Qt::DropAction action, int row, int column,
                                      const QModelIndex &parent)
{
    Q_UNUSED(column);
    if (!data || action != Qt::MoveAction || !data->hasFormat(rowsMimeType()))
        return false;
    const QList<QByteArray> parts = data->data(rowsMimeType()).split(' ');
    if (parts.size() < 2 || parts.first() != QByteArray::number(quintptr(this)))
        return false;
    QList<int> rows;
    for (qsizetype i = 1; i < parts.size(); ++i) {
        bool ok = false;
        const int r = parts[i].toInt(&ok);
        if (!ok || r < 0 || r >= rowCount())
            return false;
        rows.append(r);
    }
    const int before = row >= 0 ? row : parent.isValid() ? parent.row() : rowCount();
    moveEntries(rows, before);
    return true;
}

} // namespace zodaru
