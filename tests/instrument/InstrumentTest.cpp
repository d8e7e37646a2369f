// The instrument without a window: a scale opened into tones and a bank, the mode files and
// their history, and what the player is told, in the order it happens.
#include "instrument/Instrument.h"

#include "core/Texts.h"
#include "engine/NullHost.h"

#include <gtest/gtest.h>

#include <thread>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace varko;
namespace fs = std::filesystem;

namespace {

struct InstrumentTest : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("varko-instrument-" + std::to_string(::getpid()));
    TInstrument In;
    std::vector<std::string> Told; // messages and rebuilds, in order

    void SetUp() override {
        fs::create_directories(Dir);
        In.AttachHost(std::make_unique<TNullHost>(48000.0, 128, true));
        In.OnMessage = [this](const TInstrumentMessage& m) {
            Told.push_back((m.Kind == TInstrumentMessage::TKind::Error ? "error: " : "warning: ") +
                           m.Text);
        };
        In.OnRebuild = [this](bool preparing) { Told.push_back(preparing ? "rebuild" : "built"); };
    }
    void TearDown() override { fs::remove_all(Dir); }
    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(Dir / name, std::ios::binary) << text;
        return (Dir / name).string();
    }
};

} // namespace

TEST_F(InstrumentTest, OpeningAScaleBuildsTheBankAndAFailedOneKeepsThePrevious) {
    In.Audio().SelectDriver(0);
    In.Bank().SetRepeatUpCount(1);
    In.OpenScale(Write("fifths.scl", "Fifths\n 2\n701.955\n2/1\n"));
    EXPECT_EQ(Told, (std::vector<std::string>{"rebuild", "built"}));
    EXPECT_EQ(In.Bank().Scale().Description, "Fifths");
    ASSERT_EQ(In.Bank().Tones().size(), 5u); // 1/1, fifth, 2/1 and its upper copy without the 1/1
    EXPECT_EQ(In.Audio().Engine().Oscillators.size(), 5u);
    EXPECT_EQ(In.Bank().ObjectStatus(), "Uniform bar with free ends");
    EXPECT_EQ(In.Audio().AudioStatus(), "Running");
    EXPECT_FALSE(In.Audio().Preparing());

    Told.clear();
    In.OpenScale((Dir / "missing.scl").string());
    // The error first, then the bank rebuilt from the scale that stays.
    EXPECT_EQ(Told, (std::vector<std::string>{std::string("error: ") + text::ScaleNotOpened,
                                              "rebuild", "built"}));
    EXPECT_EQ(In.Bank().Scale().Description, "Fifths");
    EXPECT_EQ(In.Audio().Engine().Oscillators.size(), 5u);

    Told.clear();
    In.OpenScale(Write("bad.scl", "Broken\n 2\n701.955\nnot a pitch\n"));
    EXPECT_EQ(Told, (std::vector<std::string>{std::string("warning: ") + text::ScaleErrors,
                                              "rebuild", "built"}));
}

TEST_F(InstrumentTest, TooManyTonesAreCappedAndThePlayerIsToldHowMany) {
    // 72 steps over 21 octaves: more tones than the cap.
    std::string scale = "72 steps\n72\n";
    for (int i = 1; i <= 72; ++i) {
        scale += std::to_string(i * 50 / 3) + "." + std::to_string(i * 50 % 3 * 3) + "\n";
    }
    In.Bank().SetRepeatDownCount(10);
    In.Bank().SetRepeatUpCount(10);
    In.OpenScale(Write("et30.scl", scale));
    EXPECT_EQ(In.Bank().Tones().size(), 1513u);
    EXPECT_EQ(In.Bank().BarRatios().size(), static_cast<size_t>(MaxTones));
    EXPECT_EQ(In.Audio().Engine().Oscillators.size(), static_cast<size_t>(MaxTones));
    ASSERT_EQ(Told.size(), 3u);
    EXPECT_EQ(Told[2], "warning: The scale and its repeats give 1513 tones, but Varko can play at "
                       "most " +
                           std::to_string(MaxTones) + " tones at once. Only the first " +
                           std::to_string(MaxTones) +
                           " tones are used; reduce the repeats to hear the others.");
}

