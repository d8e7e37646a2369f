#include "dsp/BandLanes.h"

#include "dsp/WaveguideDelay.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace varko {

using namespace bandkernels;

void TFilterLanes::Assign(const std::vector<TWaveguideBPFilter4p>& filters,
                          const std::vector<float>& bandGains) {
    bands_ = std::min(filters.size(), bandGains.size());
    lanes_ = (bands_ + LaneBlock - 1) / LaneBlock * LaneBlock;
    const size_t blocks = lanes_ / LaneBlock;
    // Padding lanes are filters with no coefficients and no gain: they compute zeros.
    rows_ = hwy::AllocateAligned<double>(std::max<size_t>(blocks, 1) * FilterBlockSize);
    std::fill(rows_.get(), rows_.get() + std::max<size_t>(blocks, 1) * FilterBlockSize, 0.0);
    gains_ = hwy::AllocateAligned<float>(std::max<size_t>(lanes_, 1));
    std::fill(gains_.get(), gains_.get() + std::max<size_t>(lanes_, 1), 0.0f);
    for (size_t b = 0; b < bands_; ++b) {
        const TWaveguideBPFilter4p& f = filters[b];
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
        gains_[b] = bandGains[b];
    }
    // A filter that has never had a non-zero input may run on zeros for ever: it stays at 0.
    for (size_t b = 0; b < lanes_; ++b) {
        bool zeroState = true;
        for (size_t r = LpS0; r <= HpS3; ++r) {
            zeroState = zeroState && At(r, b) == 0.0;
        }
        At(Quiet, b) = zeroState ? -std::numeric_limits<double>::infinity() : 0.0;
    }
    skippedBlocks_.assign(blocks, false);
    ownJobs_.resize(blocks);
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
    const double* quiet = rows_.get() + block * FilterBlockSize + Quiet * LaneBlock;
    for (size_t j = 0; j < LaneBlock; ++j) {
        if (quiet[j] >= 0.0 && quiet[j] < TWaveguideBPFilter4p::QuietLimit) {
            return false;
        }
    }
    return true;
}

void TFilterLanes::Run(const float* x0, bool excited, int n, float* out) {
    const size_t count = AddJobs(x0, excited, out, ownJobs_.data());
    RunFilterJobs(ownJobs_.data(), count, n);
}

size_t TFilterLanes::AddJobs(const float* x0, bool excited, float* out, TFilterJob* jobs) {
    size_t count = 0;
    for (size_t block = 0; block < BlockCount(); ++block) {
        const bool skip = !excited && MayStand(block);
        skippedBlocks_[block] = skip;
        if (!skip) {
            jobs[count++] = {rows_.get() + block * FilterBlockSize,
                             gains_.get() + block * LaneBlock, x0,
                             out + block * LaneBlock * MaxSamples};
        }
    }
    return count;
}

bool TFilterLanes::AllSkipped() const {
    return std::all_of(skippedBlocks_.begin(), skippedBlocks_.end(), [](bool s) { return s; });
}

void TDelayLanes::Assign(const std::vector<float>& lengths, bool interpolate, float room,
                         float maxLength) {
    interpolated_ = interpolate;
    bentMode_ = false;
    const size_t count = lengths.size();
    sizes_.resize(count);
    rooms_.resize(count);
    builtLengths_.resize(count);
    fractions_.assign(count, 0.0f);
    positions_.assign(count, 0);
    offsets_.resize(count);
    // Each ring starts on a cache line, with three mirror slots past its end.
    constexpr size_t Align = 16;
    size_t total = 0;
    for (size_t b = 0; b < count; ++b) {
        if (interpolate) {
            const TWaveguideInterpolatedDelay::TLength length =
                TWaveguideInterpolatedDelay::SplitLength(lengths[b]);
            sizes_[b] = length.Whole + 2;
            fractions_[b] = length.Fraction;
        } else {
            sizes_[b] = WholeSampleLength(lengths[b]);
        }
        builtLengths_[b] = interpolate ? static_cast<double>(sizes_[b] - 2) + fractions_[b]
                                       : static_cast<double>(sizes_[b]);
        // A bent line reads up to 3 samples beyond its length.
        const double longest = std::min(static_cast<double>(lengths[b]) * std::max(room, 1.0f),
                                        static_cast<double>(maxLength));
        rooms_[b] = std::max(sizes_[b] + 3, static_cast<int32_t>(std::ceil(longest)) + 4);
        offsets_[b] = total;
        total += (static_cast<size_t>(rooms_[b]) + Align - 1) / Align * Align;
    }
    rings_ = hwy::AllocateAligned<float>(std::max<size_t>(total, 1));
    std::fill(rings_.get(), rings_.get() + std::max<size_t>(total, 1), 0.0f);
    zeroRuns_.assign(sizes_.begin(), sizes_.end());
    skip_.assign(count, 0);
    written_.assign(count, 0);
}

