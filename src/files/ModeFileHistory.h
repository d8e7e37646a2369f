// The history of the last ten vibration mode files opened, kept in Varko.history.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace varko {

// The mode files opened most recently, newest first; duplicates allowed, at most ten.
class ModeFileHistory {
public:
    static constexpr std::size_t MaxEntries = 10;
    // Enough for ten paths of the longest length Linux allows, and a bound on the read.
    static constexpr std::size_t MaxFileBytes = 1u << 20;

    const std::vector<std::string>& Entries() const { return entries_; }
    std::size_t Size() const { return entries_.size(); }
    const std::string& operator[](std::size_t index) const { return entries_[index]; }

    // A file read through "Browse...": goes on top, the eleventh entry drops out.
    void Insert(std::string path);
    // A history entry that could not be opened; an index out of range changes nothing.
    void Remove(std::size_t index);
    void Clear() { entries_.clear(); }

    // Replaces the entries with the first ten lines of the history file. A missing or
    // unreadable file leaves the history empty and returns false; nothing is shown.
    bool Load(const std::string& historyPath);
    // Replaces the history file (ReplaceFileContents) with one path per line, CR LF line ends.
    // Paths holding a line end cannot survive a reading and are left out. A file that the last
    // Load found but could not read is kept: its entries are unknown, not gone. Returns false on
    // failure, which the caller may ignore.
    bool Save(const std::string& historyPath) const;

    // The history file's lines taken as entries (first ten), and the text Save writes.
    void LoadText(std::string_view text);
    std::string SaveText() const;

    // The names the mode-file list shows: "Browse..." then each entry's ItemName.
    std::vector<std::string> ComboItems() const;

private:
    std::vector<std::string> entries_;
    bool keepFile_ = false; // the last Load found a file it could not read
};

} // namespace varko
