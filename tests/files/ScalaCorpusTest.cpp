// Every file of the public scale archive and of a tuning library's test data, when present.
#include "files/ScalaFile.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace varko {
namespace {

namespace fs = std::filesystem;

// The corpus folder from the build, or from VARKO_CORPUS_DIR when a checkout lies elsewhere.
fs::path Corpus(const char* built, const char* sub) {
    if (const char* dir = std::getenv("VARKO_CORPUS_DIR")) {
        return fs::path(dir) / sub;
    }
    return built;
}

float Cents(double c) {
    return static_cast<float>(std::pow(2.0L, c / 1200.0L));
}

TEST(ScalaArchive, EveryFileKeepsTheInvariants) {
    const fs::path folder = Corpus(VARKO_SCL_CORPUS, "scl");
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "no scale archive at " << folder;
    }
    int files = 0;
    int withErrors = 0;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (!entry.is_regular_file()) {
            continue;
        }
        ++files;
        const ScalaFile scale = ReadScalaFile(entry.path().string());
        SCOPED_TRACE(entry.path().filename().string());
        ASSERT_TRUE(scale.Opened);
        ASSERT_FALSE(scale.Degrees.empty());
        EXPECT_EQ(scale.Degrees[0], 1.0f);
        EXPECT_EQ(scale.Degrees.size(), 1u + scale.AcceptedPitchLines);
        EXPECT_EQ(scale.HasErrors, scale.FaultyPitchLines > 0);
        for (float d : scale.Degrees) {
            EXPECT_TRUE(std::isfinite(d));
        }
        withErrors += scale.HasErrors ? 1 : 0;
    }
    EXPECT_EQ(files, 5354);
    // Only fj-31tet.scl holds lines this reader refuses (see SpotValues).
    EXPECT_EQ(withErrors, 1);
}

TEST(ScalaArchive, SpotValues) {
    const fs::path folder = Corpus(VARKO_SCL_CORPUS, "scl");
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "no scale archive at " << folder;
    }
    const auto read = [&](const char* name) { return ReadScalaFile((folder / name).string()); };

    const ScalaFile piano = read("young-lm_piano.scl");
    EXPECT_EQ(piano.Description, "LaMonte Young's Well-Tuned Piano");
    ASSERT_EQ(piano.Degrees.size(), 13u);
    EXPECT_EQ(piano.Degrees[1], 567.0f / 512.0f);
    EXPECT_EQ(piano.Degrees[5], 1323.0f / 1024.0f); // file order: below the 21/16 before it
    EXPECT_EQ(piano.Degrees[12], 2.0f);

    const ScalaFile bp = read("bohlen-p.scl");
    ASSERT_EQ(bp.Degrees.size(), 14u);
    EXPECT_EQ(bp.Degrees[1], 27.0f / 25.0f);
    EXPECT_EQ(bp.Degrees.back(), 3.0f);

    // Cents lines, and a Latin-1 description kept byte for byte.
    const ScalaFile hemi = read("13-31.scl");
    EXPECT_EQ(hemi.Description, "13 out of 31-tET Hemiw\xfcrschmidt[13]");
    EXPECT_EQ(hemi.Degrees[1], Cents(154.83871));
    EXPECT_EQ(hemi.Degrees.back(), 2.0f);

    // The description is unaltered, trailing blanks included.
    const ScalaFile partch = read("partch_43.scl");
    EXPECT_EQ(partch.Description.rfind("Harry Partch's 43-tone pure scale ", 0), 0u);
    EXPECT_EQ(partch.Description.back(), ' ');
    EXPECT_EQ(partch.Degrees.size(), 44u);
    EXPECT_EQ(partch.Degrees[1], 81.0f / 80.0f);

    // The archive's one file with unreadable lines: ratios followed by a tab.
    const ScalaFile tabs = read("fj-31tet.scl");
    EXPECT_TRUE(tabs.HasErrors);
    EXPECT_EQ(tabs.FaultyPitchLines, 3);
    EXPECT_EQ(tabs.Degrees.size(), 29u);
}

struct SurgeCase {
    std::size_t Degrees;
    bool Errors;
    const char* Description;
};

TEST(ScalaSurgeTests, ExpectedOutcomes) {
    const fs::path folder = Corpus(VARKO_SURGE_CORPUS, "scl-surge-tests");
    if (!fs::is_directory(folder)) {
        GTEST_SKIP() << "no tuning-library test data at " << folder;
    }
    const char* dorian = "22-edo, mode 3 1 1 3 1 3 1 3 1 1 3 1";
    const char* ed3 = "ED3-17 - Equal division of harmonic 3 into 17 parts";
    const std::map<std::string, SurgeCase> expected = {
        {"12-ET-P5.scl", {13, false, dorian}},
        {"12-intune-dosle.scl", {13, false, dorian}},
        // An empty description line is skipped: " 12" describes, 100.0 is the note count.
        {"12-intune-nodesc.scl", {12, false, " 12"}},
        {"12-intune.scl", {13, false, dorian}},
        {"12-shuffled.scl", {13, false, dorian}},
        {"31edo.scl", {32, false, "31 equal divisions of octave"}},
        {"31edo2.scl", {31, false, " 31"}},
        {"31edo_dos_lineends.scl", {32, false, "31 equal divisions of octave"}},
        {"6-exact.scl", {7, false, "HD2 06-12 - Harmonic division of 2: Harmonics 06-12"}},
        {"ED3-17.scl", {18, false, ed3}},
        {"ED4-17.scl", {18, false, "ED4-17 - Equal division of harmonic 4 into 17 parts"}},
        {"badnote.scl", {17, true, ed3}},
        {"blanknote.scl", {17, false, ed3}},
        {"carlos-alpha.scl", {2, false, "Carlos Alpha 78 cent scale"}},
        {"ed4-4.scl", {5, false, "All the n/1 up to 5"}},
        {"exact4.scl", {5, false, "Exact 4"}},
        {"extraline.scl", {18, true, ed3}},
        {"marvel12.scl", {13, false, "Marvel[12] hobbit in 197-tET"}},
        {"missingnote.scl", {17, false, ed3}},
        {"zeus22.scl", {23, false, "Zeus[22] hobbit (121/120&176/175) in POTE tuning"}},
    };
    for (const auto& [name, want] : expected) {
        SCOPED_TRACE(name);
        const ScalaFile scale = ReadScalaFile((folder / name).string());
        ASSERT_TRUE(scale.Opened);
        EXPECT_EQ(scale.Degrees.size(), want.Degrees);
        EXPECT_EQ(scale.HasErrors, want.Errors);
        EXPECT_EQ(scale.Description, want.Description);
    }
    // Line ends do not change the result.
    EXPECT_EQ(ReadScalaFile((folder / "31edo.scl").string()).Degrees,
              ReadScalaFile((folder / "31edo_dos_lineends.scl").string()).Degrees);
    const ScalaFile alpha = ReadScalaFile((folder / "carlos-alpha.scl").string());
    EXPECT_EQ(alpha.Degrees[1], Cents(78.0));
    const ScalaFile shuffled = ReadScalaFile((folder / "12-shuffled.scl").string());
    EXPECT_EQ(shuffled.Degrees[1], Cents(200.0)); // file order, not sorted
    EXPECT_EQ(ReadScalaFile((folder / "ED3-17.scl").string()).Degrees.back(), 3.0f);
}

} // namespace
} // namespace varko
