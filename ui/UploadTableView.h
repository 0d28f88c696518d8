// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/TransferTableModel.h"

namespace zodaru {

class AppContext;

// The uploads table: the application's upload queue.
class UploadTableView final : public TransferTableModel {
    Q_OBJECT
public:
    explicit UploadTableView(AppContext &app, QObject *parent = nullptr);
    Q_DISABLE_COPY_MOVE(UploadTableView)

protected:
    const QList<File> *queue() const override;
    bool queuePaused() const override;
    int moveEntries(const QList<int> &rows, int before) override;

private:
    AppContext &app_;
};

} // namespace zodaru
