// Runs the calls that can block on a sound server (probing devices, opening, starting, stopping
// and closing a stream) one at a time on a thread of its own, so that whoever asks waits a
// bounded time however long the server takes to answer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace varko {

class TDeviceWorker {
public:
    TDeviceWorker();
    // Lets the queued jobs finish, waiting at most about two seconds for them; a thread still
    // busy then goes on alone and ends after its last job.
    ~TDeviceWorker();
    TDeviceWorker(const TDeviceWorker&) = delete;
    TDeviceWorker& operator=(const TDeviceWorker&) = delete;

    // Queues job after the others and returns at once. A job may outlive whoever queued it, so
    // it must own what it uses (capture by value, shared pointers).
    void Post(std::function<void()> job);

    // Runs job and returns its result; nothing when it threw, or when it did not finish within
    // limit (it then still runs later: Idle tells, and a stuck worker is abandoned).
    template <typename R>
    std::optional<R> Call(std::function<R()> job, std::chrono::milliseconds limit) {
        auto box = std::make_shared<TBox<R>>();
        Post([box, job = std::move(job)] {
            std::optional<R> value;
            try {
                value = job();
            } catch (...) {
            }
            std::lock_guard lock(box->Mutex);
            box->Value = std::move(value);
            box->Finished = true;
            box->Done.notify_all();
        });
        std::unique_lock lock(box->Mutex);
        box->Done.wait_for(lock, limit, [&] { return box->Finished; });
        return std::move(box->Value);
    }

    // Gives the thread up: it runs what is queued (later jobs included) and then ends on its
    // own, whenever the server lets the job it is in return. Nothing waits for it.
    void Abandon();

    // Nothing queued and nothing running.
    bool Idle();

private:
    template <typename R> struct TBox {
        std::mutex Mutex;
        std::condition_variable Done;
        std::optional<R> Value;
        bool Finished = false;
    };
    struct TState {
        std::mutex Mutex;
        std::condition_variable Wake;
        std::condition_variable Ended;
        std::deque<std::function<void()>> Jobs;
        bool Running = false;
        bool Quit = false;
        bool Finished = false;
    };
    static void Loop(std::shared_ptr<TState> state);

    std::shared_ptr<TState> state_ = std::make_shared<TState>();
    std::thread thread_;
};

} // namespace varko
