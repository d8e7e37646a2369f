// Plays through a real PulseAudio daemon of the test's own (not PipeWire's pipewire-pulse), on
// RtAudio's PulseAudio back end and on ALSA's default routed to the daemon by ALSA's pulse
// plugin, and listens to the null sink's monitor.
#include "HostedEngine.h"
#include "SoundServer.h"
#include "audio/AsioHost.h"
#include "audio/DriverPanel.h"
#include "engine/AudioEngine.h"
#include "engine/ToneBank.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <numbers>

namespace varko::test {
namespace {

constexpr double Rate = 48000;
// Tone 1 of four in one row, 200 Hz times 2.205.
constexpr double ToneHz = 441.0;

class PulseEndToEnd : public THostedEngineTest<::testing::TestWithParam<const char*>> {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start()) << "PulseAudio did not start: " << server_.Failure;
        AttachEngine();
    }
    void TearDown() override {
        server_.Resume();
        recorder_.Stop();
        engine_.reset();
        server_.Stop();
    }

    // Selects the device, builds the bank and starts the engine with tone 1 held.
    void Play() {
        const std::string device = GetParam();
        SetDriverChoice(device, {512, Rate});
        host_->SetDriverName(device);
        ASSERT_EQ(host_->DriverName(), device) << "not listed";
        ASSERT_NO_FATAL_FAILURE(Build());
        engine_->Start();
        ASSERT_TRUE(host_->Active()) << host_->DriverErrorMessage();
        heldTone_ = 1;
    }
    // Blocks mixed from now until count more have been, or false after limit.
    bool Blocks(uint64_t count, std::chrono::milliseconds limit) {
        const uint64_t until = engine_->SwitchCount.load() + count;
        return WaitFor([&] { return engine_->SwitchCount.load() >= until; }, limit);
    }
    uint64_t BlocksIn(double seconds) const { return static_cast<uint64_t>(seconds * Rate / 512); }

    TPulseAudioServer server_;
    TSinkRecorder recorder_;
};

// The strongest frequency of n samples of x from lo to hi Hz in 1 Hz steps (Goertzel).
double Pitch(const float* x, size_t n, double lo, double hi) {
    double best = 0, bestF = 0;
    for (double f = lo; f <= hi; f += 1.0) {
        const double c = 2 * std::cos(2 * std::numbers::pi * f / Rate);
        double s1 = 0, s2 = 0;
        for (size_t i = 0; i < n; ++i) {
            const double s0 = x[i] + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double m = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (m > best) {
            best = m, bestF = f;
        }
    }
    return bestF;
}

// One tone held for 5 s from the start: no burst of the server's requests finds it still
// rendering (bench/pulse-late-blocks runs this ten times per back end).
TEST_P(PulseEndToEnd, OneToneFiveSecondsWithoutLateBlocks) {
    ASSERT_TRUE(recorder_.Start(server_));
    ASSERT_NO_FATAL_FAILURE(Play());
    const uint64_t blocks = BlocksIn(5.0);
    ASSERT_TRUE(Blocks(blocks, std::chrono::seconds(20))) << "the stream fell behind";
    const uint64_t late = engine_->LateBlocks.load();
    recorder_.Stop();
    EXPECT_EQ(late, 0u);
    EXPECT_EQ(lostEvents_, 0);
    EXPECT_FALSE(host_->DeviceLost());
    // The tone reached the sink at its pitch.
    const std::vector<float>& x = recorder_.Left;
    const size_t second = static_cast<size_t>(Rate);
    ASSERT_GE(x.size(), 2 * second) << "the sink heard too little";
    EXPECT_NEAR(Pitch(x.data() + x.size() - second, second, 100, 1000), ToneHz, ToneHz * 0.01);
    std::printf("%s: late tone blocks %llu of %llu blocks\n", GetParam(),
                static_cast<unsigned long long>(late), static_cast<unsigned long long>(blocks));
}

// A server that stops answering for a while (a stall under load, here SIGSTOP) is waited for:
// the stream goes on once it runs again, and the device is never said to be lost.
TEST_P(PulseEndToEnd, StalledServerIsNotLostAndPlayingGoesOn) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_TRUE(Blocks(BlocksIn(0.5), std::chrono::seconds(10))) << "no blocks flow";
    server_.Pause();
    // Longer than a stall that any slow machine explains.
    WaitFor([] { return false; }, std::chrono::seconds(4));
    server_.Resume();
    EXPECT_TRUE(Blocks(BlocksIn(2.0), std::chrono::seconds(10)))
        << "the stream did not go on after the server did";
    EXPECT_EQ(lostEvents_, 0);
    EXPECT_FALSE(host_->DeviceLost());
    EXPECT_TRUE(host_->Active());
    ASSERT_TRUE(recorder_.Start(server_));
    ASSERT_TRUE(WaitFor([&] { return recorder_.Frames() >= Rate; }, std::chrono::seconds(10)));
    recorder_.Stop();
    EXPECT_NEAR(Pitch(recorder_.Left.data(), static_cast<size_t>(Rate), 100, 1000), ToneHz,
                ToneHz * 0.01);
}

// A server frozen for good is waited for a bounded time, then reported lost.
TEST_P(PulseEndToEnd, ServerFrozenForGoodIsLostAfterABoundedWait) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_TRUE(Blocks(BlocksIn(0.5), std::chrono::seconds(10))) << "no blocks flow";
    server_.Pause();
    const auto paused = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return lostEvents_ > 0; }, std::chrono::seconds(20)))
        << "the frozen server was never reported";
    const double after =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - paused).count();
    EXPECT_GT(after, 5.0); // waited for, as a stall
    EXPECT_LT(after, 15.0);
    EXPECT_TRUE(host_->DeviceLost());
}

// A server killed for good is reported lost, promptly, and no block is asked for after it.
TEST_P(PulseEndToEnd, KilledServerIsReportedLost) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_TRUE(Blocks(BlocksIn(0.5), std::chrono::seconds(10))) << "no blocks flow";
    server_.Kill();
    const auto killed = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return lostEvents_ > 0; }, std::chrono::seconds(15)))
        << "the loss was not reported";
    const double after =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count();
    EXPECT_LT(after, 5.0);
    EXPECT_TRUE(host_->DeviceLost());
    EXPECT_FALSE(host_->Active());
    const uint64_t blocks = engine_->SwitchCount.load();
    WaitFor([] { return false; }, std::chrono::milliseconds(500));
    EXPECT_EQ(engine_->SwitchCount.load(), blocks);
    std::printf("%s: loss reported %.2f s after the kill\n", GetParam(), after);
}

INSTANTIATE_TEST_SUITE_P(BackEnds, PulseEndToEnd,
                         ::testing::Values("PulseAudio: VarkoNull", "ALSA: default"),
                         [](const auto& info) {
                             return std::string(info.param).starts_with("ALSA") ? "Alsa"
                                                                                : "PulseAudio";
                         });

} // namespace
} // namespace varko::test
