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

} // namespace
} // namespace varko
