// The oscillator of one tone: a bank of waveguide bands (band-pass filter into delay line)
// driven by noise shaped by pressure, pen speed and strike position, rendered block by block on
// a thread of its own.
#pragma once

#include "dsp/WaveguideBandpassFilter.h"
#include "dsp/WaveguideDelay.h"

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

// What the playing code writes while a tone sounds; read at every sample (relaxed atomics).
struct TWaveguidePlaying {
    std::atomic<float> StrikePosition{0.0f}; // 0 top of the bar .. 1 bottom
    std::atomic<float> Pressure{0.0f};       // 0 none .. 1 full
    std::atomic<float> Speed{
        0.0f}; // movement since the last event, fraction of extent; sign ignored
    std::atomic<float> Resonance{0.0f}; // base loop gain of every band, 0 .. below 1
};

// The bands and the excitation of one tone; belongs to one thread. Usable without a thread
// (tests, benchmarks).
class TWaveguideBands {
public:
    // Longest block rendered in one piece; longer requests are rendered in pieces.
    static constexpr int MaxChunk = 1024;
    // Widest ring a band may get, in seconds of samples: longer bands are not built.
    static constexpr float MaxDelaySeconds = 1.0f;
    // Highest sample rate at which bands are built (bounds memory whatever the host says).
    static constexpr float MaxSampleRate = 768000.0f;

    // Frequency, SampleRate in hertz; EndType 1 free, 2 one end fixed, 3 hinged, else none;
    // Ratios: mode frequencies / Frequency, in build order; Gains: excitation gain per mode;
    // Resonance: the lines' first loop gain; Seed: the noise generator's start value.
    void Build(float Frequency, float SampleRate, int32_t EndType, bool Interpolate,
               const std::vector<float>& Ratios, const std::vector<float>& Gains, float Resonance,
               uint32_t Seed);

    int BandCount() const { return static_cast<int>(Filters.size()); }

    // Renders n samples (any n >= 0) into Out, reading the playing values at every sample.
    void RenderBlock(const TWaveguidePlaying& In, float* Out, int n);

    // The excitation alone, n <= MaxChunk samples: X0 (before the band gains) and the lines'
    // loop gain per sample. Advances follower, envelope and noise. Returns false if all X0 are 0.
    bool Excite(const TWaveguidePlaying& In, float* X0, float* Feedback, int n);

    // Next noise value in [0, 1): the 32-bit LCG seed * 134775813 + 1.
    double NextNoise() {
        NoiseSeed = NoiseSeed * 134775813u + 1u;
        return static_cast<double>(NoiseSeed) * (1.0 / 4294967296.0);
    }

    float Level() const { return L; }    // pressure follower's level
    float Envelope() const { return E; } // strike envelope's value
    int32_t RampLength() const { return R; }
    int32_t EnvelopeLength() const { return NE; }

    std::vector<TWaveguideBPFilter4p> Filters;
    std::vector<std::unique_ptr<TWaveguideDelay>> Delays;
    std::vector<int32_t> Quiet;
    std::vector<float> BandGains;

private:
    uint32_t NoiseSeed = 0;
    float P0 = 0.5f, W = 0.0f;
    float L = 0, Lt = 0, dL = 0, rR = 0;
    int32_t nL = 0, R = 1;
    float E = 0, Et = 0, dE = 0, rE = 0;
    int32_t nE = 0, NE = 2;
    bool G = false;
    std::vector<float> X0Buf, FbBuf, BandBuf, BandBuf2, Zeros;
};

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

    // Owned by the mixer thread alone: the block it mixes this period, -1 for none.
    int32_t MixBlock = -1;

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
