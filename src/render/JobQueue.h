// Jobs that the driver and the engine hand to the owner's thread (resets, a lost device): a
// loop of the owner's runs them between its own events.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace varko {

class TJobQueue {
public:
    void Post(std::function<void()> job) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.push_back(std::move(job));
        }
        wake_.notify_one();
    }
    // Waits until `until` or a posted job, then runs every job that is queued.
    void RunUntil(std::chrono::steady_clock::time_point until) {
        std::deque<std::function<void()>> ready;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_until(lock, until, [this] { return !jobs_.empty(); });
            ready.swap(jobs_);
        }
        for (auto& job : ready) {
            job();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
};

} // namespace varko
