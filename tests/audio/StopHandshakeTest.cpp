// Stopping while the mixer is busy, thousands of times, on a real server through the back
// ends whose stop returns before their callback has (RtAudio's ALSA and PulseAudio): once Stop
// returns no block is mixed until the next start, so the bank can be thrown away at once.
// Runs under ThreadSanitizer too, which would see a rebuild racing with a mix.
#include "SoundServer.h"
#include "audio/AsioHost.h"
#include "audio/DriverPanel.h"
#include "engine/AudioEngine.h"
#include "engine/ToneBank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

// The sound server's client libraries are not built with the sanitizers: they hand buffers
// between their own threads in ways ThreadSanitizer cannot see, and keep some memory for the
// life of the process (RtAudio's PulseAudio stream handle among it). Not Varko's memory.
extern "C" const char* __tsan_default_suppressions() { // NOLINT: the sanitizer's hook
    return "called_from_lib:libpulse.so.0\n"
           "called_from_lib:libpulsecommon-16.1.so\n"
           "race:libpulse.so.0\n"
           "race:libpulsecommon-16.1.so\n"
           "race:libasound_module_pcm_pulse.so\n";
}
extern "C" const char* __lsan_default_suppressions() { // NOLINT: the sanitizer's hook
    return "leak:libpulse.so\n"
           "leak:libpulsecommon\n"
           "leak:RtApiPulse::probeDeviceOpen\n";
}

namespace varko::test {
namespace {

class StopHandshake : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start()) << "PipeWire did not start: " << server_.Failure;
    }
    TPipeWireServer server_;
};

TEST_P(StopHandshake, NoBlockIsMixedOnceStopReturns) {
    auto owned = std::make_unique<TASIOHost>();
    TASIOHost& host = *owned;
    TAudioEngine engine(std::move(owned));
    const std::string device = GetParam();
    // Short blocks: more stops in the same time.
    SetDriverChoice(device, {128, 48000});
    host.SetDriverName(device);
    ASSERT_EQ(host.DriverName(), device) << "not listed";
    ASSERT_GT(host.BufferSize(), 0u);

    // Every tone sounding, so that each block takes the mixer a while.
    TToneBankInput bank;
    for (int i = 0; i < 16; ++i) {
        bank.ToneRatios.push_back(1.0f + 0.25f * static_cast<float>(i));
    }
    bank.ModeLimit = 8;
    bank.Seed = 1;
    bank.Rendering.TimeCritical = false;
    auto build = [&] {
        ASSERT_EQ(RefreshTones(engine, bank).BuiltTones, 16);
        for (auto& osc : engine.Oscillators) {
            osc->Pressure = 0.8f;
            osc->Speed = 0.1f;
        }
    };
    ASSERT_NO_FATAL_FAILURE(build());

    std::atomic<bool> allowed{false}, inside{false}, slow{false};
    std::atomic<int> strays{0};
    std::atomic<uint64_t> mixed{0};
    auto mix = host.OnBufferSwitch32;
    host.OnBufferSwitch32 = [&](IAudioHost* sender, const TArrayOfSingleArray& in,
                                TArrayOfSingleArray& out) {
        inside = true;
        if (!allowed) {
            ++strays;
        }
        mix(sender, in, out);
        // Now and then a block that takes longer than the device's whole buffer, as a heavy
        // bank on a loaded machine does: a stop must wait for it, not for the device.
        if (slow.exchange(false)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(80));
        }
        ++mixed;
        inside = false;
    };

    const int cycles = 1000;
    int mixedWhileRunning = 0;
    for (int i = 0; i < cycles && !HasFatalFailure(); ++i) {
        allowed = true;
        const uint64_t before = mixed.load();
        engine.Start();
        ASSERT_TRUE(host.Active()) << host.DriverErrorMessage();
        // Stop at a different moment of the block each time: after one to three blocks.
        const uint64_t wanted = before + 1 + static_cast<uint64_t>(i % 3);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (mixed.load() < wanted && std::chrono::steady_clock::now() < limit) {
            std::this_thread::yield();
        }
        mixedWhileRunning += mixed.load() >= wanted;
        if (i % 10 == 5) { // stop while that slow block is being mixed
            slow = true;
            while (slow.load() && std::chrono::steady_clock::now() < limit) {
                std::this_thread::yield();
            }
        }
        engine.Stop();
        allowed = false;
        EXPECT_FALSE(inside.load()) << "a block is still being mixed after Stop, cycle " << i;
        if (i % 100 == 99) {
            ASSERT_NO_FATAL_FAILURE(build()); // the old bank goes at once
        }
    }
    EXPECT_EQ(strays.load(), 0) << "blocks mixed after Stop returned";
    // The device really played: nearly every cycle mixed while it ran.
    EXPECT_GT(mixedWhileRunning, cycles * 9 / 10);
    std::printf("%s: %d stops, %d mixed while running, %d after stopping\n", device.c_str(), cycles,
                mixedWhileRunning, strays.load());
}

INSTANTIATE_TEST_SUITE_P(BackEnds, StopHandshake,
                         ::testing::Values("PulseAudio: VarkoNull", "ALSA: default"),
                         [](const auto& info) {
                             return std::string(info.param).starts_with("ALSA") ? "Alsa"
                                                                                : "PulseAudio";
                         });

} // namespace
} // namespace varko::test
