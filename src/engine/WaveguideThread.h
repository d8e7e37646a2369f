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

    TWaveguideThread(TTone& ATone, bool ATimeCritical) : Tone(ATone), TimeCritical(ATimeCritical) {}
    // Ends the thread (termination request and release) and joins it.
    ~TWaveguideThread();
    TWaveguideThread(const TWaveguideThread&) = delete;
    TWaveguideThread& operator=(const TWaveguideThread&) = delete;

    // Starts the thread, which builds the tone and renders its first block. Once only.
    void Start();
    // Blocks until the tone is built (Ready) or the thread has ended without it (Ended).
    TReadyResult WaitReady();
    // Wakes the thread for the block the tone has been claimed for (TTone::Claim).
    void Wake() { WakeSignal.release(); }
    // Requests the end and releases the thread once; it finishes any block it is in.
    void Terminate();
    bool Terminated() const { return TerminateRequested.load(std::memory_order_relaxed); }
    // True once the thread has run its last line.
    bool Finished() const { return FinishedFlag.load(std::memory_order_acquire); }
    // Waits for the thread's end (after Terminate).
    void Join();

    TTone& Tone;

private:
    void Run();

    const bool TimeCritical;
    std::thread Worker;
    // At most one wake is owed at a time (the mixer claims the tone first) plus the end's.
    std::counting_semaphore<2> WakeSignal{0};
    std::atomic<int32_t> SetupState{0}; // 0 building, 1 ready, 2 ended before ready
    std::atomic<bool> TerminateRequested{false};
    std::atomic<bool> FinishedFlag{false};
};

} // namespace varko
