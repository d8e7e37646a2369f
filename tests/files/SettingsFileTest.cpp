#include "files/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace varko;
namespace fs = std::filesystem;

namespace {

class SettingsDir : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("varko-settings-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(dir_, fs::perms::owner_all, ec);
        fs::remove_all(dir_, ec);
    }
    std::string Path(const std::string& name) const { return (dir_ / name).string(); }
    static std::string Slurp(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static void Spit(const std::string& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }
    fs::path dir_;
};

} // namespace

TEST_F(SettingsDir, MissingFileReadsAsDefaults) {
    TIniFile ini;
    EXPECT_EQ(ini.Load(Path("none.ini")), TIniFile::TLoadResult::Missing);
    const TVarkoSettings s = ReadSettings(ini);
    const TVarkoSettings d;
    EXPECT_EQ(s.ASIOdriver, 0);
    EXPECT_EQ(s.MasterLevel, 20);
    EXPECT_EQ(s.ResonanceRate, 4);
    EXPECT_EQ(s.StereoSeparation, d.StereoSeparation);
    EXPECT_EQ(s.ColoredToneZone, true);
    EXPECT_EQ(s.Paint2Rows, false);
}

TEST_F(SettingsDir, FirstWriteHasEveryKeyInItsSectionAndOrder) {
    TIniFile ini;
    WriteSettings(ini, TVarkoSettings{});
    ASSERT_TRUE(ini.Save(Path("Varko.ini")));
    EXPECT_EQ(Slurp(Path("Varko.ini")),
              "[Sound]\nASIOdriver=0\nASIOdriverName=\nASIOchannel=0\nStereoSeparation=1\n"
              "InterpolateDelays=1\nMasterLevel=20\nLimiter=1\nPanelDriver=\nPanelBufferSize=0\n"
              "PanelSampleRate=0\n\n[Input]\nResonanceControl=0\nResonanceRate=4\nAllowMouse=0\n"
              "MouseGlide=0\n\n[UI]\nShowMainLevels=1\nShowPressureLevel=1\n"
              "ShowFrequencyLabels=1\nPaint2Rows=0\nColoredToneZone=1\nShowNoTabletNotice="
              "1\nLabelKind=0\n\n"
              "[MIDI]\nInput=\nReferenceNote=60\nMPE=1\nKeyReleaseDamps=0\nPitchBend=Pitch\n\n"
              "[Session]\nRestore=1\nScale=\nKeyboardMapping=\nInitialFrequency=\nRepeatDown="
              "0\nRepeatUp=0\nRepeatEnds=0\n"
              "ModeFile=\nEnd=1\nModeLimit=8\nWeighting=6\nResonance=10\n\n[Engine]\n"
              "ToneThreads=PerTone\nPoolThreads=0\n");
}

TEST_F(SettingsDir, RoundTripKeepsUnknownKeysSectionsAndOrder) {
    Spit(Path("Varko.ini"), "; the player's own note\r\n[Extra]\r\nfoo = bar\r\n[Sound]\r\n"
                            "MasterLevel=35\r\nMine=7\r\nASIOdriver=2\r\n[UI]\r\nPaint2Rows=1\r\n");
    TIniFile ini;
    ASSERT_EQ(ini.Load(Path("Varko.ini")), TIniFile::TLoadResult::Loaded);
    TVarkoSettings s = ReadSettings(ini);
    EXPECT_EQ(s.MasterLevel, 35);
    EXPECT_EQ(s.ASIOdriver, 2);
    EXPECT_TRUE(s.Paint2Rows);
    s.MasterLevel = 50;
    WriteSettings(ini, s);
    ASSERT_TRUE(ini.Save(Path("Varko.ini")));

    TIniFile again;
    ASSERT_EQ(again.Load(Path("Varko.ini")), TIniFile::TLoadResult::Loaded);
    const auto& l = again.Lines();
    ASSERT_GE(l.size(), 6u);
    EXPECT_EQ(l[0], "; the player's own note");
    EXPECT_EQ(l[1], "[Extra]");
    EXPECT_EQ(l[2], "foo = bar");
    EXPECT_EQ(l[3], "[Sound]");
    EXPECT_EQ(l[4], "MasterLevel=50"); // replaced in place
    EXPECT_EQ(l[5], "Mine=7");
    EXPECT_EQ(again.ReadString("Extra", "foo").value_or(""), "bar");
    EXPECT_EQ(ReadSettings(again).MasterLevel, 50);
    EXPECT_EQ(again.ReadInteger("Input", "ResonanceRate", -9), 4); // new section appended
}

