// Vibration mode files (.vmod): one mode per line, its frequency ratio and its level.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varko {

// Mode i + 1 of the object: frequency as a multiple of the fundamental, and level. Equal
// lengths, file order; empty until a file has been read.
using ModeRatios = std::vector<float>;
using ModeLevels = std::vector<float>;

struct ModeFile {
    // False when the file could not be opened or read (or is too large to be a mode file):
    // then the mode arrays are empty and "could not be opened" is due.
    bool Opened = false;
    ModeRatios Ratios;
    ModeLevels Levels;
    // Some line (an empty one included) was not "ratio, level": the warning icon is due.
    bool HasFaultyLines = false;
};

// Reads the file at path; files above MaxPlayerFileBytes are refused as not opened.
ModeFile ReadModeFile(const std::string& path);

// The same reading applied to text already in memory (always Opened). One mode per line:
// items split at commas, spaces, tabs, CR and LF before an item skipped, empty items dropped;
// the first two items are decimal numbers, the rest is ignored. Values not finite as 32-bit
// floats make the line faulty.
ModeFile ParseModeText(std::string_view text);

// A path's file name without folder and extension ("/a/b/glass.vmod" gives "glass"); a name
// that only begins with a dot keeps it.
std::string ModeFileItemName(std::string_view path);

} // namespace varko
