// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "base/JobThread.h"

#include <QObject>

#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

namespace zodaru {

// One thread that runs an engine's blocking calls (connect and login, listings, MKD, DELE,
// the start of a transfer, shutdown) one after the other, in the order they were asked for,
// so that the thread that asks — the window's — never waits on the network.
//
// A result goes back as a queued call on the thread that created the worker (the window's);
// results not yet delivered when the worker is destroyed are dropped with it, so whoever
// owns the worker may capture itself in the result handlers. Each job gets a serial number that is
// never reused, so that the asker can recognise and drop a result that no longer matters
// (the user moved elsewhere meanwhile).
//
// The destructor drops the jobs that have not started and waits for the running one: close
// the engine first (FTP::close() may be called from any thread) so that it returns at once.
class EngineWorker final : public JobThread {
public:
    EngineWorker();
    ~EngineWorker();
    Q_DISABLE_COPY_MOVE(EngineWorker)

    // Queues `job`; once it has run, `done(result)` runs on the thread that created the
    // worker, unless `receiver` is null. `receiver` must live on that thread and outlive the
    // worker. Returns the job's serial number.
    // A job that throws (out of memory, say) is logged and answered all the same: `done`
    // gets `failed` (Result{} unless given), which must tell the caller that the job failed.
    template <typename Job, typename Done, typename Result = std::invoke_result_t<Job &>>
        requires(!std::is_void_v<Result>)
    quint64 run(Job job, QObject *receiver, Done done, Result failed = Result{})
    {
        return enqueue([this, job = std::move(job), receiver, done = std::move(done),
                        failed = std::move(failed)]() mutable {
            std::optional<Result> result;
            try {
                result.emplace(job());
            } catch (...) {
                logJobException(std::current_exception());
            }
            deliver(receiver, [done = std::move(done), result = result ? std::move(*result) : std::move(failed)]() mutable {
                done(std::move(result));
            });
        });
    }

    // Queues a job whose result nobody waits for.
    quint64 post(std::function<void()> job) { return enqueue(std::move(job)); }

    // The worker whose job is running on the calling thread, or null.
    static EngineWorker *current() { return dynamic_cast<EngineWorker *>(JobThread::current()); }
    // From a job of this worker: `job` runs right after it (and after its result is handed
    // back), before anything else queued. Such a job is never dropped, not even by the
    // destructor: it is the second half of what the job started (the data of a transfer),
    // which must end and report itself.
    void runNext(std::function<void()> job) override;

    // Drops the jobs that have not started yet; the running one goes on.
    void dropPending();
    // The serial number of the job most recently queued (0 before the first).
    quint64 lastSerial() const;
    // True while a job runs or waits (one queued by runNext() included).
    bool busy() const;

private:
    // One log line for an exception that left a job.
    static void logJobException(const std::exception_ptr &exception);
    quint64 enqueue(std::function<void()> job);
    void deliver(QObject *receiver, std::function<void()> call);
    // Runs the results delivered to every worker created on the calling thread.
    static void runDeliveredResults();
    void loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::deque<std::function<void()>> next_; // runNext(): first, and kept by dropPending()
    quint64 serial_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    // Results wait here, under the process-wide delivery lock, until the creating thread
    // takes them: the queued call itself carries nothing, so every hand-over goes through
    // a lock that the thread checkers see.
    std::deque<std::function<void()>> results_;
    bool wakeUpPending_ = false;
    std::unique_ptr<QObject> anchor_; // lives on the creating thread; targets the wake-ups
    std::thread thread_;
};

} // namespace zodaru
