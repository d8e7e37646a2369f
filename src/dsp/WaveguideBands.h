// The bands of one tone: one band-pass filter feeding one delay line per vibration mode, all
// driven by the tone's excitation and summed into its output. No threads: the oscillator thread,
// the tests and the benchmarks drive it alike.
#pragma once

#include "dsp/Excitation.h"
#include "dsp/WaveguideBandpassFilter.h"
#include "dsp/WaveguideDelay.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace varko {

class TWaveguideBands {
public:
    // Longest block rendered in one piece; longer requests are rendered in pieces.
    static constexpr int MaxChunk = 1024;
    // Widest ring a band may get, in seconds of samples: longer bands are not built.
    static constexpr float MaxDelaySeconds = 1.0f;
    // Highest sample rate at which bands are built (bounds memory whatever the host says).
    static constexpr float MaxSampleRate = TExcitation::MaxSampleRate;

    // Frequency, SampleRate in hertz; EndType 1 free, 2 one end fixed, 3 hinged, else none;
    // Ratios: mode frequencies / Frequency, in build order; Gains: excitation gain per mode;
    // Resonance: the lines' first loop gain; Seed: the noise generator's start value.
    // Bands stop at the first mode above half the rate; modes that are not positive and finite,
    // or whose line would be longer than MaxDelaySeconds, get no band.
    void Build(float Frequency, float SampleRate, int32_t EndType, bool Interpolate,
               const std::vector<float>& Ratios, const std::vector<float>& Gains, float Resonance,
               uint32_t Seed);

    int BandCount() const { return static_cast<int>(Filters.size()); }

    // Renders n samples (any n >= 0) into Out, reading the playing values at every sample.
    void RenderBlock(const TWaveguidePlaying& In, float* Out, int n);

    TExcitation Excitation;
    std::vector<TWaveguideBPFilter4p> Filters;
    std::vector<std::unique_ptr<TWaveguideDelay>> Delays;
    std::vector<int32_t> Quiet; // per band: consecutive zero inputs its filter has seen
    std::vector<float> BandGains;

private:
    std::vector<float> X0Buf, FbBuf, BandBuf, BandBuf2, Zeros;
};

} // namespace varko
