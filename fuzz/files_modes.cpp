// Any bytes as a vibration mode file: no crash, equal column lengths, finite values.
#include "files/ModeFile.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const varko::ModeFile modes = varko::ParseModeText(text);
    if (!modes.Opened || modes.Ratios.size() != modes.Levels.size()) {
        std::abort();
    }
    for (std::size_t i = 0; i < modes.Ratios.size(); ++i) {
        if (!std::isfinite(modes.Ratios[i]) || !std::isfinite(modes.Levels[i])) {
            std::abort();
        }
    }
    return 0;
}
