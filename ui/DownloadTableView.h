// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/TransferTableModel.h"

namespace zodaru {

class AppContext;

// The downloads table: the application's download queue.
class DownloadTableView final : public TransferTableModel {
    Q_OBJECT
public:
    explicit DownloadTableView(AppContext &app, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(DownloadTableView)

protected:
    const QList<File> *queue() const override;
    bool queuePaused() const override;
    int moveEntries(const QList<int> &rows, int before) override;

private:
    AppContext &app_;
};

} // namespace zodaru
