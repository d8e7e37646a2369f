#include "engine/Tone.h"

#include "core/Exceptions.h"
#include "core/RealTime.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <typeinfo>

namespace varko {

namespace {

// Whether every sample is a number of at most RunawayLevel in magnitude (NaN fails the test).
bool WithinRange(const float* block, int32_t n) {
    bool ok = true;
    for (int32_t i = 0; i < n; ++i) {
        ok &= std::fabs(block[i]) <= TTone::RunawayLevel;
    }
    return ok;
}

} // namespace

void TTone::WaitBlockDone() const {
    while (phaseState_.load(std::memory_order_acquire) == Rendering) {
        phaseState_.wait(Rendering, std::memory_order_acquire);
    }
}

std::string TTone::CrashText() const {
    return ExceptionClassName + "@TWaveguideThread: " + ExceptionMessage;
}

void TTone::BuildBands(uint32_t seed) {
    bands_.Build(Frequency, SampleRate, EndType, Interpolate, Ratios, Gains,
                 Resonance.load(std::memory_order_relaxed), seed, BendRoom);
}

void TTone::RenderBlock(float* out, int n) {
    bands_.RenderBlock(*this, out, n);
}

void TTone::Build() {
    phaseState_.store(Rendering, std::memory_order_relaxed);
    builtSeed_ =
        Seed ? *Seed
             : static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    NoiseSeed = builtSeed_;
    const int32_t block = BlockSize >= 1 && BlockSize <= MaxBlockSize ? BlockSize : 0;
    Output[0].assign(static_cast<size_t>(block), 0.0f);
    Output[1].assign(static_cast<size_t>(block), 0.0f);
    BuildBands(builtSeed_);
    NoModes.store(bands_.BandCount() == 0);
    Ready.store(true);
    RenderClaimed();
}

bool TTone::BuildOnThisThread() {
    const TFlushDenormalsScope flush;
    try {
        Build();
        return true;
    } catch (...) {
        Fail();
        return false;
    }
}

bool TTone::Claim() {
    int32_t phase = phaseState_.load(std::memory_order_relaxed);
    return (phase == 0 || phase == 1) &&
           phaseState_.compare_exchange_strong(phase, Rendering, std::memory_order_acq_rel);
}

void TTone::RenderClaimed() {
    const int32_t index = WriteIndex.load(std::memory_order_relaxed) & 1;
    std::vector<float>& out = Output[static_cast<size_t>(index)];
    RenderSegments(out.data(), static_cast<int>(out.size()));
    FinishBlock(index, out.data(), static_cast<int>(out.size()));
}

void TTone::ApplyEvent(const TToneEvent& e) {
    Pressure.store(e.Pressure, std::memory_order_relaxed);
    Speed.store(e.Speed, std::memory_order_relaxed);
    StrikePosition.store(e.Strike, std::memory_order_relaxed);
}

void TTone::RenderSegments(float* out, int n) {
    int done = 0;
    for (uint32_t i = 0; i < Events.Count; ++i) {
        const TToneEvent& e = Events.Items[i];
        const int frame = std::min(static_cast<int>(e.Frame), n);
        if (frame > done) {
            RenderBlock(out + done, frame - done);
            done = frame;
        }
        ApplyEvent(e);
    }
    Events.Count = 0;
    if (done < n || n == 0) {
        RenderBlock(out + done, n - done);
    }
}

void TTone::FinishBlock(int32_t index, float* out, int n) {
    if (!WithinRange(out, n)) {
        // A fault, not playing: the rebuild allocates, which a sounding tone never does.
        std::fill(out, out + n, 0.0f);
        BuildBands(builtSeed_);
        Resets.fetch_add(1, std::memory_order_relaxed);
    }
    BlocksRendered.fetch_add(1, std::memory_order_relaxed);
    // The block written, not WriteIndex: the mixer may have moved that on meanwhile.
    phaseState_.store(index, std::memory_order_release);
    phaseState_.notify_all();
}

void TTone::Fail() {
    FatalException = std::current_exception();
    const TExceptionInfo info = CurrentException();
    ExceptionClassName = info.Class;
    ExceptionMessage = info.Message;
    phaseState_.store(Ended, std::memory_order_release);
    phaseState_.notify_all();
    if (OnFailed) {
        OnFailed(*this);
    }
}

void TTone::End() {
    phaseState_.store(Ended, std::memory_order_release);
    phaseState_.notify_all();
}

void TTone::RenderClaimedTogether(std::span<TTone* const> tones) {
    RenderGrouped(tones, -1);
}

void TTone::RenderNowTogether(std::span<TTone* const> tones, int n) {
    RenderGrouped(tones, n);
}

void TTone::RenderGrouped(std::span<TTone* const> tones, int n) {
    constexpr size_t MaxTogether = TWaveguideBands::MaxTogether;
    const bool now = n >= 0;
    TWaveguideBands* bands[MaxTogether];
    const TWaveguidePlaying* playing[MaxTogether];
    float* outs[MaxTogether];
    int32_t indices[MaxTogether];
    TTone* plain[MaxTogether];
    size_t count = 0;
    const auto flush = [&] {
        if (count == 0) {
            return;
        }
        // Plain bands throw nothing: they only compute in what they allocated when built.
        const int m = now ? n : static_cast<int>(plain[0]->Output[0].size());
        TWaveguideBands::RenderTogether({bands, count}, {playing, count}, outs, m);
        for (size_t i = 0; i < count; ++i) {
            plain[i]->FinishBlock(indices[i], outs[i], m);
        }
        count = 0;
    };
    for (TTone* t : tones) {
        if (now) {
            const int32_t phase = t->Phase();
            if ((phase != 0 && phase != 1) || static_cast<size_t>(n) > t->Output[0].size()) {
                continue;
            }
        }
        // Changes at the block's start only: applied here, the block renders with the others.
        bool split = false;
        for (uint32_t i = 0; i < t->Events.Count; ++i) {
            split = split || t->Events.Items[i].Frame != 0;
        }
        const bool together =
            typeid(*t) == typeid(TTone) && !t->Output[0].empty() && !split &&
            (now || count == 0 || t->Output[0].size() == plain[0]->Output[0].size());
        if (!together) {
            try {
                if (now) {
                    t->RenderSegments(t->Output[0].data(), n);
                    t->FinishBlock(0, t->Output[0].data(), n);
                } else {
                    t->RenderClaimed();
                }
            } catch (...) {
                t->Fail();
            }
            continue;
        }
        for (uint32_t i = 0; i < t->Events.Count; ++i) {
            t->ApplyEvent(t->Events.Items[i]);
        }
        t->Events.Count = 0;
        const int32_t index = now ? 0 : t->WriteIndex.load(std::memory_order_relaxed) & 1;
        bands[count] = &t->bands_;
        playing[count] = t;
        outs[count] = t->Output[static_cast<size_t>(index)].data();
        indices[count] = index;
        plain[count] = t;
        if (++count == MaxTogether) {
            flush();
        }
    }
    flush();
}

} // namespace varko
