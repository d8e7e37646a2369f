// The tone list: the scale's degrees repeated by whole octaves below and above.
#pragma once

#include "files/ScalaFile.h"

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

namespace varko {

// One entry per tone: its frequency divided by the initial frequency, in the order of the
// scale's degrees (an ascending scale gives an ascending list). The index is the tone index.
using ToneRatios = std::vector<float>;

inline constexpr int MaxRepeatCount = 10;
inline constexpr float DefaultInitialFrequency = 200.0f; // hertz

// The tone list for degrees repeated down octaves below and up octaves above (each clamped to
// 0..10). Without repeatEnds a lower copy leaves out the scale's last degree and an upper copy
// its first, so a scale ending on 2/1 repeats without doubled tones. Nothing when degrees is
// empty: the caller's tone list then stays as it is.
std::optional<ToneRatios> CalculateRepeats(const ScaleDegrees& degrees, int down, int up,
                                           bool repeatEnds);

// Where the scale itself (its 1/1) starts in the tone list that CalculateRepeats makes from
// degreeCount degrees: after the lower copies.
int ScaleStartIndex(std::size_t degreeCount, int down, bool repeatEnds);

// A repeat edit's text as a count: a whole number 0..10, else nothing (the count is kept).
std::optional<int> ParseRepeatCount(std::string_view text);

// The initial-frequency edit's text in hertz: a decimal number; nothing when it does not parse
// or is not finite as a 32-bit float (the previous frequency is kept).
std::optional<float> ParseInitialFrequency(std::string_view text);

} // namespace varko
