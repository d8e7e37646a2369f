#include "files/GestureScript.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

using namespace varko;

TEST(GestureScript, ReadsEveryEventKindInTimeOrder) {
    std::string err;
    const auto s = ParseGestureScript("# a roll\n"
                                      "\n"
                                      "pen 0.5 0.25 0.75 0.8\r\n"
                                      "tone 0.1 3 0.5 0.02 1\n"
                                      "  fader   0.5  30\n"
                                      "pen 1e-1 0 1 0\n",
                                      err);
    ASSERT_TRUE(s) << err;
    ASSERT_EQ(s->Events.size(), 4u);
    EXPECT_EQ(s->Events[0].Kind, TGestureEvent::TKind::Tone);
    EXPECT_EQ(s->Events[0].Tone, 3);
    EXPECT_FLOAT_EQ(s->Events[0].Speed, 0.02f);
    EXPECT_EQ(s->Events[1].Kind, TGestureEvent::TKind::Pen); // same time as the tone: script order
    EXPECT_EQ(s->Events[1].Line, 6);
    EXPECT_EQ(s->Events[2].Kind, TGestureEvent::TKind::Pen);
    EXPECT_FLOAT_EQ(s->Events[2].X, 0.25f);
    EXPECT_FLOAT_EQ(s->Events[2].Y, 0.75f);
    EXPECT_FLOAT_EQ(s->Events[2].Pressure, 0.8f);
    EXPECT_EQ(s->Events[3].Kind, TGestureEvent::TKind::Fader);
    EXPECT_EQ(s->Events[3].Position, 30);
    EXPECT_DOUBLE_EQ(s->EndTime(), 0.5);
}

TEST(GestureScript, MalformedLinesAreNamed) {
    const char* bad[] = {"pen 0 0.5 0.5",   "pen x 0.5 0.5 1", "pen -1 0 0 0",   "pen 0 0 0 1.5",
                         "tone 0 -1 1 0 0", "tone 0 1 1 -2 0", "tone 0 1 1 0 2", "fader 0 201",
                         "fader 0 1.5",     "strike 0 1",      "pen 0 nan 0 1",  "pen 0 0,5 0 1",
                         "note 0 128 100",  "note 0 60 128",   "note 0 60",      "note 0 -1 0"};
    for (const char* line : bad) {
        std::string err;
        const auto s = ParseGestureScript(std::string("# ok\n") + line + "\n", err);
        EXPECT_FALSE(s) << line;
        EXPECT_EQ(err.rfind("line 2: ", 0), 0u) << err;
    }
}

TEST(GestureScript, NoteLinesAreNoteOnMessages) {
    std::string err;
    const auto s = ParseGestureScript("note 0.5 60 0\nnote 0.25 127 1\n", err);
    ASSERT_TRUE(s) << err;
    ASSERT_EQ(s->Events.size(), 2u);
    EXPECT_EQ(s->Events[0].Kind, TGestureEvent::TKind::Midi);
    EXPECT_EQ(s->Events[0].Size, 3);
    EXPECT_EQ(s->Events[0].Bytes, (std::array<uint8_t, 3>{0x90, 127, 1}));
    EXPECT_EQ(s->Events[1].Bytes, (std::array<uint8_t, 3>{0x90, 60, 0})); // velocity 0: released
}

// "fader 1e300 10" made the default length endless: the tool wrote until the disk was full.
TEST(GestureScript, EndlessScriptTimesAreRefused) {
    std::string err;
    EXPECT_TRUE(ParseGestureScript("fader 86400 10\n", err)) << err;
    for (const char* line : {"fader 1e300 10", "pen 86400.5 0 0 0"}) {
        EXPECT_FALSE(ParseGestureScript(std::string("# ok\n") + line + "\n", err)) << line;
        EXPECT_EQ(err.rfind("line 2: the time", 0), 0u) << err;
    }
    EXPECT_FALSE(ParseGestureScript("fader @40000000000000 10\n", err));
    EXPECT_EQ(err.rfind("line 1: the sample position", 0), 0u) << err;
}

// "tone 0 0 1 1e300 0.5" gave 18 844 NaN samples.
TEST(GestureScript, SpeedBeyondAnyGestureIsRefused) {
    std::string err;
    EXPECT_TRUE(ParseGestureScript("tone 0 0 1 2 0.5\n", err)) << err;
    EXPECT_FALSE(ParseGestureScript("tone 0 0 1 1e300 0.5\n", err));
    EXPECT_EQ(err.rfind("line 1: the speed", 0), 0u) << err;
}

