// A driver's own panel, as the driver layer offers it: what the player may choose and the
// choice. The window shows it (the driver layer has no toolkit) through the presenter it
// installs.
#pragma once

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

} // namespace varko
