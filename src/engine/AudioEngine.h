// The block mixer between the tones and the audio host: sums every tone's finished block into a
// panned stereo pair with master gain and peaks, then has the renderer render the next blocks.
#pragma once

#include "dsp/PeakLimiter.h"
#include "engine/AudioHost.h"
#include "engine/PerformanceTap.h"
#include "engine/PlayingChanges.h"
#include "engine/Tone.h"
#include "engine/ToneRenderer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace varko {

class TAudioEngine {
public:
    // Takes the host to drive (device host, null host or a test host); sets its buffer-switch,
    // reset and sample-rate events to this engine. A null host pointer is refused
    // (invalid_argument).
    explicit TAudioEngine(std::unique_ptr<IAudioHost> host);
    // Destroy: stops the host and frees it, ends every renderer and joins its threads.
    ~TAudioEngine();
    TAudioEngine(const TAudioEngine&) = delete;
    TAudioEngine& operator=(const TAudioEngine&) = delete;

    IAudioHost& Host() { return *hostPtr_; }

    // Starts the host (the driver calls back), then Running = true. A bank built for another
    // block size or rate than the host's is rebuilt first (OnRebuildTones starts the engine).
    void Start();
    // Stops the host (no BufferSwitch runs once it returns), then Running = false; changes
    // still queued are applied.
    void Stop();

    // A playing change from the owner's thread: applied before the next block while the engine
    // runs, at once otherwise (after the oscillators finish the block they may be rendering).
    // A tone's change stamped At is heard from that sample of the block its tone renders next
    // (the block's start when At has passed); one stamped past that block waits for its block,
    // and the changes behind it with it.
    void Change(const TPlayingChange& change);
    // The thread that renders with RenderNow, between two of its calls, the engine never
    // started: applies the change at once, as Change would, but takes no lock. Only for a bank
    // that this one thread alone plays (a plugin's); every other sender uses Change.
    void ChangeFromRenderer(const TPlayingChange& change);
    // Any thread: the stamp (TPlayingChange::At) for input that arrived at steadyNs on the steady
    // clock, mapped onto the samples of the block that was playing then and moved two blocks
    // on: the tones render a block ahead, and the sender gets a block to hand its changes in.
    // Input that came late in a block sounds late in its block, so the delay is the same
    // wherever in the block it came. 0 (as soon as possible) before the first block.
    uint64_t ArrivalStamp(int64_t steadyNs) const;
    // Owner's thread: whether a change posted is still waiting for its block.
    bool ChangesPending() const {
        const std::lock_guard lock(changesMutex_);
        return changes_->Pending() != 0;
    }

    // One block: mixes every oscillator's finished block into output arrays 0 (left) and
    // 1 (right), as far as they exist, Host().BufferSize() samples; flips ReadIndex, releases
    // every oscillator. A tone still rendering gives silence and counts a late block; a tone
    // that reset its bands since the last switch counts in ToneResets. A bank built for
    // another block size gives silence until it is rebuilt.
    void BufferSwitch(IAudioHost* sender, const TArrayOfSingleArray& inBuffer,
                      TArrayOfSingleArray& outBuffer);

    // The caller's thread renders the next n samples (1 .. the bank's block size) of every tone
    // and mixes them at once into left and right (either may be null): no block of latency, for
    // a host that lends its thread and asks for blocks of any size. Changes queued are applied
    // first. Inline banks only (others give silence); never mixed with BufferSwitch on the same
    // bank. Never waits, locks or allocates.
    void RenderNow(float* left, float* right, uint32_t n);

    // A driver reset or rate change (any thread): mutes the mix at once and hands RebuildTones
    // to Dispatch (or runs it here when there is none); does not wait for it.
    void DriverReset(IAudioHost* sender);
    // Runs OnRebuildTones (the owner's rebuild of the tone bank) and unmutes the mix.
    void RebuildTones();

    // The block size and rate the bank was built for (set by the tone bank), and whether the
    // host still runs at them. A bank put together by hand (size 0) is taken as it is.
    void SetBankFormat(uint32_t blockSize, double sampleRate);
    bool BankMatchesHost() const;

    // How the next bank's tones are rendered (owner's thread): takes effect at the next tone
    // added after EndOscillators.
    void SetRendering(const TToneRendering& how) { rendering_ = how; }
    const TToneRendering& RenderingInUse() const { return rendering_; }

    // Owner's thread, engine stopped: appends a tone to the bank, builds it with the renderer
    // (made at the bank's first tone) and renders its first block. False when building failed:
    // the tone stays in the list, Ended, its FatalException saying why.
    bool AddTone(std::unique_ptr<TTone> tone);

    // Ends the renderer (its threads finish the block they are in) and empties the list; the
    // renderer and its tones are freed here at the next call or at destruction, once its threads
    // have ended. Stops the engine if it runs.
    void EndOscillators();

    // Offline driving: blocks until no tone is owed a block.
    void WaitForOscillators();
    // Offline driving (engine not started): waits for every oscillator, then one BufferSwitch
    // into OutBuffer. Deterministic for given seeds, never late.
    void RenderOffline(TArrayOfSingleArray& outBuffer);

    // The owner's rebuild (RefreshTones); runs on the owner's thread.
    std::function<void()> OnRebuildTones;
    // Runs a routine on the owner's thread later; must return without waiting for it when
    // called from another thread (e.g. a queued call into the UI event loop).
    std::function<void(std::function<void()>)> Dispatch;

