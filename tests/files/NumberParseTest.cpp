#include "files/NumberParse.h"

#include <clocale>
#include <gtest/gtest.h>

namespace varko {
namespace {

TEST(DecimalGrammar, AcceptsEveryAllowedShape) {
    EXPECT_EQ(ParseDecimal("701.955"), 701.955);
    EXPECT_EQ(ParseDecimal("  -3.5  "), -3.5);
    EXPECT_EQ(ParseDecimal("+2"), 2.0);
    EXPECT_EQ(ParseDecimal(".5"), 0.5);
    EXPECT_EQ(ParseDecimal("5."), 5.0);
    EXPECT_EQ(ParseDecimal("1.5e3"), 1500.0);
    EXPECT_EQ(ParseDecimal("1E-2"), 0.01);
    EXPECT_EQ(ParseDecimal("2e+1"), 20.0);
}

TEST(DecimalGrammar, RejectsAnythingElse) {
    for (const char* text :
         {"",    " ",   ".",   "+",   "-.",  "1,5", "1.5x", "e5",   "1e",    "1e+",
          "--1", "+-1", "1 2", "\t1", "1\t", "inf", "nan",  "0x10", "1.2.3", "1e5.0"}) {
        EXPECT_FALSE(ParseDecimal(text).has_value()) << '"' << text << '"';
    }
}

TEST(DecimalGrammar, OverflowFailsUnderflowReadsAsZero) {
    EXPECT_FALSE(ParseDecimal("1e400").has_value());
    EXPECT_FALSE(ParseDecimal("1e99999999999999999999").has_value());
    EXPECT_EQ(ParseDecimal("1e-400"), 0.0);
    EXPECT_EQ(ParseDecimal("0.0000e999999"), 0.0);
    EXPECT_EQ(ParseDecimal("0.001e-330"), 0.0);
}

TEST(DecimalGrammar, IgnoresTheLocale) {
    // A comma-decimal locale must not change how "." reads, if the system has one.
    const char* old = std::setlocale(LC_ALL, nullptr);
    const std::string saved = old ? old : "C";
    bool found = false;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8", "de_DE"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            found = true;
            break;
        }
    }
    if (!found) {
        GTEST_SKIP() << "no comma-decimal locale installed";
    }
    EXPECT_EQ(ParseDecimal("1.25"), 1.25);
    EXPECT_FALSE(ParseDecimal("1,25").has_value());
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(WholeGrammar, SignAndDigitsOnly) {
    EXPECT_EQ(ParseWhole("1200"), 1200);
    EXPECT_EQ(ParseWhole("-7"), -7);
    EXPECT_EQ(ParseWhole("+0"), 0);
    EXPECT_EQ(ParseWhole("-9223372036854775808"), INT64_MIN);
    for (const char* text :
         {"", "+", "-", " 1", "1 ", "1.0", "1e3", "0x1F", "$1F", "12a", "9223372036854775808"}) {
        EXPECT_FALSE(ParseWhole(text).has_value()) << '"' << text << '"';
    }
}

} // namespace
} // namespace varko