TEST_F(InstrumentTest, ModeFilesFromBrowseAndHistoryNameTheObject) {
    const std::string glass = Write("glass.vmod", "1.0, 1.0\n2.76, 0.5\nnot a mode\n");
    In.ModeFiles().History().Insert((Dir / "gone.vmod").string());

    ASSERT_TRUE(In.ModeFiles().Load(glass));
    EXPECT_EQ(In.ModeFiles().Ratios(), (std::vector<float>{1.0f, 2.76f}));
    EXPECT_TRUE(In.ModeFiles().Warning()); // the faulty third line
    EXPECT_EQ(In.ModeFiles().History().Entries(),
              (std::vector<std::string>{glass, (Dir / "gone.vmod").string()}));
    EXPECT_EQ(In.ModeFiles().Selected(), 0);

    // The entry that cannot be opened: the error, and it leaves the history.
    EXPECT_FALSE(In.ModeFiles().LoadFromHistory(1));
    EXPECT_EQ(Told.back(), std::string("error: ") + text::ModeFileNotOpened);
    EXPECT_TRUE(In.ModeFiles().Ratios().empty());
    EXPECT_EQ(In.ModeFiles().History().Entries(), std::vector<std::string>{glass});
    EXPECT_EQ(In.ModeFiles().Selected(), -1);

    ASSERT_TRUE(In.ModeFiles().LoadFromHistory(0));
    In.Bank().SetExternalObject(true);
    In.OpenScale(Write("one.scl", "One\n 1\n2/1\n"));
    EXPECT_EQ(In.Bank().ObjectStatus(), "glass (Both ends free)");
    EXPECT_EQ(In.Audio().Engine().Oscillators.at(0)->Ratios, (std::vector<float>{1.0f, 2.76f}));
}

// The status bar's advice: late blocks piling up on a bank of far more tones than cores, each on
// a thread of its own; not once the pool renders them, nor for a small bank.
TEST_F(InstrumentTest, LateBlocksOnALargeBankAdviseThePool) {
    const size_t cores = std::max(1u, std::thread::hardware_concurrency());
    std::string scale = "many\n" + std::to_string(4 * cores + 1) + "\n";
    for (size_t i = 1; i <= 4 * cores + 1; ++i) {
        scale += std::to_string(10 * i) + ".0\n";
    }
    In.OpenScale(Write("many.scl", scale));
    ASSERT_GT(In.Audio().Engine().Oscillators.size(), 4 * cores);
    EXPECT_FALSE(In.Audio().PoolAdvised());
    In.Audio().Engine().LateBlocks.store(100);
    In.Audio().WatchAudio();
    EXPECT_TRUE(In.Audio().PoolAdvised());
    In.Settings().SetToneThreads(true, 0);
    EXPECT_FALSE(In.Audio().PoolAdvised());
    In.Settings().SetToneThreads(false, 0);
    In.OpenScale(Write("few.scl", "few\n1\n2/1\n"));
    In.Audio().Engine().LateBlocks.store(1000);
    In.Audio().WatchAudio();
    ASSERT_GE(In.Audio().LateBlocks(), 100u);
    EXPECT_FALSE(In.Audio().PoolAdvised());
}

// The key map over repeats with both ends kept (a tone at every copy's start and end), and a
// mapping that cannot be used.
TEST_F(InstrumentTest, AKeyboardMappingFindsItsBarsOverRepeatsAndABrokenOneIsRefused) {
    // Five equal steps, repeated once down, ends kept: 6 + 6 tones, the 1/1 at tone 6.
    const std::string scale = Write("5.scl", "Five\n5\n240.\n480.\n720.\n960.\n2/1\n");
    const std::string kbm = Write("five.kbm", "5\n0\n127\n60\n60\n250\n5\n0\n1\nx\n3\n4\n");
    In.Bank().SetRepeatDownCount(1);
    In.Bank().SetRepeatEnds(true);
    In.OpenScale(scale);
    In.OpenKeyboardMapping(kbm);
    const auto keys = In.Bank().KeyTones();
    ASSERT_TRUE(keys.has_value());
    EXPECT_EQ((*keys)[60], 6);  // the 1/1: the scale's own start
    EXPECT_EQ((*keys)[59], 4);  // degree -1: the lower copy's fourth tone
    EXPECT_EQ((*keys)[55], 0);  // degree -5: the lower copy's 1/1
    EXPECT_EQ((*keys)[54], -1); // below the bars
    EXPECT_EQ((*keys)[62], -1); // "x"
    EXPECT_EQ((*keys)[65], 11); // degree 5: the scale's own 2/1, its last tone
    EXPECT_EQ((*keys)[66], -1); // above the bars
    EXPECT_FLOAT_EQ(In.Bank().InitialFrequency(), 250.0f); // the reference key plays the 1/1

    // A mapping whose header cannot be read is refused with its lines; the previous stays.
    Told.clear();
    In.OpenKeyboardMapping(Write("bad.kbm", "5\n0\n127\n60\nsixty\n250\n5\n"));
    ASSERT_EQ(Told.size(), 1u);
    EXPECT_NE(Told[0].find("error: "), std::string::npos);
    EXPECT_NE(Told[0].find("Line 5"), std::string::npos) << Told[0];
    EXPECT_EQ(In.Bank().KbmPath(), kbm);
}

