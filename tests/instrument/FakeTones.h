// Tones that only remember what playing wrote to them.
#pragma once

#include "instrument/Playing.h"

#include <vector>

namespace varko::test {

struct FakeTones : IToneTarget {
    explicit FakeTones(int n)
        : Pressure(n, 0), Speed(n, 0), Strike(n, 0), Resonance(n, 0), Pitch(n, 1) {}
    int ToneCount() const override { return static_cast<int>(Pressure.size()); }
    void SetPressure(int t, float v) override { Pressure.at(t) = v; }
    void SetSpeed(int t, float v) override { Speed.at(t) = v; }
    void SetStrikePosition(int t, float v) override { Strike.at(t) = v; }
    void SetResonance(float v, int) override { Resonance.assign(Resonance.size(), v); }
    void SetPitch(int t, float v) override { Pitch.at(t) = v; }
    std::vector<float> Pressure, Speed, Strike, Resonance, Pitch;
};

} // namespace varko::test
