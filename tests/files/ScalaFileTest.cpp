#include "files/ScalaFile.h"

#include "TestData.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>

namespace varko {
namespace {

using testdata::Path;

float Cents(double c) {
    return static_cast<float>(std::pow(2.0L, c / 1200.0L));
}

TEST(ScalaPitch, CentsRatiosAndWholeNumbers) {
    EXPECT_EQ(ParseScalaPitch("701.955"), Cents(701.955));
    EXPECT_EQ(ParseScalaPitch("1200.0"), 2.0f);
    EXPECT_EQ(ParseScalaPitch("-100.0"), Cents(-100.0));
    EXPECT_EQ(ParseScalaPitch("1.2e3"), 2.0f);   // an exponent is allowed in cents
    EXPECT_EQ(ParseScalaPitch("1200"), 1200.0f); // a whole number is a ratio, not cents
    EXPECT_EQ(ParseScalaPitch("2"), 2.0f);
    EXPECT_EQ(ParseScalaPitch("3/2"), 1.5f);
    EXPECT_EQ(ParseScalaPitch("3//2"), 1.5f); // empty pieces are dropped
    EXPECT_EQ(ParseScalaPitch("-3/-2"), 1.5f);
    EXPECT_EQ(ParseScalaPitch("0/5"), 0.0f);
    EXPECT_EQ(ParseScalaPitch("0"), 0.0f);
    EXPECT_EQ(ParseScalaPitch("-3"), -3.0f); // whole numbers get no range test
}

TEST(ScalaPitch, ErrorsOfTheRatioAndNumberRules) {
    for (const char* item : {"3/0", "-3/2", "3/2/1", "3/", "/2", "x/2", "3.0/2", "3/2.0", "abc",
                             "1,5", "701.955\tfifth", "1.2.3", "+", "0/0", "/"}) {
        EXPECT_FALSE(ParseScalaPitch(item).has_value()) << '"' << item << '"';
    }
}

TEST(ScalaPitch, RatioBeyondSingleFloatIsAnError) {
    EXPECT_FALSE(ParseScalaPitch("1e300/1").has_value());
    EXPECT_FALSE(ParseScalaPitch("200000.0").has_value());
    EXPECT_EQ(ParseScalaPitch("1e300/1e300"), 1.0f);
}

TEST(ScalaText, DescriptionNoteCountAndPitchLines) {
    const ScalaFile scale = ReadScalaFile(Path("fifths.scl"));
    ASSERT_TRUE(scale.Opened);
    EXPECT_EQ(scale.Description, "Two fifths, one with a comment");
    EXPECT_EQ(scale.Lines.size(), 7u);
    EXPECT_EQ(scale.Lines[0], "! fifths.scl");
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, Cents(701.955), 1.5f}));
    EXPECT_FALSE(scale.HasErrors);
}

TEST(ScalaText, EmptyDescriptionLineShiftsEverything) {
    // The empty line is skipped, so "12" becomes the description and 100.0 the note count.
    const ScalaFile scale = ReadScalaFile(Path("empty_description.scl"));
    EXPECT_EQ(scale.Description, " 12");
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, Cents(200.0)}));
}

TEST(ScalaText, BlankThenBangIsSignificant) {
    const ScalaFile scale = ReadScalaFile(Path("blank_then_bang.scl"));
    EXPECT_EQ(scale.Description, " ! starts with a blank");
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, 2.0f}));
}

TEST(ScalaText, LinesBeyondTheAnnouncedCountAreRead) {
    const ScalaFile scale = ReadScalaFile(Path("more_than_announced.scl"));
    EXPECT_EQ(scale.Degrees.size(), 5u);
    EXPECT_FALSE(scale.HasErrors);
}

TEST(ScalaText, AnyLineEnding) {
    const ScalaFile scale = ReadScalaFile(Path("mixed_line_ends.scl"));
    EXPECT_EQ(scale.Lines, (std::vector<std::string>{"Mixed line ends", "3", "1/1", "5/4", "3/2"}));
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, 1.0f, 1.25f, 1.5f}));
}

TEST(ScalaText, Latin1BytesKeptAsTheyAre) {
    const ScalaFile scale = ReadScalaFile(Path("latin1.scl"));
    EXPECT_EQ(scale.Description, "Gamme de Zarlino \xe0 l'\xe9tude");
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, 1.125f}));
}

