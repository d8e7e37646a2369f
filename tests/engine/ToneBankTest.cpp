#include "engine/ToneBank.h"
#include "engine/NullHost.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace varko;

namespace {

std::vector<float> EqualSteps(int n, int steps) {
    std::vector<float> r;
    for (int i = 0; i < n; ++i) {
        r.push_back(static_cast<float>(std::pow(2.0, static_cast<double>(i) / steps)));
    }
    return r;
}

struct Bank : ::testing::Test {
    explicit Bank(double rate = 48000.0)
        : Engine(std::make_unique<TNullHost>(rate, 64, /*RealTimePace=*/false)) {}
    TAudioEngine Engine;
};

class DiesWhileBuilding : public TTone {
protected:
    void BuildBands(uint32_t) override { throw std::runtime_error("no memory for the bands"); }
};

} // namespace

TEST_F(Bank, BuildsOneStartedOscillatorPerTone) {
    TToneBankInput in;
    in.ToneRatios = EqualSteps(37, 12);
    in.Seed = 1;
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_EQ(r.RequestedTones, 37);
    EXPECT_EQ(r.BuiltTones, 37);
    ASSERT_EQ(Engine.Oscillators.size(), 37u);
    EXPECT_FALSE(r.Capped || r.Abandoned || r.WarnNoSound || r.WarnModeFile);
    EXPECT_EQ(r.ObjectDescription.value_or(""), "Uniform bar with free ends");
    EXPECT_FALSE(r.Running);
    EXPECT_FLOAT_EQ(Engine.PanOffset.load(), 38.0f / 37.0f);
    EXPECT_FLOAT_EQ(Engine.PanStep.load(), 1.0f / 37.0f);
    EXPECT_EQ(Engine.ReadIndex.load(), 0);
    for (size_t i = 0; i < Engine.Oscillators.size(); ++i) {
        const auto& t = *Engine.Oscillators[i];
        EXPECT_TRUE(t.Ready.load());
        EXPECT_FALSE(t.NoModes.load());
        EXPECT_FLOAT_EQ(t.Frequency, in.ToneRatios[i] * 200.0f);
        EXPECT_EQ(t.SampleRate, 48000.0f);
        EXPECT_EQ(t.BlockSize, 64);
        EXPECT_FLOAT_EQ(t.Resonance.load(), 0.99890055f);
        EXPECT_EQ(t.EndType, TEndType::Free);
        EXPECT_EQ(t.Seed.value_or(0), 1u + i);
    }
    // The lowest tone keeps all eight modes; the top one (1600 Hz) five: 13.34 x 1600 Hz lies
    // below 24 kHz, 18.64 x 1600 Hz above.
    EXPECT_EQ(Engine.Oscillators.front()->Ratios.size(), 8u);
    EXPECT_EQ(Engine.Oscillators.back()->Ratios.size(), 5u);
}

TEST_F(Bank, RebuildReplacesEveryOscillatorAndRestartsARunningEngine) {
    TToneBankInput in;
    in.ToneRatios = EqualSteps(5, 12);
    RefreshTones(Engine, in);
    const TTone* first = Engine.Oscillators.front().get();
    Engine.Start();
    ASSERT_TRUE(Engine.Running.load());
    in.ToneRatios = EqualSteps(7, 12);
    in.Paint2Rows = true;
    in.End = TEndType::Hinged;
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_TRUE(r.Running);
    EXPECT_TRUE(Engine.Running.load());
    ASSERT_EQ(Engine.Oscillators.size(), 7u);
    EXPECT_NE(Engine.Oscillators.front().get(), first);
    EXPECT_FLOAT_EQ(Engine.PanOffset.load(), 1.25f); // two rows of four
    EXPECT_FLOAT_EQ(Engine.PanStep.load(), 0.25f);
    EXPECT_EQ(r.ObjectDescription.value_or(""), "Uniform bar with hinged ends");
    Engine.Stop();
}

