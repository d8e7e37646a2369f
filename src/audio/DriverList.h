// The list of usable drivers, one record per output device of each compiled RtAudio back end.
#pragma once

#include "audio/DriverBridge.h"

#include <functional>
#include <vector>

namespace varko {

using TAsioDriverRecords = std::vector<TAsioDriverRecord>;
// Where a host takes its driver records from; tests hand in scripted drivers.
using TDriverListSource = std::function<TAsioDriverRecords()>;

// The RtAudio devices with output channels, JACK first, then ALSA, then PulseAudio, each
// named "<back end>: <device>". Devices that fail to probe are left out.
TAsioDriverRecords BuildDriverList();

} // namespace varko
