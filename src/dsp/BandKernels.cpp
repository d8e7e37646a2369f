// Compiled once per processor family by Highway's foreach_target (this file includes itself).
// Each loop does what the per-sample formulas do, lane by lane: Mul and Add, never MulAdd (an
// FMA on AVX2 and AVX-512 rounds once where the formulas round twice), and the file is built
// with -ffp-contract=off so that the compiler fuses nothing either.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "dsp/BandKernels.cpp"
#include <hwy/foreach_target.h> // IWYU pragma: keep
#include <hwy/highway.h>

#include "dsp/BandKernels.h"
#include "dsp/Excitation.h"
#include "dsp/WaveguideBandpassFilter.h"
#include "dsp/WaveguideDelay.h"

#include <algorithm>
#include <cmath>

HWY_BEFORE_NAMESPACE();
namespace varko::bandkernels {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DD = hn::ScalableTag<double>;
using DH = hn::Rebind<float, DD>; // as many floats as a vector has doubles
using VD = hn::Vec<DD>;
using VH = hn::Vec<DH>;
using MD = hn::Mask<DD>;

// How many vectors of lanes run side by side: the filter's recursion is a chain of dependent
// multiplies and adds per sample, so independent lanes (of one tone or of several) fill the
// pipeline while one waits. Two, measured: more keep more states than the registers hold, and
// the spills cost more than the overlap gains.
constexpr size_t FilterVectorsAtOnce = 2;

struct TFilterVector {
    VD L0, L1, L2, L3, S0, S1, S2, S3, Quiet;
    VH Gain;
};

// Where one vector of lanes lives: its block's rows from its first lane on, its gains, its
// tone's excitation and its outputs.
struct TLaneVector {
    double* Base;
    const float* Gains;
    const float* X0;
    float* Out;
};

// K vectors of lanes, each of its own block, over n samples.
template <size_t K> HWY_INLINE void FilterVectors(const TLaneVector* HWY_RESTRICT vectors, int n) {
    const DD d;
    const DH dh;
    constexpr size_t N = HWY_LANES(double);
    double* base[K];
    const float* x0[K];
    float* out[K];
    for (size_t k = 0; k < K; ++k) {
        base[k] = vectors[k].Base;
        x0[k] = vectors[k].X0;
        out[k] = vectors[k].Out;
    }
    const auto at = [&base](size_t r, size_t k) { return base[k] + r * LaneBlock; };
    const auto load = [&](size_t r, size_t k) { return hn::Load(d, at(r, k)); };
    TFilterVector v[K];
#pragma GCC unroll 4
    for (size_t k = 0; k < K; ++k) {
        v[k].L0 = load(LpS0, k);
        v[k].L1 = load(LpS1, k);
        v[k].L2 = load(LpS2, k);
        v[k].L3 = load(LpS3, k);
        v[k].S0 = load(HpS0, k);
        v[k].S1 = load(HpS1, k);
        v[k].S2 = load(HpS2, k);
        v[k].S3 = load(HpS3, k);
        v[k].Quiet = load(Quiet, k);
        v[k].Gain = hn::LoadU(dh, vectors[k].Gains);
    }
    const VD zero = hn::Zero(d);
    const VD one = hn::Set(d, 1.0);
    const VD limit = hn::Set(d, static_cast<double>(TWaveguideBPFilter4p::QuietLimit));
    const VD threshold = hn::Set(d, static_cast<double>(DenormalThreshold));
    alignas(64) float staged[N];

    for (int i = 0; i < n; ++i) {
        VD x[K];
        MD run[K];
        bool allRun = true;
        // Unrolled, so that the lanes' states can stay in registers.
#pragma GCC unroll 4
        for (size_t k = 0; k < K; ++k) {
            x[k] = hn::PromoteTo(d, hn::Mul(hn::Set(dh, x0[k][i]), v[k].Gain));
            const MD nonzero = hn::Ne(x[k], zero);
            run[k] = hn::Or(nonzero, hn::Lt(v[k].Quiet, limit));
            v[k].Quiet =
                hn::IfThenZeroElse(nonzero, hn::Add(v[k].Quiet, hn::IfThenElseZero(run[k], one)));
            allRun = allRun && hn::AllTrue(d, run[k]);
        }
#pragma GCC unroll 4
        for (size_t k = 0; k < K; ++k) {
            TFilterVector& s = v[k];
            const VD gx = hn::Mul(load(LpGain, k), x[k]);
            const VD b4x = hn::Mul(load(Lp4Gain, k), x[k]);
            const VD b6x = hn::Mul(load(Lp6Gain, k), x[k]);
            VD y = hn::Add(gx, s.L0);
            y = hn::IfThenZeroElse(hn::Lt(hn::Abs(y), threshold), y);
            const VD l0 = hn::Add(hn::Add(b4x, hn::Mul(load(LpA0, k), y)), s.L1);
            const VD l1 = hn::Add(hn::Add(b6x, hn::Mul(load(LpA1, k), y)), s.L2);
            const VD l2 = hn::Add(hn::Add(b4x, hn::Mul(load(LpA2, k), y)), s.L3);
            const VD l3 = hn::Add(gx, hn::Mul(load(LpA3, k), y));
            const VD hy = hn::Mul(load(HpGain, k), y);
            const VD m4y = hn::Mul(load(HpM4Gain, k), y);
            const VD h6y = hn::Mul(load(Hp6Gain, k), y);
            VD z = hn::Add(hy, s.S0);
            z = hn::IfThenZeroElse(hn::Lt(hn::Abs(z), threshold), z);
            const VD s0 = hn::Add(hn::Add(m4y, hn::Mul(load(HpA0, k), z)), s.S1);
            const VD s1 = hn::Add(hn::Add(h6y, hn::Mul(load(HpA1, k), z)), s.S2);
            const VD s2 = hn::Add(hn::Add(m4y, hn::Mul(load(HpA2, k), z)), s.S3);
            const VD s3 = hn::Add(hy, hn::Mul(load(HpA3, k), z));
            VD output = z;
            if (allRun) {
                s.L0 = l0, s.L1 = l1, s.L2 = l2, s.L3 = l3;
                s.S0 = s0, s.S1 = s1, s.S2 = s2, s.S3 = s3;
            } else {
                // A lane whose filter went quiet keeps its state and gives 0.
                const MD r = run[k];
                s.L0 = hn::IfThenElse(r, l0, s.L0), s.L1 = hn::IfThenElse(r, l1, s.L1);
                s.L2 = hn::IfThenElse(r, l2, s.L2), s.L3 = hn::IfThenElse(r, l3, s.L3);
                s.S0 = hn::IfThenElse(r, s0, s.S0), s.S1 = hn::IfThenElse(r, s1, s.S1);
                s.S2 = hn::IfThenElse(r, s2, s.S2), s.S3 = hn::IfThenElse(r, s3, s.S3);
                output = hn::IfThenElseZero(r, z);
            }
            // Each lane's outputs go to its own row, where its delay line reads them as a run.
            hn::Store(hn::DemoteTo(dh, output), dh, staged);
            float* column = out[k] + i;
#pragma GCC unroll 8
            for (size_t j = 0; j < N; ++j) {
                column[j * MaxSamples] = staged[j];
            }
        }
    }
#pragma GCC unroll 4
    for (size_t k = 0; k < K; ++k) {
        hn::Store(v[k].L0, d, at(LpS0, k));
        hn::Store(v[k].L1, d, at(LpS1, k));
        hn::Store(v[k].L2, d, at(LpS2, k));
        hn::Store(v[k].L3, d, at(LpS3, k));
        hn::Store(v[k].S0, d, at(HpS0, k));
        hn::Store(v[k].S1, d, at(HpS1, k));
        hn::Store(v[k].S2, d, at(HpS2, k));
        hn::Store(v[k].S3, d, at(HpS3, k));
        hn::Store(v[k].Quiet, d, at(Quiet, k));
    }
}

void RunFilterJobsImpl(const TFilterJob* jobs, size_t count, int n) {
    constexpr size_t N = HWY_LANES(double);
    constexpr size_t PerBlock = LaneBlock / N;
    TLaneVector vectors[FilterVectorsAtOnce];
    size_t held = 0;
    for (size_t j = 0; j < count; ++j) {
        const TFilterJob& job = jobs[j];
        for (size_t part = 0; part < PerBlock; ++part) {
            const size_t lane = part * N;
            vectors[held++] = {job.Rows + lane, job.Gains + lane, job.X0,
                               job.Out + lane * MaxSamples};
            if (held == FilterVectorsAtOnce) {
                FilterVectors<FilterVectorsAtOnce>(vectors, n);
                held = 0;
            }
        }
    }
    if (held == 1) {
        FilterVectors<1>(vectors, n);
    }
}

using DF = hn::ScalableTag<float>;

template <class D, class V = hn::Vec<D>> HWY_INLINE V Hermite(D df, V x, V ym1, V y0, V y1, V y2) {
    const V half = hn::Set(df, 0.5f);
    const V c1 = hn::Mul(half, hn::Sub(y1, ym1));
    const V c2 = hn::Sub(
        hn::Add(hn::Sub(ym1, hn::Mul(hn::Set(df, 2.5f), y0)), hn::Mul(hn::Set(df, 2.0f), y1)),
        hn::Mul(half, y2));
    const V c3 =
        hn::Add(hn::Mul(hn::Set(df, 1.5f), hn::Sub(y0, y1)), hn::Mul(half, hn::Sub(y2, ym1)));
    return hn::Add(hn::Mul(hn::Add(hn::Mul(hn::Add(hn::Mul(c3, x), c2), x), c1), x), y0);
}

// Samples k .. k + Lanes(df) - 1 of a run: read, write back with the feedback term, add to the
// output. Returns the bits of the values written, sign cleared.
template <bool Interpolated, class D>
HWY_INLINE hn::Vec<hn::RebindToUnsigned<D>>
LineStep(D df, float* HWY_RESTRICT slot, const float* HWY_RESTRICT in, const float* HWY_RESTRICT fb,
         float* HWY_RESTRICT accum, float fraction) {
    using V = hn::Vec<D>;
    V out;
    if constexpr (Interpolated) {
        out = Hermite(df, hn::Set(df, fraction), hn::LoadU(df, slot + 3), hn::LoadU(df, slot + 2),
                      hn::LoadU(df, slot + 1), hn::LoadU(df, slot));
    } else {
        out = hn::LoadU(df, slot);
    }
    const V term = hn::Mul(out, hn::LoadU(df, fb));
    const V input = hn::LoadU(df, in);
    const V value = hn::IfThenElse(hn::Gt(hn::Abs(term), hn::Set(df, DenormalThreshold)),
                                   hn::Add(input, term), input);
    hn::StoreU(value, df, slot);
    hn::StoreU(hn::Add(hn::LoadU(df, accum), out), df, accum);
    return hn::BitCast(hn::RebindToUnsigned<D>(), hn::Abs(value));
}

// One line over n samples, in runs between the ends of its ring: within a run no slot is read
// after it was written, so a run goes a vector at a time, then vectors of at most four, and
// what is left (lines shorter than that) sample by sample. An interpolated line reads the four
// slots from its position on; three mirror slots past its end copy the first three, and its
// runs are at most Size - 3 long, so that a run never reads what it wrote.
template <bool Interpolated>
HWY_INLINE bool Line(float* HWY_RESTRICT ring, int32_t size, int32_t& position, float fraction,
                     const float* HWY_RESTRICT input, const float* HWY_RESTRICT feedback,
                     float* HWY_RESTRICT output, int n) {
    const DF df;
    const hn::CappedTag<float, 4> d4;
    const int lanes = static_cast<int>(hn::Lanes(df));
    const int lanes4 = static_cast<int>(hn::Lanes(d4));
    auto written = hn::Zero(hn::RebindToUnsigned<DF>());
    auto written4 = hn::Zero(hn::RebindToUnsigned<decltype(d4)>());
    uint32_t writtenBits = 0;
    int32_t pos = position;
    for (int i = 0; i < n;) {
        int run = std::min(n - i, size - pos);
        if constexpr (Interpolated) {
            run = std::min(run, size - 3);
        }
        float* slot = ring + pos;
        const float* in = input + i;
        const float* fb = feedback + i;
        float* accum = output + i;
        int k = 0;
        for (; k + lanes <= run; k += lanes) {
            written = hn::Or(
                written, LineStep<Interpolated>(df, slot + k, in + k, fb + k, accum + k, fraction));
        }
        // Short lines (a high mode's) would otherwise go mostly sample by sample.
        for (; lanes > lanes4 && k + lanes4 <= run; k += lanes4) {
            written4 = hn::Or(written4, LineStep<Interpolated>(d4, slot + k, in + k, fb + k,
                                                               accum + k, fraction));
        }
        for (; k < run; ++k) {
            float out;
            if constexpr (Interpolated) {
                out = TWaveguideInterpolatedDelay::Hermite(fraction, slot[k + 3], slot[k + 2],
                                                           slot[k + 1], slot[k]);
            } else {
                out = slot[k];
            }
            const float term = out * fb[k];
            const float value = std::fabs(term) > DenormalThreshold ? in[k] + term : in[k];
            slot[k] = value;
            accum[k] = accum[k] + out;
            uint32_t bits;
            __builtin_memcpy(&bits, &value, sizeof bits);
            writtenBits |= bits & 0x7fffffffu;
        }
        if constexpr (Interpolated) {
            if (pos < 3) {
                ring[size] = ring[0];
                ring[size + 1] = ring[1];
                ring[size + 2] = ring[2];
            }
        }
        i += run;
        pos += run;
        if (pos == size) {
            pos = 0;
        }
    }
    position = pos;
    const hn::RebindToUnsigned<DF> du;
    const hn::RebindToUnsigned<decltype(d4)> du4;
    return writtenBits != 0 || !hn::AllTrue(du, hn::Eq(written, hn::Zero(du))) ||
           !hn::AllTrue(du4, hn::Eq(written4, hn::Zero(du4)));
}

void RunDelaysImpl(const TDelayLines& lines, const float* const* inputs, const uint8_t* skip,
                   const float* feedback, float* accum, int n, uint8_t* written) {
    for (size_t b = 0; b < lines.Count; ++b) {
        if (skip[b]) {
            written[b] = 0;
            continue;
        }
        float* ring = lines.Rings + lines.Offsets[b];
        written[b] = lines.Fractions != nullptr
                         ? Line<true>(ring, lines.Sizes[b], lines.Positions[b], lines.Fractions[b],
                                      inputs[b], feedback, accum, n)
                         : Line<false>(ring, lines.Sizes[b], lines.Positions[b], 0.0f, inputs[b],
                                       feedback, accum, n);
    }
}

constexpr uint32_t NoiseMultiplier = TExcitation::NoiseMultiplier;

bool ShapeExcitationImpl(uint32_t& state, const float* HWY_RESTRICT levels,
                         const float* HWY_RESTRICT envelopes, const float* HWY_RESTRICT distances,
                         const float* HWY_RESTRICT resonances, float* HWY_RESTRICT x0s,
                         float* HWY_RESTRICT feedbacks, int n) {
    const DD d;
    const DH dh;
    const hn::Rebind<uint32_t, DD> du;
    const hn::Rebind<int32_t, DD> di;
    constexpr int N = static_cast<int>(HWY_LANES(double));
    // Lane j follows the generator N samples at a time: s(i + N) = A^N s(i) + C_N.
    alignas(64) uint32_t start[N];
    uint32_t s = state, jumpA = 1, jumpC = 0;
    for (int j = 0; j < N; ++j) {
        s = s * NoiseMultiplier + 1u;
        start[j] = s;
        jumpA *= NoiseMultiplier;
        jumpC = jumpC * NoiseMultiplier + 1u;
    }
    auto seeds = hn::Load(du, start);
    const auto stepA = hn::Set(du, jumpA);
    const auto stepC = hn::Set(du, jumpC);
    const auto signBit = hn::Set(du, 0x80000000u);
    const VD half32 = hn::Set(d, 2147483648.0);
    const VD scale = hn::Set(d, 1.0 / 4294967296.0);
    const VD two = hn::Set(d, 2.0);
    const VD oneD = hn::Set(d, 1.0);
    const VH one = hn::Set(dh, 1.0f);
    // A pen at full pressure takes 1 % of the loop gain where it strikes, and 1 % more
    // everywhere: a pressed bar rings shorter, as a held one does.
    const VH hundredth = hn::Set(dh, 0.01f);
    const VH hundred = hn::Set(dh, 100.0f);
    auto any = hn::Zero(dh);
    int i = 0;
    for (; i + N <= n; i += N) {
        // The unsigned state as a double, exactly: (s - 2^31 as signed) + 2^31.
        const VD state =
            hn::Add(hn::PromoteTo(d, hn::BitCast(di, hn::Xor(seeds, signBit))), half32);
        const VD u = hn::Mul(state, scale);
        const VH level = hn::LoadU(dh, levels + i);
        const VH distance = hn::LoadU(dh, distances + i);
        const VD noise = hn::Mul(hn::Mul(hn::Sub(hn::Mul(two, u), oneD), hn::PromoteTo(d, level)),
                                 hn::PromoteTo(d, hn::LoadU(dh, envelopes + i)));
        const VH x0 = hn::DemoteTo(dh, hn::Mul(hn::PromoteTo(d, hn::Sub(one, distance)), noise));
        hn::StoreU(x0, dh, x0s + i);
        any = hn::Or(any, hn::VecFromMask(dh, hn::Ne(x0, hn::Zero(dh))));
        const VH damping = hn::Sub(one, hn::Mul(hn::Mul(distance, hundredth), level));
        const VH gain =
            hn::Mul(hn::Sub(one, hn::Div(level, hundred)), hn::LoadU(dh, resonances + i));
        hn::StoreU(hn::Mul(damping, gain), dh, feedbacks + i);
        seeds = hn::Add(hn::Mul(seeds, stepA), stepC);
    }
    bool anyTail = false;
    s = TExcitation::AdvanceNoise(state, static_cast<uint32_t>(i));
    for (; i < n; ++i) {
        s = s * NoiseMultiplier + 1u;
        const double u = static_cast<double>(s) * (1.0 / 4294967296.0);
        const double noise = (2.0 * u - 1.0) * levels[i] * envelopes[i];
        const float x0 = static_cast<float>((1.0f - distances[i]) * noise);
        x0s[i] = x0;
        anyTail = anyTail || x0 != 0.0f;
        feedbacks[i] = (1.0f - distances[i] * 0.01f * levels[i]) *
                       ((1.0f - levels[i] / 100.0f) * resonances[i]);
    }
    state = s;
    return anyTail || !hn::AllTrue(dh, hn::Eq(any, hn::Zero(dh)));
}

int64_t ChosenTargetImpl() {
    return HWY_TARGET;
}

} // namespace HWY_NAMESPACE
} // namespace varko::bandkernels
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace varko::bandkernels {

HWY_EXPORT(RunFilterJobsImpl);
HWY_EXPORT(RunDelaysImpl);
HWY_EXPORT(ShapeExcitationImpl);
HWY_EXPORT(ChosenTargetImpl);

void RunFilterJobs(const TFilterJob* jobs, size_t count, int n) {
    HWY_DYNAMIC_DISPATCH(RunFilterJobsImpl)(jobs, count, n);
}

void RunDelays(const TDelayLines& lines, const float* const* inputs, const uint8_t* skip,
               const float* feedback, float* accum, int n, uint8_t* written) {
    HWY_DYNAMIC_DISPATCH(RunDelaysImpl)(lines, inputs, skip, feedback, accum, n, written);
}

bool ShapeExcitation(uint32_t& state, const float* level, const float* envelope,
                     const float* distance, const float* resonance, float* x0, float* feedback,
                     int n) {
    return HWY_DYNAMIC_DISPATCH(ShapeExcitationImpl)(state, level, envelope, distance, resonance,
                                                     x0, feedback, n);
}

std::vector<int64_t> AvailableTargets() {
    std::vector<int64_t> targets;
    for (int64_t t = hwy::SupportedTargets() & HWY_TARGETS; t != 0; t &= t - 1) {
        targets.push_back(t & -t);
    }
    return targets;
}

std::string TargetName(int64_t target) {
    return hwy::TargetName(target);
}

void UseTarget(int64_t target) {
    hwy::SetSupportedTargetsForTest(target);
}

int64_t ChosenTarget() {
    return HWY_DYNAMIC_DISPATCH(ChosenTargetImpl)();
}

} // namespace varko::bandkernels
#endif
