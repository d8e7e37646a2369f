#include "files/ModeFileHistory.h"

#include "core/Texts.h"
#include "files/ModeFile.h"
#include "files/TextFile.h"

#include <filesystem>
#include <system_error>

namespace varko {

void ModeFileHistory::Insert(std::string path) {
    entries_.insert(entries_.begin(), std::move(path));
    if (entries_.size() > MaxEntries) {
        entries_.resize(MaxEntries);
    }
}

void ModeFileHistory::Remove(std::size_t index) {
    if (index < entries_.size()) {
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void ModeFileHistory::LoadText(std::string_view text) {
    // Written by this program alone, so every byte is part of a path.
    entries_ = SplitLines(text, false);
    if (entries_.size() > MaxEntries) {
        entries_.resize(MaxEntries);
    }
}

std::string ModeFileHistory::SaveText() const {
    std::string text;
    for (const std::string& path : entries_) {
        if (path.find_first_of("\r\n") != std::string::npos) {
            continue;
        }
        text += path;
        text += "\r\n";
    }
    return text;
}

bool ModeFileHistory::Load(const std::string& historyPath) {
    entries_.clear();
    bool truncated = false;
    auto text = ReadFileHead(historyPath, MaxFileBytes, truncated);
    std::error_code ec;
    keepFile_ = !text && (std::filesystem::exists(historyPath, ec) || ec);
    if (!text) {
        return false;
    }
    if (truncated) {
        // The last line may have been cut by the bound; keep only whole lines.
        const std::size_t lastEnd = text->find_last_of("\r\n");
        text->resize(lastEnd == std::string::npos ? 0 : lastEnd + 1);
    }
    LoadText(*text);
    return true;
}

bool ModeFileHistory::Save(const std::string& historyPath) const {
    return !keepFile_ && ReplaceFileContents(historyPath, SaveText());
}

std::vector<std::string> ModeFileHistory::ComboItems() const {
    std::vector<std::string> items;
    items.reserve(entries_.size() + 1);
    items.emplace_back(text::Browse);
    for (const std::string& path : entries_) {
        items.push_back(ModeFileItemName(path));
    }
    return items;
}

} // namespace varko
