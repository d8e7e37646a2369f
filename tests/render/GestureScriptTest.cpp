#include "render/GestureScript.h"

#include <gtest/gtest.h>

#include <clocale>

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
    EXPECT_DOUBLE_EQ(s->Events[0].Speed, 0.02);
    EXPECT_EQ(s->Events[1].Kind, TGestureEvent::TKind::Pen); // same time as the tone: script order
    EXPECT_EQ(s->Events[1].Line, 6);
    EXPECT_EQ(s->Events[2].Kind, TGestureEvent::TKind::Pen);
    EXPECT_DOUBLE_EQ(s->Events[2].X, 0.25);
    EXPECT_DOUBLE_EQ(s->Events[2].Y, 0.75);
    EXPECT_DOUBLE_EQ(s->Events[2].Pressure, 0.8);
    EXPECT_EQ(s->Events[3].Kind, TGestureEvent::TKind::Fader);
    EXPECT_EQ(s->Events[3].Position, 30);
    EXPECT_DOUBLE_EQ(s->EndTime(), 0.5);
}

TEST(GestureScript, MalformedLinesAreNamed) {
    const char* bad[] = {"pen 0 0.5 0.5",   "pen x 0.5 0.5 1", "pen -1 0 0 0",   "pen 0 0 0 1.5",
                         "tone 0 -1 1 0 0", "tone 0 1 1 -2 0", "tone 0 1 1 0 2", "fader 0 201",
                         "fader 0 1.5",     "strike 0 1",      "pen 0 nan 0 1",  "pen 0 0,5 0 1"};
    for (const char* line : bad) {
        std::string err;
        const auto s = ParseGestureScript(std::string("# ok\n") + line + "\n", err);
        EXPECT_FALSE(s) << line;
        EXPECT_EQ(err.rfind("line 2: ", 0), 0u) << err;
    }
}

// "fader 1e300 10" made the default length endless: the tool wrote until the disk was full.
TEST(GestureScript, EndlessScriptTimesAreRefused) {
    std::string err;
    EXPECT_TRUE(ParseGestureScript("fader 86400 10\n", err)) << err;
    for (const char* line : {"fader 1e300 10", "pen 86400.5 0 0 0"}) {
        EXPECT_FALSE(ParseGestureScript(std::string("# ok\n") + line + "\n", err)) << line;
        EXPECT_EQ(err.rfind("line 2: the time", 0), 0u) << err;
    }
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
