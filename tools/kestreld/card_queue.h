// One card operation at a time: the library is single-threaded.  Requests
// wait their turn in arrival order, for a bounded time, and only so many
// may wait; past either bound the caller is told the reader is busy.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace kestreld {

class CardQueue {
public:
    CardQueue(int maxWaiting, std::chrono::milliseconds maxWait)
        : maxWaiting_(maxWaiting), maxWait_(maxWait) {}

    enum Admission { kGranted, kQueueFull, kTimedOut };

    // Waits for the reader; on kGranted the caller owns it until release().
    Admission acquire();
    void release();

    // Requests waiting now (not counting the one that owns the reader).
    int waiting();

    // Owns the reader for a scope.
    class Turn {
    public:
        explicit Turn(CardQueue &q) : q_(q), admission_(q.acquire()) {}
        ~Turn() {
            if (admission_ == kGranted) q_.release();
        }
        Turn(const Turn &) = delete;
        Turn &operator=(const Turn &) = delete;
        Admission admission() const { return admission_; }

    private:
        CardQueue &q_;
        Admission admission_;
    };

private:
    const int maxWaiting_;
    const std::chrono::milliseconds maxWait_;
    std::mutex mutex_;
    std::condition_variable turn_;
    bool busy_ = false;
    std::uint64_t nextTicket_ = 0;
    std::deque<std::uint64_t> waiting_;  // tickets in arrival order
};

}  // namespace kestreld
