#include "files/ModeFile.h"

#include "core/Texts.h"
#include "files/NumberParse.h"
#include "files/TextFile.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace varko {

namespace {

std::optional<float> ParseModeValue(std::string_view item) {
    const auto value = ParseDecimal(item);
    if (!value) {
        return std::nullopt;
    }
    const auto single = static_cast<float>(*value);
    if (!std::isfinite(single)) {
        return std::nullopt;
    }
    return single;
}

bool IsSkippedBeforeItem(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The first two non-empty items of a line split at commas.
int FirstTwoItems(std::string_view line, std::string_view (&items)[2]) {
    int count = 0;
    std::size_t i = 0;
    while (i < line.size() && count < 2) {
        while (i < line.size() && IsSkippedBeforeItem(line[i])) {
            ++i;
        }
        std::size_t end = line.find(',', i);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        if (end > i) {
            items[count++] = line.substr(i, end - i);
        }
        i = end + 1;
    }
    return count;
}

} // namespace

ModeFile ParseModeText(std::string_view text) {
    ModeFile modes;
    modes.Opened = true;
    for (const std::string& line : SplitLines(text)) {
        std::string_view items[2];
        if (FirstTwoItems(line, items) < 2) {
            modes.HasFaultyLines = true;
            continue;
        }
        const auto ratio = ParseModeValue(items[0]);
        const auto level = ParseModeValue(items[1]);
        if (!ratio || !level) {
            modes.HasFaultyLines = true;
            continue;
        }
        modes.Ratios.push_back(*ratio);
        modes.Levels.push_back(*level);
    }
    return modes;
}

ModeFile ReadModeFile(const std::string& path) {
    const auto text = ReadFileCapped(path, MaxPlayerFileBytes);
    if (!text) {
        return {};
    }
    return ParseModeText(*text);
}

void ModeFileHistory::Insert(std::string path) {
    entries.insert(entries.begin(), std::move(path));
    if (entries.size() > MaxEntries) {
        entries.resize(MaxEntries);
    }
}

void ModeFileHistory::Remove(std::size_t index) {
    if (index < entries.size()) {
        entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void ModeFileHistory::LoadText(std::string_view text) {
    // Written by this program alone, so every byte is part of a path.
    entries = SplitLines(text, false);
    if (entries.size() > MaxEntries) {
        entries.resize(MaxEntries);
    }
}

std::string ModeFileHistory::SaveText() const {
    std::string text;
    for (const std::string& path : entries) {
        if (path.find_first_of("\r\n") != std::string::npos) {
            continue;
        }
        text += path;
        text += "\r\n";
    }
    return text;
}

bool ModeFileHistory::Load(const std::string& historyPath) {
    entries.clear();
    bool truncated = false;
    auto text = ReadFileHead(historyPath, MaxFileBytes, truncated);
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
    const std::string text = SaveText();
    const std::string temporary = historyPath + ".new";
    std::FILE* f = std::fopen(temporary.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    const bool closed = std::fclose(f) == 0;
    if (!written || !closed || std::rename(temporary.c_str(), historyPath.c_str()) != 0) {
        std::remove(temporary.c_str());
        return false;
    }
    return true;
}

std::vector<std::string> ModeFileHistory::ComboItems() const {
    std::vector<std::string> items;
    items.reserve(entries.size() + 1);
    items.emplace_back(text::Browse);
    for (const std::string& path : entries) {
        items.push_back(ModeFileItemName(path));
    }
    return items;
}

std::string ModeFileItemName(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string_view::npos && dot > 0) {
        name = name.substr(0, dot);
    }
    return std::string(name);
}

} // namespace varko
