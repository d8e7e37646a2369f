// The thread of one tone: builds the tone's bands, renders one block, suspends itself until
// the mixer releases it, renders the next. Time-critical, named "Osc-<frequency>".
#pragma once

#include "engine/Tone.h"

#include <atomic>
#include <semaphore>
#include <thread>

namespace varko {

class TWaveguideThread {
public:
    enum class TReadyResult { Ready, Ended };

    TWaveguideThread(TTone& tone, bool timeCritical) : Tone(tone), timeCritical_(timeCritical) {}
    // Ends the thread (termination request and release) and joins it.
    ~TWaveguideThread();
    TWaveguideThread(const TWaveguideThread&) = delete;
    TWaveguideThread& operator=(const TWaveguideThread&) = delete;

    // Starts the thread, which builds the tone and renders its first block. Once only.
    void Start();
    // Blocks until the tone is built (Ready) or the thread has ended without it (Ended).
    TReadyResult WaitReady();
    // Wakes the thread for the block the tone has been claimed for (TTone::Claim).
    void Wake() { wakeSignal_.release(); }
    // Requests the end and releases the thread once; it finishes any block it is in.
    void Terminate();
    bool Terminated() const { return terminateRequested_.load(std::memory_order_relaxed); }
    // True once the thread has run its last line.
    bool Finished() const { return finishedFlag_.load(std::memory_order_acquire); }
    // Waits for the thread's end (after Terminate).
    void Join();

    TTone& Tone;

private:
    void Run();

    const bool timeCritical_;
    std::thread worker_;
    // At most one wake is owed at a time (the mixer claims the tone first) plus the end's.
    std::counting_semaphore<2> wakeSignal_{0};
    std::atomic<int32_t> setupState_{0}; // 0 building, 1 ready, 2 ended before ready
    std::atomic<bool> terminateRequested_{false};
    std::atomic<bool> finishedFlag_{false};
};

} // namespace varko
