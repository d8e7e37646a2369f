// Reader of Scala scale files (.scl): lines, description and degrees as frequency ratios.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varko {

// The open scale's degrees as frequency ratios; element 0 is always 1.0 (the 1/1, which
// Scala files do not list), then one ratio per accepted pitch line in file order, neither
// sorted nor freed of duplicates. Zero and negative whole numbers and a quotient of 0 are
// delivered as they stand: the tone bank gives such a tone no bands, so its bar stays silent
// and the "might not produce sound" warning shows.
using ScaleDegrees = std::vector<float>;

struct ScalaFile {
    // False when the file could not be opened or read (or is too large to be a scale): then
    // nothing else is filled and the caller keeps its previous scale.
    bool Opened = false;
    // Every line of the file, comments included, without line ends; raw bytes (the archive
    // holds Latin-1 files as well as UTF-8).
    std::vector<std::string> Lines;
    // Significant line 1, unaltered (leading blanks kept); empty when there is none.
    std::string Description;
    ScaleDegrees Degrees;
    // True when "The scale file contains errors." is due (once per file).
    bool HasErrors = false;
    // Pitch lines that added a degree and pitch lines that could not be read; blank pitch lines
    // (spaces only) count as neither.
    int AcceptedPitchLines = 0;
    int FaultyPitchLines = 0;
};

// Reads the file at path; files above MaxPlayerFileBytes are refused as not opened.
ScalaFile ReadScalaFile(const std::string& path);

// The same reading applied to text already in memory (always Opened).
ScalaFile ParseScalaText(std::string_view text);

// One pitch item (the first space-separated item of a pitch line) as a ratio: with "." cents,
// else with "/" a ratio of two decimal numbers, else a whole number. Nothing when it is an
// error, including a ratio that is not finite as a 32-bit float.
std::optional<float> ParseScalaPitch(std::string_view item);

} // namespace varko
