#include "files/TextFile.h"

#include "files/IniFile.h"
#include "files/KeyboardMapping.h"
#include "files/ModeFile.h"
#include "files/ModeFileHistory.h"
#include "files/ScalaFile.h"

#include "TestData.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace varko {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitLines, EveryLineEndAndNoPhantomLastLine) {
    EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (Lines{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\n"), (Lines{"a"}));
    EXPECT_EQ(SplitLines("a\n\n"), (Lines{"a", ""}));
    EXPECT_EQ(SplitLines("\r\n\r\n"), (Lines{"", ""}));
    EXPECT_EQ(SplitLines("a\n\rb"), (Lines{"a", "", "b"})); // LF CR is two line ends
    EXPECT_EQ(SplitLines(""), Lines{});
}

TEST(SplitLines, KeepsNulAndHighBytes) {
    const std::string text("x\0y\n\xff\xfe", 6);
    EXPECT_EQ(SplitLines(text), (Lines{std::string("x\0y", 3), "\xff\xfe"}));
}

TEST(ReadFileCapped, ExactlyTheCapIsReadOneByteMoreIsRefused) {
    const auto path = testdata::TempPath("varko_cap.txt");
    {
        std::ofstream out(path, std::ios::binary);
        out << "0123456789";
    }
    EXPECT_EQ(ReadFileCapped(path.string(), 10), "0123456789");
    EXPECT_FALSE(ReadFileCapped(path.string(), 9).has_value());
    bool truncated = false;
    EXPECT_EQ(ReadFileHead(path.string(), 4, truncated), "0123");
    EXPECT_TRUE(truncated);
    EXPECT_EQ(ReadFileHead(path.string(), 10, truncated), "0123456789");
    EXPECT_FALSE(truncated);
    std::filesystem::remove(path);
}

// Saving the settings or the history: a dotfiles symlink stays a symlink, a file the player made
// read-only stays as it is, and no temporary file is left behind.
TEST(ReplaceFileContents, WritesThroughLinksKeepsPermissionsAndRefusesReadOnlyFiles) {
    namespace fs = std::filesystem;
    const fs::path dir = testdata::TempPath("replace");
    fs::remove_all(dir);
    fs::create_directories(dir / "dotfiles");
    const auto read = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };

    ASSERT_TRUE(ReplaceFileContents((dir / "new.ini").string(), "fresh"));
    EXPECT_EQ(read(dir / "new.ini"), "fresh");

    std::ofstream(dir / "dotfiles" / "Varko.ini") << "old";
    fs::permissions(dir / "dotfiles" / "Varko.ini", fs::perms(0640));
    fs::create_symlink("dotfiles/Varko.ini", dir / "Varko.ini");
    ASSERT_TRUE(ReplaceFileContents((dir / "Varko.ini").string(), "new"));
    EXPECT_TRUE(fs::is_symlink(dir / "Varko.ini"));
    EXPECT_EQ(read(dir / "dotfiles" / "Varko.ini"), "new");
    EXPECT_EQ(fs::status(dir / "dotfiles" / "Varko.ini").permissions(), fs::perms(0640));

    // Root may write anywhere: the permission bits, not access(), decide.
    fs::permissions(dir / "dotfiles" / "Varko.ini", fs::perms(0444));
    EXPECT_FALSE(ReplaceFileContents((dir / "Varko.ini").string(), "lost"));
    EXPECT_EQ(read(dir / "dotfiles" / "Varko.ini"), "new");
    fs::create_directory(dir / "folder.ini");
    EXPECT_FALSE(ReplaceFileContents((dir / "folder.ini").string(), "x"));

    const size_t entries = [&] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) {
            ++n;
        }
        return n;
    }();
    EXPECT_EQ(entries, 4u); // new.ini, dotfiles, Varko.ini, folder.ini: no temporary left
    fs::remove_all(dir);
}

// Two instances saving the settings at once shared one temporary name, so one could rename the
// other's half-written file into place: every read must see one save whole.
TEST(ReplaceFileContents, TwoSavesAtOnceNeverLeaveAMix) {
    namespace fs = std::filesystem;
    const fs::path dir = testdata::TempPath("replace_race");
    fs::remove_all(dir);
    fs::create_directories(dir);
    const std::string path = (dir / "Varko.ini").string();
    const std::string mine(64 << 10, 'a'), theirs(64 << 10, 'b');
    ASSERT_TRUE(ReplaceFileContents(path, mine));

    std::atomic<int> running{2};
    std::atomic<int> failedSaves{0};
    auto saver = [&](const std::string& text) {
        for (int i = 0; i < 100; ++i) {
            failedSaves += ReplaceFileContents(path, text) ? 0 : 1;
        }
        --running;
    };
    std::thread first(saver, mine), second(saver, theirs);
    int reads = 0, mixed = 0;
    while (running.load() > 0) {
        std::ifstream in(path, std::ios::binary);
        const std::string seen(std::istreambuf_iterator<char>(in), {});
        ++reads;
        mixed += seen == mine || seen == theirs ? 0 : 1;
    }
    first.join();
    second.join();
    EXPECT_EQ(failedSaves.load(), 0);
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "a temporary file was left";
    fs::remove_all(dir);
}

// A FIFO given as a scale or mode file, or lying where the settings or the history should be,
// once froze the window: its open waited for a writer that never came.
TEST(FileReaders, AFifoIsRefusedWithoutWaitingForAWriter) {
    const std::string fifo = testdata::TempPath("varko_fifo").string();
    std::filesystem::remove(fifo);
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    bool truncated = false;
    TIniFile ini;
    ModeFileHistory history;
    const bool finished = testdata::FinishesWithoutAWriter(fifo, [&] {
        EXPECT_FALSE(ReadFileCapped(fifo, 100));
        EXPECT_FALSE(ReadFileHead(fifo, 100, truncated));
        EXPECT_FALSE(ReadScalaFile(fifo).Opened);
        EXPECT_FALSE(ReadModeFile(fifo).Opened);
        EXPECT_FALSE(ReadKeyboardMapping(fifo).Opened);
        EXPECT_EQ(ini.Load(fifo), TIniFile::TLoadResult::Unreadable);
        EXPECT_FALSE(history.Load(fifo));
    });
    EXPECT_TRUE(finished) << "a reader waited for a writer";
    // Nor is it replaced by a save.
    EXPECT_FALSE(ReplaceFileContents(fifo, "x"));
    EXPECT_FALSE(history.Save(fifo));
    struct stat st {};
    EXPECT_TRUE(::stat(fifo.c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
    std::filesystem::remove(fifo);
}

} // namespace
} // namespace varko
