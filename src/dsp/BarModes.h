// The vibration modes of one tone: the uniform slender bar's modes from fixed formulas, or
// the modes of a vibration mode file, each cut at the mode limit and at half the sample rate.
#pragma once

#include "dsp/EndType.h"

#include <cstdint>
#include <vector>

namespace varko {

// Position 11 of the weighting control means 1/n!; 0..10 mean 1/n^(p/2).
inline constexpr int ModeWeightFactorial = 11;

// Frequency of mode n (1 = the fundamental) of a uniform bar, as a multiple of mode 1.
float UniformBarRatio(TEndType end, int n);

// Excitation gain of mode n under weighting position p (0..11).
float ModeWeight(int n, int p);

struct TToneModes {
    std::vector<float> Ratios;
    std::vector<float> Gains;
    TEndType EndType = TEndType::None;
};

// Uniform-bar modes for a tone of f0 Hz at fs Hz: at most modeLimit modes, none above fs/2
// (the fundamental is always listed; the oscillator drops it when it lies above fs/2).
TToneModes UniformBarModes(TEndType end, float f0, float fs, int modeLimit, int weighting);

// Modes of a vibration mode file in file order: at most modeLimit, ending at the first one
// above fs/2. EndType stays None when no mode is taken.
TToneModes FileModes(const std::vector<float>& modeRatios, const std::vector<float>& modeLevels,
                     TEndType end, float f0, float fs, int modeLimit);

} // namespace varko
