/* SPDX-License-Identifier: MIT */
// One card operation at a time: the library is single-threaded, so every
// call into it runs on one long-lived thread, the card worker, in arrival
// order.  A request waits a bounded time for its turn, and only so many
// may wait; past either bound the caller is told the reader is busy.  An
// operation that has started always runs to its end.
//
// (One thread for all calls also spares each call the first-use costs
// that a fresh thread pays in the layers below the library.)
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace kestreld {

class CardWorker {
public:
    CardWorker(int maxWaiting, std::chrono::milliseconds maxWait);
    // Finishes the operation in progress, then stops.  No one may be
    // waiting in run() any more.
    ~CardWorker();
    CardWorker(const CardWorker &) = delete;
    CardWorker &operator=(const CardWorker &) = delete;

    enum Outcome {
        kDone,       // the job ran
        kQueueFull,  // maxWaiting requests were waiting already
        kTimedOut,   // its turn did not come within maxWait
        kAbandoned,  // its turn came, but `wanted` said no: it did not run
    };

    // Runs `job` on the card worker when its turn comes, after asking
    // `wanted` (also on the worker) whether it is still wanted; returns
    // when the job has ended or will not run.
    Outcome run(const std::function<bool()> &wanted, const std::function<void()> &job);

    // Requests waiting for their turn now (not the one running).
    int waiting();

private:
    struct Job {
        const std::function<bool()> *wanted;
        const std::function<void()> *job;
        enum State { kWaiting, kRunning, kFinished, kDropped } state = kWaiting;
    };

    void loop();

    const int maxWaiting_;
    const std::chrono::milliseconds maxWait_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job *> waiting_;
    bool busy_ = false;  // the worker is running a job
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace kestreld
