#include "dsp/WaveguideBands.h"

#include <algorithm>
#include <cmath>

namespace varko {

void TWaveguideBands::Build(float Frequency, float SampleRate, TEndType EndType, bool Interpolate,
                            const std::vector<float>& Ratios, const std::vector<float>& Gains,
                            float Resonance, uint32_t Seed, float ABendRoom) {
    (void)Resonance;
    Excitation.Reset(SampleRate, EndType, Seed);
    const bool rateOk = SampleRate > 0.0f && SampleRate <= MaxSampleRate;

    Filters.clear();
    std::vector<float> lengths, bandGains;
    const size_t count = std::min(Ratios.size(), Gains.size());
    if (rateOk) {
        Filters.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const float fm = Ratios[i] * Frequency;
            if (fm > SampleRate / 2.0f) {
                break; // the band list ends at the first mode above half the rate
            }
            if (!(fm > 0.0f) || !std::isfinite(fm)) {
                continue;
            }
            const float length = SampleRate / fm;
            if (!(length <= SampleRate * MaxDelaySeconds)) {
                continue; // memory stays bounded whatever the frequency
            }
            lengths.push_back(length);
            Filters.emplace_back();
            Filters.back().SetParams(fm, SampleRate, BandQ);
            bandGains.push_back(Gains[i]);
        }
    }
    FilterLanes.Assign(Filters, bandGains);
    BendRoom = ABendRoom >= 1.0f ? std::min(ABendRoom, MaxBendUp) : 1.0f;
    BuiltRate = SampleRate;
    Pitch = TunedPitch = 1.0f;
    BendGlide = rateOk ? 1.0f - std::exp(-1.0f / (BendGlideSeconds * SampleRate)) : 1.0f;
    PitchBuf.assign(MaxChunk, 1.0f);
    DelayLanes.Assign(lengths, Interpolate, BendRoom, SampleRate * MaxDelaySeconds);
    X0Buf.assign(MaxChunk, 0.0f);
    FbBuf.assign(MaxChunk, 0.0f);
    Zeros.assign(MaxChunk, 0.0f);
    const size_t bands = Filters.size();
    // The filters write every lane, padding lanes too.
    BandOut = hwy::AllocateAligned<float>(std::max<size_t>(FilterLanes.LaneCount(), 1) * MaxChunk);
    LineInputs.assign(bands, nullptr);
    LineInputZero.assign(bands, 0);
    Silent = true;
}

void TWaveguideBands::RenderBlock(const TWaveguidePlaying& In, float* Out, int n) {
    TWaveguideBands* self = this;
    const TWaveguidePlaying* in = &In;
    RenderTogether({&self, 1}, {&in, 1}, &Out, n);
}

void TWaveguideBands::RenderTogether(std::span<TWaveguideBands* const> Bands,
                                     std::span<const TWaveguidePlaying* const> In,
                                     float* const* Out, int n) {
    // Room for the filter blocks of every tone of a chunk: 8 tones of 100 modes need 104.
    constexpr size_t JobRoom = 128;
    bandkernels::TFilterJob jobs[JobRoom];
    const size_t count = std::min({Bands.size(), In.size(), MaxTogether});
    bool active[MaxTogether] = {};
    bool excited[MaxTogether] = {};
    for (int done = 0; done < n;) {
        const int m = std::min(n - done, MaxChunk);
        size_t held = 0;
        for (size_t t = 0; t < count; ++t) {
            TWaveguideBands& b = *Bands[t];
            float* out = Out[t] + done;
            if (b.DelayLanes.Bent() || In[t]->Pitch.load(std::memory_order_relaxed) != 1.0f) {
                b.RenderBent(*In[t], out, m);
                active[t] = false;
                continue;
            }
            std::fill(out, out + m, 0.0f);
            active[t] = !(b.Silent && b.Excitation.SkipQuiet(*In[t], m));
            if (!active[t]) {
                continue;
            }
            excited[t] = b.Excitation.Render(*In[t], b.X0Buf.data(), b.FbBuf.data(), m);
            if (b.FilterLanes.BlockCount() > JobRoom) {
                b.FilterLanes.Run(b.X0Buf.data(), excited[t], m, b.BandOut.get());
                continue;
            }
            if (held + b.FilterLanes.BlockCount() > JobRoom) {
                bandkernels::RunFilterJobs(jobs, held, m);
                held = 0;
            }
            held += b.FilterLanes.AddJobs(b.X0Buf.data(), excited[t], b.BandOut.get(), jobs + held);
        }
        bandkernels::RunFilterJobs(jobs, held, m);
        for (size_t t = 0; t < count; ++t) {
            if (!active[t]) {
                continue;
            }
            TWaveguideBands& b = *Bands[t];
            for (int band = 0; band < b.BandCount(); ++band) {
                const bool skipped = b.FilterLanes.Skipped(band);
                b.LineInputs[band] = skipped
                                         ? b.Zeros.data()
                                         : b.BandOut.get() + static_cast<size_t>(band) * MaxChunk;
                b.LineInputZero[band] = skipped;
            }
            // Each line adds into the output in band order, as the per-sample sum does.
            b.DelayLanes.Run(b.LineInputs.data(), b.LineInputZero.data(), b.FbBuf.data(),
                             Out[t] + done, m);
            b.Silent = !excited[t] && b.FilterLanes.AllSkipped() && b.DelayLanes.AllSilent();
        }
        done += m;
    }
}

