#include "engine/WaveguideThread.h"

#include "core/Exceptions.h"
#include "core/RealTime.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cmath>

namespace varko {

namespace {

constexpr int32_t MaxBlockSize = 65536;

// "Osc-" and the frequency, as debuggers and top show the thread.
void NameOscillatorThread(float Frequency) {
    char name[64] = "Osc-";
    auto [end, ec] = std::to_chars(name + 4, name + sizeof(name) - 1,
                                   static_cast<double>(Frequency), std::chars_format::general, 15);
    *end = '\0';
    NameThisThread(name);
}

// Whether every sample is a number of at most RunawayLevel in magnitude (NaN fails the test).
bool WithinRange(const float* block, int32_t n) {
    bool ok = true;
    for (int32_t i = 0; i < n; ++i) {
        ok &= std::fabs(block[i]) <= TWaveguideThread::RunawayLevel;
    }
    return ok;
}

} // namespace

TWaveguideThread::TWaveguideThread() = default;

TWaveguideThread::~TWaveguideThread() {
    Terminate();
    Join();
}

void TWaveguideThread::Start() {
    if (Started || Terminated()) {
        return;
    }
    Started = true;
    PhaseState.store(Rendering, std::memory_order_relaxed);
    Worker = std::thread([this] { Run(); });
}

TWaveguideThread::TReadyResult TWaveguideThread::WaitReady() {
    if (!Started) {
        return TReadyResult::Ended;
    }
    SetupState.wait(0, std::memory_order_acquire);
    return SetupState.load(std::memory_order_acquire) == 1 ? TReadyResult::Ready
                                                           : TReadyResult::Ended;
}

void TWaveguideThread::Release() {
    int32_t phase = PhaseState.load(std::memory_order_relaxed);
    // Only a waiting thread is woken: a release during rendering is not remembered.
    if ((phase == 0 || phase == 1) &&
        PhaseState.compare_exchange_strong(phase, Rendering, std::memory_order_acq_rel)) {
        Wake.release();
    }
}

void TWaveguideThread::Terminate() {
    if (TerminateRequested.exchange(true)) {
        return;
    }
    // Unconditional, so that a thread about to wait cannot miss it.
    Wake.release();
}

void TWaveguideThread::Join() {
    if (Worker.joinable()) {
        Worker.join();
    }
}

void TWaveguideThread::WaitBlockDone() const {
    while (PhaseState.load(std::memory_order_acquire) == Rendering) {
        PhaseState.wait(Rendering, std::memory_order_acquire);
    }
}

std::string TWaveguideThread::CrashText() const {
    return ExceptionClassName + "@TWaveguideThread: " + ExceptionMessage;
}

void TWaveguideThread::BuildBands(uint32_t ASeed) {
    Bands.Build(Frequency, SampleRate, EndType, Interpolate, Ratios, Gains,
                Resonance.load(std::memory_order_relaxed), ASeed);
}

void TWaveguideThread::RenderBlock(float* Out, int n) {
    Bands.RenderBlock(*this, Out, n);
}

void TWaveguideThread::Run() {
    try {
        NameOscillatorThread(Frequency);
        if (TimeCritical) {
            RaiseToRealTimePriority();
        }
        SetFlushDenormals();
        const uint32_t seed =
            Seed ? *Seed
                 : static_cast<uint32_t>(
                       std::chrono::steady_clock::now().time_since_epoch().count());
        const int32_t block = BlockSize >= 1 && BlockSize <= MaxBlockSize ? BlockSize : 0;
        Output[0].assign(static_cast<size_t>(block), 0.0f);
        Output[1].assign(static_cast<size_t>(block), 0.0f);
        BuildBands(seed);
        NoModes.store(Bands.BandCount() == 0);
        Ready.store(true);
        SetupState.store(1, std::memory_order_release);
        SetupState.notify_all();

        while (!Terminated()) {
            const int32_t index = WriteIndex.load(std::memory_order_relaxed) & 1;
            float* out = Output[index].data();
            RenderBlock(out, block);
            if (!WithinRange(out, block)) {
                // A fault, not playing: the rebuild allocates, which a sounding tone never does.
                std::fill(out, out + block, 0.0f);
                BuildBands(seed);
                Resets.fetch_add(1, std::memory_order_relaxed);
            }
            if (Terminated()) {
                break;
            }
            PhaseState.store(index, std::memory_order_release);
            PhaseState.notify_all();
            Wake.acquire();
        }
    } catch (...) {
        FatalException = std::current_exception();
        const TExceptionInfo info = CurrentException();
        ExceptionClassName = info.Class;
        ExceptionMessage = info.Message;
    }
    PhaseState.store(Ended, std::memory_order_release);
    PhaseState.notify_all();
    if (SetupState.load(std::memory_order_relaxed) == 0) {
        SetupState.store(2, std::memory_order_release);
        SetupState.notify_all();
    }
    if (OnTerminate) {
        OnTerminate(*this);
    }
    FinishedFlag.store(true, std::memory_order_release);
}

} // namespace varko
