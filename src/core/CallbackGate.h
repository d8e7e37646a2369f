// The door between a device's callback thread and what the callback reaches. Some back ends
// return from their stop while a callback is still running, and may call once more after it;
// the gate makes "stopped" mean that no callback is inside and none will get in.
#pragma once

#include <atomic>

namespace varko {

class TCallbackGate {
public:
    // Callback thread, lock-free: true when the callback may go on; it must then call Leave.
    // False when the gate is shut: the callback must touch nothing behind it.
    bool Enter() {
        inside_.fetch_add(1, std::memory_order_seq_cst);
        if (!isOpen_.load(std::memory_order_seq_cst)) {
            Leave();
            return false;
        }
        return true;
    }
    void Leave() {
        // Only a waiting Shut needs the wake-up; an open gate costs no system call.
        if (inside_.fetch_sub(1, std::memory_order_seq_cst) == 1 &&
            !isOpen_.load(std::memory_order_seq_cst)) {
            inside_.notify_all();
        }
    }

    // Whatever the callback reads behind the gate is set before Open.
    void Open() { isOpen_.store(true, std::memory_order_seq_cst); }
    // Returns once no callback is inside; from then on none gets in until the next Open.
    // Waits at most as long as one callback takes to finish.
    void Shut() {
        isOpen_.store(false, std::memory_order_seq_cst);
        for (int n = inside_.load(std::memory_order_seq_cst); n != 0;
             n = inside_.load(std::memory_order_seq_cst)) {
            inside_.wait(n, std::memory_order_seq_cst);
        }
    }
    bool Opened() const { return isOpen_.load(std::memory_order_relaxed); }

private:
    std::atomic<int> inside_{0};
    std::atomic<bool> isOpen_{false};
};

} // namespace varko
