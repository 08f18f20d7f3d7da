// SPDX-License-Identifier: MIT
#include "card_worker.h"

#include <algorithm>

namespace kestreld {

CardWorker::CardWorker(int maxWaiting, std::chrono::milliseconds maxWait)
    : maxWaiting_(maxWaiting), maxWait_(maxWait), thread_([this] { loop(); }) {}

CardWorker::~CardWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

CardWorker::Outcome CardWorker::run(const std::function<bool()> &wanted, const std::function<void()> &job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (static_cast<int>(waiting_.size()) >= maxWaiting_) return kQueueFull;
    Job j{&wanted, &job};
    waiting_.push_back(&j);
    changed_.notify_all();
    const auto deadline = std::chrono::steady_clock::now() + maxWait_;
    // The bound is on waiting behind other requests: a job that is next
    // while the worker is free is about to be taken, however late.
    if (!changed_.wait_until(lock, deadline, [&] { return j.state != Job::kWaiting; }) &&
        (busy_ || waiting_.front() != &j)) {
        waiting_.erase(std::find(waiting_.begin(), waiting_.end(), &j));
        changed_.notify_all();
        return kTimedOut;
    }
    // Taken (or about to be) by the worker: it runs to its end.
    changed_.wait(lock, [&] { return j.state == Job::kFinished || j.state == Job::kDropped; });
    return j.state == Job::kFinished ? kDone : kAbandoned;
}

int CardWorker::waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(waiting_.size());
}

void CardWorker::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
        if (waiting_.empty()) return;  // stopping, nothing left
        Job *j = waiting_.front();
        waiting_.pop_front();
        j->state = Job::kRunning;
        busy_ = true;
        changed_.notify_all();
        lock.unlock();
        const bool wanted = (*j->wanted)();
        if (wanted) (*j->job)();
        lock.lock();
        j->state = wanted ? Job::kFinished : Job::kDropped;
        busy_ = false;
        changed_.notify_all();
    }
}

}  // namespace kestreld
