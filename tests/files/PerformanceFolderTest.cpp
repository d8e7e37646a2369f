// The performance folder: a new folder for every recording, and copies of the files a gesture
// names that give exactly what was played.
#include "files/PerformanceFolder.h"
#include "TestData.h"
#include "files/ModeFile.h"
#include "files/ScalaFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace varko;
namespace fs = std::filesystem;

namespace {

struct PerformanceFolderTest : ::testing::Test {
    fs::path Dir = fs::temp_directory_path() / ("varko-folder-" + std::to_string(::getpid()));
    void SetUp() override { fs::remove_all(Dir); }
    void TearDown() override { fs::remove_all(Dir); }
};

} // namespace

TEST_F(PerformanceFolderTest, RecordingsInTheSameSecondGetFoldersOfTheirOwn) {
    const std::time_t now = 1714566605;
    TPerformanceFolder a, b;
    std::string error;
    ASSERT_TRUE(a.Create((Dir / "Varko").string(), now, error)) << error;
    ASSERT_TRUE(b.Create((Dir / "Varko").string(), now, error)) << error;
    EXPECT_NE(a.Path(), b.Path());
    EXPECT_EQ(fs::path(b.Path()).filename().string(),
              fs::path(a.Path()).filename().string() + "_2");
    EXPECT_TRUE(fs::is_directory(a.Path()));
    EXPECT_TRUE(fs::is_directory(b.Path()));
}

TEST_F(PerformanceFolderTest, CopiesGiveWhatWasPlayedEvenWhenTheOriginalChanged) {
    TPerformanceFolder f;
    std::string error;
    ASSERT_TRUE(f.Create(Dir.string(), 0, error)) << error;
    fs::create_directories(Dir / "a");
    fs::create_directories(Dir / "b");
    const std::string glass = (Dir / "a" / "wine glass.vmod").string();
    std::ofstream(glass) << "1, 1\n2.32, 0.5\n";
    const ModeFile read = ReadModeFile(glass);

    auto first = f.AddModes(glass, read.Ratios, read.Levels, error);
    ASSERT_TRUE(first) << error;
    EXPECT_EQ(*first, "wine_glass.vmod"); // a script separates its values by blanks
    EXPECT_EQ(f.AddModes(glass, read.Ratios, read.Levels, error), first) << "copied twice";

    // Edited on disk since it was read: the copy holds the modes in use.
    std::ofstream(glass) << "1, 1\n3.5, 0.9\n";
    auto second = f.AddModes(glass, read.Ratios, read.Levels, error);
    ASSERT_TRUE(second) << error;
    EXPECT_EQ(*second, *first) << "the same modes are the same copy";
    const ModeFile copy = ReadModeFile(f.File(*first));
    EXPECT_EQ(copy.Ratios, read.Ratios);
    EXPECT_EQ(copy.Levels, read.Levels);

    // Another file of the same name with other modes.
    const std::string other = (Dir / "b" / "wine glass.vmod").string();
    std::ofstream(other) << "1, 0.2\n";
    const ModeFile otherRead = ReadModeFile(other);
    auto third = f.AddModes(other, otherRead.Ratios, otherRead.Levels, error);
    ASSERT_TRUE(third) << error;
    EXPECT_EQ(*third, "wine_glass-2.vmod");
    EXPECT_EQ(ReadModeFile(f.File(*third)).Ratios, otherRead.Ratios);

    // A scale copy reads as the lines the instrument read.
    const ScalaFile scale =
        ParseScalaText("\xEF\xBB\xBFslendro\r\n 5\r\n240.\r\n480.\r\n720.\r\n960.\r\n2/1");
    auto name = f.AddScale("/somewhere/slendro.scl", scale.Lines, error);
    ASSERT_TRUE(name) << error;
    const ScalaFile again = ReadScalaFile(f.File(*name));
    EXPECT_EQ(again.Degrees, scale.Degrees);
    EXPECT_EQ(again.Description, scale.Description);
}

// A take's rate and block size held to what the command line takes (1e6 Hz and 65536-sample
// blocks re-rendered as silence, 1-sample blocks twenty times slower), and its length to a day
// (one take asked for 6 million years): refused with the key named.
TEST_F(PerformanceFolderTest, TakeValuesAreHeldToTheCommandLinesRanges) {
    const auto read = [&](const std::string& take, std::string& error) {
        TPerformanceFolder f;
        f.Use(testdata::Path("takes/" + take));
        TPerformanceInfo info;
        return f.ReadInfo(info, error);
    };
    std::string error;
    EXPECT_TRUE(read("good", error)) << error;
    const std::pair<const char*, const char*> bad[] = {
        {"rate-out-of-range", "SampleRate=1000000"},
        {"rate-not-a-number", "SampleRate=abc"},
        {"block-too-large", "BlockSize=65536"},
        {"block-of-one", "BlockSize=1"},
        {"six-million-years", "Frames=9000000000000000000"},
    };
    for (const auto& [take, named] : bad) {
        EXPECT_FALSE(read(take, error)) << take;
        EXPECT_NE(error.find(named), std::string::npos) << error;
    }
}

// A scale named performance.wav, opened while recording, overwrote the sound being recorded; a
// 251-character name opened twice got a copy name too long for the file system.
TEST_F(PerformanceFolderTest, CopiesNeverTakeTheTakesNamesAndAlwaysFit) {
    TPerformanceFolder f;
    std::string error;
    ASSERT_TRUE(f.Create((Dir / "Varko").string(), 1714566605, error)) << error;
    for (const char* own : {PerformanceWavName, PerformanceScriptName, PerformanceInfoName}) {
        std::ofstream(fs::path(f.Path()) / own) << "the take's own";
        const auto name = f.AddScale(std::string("/elsewhere/") + own, {"a", "1", "2/1"}, error);
        ASSERT_TRUE(name) << error;
        EXPECT_NE(*name, own);
        std::ifstream in(fs::path(f.Path()) / own);
        const std::string kept((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(kept, "the take's own") << own;
    }
    const std::string longName = "/scales/" + std::string(247, 'x') + ".scl";
    const auto first = f.AddScale(longName, {"a", "1", "2/1"}, error);
    const auto second = f.AddScale(longName, {"b", "1", "3/2"}, error);
    ASSERT_TRUE(first && second) << error;
    EXPECT_NE(*first, *second);
    EXPECT_LE(second->size(), 255u);
    EXPECT_TRUE(fs::exists(fs::path(f.Path()) / *second));
}
