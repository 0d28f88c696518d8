// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "model/File.h"
#include "model/TransferRate.h"

#include <QList>
#include <QString>

class QLabel;

namespace zodaru {

class TransferTableModel;

// One entry's part of its queue's totals. A queue's totals are the sum of its entries'
// parts, so a table keeps them up to date by taking out the old part of a row that changed
// and adding its new one, without walking the whole queue at each progress report.
struct TotalsShare {
    int filesLeft = 0;
    int walking = 0; // folder rows still being listed
    int running = 0; // files under way
    qint64 bytesLeft = 0;
    qint64 bytesMoved = 0;

    static TotalsShare of(const File &entry);
    TotalsShare &operator+=(const TotalsShare &other);
    TotalsShare &operator-=(const TotalsShare &other);
    friend bool operator==(const TotalsShare &, const TotalsShare &) = default;
};

// What is left of a queue, for the line under its table: files waiting or running, the
// bytes they still have to move, and whether a folder walk may still add some.
struct TransferTotals {
    int filesLeft = 0;
    qint64 bytesLeft = 0;
    bool listing = false;
    // Bytes moved by the files in the queue so far; the speed is timed on its growth.
    qint64 bytesMoved = 0;
    bool running = false;

    static TransferTotals of(const QList<File> &entries);
    static TransferTotals of(const TotalsShare &sum);
    // "Paused - 3 files left, 1.2 MiB - 850 KB/s, 0:02 left"; the speed and time only while
    // a transfer runs and its speed is known (`bytesPerSecond` > 0).
    QString text(double bytesPerSecond, bool paused) const;
};

// The queue's speed over the last seconds, fed at each reload of its table with the bytes
// the whole queue has moved, so that a run of small files has a speed too.
class QueueRate final {
public:
    // Takes the totals read at `nowMs`; bytes that went (entries removed or retried) are
    // not counted backwards.
    void sample(const TransferTotals &totals, qint64 nowMs);
    double bytesPerSecond(qint64 nowMs) const { return rate_.bytesPerSecond(nowMs); }

private:
    TransferRate rate_;
    qint64 moved_ = -1;
};

// Shows the totals of `model` in `line`, from now on.
void showTotals(const TransferTableModel &model, QLabel &line);

} // namespace zodaru
