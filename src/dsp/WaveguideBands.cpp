#include "dsp/WaveguideBands.h"

#include <algorithm>
#include <cmath>

namespace varko {

void TWaveguideBands::Build(float Frequency, float SampleRate, int32_t EndType, bool Interpolate,
                            const std::vector<float>& Ratios, const std::vector<float>& Gains,
                            float Resonance, uint32_t Seed) {
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
            Filters.back().SetParams(fm, SampleRate, 4.0f);
            bandGains.push_back(Gains[i]);
        }
    }
    FilterLanes.Assign(Filters, bandGains);
    DelayLanes.Assign(lengths, Interpolate);
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

} // namespace varko
