// The filters and the delay lines of a tone's bands, each kind in structure-of-arrays form: the
// same field of every band side by side in one aligned row, so that the bands run across the
// lanes of the widest vectors the processor has.
#pragma once

#include "dsp/BandKernels.h"
#include "dsp/WaveguideBandpassFilter.h"

#include <hwy/aligned_allocator.h>

#include <cstdint>
#include <vector>

namespace varko {

class TFilterLanes {
public:
    // One lane per filter, with its coefficients and state, and its band's excitation gain.
    void Assign(const std::vector<TWaveguideBPFilter4p>& filters, const std::vector<float>& gains);

    // n <= bandkernels::MaxSamples samples of excitation X0 through every filter (Excited: some
    // X0 is not 0); band b's outputs go to Out + b * MaxSamples (room for every lane). Blocks of
    // lanes that need not run (unexcited, and every filter quiet or never excited) are skipped:
    // their outputs are all 0 and not written.
    void Run(const float* x0, bool excited, int n, float* out);
    // What Run does, as jobs for the kernel that runs several tones' filters together: adds one
    // job per block of lanes that must run to Jobs (room for BlockCount()), marks the others
    // skipped, and returns the number added.
    size_t AddJobs(const float* x0, bool excited, float* out, bandkernels::TFilterJob* jobs);
    size_t BlockCount() const { return lanes_ / bandkernels::LaneBlock; }
    // Lanes, padding included: rows of output Run needs.
    size_t LaneCount() const { return lanes_; }
    // Band b's coefficients from Filter (its state and quiet count stay): the filter moves to
    // another frequency while it rings.
    void Retune(int b, const TWaveguideBPFilter4p& filter);
    // Whether band b's filter was skipped in the last Run.
    bool Skipped(int b) const {
        return skippedBlocks_[static_cast<size_t>(b) / bandkernels::LaneBlock];
    }
    // Whether every filter was skipped in the last Run.
    bool AllSkipped() const;

private:
    double& At(size_t row, size_t lane) {
        return rows_[lane / bandkernels::LaneBlock * bandkernels::FilterBlockSize +
                     row * bandkernels::LaneBlock + lane % bandkernels::LaneBlock];
    }
    bool MayStand(size_t block) const;

    size_t bands_ = 0;
    size_t lanes_ = 0; // Bands rounded up to whole blocks
    hwy::AlignedFreeUniquePtr<double[]> rows_;
    hwy::AlignedFreeUniquePtr<float[]> gains_;
    std::vector<bool> skippedBlocks_;
    std::vector<bandkernels::TFilterJob> ownJobs_; // Run's, one per block
};

class TDelayLanes {
public:
    // One ring per band: plain lines of Sizes[b] samples (at least 2), or, with Interpolate,
    // lines of fractional length Lengths[b] (see TWaveguideInterpolatedDelay). Room (>= 1):
    // each ring keeps the samples of a line Room times longer, up to MaxLength samples, for
    // bending (RunBent).
    void Assign(const std::vector<float>& lengths, bool interpolate, float room = 1.0f,
                float maxLength = 0.0f);
    int Count() const { return static_cast<int>(sizes_.size()); }
    int32_t Size(int b) const { return sizes_[static_cast<size_t>(b)]; }

    // n samples: line b takes Inputs[b] (InputZero[b]: all 0) with loop gain Feedback[i] and
    // adds its output to Accum[i], lines in order. A line whose ring is all 0 and whose input is
    // all 0 gives 0 and stays so: it is skipped (an all-0 ring has no phase to keep).
    void Run(const float* const* inputs, const uint8_t* inputZero, const float* feedback,
             float* accum, int n);
    // Whether every ring is all 0.
    bool AllSilent() const;

    // Bent lines: each line's length is its built length divided by Ratio[i] (the tone's pitch
    // against its built one, > 0) at every sample, read with the 4-point Hermite interpolation
    // from the whole room of its ring. At a ratio of 1 a line gives what Run gives. The first
    // RunBent keeps what the rings hold; the lines stay bent until Unbend.
    void RunBent(const float* const* inputs, const uint8_t* inputZero, const float* feedback,
                 const float* ratio, float* accum, int n);
    bool Bent() const { return bentMode_; }
    // Back to Run's rings; only while AllSilent (an all-0 ring has no phase to keep).
    void Unbend();

private:
    std::vector<int32_t> sizes_;
    std::vector<int32_t> positions_;
    std::vector<float> fractions_;
    std::vector<size_t> offsets_;
    std::vector<int64_t> zeroRuns_; // zeros written since the last value that was not 0
    hwy::AlignedFreeUniquePtr<float[]> rings_;
    bool interpolated_ = false;
    std::vector<uint8_t> skip_, written_; // per line, for the kernel
    std::vector<int32_t> rooms_;          // slots of each ring, mirror slots included
    std::vector<double> builtLengths_;    // the length each line reads at a ratio of 1
    bool bentMode_ = false;
};

} // namespace varko
