// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/UploadTableView.h"

#include "ui/AppContext.h"

namespace zodaru {

UploadTableView::UploadTableView(AppContext &app, QObject *parent)
    : TransferTableModel("uploadtableview numberofrowsintableview",
                         "upload numberOfRowsInTableView : %i", parent),
      app_(app)
{
    resetFromQueue();
}

const QList<File> *UploadTableView::queue() const
{
    return app_.uploadQueue();
}

bool UploadTableView::queuePaused() const
{
    return app_.transfersPaused(AppContext::Direction::Upload);
}

int UploadTableView::moveEntries(const QList<int> &rows, int before)
{
    return app_.moveTransfers(AppContext::Direction::Upload, rows, before);
}

} // namespace zodaru
