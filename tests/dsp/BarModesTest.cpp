#include "dsp/BarModes.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace varko;

namespace {
void ExpectRatios(const std::vector<float>& got, const std::vector<float>& want, float tol) {
    ASSERT_EQ(got.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_NEAR(got[i], want[i], tol * want[i]) << "mode " << i + 1;
    }
}
} // namespace

TEST(UniformBar, RatiosOfTheThreeEndConditions) {
    ExpectRatios(UniformBarModes(TEndType::Free, 200, 48000, 8, 6).Ratios,
                 {1, 2.75715f, 5.40402f, 8.93317f, 13.3446f, 18.6384f, 24.8144f, 31.8727f}, 5e-6f);
    ExpectRatios(UniformBarModes(TEndType::Fixed, 50, 48000, 8, 6).Ratios,
                 {1, 6.26257f, 17.536f, 34.3706f, 56.8167f, 84.8744f, 118.544f, 157.824f}, 5e-6f);
    ExpectRatios(UniformBarModes(TEndType::Hinged, 100, 48000, 8, 6).Ratios,
                 {1, 4, 9, 16, 25, 36, 49, 64}, 0);
}

TEST(UniformBar, CubicWeightingByDefault) {
    const auto m = UniformBarModes(TEndType::Free, 200, 48000, 8, 6);
    ASSERT_EQ(m.Gains.size(), 8u);
    for (int n = 1; n <= 8; ++n) {
        EXPECT_FLOAT_EQ(m.Gains[n - 1], 1.0f / (n * n * n));
    }
    EXPECT_EQ(m.EndType, TEndType::Free);
}

TEST(UniformBar, WeightingExtremes) {
    EXPECT_FLOAT_EQ(ModeWeight(4, 11), 1.0f / 24);
    EXPECT_FLOAT_EQ(ModeWeight(3, 11), 1.0f / 6);
    EXPECT_FLOAT_EQ(ModeWeight(7, 0), 1.0f);
    EXPECT_FLOAT_EQ(ModeWeight(4, 5), static_cast<float>(1.0 / std::pow(4.0, 2.5)));
}

TEST(UniformBar, StopsAtHalfTheSampleRate) {
    // 8.93317 x 2000 = 17866 Hz is kept, mode 5 at 26689 Hz is not.
    EXPECT_EQ(UniformBarModes(TEndType::Free, 2000, 48000, 8, 6).Ratios.size(), 4u);
    ExpectRatios(UniformBarModes(TEndType::Hinged, 1000, 44100, 8, 6).Ratios, {1, 4, 9, 16}, 0);
}

TEST(UniformBar, ModeLimit) {
    EXPECT_EQ(UniformBarModes(TEndType::Fixed, 100, 48000, 1, 6).Ratios.size(), 1u);
    EXPECT_EQ(UniformBarModes(TEndType::Fixed, 100, 48000, 2, 6).Ratios.size(), 2u);
    EXPECT_EQ(UniformBarModes(TEndType::Free, 1, 48000, 100, 6).Ratios.size(), 100u);
}

TEST(UniformBar, AbsurdFundamentalsStayBounded) {
    // Zero, negative and tiny fundamentals must neither loop forever nor overflow the count.
    EXPECT_EQ(UniformBarModes(TEndType::Free, 0.0f, 48000, 8, 6).Ratios.size(), 1u);
    EXPECT_EQ(UniformBarModes(TEndType::Free, -200.0f, 48000, 8, 6).Ratios.size(), 1u);
    EXPECT_EQ(UniformBarModes(TEndType::Free, 1e-30f, 48000, 8, 6).Ratios.size(), 8u);
    // A fundamental above half the rate keeps mode 1 only; the oscillator then builds nothing.
    EXPECT_EQ(UniformBarModes(TEndType::Free, 30000, 44100, 8, 6).Ratios.size(), 1u);
}

TEST(FileModesTest, TakenInFileOrderUntilTheFirstTooHigh) {
    const std::vector<float> ratios{1, 2.5f, 30, 3};
    const std::vector<float> levels{1, 0.5f, 0.25f, 0.1f};
    const auto m = FileModes(ratios, levels, TEndType::Hinged, 1000, 44100, 8);
    ExpectRatios(m.Ratios, {1, 2.5f}, 0);
    ExpectRatios(m.Gains, {1, 0.5f}, 0);
    EXPECT_EQ(m.EndType, TEndType::Hinged);
    EXPECT_EQ(FileModes(ratios, levels, TEndType::Free, 100, 44100, 3).Ratios.size(), 3u);
}

TEST(FileModesTest, EmptyFileLeavesNoEndType) {
    const auto m = FileModes({}, {}, TEndType::Fixed, 200, 48000, 8);
    EXPECT_TRUE(m.Ratios.empty());
    EXPECT_EQ(m.EndType, TEndType::None);
}
