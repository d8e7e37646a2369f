#include "engine/AudioEngine.h"
#include "engine/NullHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <semaphore>

using namespace varko;

namespace {

// Renders a constant block; block number GateBlock waits until the gate opens.
class TConstThread : public TTone {
public:
    explicit TConstThread(float value, int gateBlock = -1) : value_(value), gateBlock_(gateBlock) {}
    std::binary_semaphore Gate{0};
    std::atomic<int> Blocks{0};

protected:
    void RenderBlock(float* out, int n) override {
        const int block = Blocks.fetch_add(1) + 1;
        if (block == gateBlock_) {
            Gate.acquire();
        }
        std::fill(out, out + n, value_ * static_cast<float>(block));
    }

private:
    float value_;
    int gateBlock_;
};

struct TEngineFixture {
    explicit TEngineFixture(uint32_t block = 32, int channels = 2)
        : Engine(std::make_unique<TNullHost>(48000.0, block, false, channels)) {
        Out.assign(static_cast<size_t>(channels), TSingleArray(block, 99.0f));
    }
    TConstThread& Add(float value, int gateBlock = -1) {
        auto osc = std::make_unique<TConstThread>(value, gateBlock);
        osc->BlockSize = static_cast<int32_t>(Engine.Host().BufferSize());
        EXPECT_TRUE(Engine.AddTone(std::move(osc)));
        return static_cast<TConstThread&>(*Engine.Oscillators.back());
    }
    void SetPan(int n, bool twoRows) {
        const int m = twoRows ? (n + 1) / 2 : n;
        Engine.PanOffset = static_cast<float>(m + 1) / static_cast<float>(m);
        Engine.PanStep = 1.0f / static_cast<float>(m);
        Engine.TwoRowPanning = twoRows;
    }
    TAudioEngine Engine;
    TArrayOfSingleArray Out;
};

} // namespace

TEST(AudioEngine, PanWeights) {
    struct TCase {
        int Tones;
        bool TwoRows;
        std::vector<float> Left, Right;
    };
    const TCase cases[] = {
        {1, false, {1}, {1}},
        {4, false, {1, 0.75f, 0.5f, 0.25f}, {0.25f, 0.5f, 0.75f, 1}},
        {5, true, {1, 2 / 3.f, 1 / 3.f, 1, 2 / 3.f}, {1 / 3.f, 2 / 3.f, 1, 1 / 3.f, 2 / 3.f}},
    };
    for (const auto& c : cases) {
        for (int t = 0; t < c.Tones; ++t) {
            TEngineFixture f;
            for (int k = 0; k < c.Tones; ++k) {
                f.Add(k == t ? 0.5f : 0.0f);
            }
            f.SetPan(c.Tones, c.TwoRows);
            f.Engine.RenderOffline(f.Out);
            EXPECT_NEAR(f.Out[0][5], 0.5f * c.Left[t], 1e-6f) << c.Tones << " tones, tone " << t;
            EXPECT_NEAR(f.Out[1][5], 0.5f * c.Right[t], 1e-6f) << c.Tones << " tones, tone " << t;
        }
    }
}

TEST(AudioEngine, MonoSumGainAndPeaks) {
    TEngineFixture f;
    f.Add(0.25f);
    f.Add(-0.5f);
    f.Engine.Stereo = false;
    f.Engine.MasterGain = 2.0f;
    f.Engine.RenderOffline(f.Out); // first blocks: 0.25 and -0.5
    EXPECT_EQ(f.Out[0][0], -0.5f);
    EXPECT_EQ(f.Out[1][31], -0.5f);
    EXPECT_EQ(f.Engine.PeakLeft.load(), 0.5f);
    EXPECT_EQ(f.Engine.PeakRight.load(), 0.5f);

    f.Engine.MeterPeaks = false;
    f.Engine.PeakLeft = 0.0f;
    f.Engine.RenderOffline(f.Out); // second blocks: 0.5 and -1.0
    EXPECT_EQ(f.Out[0][0], -1.0f);
    EXPECT_EQ(f.Engine.PeakLeft.load(), 0.0f);

    f.Engine.MeterPeaks = true;
    f.Engine.MasterGain = 0.0f;
    f.Engine.RenderOffline(f.Out);
    EXPECT_EQ(f.Out[0][3], 0.0f);
    EXPECT_EQ(f.Out[1][3], 0.0f);
    EXPECT_EQ(f.Engine.PeakLeft.load(), 0.0f);
}

