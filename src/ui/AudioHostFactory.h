// The audio host the instrument plays through.
#pragma once

#include "engine/AudioHost.h"

#include <memory>

namespace varko {

// The host over the machine's audio devices; the null host (no device, real-time pace) when
// VARKO_NULL_AUDIO=1 is set.
std::unique_ptr<IAudioHost> CreateAudioHost();

} // namespace varko
