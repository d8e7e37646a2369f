#include "engine/FaderLaws.h"

#include <gtest/gtest.h>

using namespace varko;

TEST(Resonance, FaderPositions) {
    EXPECT_FLOAT_EQ(ResonanceFromFader(0), 0.9999f);
    EXPECT_FLOAT_EQ(ResonanceFromFader(10), 0.99890055f);
    EXPECT_FLOAT_EQ(ResonanceFromFader(200), 0.98009967f);
}

TEST(MasterFader, Gains) {
    EXPECT_FLOAT_EQ(MasterGainFromFader(19), 1.21f);
    EXPECT_FLOAT_EQ(MasterGainFromFader(20), 1.0f);
    EXPECT_FLOAT_EQ(MasterGainFromFader(21), 0.99f);
    EXPECT_NEAR(MasterGainFromFader(0), 7.40, 0.005);
    EXPECT_NEAR(MasterGainFromFader(199), 0.1655, 0.0001);
    EXPECT_EQ(MasterGainFromFader(200), 0.0f);
}
