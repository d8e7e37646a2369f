// The shipped examples read cleanly and say what their names promise.
#include "files/ModeFile.h"
#include "files/ScalaFile.h"

#include <cmath>
#include <gtest/gtest.h>

namespace varko {
namespace {

std::string Example(const std::string& name) {
    return std::string(VARKO_EXAMPLES_DIR) + "/" + name;
}

ScalaFile ReadClean(const std::string& name) {
    ScalaFile scale = ReadScalaFile(Example(name));
    EXPECT_TRUE(scale.Opened) << name;
    EXPECT_FALSE(scale.HasErrors) << name;
    return scale;
}

TEST(ExampleScales, ReadWithoutErrors) {
    const ScalaFile equal = ReadClean("scales/12-equal.scl");
    ASSERT_EQ(equal.Degrees.size(), 13u);
    for (std::size_t i = 0; i < equal.Degrees.size(); ++i) {
        EXPECT_NEAR(equal.Degrees[i], std::exp2(i / 12.0), 1e-6) << i;
    }
    const ScalaFile just = ReadClean("scales/just-12.scl");
    ASSERT_EQ(just.Degrees.size(), 13u);
    EXPECT_EQ(just.Degrees[4], 1.25f);
    EXPECT_EQ(just.Degrees[7], 1.5f);

    const ScalaFile bp = ReadClean("scales/bohlen-pierce-13.scl");
    ASSERT_EQ(bp.Degrees.size(), 14u);
    EXPECT_NEAR(bp.Degrees[12], std::pow(3.0, 12.0 / 13.0), 1e-5);
    EXPECT_EQ(bp.Degrees.back(), 3.0f);

    const ScalaFile slendro = ReadClean("scales/slendro-odd-spacing.scl");
    EXPECT_EQ(slendro.Description, "   Slendro-like pentatonic, odd spacing");
    EXPECT_EQ(slendro.Degrees.size(), 6u);
    EXPECT_EQ(slendro.Degrees[3], 1.5f);
    EXPECT_EQ(slendro.Degrees.back(), 2.0f);
}

TEST(ExampleModes, ReadWithoutFaultsAndStartAtTheFundamental) {
    for (const char* name : {"marimba-bar", "free-bar", "wine-glass", "singing-bowl"}) {
        const ModeFile modes = ReadModeFile(Example(std::string("modes/") + name + ".vmod"));
        SCOPED_TRACE(name);
        ASSERT_TRUE(modes.Opened);
        EXPECT_FALSE(modes.HasFaultyLines);
        ASSERT_GE(modes.Ratios.size(), 3u);
        EXPECT_EQ(modes.Ratios[0], 1.0f);
        EXPECT_EQ(modes.Levels[0], 1.0f);
    }
    const ModeFile marimba = ReadModeFile(Example("modes/marimba-bar.vmod"));
    EXPECT_NEAR(marimba.Ratios[1], 4.0f, 0.05f);
    EXPECT_NEAR(marimba.Ratios[2], 10.0f, 0.1f);
    const ModeFile bar = ReadModeFile(Example("modes/free-bar.vmod"));
    // The built-in free bar's modes: ((2n + 1) / 3.0112)^2.
    for (std::size_t i = 1; i < bar.Ratios.size(); ++i) {
        const double n = i + 1.0;
        EXPECT_NEAR(bar.Ratios[i], std::pow((2 * n + 1) / 3.0112, 2), 0.01 * bar.Ratios[i]);
    }
}

} // namespace
} // namespace varko
