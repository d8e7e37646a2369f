#include "dsp/Excitation.h"

#include <algorithm>
#include <cmath>

namespace varko {

namespace {

int32_t RoundHalfEven(double v) {
    return static_cast<int32_t>(std::nearbyint(v));
}

} // namespace

void TExcitation::Reset(float SampleRate, int32_t EndType, uint32_t Seed) {
    NoiseState = Seed;
    switch (EndType) {
    case 2: // one end fixed: full strength at the bottom of the bar, a quarter at the top
        StrikeCentre = 1.0f;
        StrikeFalloff = 0.75f;
        break;
    case 3: // both ends hinged: full strength in the middle, three quarters at either end
        StrikeCentre = 0.5f;
        StrikeFalloff = 0.5f;
        break;
    default:
        StrikeCentre = 0.5f;
        StrikeFalloff = 0.0f;
        break;
    }
    Level = LevelTarget = LevelStep = 0.0f;
    Envelope = EnvelopeTarget = EnvelopeStep = 0.0f;
    RampPosition = EnvelopePosition = 0;
    EnvelopeFalling = false;
    const bool rateOk = SampleRate > 0.0f && SampleRate <= MaxSampleRate;
    // 512 and 8192 samples at 48 kHz: a 10.7 ms pressure ramp and a 171 ms strike envelope,
    // the same times at every rate.
    RampLength = rateOk ? std::max(1, RoundHalfEven(SampleRate / 93.75)) : 1;
    EnvelopeLength = rateOk ? std::max(2, RoundHalfEven(SampleRate / 5.859375)) : 2;
    RampLengthReciprocal = static_cast<float>(1.0 / RampLength);
    HalfEnvelopeReciprocal = static_cast<float>(1.0 / (EnvelopeLength / 2.0));
}

bool TExcitation::Render(const TWaveguidePlaying& In, float* X0, float* Feedback, int n) {
    bool any = false;
    const float halfEnvelope = static_cast<float>(EnvelopeLength) / 2.0f;
    for (int i = 0; i < n; ++i) {
        const float pressure = In.Pressure.load(std::memory_order_relaxed);
        const float speed = std::fabs(In.Speed.load(std::memory_order_relaxed));
        const float strike = In.StrikePosition.load(std::memory_order_relaxed);
        const float resonance = In.Resonance.load(std::memory_order_relaxed);
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
        if (speed != EnvelopeTarget) {
            EnvelopeTarget = speed;
            EnvelopeStep = (EnvelopeTarget - Envelope) * HalfEnvelopeReciprocal;
            EnvelopePosition = 0;
            EnvelopeFalling = false;
        }
        const double u = NextNoise();
        const double noise = (2.0 * u - 1.0) * Level * Envelope;
        const float distance = std::fabs(strike - StrikeCentre) * StrikeFalloff;
        const float x0 = static_cast<float>((1.0f - distance) * noise);
        X0[i] = x0;
        any = any || x0 != 0.0f;
        // Pressing harder damps the ring: the loop gain falls by 1 % at full pressure, and by up
        // to 0.75 % more with the strike's distance from the centre.
        Feedback[i] = (1.0f - distance * 0.01f * Level) * ((1.0f - Level / 100.0f) * resonance);
        if (static_cast<float>(EnvelopePosition) < halfEnvelope) {
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
    return any;
}

} // namespace varko
