// The host's process thread never waits on a lock inside the plugin: every lock the C library
// takes on that thread while it is inside a process call is counted, over everything a player
// does through a host (notes, MPE expression, bends, controllers, parameter changes) and a
// rebuild swapped in while a key is held, at the smallest and largest blocks a host may use.
#include "ClapHost.h"
#include "Lv2Host.h"
#include "Signal.h"

#include "LockCounter.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <string>
#include <vector>

using namespace varko::test;

namespace {

const std::string Bin = VARKO_PLUGIN_BIN;
constexpr double Rate = 48000.0;
// The rebuild is asked for here; the old bank is heard in the quarter before it, the new one
// in the last quarter.
constexpr size_t Half = 32768, Frames = 2 * Half, Window = Half / 2;
constexpr double OldHertz = 261.63, NewHertz = 300.0;

// Note 60 on the zone's manager channel is held throughout; the rest plays around it.
const std::vector<TMidi> Performance = {
    {0, {0x90, 60, 100}},
    {10, {0x91, 64, 90}},      // a member's note
    {200, {0xD1, 70, 0}, 2},   // its pressure
    {400, {0xB1, 74, 30}},     // its slide
    {600, {0xE1, 0x00, 0x48}}, // its bend
    {800, {0xE0, 0x00, 0x30}}, // the zone's bend
    {1000, {0xA1, 64, 50}},    // poly aftertouch
    {1200, {0xB0, 1, 100}},    // the wheel
    {1400, {0xB0, 64, 127}},   // pedal down
    // The member's bend range: 12 semitones.
    {1600, {0xB0, 101, 0}},
    {1601, {0xB0, 100, 0}},
    {1602, {0xB0, 6, 12}},
    {3000, {0x81, 64, 0}}, // released under the pedal
    {5000, {0xB0, 64, 0}}, // pedal up
    {6000, {0x92, 67, 80}},
    // The zone's bend and the wheel back at rest: the held note sounds at its own pitch.
    {6000, {0xE0, 0x00, 0x40}},
    {6001, {0xB0, 1, 0}},
    {9000, {0x82, 67, 0}},
    // In the new bank.
    {Half + 2000, {0x93, 67, 100}},
    {Half + 2100, {0xD3, 90, 0}, 2},
    {Half + 2200, {0xB3, 74, 100}},
    {Half + 2300, {0xE3, 0x00, 0x50}},
    {Half + 9000, {0x83, 67, 0}},
    {Frames - 10, {0x80, 60, 0}},
};

// Playing parameters changed through the host before the call that holds frame At; the last
// one (initial frequency) rebuilds.
struct TParameterChange {
    size_t At;
    const char* Symbol;
    uint32_t Index;
    float Value;
};
const std::vector<TParameterChange> Changes = {
    {2000, "resonance", 0, 40.0f},
    {2500, "master", 1, 30.0f},
    {3500, "stereo", 2, 0.0f},
    {4000, "reference_note", 10, 62.0f},
    {4500, "reference_note", 10, 60.0f},
    {7000, "mpe", 11, 0.0f},
    {7500, "mpe", 11, 1.0f},
    {Half, "initial_frequency", 9, NewHertz},
};

template <typename Host> void Set(Host& host, const TParameterChange& p) {
    if constexpr (std::is_same_v<Host, TLv2Host>) {
        host.Control(p.Symbol) = p.Value;
    } else {
        host.SetParameter(p.Index, p.Value);
    }
}

// The performance in calls of block frames; the locks taken inside them go to locks.
template <typename Host> std::vector<float> Perform(Host& host, uint32_t block, int& locks) {
    std::vector<float> left(Frames + TLv2Host::MaxBlock), right(left.size());
    std::vector<TMidi> local(Performance.size());
    size_t done = 0, next = 0, change = 0;
    gLocks = 0;
    while (done < Frames) {
        const auto n = static_cast<uint32_t>(std::min<size_t>(block, Frames - done));
        bool rebuilds = false;
        while (change < Changes.size() && Changes[change].At < done + n) {
            rebuilds = Changes[change].At == Half;
            Set(host, Changes[change++]);
        }
        size_t count = 0;
        while (next < Performance.size() && Performance[next].Frame < done + n) {
            local[count] = Performance[next++];
            local[count++].Frame -= static_cast<uint32_t>(done);
        }
        if constexpr (std::is_same_v<Host, TLv2Host>) {
            host.Run(n, local.data(), count, left.data() + done, right.data() + done);
        } else {
            host.Process(n, local.data(), count, left.data() + done, right.data() + done);
        }
        if (rebuilds) {
            usleep(500000); // the rebuild thread's time: the next call swaps the bank in
        }
        done += n;
    }
    locks = gLocks.load();
    left.resize(Frames);
    return left;
}

template <typename Host> void ExpectNoLock(Host& host, const char* format, uint32_t block) {
    int locks = -1;
    const std::vector<float> left = Perform(host, block, locks);
    EXPECT_EQ(locks, 0) << format << ", block size " << block;
    // The held key sounds at the old bank's pitch before the rebuild and at the new one's after
    // it: the swap happened inside a counted call.
    const size_t before = Half - Window, after = Frames - Window;
    EXPECT_GT(varko::test::Power(left, before, Window, OldHertz, Rate),
              10.0 * varko::test::Power(left, before, Window, NewHertz, Rate))
        << format << ", block size " << block;
    EXPECT_GT(varko::test::Power(left, after, Window, NewHertz, Rate),
              10.0 * varko::test::Power(left, after, Window, OldHertz, Rate))
        << format << ", block size " << block;
}

TEST(PluginHostLocks, TheProcessCallTakesNoLock) {
    for (const uint32_t block : {1u, 64u, 8192u}) {
        TLv2Host lv2(Bin, Rate);
        ExpectNoLock(lv2, "LV2", block);
        TClapHost clap(Bin + "/Varko.clap", Rate);
        ExpectNoLock(clap, "CLAP", block);
    }
}

} // namespace
