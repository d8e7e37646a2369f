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
        Inside.fetch_add(1, std::memory_order_seq_cst);
        if (!IsOpen.load(std::memory_order_seq_cst)) {
            Leave();
            return false;
        }
        return true;
    }
    void Leave() {
        // Only a waiting Shut needs the wake-up; an open gate costs no system call.
        if (Inside.fetch_sub(1, std::memory_order_seq_cst) == 1 &&
            !IsOpen.load(std::memory_order_seq_cst)) {
            Inside.notify_all();
        }
    }

    // Whatever the callback reads behind the gate is set before Open.
    void Open() { IsOpen.store(true, std::memory_order_seq_cst); }
    // Returns once no callback is inside; from then on none gets in until the next Open.
    // Waits at most as long as one callback takes to finish.
    void Shut() {
        IsOpen.store(false, std::memory_order_seq_cst);
        for (int n = Inside.load(std::memory_order_seq_cst); n != 0;
             n = Inside.load(std::memory_order_seq_cst)) {
            Inside.wait(n, std::memory_order_seq_cst);
        }
    }
    bool Opened() const { return IsOpen.load(std::memory_order_relaxed); }

private:
    std::atomic<int> Inside{0};
    std::atomic<bool> IsOpen{false};
};

} // namespace varko
