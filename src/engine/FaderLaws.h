// What the faders' positions mean: loop gain for the resonance fader, output gain for the master
// fader. Both faders run from 0 at the top to 200 at the bottom.
#pragma once

namespace varko {

inline constexpr int FaderMin = 0;
inline constexpr int FaderMax = 200;
inline constexpr int ResonanceFaderStart = 10;
inline constexpr int MasterFaderStart = 20; // unity gain

// Loop gain for resonance fader position q: 0.9999^(q + 1) in extended precision, q clamped to
// the fader's range.
float ResonanceFromFader(int q);

// Master gain for master fader position p: 1.1^(21 - p) above 20, 1 at 20, 0.99^(p - 20) below
// it and 0 at 200; p clamped to the fader's range.
float MasterGainFromFader(int p);

} // namespace varko
