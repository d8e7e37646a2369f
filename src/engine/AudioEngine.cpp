#include "engine/AudioEngine.h"

#include "core/RealTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <stdexcept>

namespace varko {

TAudioEngine::TAudioEngine(std::unique_ptr<IAudioHost> host) : hostPtr_(std::move(host)) {
    if (!hostPtr_) {
        throw std::invalid_argument("TAudioEngine needs an audio host");
    }
    hostPtr_->OnBufferSwitch32 = [this](IAudioHost* sender, const TArrayOfSingleArray& in,
                                        TArrayOfSingleArray& out) {
        BufferSwitch(sender, in, out);
    };
    hostPtr_->OnReset = [this](IAudioHost* sender) { DriverReset(sender); };
    hostPtr_->OnSampleRateChanged = [this](IAudioHost* sender) { DriverReset(sender); };
}

TAudioEngine::~TAudioEngine() {
    hostPtr_->SetActive(false);
    hostPtr_.reset();
    Running.store(false);
    EndOscillators();
    ReapEnding(true);
}

void TAudioEngine::Start() {
    // The driver may have been changed or reloaded at another size or rate since the bank was
    // built; whatever did it, the bank follows.
    if (!Oscillators.empty() && !BankMatchesHost() && OnRebuildTones && !rebuilding_) {
        Running.store(true);
        RebuildTones();
        return;
    }
    // A change being applied at once (the engine stopped) finishes before any block runs.
    const std::lock_guard lock(changesMutex_);
    hostPtr_->SetActive(true);
    Running.store(true);
}

void TAudioEngine::SetBankFormat(uint32_t blockSize, double sampleRate) {
    bankBlockSize_.store(blockSize, std::memory_order_relaxed);
    bankSampleRate_ = sampleRate;
}

bool TAudioEngine::BankMatchesHost() const {
    const uint32_t size = bankBlockSize_.load(std::memory_order_relaxed);
    return size == 0 ||
           (size == hostPtr_->BufferSize() && bankSampleRate_ == hostPtr_->SampleRate());
}

void TAudioEngine::Stop() {
    if (hostPtr_) {
        hostPtr_->SetActive(false);
    }
    Running.store(false);
    const std::lock_guard lock(changesMutex_);
    const uint64_t position = SamplePosition.load(std::memory_order_relaxed);
    changes_->Flush([&](const TPlayingChange& c) { ApplyChange(c, position); });
}

void TAudioEngine::Change(const TPlayingChange& change) {
    const std::lock_guard lock(changesMutex_);
    if (Running.load()) {
        changes_->Post(change);
        return;
    }
    // A freshly built bank may still be rendering its first block.
    WaitForOscillators();
    ApplyChange(change, SamplePosition.load(std::memory_order_relaxed));
}

void TAudioEngine::ChangeFromRenderer(const TPlayingChange& change) {
    if (Running.load(std::memory_order_relaxed)) {
        Change(change); // a callback mixes this bank: only the queue is safe
        return;
    }
    // An inline renderer owes no block between two RenderNow calls: nothing to wait for.
    ApplyChange(change, SamplePosition.load(std::memory_order_relaxed));
}

void TAudioEngine::ApplyChange(const TPlayingChange& c, uint64_t blockStart) {
    constexpr auto Relaxed = std::memory_order_relaxed;
    const uint32_t n = hostPtr_ ? hostPtr_->BufferSize() : 0;
    uint32_t frame = 0;
    switch (c.Kind) {
    case TPlayingChange::TKind::Tone:
        if (c.Tone < 0 || static_cast<size_t>(c.Tone) >= Oscillators.size()) {
            return;
        }
        {
            TTone& osc = *Oscillators[static_cast<size_t>(c.Tone)];
            // The block the tone renders next starts one block on.
            const uint64_t renderStart = blockStart + n;
            if (c.At > renderStart && n != 0) {
                frame = static_cast<uint32_t>(std::min<uint64_t>(c.At - renderStart, n - 1));
            }
            // A tone that is not rendering is not touched by a renderer until the callback
            // claims it: at its block's start, the values go in at once. (Its Events are read
            // only then: a renderer may still be emptying them.)
            const bool resting = osc.Phase() != TTone::Rendering;
            if (resting && frame == 0 && osc.Staged.Count == 0 && osc.Events.Count == 0) {
                osc.Pressure.store(c.Pressure, Relaxed);
                osc.Speed.store(c.Speed, Relaxed);
                osc.StrikePosition.store(c.Strike, Relaxed);
            } else {
                osc.Staged.Add({frame, c.Pressure, c.Speed, c.Strike});
                frame = osc.Staged.LastFrame();
            }
        }
        break;
    case TPlayingChange::TKind::Pitch:
        if (c.Tone >= 0 && static_cast<size_t>(c.Tone) < Oscillators.size()) {
            Oscillators[static_cast<size_t>(c.Tone)]->Pitch.store(c.Value, Relaxed);
        }
        break;
    case TPlayingChange::TKind::Resonance:
        for (auto& osc : Oscillators) {
            osc->Resonance.store(c.Value, Relaxed);
        }
        break;
    case TPlayingChange::TKind::Master:
        MasterGain.store(c.Value, Relaxed);
        break;
    case TPlayingChange::TKind::Mix:
        Stereo.store(c.Stereo, Relaxed);
        TwoRowPanning.store(c.TwoRows, Relaxed);
        PanOffset.store(c.PanOffset, Relaxed);
        PanStep.store(c.PanStep, Relaxed);
        break;
    }
    if (Tap != nullptr) {
        Tap->TapChange(c.EffectPosition(blockStart, n, frame), c);
    }
}

bool TAudioEngine::ChangeDue(const TPlayingChange& c, uint64_t blockStart, uint32_t n) {
    if (c.Kind != TPlayingChange::TKind::Tone) {
        return true;
    }
    // A stamp this far ahead is a clock's fault: better now than holding every change behind it.
    const uint64_t farAhead = 4 * static_cast<uint64_t>(n) + 4096;
    const uint64_t next = blockStart + 2 * static_cast<uint64_t>(n);
    return c.At < next || c.At >= next + farAhead;
}

void TAudioEngine::HandOverEvents() {
    for (auto& osc : Oscillators) {
        if (osc->Staged.Count == 0) {
            continue;
        }
        const int32_t phase = osc->Phase();
        if (phase == 0 || phase == 1) {
            osc->Events.Take(osc->Staged);
        } else {
            // Late: they go to the start of the block after.
            for (uint32_t i = 0; i < osc->Staged.Count; ++i) {
                osc->Staged.Items[i].Frame = 0;
            }
        }
    }
}

void TAudioEngine::ReapEnding(bool wait) {
    // Freeing a renderer joins its threads: at once for those that have ended.
    std::erase_if(ending_, [wait](const TEnding& e) { return wait || e.Renderer->Finished(); });
}

bool TAudioEngine::AddTone(std::unique_ptr<TTone> tone) {
    if (!renderer_) {
        renderer_ = MakeToneRenderer(rendering_);
    }
    TTone& t = *tone;
    Oscillators.push_back(std::move(tone));
    nowTones_.reserve(Oscillators.size());
    return renderer_->Add(t);
}

void TAudioEngine::EndOscillators() {
    if (Running.load()) {
        Stop();
    }
    ReapEnding(false);
    if (renderer_) {
        renderer_->Stop();
        ending_.push_back({std::move(Oscillators), std::move(renderer_), {}});
    }
    Oscillators.clear();
}

void TAudioEngine::BufferSwitch(IAudioHost* /*Sender*/, const TArrayOfSingleArray& /*InBuffer*/,
                                TArrayOfSingleArray& outBuffer) {
    const size_t n = hostPtr_->BufferSize();
    const uint64_t position = SamplePosition.load(std::memory_order_relaxed);
    {
        const uint32_t seq = switchSeq_.load(std::memory_order_relaxed);
        switchSeq_.store(seq + 1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        switchNs_.store(std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count(),
                        std::memory_order_relaxed);
        switchPosition_.store(position, std::memory_order_relaxed);
        switchFrames_.store(static_cast<uint32_t>(n), std::memory_order_relaxed);
        switchRate_.store(hostPtr_->SampleRate(), std::memory_order_relaxed);
        switchSeq_.store(seq + 2, std::memory_order_release);
    }
    changes_->Drain(
        [&](const TPlayingChange& c) { ApplyChange(c, position); },
        [&](const TPlayingChange& c) { return ChangeDue(c, position, static_cast<uint32_t>(n)); });
    // Never past the arrays the host provides, however few channels it has.
    float* left = nullptr;
    float* right = nullptr;
    size_t nLeft = 0, nRight = 0;
    if (!outBuffer.empty()) {
        left = outBuffer[0].data();
        nLeft = std::min(n, outBuffer[0].size());
    }
    if (outBuffer.size() > 1) {
        right = outBuffer[1].data();
        nRight = std::min(n, outBuffer[1].size());
    }
    // The tap hears a channel only when the host carries all of it.
    const float* tapLeft = nLeft == n ? left : nullptr;
    const float* tapRight = nRight == n ? right : nullptr;
    SwitchCount.fetch_add(1, std::memory_order_relaxed);
    const uint32_t bankSize = bankBlockSize_.load(std::memory_order_relaxed);
    const bool stale = !Oscillators.empty() && bankSize != 0 && bankSize != n;
    if (ResetPending.load(std::memory_order_relaxed) || stale) {
        std::fill(left, left + nLeft, 0.0f);
        std::fill(right, right + nRight, 0.0f);
        EndBlock(position, tapLeft, tapRight, n, 0);
        return;
    }

    // Which block each tone contributes, decided once for the whole period: a block written
    // since the last mix; none while the renderer still owes it.
    uint64_t late = 0;
    uint64_t resets = 0;
    for (auto& osc : Oscillators) {
        const int32_t phase = osc->Phase();
        osc->MixBlock = -1;
        const uint32_t r = osc->Resets.load(std::memory_order_relaxed);
        resets += r - osc->ResetsCounted;
        osc->ResetsCounted = r;
        if (phase == 0 || phase == 1) {
            const uint32_t rendered = osc->BlocksRendered.load(std::memory_order_relaxed);
            if (rendered == osc->BlocksMixed) {
                ++late; // a pool's round still running: this tone's new block is not there yet
            } else {
                osc->BlocksMixed = rendered;
                if (osc->Output[phase].size() >= n) {
                    osc->MixBlock = phase;
                }
            }
        } else if (phase == TTone::Rendering) {
            ++late;
        }
    }
    if (late != 0) {
        LateBlocks.fetch_add(late, std::memory_order_relaxed);
    }
    if (resets != 0) {
        ToneResets.fetch_add(resets, std::memory_order_relaxed);
    }

    MixTones(left, nLeft, right, nRight, n);

    const int32_t next = 1 - ReadIndex.load(std::memory_order_relaxed);
    ReadIndex.store(next, std::memory_order_relaxed);
    for (auto& osc : Oscillators) {
        osc->WriteIndex.store(next, std::memory_order_relaxed);
    }
    HandOverEvents();
    if (renderer_) {
        renderer_->Release();
    }
    EndBlock(position, tapLeft, tapRight, n, static_cast<uint32_t>(late));
}

void TAudioEngine::MixTones(float* left, size_t nLeft, float* right, size_t nRight, size_t n) {
    const bool stereo = Stereo.load(std::memory_order_relaxed);
    const bool twoRows = TwoRowPanning.load(std::memory_order_relaxed);
    const float offset = PanOffset.load(std::memory_order_relaxed);
    const float step = PanStep.load(std::memory_order_relaxed);
    const float gain = MasterGain.load(std::memory_order_relaxed);
    float peakLeft = 0.0f, peakRight = 0.0f;
    const bool limit = Limit.load(std::memory_order_relaxed);
    if (limit != limiting_) {
        limiting_ = limit;
        Limiter.Reset(); // no stale signal from before it was off
    }
    if (limit) {
        Limiter.SetSampleRate(hostPtr_->SampleRate());
    }

    // The sums live on the callback's stack (2 KiB), whatever the block size.
    constexpr size_t Chunk = 256;
    float sumLeft[Chunk];
    float sumRight[Chunk];
    for (size_t start = 0; start < n; start += Chunk) {
        const size_t m = std::min(Chunk, n - start);
        std::fill(sumLeft, sumLeft + m, 0.0f);
        std::fill(sumRight, sumRight + m, 0.0f);
        for (size_t t = 0; t < Oscillators.size(); ++t) {
            const TTone& osc = *Oscillators[t];
            if (osc.MixBlock < 0) {
                continue;
            }
            const float* s = osc.Output[static_cast<size_t>(osc.MixBlock)].data() + start;
            float wl = 1.0f, wr = 1.0f;
            if (stereo) {
                wr = static_cast<float>(t + 1) * step;
                wl = offset - wr;
                if (twoRows && wr > 1.0f) { // the tone lies in the second row
                    wl = wl + 1.0f;
                    wr = wr - 1.0f;
                }
            }
            float level = 0.0f;
            for (size_t i = 0; i < m; ++i) {
                sumLeft[i] += s[i] * wl;
                sumRight[i] += s[i] * wr;
                level = std::max(level, std::fabs(s[i]));
            }
            if (t < MaxToneLevels && level > toneLevels_[t].load(std::memory_order_relaxed)) {
                toneLevels_[t].store(level, std::memory_order_relaxed);
            }
        }
        for (size_t i = 0; i < m; ++i) {
            sumLeft[i] *= gain;
            sumRight[i] *= gain;
            peakLeft = std::max(peakLeft, std::fabs(sumLeft[i]));
            peakRight = std::max(peakRight, std::fabs(sumRight[i]));
        }
        if (limit) {
            Limiter.Process(sumLeft, sumRight, m);
        }
        if (start < nLeft) {
            std::copy(sumLeft, sumLeft + std::min(m, nLeft - start), left + start);
        }
        if (start < nRight) {
            std::copy(sumRight, sumRight + std::min(m, nRight - start), right + start);
        }
    }
    if (MeterPeaks.load(std::memory_order_relaxed)) {
        if (peakLeft > PeakLeft.load(std::memory_order_relaxed)) {
            PeakLeft.store(peakLeft, std::memory_order_relaxed);
        }
        if (peakRight > PeakRight.load(std::memory_order_relaxed)) {
            PeakRight.store(peakRight, std::memory_order_relaxed);
        }
    }
}

void TAudioEngine::RenderNow(float* left, float* right, uint32_t n) {
    const uint64_t position = SamplePosition.load(std::memory_order_relaxed);
    changes_->Drain([&](const TPlayingChange& c) { ApplyChange(c, position); });
    SwitchCount.fetch_add(1, std::memory_order_relaxed);
    const size_t nLeft = left != nullptr ? n : 0;
    const size_t nRight = right != nullptr ? n : 0;
    const uint32_t bankSize = bankBlockSize_.load(std::memory_order_relaxed);
    if (rendering_.Threads != TToneThreads::Inline || (bankSize != 0 && n > bankSize) ||
        ResetPending.load(std::memory_order_relaxed)) {
        std::fill(left, left + nLeft, 0.0f);
        std::fill(right, right + nRight, 0.0f);
        EndBlock(position, nullptr, nullptr, n, 0);
        return;
    }
    nowTones_.clear(); // capacity kept: no allocation
    for (auto& osc : Oscillators) {
        nowTones_.push_back(osc.get());
    }
    // The caller splits its block at its events: whatever was staged sounds from this start.
    for (auto& osc : Oscillators) {
        for (uint32_t i = 0; i < osc->Staged.Count; ++i) {
            osc->Staged.Items[i].Frame = 0;
        }
    }
    HandOverEvents();
    {
        const TFlushDenormalsScope flush;
        TTone::RenderNowTogether(nowTones_, static_cast<int>(n));
    }
    uint64_t resets = 0;
    for (auto& osc : Oscillators) {
        const uint32_t r = osc->Resets.load(std::memory_order_relaxed);
        resets += r - osc->ResetsCounted;
        osc->ResetsCounted = r;
        const int32_t phase = osc->Phase();
        osc->MixBlock = (phase == 0 || phase == 1) && osc->Output[0].size() >= n ? 0 : -1;
    }
    if (resets != 0) {
        ToneResets.fetch_add(resets, std::memory_order_relaxed);
    }
    MixTones(left, nLeft, right, nRight, n);
    EndBlock(position, nullptr, nullptr, n, 0);
}

uint64_t TAudioEngine::ArrivalStamp(int64_t steadyNs) const {
    int64_t ns = 0;
    uint64_t position = 0;
    uint32_t frames = 0;
    double rate = 0.0;
    for (int tries = 0;; ++tries) {
        const uint32_t before = switchSeq_.load(std::memory_order_acquire);
        ns = switchNs_.load(std::memory_order_relaxed);
        position = switchPosition_.load(std::memory_order_relaxed);
        frames = switchFrames_.load(std::memory_order_relaxed);
        rate = switchRate_.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((before & 1) == 0 && switchSeq_.load(std::memory_order_relaxed) == before) {
            break;
        }
        if (tries == 100) {
            return 0; // a callback that never finishes writing: as soon as possible
        }
    }
    if (frames == 0 || rate <= 0.0 || !Running.load(std::memory_order_relaxed)) {
        return 0;
    }
    const double since = static_cast<double>(steadyNs - ns) * 1e-9 * rate;
    const double at = static_cast<double>(position) + since + 2.0 * frames;
    return at > 0.0 ? static_cast<uint64_t>(at) : 0;
}

void TAudioEngine::EndBlock(uint64_t position, const float* left, const float* right, size_t n,
                            uint32_t late) {
    if (Tap != nullptr) {
        Tap->TapBlock(position, left, right, static_cast<uint32_t>(n), late);
    }
    SamplePosition.store(position + n, std::memory_order_relaxed);
}

void TAudioEngine::DriverReset(IAudioHost* /*Sender*/) {
    ResetPending.store(true);
    if (!Dispatch) {
        RebuildTones();
        return;
    }
    // The engine may be gone by the time the owner runs the routine.
    std::weak_ptr<int> alive = aliveToken_;
    Dispatch([this, alive] {
        if (alive.lock()) {
            RebuildTones();
        }
    });
}

void TAudioEngine::RebuildTones() {
    rebuilding_ = true;
    if (OnRebuildTones) {
        OnRebuildTones();
    }
    rebuilding_ = false;
    ResetPending.store(false);
}

void TAudioEngine::WaitForOscillators() {
    if (renderer_) {
        renderer_->WaitIdle();
    }
}

void TAudioEngine::RenderOffline(TArrayOfSingleArray& outBuffer) {
    static const TArrayOfSingleArray noInput;
    WaitForOscillators();
    BufferSwitch(hostPtr_.get(), noInput, outBuffer);
}

} // namespace varko
