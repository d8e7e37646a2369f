// The three ways of rendering a bank: what each keeps of the handshake (first block at build,
// a release while rendering not remembered, a failing tone ended and told), and that all three
// give the same samples.
#include "engine/ToneRenderer.h"
#include "engine/AudioEngine.h"
#include "engine/NullHost.h"
#include "engine/PoolRenderer.h"
#include "engine/ToneBank.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <pthread.h>
#include <semaphore>
#include <stdexcept>
#include <thread>

using namespace varko;

namespace {

std::string ThreadName() {
    char buffer[32] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    return buffer;
}

class TCountingTone : public TTone {
public:
    std::atomic<int> Blocks{0};
    std::string Thread; // the thread that rendered the last block

protected:
    void RenderBlock(float* out, int n) override {
        TTone::RenderBlock(out, n);
        Thread = ThreadName();
        Blocks.fetch_add(1);
    }
};

class TGatedTone : public TTone {
public:
    std::atomic<int> Blocks{0};
    std::counting_semaphore<64> Gate{0};

protected:
    void RenderBlock(float* out, int n) override {
        Blocks.fetch_add(1);
        Gate.acquire();
        TTone::RenderBlock(out, n);
    }
};

// Throws while building, or at its ThrowAt-th block.
class TThrowingTone : public TTone {
public:
    explicit TThrowingTone(int throwAt = 0) : throwAt_(throwAt) {}

protected:
    void BuildBands(uint32_t seed) override {
        if (throwAt_ == 0) {
            throw std::runtime_error("no bands today");
        }
        TTone::BuildBands(seed);
    }
    void RenderBlock(float* out, int n) override {
        if (++blocks_ == throwAt_) {
            throw std::length_error("block too long");
        }
        TTone::RenderBlock(out, n);
    }

private:
    int throwAt_;
    int blocks_ = 0;
};

void SetUpTone(TTone& t, float frequency, int32_t block) {
    t.Frequency = frequency;
    t.SampleRate = 48000.0f;
    t.BlockSize = block;
    t.EndType = TEndType::Free;
    t.Ratios = {1, 2.75715f, 5.40394f};
    t.Gains = {1, 0.125f, 0.037f};
    t.Resonance = 0.999f;
    t.Seed = static_cast<uint32_t>(frequency);
}

std::string Name(const testing::TestParamInfo<TToneThreads>& info) {
    switch (info.param) {
    case TToneThreads::PerTone:
        return "PerTone";
    case TToneThreads::PerCore:
        return "PerCore";
    case TToneThreads::Inline:
        return "Inline";
    }
    return "?";
}

class ToneRenderers : public testing::TestWithParam<TToneThreads> {
protected:
    std::unique_ptr<IToneRenderer> Make(int poolThreads = 2) {
        return MakeToneRenderer({GetParam(), poolThreads, false});
    }
};

} // namespace

TEST_P(ToneRenderers, BuildRendersTheFirstBlockOnTheRenderersThread) {
    TCountingTone tone;
    auto renderer = Make();
    SetUpTone(tone, 200.0f, 64);
    ASSERT_TRUE(renderer->Add(tone));
    renderer->WaitIdle();
    EXPECT_TRUE(tone.Ready);
    EXPECT_FALSE(tone.NoModes);
    EXPECT_EQ(tone.Phase(), 0);
    EXPECT_EQ(tone.Blocks.load(), 1);
    EXPECT_EQ(tone.Output[0].size(), 64u);
    if (GetParam() == TToneThreads::PerTone) {
        EXPECT_EQ(tone.Thread, "Osc-200");
    } else {
        EXPECT_EQ(tone.Thread, ThreadName()); // the owner's: a pool builds where it is added
    }
    // The next blocks come from the renderer's own threads.
    tone.WriteIndex = 1;
    renderer->Release();
    renderer->WaitIdle();
    EXPECT_EQ(tone.Phase(), 1);
    EXPECT_EQ(tone.Blocks.load(), 2);
    if (GetParam() == TToneThreads::PerCore) {
        EXPECT_TRUE(tone.Thread.starts_with("Osc-pool-")) << tone.Thread;
    }
    renderer->Stop();
    renderer.reset();
    EXPECT_EQ(tone.Blocks.load(), 2); // ended while waiting: no further block
    EXPECT_EQ(tone.Phase(), TTone::Ended);
    EXPECT_FALSE(tone.FatalException);
}

