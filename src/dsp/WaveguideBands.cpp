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
    const int bands = BandCount();
    for (int done = 0; done < n;) {
        const int m = std::min(n - done, MaxChunk);
        float* out = Out + done;
        std::fill(out, out + m, 0.0f);
        done += m;
        if (Silent && Excitation.SkipQuiet(In, m)) {
            continue;
        }
        const bool excited = Excitation.Render(In, X0Buf.data(), FbBuf.data(), m);
        FilterLanes.Run(X0Buf.data(), excited, m, BandOut.get());
        for (int b = 0; b < bands; ++b) {
            const bool skipped = FilterLanes.Skipped(b);
            LineInputs[b] =
                skipped ? Zeros.data() : BandOut.get() + static_cast<size_t>(b) * MaxChunk;
            LineInputZero[b] = skipped;
        }
        // Each line adds into the output in band order, as the per-sample sum does.
        DelayLanes.Run(LineInputs.data(), LineInputZero.data(), FbBuf.data(), out, m);
        Silent = !excited && FilterLanes.AllSkipped() && DelayLanes.AllSilent();
    }
}

} // namespace varko
