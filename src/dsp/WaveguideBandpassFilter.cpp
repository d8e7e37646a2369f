#include "dsp/WaveguideBandpassFilter.h"

#include "dsp/WaveguideDelay.h"

#include <cmath>
#include <numbers>

namespace varko {

void TWaveguideBPFilter4p::SetParams(float frequency, float sampleRate, float q) {
    Frequency = frequency;
    SampleRate = sampleRate;
    Q = q;
    UpdateCoefficients();
}

void TWaveguideBPFilter4p::UpdateCoefficients() {
    const double q = Q;
    const double f = (4.0 * q - 3.0) / (q + 1.0);
    const double d = (1.0 - 0.25 * f) * (1.0 - 0.25 * f);
    const double t =
        std::tan(std::numbers::pi_v<long double> * static_cast<long double>(Frequency) /
                 static_cast<long double>(SampleRate));

    const double k = 1.0 / (t * (1.0 + d));
    const double p = 1.0 + k;
    const double m = 1.0 - k;
    const double g = 1.0 / (p * p * p * p + f);
    const double a1 = 4.0 * (p * p * p * m + f);
    const double a2 = 6.0 * (p * p * m * m + f);
    const double a3 = 4.0 * (p * m * m * m + f);
    const double a4 = m * m * m * m + f;
    const double g0 = (f + 1.0) * g;
    LpGain = g0;
    LpB[0] = 4.0 * g0;
    LpB[1] = 6.0 * g0;
    LpB[2] = 4.0 * g0;
    LpB[3] = g0;
    LpA[0] = -a1 * g;
    LpA[1] = -a2 * g;
    LpA[2] = -a3 * g;
    LpA[3] = -a4 * g;

    const double kh = t / (1.0 + d);
    const double ph = kh + 1.0;
    const double mh = kh - 1.0;
    const double gh = 1.0 / (ph * ph * ph * ph + f);
    const double h1 = 4.0 * (ph * ph * ph * mh - f);
    const double h2 = 6.0 * (ph * ph * mh * mh + f);
    const double h3 = 4.0 * (ph * mh * mh * mh - f);
    const double h4 = mh * mh * mh * mh + f;
    const double h0 = (f + 1.0) * gh;
    HpGain = h0;
    HpB[0] = -4.0 * h0;
    HpB[1] = 6.0 * h0;
    HpB[2] = -4.0 * h0;
    HpB[3] = h0;
    HpA[0] = -h1 * gh;
    HpA[1] = -h2 * gh;
    HpA[2] = -h3 * gh;
    HpA[3] = -h4 * gh;
}

float TWaveguideBPFilter4p::Tick(double x) {
    double y = LpGain * x + LpState[0];
    if (std::fabs(y) < DenormalThreshold) {
        y = 0.0;
    }
    LpOut = y;
    LpState[0] = LpB[0] * x + LpA[0] * y + LpState[1];
    LpState[1] = LpB[1] * x + LpA[1] * y + LpState[2];
    LpState[2] = LpB[2] * x + LpA[2] * y + LpState[3];
    LpState[3] = LpB[3] * x + LpA[3] * y;

    double z = HpGain * y + HpState[0];
    if (std::fabs(z) < DenormalThreshold) {
        z = 0.0;
    }
    HpOut = z;
    HpState[0] = HpB[0] * y + HpA[0] * z + HpState[1];
    HpState[1] = HpB[1] * y + HpA[1] * z + HpState[2];
    HpState[2] = HpB[2] * y + HpA[2] * z + HpState[3];
    HpState[3] = HpB[3] * y + HpA[3] * z;
    return static_cast<float>(z);
}

} // namespace varko