TEST_F(InstrumentTest, ApplyDoesExactlyThePendingWorkAndThePlayersApplyAlwaysRebuilds) {
    In.OpenScale(Write("fifths.scl", "Fifths\n 2\n701.955\n2/1\n"));
    ASSERT_EQ(In.Bank().Pending(), PendingNone);
    Told.clear();

    // Choices the bank is not built from leave nothing to do.
    In.Settings().SetMasterLevel(150);
    In.Settings().SetLimiter(true);
    EXPECT_EQ(In.ApplyPending(), PendingNone);
    EXPECT_TRUE(Told.empty());
    // Nor does storing what is there already.
    EXPECT_EQ(In.Bank().SetModeLimit(In.Bank().ModeLimit()), PendingNone);
    EXPECT_EQ(In.Bank().SetParameters(In.Bank().Parameters()), PendingNone);

    // A bank parameter: the bank once, the tone list untouched.
    EXPECT_EQ(In.Bank().SetModeLimit(3), PendingBank);
    EXPECT_EQ(In.Bank().SetEnd(TEndType::Fixed), PendingBank);
    EXPECT_EQ(In.ApplyPending(), PendingBank);
    EXPECT_EQ(Told, (std::vector<std::string>{"rebuild", "built"}));
    EXPECT_EQ(In.Bank().Tones().size(), 3u);
    EXPECT_EQ(In.Bank().ObjectStatus(), text::BarFixed);
    EXPECT_EQ(In.ApplyPending(), PendingNone);

    // A repeat count: the tone list, then the bank it needs, once.
    Told.clear();
    EXPECT_EQ(In.Bank().SetRepeatUpCount(1), PendingToneList);
    EXPECT_EQ(In.Bank().Tones().size(), 3u); // nothing before the apply
    EXPECT_EQ(In.ApplyPending(), PendingToneList);
    EXPECT_EQ(In.Bank().Tones().size(), 5u);
    EXPECT_EQ(In.Audio().Engine().Oscillators.size(), 5u);
    EXPECT_EQ(Told, (std::vector<std::string>{"rebuild", "built"}));

    // Parameters set together leave what each would: here both.
    TBankParameters p = In.Bank().Parameters();
    p.RepeatDownCount = 1;
    p.ModeWeighting = 2;
    EXPECT_EQ(In.Bank().SetParameters(p), PendingAll);
    EXPECT_EQ(In.ApplyPending(), PendingAll);

    // A setting the next bank reads leaves it pending.
    Told.clear();
    In.Settings().SetInterpolateDelays(!In.Settings().Stored().InterpolateDelays);
    EXPECT_EQ(In.ApplyPending(), PendingBank);
    EXPECT_EQ(Told, (std::vector<std::string>{"rebuild", "built"}));

    // A mode file read changes what the next bank is built from.
    const std::string glass = Write("glass.vmod", "1.0, 1.0\n2.76, 0.5\n");
    ASSERT_TRUE(In.ModeFiles().Load(glass));
    EXPECT_EQ(In.Bank().Pending(), PendingBank);
    In.RefreshTones(); // as the driver's reset does: the pending bank is built
    EXPECT_EQ(In.Bank().Pending(), PendingNone);

    // The player's Apply with nothing pending still builds the bank anew (ringing bars stop).
    Told.clear();
    In.Apply();
    EXPECT_EQ(Told, (std::vector<std::string>{"rebuild", "built"}));

    // Pitch bend's room comes with the bank: built at once while tones exist.
    Told.clear();
    In.Settings().SetBendPitch(!In.Settings().Stored().BendPitch);
    EXPECT_EQ(Told, (std::vector<std::string>{"rebuild", "built"}));
}
