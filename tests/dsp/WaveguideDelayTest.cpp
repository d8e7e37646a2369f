#include "dsp/WaveguideDelay.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

using namespace varko;

TEST(WaveguideDelay, ShortLengthsBecomeTwoAndDelayByTwo) {
    EXPECT_EQ(TWaveguideDelay(0).Size, 2);
    EXPECT_EQ(TWaveguideDelay(1).Size, 2);
    EXPECT_EQ(TWaveguideDelay(-5).Size, 2);
    TWaveguideDelay d(2);
    EXPECT_EQ(d.Tick(1.0f), 0.0f);
    EXPECT_EQ(d.Tick(0.0f), 0.0f);
    EXPECT_EQ(d.Tick(0.0f), 1.0f);
    EXPECT_EQ(d.Tick(0.0f), 0.0f);
}

TEST(WaveguideDelay, ImpulseRecirculatesWithFeedbackPerPeriod) {
    const int n = 7;
    TWaveguideDelay d(n);
    d.Feedback = 0.5f;
    std::vector<float> out;
    for (int t = 1; t <= 4 * n + 1; ++t) {
        out.push_back(d.Tick(t == 1 ? 1.0f : 0.0f));
    }
    for (int t = 1; t <= 4 * n + 1; ++t) {
        float expected = 0.0f;
        for (int k = 1; k <= 4; ++k) {
            if (t == k * n + 1) {
                expected = std::ldexp(1.0f, 1 - k); // 1, 0.5, 0.25, 0.125
            }
        }
        EXPECT_EQ(out[t - 1], expected) << "tick " << t;
    }
}

TEST(WaveguideDelay, TinyFeedbackTermIsDropped) {
    TWaveguideDelay d(2);
    d.Tick(1.0f);
    d.Tick(0.0f);
    d.Feedback = 1e-21f;
    EXPECT_EQ(d.Tick(0.25f), 1.0f); // fb 1e-21 dropped: the slot keeps 0.25 alone
    d.Tick(0.0f);
    EXPECT_EQ(d.Tick(0.0f), 0.25f);
}

TEST(WaveguideInterpolatedDelay, SizeAndFraction) {
    TWaveguideInterpolatedDelay a(10.0f);
    EXPECT_EQ(a.Whole, 10);
    EXPECT_EQ(a.Fraction, 0.0f);
    TWaveguideInterpolatedDelay b(10.3f);
    EXPECT_EQ(b.Whole, 10);
    EXPECT_EQ(b.Fraction, 10.3f - 10.0f);
    // One slot more than the whole length, and one for the fourth point.
    EXPECT_EQ(b.Size, 12);
    TWaveguideInterpolatedDelay c(1.5f);
    EXPECT_EQ(c.Whole, 2);
    EXPECT_EQ(c.Fraction, 0.0f);
    TWaveguideInterpolatedDelay nan(std::numeric_limits<float>::quiet_NaN());
    EXPECT_EQ(nan.Whole, 2);
}

TEST(WaveguideInterpolatedDelay, IntegerLengthBehavesLikePlainDelay) {
    TWaveguideInterpolatedDelay a(10.0f);
    TWaveguideDelay b(10);
    a.Feedback = b.Feedback = 0.9f;
    uint32_t seed = 1;
    for (int i = 0; i < 500; ++i) {
        seed = seed * 134775813u + 1u;
        const float x = i < 50 ? static_cast<float>(seed) / 4294967296.0f - 0.5f : 0.0f;
        ASSERT_EQ(a.Tick(x), b.Tick(x)) << "tick " << i;
    }
}

TEST(WaveguideInterpolatedDelay, HermiteHitsItsEndPoints) {
    const float pts[][4] = {{0.3f, -1.0f, 2.5f, 7.0f}, {-4.0f, 0.125f, -0.5f, 1e3f}, {1, 1, 1, 1}};
    for (const auto& p : pts) {
        EXPECT_EQ(TWaveguideInterpolatedDelay::Hermite(0.0f, p[0], p[1], p[2], p[3]), p[1]);
        EXPECT_FLOAT_EQ(TWaveguideInterpolatedDelay::Hermite(1.0f, p[0], p[1], p[2], p[3]), p[2]);
    }
}

TEST(WaveguideInterpolatedDelay, ImpulseArrivesAtTheFractionalLength) {
    // The centre of mass of the interpolated impulse lies at exactly L ticks.
    for (float l : {5.25f, 8.5f, 20.75f}) {
        TWaveguideInterpolatedDelay d(l);
        double sum = 0, moment = 0;
        for (int t = 0; t < 40; ++t) {
            const float y = d.Tick(t == 0 ? 1.0f : 0.0f);
            sum += y;
            moment += y * t;
        }
        EXPECT_NEAR(sum, 1.0, 1e-6);
        EXPECT_NEAR(moment / sum, l, 1e-5) << l;
    }
}
