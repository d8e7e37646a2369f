#include "files/ToneList.h"

#include "files/NumberParse.h"

#include <algorithm>
#include <cmath>

namespace varko {

std::optional<ToneRatios> CalculateRepeats(const ScaleDegrees& degrees, int down, int up,
                                           bool repeatEnds) {
    const std::size_t count = degrees.size();
    if (count == 0) {
        return std::nullopt;
    }
    const auto downs = static_cast<std::size_t>(std::clamp(down, 0, MaxRepeatCount));
    const auto ups = static_cast<std::size_t>(std::clamp(up, 0, MaxRepeatCount));
    const std::size_t k = repeatEnds ? 0 : 1;
    const std::size_t copy = count - k;

    ToneRatios tones(count + copy * downs + copy * ups);
    for (std::size_t d = 0; d < downs; ++d) {
        const long double factor = std::ldexp(1.0L, -static_cast<int>(downs - d));
        for (std::size_t i = 0; i < copy; ++i) {
            tones[copy * d + i] = static_cast<float>(factor * degrees[i]);
        }
    }
    for (std::size_t i = 0; i < count; ++i) {
        tones[copy * downs + i] = degrees[i];
    }
    for (std::size_t r = 0; r < ups; ++r) {
        const long double factor = std::ldexp(1.0L, static_cast<int>(r + 1));
        for (std::size_t s = 0; s < copy; ++s) {
            tones[count + copy * downs + copy * r + s] =
                static_cast<float>(factor * degrees[s + k]);
        }
    }
    return tones;
}

int ScaleStartIndex(std::size_t degreeCount, int down, bool repeatEnds) {
    if (degreeCount == 0) {
        return 0;
    }
    // Bounded so that no scale, however long, overflows the index.
    const auto copy =
        static_cast<int>(std::min<std::size_t>(degreeCount, 1u << 20)) - (repeatEnds ? 0 : 1);
    return copy * std::clamp(down, 0, MaxRepeatCount);
}

std::optional<int> ParseRepeatCount(std::string_view text) {
    const auto value = ParseWhole(text);
    if (!value || *value < 0 || *value > MaxRepeatCount) {
        return std::nullopt;
    }
    return static_cast<int>(*value);
}

std::optional<float> ParseInitialFrequency(std::string_view text) {
    return ParseFiniteFloat(text);
}

} // namespace varko