TEST(AudioEngine, HandshakeFlipsIndicesAndReadsEachBlockOnce) {
    TEngineFixture f;
    auto& a = f.Add(1.0f);
    auto& b = f.Add(10.0f);
    f.Engine.Stereo = false;
    for (int k = 1; k <= 6; ++k) {
        const int before = f.Engine.ReadIndex;
        f.Engine.RenderOffline(f.Out);
        EXPECT_EQ(f.Out[0][0], 11.0f * static_cast<float>(k)); // block k of both tones
        EXPECT_EQ(f.Engine.ReadIndex.load(), 1 - before);
        EXPECT_EQ(a.WriteIndex.load(), f.Engine.ReadIndex.load());
        EXPECT_EQ(b.WriteIndex.load(), f.Engine.ReadIndex.load());
    }
    EXPECT_EQ(f.Engine.LateBlocks.load(), 0u);
}

TEST(AudioEngine, LateToneGivesSilenceAndIsCounted) {
    TEngineFixture f;
    auto& fast = f.Add(1.0f);
    auto& slow = f.Add(100.0f, 2); // its second block waits for the gate
    f.Engine.Stereo = false;
    const TArrayOfSingleArray none;
    f.Engine.RenderOffline(f.Out);
    EXPECT_EQ(f.Out[0][0], 101.0f);
    fast.WaitBlockDone();
    while (slow.Blocks.load() < 2) {
        std::this_thread::yield();
    }
    // The slow tone is still writing: it is not read, and the late block is counted.
    f.Engine.BufferSwitch(&f.Engine.Host(), none, f.Out);
    EXPECT_EQ(f.Out[0][0], 2.0f);
    EXPECT_EQ(f.Engine.LateBlocks.load(), 1u);
    slow.Gate.release();
    f.Engine.RenderOffline(f.Out);
    // The late block, finished now, is mixed; the fast tone was released and moved on.
    EXPECT_EQ(f.Out[0][0], 3.0f + 200.0f);
    f.Engine.RenderOffline(f.Out);
    EXPECT_EQ(f.Out[0][0], 4.0f + 300.0f);
    EXPECT_EQ(f.Engine.LateBlocks.load(), 1u);
}

// A tone whose bands went non-finite (an unbounded speed once did it) sent NaN into the mix and
// on to the device and the file.
TEST(AudioEngine, RunawayToneIsSilencedRebuiltAndCounted) {
    // Block 2 holds a NaN, block 3 a value far beyond any playing; the others a constant.
    class TRunaway : public TTone {
    public:
        std::atomic<int> Builds{0};

    protected:
        void BuildBands(uint32_t seed) override {
            ++Builds;
            TTone::BuildBands(seed);
        }
        void RenderBlock(float* out, int n) override {
            const int block = ++blocks_;
            std::fill(out, out + n, 0.25f);
            out[n / 2] = block == 2 ? std::nanf("") : block == 3 ? 1e30f : 0.25f;
        }

    private:
        int blocks_ = 0;
    };
    TEngineFixture f;
    f.Add(1.0f);
    auto runaway = std::make_unique<TRunaway>();
    TRunaway& tone = *runaway;
    tone.BlockSize = 32;
    ASSERT_TRUE(f.Engine.AddTone(std::move(runaway)));
    f.Engine.Stereo = false;
    const float expected[] = {1.25f, 2.0f, 3.0f, 4.25f}; // the const tone counts its blocks
    for (const float e : expected) {
        f.Engine.RenderOffline(f.Out);
        for (const float v : f.Out[0]) {
            ASSERT_EQ(v, e);
        }
    }
    EXPECT_EQ(f.Engine.ToneResets.load(), 2u);
    EXPECT_EQ(tone.Builds.load(), 3); // once at the start, once per reset
    EXPECT_EQ(f.Engine.LateBlocks.load(), 0u);
}