    // One tone per bar, lowest first; changed only while the engine is stopped (AddTone,
    // EndOscillators).
    std::vector<std::unique_ptr<TTone>> Oscillators;

    std::atomic<bool> Running{false};
    std::atomic<int32_t> ReadIndex{0};      // 0 or 1: the block the next switch mixes
    std::atomic<bool> Stereo{true};         // pan the tones from left (lowest) to right
    std::atomic<bool> MeterPeaks{true};     // record PeakLeft / PeakRight
    std::atomic<bool> TwoRowPanning{false}; // pan each row of a two-row zone on its own
    std::atomic<float> PanOffset{0.0f};     // pan constant A
    std::atomic<float> PanStep{0.0f};       // pan constant B
    std::atomic<float> MasterGain{1.0f};    // linear output gain, 0 .. any
    std::atomic<bool> Limit{false};         // the master limiter after the master gain
    // The owner's thread writes Limit; the callback alone runs the limiter. Its least gain is
    // for the meters (any thread); the peaks above are taken before it, for the clip lamps.
    TPeakLimiter Limiter;
    // The largest |sample| each tone gave (before panning and the master gain) since the
    // owner last took it: the bars' light. The callback raises it; TakeToneLevel resets it.
    float TakeToneLevel(size_t tone) {
        return tone < MaxToneLevels ? toneLevels_[tone].exchange(0.0f, std::memory_order_relaxed)
                                    : 0.0f;
    }
    static constexpr size_t MaxToneLevels = 1024;
    std::atomic<float> PeakLeft{0.0f};     // largest |left| since the meters reset it
    std::atomic<float> PeakRight{0.0f};    // largest |right| since the meters reset it
    std::atomic<uint64_t> LateBlocks{0};   // tone blocks not ready at their switch
    std::atomic<uint64_t> ToneResets{0};   // tone blocks silenced: their bands had run away
    std::atomic<uint64_t> SwitchCount{0};  // blocks the host asked for: do blocks flow?
    std::atomic<bool> ResetPending{false}; // a driver reset waits for its rebuild: mix mutes
    // Samples per channel sent to the host since the engine was created.
    std::atomic<uint64_t> SamplePosition{0};
    // Hears every block and change (a recorder); set while the engine is stopped.
    IPerformanceTap* Tap = nullptr;

private:
    void ReapEnding(bool wait);
    // The callback, or the owner's thread while no callback runs.
    void ApplyChange(const TPlayingChange& change, uint64_t blockStart);
    // Mixes each tone's Output[MixBlock] (those >= 0), panned, with the master gain, peaks and
    // limiter, into n samples of left and right (as far as nLeft and nRight reach).
    void MixTones(float* left, size_t nLeft, float* right, size_t nRight, size_t n);
    // Whether a change drained before the block starting at blockStart is due for it.
    static bool ChangeDue(const TPlayingChange& change, uint64_t blockStart, uint32_t n);
    // Callback: hands each tone's staged changes to it for the block it renders next.
    void HandOverEvents();
    // Hands the finished block to the tap and moves the position past it.
    void EndBlock(uint64_t position, const float* left, const float* right, size_t n,
                  uint32_t late);

    // The changes have more than one sender (the owner's thread, the MIDI input's): they take
    // turns here. The callback, the one receiver, never takes it. The last lock of the order
    // written at TMidiPlaying::mutex_: nothing is locked while it is held.
    mutable std::mutex changesMutex_;
    // On its own allocation: its ring keeps its indices on cache lines of their own.
    std::unique_ptr<TPlayingChanges> changes_ = std::make_unique<TPlayingChanges>();

    // The latest block's switch: written by the callback as a sequence lock (odd while it
    // writes), read by ArrivalStamp on any thread.
    std::atomic<uint32_t> switchSeq_{0};
    std::atomic<int64_t> switchNs_{0};
    std::atomic<uint64_t> switchPosition_{0};
    std::atomic<uint32_t> switchFrames_{0};
    std::atomic<double> switchRate_{0.0};

    std::atomic<uint32_t> bankBlockSize_{0};
    double bankSampleRate_ = 0.0; // the owner's thread alone
    bool rebuilding_ = false;
    bool limiting_ = false; // the callback's: whether the limiter ran in the last block
    // Allocated once: the callback only stores into it.
    std::unique_ptr<std::atomic<float>[]> toneLevels_ =
        std::make_unique<std::atomic<float>[]>(MaxToneLevels);
    std::unique_ptr<IAudioHost> hostPtr_;
    TToneRendering rendering_;
    // Read by the callback (Release) while the engine runs; replaced by the owner only while it
    // is stopped.
    std::unique_ptr<IToneRenderer> renderer_;
    std::vector<TTone*> nowTones_; // RenderNow's; room for every tone, reserved by AddTone
    // Renderers asked to end, with their tones, until their threads have. The renderer is
    // declared last so that it goes (joining its threads) before the tones it renders.
    struct TEnding {
        std::vector<std::unique_ptr<TTone>> Tones;
        std::unique_ptr<IToneRenderer> Renderer;
        std::vector<TTone*> NowTones; // RenderNow's; room for every tone, reserved by AddTone
    };
    std::vector<TEnding> ending_;
    std::shared_ptr<int> aliveToken_ = std::make_shared<int>(0);
};

} // namespace varko
