// Any bytes as a scale file: no crash, and the degrees keep their shape.
#include "files/ScalaFile.h"
#include "files/ToneList.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const varko::ScalaFile scale = varko::ParseScalaText(text);
    if (scale.Degrees.empty() || scale.Degrees[0] != 1.0f ||
        scale.Degrees.size() != 1u + static_cast<std::size_t>(scale.AcceptedPitchLines) ||
        scale.HasErrors != (scale.FaultyPitchLines > 0)) {
        std::abort();
    }
    for (float d : scale.Degrees) {
        if (!std::isfinite(d)) {
            std::abort();
        }
    }
    const std::size_t L = scale.Degrees.size();
    const auto tones = varko::CalculateRepeats(scale.Degrees, 2, 3, (size & 1) != 0);
    const std::size_t copy = (size & 1) != 0 ? L : L - 1;
    if (!tones || tones->size() != L + 5 * copy) {
        std::abort();
    }
    return 0;
}
