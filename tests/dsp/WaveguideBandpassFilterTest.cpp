#include "dsp/WaveguideBandpassFilter.h"
#include "dsp/WaveguideDelay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace varko;

namespace {
// Steady-state amplitude of the filter's answer to a unit sine at f.
double Gain(float fc, double f, double fs = 48000.0) {
    TWaveguideBPFilter4p filter;
    filter.SetParams(fc, static_cast<float>(fs), 4.0f);
    double peak = 0;
    for (int i = 0; i < 40000; ++i) {
        const float y = filter.Tick(std::sin(2 * std::numbers::pi * f * i / fs));
        if (i > 30000) {
            peak = std::max(peak, static_cast<double>(std::fabs(y)));
        }
    }
    return peak;
}
} // namespace

TEST(WaveguideBPFilter4p, CoefficientsAt1kHz) {
    TWaveguideBPFilter4p f;
    f.SetParams(1000.0f, 48000.0f, 4.0f);
    EXPECT_EQ(f.Frequency, 1000.0f);
    EXPECT_EQ(f.SampleRate, 48000.0f);
    EXPECT_EQ(f.Q, 4.0f);
    EXPECT_NEAR(f.LpGain, 7.9399e-05, 1e-8);
    EXPECT_NEAR(f.HpGain, 0.933894, 1e-6);
    const double lpA[] = {3.451328, -4.468069, 2.570019, -0.554549};
    const double hpA[] = {3.856330, -5.592769, 3.614798, -0.878408};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(f.LpA[i], lpA[i], 1e-6);
        EXPECT_NEAR(f.HpA[i], hpA[i], 1e-6);
    }
    const double lpB[] = {4, 6, 4, 1}, hpB[] = {-4, 6, -4, 1};
    for (int i = 0; i < 4; ++i) {
        EXPECT_DOUBLE_EQ(f.LpB[i], lpB[i] * f.LpGain);
        EXPECT_DOUBLE_EQ(f.HpB[i], hpB[i] * f.HpGain);
    }
}

TEST(WaveguideBPFilter4p, ResponsePeaksAtItsFrequency) {
    EXPECT_NEAR(Gain(1000, 1000), 15.73, 0.05);
    EXPECT_NEAR(Gain(1000, 891), 7.7, 0.2);
    EXPECT_NEAR(Gain(1000, 1122), 7.7, 0.2);
    EXPECT_LT(Gain(1000, 500), 0.3);
    EXPECT_LT(Gain(1000, 2000), 0.3);
}

TEST(WaveguideBPFilter4p, SilentUntilParametersAreSet) {
    TWaveguideBPFilter4p f;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(f.Tick(i % 2 ? 1.0 : -3.0), 0.0f);
    }
}

TEST(WaveguideBPFilter4p, ImpulseResponseFallsToExactZero) {
    TWaveguideBPFilter4p f;
    f.SetParams(4000.0f, 48000.0f, 4.0f);
    float first = f.Tick(1.0);
    EXPECT_FLOAT_EQ(first, static_cast<float>(f.LpGain * f.HpGain));
    bool zero = false;
    for (int i = 0; i < 48000 && !zero; ++i) {
        const float y = f.Tick(0.0);
        ASSERT_TRUE(y == 0.0f || std::fabs(y) >= DenormalThreshold) << "denormal tail at " << i;
        zero = y == 0.0f && f.HpOut == 0.0 && f.LpOut == 0.0;
    }
    EXPECT_TRUE(zero);
}
