// The excitation of one tone: noise shaped by the pen's pressure, the speed of its movement
// and where it strikes the bar, and the loop gain the pressure leaves the tone's bands.
#pragma once

#include "dsp/EndType.h"

#include <atomic>
#include <cstdint>

namespace varko {

// What the playing code writes while a tone sounds; read at every sample (relaxed atomics).
struct TWaveguidePlaying {
    std::atomic<float> StrikePosition{0.0f}; // 0 top of the bar .. 1 bottom
    std::atomic<float> Pressure{0.0f};       // 0 none .. 1 full
    std::atomic<float> Speed{0.0f};          // movement since the last event, fraction of extent
    std::atomic<float> Resonance{0.0f};      // base loop gain of every band, 0 .. below 1
    // The tone's pitch against the one it was built at (1: unbent), from 1 / the bend room the
    // bands were built with up to MaxBendUp; every mode moves by it together.
    std::atomic<float> Pitch{1.0f};
};

class TExcitation {
public:
    // Highest sample rate with rate-scaled ramps; above it (or at 0) the ramps are shortest.
    static constexpr float MaxSampleRate = 768000.0f;

    // Silent state for SampleRate in hertz; one end fixed or both hinged weights the
    // strike position, any other value does not; Seed starts the noise generator.
    void Reset(float sampleRate, TEndType endType, uint32_t seed);

    // n samples: X0 (noise times level, envelope and strike weighting, before the band gains)
    // and the lines' loop gain per sample. Returns false if every X0 is 0.
    bool Render(const TWaveguidePlaying& in, float* x0, float* feedback, int n);

    // Advances n samples without output when no pressure is on or ramping, so that every X0
    // would be 0; returns false (and changes nothing) otherwise. Reads the playing values once.
    bool SkipQuiet(const TWaveguidePlaying& in, int n);

    static constexpr uint32_t NoiseMultiplier = 134775813u;

    // Next noise value in [0, 1): the 32-bit linear congruential generator s * 134775813 + 1.
    double NextNoise() {
        NoiseState = NoiseState * NoiseMultiplier + 1u;
        return static_cast<double>(NoiseState) * (1.0 / 4294967296.0);
    }

    // The generator's state Steps values after State, in log2(Steps) steps.
    static uint32_t AdvanceNoise(uint32_t state, uint32_t steps) {
        uint32_t a = NoiseMultiplier, c = 1u, totalA = 1u, totalC = 0u;
        for (; steps != 0; steps >>= 1) {
            if (steps & 1u) {
                totalA *= a;
                totalC = totalC * a + c;
            }
            c = (a + 1u) * c;
            a *= a;
        }
        return totalA * state + totalC;
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

private:
    // Samples per pass: the sequential state goes into these rows first, then the noise stage
    // computes the samples from them a vector at a time.
    static constexpr int Chunk = 256;

    // Whether a block with these playing values gives X0 = 0 throughout (and loop gain
    // Resonance): no pressure on or ramping, and nothing that would turn 0 into not-a-number.
    bool Quiet(float pressure, float speed, float strike) const;
    // The followers as locals while a block runs: loads of the playing values (atomics) would
    // otherwise keep the compiler from holding any member in a register.
    struct TFollowers {
        float Level, LevelTarget, LevelStep, RampLengthReciprocal;
        int32_t RampPosition, RampLength;
        float Envelope, EnvelopeTarget, EnvelopeStep, HalfEnvelopeReciprocal;
        float HalfEnvelope; // EnvelopeLength / 2
        int32_t EnvelopePosition, EnvelopeLength;
        bool EnvelopeFalling;

        void FollowPressure(float pressure) {
            if (LevelTarget != pressure) {
                LevelTarget = pressure;
                LevelStep = (LevelTarget - Level) * RampLengthReciprocal;
                RampPosition = 0;
            }
            if (Level != LevelTarget) {
                if (RampPosition >= RampLength) {
                    Level = LevelTarget;
                } else {
                    Level = Level + LevelStep;
                    ++RampPosition;
                }
            }
        }
        void FollowSpeed(float speed) {
            if (speed != EnvelopeTarget) {
                EnvelopeTarget = speed;
                EnvelopeStep = (EnvelopeTarget - Envelope) * HalfEnvelopeReciprocal;
                EnvelopePosition = 0;
                EnvelopeFalling = false;
            }
        }
        void StepEnvelope() {
            if (static_cast<float>(EnvelopePosition) < HalfEnvelope) {
                Envelope = Envelope + EnvelopeStep;
                ++EnvelopePosition;
            } else {
                if (!EnvelopeFalling) {
                    EnvelopeStep = Envelope * HalfEnvelopeReciprocal;
                    EnvelopeFalling = true;
                }
                if (EnvelopePosition == EnvelopeLength - 1) {
                    Envelope = 0.0f;
                    ++EnvelopePosition;
                }
                if (EnvelopePosition < EnvelopeLength) {
                    Envelope = Envelope - EnvelopeStep;
                    ++EnvelopePosition;
                }
            }
        }
    };
    TFollowers Followers() const;
    void Keep(const TFollowers& f);

    alignas(64) float levels_[Chunk] = {};
    alignas(64) float envelopes_[Chunk] = {};
    alignas(64) float distances_[Chunk] = {};
    alignas(64) float resonances_[Chunk] = {};
};

} // namespace varko
