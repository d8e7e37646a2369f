// A settings dialog wired to a scripted audio host, a tablet service and a recording owner.
#pragma once

#include "tablet/Tablet.h"
#include "ui/dialogs/SettingsDialog.h"
#include "engine/AudioEngine.h"

#include <QComboBox>

#include <memory>
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

    std::vector<TDriver> Drivers;
    std::vector<std::string> Names;
    std::vector<std::string> Log;
    int Index = -1;
    bool ActiveFlag = false;
    uint16_t Offset = 0;
};

struct TNoTones : IToneTarget {
    int ToneCount() const override { return 0; }
    void SetPressure(int, float) override {}
    void SetSpeed(int, float) override {}
    void SetStrikePosition(int, float) override {}
    void SetResonance(int, float) override {}
};

inline std::vector<TFakeHost::TDriver> StandardDrivers() {
    return {
        {"JACK: system", {"playback_1", "playback_2", "playback_3", "playback_4", "playback_5"}},
        {"ALSA: hw:1", {std::string("Left\0garbage", 12), "Right"}},
        {"ALSA: silent", {}}};
}

// Everything the dialog reaches, with the owner's calls recorded in order.
struct TSettingsRig {
    explicit TSettingsRig(std::vector<TFakeHost::TDriver> drivers = StandardDrivers(),
                          bool withTablet = true)
        : Host(new TFakeHost(std::move(drivers))), Engine(std::unique_ptr<IAudioHost>(Host)) {
        Service.Available = true;
        Service.DeviceName = "Test Pen";
        Tablet = std::make_unique<TTablet>(withTablet ? &Service : nullptr);
        Tablet->SetEnabled(true);
        TSettingsOwner owner;
        owner.RepaintToneZone = [this] { Calls.push_back("repaint"); };
        owner.UpdateStereoConstants = [this] { Calls.push_back("stereo constants"); };
        owner.RefreshTones = [this] { Calls.push_back("refresh"); };
        owner.SetStatusText = [this](int panel, const QString& text) {
            Calls.push_back("panel " + std::to_string(panel) + " " + text.toStdString());
            Status[panel] = text.toStdString();
        };
        owner.ResetLevelBars = [this] { Calls.push_back("level bars 0"); };
        owner.SetLevelTimerEnabled = [this](bool on) {
            Calls.push_back(on ? "level timer on" : "level timer off");
        };
        owner.SetRezTimerInterval = [this](int ms) {
            Calls.push_back("rez timers " + std::to_string(ms));
            RezInterval = ms;
        };
        owner.ResetPressureBar = [this] { Calls.push_back("pressure bar 0"); };
        owner.CursorPos = [] { return QPoint(123, 45); };
        Form = std::make_unique<TSettingsDialog>(Engine, *Tablet, Playing, Flags, std::move(owner));
        Form->FillDriverList();
    }

    // The player picks an entry of a list.
    static void Choose(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    TFakeHost* Host; // owned by Engine
    TAudioEngine Engine;
    TWintabService Service;
    std::unique_ptr<TTablet> Tablet;
    TNoTones Tones;
    TPlaying Playing{Tones};
    TSettingsFlags Flags;
    std::vector<std::string> Calls;
    std::string Status[5];
    int RezInterval = 30; // the timers' interval before the track bar first moves
    std::unique_ptr<TSettingsDialog> Form;
};

} // namespace varko::test
