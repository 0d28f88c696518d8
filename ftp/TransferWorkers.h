// SPDX-License-Identifier: GPL-3.0-or-later
// The threads that move the data of transfers: the process-wide register of running
// workers, and an engine's own transfer thread. Used by the engine's transfer code only.
#pragma once

#include <QtGlobal>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zodaru {

// Every transfer worker of the process, so that quitting can stop them and wait for them
// before the objects they report to are gone. Each worker holds the register too: one that
// is still ending when the process exits never finds it destroyed.
class TransferWorkers final {
public:
    static std::shared_ptr<TransferWorkers> all()
    {
        static const auto workers = std::make_shared<TransferWorkers>();
        return workers;
    }

    // `stop` stops the worker's transfer (its engine closed), when it is still running.
    using Stop = std::function<void()>;

    quint64 add(Stop stop)
    {
        std::lock_guard lock(mutex_);
        const quint64 token = ++last_;
        running_.emplace(token, std::move(stop));
        return token;
    }

    void remove(quint64 token)
    {
        std::lock_guard lock(mutex_);
        running_.erase(token);
        if (running_.empty())
            noneLeft_.notify_all();
    }

    // How to stop each running worker; called without the lock held.
    std::vector<Stop> stops() const
    {
        std::vector<Stop> out;
        std::lock_guard lock(mutex_);
        for (const auto &[token, stop] : running_)
            out.push_back(stop);
        return out;
    }

    bool waitUntilNone(int timeoutMs)
    {
        std::unique_lock lock(mutex_);
        return noneLeft_.wait_for(lock, std::chrono::milliseconds(qMax(0, timeoutMs)),
                                  [this] { return running_.empty(); });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable noneLeft_;
    std::map<quint64, Stop> running_;
    quint64 last_ = 0;
};

// Runs the transfers of an engine used outside an engine worker (from a tool's or a test's
// own thread) one after the other. The thread holds its own share of the queue, so it can
// end after the engine has gone: when the engine's last reference is dropped by a transfer
// on this very thread, the thread is let go instead of joined.
class TransferThread final {
public:
    using Job = std::function<void()>;

    // Throws std::system_error when no thread can be made.
    TransferThread() : queue_(std::make_shared<Queue>()), thread_([queue = queue_] { loop(*queue); }) {}
    ~TransferThread()
    {
        {
            std::lock_guard lock(queue_->mutex);
            queue_->stopping = true;
        }
        queue_->wake.notify_one();
        // Elsewhere the thread is idle or about to be (a job holds the engine), so the join
        // is short.
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
    Q_DISABLE_COPY_MOVE(TransferThread)

    void run(Job job)
    {
        {
            std::lock_guard lock(queue_->mutex);
            queue_->jobs.push_back(std::move(job));
        }
        queue_->wake.notify_one();
    }

private:
    struct Queue {
        std::mutex mutex;
        std::condition_variable wake;
        std::deque<Job> jobs;
        bool stopping = false;
    };

    static void loop(Queue &queue)
    {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(queue.mutex);
                queue.wake.wait(lock, [&] { return queue.stopping || !queue.jobs.empty(); });
                if (queue.jobs.empty())
                    return;
                job = std::move(queue.jobs.front());
                queue.jobs.pop_front();
            }
            job();
        }
    }

    const std::shared_ptr<Queue> queue_;
    std::thread thread_;
};

} // namespace zodaru
