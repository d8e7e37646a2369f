// Any bytes as a keyboard mapping: no crash, the messages name lines of the file, and every
// key of every scale below is unmapped or sounds at a finite frequency above 0.
#include "files/KeyboardMapping.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void Check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const varko::KeyboardMapping mapping = varko::ParseKeyboardMappingText(text);
    Check(mapping.Opened);
    const auto lineCount = static_cast<int>(mapping.Lines.size());
    Check(mapping.Messages.size() <= mapping.Lines.size() + 1);
    for (const varko::KbmMessage& message : mapping.Messages) {
        Check(message.Line >= 1 && message.Line <= lineCount + 1);
        Check(message.Text.rfind("Line " + std::to_string(message.Line) + ": ", 0) == 0);
    }
    Check(static_cast<std::int64_t>(mapping.Entries.size()) <= mapping.MapSize);
    if (mapping.Usable) {
        Check(mapping.MapSize >= 0 && mapping.MapSize <= varko::MaxKbmMapSize);
        Check(0 <= mapping.FirstKey && mapping.FirstKey <= mapping.LastKey &&
              mapping.LastKey <= varko::MaxMidiKey);
        Check(0 <= mapping.ReferenceKey && mapping.ReferenceKey <= varko::MaxMidiKey);
        Check(std::isfinite(mapping.ReferenceFrequency) && mapping.ReferenceFrequency > 0.0);
    }

    varko::ScaleDegrees twelve;
    for (int i = 0; i <= 12; ++i) {
        twelve.push_back(static_cast<float>(std::pow(2.0, i / 12.0)));
    }
    const varko::ScaleDegrees scales[] = {
        twelve, {1.0f, 1.25f, 1.5f, 2.0f}, {1.0f, 0.0f, 3e38f, -2.0f}, {1.0f, 1e-30f}, {1.0f}};
    for (const varko::ScaleDegrees& scale : scales) {
        for (int key = 0; key <= varko::MaxMidiKey; ++key) {
            const auto hz = varko::MappedKeyFrequency(mapping, scale, key);
            const bool inRange =
                mapping.Usable && key >= mapping.FirstKey && key <= mapping.LastKey;
            if (!inRange || !varko::MappedDegree(mapping, scale.size() - 1, key)) {
                Check(!hz);
            }
            if (hz) {
                Check(std::isfinite(*hz) && *hz > 0.0f);
                if (key == mapping.ReferenceKey) {
                    Check(*hz == static_cast<float>(mapping.ReferenceFrequency));
                }
            }
        }
    }
    return 0;
}
