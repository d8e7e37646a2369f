// Bounds of the playing values, shared by every input and every reader that carries them.
#pragma once

namespace varko {

// Fastest speed a tone takes: a pen crosses the whole input area (a speed of sqrt 2) between two
// packets at most; the mouse, held beyond the zone, may go a little further. Faster is no gesture.
inline constexpr float MaxSpeed = 2.0f;

} // namespace varko
