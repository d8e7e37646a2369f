#include "files/KeyboardMapping.h"

#include "TestData.h"
#include "files/TextFile.h"

#include <cmath>
#include <gtest/gtest.h>

namespace varko {
namespace {

using testdata::Path;

ScaleDegrees TwelveEqual() {
    return ReadScalaFile(std::string(VARKO_EXAMPLES_DIR) + "/scales/12-equal.scl").Degrees;
}

ScaleDegrees EqualDivisions(int count) {
    ScaleDegrees degrees;
    for (int i = 0; i <= count; ++i) {
        degrees.push_back(static_cast<float>(std::pow(2.0, i / static_cast<double>(count))));
    }
    return degrees;
}

// Hertz of key, or -1 for an unmapped key, so that expectations read as numbers.
double Hz(const KeyboardMapping& mapping, const ScaleDegrees& degrees, int key) {
    const auto hz = MappedKeyFrequency(mapping, degrees, key);
    return hz ? *hz : -1.0;
}

std::vector<int> MessageLines(const KeyboardMapping& mapping) {
    std::vector<int> lines;
    for (const KbmMessage& message : mapping.Messages) {
        lines.push_back(message.Line);
    }
    return lines;
}

constexpr double Semitone = 1.0594630943592953;

TEST(KbmFiles, StandardTwelveKeysPlayTwelveEqualAtA440) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("standard-12.kbm"));
    ASSERT_TRUE(mapping.Opened);
    ASSERT_TRUE(mapping.Usable);
    EXPECT_TRUE(mapping.Messages.empty());
    EXPECT_EQ(mapping.MapSize, 12);
    EXPECT_EQ(mapping.MiddleKey, 60);
    EXPECT_EQ(mapping.ReferenceKey, 69);
    EXPECT_EQ(mapping.ReferenceFrequency, 440.0);
    EXPECT_EQ(mapping.OctaveDegree, 12);
    EXPECT_EQ(mapping.Entries.size(), 12u);
    EXPECT_EQ(mapping.Lines.front(), "! standard-12.kbm");

    const ScaleDegrees scale = TwelveEqual();
    ASSERT_EQ(scale.size(), 13u);
    EXPECT_EQ(Hz(mapping, scale, 69), 440.0);
    EXPECT_NEAR(Hz(mapping, scale, 70), 440.0 * Semitone, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 68), 440.0 / Semitone, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 57), 220.0, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 81), 880.0, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 60), 261.6256, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 0), 8.1758, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 127), 12543.854, 0.01);
    EXPECT_EQ(MappedDegree(mapping, 12, 59), -1);
    EXPECT_EQ(MappedDegree(mapping, 12, 72), 12);
}

TEST(KbmFiles, WhiteKeysWithUnmappedAndLeftOutEntries) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("white-keys-7.kbm"));
    ASSERT_TRUE(mapping.Usable);
    EXPECT_TRUE(mapping.Messages.empty());
    ASSERT_EQ(mapping.Entries.size(), 10u); // the last two entries are left out
    EXPECT_FALSE(mapping.Entries[1].has_value());
    EXPECT_EQ(mapping.Entries[9], 5);

    const ScaleDegrees scale = EqualDivisions(7);
    const double c = 261.6256;
    EXPECT_NEAR(Hz(mapping, scale, 60), c, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 62), c * std::pow(2.0, 1.0 / 7), 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 72), 2 * c, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 48), c / 2, 1e-3);
    for (int key : {61, 63, 66, 68, 70, 71, 73, 83}) { // x entries and left-out ones
        EXPECT_EQ(Hz(mapping, scale, key), -1.0) << key;
        EXPECT_FALSE(MappedDegree(mapping, 7, key).has_value()) << key;
    }
    // Only a piano's keys are retuned.
    EXPECT_EQ(Hz(mapping, scale, 20), -1.0);
    EXPECT_EQ(Hz(mapping, scale, 109), -1.0);
    EXPECT_NEAR(Hz(mapping, scale, 21), c * std::pow(2.0, -23.0 / 7), 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 108), 16 * c, 1e-2);
}