void TWaveguideBands::RetuneFilters(float Ratio) {
    TunedPitch = Ratio;
    for (int band = 0; band < BandCount(); ++band) {
        const TWaveguideBPFilter4p& built = Filters[static_cast<size_t>(band)];
        if (Ratio == 1.0f) {
            FilterLanes.Retune(band, built); // exactly the coefficients it was built with
            continue;
        }
        TWaveguideBPFilter4p f;
        // The filter's design holds below half the rate; a mode bent past it stays near there.
        f.SetParams(std::min(built.Frequency * Ratio, 0.45f * BuiltRate), BuiltRate, built.Q);
        FilterLanes.Retune(band, f);
    }
}

void TWaveguideBands::RenderBent(const TWaveguidePlaying& In, float* Out, int n) {
    const float played =
        std::clamp(In.Pitch.load(std::memory_order_relaxed), 1.0f / BendRoom, MaxBendUp);
    std::fill(Out, Out + n, 0.0f);
    if (Silent && Excitation.SkipQuiet(In, n)) {
        // Nothing sounds: no glide to hear.
        Pitch = played;
        if (played == 1.0f) {
            DelayLanes.Unbend();
            if (TunedPitch != 1.0f) {
                RetuneFilters(1.0f);
            }
        }
        return;
    }
    const bool excited = Excitation.Render(In, X0Buf.data(), FbBuf.data(), n);
    for (int i = 0; i < n; ++i) {
        Pitch += (played - Pitch) * BendGlide;
        // Within a fifth of a cent it is there (the float steps would stall short of it), and
        // an unbent tone sounds exactly as built.
        if (std::fabs(Pitch - played) <= 1e-4f * played) {
            Pitch = played;
        }
        PitchBuf[static_cast<size_t>(i)] = Pitch;
    }
    bool allSkipped = true;
    for (int from = 0; from < n; from += BendStep) {
        const int len = std::min(BendStep, n - from);
        const float at = PitchBuf[static_cast<size_t>(from)];
        if (at != TunedPitch) {
            RetuneFilters(at);
        }
        FilterLanes.Run(X0Buf.data() + from, excited, len, BandOut.get() + from);
        for (int band = 0; band < BandCount(); ++band) {
            if (FilterLanes.Skipped(band)) {
                float* o = BandOut.get() + static_cast<size_t>(band) * MaxChunk + from;
                std::fill(o, o + len, 0.0f);
            } else {
                allSkipped = false;
            }
        }
    }
    for (int band = 0; band < BandCount(); ++band) {
        LineInputs[band] = BandOut.get() + static_cast<size_t>(band) * MaxChunk;
        LineInputZero[band] = allSkipped;
    }
    DelayLanes.RunBent(LineInputs.data(), LineInputZero.data(), FbBuf.data(), PitchBuf.data(), Out,
                       n);
    Silent = !excited && allSkipped && DelayLanes.AllSilent();
}

} // namespace varko
