#include "files/ToneList.h"

#include "files/NumberParse.h"

#include <algorithm>
#include <cmath>

namespace varko {

std::optional<ToneRatios> CalculateRepeats(const ScaleDegrees& degrees, int down, int up,
                                           bool repeatEnds) {
    const std::size_t L = degrees.size();
    if (L == 0) {
        return std::nullopt;
    }
    const auto D = static_cast<std::size_t>(std::clamp(down, 0, MaxRepeatCount));
    const auto U = static_cast<std::size_t>(std::clamp(up, 0, MaxRepeatCount));
    const std::size_t k = repeatEnds ? 0 : 1;
    const std::size_t copy = L - k;

    ToneRatios tones(L + copy * D + copy * U);
    for (std::size_t d = 0; d < D; ++d) {
        const long double factor = std::ldexp(1.0L, -static_cast<int>(D - d));
        for (std::size_t i = 0; i < copy; ++i) {
            tones[copy * d + i] = static_cast<float>(factor * degrees[i]);
        }
    }
    for (std::size_t i = 0; i < L; ++i) {
        tones[copy * D + i] = degrees[i];
    }
    for (std::size_t r = 0; r < U; ++r) {
        const long double factor = std::ldexp(1.0L, static_cast<int>(r + 1));
        for (std::size_t s = 0; s < copy; ++s) {
            tones[L + copy * D + copy * r + s] = static_cast<float>(factor * degrees[s + k]);
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
