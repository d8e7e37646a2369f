#include "files/ModeFile.h"
#include "files/ModeFileHistory.h"

#include "TestData.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <unistd.h>

namespace varko {
namespace {

namespace fs = std::filesystem;
using testdata::Path;

TEST(ModeText, RatioLevelAndIgnoredRest) {
    const ModeFile modes = ReadModeFile(Path("clean.vmod"));
    ASSERT_TRUE(modes.Opened);
    EXPECT_FALSE(modes.HasFaultyLines);
    EXPECT_EQ(modes.Ratios, (ModeRatios{1.0f, 2.756f, 5.404f, 8.933f}));
    EXPECT_EQ(modes.Levels, (ModeLevels{1.0f, 0.5f, 0.25f, 0.125f}));
}

TEST(ModeText, FaultyLinesAreSkippedAndFlagged) {
    // A single number, an empty line, text, and a tab after a number are faulty.
    const ModeFile modes = ReadModeFile(Path("broken/faulty_lines.vmod"));
    EXPECT_TRUE(modes.HasFaultyLines);
    EXPECT_EQ(modes.Ratios, ModeRatios{1.0f});
    EXPECT_EQ(modes.Levels, ModeLevels{0.5f});
}

TEST(ModeText, SpacesBeforeTheCommaAreHarmlessTabsAreNot) {
    EXPECT_FALSE(ParseModeText("2.0  , 0.5  \n").HasFaultyLines);
    EXPECT_TRUE(ParseModeText("2.0\t, 0.5\n").HasFaultyLines);
    EXPECT_FALSE(ParseModeText("\t 2.0,\t0.5\n").HasFaultyLines); // blanks before an item
}

TEST(ModeText, OnlyFaultyLinesLeaveNoModes) {
    const ModeFile modes = ParseModeText("one\n\n3\n,\n");
    EXPECT_TRUE(modes.Opened);
    EXPECT_TRUE(modes.HasFaultyLines);
    EXPECT_TRUE(modes.Ratios.empty());
    EXPECT_TRUE(modes.Levels.empty());
}

TEST(ModeText, ValuesAreNotRangeTestedButMustBeFinite) {
    const ModeFile modes = ParseModeText("-1.5,0\n0,-2e-3\n1e39,1\n1,1e400\n");
    EXPECT_EQ(modes.Ratios, (ModeRatios{-1.5f, 0.0f}));
    EXPECT_EQ(modes.Levels, (ModeLevels{0.0f, -0.002f}));
    EXPECT_TRUE(modes.HasFaultyLines);
}

TEST(ModeOpen, MissingBinaryAndOversizedFiles) {
    EXPECT_FALSE(ReadModeFile(Path("none.vmod")).Opened);
    EXPECT_FALSE(ReadModeFile(Path("broken")).Opened);
    const ModeFile binary = ReadModeFile(Path("broken/binary.vmod"));
    EXPECT_TRUE(binary.Opened);
    EXPECT_TRUE(binary.HasFaultyLines);
    EXPECT_TRUE(binary.Ratios.empty());

    const fs::path big = testdata::TempPath("varko_oversized.vmod");
    {
        std::ofstream out(big, std::ios::binary);
        out << "1,1\n";
    }
    fs::resize_file(big, 200u << 20);
    EXPECT_FALSE(ReadModeFile(big.string()).Opened);
    fs::remove(big);
}

TEST(ModeFileHistory, InsertOnTopDuplicatesAndAtMostTen) {
    ModeFileHistory history;
    history.Insert("/m/a.vmod");
    history.Insert("/m/a.vmod");
    EXPECT_EQ(history.Entries(), (std::vector<std::string>{"/m/a.vmod", "/m/a.vmod"}));
    for (int i = 0; i < 9; ++i) {
        history.Insert("/m/" + std::to_string(i) + ".vmod");
    }
    ASSERT_EQ(history.Size(), 10u);
    EXPECT_EQ(history[0], "/m/8.vmod");
    EXPECT_EQ(history[9], "/m/a.vmod"); // the oldest of the two copies dropped out
}

TEST(ModeFileHistory, RemoveAnEntryThatCouldNotBeOpened) {
    ModeFileHistory history;
    history.LoadText("/a.vmod\r\n/b.vmod\r\n/c.vmod\r\n");
    history.Remove(1);
    EXPECT_EQ(history.Entries(), (std::vector<std::string>{"/a.vmod", "/c.vmod"}));
    history.Remove(7);
    EXPECT_EQ(history.Size(), 2u);
}

TEST(ModeFileHistory, FourteenLinesKeepTheFirstTen) {
    std::ostringstream text;
    for (int i = 0; i < 14; ++i) {
        text << "/h/" << i << ".vmod\n";
    }
    ModeFileHistory history;
    history.LoadText(text.str());
    ASSERT_EQ(history.Size(), 10u);
    EXPECT_EQ(history[9], "/h/9.vmod");
}

TEST(ModeFileHistory, SaveAndLoadRoundTripWithCrLf) {
    const fs::path file = testdata::TempPath("varko_test.history");
    ModeFileHistory history;
    history.Insert("/x/with space/b\xe9ll.vmod");
    history.Insert("/x/glass.vmod");
    history.Insert("/x/bad\nname.vmod"); // cannot survive a reading: left out
    ASSERT_TRUE(history.Save(file.string()));
    std::ifstream in(file, std::ios::binary);
    const std::string written((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(written, "/x/glass.vmod\r\n/x/with space/b\xe9ll.vmod\r\n");
    ModeFileHistory loaded;
    ASSERT_TRUE(loaded.Load(file.string()));
    EXPECT_EQ(loaded.Entries(),
              (std::vector<std::string>{"/x/glass.vmod", "/x/with space/b\xe9ll.vmod"}));
    fs::remove(file);
}

TEST(ModeFileHistory, PathBeginningWithByteOrderMarkBytesSurvivesARoundTrip) {
    ModeFileHistory history;
    history.Insert("\xEF\xBB\xBF/odd.vmod");
    ModeFileHistory again;
    again.LoadText(history.SaveText());
    EXPECT_EQ(again.Entries(), history.Entries());
}

TEST(ModeFileHistory, MissingFileIsAnEmptyHistory) {
    ModeFileHistory history;
    history.Insert("/old.vmod");
    EXPECT_FALSE(history.Load(Path("no.history")));
    EXPECT_EQ(history.Size(), 0u);
}

TEST(ModeFileHistory, SaveFailureIsReported) {
    ModeFileHistory history;
    history.Insert("/a.vmod");
    EXPECT_FALSE(history.Save(Path("no such folder/Varko.history")));
}

// An unreadable history was replaced at exit by the few entries of the session: the player's
// older entries were lost for good.
TEST(ModeFileHistory, UnreadableHistoryIsKeptAtExit) {
    const fs::path dir = testdata::TempPath("unreadable-history");
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all); // the unprivileged user may make its temporary here
    const std::string file = (dir / "Varko.history").string();
    std::ofstream(file, std::ios::binary) << "/older.vmod\r\n";
    ASSERT_EQ(::chown(file.c_str(), testdata::UnprivilegedUser(), static_cast<gid_t>(-1)), 0);
    fs::permissions(file, fs::perms::owner_write); // writable, not readable
    EXPECT_TRUE(testdata::AsUnprivilegedUser([&] {
        ModeFileHistory history;
        const bool loaded = history.Load(file);
        history.Insert("/new.vmod");
        return !loaded && history.Size() == 1 && !history.Save(file);
    }));
    fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "/older.vmod\r\n");
    // Once it reads again, saving goes on as always.
    ModeFileHistory history;
    EXPECT_TRUE(history.Load(file));
    history.Insert("/new.vmod");
    EXPECT_TRUE(history.Save(file));
    fs::remove_all(dir);
}

TEST(ModeFileHistory, HugeHistoryFileReadsOnlyItsHead) {
    const fs::path file = testdata::TempPath("varko_huge.history");
    {
        std::ofstream out(file, std::ios::binary);
        out << "/first.vmod\r\n";
        out << std::string(3u << 20, 'x'); // one line beyond the bound
    }
    ModeFileHistory history;
    EXPECT_TRUE(history.Load(file.string()));
    EXPECT_EQ(history.Entries(), std::vector<std::string>{"/first.vmod"});
    fs::remove(file);
}

TEST(ModeFileNames, ComboItemsShowNamesWithoutFolderAndExtension) {
    ModeFileHistory history;
    history.Insert("/home/p/modes/wine glass.vmod");
    history.Insert("/home/p/bowl.v1.vmod");
    history.Insert("relative");
    history.Insert("/home/p/.vmod");
    EXPECT_EQ(history.ComboItems(), (std::vector<std::string>{"Browse...", ".vmod", "relative",
                                                              "bowl.v1", "wine glass"}));
}

} // namespace
} // namespace varko
