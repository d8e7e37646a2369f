// While a bank plays, nothing on the audio path allocates: the mixer's block, the playing
// changes it applies, and every renderer's blocks on whatever threads render them. Every
// allocation in the process is counted (malloc itself, so that aligned buffers count too)
// while the engine runs.
#include "engine/AudioEngine.h"
#include "engine/NullHost.h"
#include "engine/ToneBank.h"

#include "AllocationCounter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

using namespace varko;

namespace {

class RenderAllocation : public testing::TestWithParam<TToneThreads> {};

} // namespace

TEST_P(RenderAllocation, PlayingABankAllocatesNothing) {
    auto owned = std::make_unique<TNullHost>(48000.0, 64, /*RealTimePace=*/true);
    TNullHost& host = *owned;
    TAudioEngine engine(std::move(owned));
    TToneBankInput in;
    for (int i = 0; i < 37; ++i) {
        in.ToneRatios.push_back(static_cast<float>(std::pow(2.0, i / 12.0)));
    }
    in.Seed = 3;
    in.BendRoom = 16.0f;
    in.Rendering = {GetParam(), 2, false};
    ASSERT_EQ(RefreshTones(engine, in).BuiltTones, 37);
    engine.Start();
    // Warm: the changes' ring and every buffer touched once.
    const auto strike = [&engine](int k) {
        TPlayingChange c;
        c.Kind = TPlayingChange::TKind::Tone;
        c.Tone = k % 37;
        c.Pressure = k % 3 == 0 ? 0.0f : 0.7f;
        c.Speed = 0.01f * static_cast<float>(k % 40);
        c.Strike = 0.3f;
        engine.Change(c);
        // Bent tones render on their own path, and come back from it.
        TPlayingChange bend;
        bend.Kind = TPlayingChange::TKind::Pitch;
        bend.Tone = (k + 5) % 37;
        bend.Value = k % 4 == 0 ? 1.0f : 0.5f + 0.01f * static_cast<float>(k % 100);
        engine.Change(bend);
    };
    for (int k = 0; k < 50; ++k) {
        strike(k);
    }
    const uint64_t warm = host.BlockCount.load() + 20;
    while (host.BlockCount.load() < warm) {
        std::this_thread::yield();
    }
    const auto rendered = [&engine] {
        uint64_t n = 0;
        for (const auto& t : engine.Oscillators) {
            n += t->BlocksRendered.load();
        }
        return n;
    };
    const uint64_t renderedBefore = rendered();
    gAllocations = 0;
    gCounting = true;
    const uint64_t start = host.BlockCount.load();
    for (int k = 0; host.BlockCount.load() < start + 300 && k < 1000000; ++k) {
        strike(k);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    gCounting = false;
    const int allocations = gAllocations.load();
    engine.Stop();
    EXPECT_GE(host.BlockCount.load(), start + 300);
    EXPECT_GE(rendered() - renderedBefore, 37u * 100u); // the tones did render meanwhile
    EXPECT_EQ(allocations, 0);
    EXPECT_EQ(engine.ToneResets.load(), 0u);
}

// The count sees what it must: an allocation on any thread.
TEST(RenderAllocationCount, SeesAnAllocationOnAnotherThread) {
    gAllocations = 0;
    gCounting = true;
    std::thread([] {
        void* p = std::malloc(24);
        std::free(p);
        std::vector<float> v(1000);
    }).join();
    gCounting = false;
    EXPECT_GE(gAllocations.load(), 2);
}

INSTANTIATE_TEST_SUITE_P(, RenderAllocation,
                         testing::Values(TToneThreads::PerTone, TToneThreads::PerCore,
                                         TToneThreads::Inline),
                         [](const auto& info) {
                             return std::string(info.param == TToneThreads::PerTone   ? "PerTone"
                                                : info.param == TToneThreads::PerCore ? "PerCore"
                                                                                      : "Inline");
                         });