TEST(AudioEngine, FewerThanTwoChannelsAreNotOverrun) {
    for (int channels : {0, 1}) {
        TEngineFixture f(64, channels);
        f.Add(0.5f);
        f.Engine.Stereo = false;
        f.Engine.RenderOffline(f.Out); // ASan catches any write past the arrays
        if (channels == 1) {
            EXPECT_EQ(f.Out[0][63], 0.5f);
        }
        EXPECT_EQ(f.Engine.PeakLeft.load(), 0.5f);
    }
    // Arrays shorter than the host's block size are written only as far as they reach.
    TEngineFixture f(64, 2);
    f.Add(0.5f);
    f.Out[1].resize(10);
    f.Engine.RenderOffline(f.Out);
    EXPECT_EQ(f.Out[1][9], 0.5f * f.Engine.PanStep.load());
}

TEST(AudioEngine, NoOscillatorsGiveSilence) {
    TEngineFixture f;
    f.Engine.RenderOffline(f.Out);
    for (const auto& channel : f.Out) {
        for (float v : channel) {
            EXPECT_EQ(v, 0.0f);
        }
    }
}

TEST(AudioEngine, OfflineRenderIsDeterministicForASeed) {
    auto render = [](uint32_t seed) {
        TAudioEngine engine(std::make_unique<TNullHost>(48000.0, 128, false));
        for (int i = 0; i < 5; ++i) {
            auto osc = std::make_unique<TTone>();
            osc->Frequency = 200.0f * static_cast<float>(i + 1);
            osc->SampleRate = 48000.0f;
            osc->BlockSize = 128;
            osc->Ratios = {1, 2.75715f, 5.40402f};
            osc->Gains = {1, 0.125f, 0.037f};
            osc->Resonance = 0.999f;
            osc->Interpolate = i % 2 == 0;
            osc->Seed = seed + static_cast<uint32_t>(i);
            osc->Pressure = 0.7f;
            osc->Speed = 0.1f;
            EXPECT_TRUE(engine.AddTone(std::move(osc)));
        }
        engine.PanOffset = 1.2f;
        engine.PanStep = 0.2f;
        TArrayOfSingleArray out(2, TSingleArray(128));
        std::vector<float> all;
        for (int block = 0; block < 40; ++block) {
            engine.RenderOffline(out);
            all.insert(all.end(), out[0].begin(), out[0].end());
            all.insert(all.end(), out[1].begin(), out[1].end());
        }
        EXPECT_EQ(engine.LateBlocks.load(), 0u);
        return all;
    };
    const auto a = render(1234), b = render(1234), c = render(99);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
    float peak = 0;
    for (float v : a) {
        peak = std::max(peak, std::fabs(v));
    }
    EXPECT_GT(peak, 0.0f);
}

// A reset notice on the driver's thread: the rebuild runs on the owner's thread, the notice
// does not wait for it, and the mix stays muted until the bank is rebuilt.
TEST(AudioEngine, DriverResetIsRebuiltOnTheOwnersThread) {
    auto hostPtr = std::make_unique<TNullHost>(48000.0, 64, true);
    TNullHost& host = *hostPtr;
    TAudioEngine engine(std::move(hostPtr));
    std::mutex mutex;
    std::condition_variable queued;
    std::deque<std::function<void()>> queue;
    engine.Dispatch = [&](std::function<void()> routine) {
        std::lock_guard lock(mutex);
        queue.push_back(std::move(routine));
        queued.notify_all();
    };
    const auto owner = std::this_thread::get_id();
    int rebuilds = 0;
    auto build = [&] {
        EXPECT_EQ(std::this_thread::get_id(), owner);
        const bool ran = engine.Running;
        engine.EndOscillators();
        EXPECT_FALSE(engine.Running);
        for (int i = 0; i < 3; ++i) {
            auto osc = std::make_unique<TTone>();
            osc->Frequency = 300.0f + 100.0f * static_cast<float>(i);
            osc->SampleRate = static_cast<float>(engine.Host().SampleRate());
            osc->BlockSize = static_cast<int32_t>(engine.Host().BufferSize());
            osc->Ratios = {1, 2.75715f};
            osc->Gains = {1, 0.125f};
            osc->Resonance = 0.999f;
            osc->Pressure = 0.5f;
            osc->Speed = 0.2f;
            EXPECT_TRUE(engine.AddTone(std::move(osc)));
        }
        engine.ReadIndex = 0;
        ++rebuilds;
        if (ran) {
            engine.Start();
        }
    };
    engine.OnRebuildTones = build;
    build();
    std::atomic<uint64_t> silentWhilePending{0};
    host.OnBlockDone = [&](const TArrayOfSingleArray& out) {
        if (engine.ResetPending && out[0][0] == 0.0f && out[1][63] == 0.0f) {
            silentWhilePending.fetch_add(1);
        }
    };
    engine.Start();
    for (int round = 0; round < 3; ++round) {
        host.RequestReset();
        std::function<void()> routine;
        {
            std::unique_lock lock(mutex);
            queued.wait(lock, [&] { return !queue.empty(); });
            routine = std::move(queue.front());
            queue.pop_front();
        }
        // The driver's thread goes on while the rebuild waits.
        const uint64_t at = host.BlockCount;
        while (host.BlockCount < at + 3) {
            std::this_thread::yield();
        }
        EXPECT_TRUE(engine.ResetPending);
        routine();
        EXPECT_FALSE(engine.ResetPending);
        EXPECT_TRUE(engine.Running);
    }
    engine.Stop();
    EXPECT_EQ(rebuilds, 4);
    EXPECT_GE(silentWhilePending.load(), 3u);
}

