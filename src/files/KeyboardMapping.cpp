#include "files/KeyboardMapping.h"

#include "files/NumberParse.h"
#include "files/TextFile.h"

#include <cmath>
#include <limits>

namespace varko {

namespace {

enum Field {
    MapSizeField,
    FirstKeyField,
    LastKeyField,
    MiddleKeyField,
    ReferenceKeyField,
    ReferenceFrequencyField,
    OctaveDegreeField,
    FieldCount
};

constexpr const char* FieldNames[FieldCount] = {
    "the map size",      "the first key",           "the last key",      "the middle key",
    "the reference key", "the reference frequency", "the octave degree",
};

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The first item of a line split at spaces and tabs; empty for a blank line.
std::string_view FirstItem(std::string_view line) {
    std::size_t start = 0;
    while (start < line.size() && IsBlank(line[start])) {
        ++start;
    }
    std::size_t end = start;
    while (end < line.size() && !IsBlank(line[end])) {
        ++end;
    }
    return line.substr(start, end - start);
}

// The item quoted for a message when it is short, printable text; binary junk is not echoed.
std::string Shown(std::string_view item) {
    if (item.size() > 24 || !IsValidUtf8(item)) {
        return {};
    }
    for (char c : item) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            return {};
        }
    }
    return ", not \"" + std::string(item) + "\"";
}

std::optional<std::int64_t> WholeIn(std::string_view item, std::int64_t low, std::int64_t high) {
    const auto value = ParseWhole(item);
    if (!value || *value < low || *value > high) {
        return std::nullopt;
    }
    return value;
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if (a % b != 0 && (a < 0) != (b < 0)) {
        --q;
    }
    return q;
}

// The degree of key by the pattern alone (the key range is not looked at). An unmapped entry
// gives nothing, or with linearFallback the degree a linear pattern would hold there.
std::optional<std::int64_t> PatternDegree(const KeyboardMapping& mapping, std::size_t degreeCount,
                                          int key, bool linearFallback) {
    const std::int64_t offset = key - mapping.MiddleKey;
    if (mapping.MapSize == 0) {
        return offset;
    }
    const std::int64_t repeat = FloorDiv(offset, mapping.MapSize);
    const std::int64_t index = offset - repeat * mapping.MapSize;
    const std::int64_t octave =
        mapping.OctaveDegree != 0 ? mapping.OctaveDegree : static_cast<std::int64_t>(degreeCount);
    const std::size_t slot = static_cast<std::size_t>(index);
    if (slot < mapping.Entries.size() && mapping.Entries[slot]) {
        return *mapping.Entries[slot] + repeat * octave;
    }
    if (linearFallback) {
        return index + repeat * octave;
    }
    return std::nullopt;
}

// The ratio of degree to the 1/1: the degree within the scale times the period to the power of
// the whole periods it lies beyond (or below) the scale. degrees has at least two elements.
long double DegreeRatio(const ScaleDegrees& degrees, std::int64_t degree) {
    const auto count = static_cast<std::int64_t>(degrees.size() - 1);
    const std::int64_t periods = FloorDiv(degree, count);
    const std::int64_t within = degree - periods * count;
    const long double period = degrees.back();
    return static_cast<long double>(degrees[static_cast<std::size_t>(within)]) *
           std::pow(period, static_cast<long double>(periods));
}

bool IsFinitePositive(long double value) {
    return std::isfinite(value) && value > 0.0L;
}

} // namespace

