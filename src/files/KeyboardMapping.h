// Reader of Scala keyboard mappings (.kbm): which MIDI key plays which scale degree, and the
// frequency that ties the scale to the keys.
#pragma once

#include "files/ScalaFile.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varko {

// Bounds of the numbers a mapping may hold. Keys are MIDI note numbers; a pattern longer than
// 1024 keys repeats nowhere on a keyboard, and degrees beyond a million are no scale's. With
// them the degree arithmetic stays far inside 64 bits.
inline constexpr int MaxMidiKey = 127;
inline constexpr std::int64_t MaxKbmMapSize = 1024;
inline constexpr std::int64_t MaxKbmDegree = 1000000;

// One complaint about one line of the file.
struct KbmMessage {
    int Line = 0;     // 1-based line of the file; one past the last when a line is missing
    std::string Text; // a sentence naming the line, for the player
};

struct KeyboardMapping {
    // False when the file could not be opened or read (or is too large to be a mapping): then
    // nothing else is filled.
    bool Opened = false;
    // Every line of the file, comments included, without line ends; raw bytes.
    std::vector<std::string> Lines;
    // True when all seven header values were read and make sense together: only then does the
    // mapping tune anything. Faulty entries alone leave it usable (they are unmapped keys).
    bool Usable = false;
    std::vector<KbmMessage> Messages;

    std::int64_t MapSize = 0; // 0: linear, key (middle + n) plays degree n
    int FirstKey = 0;         // keys outside FirstKey..LastKey are unmapped
    int LastKey = MaxMidiKey;
    int MiddleKey = 60;               // plays the degree of entry 0 of the pattern
    int ReferenceKey = 69;            // the key whose frequency is given
    double ReferenceFrequency = 440.; // hertz, finite and above 0
    // Degrees between one repeat of the pattern and the next; 0 means the scale's own size
    // (its period). Unused by a linear mapping.
    std::int64_t OctaveDegree = 0;
    // Entry n is for key MiddleKey + n (and every MapSize keys on): a degree, or nothing for
    // an unmapped key ("x"). Entries the file leaves out at the end are not listed here and
    // are unmapped as well, so the size may be below MapSize.
    std::vector<std::optional<std::int64_t>> Entries;
};

// Reads the file at path; files above MaxPlayerFileBytes and anything but a regular file are
// refused as not opened.
KeyboardMapping ReadKeyboardMapping(const std::string& path);

// The same reading applied to text already in memory (always Opened). Lines starting with "!"
// are comments and blank lines are skipped; of every other line only the first item (up to a
// space or tab) counts. In order: map size, first key, last key, middle key, reference key,
// reference frequency (a decimal number, "." whatever the locale), octave degree, then up to
// map-size entries: a whole number or "x".
KeyboardMapping ParseKeyboardMappingText(std::string_view text);

// The degree key (0..127) plays, counted from the scale's 1/1 at the middle key (may be
// negative or beyond the scale); nothing when the key is unmapped or the mapping not usable.
// degreeCount is the scale's number of degrees per period (ScaleDegrees size - 1), used as the
// formal octave when OctaveDegree is 0.
std::optional<std::int64_t> MappedDegree(const KeyboardMapping& mapping, std::size_t degreeCount,
                                         int key);

// The frequency in hertz that key (0..127) plays with the scale's degrees (element 0 the 1/1,
// the last the period, as the tone list has them): finite and above 0 as a float, or nothing
// when the key is unmapped, the mapping not usable, the scale has no degree beyond its 1/1, or
// the result would not be a finite positive frequency. A degree beyond the scale wraps by the
// period. The reference key ties the tuning even outside FirstKey..LastKey; when its own entry
// is "x" or left out, its frequency is given to the degree a linear pattern would hold there
// (the entry's index, plus the formal octaves of its repeat), so that a mapping whose reference
// key is silent still tunes the keys it maps.
std::optional<float> MappedKeyFrequency(const KeyboardMapping& mapping, const ScaleDegrees& degrees,
                                        int key);

} // namespace varko
