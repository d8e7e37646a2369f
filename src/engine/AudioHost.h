// The audio host interface: what the engine and the window need of an audio device.
// The device layer (TASIOHost over RtAudio drivers) and TNullHost implement it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace varko {

// A growable array of 32-bit float samples, and one such array per channel.
using TSingleArray = std::vector<float>;
using TArrayOfSingleArray = std::vector<TSingleArray>;

class IAudioHost;

// One block is due: fill every sample of the output channels the handler uses.
// Runs on the driver's callback thread; must not allocate, lock or block.
using TBufferSwitchEvent32 = std::function<void(
    IAudioHost* sender, const TArrayOfSingleArray& inBuffer, TArrayOfSingleArray& outBuffer)>;
// A driver notice (reset, sample-rate change); may arrive on the driver's thread.
using TNotifyEvent = std::function<void(IAudioHost* sender)>;
// Runs a job later on the owner's thread (for instance a queued call into its event loop); must
// return without waiting for the job.
using TOwnerDispatcher = std::function<void(std::function<void()> job)>;

class IAudioHost {
public:
    virtual ~IAudioHost() = default;

    // true starts the driver, which then calls OnBufferSwitch32 once per period;
    // false stops it and leaves the driver's buffers silent.
    virtual bool Active() const = 0;
    virtual void SetActive(bool value) = 0;

    // Samples per channel per block; constant between two buffer creations.
    virtual uint32_t BufferSize() const = 0;
    // The driver's current rate in hertz.
    virtual double SampleRate() const = 0;

    // The usable drivers, built when the host is created; empty when there is none.
    virtual const std::vector<std::string>& DriverList() const = 0;
    // Selects and loads a driver from DriverList; -1 = none.
    virtual int DriverIndex() const = 0;
    virtual void SetDriverIndex(int index) = 0;

    virtual int OutputChannelCount() const = 0;
    // The channel's name as the driver reports it (up to 31 characters).
    virtual std::string GetOutputChannelName(int channel) const = 0;
    virtual uint16_t OutputChannelOffset() const = 0;
    virtual void SetOutputChannelOffset(uint16_t offset) = 0;

    // Opens the loaded driver's own settings window.
    virtual void ControlPanel() = 0;

    // The device went away while the owner wanted it playing, and has not come back yet.
    virtual bool DeviceLost() const { return false; }
    // The device's over- and underruns since the driver was loaded, as far as it reports them.
    virtual uint64_t DeviceXruns() { return 0; }

    TBufferSwitchEvent32 OnBufferSwitch32;
    TNotifyEvent OnReset;
    TNotifyEvent OnSampleRateChanged;
    // The device went away while playing (server gone, server stalled, interface unplugged);
    // the audio is stopped until the device is back, when the host reloads the driver, plays
    // again if the owner still wants it to and raises OnReset. Runs on the owner's thread,
    // through OwnerDispatcher.
    TNotifyEvent OnDeviceLost;
    // Where the host runs what must happen on the owner's thread (driver reloads, a lost
    // device). Set before a driver is chosen; whatever it posts to must outlive the host (the
    // driver's threads may post until the host is gone). Hosts without such notices ignore it.
    TOwnerDispatcher OwnerDispatcher;
};

} // namespace varko
