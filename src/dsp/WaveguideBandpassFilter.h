// The band-pass filter in front of a waveguide band's delay line: a four-pole resonant low-pass
// cascaded with a four-pole resonant high-pass, both peaking near the band's frequency.
//
// Each half is the bilinear transform of (1 + F) / ((1 + s)^4 + F), a four-stage ladder with
// feedback F = (4Q - 3) / (Q + 1), prewarped with T = tan(pi f / fs). The factor 1 + d,
// d = (1 - F/4)^2, moves the low-pass corner up and the high-pass corner down by the same ratio,
// so that both resonance peaks lie at about f. Each half runs as one fourth-order section in
// transposed direct form II: numerator g0 (1 + z^-1)^4 or h0 (1 - z^-1)^4, b1..b4 and -a1..-a4
// below; unit gain far into the pass band.
#pragma once

#include <cstdint>

namespace varko {

// Each band's Q: narrow enough that a band rings with its own mode alone, wide enough that a
// mode a little off its line's pitch (a whole-sample line) still passes.
inline constexpr float BandQ = 4.0f;

class TWaveguideBPFilter4p {
public:
    // All coefficients start at zero: the filter outputs silence until SetParams. Threads that
    // run filters set flush-to-zero themselves (core/RealTime.h).
    // Frequency and SampleRate in hertz (0 < Frequency < SampleRate / 2), Q > 0 (the bands use
    // 4). Keeps the section states.
    void SetParams(float frequency, float sampleRate, float q);
    // Recomputes the coefficients from Frequency, Q and SampleRate.
    void UpdateCoefficients();

    // One sample through both sections (64-bit inside, 32-bit out).
    float Tick(double input);

    // After this many consecutive zero inputs a band's filter stops running (its output is 0)
    // until the next input that is not 0.
    static constexpr int32_t QuietLimit = 1000;

    float Frequency = 0.0f;
    float Q = 0.0f;
    float SampleRate = 0.0f;
    alignas(16) double LpB[4] = {};     // b1..b4 of the low-pass
    alignas(16) double LpA[4] = {};     // -a1..-a4 of the low-pass
    alignas(16) double LpState[4] = {}; // s1..s4
    alignas(16) double HpB[4] = {};     // b1..b4 of the high-pass
    alignas(16) double HpA[4] = {};     // -a1..-a4 of the high-pass
    alignas(16) double HpState[4] = {}; // s1..s4
    double LpOut = 0.0;                 // last low-pass output
    double HpOut = 0.0;                 // last output of the filter
    double LpGain = 0.0;                // g0
    double HpGain = 0.0;                // h0
};

} // namespace varko
