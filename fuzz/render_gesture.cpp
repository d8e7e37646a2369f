// Any bytes as a performance script: either a message naming a line, or events in time order
// whose every value lies in the range the instrument accepts.
#include "instrument/Playing.h"
#include "render/GestureScript.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string error;
    const auto script =
        varko::ParseGestureScript(std::string(reinterpret_cast<const char*>(data), size), error);
    if (!script) {
        if (error.rfind("line ", 0) != 0) {
            std::abort();
        }
        return 0;
    }
    double last = 0.0;
    for (const varko::TGestureEvent& e : script->Events) {
        const bool ok = e.Time >= last && e.Time <= varko::MaxScriptSeconds && e.Line >= 1 &&
                        std::isfinite(e.X) && std::isfinite(e.Y) && e.Pressure >= 0.0 &&
                        e.Pressure <= 1.0 && e.Speed >= 0.0 && e.Speed <= varko::MaxSpeed &&
                        e.Tone >= 0 && e.Position >= 0 && e.Position <= 200;
        if (!ok) {
            std::abort();
        }
        last = e.Time;
    }
    return 0;
}
