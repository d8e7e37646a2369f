// The engine's oscillators as the tones that playing writes to.
#pragma once

#include "engine/AudioEngine.h"
#include "instrument/Playing.h"

namespace varko {

class TOscillatorTones : public IToneTarget {
public:
    // No engine (before the audio host is attached, after it is released): no tones.
    void SetEngine(TAudioEngine* engine) { engine_ = engine; }

    int ToneCount() const override {
        return engine_ != nullptr ? static_cast<int>(engine_->Oscillators.size()) : 0;
    }
    void SetPressure(int tone, float value) override { At(tone).Pressure.store(value, Relaxed); }
    void SetSpeed(int tone, float value) override { At(tone).Speed.store(value, Relaxed); }
    void SetStrikePosition(int tone, float value) override {
        At(tone).StrikePosition.store(value, Relaxed);
    }
    void SetResonance(int tone, float value) override { At(tone).Resonance.store(value, Relaxed); }

private:
    static constexpr auto Relaxed = std::memory_order_relaxed;
    TWaveguideThread& At(int tone) { return *engine_->Oscillators[static_cast<size_t>(tone)]; }
    TAudioEngine* engine_ = nullptr;
};

} // namespace varko
