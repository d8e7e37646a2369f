// The excitation of one tone: noise shaped by the pen's pressure, the speed of its movement
// and where it strikes the bar, and the loop gain the pressure leaves the tone's bands.
#pragma once

#include <atomic>
#include <cstdint>

namespace varko {

// What the playing code writes while a tone sounds; read at every sample (relaxed atomics).
struct TWaveguidePlaying {
    std::atomic<float> StrikePosition{0.0f}; // 0 top of the bar .. 1 bottom
    std::atomic<float> Pressure{0.0f};       // 0 none .. 1 full
    std::atomic<float> Speed{0.0f};          // movement since the last event, fraction of extent
    std::atomic<float> Resonance{0.0f};      // base loop gain of every band, 0 .. below 1
};

class TExcitation {
public:
    // Highest sample rate with rate-scaled ramps; above it (or at 0) the ramps are shortest.
    static constexpr float MaxSampleRate = 768000.0f;

    // Silent state for SampleRate in hertz; EndType 2 (one end fixed) or 3 (hinged) weights the
    // strike position, any other value does not; Seed starts the noise generator.
    void Reset(float SampleRate, int32_t EndType, uint32_t Seed);

    // n samples: X0 (noise times level, envelope and strike weighting, before the band gains)
    // and the lines' loop gain per sample. Returns false if every X0 is 0.
    bool Render(const TWaveguidePlaying& In, float* X0, float* Feedback, int n);

    // Next noise value in [0, 1): the 32-bit linear congruential generator s * 134775813 + 1.
    double NextNoise() {
        NoiseState = NoiseState * 134775813u + 1u;
        return static_cast<double>(NoiseState) * (1.0 / 4294967296.0);
    }

    uint32_t NoiseState = 0;

    // The strike position where the weighting is 1, and how fast it falls away from there:
    // weight = 1 - |position - StrikeCentre| * StrikeFalloff.
    float StrikeCentre = 0.5f;
    float StrikeFalloff = 0.0f;

    // The pressure follower: Level moves to LevelTarget in RampLength equal steps (a new
    // pressure restarts the ramp from where Level stands).
    float Level = 0.0f;
    float LevelTarget = 0.0f;
    float LevelStep = 0.0f;
    float RampLengthReciprocal = 1.0f;
    int32_t RampPosition = 0;
    int32_t RampLength = 1;

    // The strike envelope: a new speed restarts it; it rises linearly to the speed over half of
    // EnvelopeLength, then falls linearly to exactly 0 at EnvelopeLength.
    float Envelope = 0.0f;
    float EnvelopeTarget = 0.0f;
    float EnvelopeStep = 0.0f;
    float HalfEnvelopeReciprocal = 0.5f;
    int32_t EnvelopePosition = 0;
    int32_t EnvelopeLength = 2;
    bool EnvelopeFalling = false; // the fall's step has been taken from the peak
};

} // namespace varko