TEST(GestureScript, DecimalPointWhateverTheLocale) {
    // A locale with a decimal comma must not change how "0.5" reads.
    const char* old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    std::string err;
    const auto s = ParseGestureScript("pen 0.5 0.5 0.5 0.5\n", err);
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(s) << err;
    EXPECT_DOUBLE_EQ(s->Events[0].Time, 0.5);
}

TEST(GestureScript, MissingFileIsNamed) {
    std::string err;
    EXPECT_FALSE(LoadGestureScript("/nonexistent/roll.txt", err));
    EXPECT_NE(err.find("/nonexistent/roll.txt"), std::string::npos);
}

TEST(GestureScript, RecordedLinesReadBackBitForBit) {
    // Values a recording writes: any 32-bit float the tones held must come back the same.
    const float awkward[] = {0.1f, 1.0f / 3.0f, 1e-7f, 0.99999994f, 0.0f, 1.0f};
    std::string text;
    TGestureEvent e;
    e.Kind = TGestureEvent::TKind::Tone;
    for (size_t i = 0; i < std::size(awkward); ++i) {
        e.Tone = static_cast<int>(i);
        e.Pressure = awkward[i];
        e.Speed = awkward[(i + 1) % std::size(awkward)] * 1.5f;
        e.X = awkward[(i + 2) % std::size(awkward)];
        text += GestureLine(e, 1000 + i, nullptr) + "\n";
    }
    TGestureRebuild r;
    r.Scale = "et12.scl";
    r.Modes = "glass.vmod";
    r.InitialFrequency = static_cast<float>(261.63);
    r.Up = 2;
    r.RepeatEnds = true;
    r.End = 3;
    r.Weighting = 11;
    r.ModeLimit = 40;
    r.Interpolate = true;
    r.Seeds = {0, 4294967295u, 17};
    TGestureEvent rebuild;
    rebuild.Kind = TGestureEvent::TKind::Rebuild;
    text += GestureLine(rebuild, 0, &r) + "\n";
    TGestureEvent master;
    master.Kind = TGestureEvent::TKind::Master;
    master.Position = 35;
    text += GestureLine(master, 7, nullptr) + "\n";

    std::string err;
    const auto s = ParseGestureScript(text, err);
    ASSERT_TRUE(s) << err << "\n" << text;
    ASSERT_EQ(s->Events.size(), std::size(awkward) + 2);
    for (size_t i = 0; i < std::size(awkward); ++i) {
        const TGestureEvent& got = s->Events[i];
        EXPECT_EQ(*got.Sample, 1000 + i);
        EXPECT_EQ(static_cast<float>(got.Pressure), awkward[i]);
        EXPECT_EQ(static_cast<float>(got.Speed), awkward[(i + 1) % std::size(awkward)] * 1.5f);
        EXPECT_EQ(static_cast<float>(got.X), awkward[(i + 2) % std::size(awkward)]);
    }
    // Stamped scripts keep their order: a player orders them by the block each is due in.
    const TGestureEvent& b = s->Events[std::size(awkward)];
    ASSERT_EQ(b.Kind, TGestureEvent::TKind::Rebuild);
    const TGestureRebuild& got = s->Rebuilds.at(static_cast<size_t>(b.Rebuild));
    EXPECT_EQ(got.Scale, "et12.scl");
    EXPECT_EQ(got.Modes, "glass.vmod");
    EXPECT_EQ(static_cast<float>(got.InitialFrequency), static_cast<float>(261.63));
    EXPECT_EQ(got.Up, 2);
    EXPECT_TRUE(got.RepeatEnds);
    EXPECT_EQ(got.End, 3);
    EXPECT_EQ(got.Weighting, 11);
    EXPECT_EQ(got.ModeLimit, 40);
    EXPECT_TRUE(got.Interpolate);
    EXPECT_EQ(got.Seeds, r.Seeds);
    EXPECT_EQ(s->Events.back().Position, 35);
    EXPECT_EQ(s->EndSample(), 1000 + std::size(awkward) - 1);
}