TEST(ScalaText, NoPitchLinesGivesTheUnisonAlone) {
    EXPECT_EQ(ParseScalaText("Just a name\n0\n").Degrees, ScaleDegrees{1.0f});
    EXPECT_EQ(ParseScalaText("").Degrees, ScaleDegrees{1.0f});
    EXPECT_TRUE(ParseScalaText("").Description.empty());
    // A pitch line of spaces only is skipped silently.
    const ScalaFile blank = ParseScalaText("Name\n1\n   \n");
    EXPECT_EQ(blank.Degrees, ScaleDegrees{1.0f});
    EXPECT_FALSE(blank.HasErrors);
}

TEST(ScalaText, ByteOrderMarkIsNotPartOfTheFirstLine) {
    const ScalaFile scale = ParseScalaText("\xEF\xBB\xBF! comment\nName\n1\n3/2\n");
    EXPECT_EQ(scale.Description, "Name");
    EXPECT_EQ(scale.Lines[0], "! comment");
}

TEST(ScalaBroken, ThreeBadLinesWarnOnceAndTheRestIsUsed) {
    const ScalaFile scale = ReadScalaFile(Path("broken/three_bad_lines.scl"));
    EXPECT_TRUE(scale.HasErrors);
    EXPECT_EQ(scale.FaultyPitchLines, 3);
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, 1.125f, 1.25f, 1.5f}));
}

TEST(ScalaBroken, TabDoesNotSeparate) {
    const ScalaFile scale = ReadScalaFile(Path("broken/tab_separated.scl"));
    EXPECT_TRUE(scale.HasErrors);
    EXPECT_EQ(scale.Degrees, ScaleDegrees{1.0f});
}

TEST(ScalaBroken, DecimalPointInARatioReadsAsCents) {
    const ScalaFile scale = ReadScalaFile(Path("broken/decimal_ratio.scl"));
    EXPECT_TRUE(scale.HasErrors);
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, 1.5f}));
}

TEST(ScalaBroken, NulBytesStayInsideTheirLine) {
    const ScalaFile scale = ReadScalaFile(Path("broken/nul_bytes.scl"));
    ASSERT_EQ(scale.Lines.size(), 5u);
    EXPECT_EQ(scale.Lines[2], std::string("3/2\0", 4));
    EXPECT_TRUE(scale.HasErrors);
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, 1.25f}));
}

TEST(ScalaBroken, HugeValuesAreErrorsNotInfinities) {
    const ScalaFile scale = ReadScalaFile(Path("broken/huge_values.scl"));
    EXPECT_EQ(scale.FaultyPitchLines, 2);
    EXPECT_EQ(scale.Degrees, ScaleDegrees{1.0f});
}

TEST(ScalaBroken, BinaryFileReadsWithFiniteDegrees) {
    const ScalaFile scale = ReadScalaFile(Path("broken/binary.scl"));
    ASSERT_TRUE(scale.Opened);
    EXPECT_EQ(scale.Degrees.size(), 1u + scale.AcceptedPitchLines);
    for (float d : scale.Degrees) {
        EXPECT_TRUE(std::isfinite(d));
    }
}

TEST(ScalaOpen, MissingFileOrFolderIsNotOpened) {
    EXPECT_FALSE(ReadScalaFile(Path("no such file.scl")).Opened);
    EXPECT_FALSE(ReadScalaFile(Path("broken")).Opened);
    EXPECT_FALSE(ReadScalaFile("/dev/zero").Opened);
}

TEST(ScalaOpen, OversizedFileIsRefusedNotRead) {
    const auto path = testdata::TempPath("varko_oversized.scl");
    {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fputs("Name\n1\n3/2\n", f);
        // A sparse file far above the cap: nothing needs to be written to make it large.
        ASSERT_EQ(std::fseek(f, 300L << 20, SEEK_SET), 0);
        std::fputc('\n', f);
        std::fclose(f);
    }
    EXPECT_FALSE(ReadScalaFile(path.string()).Opened);
    std::filesystem::remove(path);
}

TEST(ScalaOpen, LineOfMegabytesIsOneFaultyLine) {
    std::string text = "Name\n1\n";
    text.append(4u << 20, '7');
    text += "\n3/2\n";
    const ScalaFile scale = ParseScalaText(text);
    EXPECT_TRUE(scale.HasErrors); // too large for a whole number
    EXPECT_EQ(scale.Degrees, (ScaleDegrees{1.0f, 1.5f}));
}

} // namespace
} // namespace varko