// Whichever renders them, tones caught mid-block end with the engine and are freed once.
TEST(AudioEngine, DestroyEndsRunningTonesOfEveryRenderer) {
    struct TCountedTone : TTone {
        explicit TCountedTone(std::atomic<int>& freed) : Freed(freed) {}
        ~TCountedTone() override { Freed.fetch_add(1); }
        std::atomic<int>& Freed;
    };
    for (const TToneThreads how :
         {TToneThreads::PerTone, TToneThreads::PerCore, TToneThreads::Inline}) {
        std::atomic<int> freed{0};
        {
            TAudioEngine engine(std::make_unique<TNullHost>(48000.0, 32, false));
            engine.SetRendering({how, 2, false});
            for (int i = 0; i < 4; ++i) {
                auto osc = std::make_unique<TCountedTone>(freed);
                osc->Frequency = 440.0f;
                osc->SampleRate = 48000.0f;
                osc->BlockSize = 32;
                osc->Ratios = {1};
                osc->Gains = {1};
                ASSERT_TRUE(engine.AddTone(std::move(osc)));
            }
            engine.Start(); // as fast as possible, so tones are caught mid-block
            while (engine.Host().Active() &&
                   static_cast<TNullHost&>(engine.Host()).BlockCount < 50) {
                std::this_thread::yield();
            }
            engine.EndOscillators(); // stops the engine; the renderer is joined later
            EXPECT_FALSE(engine.Running);
            EXPECT_TRUE(engine.Oscillators.empty());
        }
        EXPECT_EQ(freed.load(), 4);
    }
}

TEST(AudioEngine, ToneWithAnotherBlockSizeIsNotReadPastItsBlock) {
    TEngineFixture f(64);
    auto osc = std::make_unique<TConstThread>(0.5f);
    osc->BlockSize = 16; // built for an earlier, smaller buffer size
    ASSERT_TRUE(f.Engine.AddTone(std::move(osc)));
    f.Add(0.25f);
    f.Engine.Stereo = false;
    f.Engine.RenderOffline(f.Out);
    EXPECT_EQ(f.Out[0][63], 0.25f);
}

namespace {

// A device that is started but plays a block only when the test asks for one.
class TManualHost : public TNullHost {
public:
    TManualHost() : TNullHost(48000.0, 32, false, 2) {}
    bool Active() const override { return Started; }
    void SetActive(bool value) override { Started = value; }
    void Play() { OnBufferSwitch32(this, InBuffer, OutBuffer); }
    bool Started = false;
};

// Remembers every block start and every change with the position it was stamped with.
struct TTapLog : IPerformanceTap {
    void TapBlock(uint64_t position, const float* left, const float*, uint32_t n,
                  uint32_t) override {
        Blocks.push_back(position);
        FirstLeft.push_back(left != nullptr && n > 0 ? left[0] : -1.0f);
    }
    void TapChange(uint64_t position, const TPlayingChange& c) override {
        Changes.emplace_back(position, c);
    }
    std::vector<uint64_t> Blocks;
    std::vector<float> FirstLeft;
    std::vector<std::pair<uint64_t, TPlayingChange>> Changes;
};

TPlayingChange ToneChange(int tone, float pressure) {
    TPlayingChange c;
    c.Kind = TPlayingChange::TKind::Tone;
    c.Tone = tone;
    c.Pressure = pressure;
    return c;
}

} // namespace

