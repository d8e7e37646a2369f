// The vector loops of a tone's band bank, compiled once per processor family (plain, SSSE3,
// SSE4, AVX2, AVX-512) and chosen at run time for the processor in use. Every family gives
// bit for bit the results of the per-sample formulas: the same operations in the same order,
// never a fused multiply-add.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace varko::bandkernels {

// The filter lanes come in blocks of LaneBlock lanes (one 512-bit register of doubles); a block
// is FilterRowCount rows of LaneBlock doubles, one value per lane in each row. The numerators
// are g0 (1, 4, 6, 4, 1) and h0 (1, -4, 6, -4, 1), so each distinct product with a section's
// input is formed once.
inline constexpr size_t LaneBlock = 8;
enum TFilterRow : size_t {
    LpGain,  // g0 (also b4)
    Lp4Gain, // b1 = b3 = 4 g0
    Lp6Gain, // b2 = 6 g0
    LpA0,    // -a1 .. -a4
    LpA1,
    LpA2,
    LpA3,
    HpGain,   // h0 (also b4)
    HpM4Gain, // b1 = b3 = -4 h0
    Hp6Gain,  // b2 = 6 h0
    HpA0,     // -a'1 .. -a'4
    HpA1,
    HpA2,
    HpA3,
    LpS0, // low-pass state s1 .. s4
    LpS1,
    LpS2,
    LpS3,
    HpS0, // high-pass state s'1 .. s'4
    HpS1,
    HpS2,
    HpS3,
    // Consecutive zero inputs; -infinity for a lane whose filter has never had a non-zero input
    // (its state is all zero, so running it on zeros changes nothing and it may always run).
    Quiet,
    FilterRowCount
};
inline constexpr size_t FilterBlockSize = FilterRowCount * LaneBlock;

// Samples per call at most, and the distance between two lanes' outputs.
inline constexpr int MaxSamples = 256;

// One block of filter lanes to run: its rows (FilterBlockSize doubles), its LaneBlock gains,
// the excitation X0 of its tone and where its lanes' outputs go (lane j at Out + j *
// MaxSamples). Blocks of several tones run together, so that independent lanes fill the
// pipeline while each filter's recursion waits.
struct TFilterJob {
    double* Rows = nullptr;
    const float* Gains = nullptr;
    const float* X0 = nullptr;
    float* Out = nullptr;
};

// The filters of Count blocks over n <= MaxSamples samples: lane b's input is X0[i] * Gains[b];
// a zero input runs the filter only while its Quiet count is below QuietLimit (otherwise the
// output is 0 and the state is kept). Each lane gives the same samples whichever blocks share
// the call.
void RunFilterJobs(const TFilterJob* jobs, size_t count, int n);

// The delay lines of a tone, one ring each in Rings (aligned, at Offsets[b]), over n samples:
// line b takes Input(b)[i] with loop gain Feedback[i] and adds its output to Accum[i], lines in
// order. Lines whose Skip[b] is set are left alone. Sets Written[b] to whether line b wrote a
// non-zero value. Interpolated lines (Fractions given) keep three mirror slots past Sizes[b].
struct TDelayLines {
    float* Rings = nullptr;
    const size_t* Offsets = nullptr;
    const int32_t* Sizes = nullptr;
    int32_t* Positions = nullptr;
    const float* Fractions = nullptr; // null: plain lines
    size_t Count = 0;
};
void RunDelays(const TDelayLines& lines, const float* const* inputs, const uint8_t* skip,
               const float* feedback, float* accum, int n, uint8_t* written);

// The excitation's noise stage over n samples: advances the 32-bit linear congruential
// generator in State n times; X0[i] = (1 - Distance[i]) * (2u - 1) * Level[i] * Envelope[i] as
// a float, Feedback[i] = (1 - Distance[i] * 0.01 * Level[i]) * ((1 - Level[i] / 100) *
// Resonance[i]). Returns whether any X0 is not 0.
bool ShapeExcitation(uint32_t& state, const float* level, const float* envelope,
                     const float* distance, const float* resonance, float* x0, float* feedback,
                     int n);

// For the tests and benchmarks: the processor families compiled here that this processor runs
// (as Highway target bits, best first), their names, and a restriction of the choice to one of
// them (0: the best again). Not for use while another thread renders.
std::vector<int64_t> AvailableTargets();
std::string TargetName(int64_t target);
void UseTarget(int64_t target);
// The family the dispatch picks now.
int64_t ChosenTarget();

} // namespace varko::bandkernels
