// varko-render on a real audio device: a JACK server of the test's own, the tool's --play, and
// a capture client that listens to what reaches the server's playback ports.
#include "audio/JackServer.h"
#include "render/ToolRun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <future>
#include <unistd.h>

using namespace varko;
using varko::test::Power;
using varko::test::RunTool;
using varko::test::TJackCapture;
using varko::test::TJackServer;
using varko::test::TRun;

namespace {

const std::string Examples = VARKO_EXAMPLES_DIR;

class PlayOnJack : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server_.Start()) << "jackd did not start"; }
    void TearDown() override { server_.Stop(); }
    TJackServer server_{"varko_play_" + std::to_string(::getpid()), 48000, 256};
};

} // namespace

TEST_F(PlayOnJack, ListsTheJackDevice) {
    const TRun r = RunTool({"--list-devices"});
    EXPECT_EQ(r.Status, 0) << r.Out;
    EXPECT_NE(r.Out.find("JACK: system"), std::string::npos) << r.Out;
}

TEST_F(PlayOnJack, PlaysTheScriptInRealTimeAtItsPitch) {
    TJackCapture capture(48000 * 8);
    ASSERT_TRUE(capture.Ok());
    // The roll plays bar 7 of 25: 200 x 2^(7/12) Hz.
    auto play = std::async(std::launch::async, [] {
        return RunTool({"--scale", Examples + "/scales/12-equal.scl", "--up", "1", "--gesture",
                        Examples + "/gestures/roll.txt", "--play", "--device", "JACK: system",
                        "--seconds", "5"});
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (capture.Connect() < 2 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    capture.Record();
    const TRun r = play.get();
    ASSERT_EQ(r.Status, 0) << r.Out;
    EXPECT_NE(r.Out.find("Playing on JACK: system"), std::string::npos) << r.Out;
    const size_t n = capture.Recorded();
    ASSERT_GT(n, 48000u * 3) << "too little was recorded";
    // The strongest frequency of the roll's last second, 2 Hz steps then 0.1 Hz.
    const size_t from = n - 48000;
    double best = -1, bestF = 0;
    for (double f = 100; f <= 1000; f += 2) {
        const double p = Power(capture.Left, from, 48000, f, 48000);
        if (p > best) {
            best = p;
            bestF = f;
        }
    }
    const double coarse = bestF;
    for (double f = coarse - 2; f <= coarse + 2; f += 0.1) {
        const double p = Power(capture.Left, from, 48000, f, 48000);
        if (p > best) {
            best = p;
            bestF = f;
        }
    }
    const double expected = 200.0 * std::pow(2.0, 7.0 / 12.0);
    EXPECT_NEAR(bestF, expected, expected * 0.01);
}

TEST_F(PlayOnJack, UnknownDeviceIsNamed) {
    const TRun r = RunTool({"--scale", Examples + "/scales/12-equal.scl", "--play", "--device",
                            "JACK: nowhere", "--seconds", "1"});
    EXPECT_NE(r.Status, 0);
    EXPECT_NE(r.Out.find("JACK: nowhere"), std::string::npos) << r.Out;
}

// A server frozen while the tool plays (SIGSTOP, then SIGCONT): the loss is told, the tool
// neither hangs nor touches its job queue after it is gone, and the device that comes back
// is played on again.
TEST_F(PlayOnJack, StalledServerIsLostAndBackWithoutHangOrUseAfterFree) {
    const auto started = std::chrono::steady_clock::now();
    auto play = std::async(std::launch::async, [] {
        return RunTool({"--scale", Examples + "/scales/12-equal.scl", "--up", "1", "--gesture",
                        Examples + "/gestures/roll.txt", "--play", "--device", "JACK: system",
                        "--seconds", "12"});
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    server_.Pause();
    std::this_thread::sleep_for(std::chrono::seconds(6));
    server_.Resume();
    ASSERT_EQ(play.wait_for(std::chrono::seconds(30)), std::future_status::ready)
        << "the tool hangs";
    const TRun r = play.get();
    const double took =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_LT(took, 20.0);
    EXPECT_EQ(r.Status, 1) << r.Out;
    EXPECT_NE(r.Out.find("the audio device was lost at"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("the audio device is back at"), std::string::npos) << r.Out;
}
