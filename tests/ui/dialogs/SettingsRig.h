// A settings dialog over an instrument with a scripted audio host, a tablet service and a
// recording owner.
#pragma once

#include "instrument/FakeHost.h"
#include "tablet/Tablet.h"
#include "ui/dialogs/SettingsDialog.h"

#include <QComboBox>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace varko::test {

// Everything the dialog reaches, with the owner's calls recorded in order.
struct TSettingsRig {
    explicit TSettingsRig(std::vector<TFakeHost::TDriver> drivers = StandardDrivers(),
                          bool withTablet = true)
        : Host(new TFakeHost(std::move(drivers))) {
        Instrument.AttachHost(std::unique_ptr<IAudioHost>(Host));
        Instrument.CursorPosition = [] { return std::pair<float, float>(123, 45); };
        Service.Available = true;
        Service.DeviceName = "Test Pen";
        Tablet = std::make_unique<TTablet>(withTablet ? &Service : nullptr);
        Tablet->SetEnabled(true);
        TSettingsOwner owner;
        owner.RepaintToneZone = [this] { Calls.push_back("repaint"); };
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
        Form = std::make_unique<TSettingsDialog>(Instrument, *Tablet, std::move(owner));
        Form->FillDriverList();
    }

    // The player picks an entry of a list.
    static void Choose(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    TFakeHost* Host; // owned by the instrument's engine
    TInstrument Instrument;
    TAudioEngine& Engine() { return Instrument.Audio().Engine(); }
    TPlaying& Playing() { return Instrument.Playing(); }
    TWintabService Service;
    std::unique_ptr<TTablet> Tablet;
    std::vector<std::string> Calls;
    std::string Status[5];
    int RezInterval = 30; // the timers' interval before the track bar first moves
    std::unique_ptr<TSettingsDialog> Form;
};

} // namespace varko::test