TEST_F(Bank, ToneAboveHalfTheRateWarnsThatBarsMayBeSilent) {
    TToneBankInput in;
    in.ToneRatios = {1.0f, 150.0f}; // 200 Hz and 30 kHz at 48 kHz
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_TRUE(r.WarnNoSound);
    EXPECT_FALSE(r.WarnModeFile);
    EXPECT_TRUE(Engine.Oscillators[1]->NoModes.load());
    EXPECT_FALSE(Engine.Oscillators[0]->NoModes.load());
}

TEST_F(Bank, EmptyModeFileWarnsAboutTheFile) {
    TToneBankInput in;
    in.ToneRatios = {1.0f, 1.5f};
    in.ExternalObject = true;
    in.End = TEndType::Fixed;
    in.ModeFileName = "glass";
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_TRUE(r.WarnModeFile);
    EXPECT_FALSE(r.WarnNoSound);
    EXPECT_EQ(r.ObjectDescription.value_or(""), "glass (One end fixed)");
    EXPECT_EQ(Engine.Oscillators[0]->EndType,
              TEndType::None); // no mode taken: position has no effect
}

TEST_F(Bank, ModeFileModesAndTheirEndType) {
    TToneBankInput in;
    in.ToneRatios = {1.0f};
    in.ExternalObject = true;
    in.End = TEndType::Hinged;
    in.ModeRatios = {1.0f, 2.32f, 4.25f};
    in.ModeLevels = {1.0f, 0.5f, 0.25f};
    in.ModeLimit = 2;
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_FALSE(r.WarnModeFile || r.WarnNoSound);
    const auto& t = *Engine.Oscillators[0];
    EXPECT_EQ(t.Ratios, (std::vector<float>{1.0f, 2.32f}));
    EXPECT_EQ(t.Gains, (std::vector<float>{1.0f, 0.5f}));
    EXPECT_EQ(t.EndType, TEndType::Hinged);
}

TEST_F(Bank, AbsurdToneCountIsCapped) {
    TToneBankInput in;
    in.ToneRatios.assign(MaxTones + 40, 1.0f);
    in.ModeLimit = 1;
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_TRUE(r.Capped);
    EXPECT_EQ(r.RequestedTones, MaxTones + 40);
    EXPECT_EQ(r.BuiltTones, MaxTones);
    EXPECT_EQ(Engine.Oscillators.size(), static_cast<size_t>(MaxTones));
}

TEST_F(Bank, OscillatorDyingWhileBuildingAbandonsTheRebuild) {
    TToneBankInput in;
    in.ToneRatios = EqualSteps(6, 12);
    RefreshTones(Engine, in);
    Engine.Start();
    int made = 0;
    in.MakeTone = [&made]() -> std::unique_ptr<TTone> {
        return ++made == 3 ? std::make_unique<DiesWhileBuilding>() : std::make_unique<TTone>();
    };
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_TRUE(r.Abandoned);
    EXPECT_EQ(r.BuiltTones, 3);          // no tone after the dead one is built
    EXPECT_FALSE(Engine.Running.load()); // not restarted
    EXPECT_FALSE(r.ObjectDescription);
    EXPECT_NE(r.CrashText.find("@TWaveguideThread: no memory for the bands"), std::string::npos)
        << r.CrashText;
}

TEST_F(Bank, EmptyToneListLeavesAnEmptyBankAndNoDescription) {
    TToneBankInput in;
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_EQ(r.BuiltTones, 0);
    EXPECT_FALSE(r.ObjectDescription);
    EXPECT_TRUE(Engine.Oscillators.empty());
}

TEST_F(Bank, ZeroAndNegativeDegreesGiveSilentBarsAndTheWarning) {
    // A scale may hold 0/5 or a negative whole number; such a tone gets no band at all.
    TToneBankInput in;
    in.ToneRatios = {1.0f, 0.0f, -2.0f};
    const TToneBankResult r = RefreshTones(Engine, in);
    EXPECT_EQ(r.BuiltTones, 3);
    EXPECT_TRUE(r.WarnNoSound);
    EXPECT_FALSE(Engine.Oscillators[0]->NoModes.load());
    EXPECT_TRUE(Engine.Oscillators[1]->NoModes.load());
    EXPECT_TRUE(Engine.Oscillators[2]->NoModes.load());
}

