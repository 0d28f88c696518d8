// SPDX-License-Identifier: GPL-3.0-or-later
// The transfers' side of the saved queue: what it is given to write, the last write at
// quit, and the offer of what an earlier run left at a connect.
#include "app/SavedQueue.h"
#include "app/TransferQueue.h"
#include "app/Transfers.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"

namespace zodaru {

void Transfers::createSavedQueue()
{
    // The queues as they are, and the sites set aside; what is kept of them is picked later.
    savedQueue_ = std::make_unique<SavedQueue>(SavedQueue::defaultPath(), [this] {
        QList<SavedSite> sites{SavedSite::fromKey(queueSite_, downloads_->entries(), uploads_->entries())};
        for (auto site = held_.cbegin(); site != held_.cend(); ++site)
            sites << SavedSite::fromKey(site.key(), site->downloads, site->uploads);
        return sites;
    });
}

void Transfers::saveQueues()
{
    if (savedQueue_)
        savedQueue_->writeFinal();
}

// What an earlier run left for `site` is offered back when the queues hold nothing of it.
void Transfers::offerSavedQueue(const QString &site)
{
    if (downloads_->unfinished() + uploads_->unfinished() > 0)
        return;
    savedQueue_->offer(site, window() ? window()->window() : nullptr, [this, site](const SavedSite &saved) {
        if (site != queueSite_)
            return false;
        SavedQueue::appendTo(*downloads_, saved.downloads, false);
        SavedQueue::appendTo(*uploads_, saved.uploads, true);
        window()->refreshDownloadTable();
        window()->refreshUploadTable();
        downloadFiles();
        uploadFiles();
        return true;
    });
}

} // namespace zodaru
