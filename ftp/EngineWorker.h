// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <type_traits>
#include <utility>

namespace zodaru {

// One thread that runs an engine's blocking calls (connect and login, listings, MKD, DELE,
// the start of a transfer, shutdown) one after the other, in the order they were asked for,
// so that the thread that asks — the window's — never waits on the network.
//
// A result goes back as a queued call on the thread of the `receiver` given with the job.
// The receiver must outlive the worker (own the worker in it): results are posted only
// while the worker's thread runs, and results still queued when the receiver is deleted are
// dropped with it. Each job gets a serial number that is
// never reused, so that the asker can recognise and drop a result that no longer matters
// (the user moved elsewhere meanwhile).
//
// The destructor drops the jobs that have not started and waits for the running one: close
// the engine first (FTP::close() may be called from any thread) so that it returns at once.
class EngineWorker final {
public:
    EngineWorker();
    ~EngineWorker();
    Q_DISABLE_COPY_MOVE(EngineWorker)

    // Queues `job`; once it has run, `done(result)` runs on the receiver's thread. Returns
    // the job's serial number.
    template <typename Job, typename Done>
    quint64 run(Job job, QObject *receiver, Done done)
    {
        using Result = std::invoke_result_t<Job &>;
        return enqueue([job = std::move(job), receiver, done = std::move(done)]() mutable {
            if constexpr (std::is_void_v<Result>) {
                job();
                deliver(receiver, [done = std::move(done)]() mutable { done(); });
            } else {
                Result result = job();
                deliver(receiver, [done = std::move(done), result = std::move(result)]() mutable {
                    done(std::move(result));
                });
            }
        });
    }

    // Queues a job whose result nobody waits for.
    quint64 post(std::function<void()> job) { return enqueue(std::move(job)); }

    // Drops the jobs that have not started yet; the running one goes on.
    void dropPending();
    // The serial number of the job most recently queued (0 before the first).
    quint64 lastSerial() const;
    // True while a job runs or waits.
    bool busy() const;

private:
    quint64 enqueue(std::function<void()> job);
    static void deliver(QObject *receiver, std::function<void()> call);
    void loop();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    quint64 serial_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace zodaru
