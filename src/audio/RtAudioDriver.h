// Drivers over RtAudio: one per output device of the JACK, ALSA and PulseAudio back ends.
// Each keeps two halves per output channel in the device's native sample format; the device's
// callback asks the host to fill one half and hands it to RtAudio, then the other.
#pragma once

#include "audio/DriverList.h"
#include "audio/DriverPanel.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varko {

TAsioDriverRecords EnumerateRtAudioDrivers();

// The back ends compiled into RtAudio that drivers are made for: "JACK", "ALSA", "PulseAudio".
std::vector<std::string> RtAudioBackEnds();

} // namespace varko
