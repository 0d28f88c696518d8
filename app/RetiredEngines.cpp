// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/RetiredEngines.h"

#include "ftp/FTP.h"

#include <utility>

namespace zodaru {

namespace {
// How often busy engines are looked at again; only while some are kept.
constexpr int kPollMs = 50;
} // namespace

RetiredEngines::RetiredEngines(QObject *parent) : QObject(parent)
{
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, &RetiredEngines::prune);
}

RetiredEngines::~RetiredEngines() = default;

void RetiredEngines::retire(std::shared_ptr<FTP> engine)
{
    if (!engine)
        return;
    engines_.push_back(std::move(engine));
    prune();
}

void RetiredEngines::prune()
{
    std::vector<std::shared_ptr<FTP>> released;
    std::erase_if(engines_, [&released](std::shared_ptr<FTP> &engine) {
        // The worker is done with the connections once it no longer counts as transferring.
        if (engine->isTransferring())
            return false;
        engine->close();
        // Someone else (the worker on its way out) still holds it.
        if (engine.use_count() > 1)
            return false;
        released.push_back(std::move(engine));
        return true;
    });
    if (!released.empty()) {
        // Every notification of these engines is queued by now; a queued call runs after
        // them, so their address is free again only once they have been delivered.
        QMetaObject::invokeMethod(
            this, [keep = std::move(released)] { (void)keep; }, Qt::QueuedConnection);
    }
    if (engines_.empty())
        poll_.stop();
    else if (!poll_.isActive())
        poll_.start();
}

} // namespace zodaru
