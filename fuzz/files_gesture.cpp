// Any bytes as a performance script: no crash, a message naming a line or events whose every
// value lies in the range the instrument accepts, every rebuild event names a rebuild of the
// script, and every event read back from the line a recording would write for it is the same.
#include "core/PlayingLimits.h"
#include "files/GestureScript.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto script = varko::ParseGestureScript(text, error);
    if (!script) {
        return error.rfind("line ", 0) == 0 ? 0 : (std::abort(), 0);
    }
    for (const varko::TGestureEvent& e : script->Events) {
        const bool inRange = e.Time >= 0.0 && e.Time <= varko::MaxScriptSeconds && e.Line >= 1 &&
                             std::isfinite(e.X) && std::isfinite(e.Y) && e.Pressure >= 0.0 &&
                             e.Pressure <= 1.0 && e.Speed >= 0.0 && e.Speed <= varko::MaxSpeed &&
                             e.Tone >= 0 && e.Position >= 0 && e.Position <= 200;
        if (!inRange) {
            std::abort();
        }
        const bool rebuild = e.Kind == varko::TGestureEvent::TKind::Rebuild;
        if (rebuild &&
            (e.Rebuild < 0 || static_cast<std::size_t>(e.Rebuild) >= script->Rebuilds.size())) {
            std::abort();
        }
        const varko::TGestureRebuild* r =
            rebuild ? &script->Rebuilds[static_cast<std::size_t>(e.Rebuild)] : nullptr;
        const std::string line = varko::GestureLine(e, e.Sample.value_or(0), r);
        const auto again = varko::ParseGestureScript(line + "\n", error);
        if (!again || again->Events.size() != 1) {
            std::abort();
        }
        const varko::TGestureEvent& a = again->Events[0];
        if (a.Kind != e.Kind || a.Tone != e.Tone || a.Position != e.Position || a.X != e.X ||
            a.Y != e.Y || a.Pressure != e.Pressure || a.Speed != e.Speed || a.Stereo != e.Stereo ||
            a.TwoRows != e.TwoRows || a.Bytes != e.Bytes) {
            std::abort();
        }
        if (rebuild && again->Rebuilds[0].Seeds != r->Seeds) {
            std::abort();
        }
    }
    return 0;
}
