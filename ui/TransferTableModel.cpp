// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TransferTableModel.h"

#include "base/ByteNames.h"
#include "base/Log.h"
#include "model/SizeText.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMimeData>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>

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
    frameTimer_.setSingleShot(true);
    connect(&frameTimer_, &QTimer::timeout, this, &TransferTableModel::flushPending);
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

bool TransferTableModel::refreshTotals()
{
    const qint64 now = clock_();
    lastTotals_ = TransferTotals::of(sum_);
    queueRate_.sample(lastTotals_, now);
    QString text = lastTotals_.text(queueRate_.bytesPerSecond(now), queuePaused());
    if (text == totals_)
        return false;
    totals_ = std::move(text);
    return true;
}

void TransferTableModel::announce(const QList<int> &changedRows, bool totalsChanged)
{
    for (int row : changedRows) {
        const auto at = std::lower_bound(pendingRows_.begin(), pendingRows_.end(), row);
        if (at == pendingRows_.end() || *at != row)
            pendingRows_.insert(at, row);
    }
    pendingTotals_ = pendingTotals_ || totalsChanged;
    if (pendingRows_.isEmpty() && !pendingTotals_)
        return;
    // A queue at rest (nothing running, and nothing left or paused) brings no flood of
    // changes after this one: its state is told at once.
    const bool resting = sum_.running == 0 && (sum_.filesLeft == 0 || queuePaused());
    const qint64 now = clock_();
    if (resting || lastAnnouncedMs_ < 0 || now < lastAnnouncedMs_ || now - lastAnnouncedMs_ >= kFrameMs) {
        flushPending();
        return;
    }
    if (!frameTimer_.isActive())
        frameTimer_.start(int(std::clamp<qint64>(lastAnnouncedMs_ + kFrameMs - now, 1, kFrameMs)));
}

void TransferTableModel::flushPending()
{
    frameTimer_.stop();
    lastAnnouncedMs_ = clock_();
    QList<int> rows = std::exchange(pendingRows_, {});
    rows.removeIf([this](int row) { return row >= rows_.size(); });
    emitRows(rows);
    if (std::exchange(pendingTotals_, false))
        Q_EMIT totalsChanged(totals_);
}

void TransferTableModel::emitRows(const QList<int> &rows)
{
    // Each row alone, so that a running transfer repaints its own row; a long run of rows
    // (the queue cancelled, retried) as one range.
    constexpr qsizetype kLongRun = 8;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows[j + 1] == rows[j] + 1)
            ++j;
        if (j - i + 1 >= kLongRun) {
            Q_EMIT dataChanged(index(rows[i], 0), index(rows[j], columnCount() - 1));
        } else {
            for (qsizetype k = i; k <= j; ++k)
                Q_EMIT dataChanged(index(rows[k], 0), index(rows[k], columnCount() - 1));
        }
        i = j + 1;
    }
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
    bool totalsChanged = false;
    if (QString line = lastTotals_.text(queueRate_.bytesPerSecond(clock_()), queuePaused()); line != totals_) {
        totals_ = std::move(line);
        totalsChanged = true;
    }
    const QVariant text = withRate(runningStatus_);
    QVariant &shown = rows_[runningRow_].values[column];
    if (shown == text) {
        announce({}, totalsChanged);
        return;
    }
    shown = text;
    announce({runningRow_}, totalsChanged);
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
    pendingRows_.clear();
    sum_ = {};
    if (const QList<File> *entries = queue()) {
        for (int row = 0; row < entries->size(); ++row) {
            rows_.append(readRow(*entries, row));
            sum_ += rows_.back().share;
        }
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
        && filesDone == entry.filesDone() && filesFailed == entry.filesFailed() && running == entry.isCurrent()
        && dir == entry.isDir() && name == entry.displayNameView();
}

TransferTableModel::Source TransferTableModel::sourceOf(const File &entry)
{
    return {entry.displayName(), entry.size(),        entry.currentsize(), entry.isFinished(),
            entry.hasError(),    entry.isCancelled(), entry.isSkipped(),   entry.isAsking(),
            entry.isWalking(),   entry.filesFound(),  entry.filesDone(),   entry.filesFailed(),
            entry.isCurrent(),   entry.isDir()};
}

TransferTableModel::Row TransferTableModel::readRow(const QList<File> &entries, int row) const
{
    Row r;
    r.source = sourceOf(entries.at(row));
    r.share = TotalsShare::of(entries.at(row));
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

    if (count < rows_.size()) {
        QList<Row> fresh;
        fresh.reserve(count);
        for (int row = 0; row < count; ++row)
            fresh.append(readRow(*entries, row));
        beginResetModel();
        rows_ = std::move(fresh);
        pendingRows_.clear();
        sum_ = {};
        for (const Row &row : std::as_const(rows_))
            sum_ += row.share;
        endResetModel();
        announce({}, refreshTotals());
        return;
    }
    // Only rows whose entry changed are read again. The running row (and the one that ran
    // before) carries the speed, which changes with time alone: it is always read again.
    const int kept = int(rows_.size());
    QList<int> changed;
    for (int row = 0; row < kept; ++row) {
        if (row != runningRow_ && row != runningBefore && rows_[row].source.shows(entries->at(row)))
            continue;
        Row fresh = readRow(*entries, row);
        sum_ -= rows_[row].share;
        sum_ += fresh.share;
        if (fresh.values != rows_[row].values || fresh.progress != rows_[row].progress)
            changed.append(row);
        rows_[row] = std::move(fresh);
    }
    if (count > kept) {
        beginInsertRows(QModelIndex(), kept, count - 1);
        for (int row = kept; row < count; ++row) {
            rows_.append(readRow(*entries, row));
            sum_ += rows_.back().share;
        }
        endInsertRows();
    }
    announce(changed, refreshTotals());
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
