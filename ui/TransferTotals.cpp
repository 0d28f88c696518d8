// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/TransferTotals.h"

#include "model/SizeText.h"
#include "ui/TransferTableModel.h"

#include <QCoreApplication>
#include <QLabel>

#include <cmath>

namespace zodaru {

TransferTotals TransferTotals::of(const QList<File> &entries)
{
    TransferTotals totals;
    for (const File &entry : entries) {
        if (entry.isDir()) {
            totals.listing = totals.listing || entry.isWalking();
            continue;
        }
        totals.bytesMoved += entry.currentsize();
        if (entry.isDone())
            continue;
        ++totals.filesLeft;
        totals.bytesLeft += std::max<qint64>(0, entry.size() - entry.currentsize());
        totals.running = totals.running || entry.isCurrent();
    }
    return totals;
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
    line.setText(model.totalsText());
    QObject::connect(&model, &TransferTableModel::totalsChanged, &line, &QLabel::setText);
}

} // namespace zodaru
