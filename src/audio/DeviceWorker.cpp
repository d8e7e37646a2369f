#include "audio/DeviceWorker.h"

#include "core/RealTime.h"

namespace varko {

namespace {
// Long enough for a healthy server to close a stream, short enough for a window that closes.
constexpr auto FinishLimit = std::chrono::seconds(2);
} // namespace

TDeviceWorker::TDeviceWorker() : thread_([state = state_] { Loop(state); }) {}

TDeviceWorker::~TDeviceWorker() {
    if (!thread_.joinable()) {
        return;
    }
    bool finished = false;
    {
        std::unique_lock lock(state_->Mutex);
        state_->Quit = true;
        state_->Wake.notify_all();
        finished = state_->Ended.wait_for(lock, FinishLimit, [this] { return state_->Finished; });
    }
    if (finished) {
        thread_.join();
    } else {
        thread_.detach();
    }
}

void TDeviceWorker::Post(std::function<void()> job) {
    std::lock_guard lock(state_->Mutex);
    state_->Jobs.push_back(std::move(job));
    state_->Wake.notify_all();
}

void TDeviceWorker::Abandon() {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(state_->Mutex);
        state_->Quit = true;
        state_->Wake.notify_all();
    }
    thread_.detach();
}

bool TDeviceWorker::Idle() {
    std::lock_guard lock(state_->Mutex);
    return state_->Jobs.empty() && !state_->Running;
}

void TDeviceWorker::Loop(std::shared_ptr<TState> state) {
    NameThisThread("VarkoDevice");
    std::unique_lock lock(state->Mutex);
    for (;;) {
        state->Wake.wait(lock, [&] { return state->Quit || !state->Jobs.empty(); });
        if (state->Jobs.empty()) {
            break;
        }
        std::function<void()> job = std::move(state->Jobs.front());
        state->Jobs.pop_front();
        state->Running = true;
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A device call that throws has failed; the job's owner sees no result.
        }
        job = nullptr; // what the job held goes here, not under the lock
        lock.lock();
        state->Running = false;
    }
    state->Finished = true;
    state->Ended.notify_all();
}

} // namespace varko
