// The engine's oscillators as the tones that playing writes to. Values go through the engine's
// playing changes, so that they reach the tones between two blocks.
#pragma once

#include "engine/AudioEngine.h"
#include "instrument/Playing.h"

#include <vector>

namespace varko {

class TOscillatorTones : public IToneTarget {
public:
    // No engine (before the audio host is attached, after it is released): no tones.
    void SetEngine(TAudioEngine* engine) {
        engine_ = engine;
        BankChanged();
    }
    // The bank was built anew: every tone starts at rest.
    void BankChanged() { values_.assign(static_cast<size_t>(ToneCount()), TValues{}); }

    int ToneCount() const override {
        return engine_ != nullptr ? static_cast<int>(engine_->Oscillators.size()) : 0;
    }
    void SetPressure(int tone, float value) override {
        At(tone).Pressure = value;
        Send(tone);
    }
    void SetSpeed(int tone, float value) override {
        At(tone).Speed = value;
        Send(tone);
    }
    void SetStrikePosition(int tone, float value) override {
        At(tone).Strike = value;
        Send(tone);
    }
    void SetResonance(float value, int fader) override {
        if (engine_ == nullptr) {
            return;
        }
        TPlayingChange c;
        c.Kind = TPlayingChange::TKind::Resonance;
        c.Value = value;
        c.Fader = fader;
        engine_->Change(c);
    }

private:
    // What this thread last wrote to a tone: a change carries all three, since one may still be
    // on its way when the next is written.
    struct TValues {
        float Pressure = 0.0f;
        float Speed = 0.0f;
        float Strike = 0.0f;
    };
    TValues& At(int tone) {
        if (values_.size() != engine_->Oscillators.size()) {
            BankChanged();
        }
        return values_[static_cast<size_t>(tone)];
    }
    void Send(int tone) {
        const TValues& v = values_[static_cast<size_t>(tone)];
        TPlayingChange c;
        c.Kind = TPlayingChange::TKind::Tone;
        c.Tone = tone;
        c.Pressure = v.Pressure;
        c.Speed = v.Speed;
        c.Strike = v.Strike;
        engine_->Change(c);
    }

    TAudioEngine* engine_ = nullptr;
    std::vector<TValues> values_;
};

} // namespace varko
