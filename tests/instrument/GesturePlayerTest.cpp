// The gesture player that the window's replay and the render tool share, against scripts that
// ask for more rebuilds than a bank can be built.
#include "instrument/GesturePlayer.h"

#include "engine/NullHost.h"
#include "instrument/Instrument.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <unistd.h>

using namespace varko;
namespace fs = std::filesystem;

namespace {

struct GesturePlayerTest : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("varko-player-" + std::to_string(::getpid()));
    TInstrument In;
    std::vector<uint64_t> BuiltAt; // the performance position of each bank built
    size_t Rebuilding = 0;         // banks the instrument began to build

    void SetUp() override {
        fs::create_directories(Dir);
        std::ofstream(Dir / "fifths.scl") << "Fifths\n 2\n701.955\n2/1\n";
        // Never started: the test renders each block, as the render tool does, so that the
        // player's clock and the engine's are one.
        In.AttachHost(std::make_unique<TNullHost>(48000.0, 128, false));
        In.OnRebuild = [this](bool preparing) { Rebuilding += preparing ? 1 : 0; };
    }
    void TearDown() override { fs::remove_all(Dir); }

    std::unique_ptr<TGesturePlayer> Player;

    // Plays the script block by block for the given seconds, then two blocks more, in which
    // the tones take the last values; false with the reader's or the player's error.
    bool Play(const std::string& text, double seconds, std::string& error) {
        auto script = ParseGestureScript(text, error);
        if (!script) {
            return false;
        }
        Player = std::make_unique<TGesturePlayer>(In, std::move(*script), 48000.0, Dir.string());
        Rebuilding = 0;
        TAudioEngine& engine = In.Audio().Engine();
        TArrayOfSingleArray out(2, TSingleArray(128, 0.0f));
        const auto end = static_cast<uint64_t>(seconds * 48000.0);
        uint64_t at = engine.SamplePosition.load();
        const uint64_t start = at;
        for (; at < start + end; at = engine.SamplePosition.load()) {
            engine.WaitForOscillators();
            if (!Player->PlayUntil(at, error)) {
                return false;
            }
            BuiltAt.resize(Rebuilding, at - start);
            engine.RenderOffline(out);
        }
        engine.RenderOffline(out);
        engine.RenderOffline(out);
        engine.WaitForOscillators();
        return true;
    }
};

std::string RebuildLine(uint64_t sample, int up) {
    return "rebuild @" + std::to_string(sample) +
           " scale=fifths.scl modes=- frequency=200 down=0 up=" + std::to_string(up) +
           " ends=0 end=free weighting=6 limit=8 interpolate=0\n";
}

} // namespace

// 1,000 rebuilds a millisecond apart rebuilt the bank 1,000 times: a few per second of music are
// built, and the last bank is the one that stays.
TEST_F(GesturePlayerTest, RebuildsAMillisecondApartAreBuiltAFewPerSecondAndTheLastOneStays) {
    std::ostringstream text;
    for (int i = 0; i < 1000; ++i) {
        text << RebuildLine(48u * static_cast<uint64_t>(i), i % 2); // 3 tones, then 5
    }
    text << "tone @48500 4 0.5 1 0.5\n";
    std::string error;
    ASSERT_TRUE(Play(text.str(), 2.0, error)) << error;
    EXPECT_TRUE(Player->Finished());
    EXPECT_GE(BuiltAt.size(), 2u);
    std::printf("%zu banks built for 1,000 rebuilds over 1 s\n", BuiltAt.size());
    EXPECT_LE(BuiltAt.size(), 9u) << "rebuilds over 1 s of music";
    // In any stretch of music: a burst, then a few a second.
    for (size_t i = 0; i < BuiltAt.size(); ++i) {
        for (size_t j = i + 1; j < BuiltAt.size(); ++j) {
            const double seconds = static_cast<double>(BuiltAt[j] - BuiltAt[i]) / 48000.0;
            ASSERT_LE(static_cast<double>(j - i + 1),
                      TGesturePlayer::RebuildBurst + TGesturePlayer::RebuildsPerSecond * seconds +
                          0.1)
                << "banks " << i << " to " << j;
        }
    }
    ASSERT_EQ(In.Audio().Engine().Oscillators.size(), 5u);
    EXPECT_EQ(In.Audio().Engine().Oscillators[4]->Pressure.load(), 0.5f);
}

// Rebuilds 0.1 s apart outrun the few a second: one that waits for its turn keeps the tones
// written after it, which play on its bank once it is built (tone 4 exists only in the banks
// of 5 tones), or go with it when a later rebuild replaces it.
TEST_F(GesturePlayerTest, TonesAfterAWaitingRebuildPlayOnItsBank) {
    std::ostringstream text;
    for (int i = 0; i < 10; ++i) {
        const uint64_t at = 4800u * static_cast<uint64_t>(i); // 0.1 s apart
        const int up = i % 2;
        text << RebuildLine(at, up) << "tone @" << at + 256 << " " << (up ? 4 : 2)
             << " 0.5 1 0.5\n";
    }
    std::string error;
    ASSERT_TRUE(Play(text.str(), 2.0, error)) << error;
    EXPECT_TRUE(Player->Finished());
    EXPECT_LT(BuiltAt.size(), 10u) << "none waited";
    ASSERT_EQ(In.Audio().Engine().Oscillators.size(), 5u);
    EXPECT_EQ(In.Audio().Engine().Oscillators[4]->Pressure.load(), 0.5f);
}

// Rebuilds a second apart are each built where they stand.
TEST_F(GesturePlayerTest, RebuildsFarApartAreEachBuiltOnTime) {
    std::string error;
    ASSERT_TRUE(Play(RebuildLine(0, 0) + RebuildLine(48000, 1) + RebuildLine(96000, 0) +
                         "tone @96256 2 0.5 1 0.5\n",
                     2.5, error))
        << error;
    ASSERT_EQ(BuiltAt.size(), 3u);
    // Where they stand, give or take the block where the engine stood at the first one.
    EXPECT_EQ(BuiltAt[0], 0u);
    EXPECT_NEAR(static_cast<double>(BuiltAt[1]), 48000.0, 256.0);
    EXPECT_NEAR(static_cast<double>(BuiltAt[2]), 96000.0, 256.0);
    EXPECT_EQ(In.Audio().Engine().Oscillators.size(), 3u);
    EXPECT_EQ(In.Audio().Engine().Oscillators[2]->Pressure.load(), 0.5f);
}
