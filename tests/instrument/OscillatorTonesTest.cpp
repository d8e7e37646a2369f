#include "instrument/OscillatorTones.h"

#include "engine/NullHost.h"
#include "engine/ToneBank.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace varko;

// A speed of 1e300 from a script reached the bands as infinity and came out as NaN. Whatever a
// pen, a mouse or a script sends, the oscillator gets a value in its range.
TEST(OscillatorTones, EveryPlayingValueIsHeldToItsRange) {
    TAudioEngine engine(std::make_unique<TNullHost>(48000.0, 64, /*RealTimePace=*/false));
    TToneBankInput in;
    in.ToneRatios = {1.0f};
    RefreshTones(engine, in);
    TOscillatorTones tones;
    tones.SetEngine(&engine);
    const TTone& osc = *engine.Oscillators[0];
    constexpr float Inf = std::numeric_limits<float>::infinity();
    const float nan = std::nanf("");
    struct TCase {
        float In, Pressure, Speed, Strike;
    };
    for (const TCase c : {TCase{0.5f, 0.5f, 0.5f, 0.5f}, TCase{1e30f, 1.0f, MaxSpeed, 1.0f},
                          TCase{Inf, 1.0f, MaxSpeed, 1.0f}, TCase{-Inf, 0.0f, 0.0f, 0.0f},
                          TCase{-0.5f, 0.0f, 0.0f, 0.0f}, TCase{nan, 0.0f, 0.0f, 0.0f}}) {
        tones.SetPressure(0, c.In);
        tones.SetSpeed(0, c.In);
        tones.SetStrikePosition(0, c.In);
        EXPECT_EQ(osc.Pressure.load(), c.Pressure) << c.In;
        EXPECT_EQ(osc.Speed.load(), c.Speed) << c.In;
        EXPECT_EQ(osc.StrikePosition.load(), c.Strike) << c.In;
    }
    // A loop gain of 1 or more would let the bands grow without end.
    for (const float r : {1.0f, 2.0f, Inf, nan}) {
        tones.SetResonance(r, 0);
        EXPECT_LT(osc.Resonance.load(), 1.0f) << r;
        EXPECT_GE(osc.Resonance.load(), 0.0f) << r;
    }
    tones.SetResonance(ResonanceFromFader(10), 10);
    EXPECT_EQ(osc.Resonance.load(), ResonanceFromFader(10));
}