TEST(KbmFiles, ReferenceKeyOnADegreeAboveTheScaleAnyLineEnding) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("reference-off-scale.kbm"));
    ASSERT_TRUE(mapping.Usable);
    EXPECT_TRUE(mapping.Messages.empty());
    EXPECT_EQ(mapping.Lines.size(), 21u);
    EXPECT_EQ(mapping.LastKey, 127);
    ASSERT_EQ(mapping.Entries.size(), 12u);
    EXPECT_EQ(mapping.Entries[9], 21);

    // Key 69 plays an octave and a major sixth above the 1/1 and sounds at 440 Hz.
    const ScaleDegrees scale = TwelveEqual();
    EXPECT_EQ(Hz(mapping, scale, 69), 440.0);
    EXPECT_NEAR(Hz(mapping, scale, 60), 440.0 / std::pow(Semitone, 21), 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 70), 220.0 * Semitone, 1e-3);
    EXPECT_NEAR(Hz(mapping, scale, 81), 880.0, 1e-3);
}

// A pattern of 24 keys over a scale of 3 degrees per octave: the degrees above 3 wrap by the
// period. The reference key 62 is x in the pattern, so its 300 Hz belong to degree 2 (3/2) and
// the 1/1 sounds at 200 Hz; the key itself stays silent.
TEST(KbmFiles, MapLargerThanTheScaleWithAnUnmappedReferenceKey) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("larger-than-scale.kbm"));
    ASSERT_TRUE(mapping.Usable);
    EXPECT_TRUE(mapping.Messages.empty());
    const ScaleDegrees scale = {1.0f, 1.25f, 1.5f, 2.0f};
    EXPECT_FLOAT_EQ(Hz(mapping, scale, 60), 200.0);
    EXPECT_FLOAT_EQ(Hz(mapping, scale, 61), 250.0);
    EXPECT_EQ(Hz(mapping, scale, 62), -1.0);
    EXPECT_FLOAT_EQ(Hz(mapping, scale, 63), 400.0);
    EXPECT_FLOAT_EQ(Hz(mapping, scale, 64), 500.0);
    EXPECT_FLOAT_EQ(Hz(mapping, scale, 83), 200.0 * 128 * 1.5); // degree 23
    EXPECT_FLOAT_EQ(Hz(mapping, scale, 84), 200.0 * 256);       // next pattern, degree 24
    EXPECT_FLOAT_EQ(Hz(mapping, scale, 59), 150.0);             // degree -1
    EXPECT_EQ(Hz(mapping, scale, 35), -1.0);
    EXPECT_EQ(Hz(mapping, scale, 97), -1.0);
}

TEST(KbmFiles, LinearMapOfSizeZero) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("linear.kbm"));
    ASSERT_TRUE(mapping.Usable);
    EXPECT_EQ(mapping.MapSize, 0);
    EXPECT_TRUE(mapping.Entries.empty());
    const ScaleDegrees twelve = TwelveEqual();
    EXPECT_FLOAT_EQ(Hz(mapping, twelve, 48), 100.5);
    EXPECT_NEAR(Hz(mapping, twelve, 49), 100.5 * Semitone, 1e-3);
    EXPECT_NEAR(Hz(mapping, twelve, 60), 201.0, 1e-3);
    // Every key one degree, whatever the scale's size.
    const ScaleDegrees five = EqualDivisions(5);
    EXPECT_NEAR(Hz(mapping, five, 53), 201.0, 1e-3);
    EXPECT_NEAR(Hz(mapping, five, 43), 50.25, 1e-3);
    EXPECT_EQ(MappedDegree(mapping, 5, 0), -48);
}

