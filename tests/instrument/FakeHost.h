// An audio host whose drivers are a script, for the instrument's tests and the dialog's.
#pragma once

#include "engine/AudioHost.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace varko::test {

// An audio host whose drivers are a script: names and their output channel names. Records
// every call that changes the device.
class TFakeHost : public IAudioHost {
public:
    struct TDriver {
        std::string Name;
        std::vector<std::string> Channels;
    };
    explicit TFakeHost(std::vector<TDriver> drivers) : Drivers(std::move(drivers)) {
        for (const auto& d : Drivers) {
            Names.push_back(d.Name);
        }
    }

    bool Active() const override { return ActiveFlag; }
    void SetActive(bool value) override {
        ActiveFlag = value;
        Log.push_back(value ? "start" : "stop");
    }
    uint32_t BufferSize() const override { return 128; }
    double SampleRate() const override { return 48000.0; }
    const std::vector<std::string>& DriverList() const override { return Names; }
    int DriverIndex() const override { return Index; }
    void SetDriverIndex(int index) override {
        Log.push_back("driver " + std::to_string(index));
        Index = index >= 0 && index < static_cast<int>(Drivers.size()) ? index : -1;
    }
    int OutputChannelCount() const override {
        return Index < 0 ? 0 : static_cast<int>(Drivers[Index].Channels.size());
    }
    std::string GetOutputChannelName(int channel) const override {
        return channel >= 0 && channel < OutputChannelCount() ? Drivers[Index].Channels[channel]
                                                              : std::string();
    }
    uint16_t OutputChannelOffset() const override { return Offset; }
    void SetOutputChannelOffset(uint16_t offset) override {
        Log.push_back("offset " + std::to_string(offset));
        if (offset < OutputChannelCount()) {
            Offset = offset;
        }
    }
    void ControlPanel() override { Log.push_back(ActiveFlag ? "panel while active" : "panel"); }

    // The driver asks for one block, as a running device would.
    void PlayBlock() {
        if (ActiveFlag && OnBufferSwitch32) {
            TArrayOfSingleArray out(2, TSingleArray(BufferSize(), 0.0f));
            OnBufferSwitch32(this, {}, out);
        }
    }

    std::vector<TDriver> Drivers;
    std::vector<std::string> Names;
    std::vector<std::string> Log;
    int Index = -1;
    bool ActiveFlag = false;
    uint16_t Offset = 0;
};

inline std::vector<TFakeHost::TDriver> StandardDrivers() {
    return {
        {"JACK: system", {"playback_1", "playback_2", "playback_3", "playback_4", "playback_5"}},
        {"ALSA: hw:1", {std::string("Left\0garbage", 12), "Right"}},
        {"ALSA: silent", {}}};
}

} // namespace varko::test