// Integer delay lines put neighbouring degrees of fine scales on one pitch: new files get exact
// pitch, a file that holds the key keeps the player's choice.
TEST(IniValues, ExactPitchUnlessTheFileSaysOtherwise) {
    TIniFile ini;
    ini.SetText("[Sound]\nMasterLevel=30\n");
    EXPECT_TRUE(ReadSettings(ini).InterpolateDelays);
    ini.SetText("[Sound]\nInterpolateDelays=0\n");
    EXPECT_FALSE(ReadSettings(ini).InterpolateDelays);
}

TEST(IniValues, HexBooleansLettersAndLimits) {
    TIniFile ini;
    ini.SetText("[Sound]\nMasterLevel=abc\nASIOdriver=0x1F\nStereoSeparation=7\n"
                "InterpolateDelays=yes\nASIOchannel= -1 \n[Input]\nResonanceRate=99\n"
                "ResonanceControl=-5\n[UI]\nPaint2Rows=0X0\nColoredToneZone=0\n");
    const TVarkoSettings s = ReadSettings(ini);
    EXPECT_EQ(s.MasterLevel, 20); // letters read as the default
    EXPECT_EQ(s.ASIOdriver, 31);
    EXPECT_TRUE(s.StereoSeparation);  // any whole number but 0 is true
    EXPECT_TRUE(s.InterpolateDelays); // not a number: the default
    EXPECT_EQ(s.ASIOchannel, -1);
    EXPECT_EQ(s.ResonanceRate, 10);
    EXPECT_EQ(s.ResonanceControl, -1);
    EXPECT_FALSE(s.Paint2Rows);
    EXPECT_FALSE(s.ColoredToneZone);
}

TEST(IniValues, WholeNumberGrammar) {
    EXPECT_EQ(TIniFile::ParseInteger("42"), 42);
    EXPECT_EQ(TIniFile::ParseInteger("-0x10"), -16);
    EXPECT_EQ(TIniFile::ParseInteger("0xFFFFFFFF"), -1);
    EXPECT_FALSE(TIniFile::ParseInteger("0x"));
    EXPECT_FALSE(TIniFile::ParseInteger("1.5"));
    EXPECT_FALSE(TIniFile::ParseInteger("--1"));
    EXPECT_FALSE(TIniFile::ParseInteger("99999999999"));
    EXPECT_FALSE(TIniFile::ParseInteger(""));
}

TEST_F(SettingsDir, UnwritableFolderFailsWithoutLosingTheOldFile) {
    if (::geteuid() == 0) {
        // root ignores permission bits; a path under a regular file can never be created.
        Spit(Path("plain"), "x");
        EXPECT_FALSE(EnsureFolder(Path("plain") + "/Varko"));
        TIniFile ini;
        WriteSettings(ini, TVarkoSettings{});
        EXPECT_FALSE(ini.Save(Path("plain") + "/Varko/Varko.ini"));
        return;
    }
    Spit(Path("Varko.ini"), "[Sound]\nMasterLevel=33\n");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    TIniFile ini;
    WriteSettings(ini, TVarkoSettings{});
    EXPECT_FALSE(ini.Save(Path("Varko.ini")));
    fs::permissions(dir_, fs::perms::owner_all);
    EXPECT_EQ(Slurp(Path("Varko.ini")), "[Sound]\nMasterLevel=33\n");
}

TEST_F(SettingsDir, HugeOrBinaryFilesDoNotCrash) {
    Spit(Path("big.ini"), std::string(TIniFile::MaxBytes + 1, 'a'));
    TIniFile ini;
    EXPECT_EQ(ini.Load(Path("big.ini")), TIniFile::TLoadResult::Unreadable);
    std::string bin;
    for (int i = 0; i < 4096; ++i) {
        bin += static_cast<char>((i * 7919) & 0xFF);
    }
    Spit(Path("bin.ini"), bin);
    ASSERT_EQ(ini.Load(Path("bin.ini")), TIniFile::TLoadResult::Loaded);
    const TVarkoSettings s = ReadSettings(ini);
    EXPECT_GE(s.MasterLevel, 0);
    EXPECT_LE(s.MasterLevel, 200);
}

TEST(SettingsPaths, FollowXdgConfigHome) {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = old ? old : "";
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("XDG_CONFIG_HOME", "/some/where", 1);
    EXPECT_EQ(SettingsFilePath(), "/some/where/Varko/Varko.ini");
    EXPECT_EQ(HistoryFilePath(), "/some/where/Varko/Varko.history");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    ::setenv("HOME", "/home/player", 1);
    EXPECT_EQ(SettingsFolder(), "/home/player/.config/Varko");
    ::setenv("HOME", savedHome.c_str(), 1);
    if (old) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}