TEST(AudioEngine, PlayingChangesWaitForTheirBlockAndAreStampedWhereTheySound) {
    auto owned = std::make_unique<TManualHost>();
    TManualHost& host = *owned;
    TAudioEngine engine(std::move(owned));
    TTapLog tap;
    engine.Tap = &tap;
    auto osc = std::make_unique<TConstThread>(0.25f);
    osc->BlockSize = 32;
    ASSERT_TRUE(engine.AddTone(std::move(osc)));
    TTone& tone = *engine.Oscillators[0];
    engine.Stereo = false;

    // Stopped: at once, heard in the block after the one already rendered.
    engine.Change(ToneChange(0, 0.5f));
    EXPECT_EQ(tone.Pressure.load(), 0.5f);
    ASSERT_EQ(tap.Changes.size(), 1u);
    EXPECT_EQ(tap.Changes[0].first, 32u);

    engine.Start();
    host.Play(); // samples 0..31
    engine.Change(ToneChange(0, 0.75f));
    TPlayingChange master;
    master.Kind = TPlayingChange::TKind::Master;
    master.Value = 2.0f;
    engine.Change(master);
    EXPECT_EQ(tone.Pressure.load(), 0.5f) << "applied before its block";
    EXPECT_TRUE(engine.ChangesPending());
    engine.WaitForOscillators();
    host.Play(); // samples 32..63: the master gain at once, the tone's value in its next render
    EXPECT_FALSE(engine.ChangesPending());
    engine.WaitForOscillators();
    EXPECT_EQ(tone.Pressure.load(), 0.75f);
    ASSERT_EQ(tap.Changes.size(), 3u);
    EXPECT_EQ(tap.Changes[1].first, 64u); // the tone renders it for the block at 64
    EXPECT_EQ(tap.Changes[2].first, 32u); // the mixer uses it for the block at 32
    EXPECT_EQ(tap.Blocks, (std::vector<uint64_t>{0, 32}));
    EXPECT_FLOAT_EQ(tap.FirstLeft[0], 0.25f);    // block 1 of the tone, gain 1
    EXPECT_FLOAT_EQ(tap.FirstLeft[1], 2 * 0.5f); // block 2, gain 2 from this block on
    EXPECT_EQ(engine.SamplePosition.load(), 64u);
}

TEST(AudioEngine, AStalledCallbackLosesNoPlayingChange) {
    auto owned = std::make_unique<TManualHost>();
    TAudioEngine engine(std::move(owned));
    TTapLog tap;
    engine.Tap = &tap;
    auto osc = std::make_unique<TConstThread>(0.0f);
    osc->BlockSize = 32;
    ASSERT_TRUE(engine.AddTone(std::move(osc)));
    engine.Start();
    // Far more than the ring holds, and no block to take them.
    const int n = static_cast<int>(TPlayingChanges::RingCapacity) * 2 + 5;
    for (int i = 1; i <= n; ++i) {
        engine.Change(ToneChange(0, static_cast<float>(i) / static_cast<float>(n)));
    }
    EXPECT_TRUE(engine.ChangesPending());
    engine.Stop(); // what was waiting is applied, in order
    EXPECT_FALSE(engine.ChangesPending());
    EXPECT_EQ(engine.Oscillators[0]->Pressure.load(), 1.0f);
    ASSERT_EQ(tap.Changes.size(), static_cast<size_t>(n));
    bool inOrder = true;
    for (size_t i = 1; i < tap.Changes.size(); ++i) {
        inOrder = inOrder && tap.Changes[i].second.Pressure > tap.Changes[i - 1].second.Pressure;
    }
    EXPECT_TRUE(inOrder);
}

namespace {

// Plays its pressure as its samples: where a change lands inside a block shows in the output.
class TPressureTone : public TTone {
protected:
    void RenderBlock(float* out, int n) override { std::fill(out, out + n, Pressure.load()); }
};

TPlayingChange StampedChange(int tone, float pressure, uint64_t at) {
    TPlayingChange c = ToneChange(tone, pressure);
    c.At = at;
    return c;
}

// Index of the first sample of block that is not `before`, or block.size().
size_t FirstChange(const TSingleArray& block, float before) {
    size_t i = 0;
    while (i < block.size() && block[i] == before) {
        ++i;
    }
    return i;
}

} // namespace

