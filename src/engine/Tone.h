// One tone of the bank as a plain object: its bands, its playing values, its double buffer and
// its counters. A renderer (a thread of its own, a pool, or the caller's thread) builds it and
// renders its blocks; the mixer reads them. No thread of its own.
#pragma once

#include "dsp/BarModes.h"
#include "dsp/WaveguideBands.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varko {

// The two output blocks of one tone.
using TOutDoubleBuffer = std::array<std::vector<float>, 2>;

// A tone's playing values from a frame of its block on.
struct TToneEvent {
    uint32_t Frame = 0; // 0 .. block size - 1
    float Pressure = 0.0f;
    float Speed = 0.0f;
    float Strike = 0.0f;
};

// The changes a tone takes inside one block, frames never falling: fixed storage, so that the
// callback fills it without allocating.
struct TToneEvents {
    // A pen writes a tone a few times a block at most; a dense MIDI stream a few dozen.
    static constexpr uint32_t Capacity = 32;
    std::array<TToneEvent, Capacity> Items{};
    uint32_t Count = 0;

    // Appends e, at the last event's frame if e's is earlier (a change never overtakes one
    // made before it). Full, the list becomes one event at frame 0 with e's values: what each
    // event sets is the whole state, so the latest values still win; only their timing is lost.
    void Add(TToneEvent e) {
        if (Count != 0 && e.Frame < Items[Count - 1].Frame) {
            e.Frame = Items[Count - 1].Frame;
        }
        if (Count == Capacity) {
            e.Frame = 0;
            Count = 0;
        }
        Items[Count++] = e;
    }
    // Moves events into this list after the ones it has, which go to frame 0: a block that
    // was never rendered leaves them late.
    void Take(TToneEvents& from) {
        for (uint32_t i = 0; i < Count; ++i) {
            Items[i].Frame = 0;
        }
        for (uint32_t i = 0; i < from.Count; ++i) {
            Add(from.Items[i]);
        }
        from.Count = 0;
    }
    uint32_t LastFrame() const { return Count != 0 ? Items[Count - 1].Frame : 0; }
};

class TTone : public TWaveguidePlaying {
public:
    TTone() = default;
    virtual ~TTone() = default;
    TTone(const TTone&) = delete;
    TTone& operator=(const TTone&) = delete;

    // Settings, written before the tone is built.
    float Frequency = 0.0f;  // fundamental, hertz
    float SampleRate = 0.0f; // hertz
    int32_t BlockSize = 0;   // samples per block, 1 .. MaxBlockSize (others: empty, silent)
    TEndType EndType = TEndType::None;
    bool Interpolate = false;     // fractional-length (interpolated) delay lines
    float BendRoom = 1.0f;        // how far below Frequency Pitch may bend it (a ratio, >= 1)
    std::vector<float> Ratios;    // mode frequencies / Frequency, in build order
    std::vector<float> Gains;     // excitation gain per mode, as long as Ratios
    std::optional<uint32_t> Seed; // noise seed; none: taken from the clock when built
    // Called on the rendering thread when building or rendering this tone throws. Must not wait
    // for a thread that may itself wait for the renderer: post the news and return.
    std::function<void(TTone&)> OnFailed;

    static constexpr int32_t MaxBlockSize = 65536;
    // No input the playing code lets through drives a tone anywhere near this; past it the
    // bands are running away, and the mix must never carry it to overflow.
    static constexpr float RunawayLevel = 1e8f;

    // Outputs.
    std::atomic<bool> Ready{false};     // bands built (the first block follows at once)
    std::atomic<bool> NoModes{false};   // not one band could be built
    uint32_t NoiseSeed = 0;             // the seed the noise started from; read after Ready
    TOutDoubleBuffer Output;            // written by the renderer; read by the mixer when done
    std::atomic<int32_t> WriteIndex{0}; // 0 or 1: the block the next render writes
    // Blocks whose bands had gone non-finite or beyond RunawayLevel: each such block is
    // silenced and the bands are built anew, silent, before the next one.
    std::atomic<uint32_t> Resets{0};
    // Blocks rendered since the tone was built (its first block included).
    std::atomic<uint32_t> BlocksRendered{0};