TEST(GestureScript, MalformedStampsAndRebuildsAreNamed) {
    const char* bad[] = {
        "tone @-1 0 0 0 0", "tone @x 0 0 0 0", "master @0 201", "stereo @0 1 2",
        "rebuild @0 modes=-", "rebuild @0 scale=a.scl", "rebuild @0 scale=a.scl modes=- colour=red",
        "rebuild @0 scale=a.scl modes=- end=loose", "rebuild @0 scale=a.scl modes=- seeds=1,,2",
        "rebuild @0 scale=a.scl modes=- seeds=4294967296", "rebuild @0 scale=a.scl modes=- down=11",
        "rebuild @0 scale=a.scl modes=- frequency=0", "rebuild @0 scale=a.scl modes=- limit",
        // A take names only files in its own folder, with values as the
        // window and the command line take them.
        "rebuild @0 scale=/etc/passwd modes=-", "rebuild @0 scale=../a.scl modes=-",
        "rebuild @0 scale=a.scl modes=sub/m.vmod", "rebuild @0 scale=.. modes=-",
        "rebuild @0 scale=a.scl modes=- frequency=1e300",
        "rebuild @0 scale=a.scl modes=- limit=101"};
    for (const char* line : bad) {
        std::string err;
        EXPECT_FALSE(ParseGestureScript(std::string("# ok\n") + line + "\n", err)) << line;
        EXPECT_EQ(err.rfind("line 2: ", 0), 0u) << err;
    }
}

// A recording killed in the middle of a line was refused whole ("line 320: "tone" takes 5
// values, found 1"); every whole line before it reads, and the cut is named. A hand-written
// last line without its line end still reads.
TEST(GestureScript, ALineCutShortEndsTheScriptEarly) {
    std::string err;
    const auto cut =
        ParseGestureScript("tone @0 1 0.5 0.1 0.5\ntone @64 1 0.5 0.2 0.5\ntone @1", err);
    ASSERT_TRUE(cut) << err;
    EXPECT_EQ(cut->Events.size(), 2u);
    EXPECT_EQ(cut->StoppedEarlyAt, 3);
    const auto whole = ParseGestureScript("pen 0 0.5 0.5 0.5\npen 1 0.5 0.5 0", err);
    ASSERT_TRUE(whole) << err;
    EXPECT_EQ(whole->Events.size(), 2u);
    EXPECT_EQ(whole->StoppedEarlyAt, 0);
    // A bad line that ends in its line end is still an error, wherever it stands.
    EXPECT_FALSE(ParseGestureScript("pen 0 0.5 0.5 0.5\ntone @1\n", err));
    EXPECT_EQ(err.rfind("line 2: ", 0), 0u) << err;
    EXPECT_FALSE(ParseGestureScript("tone @1\npen 0 0.5 0.5 0.5", err));
}

// A recording keeps each bent tone's pitch: the line reads back as the same float, and a ratio
// no tone can sound at is refused.
TEST(GestureScript, PitchLinesReadBackBitForBitAndStayInRange) {
    TGestureEvent e;
    e.Kind = TGestureEvent::TKind::Pitch;
    e.Tone = 7;
    e.X = static_cast<float>(std::exp2(2.0 / 12.0));
    std::string error;
    const auto script = ParseGestureScript(GestureLine(e, 480, nullptr) + "\n", error);
    ASSERT_TRUE(script) << error;
    ASSERT_EQ(script->Events.size(), 1u);
    EXPECT_EQ(script->Events[0].Kind, TGestureEvent::TKind::Pitch);
    EXPECT_EQ(script->Events[0].Tone, 7);
    EXPECT_EQ(static_cast<float>(script->Events[0].X), static_cast<float>(e.X));
    for (const char* bad : {"pitch 0 7 0\n", "pitch 0 7 17\n", "pitch 0 -1 1\n", "pitch 0 7\n"}) {
        EXPECT_FALSE(ParseGestureScript(bad, error)) << bad;
        EXPECT_NE(error.find("line 1"), std::string::npos) << error;
    }
}

// A hostile script once put a 10 MB word whole into the error box (minutes, hundreds of MB):
// a long word is quoted short, a longer line refused at once.
TEST(GestureScript, LongWordsAndLinesGiveShortMessages) {
    std::string error;
    const std::string word(100000, '7');
    EXPECT_FALSE(ParseGestureScript("tone @0 " + word + " 0.5 0.1 0.5\n", error));
    EXPECT_LT(error.size(), 200u) << error.substr(0, 200);
    EXPECT_NE(error.find("100000 characters"), std::string::npos) << error.substr(0, 200);
    EXPECT_FALSE(ParseGestureScript("rebuild @0 scale=" + word + "\n", error));
    EXPECT_LT(error.size(), 200u) << error.substr(0, 200);
    EXPECT_FALSE(ParseGestureScript("# fine\n" + std::string(200000, 'x') + "\n", error));
    EXPECT_EQ(error, "line 2: the line is longer than 131072 characters");
}