TEST(Stereo, PanConstants) {
    TStereoConstants c;
    ASSERT_TRUE(StereoConstants(10, false, c));
    EXPECT_FLOAT_EQ(c.PanOffset, 1.1f);
    EXPECT_FLOAT_EQ(c.PanStep, 0.1f);
    ASSERT_TRUE(StereoConstants(7, true, c));
    EXPECT_FLOAT_EQ(c.PanOffset, 1.25f);
    EXPECT_FLOAT_EQ(c.PanStep, 0.25f);
    ASSERT_TRUE(StereoConstants(1, false, c));
    EXPECT_FLOAT_EQ(c.PanOffset, 2.0f);
    EXPECT_FLOAT_EQ(c.PanStep, 1.0f);
    TStereoConstants untouched{5.0f, 6.0f};
    EXPECT_FALSE(StereoConstants(0, false, untouched));
    EXPECT_EQ(untouched.PanOffset, 5.0f);
}

// A mode level of 3.4e38 (a finite float) made the output infinite.
TEST_F(Bank, ModeLevelsAreBoundedAndTheMixStaysFinite) {
    TToneBankInput in;
    in.ToneRatios = EqualSteps(3, 12);
    in.ExternalObject = true;
    in.ModeRatios = {1.0f, 2.7f, 5.4f};
    in.ModeLevels = {3.4e38f, -3.4e38f, 0.5f};
    in.ResonanceFader = 0;
    in.Seed = 1;
    RefreshTones(Engine, in);
    ASSERT_EQ(Engine.Oscillators.size(), 3u);
    EXPECT_EQ(Engine.Oscillators[0]->Gains,
              (std::vector<float>{MaxModeLevel, -MaxModeLevel, 0.5f}));
    Engine.MasterGain = MasterGainFromFader(0); // the loudest
    TArrayOfSingleArray out(2, TSingleArray(64));
    for (auto& osc : Engine.Oscillators) {
        osc->Pressure = 1.0f;
        osc->Speed = 1.0f;
    }
    for (int block = 0; block < 200; ++block) {
        Engine.RenderOffline(out);
        for (const auto& channel : out) {
            for (const float v : channel) {
                ASSERT_TRUE(std::isfinite(v)) << "block " << block;
            }
        }
    }
    EXPECT_GT(Engine.PeakLeft.load(), 1.0f); // loud, as the file asks, but finite
    EXPECT_EQ(Engine.ToneResets.load(), 0u);
}

// A mode limit of 100000 and a long mode file once took gigabytes for a few tones.
TEST_F(Bank, ModeLimitAndMemoryAreBounded) {
    TToneBankInput in;
    in.ToneRatios.assign(256, 1.0f);
    in.ExternalObject = true;
    // Modes a few hertz above zero: every one a delay line of most of a second.
    for (int i = 0; i < 200; ++i) {
        in.ModeRatios.push_back(0.006f + 0.0001f * static_cast<float>(i));
        in.ModeLevels.push_back(1.0f);
    }
    in.ModeLimit = 100000;
    const TToneBankResult big = RefreshTones(Engine, in);
    EXPECT_TRUE(big.TooLarge);
    EXPECT_GT(big.BankBytes, MaxBankBytes);
    EXPECT_TRUE(Engine.Oscillators.empty());
    EXPECT_EQ(big.BuiltTones, 0);

    in.ToneRatios.resize(2);
    const TToneBankResult small = RefreshTones(Engine, in);
    EXPECT_FALSE(small.TooLarge);
    ASSERT_EQ(Engine.Oscillators.size(), 2u);
    EXPECT_EQ(Engine.Oscillators[0]->Ratios.size(), static_cast<size_t>(MaxModeLimit));
    EXPECT_LT(small.BankBytes, MaxBankBytes);
}
