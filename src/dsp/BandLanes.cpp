#include "dsp/BandLanes.h"

#include "dsp/WaveguideDelay.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace varko {

using namespace bandkernels;

void TFilterLanes::Assign(const std::vector<TWaveguideBPFilter4p>& Filters,
                          const std::vector<float>& BandGains) {
    Bands = std::min(Filters.size(), BandGains.size());
    Lanes = (Bands + LaneBlock - 1) / LaneBlock * LaneBlock;
    const size_t blocks = Lanes / LaneBlock;
    // Padding lanes are filters with no coefficients and no gain: they compute zeros.
    Rows = hwy::AllocateAligned<double>(std::max<size_t>(blocks, 1) * FilterBlockSize);
    std::fill(Rows.get(), Rows.get() + std::max<size_t>(blocks, 1) * FilterBlockSize, 0.0);
    Gains = hwy::AllocateAligned<float>(std::max<size_t>(Lanes, 1));
    std::fill(Gains.get(), Gains.get() + std::max<size_t>(Lanes, 1), 0.0f);
    for (size_t b = 0; b < Bands; ++b) {
        const TWaveguideBPFilter4p& f = Filters[b];
        At(LpGain, b) = f.LpGain;
        At(Lp4Gain, b) = f.LpB[0];
        At(Lp6Gain, b) = f.LpB[1];
        At(HpGain, b) = f.HpGain;
        At(HpM4Gain, b) = f.HpB[0];
        At(Hp6Gain, b) = f.HpB[1];
        for (size_t i = 0; i < 4; ++i) {
            At(LpA0 + i, b) = f.LpA[i];
            At(HpA0 + i, b) = f.HpA[i];
            At(LpS0 + i, b) = f.LpState[i];
            At(HpS0 + i, b) = f.HpState[i];
        }
        Gains[b] = BandGains[b];
    }
    // A filter that has never had a non-zero input may run on zeros for ever: it stays at 0.
    for (size_t b = 0; b < Lanes; ++b) {
        bool zeroState = true;
        for (size_t r = LpS0; r <= HpS3; ++r) {
            zeroState = zeroState && At(r, b) == 0.0;
        }
        At(Quiet, b) = zeroState ? -std::numeric_limits<double>::infinity() : 0.0;
    }
    SkippedBlocks.assign(blocks, false);
    OwnJobs.resize(blocks);
}

bool TFilterLanes::MayStand(size_t block) const {
    const double* quiet = Rows.get() + block * FilterBlockSize + Quiet * LaneBlock;
    for (size_t j = 0; j < LaneBlock; ++j) {
        if (quiet[j] >= 0.0 && quiet[j] < TWaveguideBPFilter4p::QuietLimit) {
            return false;
        }
    }
    return true;
}

void TFilterLanes::Run(const float* X0, bool Excited, int n, float* Out) {
    const size_t count = AddJobs(X0, Excited, Out, OwnJobs.data());
    RunFilterJobs(OwnJobs.data(), count, n);
}

size_t TFilterLanes::AddJobs(const float* X0, bool Excited, float* Out, TFilterJob* Jobs) {
    size_t count = 0;
    for (size_t block = 0; block < BlockCount(); ++block) {
        const bool skip = !Excited && MayStand(block);
        SkippedBlocks[block] = skip;
        if (!skip) {
            Jobs[count++] = {Rows.get() + block * FilterBlockSize, Gains.get() + block * LaneBlock,
                             X0, Out + block * LaneBlock * MaxSamples};
        }
    }
    return count;
}

bool TFilterLanes::AllSkipped() const {
    return std::all_of(SkippedBlocks.begin(), SkippedBlocks.end(), [](bool s) { return s; });
}

void TDelayLanes::Assign(const std::vector<float>& Lengths, bool Interpolate) {
    Interpolated = Interpolate;
    const size_t count = Lengths.size();
    Sizes.resize(count);
    Fractions.assign(count, 0.0f);
    Positions.assign(count, 0);
    Offsets.resize(count);
    // Each ring starts on a cache line, with three mirror slots past its end.
    constexpr size_t Align = 16;
    size_t total = 0;
    for (size_t b = 0; b < count; ++b) {
        if (Interpolate) {
            const TWaveguideInterpolatedDelay::TLength length =
                TWaveguideInterpolatedDelay::SplitLength(Lengths[b]);
            Sizes[b] = length.Whole + 2;
            Fractions[b] = length.Fraction;
        } else {
            Sizes[b] = WholeSampleLength(Lengths[b]);
        }
        Offsets[b] = total;
        total += (static_cast<size_t>(Sizes[b]) + 3 + Align - 1) / Align * Align;
    }
    Rings = hwy::AllocateAligned<float>(std::max<size_t>(total, 1));
    std::fill(Rings.get(), Rings.get() + std::max<size_t>(total, 1), 0.0f);
    ZeroRuns.assign(Sizes.begin(), Sizes.end());
    Skip.assign(count, 0);
    Written.assign(count, 0);
}

void TDelayLanes::Run(const float* const* Inputs, const uint8_t* InputZero, const float* Feedback,
                      float* Accum, int n) {
    const size_t count = Sizes.size();
    for (size_t b = 0; b < count; ++b) {
        Skip[b] = InputZero[b] && ZeroRuns[b] >= Sizes[b];
    }
    TDelayLines lines;
    lines.Rings = Rings.get();
    lines.Offsets = Offsets.data();
    lines.Sizes = Sizes.data();
    lines.Positions = Positions.data();
    lines.Fractions = Interpolated ? Fractions.data() : nullptr;
    lines.Count = count;
    RunDelays(lines, Inputs, Skip.data(), Feedback, Accum, n, Written.data());
    for (size_t b = 0; b < count; ++b) {
        // A block that wrote anything not 0 may have left it anywhere in the ring.
        ZeroRuns[b] = Written[b] ? 0 : std::min<int64_t>(ZeroRuns[b] + n, INT32_MAX);
    }
}

bool TDelayLanes::AllSilent() const {
    for (size_t b = 0; b < Sizes.size(); ++b) {
        if (ZeroRuns[b] < Sizes[b]) {
            return false;
        }
    }
    return true;
}

} // namespace varko