// A change stamped with a sample is heard from that sample of its block, is recorded there, and
// one stamped past the block the tone renders next waits for its own block, keeping the changes
// behind it in order.
TEST(AudioEngine, StampedChangesAreHeardFromTheirSample) {
    auto owned = std::make_unique<TManualHost>();
    TManualHost& host = *owned;
    TAudioEngine engine(std::move(owned));
    TTapLog tap;
    engine.Tap = &tap;
    engine.Stereo = false;
    auto osc = std::make_unique<TPressureTone>();
    osc->BlockSize = 32;
    ASSERT_TRUE(engine.AddTone(std::move(osc)));
    engine.Start();
    const auto play = [&] {
        engine.WaitForOscillators();
        host.Play();
        return host.OutBuffer[0];
    };
    play(); // 0..31; the tone renders 32..63
    engine.Change(StampedChange(0, 0.5f, 64 + 10));
    engine.Change(StampedChange(0, 0.25f, 96 + 5)); // past the block rendered next: waits
    engine.Change(StampedChange(0, 0.125f, 0));     // behind it, so never before it
    play();                                         // 32..63; the tone renders 64..95
    EXPECT_TRUE(engine.ChangesPending());
    const TSingleArray b64 = play(); // 64..95; the tone renders 96..127
    EXPECT_EQ(FirstChange(b64, 0.0f), 10u);
    EXPECT_EQ(b64[31], 0.5f);
    const TSingleArray b96 = play();
    EXPECT_EQ(FirstChange(b96, 0.5f), 5u);
    EXPECT_EQ(b96[5], 0.125f) << "the unstamped change follows the stamped one at its sample";
    ASSERT_EQ(tap.Changes.size(), 3u);
    EXPECT_EQ(tap.Changes[0].first, 74u);
    EXPECT_EQ(tap.Changes[1].first, 101u);
    EXPECT_EQ(tap.Changes[2].first, 101u);
}

// More changes for one tone in one block than its list holds: the timing of that block goes,
// the values do not; a stopped engine places stamped changes the same way.
TEST(AudioEngine, ChangesBeyondATonesListKeepTheLatestValues) {
    TEngineFixture f;
    auto osc = std::make_unique<TPressureTone>();
    osc->BlockSize = 32;
    ASSERT_TRUE(f.Engine.AddTone(std::move(osc)));
    f.Engine.Stereo = false;
    f.Engine.RenderOffline(f.Out); // 0..31; the tone has rendered 32..63
    const int n = static_cast<int>(TToneEvents::Capacity) + 7;
    for (int i = 1; i <= n; ++i) {
        f.Engine.Change(StampedChange(0, static_cast<float>(i), 32 + 32 + 20));
    }
    f.Engine.RenderOffline(f.Out);
    f.Engine.RenderOffline(f.Out);
    EXPECT_EQ(f.Out[0][31], static_cast<float>(n));
    EXPECT_EQ(f.Engine.Oscillators[0]->Pressure.load(), static_cast<float>(n));

    f.Engine.Change(StampedChange(0, 0.5f, 96 + 32 + 3));
    f.Engine.RenderOffline(f.Out);
    f.Engine.RenderOffline(f.Out);
    EXPECT_EQ(FirstChange(f.Out[0], static_cast<float>(n)), 3u);
}

// Input stamped with its arrival time is heard two blocks after the sample that was playing
// then: a millisecond later in a block is 48 samples later at 48 kHz, whatever the block.
TEST(AudioEngine, ArrivalTimesMapOntoTheSamplesOfTheBlockTwoOn) {
    auto owned = std::make_unique<TManualHost>();
    TManualHost& host = *owned;
    TAudioEngine engine(std::move(owned));
    const auto now = [] {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
    EXPECT_EQ(engine.ArrivalStamp(now()), 0u) << "no block yet: as soon as possible";
    engine.Start();
    host.Play();
    host.Play(); // the block at 32
    const int64_t t = now();
    const uint64_t at = engine.ArrivalStamp(t);
    EXPECT_GE(at, 32u + 2 * 32);
    EXPECT_LT(at, 32u + 2 * 32 + 48 * 50) << "within 50 ms of the switch";
    EXPECT_EQ(engine.ArrivalStamp(t + 1'000'000) - at, 48u);
    engine.Stop();
    EXPECT_EQ(engine.ArrivalStamp(t), 0u) << "stopped: as soon as possible";
}
