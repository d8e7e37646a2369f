#include "dsp/ReferenceTone.h"

#include <cmath>

namespace varko {

TReferenceTone::TReferenceTone(float f, float fs, TEndType endType, bool interpolate,
                               const std::vector<float>& ratios, const std::vector<float>& gains,
                               uint32_t seed) {
    Shape.Reset(fs, endType, seed);
    for (size_t b = 0; b < ratios.size(); ++b) {
        const float fm = ratios[b] * f;
        if (fm > fs / 2) {
            break;
        }
        Filters.emplace_back();
        Filters.back().SetParams(fm, fs, BandQ);
        if (interpolate) {
            Delays.push_back(std::make_unique<TWaveguideInterpolatedDelay>(fs / fm));
        } else {
            Delays.push_back(std::make_unique<TWaveguideDelay>(std::lrint(fs / fm)));
        }
        Gains.push_back(gains[b]);
    }
    Quiet.assign(Gains.size(), 0);
}

float TReferenceTone::Tick(const TWaveguidePlaying& in) {
    TExcitation& e = Shape;
    const float pressure = in.Pressure, speed = std::fabs(in.Speed.load());
    if (e.LevelTarget != pressure) {
        e.LevelTarget = pressure;
        e.LevelStep = (e.LevelTarget - e.Level) * e.RampLengthReciprocal;
        e.RampPosition = 0;
    }
    if (e.Level != e.LevelTarget) {
        if (e.RampPosition >= e.RampLength) {
            e.Level = e.LevelTarget;
        } else {
            e.Level = e.Level + e.LevelStep;
            ++e.RampPosition;
        }
    }
    if (speed != e.EnvelopeTarget) {
        e.EnvelopeTarget = speed;
        e.EnvelopeStep = (e.EnvelopeTarget - e.Envelope) * e.HalfEnvelopeReciprocal;
        e.EnvelopePosition = 0;
        e.EnvelopeFalling = false;
    }
    const double noise = (2.0 * e.NextNoise() - 1.0) * e.Level * e.Envelope;
    const float distance = std::fabs(in.StrikePosition - e.StrikeCentre) * e.StrikeFalloff;
    const float x0 = static_cast<float>((1.0f - distance) * noise);
    // A pen at full pressure takes 1 % of the loop gain where it strikes, and 1 % more
    // everywhere: a pressed bar rings shorter, as a held one does.
    const float feedback =
        (1.0f - distance * 0.01f * e.Level) * ((1.0f - e.Level / 100.0f) * in.Resonance);
    float sum = 0.0f;
    for (size_t b = 0; b < Filters.size(); ++b) {
        float x = x0 * Gains[b];
        if (x == 0.0f) {
            if (Quiet[b] < 1000) {
                ++Quiet[b];
                x = Filters[b].Tick(x);
            }
        } else {
            x = Filters[b].Tick(x);
            Quiet[b] = 0;
        }
        Delays[b]->Feedback = feedback;
        sum = sum + Delays[b]->Tick(x);
    }
    if (static_cast<float>(e.EnvelopePosition) < e.EnvelopeLength / 2.0f) {
        e.Envelope = e.Envelope + e.EnvelopeStep;
        ++e.EnvelopePosition;
    } else {
        if (!e.EnvelopeFalling) {
            e.EnvelopeStep = e.Envelope * e.HalfEnvelopeReciprocal;
            e.EnvelopeFalling = true;
        }
        if (e.EnvelopePosition == e.EnvelopeLength - 1) {
            e.Envelope = 0.0f;
            ++e.EnvelopePosition;
        }
        if (e.EnvelopePosition < e.EnvelopeLength) {
            e.Envelope = e.Envelope - e.EnvelopeStep;
            ++e.EnvelopePosition;
        }
    }
    return sum;
}

} // namespace varko
