// How a bar is held at its ends.
#pragma once

#include <cstdint>

namespace varko {

// End condition of the uniform bar; also selects the strike-position weighting. The values are
// those the settings and take files store.
enum class TEndType : int32_t { None = 0, Free = 1, Fixed = 2, Hinged = 3 };

} // namespace varko
