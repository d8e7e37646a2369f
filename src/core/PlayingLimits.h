// Bounds of the playing values, shared by every input and every reader that carries them.
#pragma once

#include <cstdint>

namespace varko {

// Fastest speed a tone takes: a pen crosses the whole input area (a speed of sqrt 2) between two
// packets at most; the mouse, held beyond the zone, may go a little further. Faster is no gesture.
inline constexpr float MaxSpeed = 2.0f;

// A pen's pressure axis when the device says nothing else: 10 bits, what most tablets report.
inline constexpr int32_t DefaultPressureMax = 1023;

// The pressure a mouse button presses with: it has none of its own, and half leaves the
// resonance fader's full range audible.
inline constexpr float MousePressure = 0.5f;

} // namespace varko
