#include "files/TextFile.h"

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

} // namespace
} // namespace varko
