#include "engine/WaveguideThread.h"

#include "core/RealTime.h"

#include <charconv>

namespace varko {

namespace {

// "Osc-" and the frequency, as debuggers and top show the thread.
void NameOscillatorThread(float frequency) {
    char name[64] = "Osc-";
    auto [end, ec] = std::to_chars(name + 4, name + sizeof(name) - 1,
                                   static_cast<double>(frequency), std::chars_format::general, 15);
    *end = '\0';
    NameThisThread(name);
}

} // namespace

TWaveguideThread::~TWaveguideThread() {
    Terminate();
    Join();
}

void TWaveguideThread::Start() {
    if (worker_.joinable() || Terminated()) {
        return;
    }
    worker_ = std::thread([this] { Run(); });
}

TWaveguideThread::TReadyResult TWaveguideThread::WaitReady() {
    if (!worker_.joinable()) {
        return TReadyResult::Ended;
    }
    setupState_.wait(0, std::memory_order_acquire);
    return setupState_.load(std::memory_order_acquire) == 1 ? TReadyResult::Ready
                                                            : TReadyResult::Ended;
}

void TWaveguideThread::Terminate() {
    if (terminateRequested_.exchange(true)) {
        return;
    }
    // Unconditional, so that a thread about to wait cannot miss it.
    wakeSignal_.release();
}

void TWaveguideThread::Join() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void TWaveguideThread::Run() {
    try {
        NameOscillatorThread(Tone.Frequency);
        if (timeCritical_) {
            RaiseToRealTimePriority();
        }
        SetFlushDenormals();
        Tone.Build();
        setupState_.store(1, std::memory_order_release);
        setupState_.notify_all();
        while (true) {
            wakeSignal_.acquire();
            if (Terminated()) {
                break;
            }
            Tone.RenderClaimed();
        }
        Tone.End();
    } catch (...) {
        Tone.Fail();
    }
    if (setupState_.load(std::memory_order_relaxed) == 0) {
        setupState_.store(2, std::memory_order_release);
        setupState_.notify_all();
    }
    finishedFlag_.store(true, std::memory_order_release);
}

} // namespace varko
