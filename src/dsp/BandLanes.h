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
    void Assign(const std::vector<TWaveguideBPFilter4p>& Filters, const std::vector<float>& Gains);

    // n <= bandkernels::MaxSamples samples of excitation X0 through every filter (Excited: some
    // X0 is not 0); band b's outputs go to Out + b * MaxSamples (room for every lane). Blocks of
    // lanes that need not run (unexcited, and every filter quiet or never excited) are skipped:
    // their outputs are all 0 and not written.
    void Run(const float* X0, bool Excited, int n, float* Out);
    // What Run does, as jobs for the kernel that runs several tones' filters together: adds one
    // job per block of lanes that must run to Jobs (room for BlockCount()), marks the others
    // skipped, and returns the number added.
    size_t AddJobs(const float* X0, bool Excited, float* Out, bandkernels::TFilterJob* Jobs);
    size_t BlockCount() const { return Lanes / bandkernels::LaneBlock; }
    // Lanes, padding included: rows of output Run needs.
    size_t LaneCount() const { return Lanes; }
    // Band b's coefficients from Filter (its state and quiet count stay): the filter moves to
    // another frequency while it rings.
    void Retune(int b, const TWaveguideBPFilter4p& Filter);
    // Whether band b's filter was skipped in the last Run.
    bool Skipped(int b) const {
        return SkippedBlocks[static_cast<size_t>(b) / bandkernels::LaneBlock];
    }
    // Whether every filter was skipped in the last Run.
    bool AllSkipped() const;

private:
    double& At(size_t row, size_t lane) {
        return Rows[lane / bandkernels::LaneBlock * bandkernels::FilterBlockSize +
                    row * bandkernels::LaneBlock + lane % bandkernels::LaneBlock];
    }
    bool MayStand(size_t block) const;

    size_t Bands = 0;
    size_t Lanes = 0; // Bands rounded up to whole blocks
    hwy::AlignedFreeUniquePtr<double[]> Rows;
    hwy::AlignedFreeUniquePtr<float[]> Gains;
    std::vector<bool> SkippedBlocks;
    std::vector<bandkernels::TFilterJob> OwnJobs; // Run's, one per block
};

class TDelayLanes {
public:
    // One ring per band: plain lines of Sizes[b] samples (at least 2), or, with Interpolate,
    // lines of fractional length Lengths[b] (see TWaveguideInterpolatedDelay). Room (>= 1):
    // each ring keeps the samples of a line Room times longer, up to MaxLength samples, for
    // bending (RunBent).
    void Assign(const std::vector<float>& Lengths, bool Interpolate, float Room = 1.0f,
                float MaxLength = 0.0f);
    int Count() const { return static_cast<int>(Sizes.size()); }
    int32_t Size(int b) const { return Sizes[static_cast<size_t>(b)]; }

    // n samples: line b takes Inputs[b] (InputZero[b]: all 0) with loop gain Feedback[i] and
    // adds its output to Accum[i], lines in order. A line whose ring is all 0 and whose input is
    // all 0 gives 0 and stays so: it is skipped (an all-0 ring has no phase to keep).
    void Run(const float* const* Inputs, const uint8_t* InputZero, const float* Feedback,
             float* Accum, int n);
    // Whether every ring is all 0.
    bool AllSilent() const;

    // Bent lines: each line's length is its built length divided by Ratio[i] (the tone's pitch
    // against its built one, > 0) at every sample, read with the 4-point Hermite interpolation
    // from the whole room of its ring. At a ratio of 1 a line gives what Run gives. The first
    // RunBent keeps what the rings hold; the lines stay bent until Unbend.
    void RunBent(const float* const* Inputs, const uint8_t* InputZero, const float* Feedback,
                 const float* Ratio, float* Accum, int n);
    bool Bent() const { return BentMode; }
    // Back to Run's rings; only while AllSilent (an all-0 ring has no phase to keep).
    void Unbend();

private:
    std::vector<int32_t> Sizes;
    std::vector<int32_t> Positions;
    std::vector<float> Fractions;
    std::vector<size_t> Offsets;
    std::vector<int64_t> ZeroRuns; // zeros written since the last value that was not 0
    hwy::AlignedFreeUniquePtr<float[]> Rings;
    bool Interpolated = false;
    std::vector<uint8_t> Skip, Written; // per line, for the kernel
    std::vector<int32_t> Rooms;         // slots of each ring, mirror slots included
    std::vector<double> BuiltLengths;   // the length each line reads at a ratio of 1
    bool BentMode = false;
};

} // namespace varko
