// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

namespace zodaru {

// A thread that runs blocking calls as jobs, one after the other (the application's engine
// worker). The engine asks the one it runs on, from inside a job, to take the data of a
// transfer right after that job, so that no other thread has to be woken for it.
class JobThread {
public:
    // The job thread whose job runs on the calling thread, or null.
    static JobThread *current() { return current_; }
    // From a job of this thread: `job` runs right after it, before anything else queued,
    // and is never dropped (it is the second half of what the job started).
    virtual void runNext(std::function<void()> job) = 0;

protected:
    JobThread() = default;
    ~JobThread() = default;
    // Called on the thread that runs this one's jobs, before the first.
    void runsOnThisThread() { current_ = this; }

private:
    static inline thread_local JobThread *current_ = nullptr;
};

} // namespace zodaru
