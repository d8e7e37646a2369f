#include "files/ToneList.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace varko {
namespace {

ScaleDegrees TwelveEqual() {
    ScaleDegrees d{1.0f};
    for (int i = 1; i <= 12; ++i) {
        d.push_back(static_cast<float>(std::pow(2.0L, i / 12.0L)));
    }
    return d;
}

TEST(CalculateRepeats, NoScaleLeavesTheListAlone) {
    EXPECT_FALSE(CalculateRepeats({}, 3, 3, false).has_value());
}

TEST(CalculateRepeats, NoRepeatsGiveTheDegrees) {
    const ScaleDegrees d{1.0f, 1.5f, 1.25f, 3.0f};
    EXPECT_EQ(CalculateRepeats(d, 0, 0, false), d);
    EXPECT_EQ(CalculateRepeats(d, 0, 0, true), d);
}

TEST(CalculateRepeats, TwelveEqualOneOctaveEachWay) {
    const ScaleDegrees d = TwelveEqual();
    const ToneRatios plain = *CalculateRepeats(d, 1, 1, false);
    ASSERT_EQ(plain.size(), 37u);
    EXPECT_EQ(plain.front(), 0.5f);
    EXPECT_EQ(plain.back(), 4.0f);
    for (std::size_t i = 1; i < plain.size(); ++i) {
        EXPECT_LT(plain[i - 1], plain[i]) << i; // ascending, nothing doubled
    }
    const ToneRatios ends = *CalculateRepeats(d, 1, 1, true);
    ASSERT_EQ(ends.size(), 39u);
    EXPECT_EQ(std::count(ends.begin(), ends.end(), 1.0f), 2);
    EXPECT_EQ(std::count(ends.begin(), ends.end(), 2.0f), 2);
    // The scale itself sits unchanged after the lower copy.
    EXPECT_TRUE(std::equal(d.begin(), d.end(), ends.begin() + 13));
}

TEST(CalculateRepeats, UnisonAloneWithAndWithoutEnds) {
    EXPECT_EQ(CalculateRepeats({1.0f}, 4, 5, false), ToneRatios{1.0f});
    EXPECT_EQ(CalculateRepeats({1.0f}, 2, 3, true),
              (ToneRatios{0.25f, 0.5f, 1.0f, 2.0f, 4.0f, 8.0f}));
}

TEST(CalculateRepeats, CopiesAreOctavesWhateverTheLastDegree) {
    // A tritave scale: the first upper copy starts at 2 x the second degree, below 3.
    const ScaleDegrees d{1.0f, 1.25f, 3.0f};
    EXPECT_EQ(CalculateRepeats(d, 1, 1, false),
              (ToneRatios{0.5f, 0.625f, 1.0f, 1.25f, 3.0f, 2.5f, 6.0f}));
}

TEST(CalculateRepeats, TenOctavesDownIsExact) {
    const ToneRatios t = *CalculateRepeats({1.0f, 1.5f, 2.0f}, 10, 10, false);
    ASSERT_EQ(t.size(), 3u + 2u * 10u + 2u * 10u);
    EXPECT_EQ(t[0], 1.0f / 1024.0f);
    EXPECT_EQ(t[1], 1.5f / 1024.0f);
    EXPECT_EQ(t.back(), 2048.0f);
}

TEST(CalculateRepeats, CountsOutsideTheRangeAreClamped) {
    const ScaleDegrees d{1.0f, 2.0f};
    EXPECT_EQ(CalculateRepeats(d, -5, 99, false), CalculateRepeats(d, 0, 10, false));
}

TEST(RepeatCountText, WholeNumbersZeroToTen) {
    EXPECT_EQ(ParseRepeatCount("7"), 7);
    EXPECT_EQ(ParseRepeatCount("0"), 0);
    EXPECT_EQ(ParseRepeatCount("10"), 10);
    EXPECT_EQ(ParseRepeatCount("+3"), 3);
    for (const char* text : {"11", "-1", "", "abc", "2.0", " 3", "99999999999999999999"}) {
        EXPECT_FALSE(ParseRepeatCount(text).has_value()) << '"' << text << '"';
    }
}

TEST(InitialFrequencyText, DecimalNumbersWithoutRangeTest) {
    EXPECT_EQ(ParseInitialFrequency("200"), 200.0f);
    EXPECT_EQ(ParseInitialFrequency(" 261.63 "), 261.63f);
    EXPECT_EQ(ParseInitialFrequency("-5"), -5.0f);
    EXPECT_FALSE(ParseInitialFrequency("440,0").has_value());
    EXPECT_FALSE(ParseInitialFrequency("abc").has_value());
    EXPECT_FALSE(ParseInitialFrequency("1e39").has_value()); // not a 32-bit float
}

} // namespace
} // namespace varko
