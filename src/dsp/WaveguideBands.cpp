#include "dsp/WaveguideBands.h"

#include <algorithm>
#include <cmath>

namespace varko {

namespace {

int32_t RoundHalfEven(double v) {
    return static_cast<int32_t>(std::nearbyint(v));
}

} // namespace

void TWaveguideBands::Build(float Frequency, float SampleRate, int32_t EndType, bool Interpolate,
                            const std::vector<float>& Ratios, const std::vector<float>& Gains,
                            float Resonance, uint32_t Seed) {
    Excitation.Reset(SampleRate, EndType, Seed);
    const bool rateOk = SampleRate > 0.0f && SampleRate <= MaxSampleRate;

    Filters.clear();
    Delays.clear();
    Quiet.clear();
    BandGains.clear();
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
            if (Interpolate) {
                Delays.push_back(std::make_unique<TWaveguideInterpolatedDelay>(length));
            } else {
                Delays.push_back(std::make_unique<TWaveguideDelay>(RoundHalfEven(length)));
            }
            Delays.back()->Feedback = Resonance;
            Filters.emplace_back();
            Filters.back().SetParams(fm, SampleRate, 4.0f);
            Quiet.push_back(0);
            BandGains.push_back(Gains[i]);
        }
    }
    X0Buf.assign(MaxChunk, 0.0f);
    FbBuf.assign(MaxChunk, 0.0f);
    BandBuf.assign(MaxChunk, 0.0f);
    BandBuf2.assign(MaxChunk, 0.0f);
    Zeros.assign(MaxChunk, 0.0f);
}

void TWaveguideBands::RenderBlock(const TWaveguidePlaying& In, float* Out, int n) {
    for (int done = 0; done < n;) {
        const int m = std::min(n - done, MaxChunk);
        float* out = Out + done;
        std::fill(out, out + m, 0.0f);
        const bool excited = Excitation.Render(In, X0Buf.data(), FbBuf.data(), m);
        const size_t bands = Filters.size();
        const auto quiet = [this, excited](size_t b) {
            return !excited && Quiet[b] >= TWaveguideBPFilter4p::QuietLimit;
        };
        size_t b = 0;
        // Bands in pairs, two filters at once; then each band's line adds into the output in
        // band order.
        for (; b + 1 < bands; b += 2) {
            const float* inputA = Zeros.data();
            const float* inputB = Zeros.data();
            if (!quiet(b) || !quiet(b + 1)) {
                TWaveguideBPFilter4p::TickBlockPair(
                    Filters[b], Filters[b + 1], X0Buf.data(), BandGains[b], BandGains[b + 1],
                    Quiet[b], Quiet[b + 1], BandBuf.data(), BandBuf2.data(), m);
                inputA = BandBuf.data();
                inputB = BandBuf2.data();
            }
            Delays[b]->TickBlock(inputA, FbBuf.data(), out, m);
            Delays[b + 1]->TickBlock(inputB, FbBuf.data(), out, m);
        }
        for (; b < bands; ++b) {
            const float* input = Zeros.data();
            if (!quiet(b)) {
                Filters[b].TickBlock(X0Buf.data(), BandGains[b], Quiet[b], BandBuf.data(), m);
                input = BandBuf.data();
            }
            Delays[b]->TickBlock(input, FbBuf.data(), out, m);
        }
        done += m;
    }
}

} // namespace varko
