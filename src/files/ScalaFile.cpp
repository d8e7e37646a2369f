#include "files/ScalaFile.h"

#include "files/NumberParse.h"
#include "files/TextFile.h"

#include <cmath>

namespace varko {

namespace {

std::optional<float> ToFiniteFloat(long double ratio) {
    const auto value = static_cast<float>(ratio);
    if (!std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

// The first item of a line split at spaces alone (a tab is part of an item).
std::string_view FirstItem(std::string_view line) {
    const std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) {
        return {};
    }
    const std::size_t end = line.find(' ', start);
    return line.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

} // namespace

std::optional<float> ParseScalaPitch(std::string_view item) {
    if (item.find('.') != std::string_view::npos) {
        const auto cents = ParseDecimal(item);
        if (!cents) {
            return std::nullopt;
        }
        return ToFiniteFloat(std::pow(2.0L, static_cast<long double>(*cents) / 1200.0L));
    }
    if (item.find('/') != std::string_view::npos) {
        std::string_view pieces[2];
        int count = 0;
        std::size_t start = 0;
        while (start <= item.size()) {
            std::size_t end = item.find('/', start);
            if (end == std::string_view::npos) {
                end = item.size();
            }
            if (end > start) {
                if (count == 2) {
                    return std::nullopt;
                }
                pieces[count++] = item.substr(start, end - start);
            }
            start = end + 1;
        }
        if (count != 2) {
            return std::nullopt;
        }
        const auto a = ParseDecimal(pieces[0]);
        const auto b = ParseDecimal(pieces[1]);
        if (!a || !b || *b == 0.0) {
            return std::nullopt;
        }
        const long double quotient = static_cast<long double>(*a) / static_cast<long double>(*b);
        if (quotient < 0.0L) {
            return std::nullopt;
        }
        return ToFiniteFloat(quotient);
    }
    const auto whole = ParseWhole(item);
    if (!whole) {
        return std::nullopt;
    }
    return static_cast<float>(*whole);
}

ScalaFile ParseScalaText(std::string_view text) {
    ScalaFile scale;
    scale.Opened = true;
    scale.Lines = SplitLines(text);
    scale.Degrees = {1.0f};
    int significant = 0;
    for (const std::string& line : scale.Lines) {
        if (line.empty() || line[0] == '!') {
            continue;
        }
        ++significant;
        if (significant == 1) {
            scale.Description = line;
            continue;
        }
        if (significant == 2) {
            continue; // the note count is not trusted: every later line is read
        }
        const std::string_view item = FirstItem(line);
        if (item.empty()) {
            continue;
        }
        if (const auto ratio = ParseScalaPitch(item)) {
            scale.Degrees.push_back(*ratio);
            ++scale.AcceptedPitchLines;
        } else {
            scale.HasErrors = true;
            ++scale.FaultyPitchLines;
        }
    }
    return scale;
}

ScalaFile ReadScalaFile(const std::string& path) {
    const auto text = ReadFileCapped(path, MaxPlayerFileBytes);
    if (!text) {
        return {};
    }
    return ParseScalaText(*text);
}

} // namespace varko
