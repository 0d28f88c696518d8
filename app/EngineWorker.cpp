// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/EngineWorker.h"

#include "base/Log.h"

#include <QMetaObject>
#include <QThread>

#include <exception>
#include <vector>

namespace zodaru {

namespace {

// Every live worker, so that a wake-up can find the results waiting for its thread.
struct Deliveries {
    std::mutex mutex;
    std::vector<EngineWorker *> workers;
};

Deliveries &deliveries()
{
    static Deliveries d;
    return d;
}

} // namespace

EngineWorker::EngineWorker() : anchor_(std::make_unique<QObject>())
{
    {
        auto &d = deliveries();
        std::lock_guard lock(d.mutex);
        d.workers.push_back(this);
    }
    thread_ = std::thread([this] { loop(); });
}

EngineWorker::~EngineWorker()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_all();
    thread_.join();
    auto &d = deliveries();
    std::lock_guard lock(d.mutex);
    std::erase(d.workers, this);
    results_.clear();
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
    if (!receiver)
        return;
    auto &d = deliveries();
    std::lock_guard lock(d.mutex);
    results_.push_back(std::move(call));
    if (!wakeUpPending_) {
        wakeUpPending_ = true;
        // A call without captures: it holds nothing that the creating thread would read
        // before it takes the delivery lock.
        QMetaObject::invokeMethod(anchor_.get(), [] { runDeliveredResults(); }, Qt::QueuedConnection);
    }
}

void EngineWorker::runDeliveredResults()
{
    // One result at a time, taken under the lock: a handler may destroy a worker, whose
    // results still waiting must then never run.
    QThread *const here = QThread::currentThread();
    for (;;) {
        std::function<void()> call;
        {
            auto &d = deliveries();
            std::lock_guard lock(d.mutex);
            for (EngineWorker *worker : d.workers) {
                if (worker->anchor_->thread() != here)
                    continue;
                if (worker->results_.empty()) {
                    worker->wakeUpPending_ = false;
                    continue;
                }
                call = std::move(worker->results_.front());
                worker->results_.pop_front();
                break;
            }
        }
        if (!call)
            return;
        call();
    }
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
    return running_ || !jobs_.empty() || !next_.empty();
}

void EngineWorker::logJobException(const std::exception_ptr &exception)
{
    try {
        std::rethrow_exception(exception);
    } catch (const std::exception &e) {
        zlog("Exception recue dans le travail du moteur ==> %@", e.what());
    } catch (...) {
        zlog("Exception recue dans le travail du moteur ==> exception inconnue");
    }
}

void EngineWorker::runNext(std::function<void()> job)
{
    {
        std::lock_guard lock(mutex_);
        next_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void EngineWorker::loop()
{
    runsOnThisThread();
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(mutex_);
            running_ = false;
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty() || !next_.empty(); });
            auto &from = !next_.empty() ? next_ : jobs_;
            if (stopping_ && &from == &jobs_)
                return;
            job = std::move(from.front());
            from.pop_front();
            running_ = true;
        }
        try {
            job();
        } catch (...) {
            // A job's failure is its own: the engine's next request still runs.
            logJobException(std::current_exception());
        }
    }
}

} // namespace zodaru
