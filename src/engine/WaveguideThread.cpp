#include "engine/WaveguideThread.h"

#include "core/RealTime.h"

#include <charconv>

namespace varko {

namespace {

// "Osc-" and the frequency, as debuggers and top show the thread.
void NameOscillatorThread(float Frequency) {
    char name[64] = "Osc-";
    auto [end, ec] = std::to_chars(name + 4, name + sizeof(name) - 1,
                                   static_cast<double>(Frequency), std::chars_format::general, 15);
    *end = '\0';
    NameThisThread(name);
}

} // namespace

TWaveguideThread::~TWaveguideThread() {
    Terminate();
    Join();
}

void TWaveguideThread::Start() {
    if (Worker.joinable() || Terminated()) {
        return;
    }
    Worker = std::thread([this] { Run(); });
}

TWaveguideThread::TReadyResult TWaveguideThread::WaitReady() {
    if (!Worker.joinable()) {
        return TReadyResult::Ended;
    }
    SetupState.wait(0, std::memory_order_acquire);
    return SetupState.load(std::memory_order_acquire) == 1 ? TReadyResult::Ready
                                                           : TReadyResult::Ended;
}

void TWaveguideThread::Terminate() {
    if (TerminateRequested.exchange(true)) {
        return;
    }
    // Unconditional, so that a thread about to wait cannot miss it.
    WakeSignal.release();
}

void TWaveguideThread::Join() {
    if (Worker.joinable()) {
        Worker.join();
    }
}

void TWaveguideThread::Run() {
    try {
        NameOscillatorThread(Tone.Frequency);
        if (TimeCritical) {
            RaiseToRealTimePriority();
        }
        SetFlushDenormals();
        Tone.Build();
        SetupState.store(1, std::memory_order_release);
        SetupState.notify_all();
        while (true) {
            WakeSignal.acquire();
            if (Terminated()) {
                break;
            }
            Tone.RenderClaimed();
        }
        Tone.End();
    } catch (...) {
        Tone.Fail();
    }
    if (SetupState.load(std::memory_order_relaxed) == 0) {
        SetupState.store(2, std::memory_order_release);
        SetupState.notify_all();
    }
    FinishedFlag.store(true, std::memory_order_release);
}

} // namespace varko
