// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TransferTotals.h"

#include "model/SizeText.h"
#include "ui/TransferTableModel.h"

#include <QCoreApplication>
#include <QLabel>

#include <algorithm>
#include <cmath>

namespace zodaru {

TotalsShare TotalsShare::of(const File &entry)
{
    TotalsShare share;
    if (entry.isDir()) {
        share.walking = entry.isWalking() ? 1 : 0;
        return share;
    }
    share.bytesMoved = entry.currentsize();
    if (entry.isDone())
        return share;
    share.filesLeft = 1;
    share.bytesLeft = std::max<qint64>(0, entry.size() - entry.currentsize());
    share.running = entry.isCurrent() ? 1 : 0;
    return share;
}

TotalsShare &TotalsShare::operator+=(const TotalsShare &other)
{
    filesLeft += other.filesLeft;
    walking += other.walking;
    running += other.running;
    bytesLeft += other.bytesLeft;
    bytesMoved += other.bytesMoved;
    return *this;
}

TotalsShare &TotalsShare::operator-=(const TotalsShare &other)
{
    filesLeft -= other.filesLeft;
    walking -= other.walking;
    running -= other.running;
    bytesLeft -= other.bytesLeft;
    bytesMoved -= other.bytesMoved;
    return *this;
}

TransferTotals TransferTotals::of(const TotalsShare &sum)
{
    TransferTotals totals;
    totals.filesLeft = sum.filesLeft;
    totals.bytesLeft = sum.bytesLeft;
    totals.listing = sum.walking > 0;
    totals.bytesMoved = sum.bytesMoved;
    totals.running = sum.running > 0;
    return totals;
}

TransferTotals TransferTotals::of(const QList<File> &entries)
{
    TotalsShare sum;
    for (const File &entry : entries)
        sum += TotalsShare::of(entry);
    return of(sum);
}

QString TransferTotals::text(double bytesPerSecond, bool paused) const
{
    QString line;
    if (filesLeft == 0)
        line = QCoreApplication::translate("Browsing", "Nothing left to transfer");
    else
        // Two texts rather than a plural form: the program has no English catalogue to pick one.
        line = (filesLeft == 1 ? QCoreApplication::translate("Browsing", "1 file left")
                               : QCoreApplication::translate("Browsing", "%1 files left").arg(filesLeft))
            + QStringLiteral(", ") + readableSize(bytesLeft);
    if (listing)
        line += QStringLiteral(" ") + QCoreApplication::translate("Browsing", "(more being listed)");
    if (running && bytesPerSecond > 0) {
        line += QStringLiteral(" - ") + TransferRate::speedText(bytesPerSecond);
        if (!listing)
            line += QStringLiteral(", ")
                + QCoreApplication::translate("Browsing", "%1 left")
                      .arg(TransferRate::durationText(qint64(std::ceil(double(bytesLeft) / bytesPerSecond))));
    }
    if (paused)
        line = QCoreApplication::translate("Browsing", "Paused") + QStringLiteral(" - ") + line;
    return line;
}

void QueueRate::sample(const TransferTotals &totals, qint64 nowMs)
{
    if (moved_ >= 0 && totals.bytesMoved > moved_)
        rate_.add(totals.bytesMoved - moved_, nowMs);
    else if (moved_ < 0)
        rate_.add(0, nowMs); // the first sample starts the clock
    moved_ = totals.bytesMoved;
}

void showTotals(const TransferTableModel &model, QLabel &line)
{
    // Painted over its own background: a new text repaints the line alone, not the tab
    // page and tab frame behind it.
    line.setAutoFillBackground(true);
    line.setText(model.totalsText());
    QObject::connect(&model, &TransferTableModel::totalsChanged, &line, &QLabel::setText);
}

} // namespace zodaru
