// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RetiredEngines.h"

#include "app/SessionEngine.h"
#include "ftp/FTP.h"

#include <algorithm>
#include <utility>

namespace zodaru {

struct RetiredEngines::Kept {
    std::unique_ptr<SessionEngine> session;
    std::shared_ptr<FTP> ftp;
    bool workerDone = true;
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
    kept->ftp = engine->ftp;
    kept->workerDone = false;
    kept->transfers = transfers;
    wereEnding_ = wereEnding_ || transfers;
    Kept *const raw = kept.get();
    // Runs after the jobs still queued, if any; its answer comes back after theirs.
    engine->worker.run([] { return true; }, this, [this, raw](bool) {
        raw->workerDone = true;
        release();
    });
    kept->session = std::move(engine);
    kept_.push_back(std::move(kept));
}

void RetiredEngines::retire(std::shared_ptr<FTP> engine)
{
    if (!engine)
        return;
    auto kept = std::make_unique<Kept>();
    kept->ftp = std::move(engine);
    kept_.push_back(std::move(kept));
    release();
}

void RetiredEngines::transferStarted(quint64 engine)
{
    ++running_[engine];
}

void RetiredEngines::transferEnded(quint64 engine)
{
    // The end may come back before the start's answer: the count goes below zero for a while.
    if (--running_[engine] == 0)
        running_.remove(engine);
    release();
}

void RetiredEngines::closeAll()
{
    for (const auto &kept : kept_) {
        if (kept->ftp)
            kept->ftp->close();
        if (kept->session && kept->session->replacement)
            kept->session->replacement->giveUp();
    }
}

bool RetiredEngines::transfersEnding() const
{
    return std::any_of(kept_.begin(), kept_.end(), [this](const std::unique_ptr<Kept> &kept) {
        return (kept->transfers && !kept->workerDone) || (kept->ftp && running_.value(kept->ftp->id()) > 0);
    });
}

void RetiredEngines::release()
{
    std::erase_if(kept_, [this](const std::unique_ptr<Kept> &kept) {
        if (!kept->workerDone || (kept->ftp && running_.value(kept->ftp->id()) > 0))
            return false;
        if (kept->ftp)
            kept->ftp->close();
        return true;
    });
    if (wereEnding_ && !transfersEnding()) {
        wereEnding_ = false;
        Q_EMIT transfersEnded();
    }
}

} // namespace zodaru
