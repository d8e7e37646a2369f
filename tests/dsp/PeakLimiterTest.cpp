// The master limiter: quiet signals pass unchanged (late by the look-ahead), loud ones never
// leave above the ceiling, the gain comes back after a peak, and the meters hear how much it
// took.
#include "dsp/PeakLimiter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace varko;

namespace {

std::vector<float> Sine(size_t n, double f, double amplitude, double rate = 48000.0) {
    std::vector<float> x(n);
    for (size_t i = 0; i < n; ++i) {
        x[i] =
            static_cast<float>(amplitude * std::sin(2 * M_PI * f * static_cast<double>(i) / rate));
    }
    return x;
}

// Through the limiter in blocks of 256, as the mixer calls it.
void Through(TPeakLimiter& limiter, std::vector<float>& left, std::vector<float>& right) {
    for (size_t start = 0; start < left.size(); start += 256) {
        const size_t n = std::min<size_t>(256, left.size() - start);
        limiter.Process(left.data() + start, right.data() + start, n);
    }
}

} // namespace

TEST(PeakLimiter, BelowTheCeilingTheSignalPassesUnchangedButLate) {
    TPeakLimiter limiter;
    limiter.SetSampleRate(48000.0);
    const size_t delay = limiter.Latency();
    EXPECT_EQ(delay, 96u); // 2 ms
    const std::vector<float> in = Sine(9600, 440.0, 0.9);
    std::vector<float> left = in, right = in;
    Through(limiter, left, right);
    for (size_t i = 0; i < delay; ++i) {
        ASSERT_EQ(left[i], 0.0f);
    }
    for (size_t i = delay; i < in.size(); ++i) {
        ASSERT_EQ(left[i], in[i - delay]) << i;
        ASSERT_EQ(right[i], in[i - delay]) << i;
    }
    EXPECT_EQ(limiter.TakeLeastGain(), 1.0f);
}

TEST(PeakLimiter, LoudPeaksNeverLeaveAboveTheCeilingAndTheGainComesBack) {
    TPeakLimiter limiter;
    limiter.SetSampleRate(48000.0);
    // A quiet tone, a sudden burst at +8 dBFS on the left alone, and the quiet tone again.
    std::vector<float> left = Sine(48000, 1000.0, 0.5), right = left;
    for (size_t i = 10000; i < 12000; ++i) {
        left[i] *= 5.0f;
    }
    const std::vector<float> in = left;
    Through(limiter, left, right);
    float peak = 0.0f;
    for (const float v : left) {
        peak = std::max(peak, std::fabs(v));
    }
    EXPECT_LE(peak, TPeakLimiter::Ceiling * 1.0001f);
    EXPECT_GT(peak, TPeakLimiter::Ceiling * 0.95f); // limited, not silenced
    // Linked: the right channel goes down with the left.
    const size_t d = limiter.Latency();
    EXPECT_LT(std::fabs(right[11000 + d]), 0.3f);
    const float least = limiter.TakeLeastGain();
    EXPECT_NEAR(least, TPeakLimiter::Ceiling / 2.5f, 0.02f);
    EXPECT_EQ(limiter.TakeLeastGain(), 1.0f); // taken: back to none
    // Half a second later the tone passes as it came.
    for (size_t i = 40000; i < 48000; ++i) {
        ASSERT_NEAR(left[i], in[i - d], 1e-3f) << i;
    }
    // The gain starts down no sooner than the look-ahead before the burst: all before passes.
    for (size_t i = d; i < 10000; ++i) {
        ASSERT_EQ(left[i], in[i - d]) << i;
    }
    EXPECT_LT(std::fabs(left[10000 + d - 1]), std::fabs(in[10000 - 1]) * 0.7f);
}

TEST(PeakLimiter, AMonoCallAndARateChangeWork) {
    TPeakLimiter limiter;
    limiter.SetSampleRate(96000.0);
    EXPECT_EQ(limiter.Latency(), 192u);
    std::vector<float> x(1000, 4.0f);
    limiter.Process(x.data(), nullptr, x.size());
    for (const float v : x) {
        ASSERT_LE(v, TPeakLimiter::Ceiling * 1.0001f);
    }
    limiter.SetSampleRate(1e7); // beyond what it holds: the longest look-ahead it has
    EXPECT_LE(limiter.Latency(), 769u);
}
