#include "dsp/Excitation.h"

#include "dsp/BandKernels.h"

#include <algorithm>
#include <cmath>

namespace varko {

namespace {

int32_t RoundHalfEven(double v) {
    return static_cast<int32_t>(std::nearbyint(v));
}

} // namespace

void TExcitation::Reset(float sampleRate, TEndType endType, uint32_t seed) {
    NoiseState = seed;
    switch (endType) {
    case TEndType::Fixed: // full strength at the bottom of the bar, a quarter at the top
        StrikeCentre = 1.0f;
        StrikeFalloff = 0.75f;
        break;
    case TEndType::Hinged: // full strength in the middle, three quarters at either end
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
    const bool rateOk = sampleRate > 0.0f && sampleRate <= MaxSampleRate;
    // 512 and 8192 samples at 48 kHz: a 10.7 ms pressure ramp and a 171 ms strike envelope,
    // the same times at every rate.
    RampLength = rateOk ? std::max(1, RoundHalfEven(sampleRate / 93.75)) : 1;
    EnvelopeLength = rateOk ? std::max(2, RoundHalfEven(sampleRate / 5.859375)) : 2;
    RampLengthReciprocal = static_cast<float>(1.0 / RampLength);
    HalfEnvelopeReciprocal = static_cast<float>(1.0 / (EnvelopeLength / 2.0));
}

bool TExcitation::Quiet(float pressure, float speed, float strike) const {
    // 0 times a finite envelope and strike weighting is 0; bounds keep the envelope finite.
    constexpr float Bound = 1e30f;
    return pressure == 0.0f && Level == 0.0f && LevelTarget == 0.0f && std::fabs(speed) < Bound &&
           std::fabs(Envelope) < Bound && std::fabs(EnvelopeStep) < Bound &&
           std::fabs(strike) < Bound;
}

TExcitation::TFollowers TExcitation::Followers() const {
    TFollowers f;
    f.Level = Level;
    f.LevelTarget = LevelTarget;
    f.LevelStep = LevelStep;
    f.RampLengthReciprocal = RampLengthReciprocal;
    f.RampPosition = RampPosition;
    f.RampLength = RampLength;
    f.Envelope = Envelope;
    f.EnvelopeTarget = EnvelopeTarget;
    f.EnvelopeStep = EnvelopeStep;
    f.HalfEnvelopeReciprocal = HalfEnvelopeReciprocal;
    f.HalfEnvelope = static_cast<float>(EnvelopeLength) / 2.0f;
    f.EnvelopePosition = EnvelopePosition;
    f.EnvelopeLength = EnvelopeLength;
    f.EnvelopeFalling = EnvelopeFalling;
    return f;
}

void TExcitation::Keep(const TFollowers& f) {
    Level = f.Level;
    LevelTarget = f.LevelTarget;
    LevelStep = f.LevelStep;
    RampPosition = f.RampPosition;
    Envelope = f.Envelope;
    EnvelopeTarget = f.EnvelopeTarget;
    EnvelopeStep = f.EnvelopeStep;
    EnvelopePosition = f.EnvelopePosition;
    EnvelopeFalling = f.EnvelopeFalling;
}

bool TExcitation::SkipQuiet(const TWaveguidePlaying& in, int n) {
    const float pressure = in.Pressure.load(std::memory_order_relaxed);
    const float speed = std::fabs(in.Speed.load(std::memory_order_relaxed));
    const float strike = in.StrikePosition.load(std::memory_order_relaxed);
    if (!Quiet(pressure, speed, strike)) {
        return false;
    }
    NoiseState = AdvanceNoise(NoiseState, static_cast<uint32_t>(n));
    const bool envelopeDone =
        EnvelopePosition >= EnvelopeLength && EnvelopeFalling && speed == EnvelopeTarget;
    if (!envelopeDone) {
        TFollowers f = Followers();
        for (int i = 0; i < n; ++i) {
            f.FollowSpeed(speed);
            f.StepEnvelope();
        }
        Keep(f);
    }
    return true;
}

bool TExcitation::Render(const TWaveguidePlaying& in, float* x0s, float* feedbacks, int n) {
    bool any = false;
    for (int done = 0; done < n;) {
        const int m = std::min(n - done, Chunk);
        float* x0 = x0s + done;
        float* feedback = feedbacks + done;
        if (SkipQuiet(in, m)) {
            // (1 - 0) * ((1 - 0 / 100) * resonance) is the resonance itself.
            std::fill(x0, x0 + m, 0.0f);
            std::fill(feedback, feedback + m, in.Resonance.load(std::memory_order_relaxed));
            done += m;
            continue;
        }
        // The sequential part, sample by sample: the followers and the playing values as they
        // stand at each sample.
        TFollowers f = Followers();
        const float centre = StrikeCentre, falloff = StrikeFalloff;
        for (int i = 0; i < m; ++i) {
            const float pressure = in.Pressure.load(std::memory_order_relaxed);
            const float speed = std::fabs(in.Speed.load(std::memory_order_relaxed));
            const float strike = in.StrikePosition.load(std::memory_order_relaxed);
            resonances_[i] = in.Resonance.load(std::memory_order_relaxed);
            f.FollowPressure(pressure);
            f.FollowSpeed(speed);
            levels_[i] = f.Level;
            envelopes_[i] = f.Envelope;
            distances_[i] = std::fabs(strike - centre) * falloff;
            f.StepEnvelope();
        }
        Keep(f);
        // Pressing harder damps the ring: the loop gain falls by 1 % at full pressure, and by up
        // to 0.75 % more with the strike's distance from the centre.
        any = bandkernels::ShapeExcitation(NoiseState, levels_, envelopes_, distances_, resonances_,
                                           x0, feedback, m) ||
              any;
        done += m;
    }
    return any;
}

} // namespace varko
