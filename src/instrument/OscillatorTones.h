// The engine's oscillators as the tones that playing writes to.
#pragma once

#include "engine/AudioEngine.h"
#include "instrument/Playing.h"

namespace varko {

class TOscillatorTones : public IToneTarget {
public:
    explicit TOscillatorTones(TAudioEngine& engine) : engine_(engine) {}

    int ToneCount() const override { return static_cast<int>(engine_.Oscillators.size()); }
    void SetPressure(int tone, float value) override {
        At(tone).Pressure.store(value, std::memory_order_relaxed);
    }
    void SetSpeed(int tone, float value) override {
        At(tone).Speed.store(value, std::memory_order_relaxed);
    }
    void SetStrikePosition(int tone, float value) override {
        At(tone).StrikePosition.store(value, std::memory_order_relaxed);
    }
    void SetResonance(int tone, float value) override {
        At(tone).Resonance.store(value, std::memory_order_relaxed);
    }

private:
    TWaveguideThread& At(int tone) { return *engine_.Oscillators[static_cast<size_t>(tone)]; }
    TAudioEngine& engine_;
};

} // namespace varko
