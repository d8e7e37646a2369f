#include "files/ModeFile.h"

#include "files/NumberParse.h"
#include "files/TextFile.h"

namespace varko {

namespace {

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
        const auto ratio = ParseFiniteFloat(items[0]);
        const auto level = ParseFiniteFloat(items[1]);
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
