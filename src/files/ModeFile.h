// Vibration mode files (.vmod) and the history of the last ten opened.
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

// The mode files opened most recently, newest first; duplicates allowed, at most ten.
class ModeFileHistory {
public:
    static constexpr std::size_t MaxEntries = 10;
    // Enough for ten paths of the longest length Linux allows, and a bound on the read.
    static constexpr std::size_t MaxFileBytes = 1u << 20;

    const std::vector<std::string>& Entries() const { return entries; }
    std::size_t size() const { return entries.size(); }
    const std::string& operator[](std::size_t index) const { return entries[index]; }

    // A file read through "Browse...": goes on top, the eleventh entry drops out.
    void Insert(std::string path);
    // A history entry that could not be opened; an index out of range changes nothing.
    void Remove(std::size_t index);
    void Clear() { entries.clear(); }

    // Replaces the entries with the first ten lines of the history file. A missing or
    // unreadable file leaves the history empty and returns false; nothing is shown.
    bool Load(const std::string& historyPath);
    // Replaces the history file (written beside it, then renamed over it) with one path per
    // line, CR LF line ends. Paths holding a line end cannot survive a reading and are left
    // out. Returns false on failure, which the caller may ignore.
    bool Save(const std::string& historyPath) const;

    // The history file's lines taken as entries (first ten), and the text Save writes.
    void LoadText(std::string_view text);
    std::string SaveText() const;

    // The names the mode-file list shows: "Browse..." then each entry's ItemName.
    std::vector<std::string> ComboItems() const;

private:
    std::vector<std::string> entries;
};

// A path's file name without folder and extension ("/a/b/glass.vmod" gives "glass"); a name
// that only begins with a dot keeps it.
std::string ModeFileItemName(std::string_view path);

} // namespace varko
