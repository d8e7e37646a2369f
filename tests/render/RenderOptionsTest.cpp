#include "render/RenderOptions.h"

#include <gtest/gtest.h>

using namespace varko;

namespace {
std::optional<TRenderOptions> Parse(std::vector<std::string> a, std::string& err) {
    return ParseRenderOptions(a, err);
}
} // namespace

TEST(RenderOptions, DefaultsAndEveryOption) {
    std::string err;
    auto o = Parse({"--scale", "a.scl", "-o", "x.wav"}, err);
    ASSERT_TRUE(o) << err;
    EXPECT_EQ(o->InitialFrequency, 200.0);
    EXPECT_EQ(o->ModeLimit, 8);
    EXPECT_EQ(o->Weighting, 6);
    EXPECT_EQ(o->Resonance, 10);
    EXPECT_EQ(o->Master, 20);
    EXPECT_EQ(o->Rate, 48000.0);
    EXPECT_EQ(o->Block, 256);
    EXPECT_EQ(o->Seed, 1u);
    EXPECT_EQ(o->Format, "float");
    EXPECT_FALSE(o->Seconds);

    o = Parse({"--scale=b.scl",
               "--initial-frequency",
               "261.5",
               "--down",
               "2",
               "--up=3",
               "--repeat-ends",
               "--end",
               "hinged",
               "--modes",
               "m.vmod",
               "--mode-limit",
               "4",
               "--weighting",
               "11",
               "--resonance",
               "0",
               "--master",
               "200",
               "--mono",
               "--two-rows",
               "--interpolate",
               "--rate",
               "44100",
               "--block",
               "64",
               "--seed",
               "4294967295",
               "--gesture",
               "g.txt",
               "--seconds",
               "1.5",
               "--format",
               "wav24",
               "-o",
               "y.wav"},
              err);
    ASSERT_TRUE(o) << err;
    EXPECT_EQ(o->Scale, "b.scl");
    EXPECT_DOUBLE_EQ(o->InitialFrequency, 261.5);
    EXPECT_EQ(o->Down, 2);
    EXPECT_EQ(o->Up, 3);
    EXPECT_TRUE(o->RepeatEnds && o->Mono && o->TwoRows && o->Interpolate && o->ForceInterpolate);
    EXPECT_EQ(o->End, 3);
    EXPECT_EQ(o->Modes, "m.vmod");
    EXPECT_EQ(o->Seed, 4294967295u);
    EXPECT_DOUBLE_EQ(*o->Seconds, 1.5);
    EXPECT_EQ(o->Format, "wav24");
}

TEST(RenderOptions, BadOptionsAreNamed) {
    const std::vector<std::vector<std::string>> bad{
        {"-o", "x.wav"},
        {"--scale", "a.scl"},
        {"--scale", "a.scl", "-o", "x", "--down", "11"},
        {"--scale", "a.scl", "-o", "x", "--end", "loose"},
        {"--scale", "a.scl", "-o", "x", "--format", "mp3"},
        {"--scale", "a.scl", "-o", "x", "--rate", "abc"},
        {"--scale", "a.scl", "-o", "x", "--seed", "-1"},
        {"--scale", "a.scl", "-o", "x", "--frobnicate"},
        {"--scale", "a.scl", "-o"},
        {"--scale", "a.scl", "-o", "x", "--interpolate", "--no-interpolate"},
        {"--scale", "a.scl", "-o", "x.mp3"}, // a WAV under an MP3's name
        {"--scale", "a.scl", "-o", "dir.v2/x.FLAC"},
    };
    for (const auto& args : bad) {
        std::string err;
        EXPECT_FALSE(Parse(args, err)) << args.back();
        EXPECT_FALSE(err.empty());
    }
    std::string err;
    Parse({"--scale", "a.scl", "-o", "x", "--down", "11"}, err);
    EXPECT_NE(err.find("--down"), std::string::npos) << err;
}

TEST(RenderOptions, InterpolatedDelayLinesUnlessAskedNot) {
    std::string err;
    const auto plain = Parse({"--scale", "a.scl", "-o", "x"}, err);
    ASSERT_TRUE(plain) << err;
    EXPECT_TRUE(plain->Interpolate);
    EXPECT_FALSE(plain->ForceInterpolate); // a performance keeps what it was recorded with
    const auto integer = Parse({"--scale", "a.scl", "-o", "x", "--no-interpolate"}, err);
    ASSERT_TRUE(integer) << err;
    EXPECT_FALSE(integer->Interpolate);
}

TEST(RenderOptions, OutputNamesNoOtherAudioFormat) {
    std::string err;
    for (const char* name : {"x.wav", "X.WAV", "take.wave", "x", "dir.v2/x", "take.raw"}) {
        EXPECT_TRUE(Parse({"--scale", "a.scl", "-o", name}, err)) << name << ": " << err;
    }
}

TEST(RenderOptions, PrintTonesNeedsNoOutput) {
    std::string err;
    const auto o = Parse({"--scale", "a.scl", "--print-tones"}, err);
    ASSERT_TRUE(o) << err;
    EXPECT_TRUE(o->PrintTones);
}

// --mode-limit 100000 with a long mode file took gigabytes; the window stops at 100.
TEST(RenderOptions, ModeLimitIsBoundedLikeTheWindow) {
    std::string err;
    EXPECT_TRUE(Parse({"--scale", "a.scl", "-o", "x", "--mode-limit", "100"}, err)) << err;
    EXPECT_FALSE(Parse({"--scale", "a.scl", "-o", "x", "--mode-limit", "101"}, err));
    EXPECT_NE(err.find("--mode-limit"), std::string::npos) << err;
}

// The calling thread renders unless a pool is asked for, of 1 to 64 threads.
TEST(RenderOptions, ThreadsAskForAPoolOfThatSize) {
    std::string err;
    const auto inlined = Parse({"--scale", "a.scl", "-o", "x"}, err);
    ASSERT_TRUE(inlined) << err;
    EXPECT_EQ(inlined->Threads, 0);
    const auto pool = Parse({"--scale", "a.scl", "-o", "x", "--threads", "3"}, err);
    ASSERT_TRUE(pool) << err;
    EXPECT_EQ(pool->Threads, 3);
    for (const char* bad : {"0", "65", "two"}) {
        EXPECT_FALSE(Parse({"--scale", "a.scl", "-o", "x", "--threads", bad}, err)) << bad;
        EXPECT_NE(err.find("--threads"), std::string::npos) << err;
    }
    EXPECT_NE(RenderUsage().find("--threads N"), std::string::npos);
}
