// The per-sample formulas of one tone, written as plainly as they read: one filter Tick and
// one delay-line Tick per band and sample, the excitation computed sample by sample. The vector
// kernels of TWaveguideBands must equal it bit for bit; the tests hold them to it, and the
// benchmarks measure them against it.
#pragma once

#include "dsp/Excitation.h"
#include "dsp/WaveguideBandpassFilter.h"
#include "dsp/WaveguideDelay.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace varko {

class TReferenceTone {
public:
    // f, fs in hertz; endType as the bands take it; ratios and gains per mode, the
    // bands stopping at the first mode above half the rate; seed starts the noise.
    TReferenceTone(float f, float fs, TEndType endType, bool interpolate,
                   const std::vector<float>& ratios, const std::vector<float>& gains,
                   uint32_t seed);
    // One sample of the tone, reading the playing values.
    float Tick(const TWaveguidePlaying& in);

private:
    TExcitation shape_; // its state only: the reference computes every sample itself
    std::vector<TWaveguideBPFilter4p> filters_;
    std::vector<std::unique_ptr<TWaveguideDelay>> delays_;
    std::vector<float> gains_;
    std::vector<int32_t> quiet_;
};

} // namespace varko
