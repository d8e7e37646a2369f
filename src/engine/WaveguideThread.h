// The oscillator of one tone: its waveguide bands rendered block by block on a thread of its
// own, one block ahead of the mixer.
#pragma once

#include "dsp/WaveguideBands.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <semaphore>
#include <string>
#include <thread>
#include <vector>

namespace varko {

// The two output blocks of one oscillator.
using TOutDoubleBuffer = std::array<std::vector<float>, 2>;

// One tone's thread. Fill the settings, Start it, WaitReady, then it renders a block into
// Output[WriteIndex] each time it is released; Terminate ends it.
class TWaveguideThread : public TWaveguidePlaying {
public:
    enum class TReadyResult { Ready, Ended };

    TWaveguideThread();
    // Ends the thread (termination request and release) and joins it.
    virtual ~TWaveguideThread();
    TWaveguideThread(const TWaveguideThread&) = delete;
    TWaveguideThread& operator=(const TWaveguideThread&) = delete;

    // Settings, written before Start.
    float Frequency = 0.0f;       // fundamental, hertz
    float SampleRate = 0.0f;      // hertz
    int32_t BlockSize = 0;        // samples per block, 1 .. 65536 (others: empty, silent blocks)
    int32_t EndType = 0;          // 1 both ends free, 2 one end fixed, 3 both hinged, 0 none
    bool Interpolate = false;     // fractional-length (interpolated) delay lines
    std::vector<float> Ratios;    // mode frequencies / Frequency, in build order
    std::vector<float> Gains;     // excitation gain per mode, as long as Ratios
    std::optional<uint32_t> Seed; // noise seed; none: taken from the clock at start
    bool TimeCritical = false;    // SCHED_FIFO at the highest allowed priority (silently normal)
    // Called on the ending thread as its last act (normal end or exception). Must not wait for
    // a thread that may itself wait for this one: post the news and return.
    std::function<void(TWaveguideThread&)> OnTerminate;

    // Outputs.
    std::atomic<bool> Ready{false};     // bands built (first block follows at once)
    std::atomic<bool> NoModes{false};   // not one band could be built
    TOutDoubleBuffer Output;            // written by the thread; read by the mixer when done
    std::atomic<int32_t> WriteIndex{0}; // 0 or 1: the block the next render writes
    // Blocks whose bands had gone non-finite or beyond RunawayLevel: each such block is
    // silenced and the bands are built anew, silent, before the next one.
    std::atomic<uint32_t> Resets{0};

    // No input the playing code lets through drives a tone anywhere near this; past it the
    // bands are running away, and the mix must never carry it to overflow.
    static constexpr float RunawayLevel = 1e8f;

    // The first release: starts the thread, which builds its bands and renders its first
    // block. Once only; nothing after Terminate.
    void Start();
    // Blocks until the bands are built (Ready) or the thread has ended without them (Ended:
    // see FatalException), or at once with Ended if it was never started.
    TReadyResult WaitReady();
    // Wakes the thread if it waits after a finished block; does nothing while it renders.
    void Release();
    // Requests the end and releases the thread once; it finishes any block it is in.
    void Terminate();
    bool Terminated() const { return TerminateRequested.load(std::memory_order_relaxed); }
    // True once the thread has run its last line (OnTerminate included).
    bool Finished() const { return FinishedFlag.load(std::memory_order_acquire); }
    // Waits for the thread's end (after Terminate) and frees its resources.
    void Join();

    // Mixer's view: Rendering while the thread writes; 0 or 1 while it waits after finishing
    // that block; Ended or Idle (never started) otherwise.
    static constexpr int32_t Rendering = 2, Ended = 3, Idle = 4;
    int32_t Phase() const { return PhaseState.load(std::memory_order_acquire); }
    // Blocks while the thread renders (returns at once if it waits, ended or never started).
    void WaitBlockDone() const;

    // The exception that ended the thread (null after a normal end), its type and message.
    std::exception_ptr FatalException;
    std::string ExceptionClassName;
    std::string ExceptionMessage;
    // "ExceptionClass@TWaveguideThread: message" for the crash window.
    std::string CrashText() const;

    // Owned by the mixer thread alone: the block it mixes this period, -1 for none, and the
    // resets it has counted.
    int32_t MixBlock = -1;
    uint32_t ResetsCounted = 0;

protected:
    // Builds the bands into Bands (runs on the thread before Ready).
    virtual void BuildBands(uint32_t ASeed);
    // Renders one block of n samples into Out (runs on the thread).
    virtual void RenderBlock(float* Out, int n);
    TWaveguideBands Bands;

private:
    void Run();

    std::thread Worker;
    std::counting_semaphore<16> Wake{0};
    std::atomic<int32_t> PhaseState{Idle};
    std::atomic<int32_t> SetupState{0}; // 0 building, 1 ready, 2 ended before ready
    std::atomic<bool> TerminateRequested{false};
    std::atomic<bool> FinishedFlag{false};
    bool Started = false;
};

} // namespace varko
