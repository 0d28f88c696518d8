// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DownloadTableView.h"

#include "ui/AppContext.h"

namespace zodaru {

DownloadTableView::DownloadTableView(AppContext &app, QObject *parent)
    : TransferTableModel("downloadtableview numberofrowsintableview",
                         "download numberOfRowsInTableView : %i", parent),
      app_(app)
{
    resetFromQueue();
}

const QList<File> *DownloadTableView::queue() const
{
    return app_.downloadQueue();
}

bool DownloadTableView::queuePaused() const
{
    return app_.transfersPaused(AppContext::Direction::Download);
}

int DownloadTableView::moveEntries(const QList<int> &rows, int before)
{
    return app_.moveTransfers(AppContext::Direction::Download, rows, before);
}

} // namespace zodaru