TEST(KbmDegenerate, ScalesThatGiveNoFrequency) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("standard-12.kbm"));
    // Only the 1/1: no degree to map to.
    EXPECT_EQ(Hz(mapping, ScaleDegrees{1.0f}, 69), -1.0);
    EXPECT_EQ(Hz(mapping, ScaleDegrees{}, 69), -1.0);
    // A degree of 0 silences its keys alone; a 0 period, every key off the first octave.
    ScaleDegrees scale = TwelveEqual();
    scale[2] = 0.0f;
    EXPECT_EQ(Hz(mapping, scale, 62), -1.0);
    EXPECT_EQ(Hz(mapping, scale, 74), -1.0);
    EXPECT_NEAR(Hz(mapping, scale, 63), 440.0 / std::pow(Semitone, 6), 1e-3);
    scale = TwelveEqual();
    scale.back() = 0.0f;
    EXPECT_EQ(Hz(mapping, scale, 72), -1.0);
    EXPECT_NEAR(Hz(mapping, scale, 70), 440.0 * Semitone, 1e-3);
    // A period so wide that the top keys leave the float range.
    const ScaleDegrees wide = {1.0f, 1e30f};
    const KeyboardMapping linear = ReadKeyboardMapping(Path("linear.kbm"));
    EXPECT_EQ(Hz(linear, wide, 50), -1.0);
    EXPECT_EQ(Hz(linear, wide, 40), -1.0);
    EXPECT_GT(Hz(linear, wide, 49), 0.0);
}

TEST(KbmDegenerate, ReferenceKeyOutsideTheRetunedKeysStillTunesThem) {
    const KeyboardMapping mapping = ParseKeyboardMappingText("0\n0\n59\n60\n69\n440\n0\n");
    ASSERT_TRUE(mapping.Usable);
    const ScaleDegrees scale = TwelveEqual();
    EXPECT_EQ(Hz(mapping, scale, 69), -1.0);
    EXPECT_EQ(Hz(mapping, scale, 60), -1.0);
    EXPECT_NEAR(Hz(mapping, scale, 57), 220.0, 1e-3);
}

TEST(KbmDegenerate, FormalOctaveZeroIsTheScaleSize) {
    const KeyboardMapping mapping =
        ParseKeyboardMappingText("3\n0\n127\n60\n60\n100\n0\n0\n1\n2\n");
    ASSERT_TRUE(mapping.Usable);
    EXPECT_EQ(MappedDegree(mapping, 5, 63), 5);
    EXPECT_EQ(MappedDegree(mapping, 5, 59), -3);
    EXPECT_NEAR(Hz(mapping, EqualDivisions(5), 63), 200.0, 1e-3);
}

TEST(KbmBroken, MissingLinesNameTheFieldThatIsDue) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("broken/missing_lines.kbm"));
    ASSERT_TRUE(mapping.Opened);
    EXPECT_FALSE(mapping.Usable);
    ASSERT_EQ(mapping.Messages.size(), 1u);
    EXPECT_EQ(mapping.Messages[0].Text, "Line 7: the file ends before the reference frequency");
    EXPECT_EQ(Hz(mapping, TwelveEqual(), 69), -1.0);

    EXPECT_EQ(ParseKeyboardMappingText("").Messages[0].Text,
              "Line 1: the file ends before the map size");
    EXPECT_FALSE(ParseKeyboardMappingText("! only a comment\n\n   \n").Usable);
}

TEST(KbmBroken, NotNumbersInTheHeaderAndInEntries) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("broken/not_numbers.kbm"));
    EXPECT_FALSE(mapping.Usable);
    EXPECT_EQ(MessageLines(mapping), (std::vector<int>{4, 7, 10, 20}));
    EXPECT_EQ(mapping.Messages[0].Text,
              "Line 4: the last key must be a MIDI key from 0 to 127, not \"127.5\"");
    EXPECT_EQ(mapping.Messages[1].Text,
              "Line 7: the reference frequency must be a number of hertz above 0, not \"440,0\"");
    EXPECT_EQ(mapping.Messages[2].Text, "Line 10: entry 1 must be a scale degree (a whole number) "
                                        "or x, not \"one\"; the key is left unmapped");
    ASSERT_EQ(mapping.Entries.size(), 12u);
    EXPECT_FALSE(mapping.Entries[1].has_value());
    EXPECT_FALSE(mapping.Entries[11].has_value());
}

