#include "engine/FaderLaws.h"

#include <algorithm>
#include <cmath>

namespace varko {

float ResonanceFromFader(int q) {
    q = std::clamp(q, FaderMin, FaderMax);
    return static_cast<float>(std::pow(0.9999L, static_cast<long double>(q) + 1.0L));
}

float MasterGainFromFader(int p) {
    p = std::clamp(p, FaderMin, FaderMax);
    long double g = 1.0L;
    if (p == 200) {
        g = 0.0L;
    } else if (p < 20) {
        g = std::pow(1.1L, static_cast<long double>(21 - p));
    } else if (p > 20) {
        g = std::pow(0.99L, static_cast<long double>(p - 20));
    }
    return static_cast<float>(g);
}

} // namespace varko
