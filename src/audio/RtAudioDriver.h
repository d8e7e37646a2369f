// Drivers over RtAudio: one per output device of the JACK, ALSA and PulseAudio back ends.
// Each keeps two halves per output channel in the device's native sample format; the device's
// callback asks the host to fill one half and hands it to RtAudio, then the other.
#pragma once

#include "audio/DriverList.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varko {

// What the player may choose in a driver's panel, and the choice.
struct TDriverPanelOffer {
    std::string DriverName;
    std::vector<uint32_t> BufferSizes; // in samples, ascending
    uint32_t CurrentBufferSize = 0;
    std::vector<double> SampleRates; // in hertz, ascending
    double CurrentSampleRate = 0.0;
    uint32_t OutputLatency = 0; // samples the device buffers at the current size; 0: not open
};
struct TDriverPanelChoice {
    uint32_t BufferSize = 0;
    double SampleRate = 0.0;
};

// Shows a driver's panel; returns true when the player confirmed a choice. The window
// installs one (the driver layer has no toolkit); without one controlPanel answers
// "not present". Called on the thread that calls controlPanel.
using TDriverPanelPresenter =
    std::function<bool(const TDriverPanelOffer& offer, TDriverPanelChoice& choice)>;
void SetDriverPanelPresenter(TDriverPanelPresenter presenter);

// The settings the player chose for a driver (by name), kept for the rest of the process so
// that a reloaded driver starts with them. Zero = the device's own preference.
TDriverPanelChoice DriverChoice(const std::string& driverName);
void SetDriverChoice(const std::string& driverName, const TDriverPanelChoice& choice);

TAsioDriverRecords EnumerateRtAudioDrivers();

} // namespace varko