TEST_P(ToneRenderers, ToneAboveHalfTheRateHasNoModesAndIsSilent) {
    TTone tone; // outlives the renderer, which ends its threads first
    auto renderer = Make();
    SetUpTone(tone, 30000.0f, 32);
    tone.Pressure = 1.0f;
    tone.Speed = 0.5f;
    ASSERT_TRUE(renderer->Add(tone));
    renderer->WaitIdle();
    EXPECT_TRUE(tone.NoModes);
    for (float v : tone.Output[0]) {
        EXPECT_EQ(v, 0.0f);
    }
}

TEST_P(ToneRenderers, FailureWhileBuildingEndsTheToneAndTellsIt) {
    TThrowingTone tone;
    auto renderer = Make();
    SetUpTone(tone, 440.0f, 16);
    std::atomic<bool> told{false};
    tone.OnFailed = [&told](TTone& t) { told = t.FatalException != nullptr; };
    EXPECT_FALSE(renderer->Add(tone));
    EXPECT_TRUE(told);
    EXPECT_FALSE(tone.Ready);
    EXPECT_EQ(tone.Phase(), TTone::Ended);
    EXPECT_EQ(tone.CrashText(), "std::runtime_error@TWaveguideThread: no bands today");
    EXPECT_THROW(std::rethrow_exception(tone.FatalException), std::runtime_error);
}

// A tone that throws at its third block ends alone: the others go on rendering.
TEST_P(ToneRenderers, ToneThatThrowsWhileRenderingEndsAlone) {
    TThrowingTone bad(3);
    TTone good;
    auto renderer = Make();
    SetUpTone(bad, 300.0f, 32);
    SetUpTone(good, 400.0f, 32);
    std::atomic<int> told{0};
    bad.OnFailed = [&told](TTone&) { told.fetch_add(1); };
    ASSERT_TRUE(renderer->Add(bad));
    ASSERT_TRUE(renderer->Add(good));
    for (int block = 1; block <= 4; ++block) {
        renderer->WaitIdle();
        bad.WriteIndex = block & 1;
        good.WriteIndex = block & 1;
        renderer->Release();
    }
    renderer->WaitIdle();
    EXPECT_EQ(told.load(), 1);
    EXPECT_EQ(bad.Phase(), TTone::Ended);
    EXPECT_EQ(bad.CrashText(), "std::length_error@TWaveguideThread: block too long");
    EXPECT_EQ(good.BlocksRendered.load(), 5u);
}

INSTANTIATE_TEST_SUITE_P(, ToneRenderers,
                         testing::Values(TToneThreads::PerTone, TToneThreads::PerCore,
                                         TToneThreads::Inline),
                         Name);

