#include "card_queue.h"

#include <algorithm>

namespace kestreld {

CardQueue::Admission CardQueue::acquire() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!busy_ && waiting_.empty()) {
        busy_ = true;
        return kGranted;
    }
    if (static_cast<int>(waiting_.size()) >= maxWaiting_) return kQueueFull;
    const std::uint64_t ticket = nextTicket_++;
    waiting_.push_back(ticket);
    const auto deadline = std::chrono::steady_clock::now() + maxWait_;
    if (turn_.wait_until(lock, deadline, [&] { return !busy_ && waiting_.front() == ticket; })) {
        waiting_.pop_front();
        busy_ = true;
        return kGranted;
    }
    waiting_.erase(std::find(waiting_.begin(), waiting_.end(), ticket));
    // The one behind may now be at the front.
    turn_.notify_all();
    return kTimedOut;
}

void CardQueue::release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        busy_ = false;
    }
    turn_.notify_all();
}

int CardQueue::waiting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(waiting_.size());
}

}  // namespace kestreld