    // Mixer's view: Rendering while a renderer owes or writes its block; 0 or 1 once that block
    // is written; Ended (failed or renderer gone) or Idle (never built) otherwise.
    static constexpr int32_t Rendering = 2, Ended = 3, Idle = 4;
    int32_t Phase() const { return phaseState_.load(std::memory_order_acquire); }
    // Blocks while a renderer owes or writes this tone's block.
    void WaitBlockDone() const;

    // The exception that ended the tone (null while it sounds), its type and message.
    std::exception_ptr FatalException;
    std::string ExceptionClassName;
    std::string ExceptionMessage;
    // "ExceptionClass@TWaveguideThread: message" for the crash window.
    std::string CrashText() const;

    // Owned by the mixer thread alone: the block it mixes this period (-1 for none), the resets
    // it has counted and the blocks it has taken.
    int32_t MixBlock = -1;
    uint32_t ResetsCounted = 0;
    uint32_t BlocksMixed = 0;
    // The mixer's alone: changes for the next block this tone renders, handed to Events once
    // the tone is not rendering (a late tone keeps them for the block after).
    TToneEvents Staged;
    // Written by the mixer while the tone's block is written (phase 0 or 1), before it claims
    // the tone; read and emptied by the renderer of the claimed block, which splits the block
    // at their frames.
    TToneEvents Events;

    // --- The renderer's side; each runs on the thread that renders the tone. ---

    // Allocates the double buffer, builds the bands (seed from Seed or the clock) and renders
    // the first block into Output[WriteIndex]. Throws what building throws.
    void Build();
    // Claims a block to render: a tone whose block is written (0 or 1) becomes Rendering.
    // Returns false (and changes nothing) for a tone that is rendering, ended or never built.
    bool Claim();
    // Renders the claimed block into Output[WriteIndex]; a block that ran away is silenced and
    // the bands rebuilt. Then the phase names the written block. Throws what rendering throws.
    void RenderClaimed();
    // Build on a thread the renderer does not own (the owner's, a host's), with flush-to-zero
    // as the renderers' own threads have it: false, with the tone ended and OnFailed told,
    // when building threw.
    bool BuildOnThisThread();
    // Records the exception being handled, ends the tone and tells OnFailed.
    void Fail();
    // The renderer is gone: the tone is Ended (and its block no longer owed).
    void End();

    // Renders the claimed blocks of several tones with the bands of all of them in the vector
    // lanes together; the same samples as RenderClaimed of each. Tones that render their own
    // way (subclasses) are rendered one by one. Exceptions end their own tone only.
    static void RenderClaimedTogether(std::span<TTone* const> tones);
    // Renders the next n samples (1 .. BlockSize) of each tone straight into Output[0], for a
    // mixer that mixes them at once on this same thread (a plugin host's): no claim, no hand-off,
    // the same samples as whole blocks would give. Tones not built or ended are skipped.
    static void RenderNowTogether(std::span<TTone* const> tones, int n);

protected:
    // Builds the bands into Bands.
    virtual void BuildBands(uint32_t seed);
    // Renders one block of n samples into Out. Tones of a class that overrides it (tests) are
    // rendered alone.
    virtual void RenderBlock(float* out, int n);
    TWaveguideBands bands_;

private:
    void FinishBlock(int32_t index, float* out, int n);
    // n < 0: each claimed tone's whole block into Output[WriteIndex]; else n samples into
    // Output[0].
    static void RenderGrouped(std::span<TTone* const> tones, int n);
    // Renders n samples into out, taking Events at their frames, and empties Events.
    void RenderSegments(float* out, int n);
    void ApplyEvent(const TToneEvent& e);
    // Written by the renderer (after a block, at an end) and by the mixer (Claim); the two
    // never write at once: the mixer claims only a finished block.
    std::atomic<int32_t> phaseState_{Idle};
    uint32_t builtSeed_ = 0;
};

} // namespace varko
