// Measures of a recorded tone: its power at a frequency and its pitch.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace varko::test {

// Power of x[from .. from + n) at f hertz, Hann-windowed (Goertzel).
inline double Power(const std::vector<float>& x, size_t from, size_t n, double f, double rate) {
    const double c = 2 * std::cos(2 * M_PI * f / rate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / n);
        const double s0 = w * x.at(from + i) + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// The strongest frequency of x[from .. from + n) between lo and hi, to 0.1 Hz.
inline double Pitch(const std::vector<float>& x, size_t from, size_t n, double rate, double lo,
                    double hi) {
    double best = -1, bestF = 0;
    for (double f = lo; f <= hi; f += 2) {
        const double p = Power(x, from, n, f, rate);
        if (p > best) {
            best = p;
            bestF = f;
        }
    }
    const double coarse = bestF;
    for (double f = coarse - 2; f <= coarse + 2; f += 0.1) {
        const double p = Power(x, from, n, f, rate);
        if (p > best) {
            best = p;
            bestF = f;
        }
    }
    return bestF;
}

} // namespace varko::test
