#include "files/TextFile.h"

#include "TestData.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

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

} // namespace
} // namespace varko