// The threads' renderers: a release that finds a tone still rendering has no effect, so the
// tone waits after finishing until the following one.
TEST(ToneRenderer, ReleaseWhileRenderingIsNotRemembered) {
    for (const TToneThreads how : {TToneThreads::PerTone, TToneThreads::PerCore}) {
        TGatedTone tone;
        auto renderer = MakeToneRenderer({how, 1, false});
        SetUpTone(tone, 440.0f, 16);
        tone.Gate.release(); // the first block renders at once
        ASSERT_TRUE(renderer->Add(tone));
        for (int k = 2; k <= 6; ++k) {
            renderer->WaitIdle();
            tone.WriteIndex = k & 1;
            renderer->Release();
            while (tone.Blocks.load() < k) {
                std::this_thread::yield();
            }
            EXPECT_EQ(tone.Phase(), TTone::Rendering);
            renderer->Release(); // finds it rendering: has no effect
            tone.Gate.release();
            renderer->WaitIdle();
            EXPECT_EQ(tone.Phase(), k & 1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        EXPECT_EQ(tone.Blocks.load(), 6);
        EXPECT_EQ(tone.Phase(), 0); // still waiting after block 6
        tone.Gate.release();        // lets a block run if a release had been remembered
        renderer->Stop();
        renderer.reset();
        EXPECT_EQ(tone.Blocks.load(), 6);
    }
}

TEST(ToneRenderer, PoolHasOneThreadPerCoreUnlessTold) {
    EXPECT_EQ(TPoolRenderer(PoolThreadCount(0), false).ThreadCount(),
              static_cast<int>(std::max(1u, std::thread::hardware_concurrency())));
    EXPECT_EQ(TPoolRenderer(PoolThreadCount(3), false).ThreadCount(), 3);
    EXPECT_EQ(TPoolRenderer(0, false).ThreadCount(), 1);
}

namespace {

// A performance of 200 blocks on a 37-tone bank of 12 modes: strokes that start, glide over
// bars, rest and lift at changing places, with the resonance moved now and then. Every sample
// of both channels, and each tone's noise seed.
// stamped: each tone change is heard from a sample inside the block, not at its start.
std::vector<float> Perform(TToneThreads how, bool interpolate, uint32_t block,
                           bool stamped = false) {
    TAudioEngine engine(std::make_unique<TNullHost>(44100.0, block, false));
    TToneBankInput in;
    for (int i = 0; i < 37; ++i) {
        in.ToneRatios.push_back(static_cast<float>(std::pow(2.0, i / 12.0)));
    }
    in.InitialFrequency = 110.0f;
    in.ModeLimit = 12;
    in.InterpolateDelays = interpolate;
    in.Seed = 7;
    in.Rendering = {how, 3, false};
    const TToneBankResult r = RefreshTones(engine, in);
    EXPECT_EQ(r.BuiltTones, 37);
    TArrayOfSingleArray out(2, TSingleArray(block));
    std::vector<float> heard;
    uint32_t lcg = 12345;
    const auto next = [&lcg] { return (lcg = lcg * 1664525u + 1013904223u) >> 8; };
    for (int b = 0; b < 200; ++b) {
        for (int k = 0; k < 3; ++k) {
            TPlayingChange c;
            c.Kind = TPlayingChange::TKind::Tone;
            c.Tone = static_cast<int>(next() % 37);
            c.Pressure = (next() % 4 == 0) ? 0.0f : static_cast<float>(next() % 1000) / 1000.0f;
            c.Speed = static_cast<float>(next() % 500) / 1000.0f;
            c.Strike = static_cast<float>(next() % 1000) / 1000.0f;
            if (stamped) {
                c.At = engine.SamplePosition.load() + block + next() % block;
            }
            engine.Change(c);
        }
        if (b % 50 == 25) {
            TPlayingChange c;
            c.Kind = TPlayingChange::TKind::Resonance;
            c.Value = b < 100 ? 0.9995f : 0.99995f;
            engine.Change(c);
        }
        engine.RenderOffline(out);
        heard.insert(heard.end(), out[0].begin(), out[0].end());
        heard.insert(heard.end(), out[1].begin(), out[1].end());
    }
    for (const auto& t : engine.Oscillators) {
        heard.push_back(static_cast<float>(t->NoiseSeed));
    }
    EXPECT_EQ(engine.LateBlocks.load(), 0u);
    return heard;
}

} // namespace

// The same performance through the three renderers gives the same samples, bit for bit: the
// kernels that take several tones' lanes together change nothing of any one tone.
TEST(ToneRenderer, EveryRendererGivesTheSameSamplesBitForBit) {
    for (const bool stamped : {false, true}) {
        for (const bool interpolate : {false, true}) {
            for (const uint32_t block : {64u, 300u}) {
                SCOPED_TRACE(stamped ? "changes inside blocks" : "changes at block starts");
                const std::vector<float> perTone =
                    Perform(TToneThreads::PerTone, interpolate, block, stamped);
                double energy = 0;
                for (const float v : perTone) {
                    energy += static_cast<double>(v) * v;
                }
                ASSERT_GT(energy, 1.0) << "the performance is silent";
                for (const TToneThreads how : {TToneThreads::PerCore, TToneThreads::Inline}) {
                    const std::vector<float> other = Perform(how, interpolate, block, stamped);
                    ASSERT_EQ(other.size(), perTone.size());
                    size_t differ = 0;
                    for (size_t i = 0; i < other.size(); ++i) {
                        differ += std::memcmp(&other[i], &perTone[i], sizeof(float)) != 0;
                    }
                    EXPECT_EQ(differ, 0u) << "renderer " << static_cast<int>(how)
                                          << ", interpolate " << interpolate << ", block " << block;
                }
            }
        }
    }
}

// A block rendered in pieces, split where a change repeats the values the tone already has,
// gives the samples of the block rendered whole: the bands render any number of samples, and
// the quiet, excited and ringing states carry across the split.
TEST(ToneRenderer, ABlockSplitAtUnchangedValuesIsTheSameAsWhole) {
    for (const bool interpolate : {false, true}) {
        for (const int32_t block : {64, 300, 1024}) {
            TTone whole, split;
            for (TTone* t : {&whole, &split}) {
                SetUpTone(*t, 220.0f, block);
                t->Interpolate = interpolate;
                t->Build();
            }
            size_t differ = 0;
            double energy = 0;
            for (int b = 0; b < 60; ++b) {
                // Pressed, bowed, lifted to ring, then left quiet.
                const float pressure = b < 20 ? 0.6f : 0.0f;
                const float speed = b < 10 ? 0.3f : (b < 20 ? 0.05f : 0.0f);
                const float strike = 0.3f + 0.01f * static_cast<float>(b % 7);
                for (TTone* t : {&whole, &split}) {
                    t->Pressure = pressure;
                    t->Speed = speed;
                    t->StrikePosition = strike;
                    ASSERT_TRUE(t->Claim());
                }
                const auto first = static_cast<uint32_t>((b * 37) % block);
                split.Events.Add({first, pressure, speed, strike});
                split.Events.Add(
                    {first + static_cast<uint32_t>(block - first) / 2, pressure, speed, strike});
                whole.RenderClaimed();
                split.RenderClaimed();
                EXPECT_EQ(split.Events.Count, 0u);
                const auto& a = whole.Output[0];
                const auto& c = split.Output[0];
                for (size_t i = 0; i < a.size(); ++i) {
                    differ += std::memcmp(&a[i], &c[i], sizeof(float)) != 0;
                    energy += static_cast<double>(a[i]) * a[i];
                }
            }
            ASSERT_GT(energy, 0.0);
            EXPECT_EQ(differ, 0u) << "interpolate " << interpolate << ", block " << block;
        }
    }
}

// The pool while the bank plays at full speed: rebuilds with another thread count each time,
// a tone that throws in mid-performance, stops and starts in the middle of blocks, and changes
// posted all along. Run under ThreadSanitizer by the test command.
TEST(ToneRenderer, PoolSurvivesRebuildsThrowsAndStopsWhilePlaying) {
    auto owned = std::make_unique<TNullHost>(48000.0, 32, /*RealTimePace=*/false);
    TNullHost& host = *owned;
    TAudioEngine engine(std::move(owned));
    std::atomic<int> failures{0};
    for (int round = 0; round < 6; ++round) {
        TToneBankInput in;
        for (int i = 0; i < 24; ++i) {
            in.ToneRatios.push_back(static_cast<float>(std::pow(2.0, i / 12.0)));
        }
        in.Seed = 5;
        in.Rendering = {TToneThreads::PerCore, 1 + round % 3, false};
        int made = 0;
        in.MakeTone = [&made, round]() -> std::unique_ptr<TTone> {
            // In odd rounds the fifth tone throws at its 40th block.
            if (made++ == 4 && round % 2 == 1) {
                return std::make_unique<TThrowingTone>(40);
            }
            return std::make_unique<TTone>();
        };
        in.OnFailed = [&failures](TTone&) { failures.fetch_add(1); };
        ASSERT_EQ(RefreshTones(engine, in).BuiltTones, 24);
        engine.Start();
        // The null host asks for blocks as fast as it can: most find the pool busy. Played
        // until the fifth tone has rendered 60 blocks, or has ended.
        const TTone& fifth = *engine.Oscillators[4];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        for (int k = 0; fifth.BlocksRendered.load() < 60 && fifth.Phase() != TTone::Ended &&
                        std::chrono::steady_clock::now() < deadline;
             ++k) {
            TPlayingChange c;
            c.Kind = TPlayingChange::TKind::Tone;
            c.Tone = k % 24;
            c.Pressure = 0.5f;
            c.Speed = 0.02f * static_cast<float>(k % 10);
            engine.Change(c);
            if (k % 50 == 25) {
                engine.Stop(); // in the middle of whatever block the pool renders
                engine.Start();
            }
            std::this_thread::yield();
        }
        engine.Stop();
        engine.WaitForOscillators();
        EXPECT_GT(host.BlockCount.load(), 0u);
    }
    engine.EndOscillators();
    EXPECT_EQ(failures.load(), 3);
}
