// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RetiredEngines.h"

#include "app/SessionEngine.h"
#include "ftp/FTP.h"

#include <algorithm>
#include <utility>

namespace zodaru {

struct RetiredEngines::Kept {
    std::unique_ptr<SessionEngine> session;
    bool workerDone = false;
    bool transfers = false;
};

RetiredEngines::RetiredEngines(QObject *parent) : QObject(parent) {}

RetiredEngines::~RetiredEngines()
{
    // The workers' destructors wait for their running job: closed first, it returns at once.
    closeAll();
}

void RetiredEngines::retire(std::unique_ptr<SessionEngine> engine, bool transfers)
{
    if (!engine)
        return;
    auto kept = std::make_unique<Kept>();
    kept->transfers = transfers;
    wereEnding_ = wereEnding_ || transfers;
    Kept *const raw = kept.get();
    // Runs after the jobs still queued, and after the data of a transfer one of them started
    // (EngineWorker::runNext()); its answer comes back after theirs.
    engine->worker.run([] { return true; }, this, [this, raw](bool) {
        raw->workerDone = true;
        release();
    });
    kept->session = std::move(engine);
    kept_.push_back(std::move(kept));
}

void RetiredEngines::closeAll()
{
    for (const auto &kept : kept_) {
        if (kept->session->ftp)
            kept->session->ftp->close();
        if (kept->session->replacement)
            kept->session->replacement->giveUp();
    }
}

bool RetiredEngines::transfersEnding() const
{
    return std::any_of(kept_.begin(), kept_.end(),
                       [](const std::unique_ptr<Kept> &kept) { return kept->transfers && !kept->workerDone; });
}

void RetiredEngines::release()
{
    std::erase_if(kept_, [](const std::unique_ptr<Kept> &kept) {
        if (!kept->workerDone)
            return false;
        if (kept->session->ftp)
            kept->session->ftp->close();
        return true;
    });
    if (wereEnding_ && !transfersEnding()) {
        wereEnding_ = false;
        Q_EMIT transfersEnded();
    }
}

} // namespace zodaru