TEST(KbmBroken, FaultyEntriesAloneLeaveTheMappingUsable) {
    const KeyboardMapping mapping = ParseKeyboardMappingText("2\n0\n127\n60\n60\n100\n2\n0\n?\n");
    EXPECT_TRUE(mapping.Usable);
    EXPECT_EQ(MessageLines(mapping), std::vector<int>{9});
    EXPECT_NEAR(Hz(mapping, EqualDivisions(2), 62), 200.0, 1e-3);
    EXPECT_EQ(Hz(mapping, EqualDivisions(2), 61), -1.0);
}

TEST(KbmBroken, NegativeAndHugeMapSizes) {
    const KeyboardMapping negative = ReadKeyboardMapping(Path("broken/negative_size.kbm"));
    EXPECT_FALSE(negative.Usable);
    EXPECT_EQ(MessageLines(negative), std::vector<int>{1});
    EXPECT_TRUE(negative.Entries.empty()); // no size, so no entries are read

    const KeyboardMapping huge = ReadKeyboardMapping(Path("broken/huge_map_size.kbm"));
    EXPECT_FALSE(huge.Usable);
    ASSERT_EQ(MessageLines(huge), std::vector<int>{2});
    EXPECT_EQ(huge.Messages[0].Text,
              "Line 2: the map size must be a whole number from 0 to 1024, not \"99999999999\"");
    EXPECT_FALSE(ParseKeyboardMappingText("1025\n0\n127\n60\n69\n440\n0\n").Usable);
    EXPECT_FALSE(
        ParseKeyboardMappingText("99999999999999999999999\n0\n127\n60\n69\n440\n0\n").Usable);
    EXPECT_TRUE(ParseKeyboardMappingText("1024\n0\n127\n60\n69\n440\n0\n").Usable);
}

TEST(KbmBroken, ValuesOutOfRange) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("broken/out_of_range.kbm"));
    EXPECT_FALSE(mapping.Usable);
    EXPECT_EQ(MessageLines(mapping), (std::vector<int>{5, 6, 7, 8, 20, 4}));
    EXPECT_EQ(mapping.Messages.back().Text,
              "Line 4: the last key (50) is below the first key (100)");
    EXPECT_EQ(mapping.Messages[2].Text,
              "Line 7: the reference frequency must be a number of hertz above 0, not \"0\"");
    for (const char* frequency : {"-440", "inf", "nan", "1e39"}) {
        const std::string text = std::string("1\n0\n127\n60\n69\n") + frequency + "\n1\n0\n";
        EXPECT_FALSE(ParseKeyboardMappingText(text).Usable) << frequency;
    }
}

TEST(KbmBroken, EntriesBeyondTheMapSizeAreReportedOnce) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("broken/too_many_entries.kbm"));
    EXPECT_TRUE(mapping.Usable);
    EXPECT_EQ(mapping.Entries.size(), 3u);
    ASSERT_EQ(mapping.Messages.size(), 1u);
    EXPECT_EQ(mapping.Messages[0].Text,
              "Line 11: more entries than the map size of 3; this line and the ones after it "
              "are ignored");
}

TEST(KbmBroken, BinaryJunkIsNotEchoed) {
    const KeyboardMapping mapping = ReadKeyboardMapping(Path("broken/binary.kbm"));
    ASSERT_TRUE(mapping.Opened);
    EXPECT_FALSE(mapping.Usable);
    ASSERT_FALSE(mapping.Messages.empty());
    EXPECT_EQ(mapping.Messages[0].Text, "Line 2: the first key must be a MIDI key from 0 to 127");
    for (const KbmMessage& message : mapping.Messages) {
        EXPECT_TRUE(IsValidUtf8(message.Text)) << message.Line;
        EXPECT_LE(message.Line, static_cast<int>(mapping.Lines.size()) + 1);
    }
}

TEST(KbmOpen, MissingFileFolderOrDeviceIsNotOpened) {
    EXPECT_FALSE(ReadKeyboardMapping(Path("no such file.kbm")).Opened);
    EXPECT_FALSE(ReadKeyboardMapping(Path("broken")).Opened);
    EXPECT_FALSE(ReadKeyboardMapping("/dev/zero").Opened);
}

} // namespace
} // namespace varko
