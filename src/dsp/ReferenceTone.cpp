#include "dsp/ReferenceTone.h"

#include <cmath>

namespace varko {

TReferenceTone::TReferenceTone(float f, float fs, TEndType endType, bool interpolate,
                               const std::vector<float>& ratios, const std::vector<float>& gains,
                               uint32_t seed) {
    shape_.Reset(fs, endType, seed);
    for (size_t b = 0; b < ratios.size(); ++b) {
        const float fm = ratios[b] * f;
        if (fm > fs / 2) {
            break;
        }
        filters_.emplace_back();
        filters_.back().SetParams(fm, fs, BandQ);
        if (interpolate) {
            delays_.push_back(std::make_unique<TWaveguideInterpolatedDelay>(fs / fm));
        } else {
            delays_.push_back(std::make_unique<TWaveguideDelay>(std::lrint(fs / fm)));
        }
        gains_.push_back(gains[b]);
    }
    quiet_.assign(gains_.size(), 0);
}

float TReferenceTone::Tick(const TWaveguidePlaying& in) {
    TExcitation& e = shape_;
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
    for (size_t b = 0; b < filters_.size(); ++b) {
        float x = x0 * gains_[b];
        if (x == 0.0f) {
            if (quiet_[b] < 1000) {
                ++quiet_[b];
                x = filters_[b].Tick(x);
            }
        } else {
            x = filters_[b].Tick(x);
            quiet_[b] = 0;
        }
        delays_[b]->Feedback = feedback;
        sum = sum + delays_[b]->Tick(x);
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
