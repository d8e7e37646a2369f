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

void TFilterLanes::Retune(int b, const TWaveguideBPFilter4p& f) {
    const auto lane = static_cast<size_t>(b);
    At(LpGain, lane) = f.LpGain;
    At(Lp4Gain, lane) = f.LpB[0];
    At(Lp6Gain, lane) = f.LpB[1];
    At(HpGain, lane) = f.HpGain;
    At(HpM4Gain, lane) = f.HpB[0];
    At(Hp6Gain, lane) = f.HpB[1];
    for (size_t i = 0; i < 4; ++i) {
        At(LpA0 + i, lane) = f.LpA[i];
        At(HpA0 + i, lane) = f.HpA[i];
    }
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

void TDelayLanes::Assign(const std::vector<float>& Lengths, bool Interpolate, float Room,
                         float MaxLength) {
    Interpolated = Interpolate;
    BentMode = false;
    const size_t count = Lengths.size();
    Sizes.resize(count);
    Rooms.resize(count);
    BuiltLengths.resize(count);
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
        BuiltLengths[b] = Interpolate ? static_cast<double>(Sizes[b] - 2) + Fractions[b]
                                      : static_cast<double>(Sizes[b]);
        // A bent line reads up to 3 samples beyond its length.
        const double longest = std::min(static_cast<double>(Lengths[b]) * std::max(Room, 1.0f),
                                        static_cast<double>(MaxLength));
        Rooms[b] = std::max(Sizes[b] + 3, static_cast<int32_t>(std::ceil(longest)) + 4);
        Offsets[b] = total;
        total += (static_cast<size_t>(Rooms[b]) + Align - 1) / Align * Align;
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
    const std::vector<int32_t>& filled = BentMode ? Rooms : Sizes;
    for (size_t b = 0; b < Sizes.size(); ++b) {
        if (ZeroRuns[b] < filled[b]) {
            return false;
        }
    }
    return true;
}

void TDelayLanes::RunBent(const float* const* Inputs, const uint8_t* InputZero,
                          const float* Feedback, const float* Ratio, float* Accum, int n) {
    const size_t count = Sizes.size();
    if (!BentMode) {
        // Run's ring (oldest sample at Positions[b], Sizes[b] slots) becomes the tail of the
        // room, so that the sample j ticks old is at Positions[b] - j, wrapped at the room.
        for (size_t b = 0; b < count; ++b) {
            float* ring = Rings.get() + Offsets[b];
            const int32_t pos = Positions[b], size = Sizes[b], room = Rooms[b];
            std::copy_backward(ring + pos, ring + size, ring + room);
            std::fill(ring + pos, ring + pos + (room - size), 0.0f);
            if (ZeroRuns[b] >= size) {
                ZeroRuns[b] = room; // it was all 0, and so is all of the room now
            }
        }
        BentMode = true;
    }
    for (size_t b = 0; b < count; ++b) {
        const int32_t room = Rooms[b];
        if (InputZero[b] && ZeroRuns[b] >= room) {
            continue;
        }
        float* ring = Rings.get() + Offsets[b];
        const float* in = Inputs[b];
        const double built = BuiltLengths[b];
        // Hermite reads the samples whole - 1 .. whole + 2 ticks old, the newest one tick old.
        const double shortest = 2.0, longest = room - 3;
        int32_t w = Positions[b];
        uint32_t writtenBits = 0;
        auto at = [&](int32_t age) {
            const int32_t i = w - age;
            return ring[i < 0 ? i + room : i];
        };
        for (int i = 0; i < n; ++i) {
            const double length = std::clamp(built / Ratio[i], shortest, longest);
            const auto whole = static_cast<int32_t>(length);
            const auto fraction = static_cast<float>(length - whole);
            const float out = TWaveguideInterpolatedDelay::Hermite(
                fraction, at(whole - 1), at(whole), at(whole + 1), at(whole + 2));
            const float term = out * Feedback[i];
            const float value = std::fabs(term) > DenormalThreshold ? in[i] + term : in[i];
            ring[w] = value;
            Accum[i] = Accum[i] + out;
            uint32_t bits;
            __builtin_memcpy(&bits, &value, sizeof bits);
            writtenBits |= bits & 0x7fffffffu;
            w = w + 1 == room ? 0 : w + 1;
        }
        Positions[b] = w;
        ZeroRuns[b] = writtenBits != 0 ? 0 : std::min<int64_t>(ZeroRuns[b] + n, INT32_MAX);
    }
}

void TDelayLanes::Unbend() {
    if (!BentMode || !AllSilent()) {
        return;
    }
    for (size_t b = 0; b < Sizes.size(); ++b) {
        std::fill(Rings.get() + Offsets[b], Rings.get() + Offsets[b] + Rooms[b], 0.0f);
        Positions[b] = 0;
        ZeroRuns[b] = Sizes[b];
    }
    BentMode = false;
}

} // namespace varko
