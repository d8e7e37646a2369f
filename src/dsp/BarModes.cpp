#include "dsp/BarModes.h"

#include <algorithm>
#include <cmath>

namespace varko {

namespace {
// Constants of the bar's mode formulas, kept in extended precision.
constexpr long double FreeDivisor = 3.0112L;
constexpr long double FixedSecond = 2.988L;
constexpr long double FixedDivisor = 1.194L;
} // namespace

float UniformBarRatio(TEndType end, int n) {
    if (n <= 1) {
        return 1.0f;
    }
    const long double nn = n;
    long double r = 1.0L;
    switch (end) {
    case TEndType::Fixed:
        r = n == 2 ? (FixedSecond / FixedDivisor) : ((2.0L * nn - 1.0L) / FixedDivisor);
        r *= r;
        break;
    case TEndType::Hinged:
        r = nn * nn;
        break;
    case TEndType::Free:
    case TEndType::None:
    default:
        r = (2.0L * nn + 1.0L) / FreeDivisor;
        r *= r;
        break;
    }
    return static_cast<float>(r);
}

float ModeWeight(int n, int p) {
    if (n < 1) {
        n = 1;
    }
    if (p >= ModeWeightFactorial) {
        long double f = 1.0L;
        for (int i = 2; i <= n; ++i) {
            f *= i;
        }
        return static_cast<float>(1.0L / f);
    }
    p = std::max(p, 0);
    return static_cast<float>(1.0L / std::pow(static_cast<long double>(n), p / 2.0L));
}

TToneModes UniformBarModes(TEndType end, float f0, float fs, int modeLimit, int weighting) {
    TToneModes m;
    m.EndType = end;
    m.Ratios.push_back(1.0f);
    m.Gains.push_back(1.0f);
    int first = 2;
    if (end == TEndType::Fixed) {
        if (modeLimit >= 2) {
            m.Ratios.push_back(UniformBarRatio(end, 2));
            m.Gains.push_back(ModeWeight(2, weighting));
        }
        first = 3;
    }
    // The loop's own bound is floor(fs / f0); the mode limit bounds it first, which also keeps
    // a zero or absurd f0 from producing an endless or overflowing count.
    const double upper = f0 > 0.0f ? std::floor(static_cast<double>(fs) / f0) : 0.0;
    const int last = static_cast<int>(std::min<double>(upper, modeLimit));
    for (int n = first; n <= last; ++n) {
        const float r = UniformBarRatio(end, n);
        if (static_cast<double>(r) * f0 > fs / 2.0) {
            break;
        }
        m.Ratios.push_back(r);
        m.Gains.push_back(ModeWeight(n, weighting));
    }
    return m;
}

TToneModes FileModes(const std::vector<float>& modeRatios, const std::vector<float>& modeLevels,
                     TEndType end, float f0, float fs, int modeLimit) {
    TToneModes m;
    const size_t count = std::min(modeRatios.size(), modeLevels.size());
    for (size_t i = 0; i < count; ++i) {
        if (static_cast<long long>(i) >= modeLimit) {
            break;
        }
        if (static_cast<double>(modeRatios[i]) * f0 > fs / 2.0) {
            break;
        }
        m.Ratios.push_back(modeRatios[i]);
        m.Gains.push_back(modeLevels[i]);
        m.EndType = end;
    }
    return m;
}

} // namespace varko
