// The bands of one tone: one band-pass filter feeding one delay line per vibration mode, all
// driven by the tone's excitation and summed into its output. No threads: the oscillator thread,
// the tests and the benchmarks drive it alike.
#pragma once

#include "dsp/BandLanes.h"
#include "dsp/Excitation.h"
#include "dsp/WaveguideBandpassFilter.h"
#include "dsp/WaveguideDelay.h"

#include <hwy/aligned_allocator.h>

#include <cstdint>
#include <span>
#include <vector>

namespace varko {

class TWaveguideBands {
public:
    // Longest piece a block is rendered in; longer requests are rendered in pieces.
    static constexpr int MaxChunk = bandkernels::MaxSamples;
    // Widest ring a band may get, in seconds of samples: longer bands are not built.
    static constexpr float MaxDelaySeconds = 1.0f;
    // Highest sample rate at which bands are built (bounds memory whatever the host says).
    static constexpr float MaxSampleRate = TExcitation::MaxSampleRate;

    // Frequency, SampleRate in hertz; EndType weights the strike position;
    // Ratios: mode frequencies / Frequency, in build order; Gains: excitation gain per mode;
    // Resonance: unused (every sample brings its loop gain); Seed: the noise generator's start;
    // BendRoom (>= 1): how far below its built pitch the tone may be bent, as a frequency
    // ratio (the rings keep that much more, up to MaxDelaySeconds).
    // Bands stop at the first mode above half the rate; modes that are not positive and finite,
    // or whose line would be longer than MaxDelaySeconds, get no band.
    void Build(float frequency, float sampleRate, TEndType endType, bool interpolate,
               const std::vector<float>& ratios, const std::vector<float>& gains, float resonance,
               uint32_t seed, float bendRoom = 1.0f);

    // The most a tone is bent up, as a frequency ratio (four octaves: an MPE member channel's
    // whole default range). Modes bent past 0.45 of the rate stay there.
    static constexpr float MaxBendUp = 16.0f;
    // How fast the sounding pitch follows the Pitch played, in seconds (a one-pole glide): bend
    // messages come in steps a few milliseconds apart.
    static constexpr float BendGlideSeconds = 0.004f;
    // The sounding pitch against the built one (1: unbent), and whether the bands still render
    // bent (until they fall silent at pitch 1).
    float SoundingPitch() const { return pitch_; }
    bool Bent() const { return delayLanes_.Bent(); }

    int BandCount() const { return static_cast<int>(Filters.size()); }
    // Samples in band b's delay ring.
    int32_t DelaySize(int b) const { return delayLanes_.Size(b); }

    // Renders n samples (any n >= 0) into Out, reading the playing values at every sample. A
    // tone whose bands have all gone quiet and silent costs one check per block while nothing
    // excites it.
    void RenderBlock(const TWaveguidePlaying& in, float* out, int n);

    // Most tones RenderTogether takes at once.
    static constexpr size_t MaxTogether = 8;
    // n samples of each of up to MaxTogether tones (Bands[t] played by In[t] into Out[t]), their
    // filters' lanes running side by side in the vector registers: the same samples as
    // RenderBlock of each.
    static void RenderTogether(std::span<TWaveguideBands* const> bands,
                               std::span<const TWaveguidePlaying* const> in, float* const* out,
                               int n);

    TExcitation Excitation;
    // Each band's filter as designed (frequency, coefficients); the filters run in the lanes.
    std::vector<TWaveguideBPFilter4p> Filters;

private:
    TFilterLanes filterLanes_;
    TDelayLanes delayLanes_;
    std::vector<float> x0Buf_, fbBuf_, zeros_;
    hwy::AlignedFreeUniquePtr<float[]> bandOut_; // band b's filter outputs at b * MaxChunk
    std::vector<const float*> lineInputs_;
    std::vector<uint8_t> lineInputZero_;
    bool silent_ = true; // after the last block: every filter skipped, every ring all 0

    // A tone played away from its built pitch renders alone: its lines at a length that
    // changes with every sample, its filters retuned every BendStep samples.
    static constexpr int BendStep = 32;
    void RenderBent(const TWaveguidePlaying& in, float* out, int n);
    void RetuneFilters(float ratio);
    float pitch_ = 1.0f;      // the sounding pitch, gliding to the played one
    float tunedPitch_ = 1.0f; // the pitch the filters are tuned to
    float bendRoom_ = 1.0f;
    float bendGlide_ = 1.0f; // the glide's step per sample
    float builtRate_ = 0.0f;
    std::vector<float> pitchBuf_;
};

} // namespace varko
