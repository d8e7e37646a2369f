#include "dsp/WaveguideBandpassFilter.h"

#include "dsp/WaveguideDelay.h"

#include <cmath>
#include <numbers>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace varko {

void TWaveguideBPFilter4p::SetParams(float AFrequency, float ASampleRate, float AQ) {
    Frequency = AFrequency;
    SampleRate = ASampleRate;
    Q = AQ;
    UpdateCoefficients();
}

void TWaveguideBPFilter4p::UpdateCoefficients() {
    const double q = Q;
    const double F = (4.0 * q - 3.0) / (q + 1.0);
    const double d = (1.0 - 0.25 * F) * (1.0 - 0.25 * F);
    const double T =
        std::tan(std::numbers::pi_v<long double> * static_cast<long double>(Frequency) /
                 static_cast<long double>(SampleRate));

    const double k = 1.0 / (T * (1.0 + d));
    const double p = 1.0 + k;
    const double m = 1.0 - k;
    const double g = 1.0 / (p * p * p * p + F);
    const double A1 = 4.0 * (p * p * p * m + F);
    const double A2 = 6.0 * (p * p * m * m + F);
    const double A3 = 4.0 * (p * m * m * m + F);
    const double A4 = m * m * m * m + F;
    const double g0 = (F + 1.0) * g;
    LpGain = g0;
    LpB[0] = 4.0 * g0;
    LpB[1] = 6.0 * g0;
    LpB[2] = 4.0 * g0;
    LpB[3] = g0;
    LpA[0] = -A1 * g;
    LpA[1] = -A2 * g;
    LpA[2] = -A3 * g;
    LpA[3] = -A4 * g;

    const double kh = T / (1.0 + d);
    const double ph = kh + 1.0;
    const double mh = kh - 1.0;
    const double gh = 1.0 / (ph * ph * ph * ph + F);
    const double H1 = 4.0 * (ph * ph * ph * mh - F);
    const double H2 = 6.0 * (ph * ph * mh * mh + F);
    const double H3 = 4.0 * (ph * mh * mh * mh - F);
    const double H4 = mh * mh * mh * mh + F;
    const double h0 = (F + 1.0) * gh;
    HpGain = h0;
    HpB[0] = -4.0 * h0;
    HpB[1] = 6.0 * h0;
    HpB[2] = -4.0 * h0;
    HpB[3] = h0;
    HpA[0] = -H1 * gh;
    HpA[1] = -H2 * gh;
    HpA[2] = -H3 * gh;
    HpA[3] = -H4 * gh;
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

void TWaveguideBPFilter4p::TickBlock(const float* __restrict Excitation, float Gain, int32_t& Quiet,
                                     float* __restrict Out, int n) {
    // State and coefficients in locals, so that the recursion stays in registers.
    const double g0 = LpGain, h0 = HpGain;
    const double lb0 = LpB[0], lb1 = LpB[1], lb2 = LpB[2], lb3 = LpB[3];
    const double la0 = LpA[0], la1 = LpA[1], la2 = LpA[2], la3 = LpA[3];
    const double hb0 = HpB[0], hb1 = HpB[1], hb2 = HpB[2], hb3 = HpB[3];
    const double ha0 = HpA[0], ha1 = HpA[1], ha2 = HpA[2], ha3 = HpA[3];
    double l0 = LpState[0], l1 = LpState[1], l2 = LpState[2], l3 = LpState[3];
    double h0s = HpState[0], h1 = HpState[1], h2 = HpState[2], h3 = HpState[3];
    double y = LpOut, z = HpOut;
    const double threshold = DenormalThreshold;
    int32_t quiet = Quiet;
    for (int i = 0; i < n; ++i) {
        const float xf = Excitation[i] * Gain;
        if (xf == 0.0f) {
            if (quiet >= QuietLimit) {
                Out[i] = 0.0f;
                continue;
            }
            ++quiet;
        } else {
            quiet = 0;
        }
        const double x = xf;
        y = g0 * x + l0;
        if (std::fabs(y) < threshold) {
            y = 0.0;
        }
        l0 = lb0 * x + la0 * y + l1;
        l1 = lb1 * x + la1 * y + l2;
        l2 = lb2 * x + la2 * y + l3;
        l3 = lb3 * x + la3 * y;
        z = h0 * y + h0s;
        if (std::fabs(z) < threshold) {
            z = 0.0;
        }
        h0s = hb0 * y + ha0 * z + h1;
        h1 = hb1 * y + ha1 * z + h2;
        h2 = hb2 * y + ha2 * z + h3;
        h3 = hb3 * y + ha3 * z;
        Out[i] = static_cast<float>(z);
    }
    Quiet = quiet;
    LpState[0] = l0;
    LpState[1] = l1;
    LpState[2] = l2;
    LpState[3] = l3;
    HpState[0] = h0s;
    HpState[1] = h1;
    HpState[2] = h2;
    HpState[3] = h3;
    LpOut = y;
    HpOut = z;
}

namespace {
// The per-sample quiet rule: whether the filter runs for input x, and the counter's update.
inline bool RunsFor(float x, int32_t& quiet) {
    if (x != 0.0f) {
        quiet = 0;
        return true;
    }
    if (quiet >= TWaveguideBPFilter4p::QuietLimit) {
        return false;
    }
    ++quiet;
    return true;
}
} // namespace

void TWaveguideBPFilter4p::TickBlockPair(TWaveguideBPFilter4p& A, TWaveguideBPFilter4p& B,
                                         const float* __restrict Excitation, float GainA,
                                         float GainB, int32_t& QuietA, int32_t& QuietB,
                                         float* __restrict OutA, float* __restrict OutB, int n) {
#if defined(__SSE2__)
    // Lane 0 is band A, lane 1 band B; every operation is the scalar one, lane by lane.
    const auto pack = [](double a, double b) { return _mm_set_pd(b, a); };
    const __m128d g0 = pack(A.LpGain, B.LpGain), h0 = pack(A.HpGain, B.HpGain);
    const __m128d lb0 = pack(A.LpB[0], B.LpB[0]), lb1 = pack(A.LpB[1], B.LpB[1]);
    const __m128d lb2 = pack(A.LpB[2], B.LpB[2]), lb3 = pack(A.LpB[3], B.LpB[3]);
    const __m128d la0 = pack(A.LpA[0], B.LpA[0]), la1 = pack(A.LpA[1], B.LpA[1]);
    const __m128d la2 = pack(A.LpA[2], B.LpA[2]), la3 = pack(A.LpA[3], B.LpA[3]);
    const __m128d hb0 = pack(A.HpB[0], B.HpB[0]), hb1 = pack(A.HpB[1], B.HpB[1]);
    const __m128d hb2 = pack(A.HpB[2], B.HpB[2]), hb3 = pack(A.HpB[3], B.HpB[3]);
    const __m128d ha0 = pack(A.HpA[0], B.HpA[0]), ha1 = pack(A.HpA[1], B.HpA[1]);
    const __m128d ha2 = pack(A.HpA[2], B.HpA[2]), ha3 = pack(A.HpA[3], B.HpA[3]);
    __m128d l0 = pack(A.LpState[0], B.LpState[0]), l1 = pack(A.LpState[1], B.LpState[1]);
    __m128d l2 = pack(A.LpState[2], B.LpState[2]), l3 = pack(A.LpState[3], B.LpState[3]);
    __m128d s0 = pack(A.HpState[0], B.HpState[0]), s1 = pack(A.HpState[1], B.HpState[1]);
    __m128d s2 = pack(A.HpState[2], B.HpState[2]), s3 = pack(A.HpState[3], B.HpState[3]);
    __m128d y = pack(A.LpOut, B.LpOut), z = pack(A.HpOut, B.HpOut);
    const __m128d threshold = _mm_set1_pd(static_cast<double>(DenormalThreshold));
    const __m128d absMask = _mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffffLL));
    const __m128d laneA = _mm_castsi128_pd(_mm_set_epi64x(0, -1));
    const __m128d laneB = _mm_castsi128_pd(_mm_set_epi64x(-1, 0));
    int32_t quietA = QuietA, quietB = QuietB;
    for (int i = 0; i < n; ++i) {
        const float xa = Excitation[i] * GainA;
        const float xb = Excitation[i] * GainB;
        const bool runA = RunsFor(xa, quietA);
        const bool runB = RunsFor(xb, quietB);
        if (!runA && !runB) {
            OutA[i] = 0.0f;
            OutB[i] = 0.0f;
            continue;
        }
        const __m128d x = pack(xa, xb);
        __m128d ny = _mm_add_pd(_mm_mul_pd(g0, x), l0);
        ny = _mm_andnot_pd(_mm_cmplt_pd(_mm_and_pd(ny, absMask), threshold), ny);
        const __m128d nl0 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(lb0, x), _mm_mul_pd(la0, ny)), l1);
        const __m128d nl1 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(lb1, x), _mm_mul_pd(la1, ny)), l2);
        const __m128d nl2 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(lb2, x), _mm_mul_pd(la2, ny)), l3);
        const __m128d nl3 = _mm_add_pd(_mm_mul_pd(lb3, x), _mm_mul_pd(la3, ny));
        __m128d nz = _mm_add_pd(_mm_mul_pd(h0, ny), s0);
        nz = _mm_andnot_pd(_mm_cmplt_pd(_mm_and_pd(nz, absMask), threshold), nz);
        const __m128d ns0 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(hb0, ny), _mm_mul_pd(ha0, nz)), s1);
        const __m128d ns1 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(hb1, ny), _mm_mul_pd(ha1, nz)), s2);
        const __m128d ns2 = _mm_add_pd(_mm_add_pd(_mm_mul_pd(hb2, ny), _mm_mul_pd(ha2, nz)), s3);
        const __m128d ns3 = _mm_add_pd(_mm_mul_pd(hb3, ny), _mm_mul_pd(ha3, nz));
        if (runA && runB) {
            l0 = nl0, l1 = nl1, l2 = nl2, l3 = nl3, y = ny;
            s0 = ns0, s1 = ns1, s2 = ns2, s3 = ns3, z = nz;
        } else {
            // One band is quiet: its lane keeps its state, as if its filter had not run.
            const __m128d keep = runA ? laneA : laneB;
            const auto pick = [keep](__m128d fresh, __m128d old) {
                return _mm_or_pd(_mm_and_pd(keep, fresh), _mm_andnot_pd(keep, old));
            };
            l0 = pick(nl0, l0), l1 = pick(nl1, l1), l2 = pick(nl2, l2), l3 = pick(nl3, l3);
            s0 = pick(ns0, s0), s1 = pick(ns1, s1), s2 = pick(ns2, s2), s3 = pick(ns3, s3);
            y = pick(ny, y);
            z = pick(nz, z);
        }
        const __m128 out = _mm_cvtpd_ps(nz);
        OutA[i] = runA ? _mm_cvtss_f32(out) : 0.0f;
        OutB[i] = runB ? _mm_cvtss_f32(_mm_shuffle_ps(out, out, 1)) : 0.0f;
    }
    QuietA = quietA;
    QuietB = quietB;
    const auto store = [&A, &B](__m128d v, double& a, double& b) {
        a = _mm_cvtsd_f64(v);
        b = _mm_cvtsd_f64(_mm_unpackhi_pd(v, v));
    };
    store(l0, A.LpState[0], B.LpState[0]);
    store(l1, A.LpState[1], B.LpState[1]);
    store(l2, A.LpState[2], B.LpState[2]);
    store(l3, A.LpState[3], B.LpState[3]);
    store(s0, A.HpState[0], B.HpState[0]);
    store(s1, A.HpState[1], B.HpState[1]);
    store(s2, A.HpState[2], B.HpState[2]);
    store(s3, A.HpState[3], B.HpState[3]);
    store(y, A.LpOut, B.LpOut);
    store(z, A.HpOut, B.HpOut);
#else
    A.TickBlock(Excitation, GainA, QuietA, OutA, n);
    B.TickBlock(Excitation, GainB, QuietB, OutB, n);
#endif
}

} // namespace varko