void TDelayLanes::Run(const float* const* inputs, const uint8_t* inputZero, const float* feedback,
                      float* accum, int n) {
    const size_t count = sizes_.size();
    for (size_t b = 0; b < count; ++b) {
        skip_[b] = inputZero[b] && zeroRuns_[b] >= sizes_[b];
    }
    TDelayLines lines;
    lines.Rings = rings_.get();
    lines.Offsets = offsets_.data();
    lines.Sizes = sizes_.data();
    lines.Positions = positions_.data();
    lines.Fractions = interpolated_ ? fractions_.data() : nullptr;
    lines.Count = count;
    RunDelays(lines, inputs, skip_.data(), feedback, accum, n, written_.data());
    for (size_t b = 0; b < count; ++b) {
        // A block that wrote anything not 0 may have left it anywhere in the ring.
        zeroRuns_[b] = written_[b] ? 0 : std::min<int64_t>(zeroRuns_[b] + n, INT32_MAX);
    }
}

bool TDelayLanes::AllSilent() const {
    const std::vector<int32_t>& filled = bentMode_ ? rooms_ : sizes_;
    for (size_t b = 0; b < sizes_.size(); ++b) {
        if (zeroRuns_[b] < filled[b]) {
            return false;
        }
    }
    return true;
}

void TDelayLanes::RunBent(const float* const* inputs, const uint8_t* inputZero,
                          const float* feedback, const float* ratio, float* accum, int n) {
    const size_t count = sizes_.size();
    if (!bentMode_) {
        // Run's ring (oldest sample at Positions[b], Sizes[b] slots) becomes the tail of the
        // room, so that the sample j ticks old is at Positions[b] - j, wrapped at the room.
        for (size_t b = 0; b < count; ++b) {
            float* ring = rings_.get() + offsets_[b];
            const int32_t pos = positions_[b], size = sizes_[b], room = rooms_[b];
            std::copy_backward(ring + pos, ring + size, ring + room);
            std::fill(ring + pos, ring + pos + (room - size), 0.0f);
            if (zeroRuns_[b] >= size) {
                zeroRuns_[b] = room; // it was all 0, and so is all of the room now
            }
        }
        bentMode_ = true;
    }
    for (size_t b = 0; b < count; ++b) {
        const int32_t room = rooms_[b];
        if (inputZero[b] && zeroRuns_[b] >= room) {
            continue;
        }
        float* ring = rings_.get() + offsets_[b];
        const float* in = inputs[b];
        const double built = builtLengths_[b];
        // Hermite reads the samples whole - 1 .. whole + 2 ticks old, the newest one tick old.
        const double shortest = 2.0, longest = room - 3;
        int32_t w = positions_[b];
        uint32_t writtenBits = 0;
        auto at = [&](int32_t age) {
            const int32_t i = w - age;
            return ring[i < 0 ? i + room : i];
        };
        for (int i = 0; i < n; ++i) {
            const double length = std::clamp(built / ratio[i], shortest, longest);
            const auto whole = static_cast<int32_t>(length);
            const auto fraction = static_cast<float>(length - whole);
            const float out = TWaveguideInterpolatedDelay::Hermite(
                fraction, at(whole - 1), at(whole), at(whole + 1), at(whole + 2));
            const float term = out * feedback[i];
            const float value = std::fabs(term) > DenormalThreshold ? in[i] + term : in[i];
            ring[w] = value;
            accum[i] = accum[i] + out;
            uint32_t bits;
            __builtin_memcpy(&bits, &value, sizeof bits);
            writtenBits |= bits & 0x7fffffffu;
            w = w + 1 == room ? 0 : w + 1;
        }
        positions_[b] = w;
        zeroRuns_[b] = writtenBits != 0 ? 0 : std::min<int64_t>(zeroRuns_[b] + n, INT32_MAX);
    }
}

void TDelayLanes::Unbend() {
    if (!bentMode_ || !AllSilent()) {
        return;
    }
    for (size_t b = 0; b < sizes_.size(); ++b) {
        std::fill(rings_.get() + offsets_[b], rings_.get() + offsets_[b] + rooms_[b], 0.0f);
        positions_[b] = 0;
        zeroRuns_[b] = sizes_[b];
    }
    bentMode_ = false;
}

} // namespace varko