KeyboardMapping ParseKeyboardMappingText(std::string_view text) {
    KeyboardMapping mapping;
    mapping.Opened = true;
    mapping.Lines = SplitLines(text);
    bool fieldRead[FieldCount] = {};
    int field = 0;
    int lastKeyLine = 0;
    bool extraReported = false;
    const auto complain = [&](int line, const std::string& what) {
        mapping.Messages.push_back({line, "Line " + std::to_string(line) + ": " + what});
    };

    for (std::size_t i = 0; i < mapping.Lines.size(); ++i) {
        const std::string& line = mapping.Lines[i];
        const int number = static_cast<int>(i) + 1;
        const std::string_view item = FirstItem(line);
        if ((!line.empty() && line[0] == '!') || item.empty()) {
            continue;
        }
        if (field < FieldCount) {
            const int current = field++;
            const std::string name = FieldNames[current];
            std::optional<std::int64_t> whole;
            switch (current) {
            case MapSizeField:
                if ((whole = WholeIn(item, 0, MaxKbmMapSize))) {
                    mapping.MapSize = *whole;
                } else {
                    complain(number, name + " must be a whole number from 0 to " +
                                         std::to_string(MaxKbmMapSize) + Shown(item));
                }
                break;
            case FirstKeyField:
            case LastKeyField:
            case MiddleKeyField:
            case ReferenceKeyField:
                if ((whole = WholeIn(item, 0, MaxMidiKey))) {
                    int* const keys[] = {nullptr, &mapping.FirstKey, &mapping.LastKey,
                                         &mapping.MiddleKey, &mapping.ReferenceKey};
                    *keys[current] = static_cast<int>(*whole);
                } else {
                    complain(number, name + " must be a MIDI key from 0 to " +
                                         std::to_string(MaxMidiKey) + Shown(item));
                }
                if (current == LastKeyField) {
                    lastKeyLine = number;
                }
                break;
            case ReferenceFrequencyField:
                if (const auto hz = ParseFiniteFloat(item); hz && *hz > 0.0f) {
                    mapping.ReferenceFrequency = *hz;
                    whole = 0; // read
                } else {
                    complain(number, name + " must be a number of hertz above 0" + Shown(item));
                }
                break;
            case OctaveDegreeField:
                if ((whole = WholeIn(item, 0, MaxKbmDegree))) {
                    mapping.OctaveDegree = *whole;
                } else {
                    complain(number, name + " must be a whole number from 0 to " +
                                         std::to_string(MaxKbmDegree) + Shown(item));
                }
                break;
            default:
                break;
            }
            fieldRead[current] = whole.has_value();
            continue;
        }
        // Entries: only when the map size is known is it clear how many there are.
        if (!fieldRead[MapSizeField]) {
            continue;
        }
        if (static_cast<std::int64_t>(mapping.Entries.size()) >= mapping.MapSize) {
            if (!extraReported) {
                complain(number, "more entries than the map size of " +
                                     std::to_string(mapping.MapSize) +
                                     "; this line and the ones after it are ignored");
                extraReported = true;
            }
            continue;
        }
        if (item == "x" || item == "X") {
            mapping.Entries.emplace_back();
        } else if (const auto degree = WholeIn(item, -MaxKbmDegree, MaxKbmDegree)) {
            mapping.Entries.emplace_back(*degree);
        } else {
            complain(number, "entry " + std::to_string(mapping.Entries.size()) +
                                 " must be a scale degree (a whole number) or x" + Shown(item) +
                                 "; the key is left unmapped");
            mapping.Entries.emplace_back();
        }
    }

    if (field < FieldCount) {
        complain(static_cast<int>(mapping.Lines.size()) + 1,
                 "the file ends before " + std::string(FieldNames[field]));
    }
    if (fieldRead[FirstKeyField] && fieldRead[LastKeyField] && mapping.LastKey < mapping.FirstKey) {
        complain(lastKeyLine, "the last key (" + std::to_string(mapping.LastKey) +
                                  ") is below the first key (" + std::to_string(mapping.FirstKey) +
                                  ")");
        fieldRead[LastKeyField] = false;
    }
    mapping.Usable = true;
    for (bool read : fieldRead) {
        mapping.Usable = mapping.Usable && read;
    }
    return mapping;
}

KeyboardMapping ReadKeyboardMapping(const std::string& path) {
    const auto text = ReadFileCapped(path, MaxPlayerFileBytes);
    if (!text) {
        return {};
    }
    return ParseKeyboardMappingText(*text);
}

std::optional<std::int64_t> MappedDegree(const KeyboardMapping& mapping, std::size_t degreeCount,
                                         int key) {
    if (!mapping.Usable || key < mapping.FirstKey || key > mapping.LastKey) {
        return std::nullopt;
    }
    return PatternDegree(mapping, degreeCount, key, false);
}

std::optional<float> MappedKeyFrequency(const KeyboardMapping& mapping, const ScaleDegrees& degrees,
                                        int key) {
    if (degrees.size() < 2) {
        return std::nullopt;
    }
    const std::size_t count = degrees.size() - 1;
    const auto degree = MappedDegree(mapping, count, key);
    if (!degree) {
        return std::nullopt;
    }
    const auto reference = PatternDegree(mapping, count, mapping.ReferenceKey, true);
    const long double keyRatio = DegreeRatio(degrees, *degree);
    const long double referenceRatio = DegreeRatio(degrees, *reference);
    if (!IsFinitePositive(keyRatio) || !IsFinitePositive(referenceRatio)) {
        return std::nullopt;
    }
    const long double hertz =
        static_cast<long double>(mapping.ReferenceFrequency) * (keyRatio / referenceRatio);
    if (!IsFinitePositive(hertz) || hertz > std::numeric_limits<float>::max()) {
        return std::nullopt;
    }
    const auto result = static_cast<float>(hertz);
    if (!(result > 0.0f)) { // below the smallest float
        return std::nullopt;
    }
    return result;
}

} // namespace varko
