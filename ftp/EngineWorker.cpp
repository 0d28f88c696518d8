// SPDX-License-Identifier: GPL-3.0-or-later
#include "ftp/EngineWorker.h"

#include "ftp/Log.h"

#include <QMetaObject>

#include <exception>

namespace zodaru {

EngineWorker::EngineWorker() : thread_([this] { loop(); }) {}

EngineWorker::~EngineWorker()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    thread_.join();
}

quint64 EngineWorker::enqueue(std::function<void()> job)
{
    quint64 serial = 0;
    {
        std::lock_guard lock(mutex_);
        serial = ++serial_;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
    return serial;
}

void EngineWorker::deliver(QObject *receiver, std::function<void()> call)
{
    if (receiver)
        QMetaObject::invokeMethod(receiver, std::move(call), Qt::QueuedConnection);
}

void EngineWorker::dropPending()
{
    std::lock_guard lock(mutex_);
    jobs_.clear();
}

quint64 EngineWorker::lastSerial() const
{
    std::lock_guard lock(mutex_);
    return serial_;
}

bool EngineWorker::busy() const
{
    std::lock_guard lock(mutex_);
    return running_ || !jobs_.empty();
}

void EngineWorker::loop()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            running_ = false;
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            running_ = true;
        }
        try {
            job();
        } catch (const std::exception &e) {
            // A job's failure is its own: the engine's next request still runs.
            zlog("Exception recue dans le travail du moteur ==> %@", e.what());
        }
    }
}

} // namespace zodaru
