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
    explicit TOscillatorTones(TAudioEngine& engine) : engine_(engine) {}

    int ToneCount() const override { return static_cast<int>(engine_.Oscillators.size()); }
    void SetPressure(int tone, float value) override {
        At(tone).Pressure.store(Bounded(value, 0.0f, 1.0f), std::memory_order_relaxed);
    }
    void SetSpeed(int tone, float value) override {
        At(tone).Speed.store(Bounded(value, 0.0f, MaxSpeed), std::memory_order_relaxed);
    }
    void SetStrikePosition(int tone, float value) override {
        At(tone).StrikePosition.store(Bounded(value, 0.0f, 1.0f), std::memory_order_relaxed);
    }
    void SetResonance(int tone, float value) override {
        // Never a loop gain of 1 or more: the bands would grow without end.
        At(tone).Resonance.store(Bounded(value, 0.0f, ResonanceFromFader(FaderMin)),
                                 std::memory_order_relaxed);
    }

    // value held to lo..hi; not a number gives lo.
    static float Bounded(float value, float lo, float hi) {
        return value >= lo ? (value <= hi ? value : hi) : lo;
    }

private:
    TWaveguideThread& At(int tone) { return *engine_.Oscillators[static_cast<size_t>(tone)]; }
    TAudioEngine& engine_;
};

} // namespace varko
