// The engine's oscillators as the tones that playing writes to.
#pragma once

#include "engine/AudioEngine.h"
#include "engine/FaderLaws.h"
#include "instrument/Playing.h"

namespace varko {

// Every playing value passes here (pen, mouse, script), so this is where they are held to the
// ranges the bands are built for: whatever an input sends, the oscillators see a sane value.
class TOscillatorTones : public IToneTarget {
public:
    // No engine (before the audio host is attached, after it is released): no tones.
    void SetEngine(TAudioEngine* engine) { engine_ = engine; }

    int ToneCount() const override {
        return engine_ != nullptr ? static_cast<int>(engine_->Oscillators.size()) : 0;
    }
    void SetPressure(int tone, float value) override {
        At(tone).Pressure.store(Bounded(value, 0.0f, 1.0f), Relaxed);
    }
    void SetSpeed(int tone, float value) override {
        At(tone).Speed.store(Bounded(value, 0.0f, MaxSpeed), Relaxed);
    }
    void SetStrikePosition(int tone, float value) override {
        At(tone).StrikePosition.store(Bounded(value, 0.0f, 1.0f), Relaxed);
    }
    void SetResonance(int tone, float value) override {
        // Never a loop gain of 1 or more: the bands would grow without end.
        At(tone).Resonance.store(Bounded(value, 0.0f, ResonanceFromFader(FaderMin)), Relaxed);
    }

    // value held to lo..hi; not a number gives lo.
    static float Bounded(float value, float lo, float hi) {
        return value >= lo ? (value <= hi ? value : hi) : lo;
    }

private:
    static constexpr auto Relaxed = std::memory_order_relaxed;
    TWaveguideThread& At(int tone) { return *engine_->Oscillators[static_cast<size_t>(tone)]; }
    TAudioEngine* engine_ = nullptr;
};

} // namespace varko
