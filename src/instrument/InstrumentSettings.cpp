// The instrument's settings: what each one changes, and the settings file.
#include "instrument/Instrument.h"

#include "core/Texts.h"
#include "engine/FaderLaws.h"
#include "files/IniFile.h"

#include <algorithm>
#include <filesystem>

namespace varko {

namespace {

constexpr int ResonanceRateMin = 1;
constexpr int ResonanceRateMax = 10;

// The stored driver: its name when the index no longer names it (device lists change between
// runs), else the index; -1 when neither is in the list.
int DriverIndexFor(const std::vector<std::string>& list, const TVarkoSettings& s) {
    const int count = static_cast<int>(list.size());
    const bool inList = s.ASIOdriver >= 0 && s.ASIOdriver < count;
    if (!s.ASIOdriverName.empty()) {
        if (inList && list[static_cast<size_t>(s.ASIOdriver)] == s.ASIOdriverName) {
            return s.ASIOdriver;
        }
        const auto byName = std::find(list.begin(), list.end(), s.ASIOdriverName);
        if (byName != list.end()) {
            return static_cast<int>(byName - list.begin());
        }
    }
    return inList ? s.ASIOdriver : -1;
}

} // namespace

void TInstrument::SetStereoSeparation(bool on) {
    settings_.StereoSeparation = on;
    UpdateStereoConstants();
}

void TInstrument::UpdateStereoConstants() {
    if (!engine_) {
        return;
    }
    TPlayingChange c;
    c.Kind = TPlayingChange::TKind::Mix;
    c.Stereo = settings_.StereoSeparation;
    c.TwoRows = settings_.Paint2Rows;
    // Without tones the constants stay as they are.
    TStereoConstants pan;
    if (!StereoConstants(static_cast<int>(engine_->Oscillators.size()), c.TwoRows, pan)) {
        pan.PanOffset = engine_->PanOffset.load(std::memory_order_relaxed);
        pan.PanStep = engine_->PanStep.load(std::memory_order_relaxed);
    }
    c.PanOffset = pan.PanOffset;
    c.PanStep = pan.PanStep;
    engine_->Change(c);
}

void TInstrument::SetInterpolateDelays(bool on) {
    settings_.InterpolateDelays = on;
}

void TInstrument::SetMasterLevel(int position) {
    settings_.MasterLevel = std::clamp(position, FaderMin, FaderMax);
    if (engine_) {
        TPlayingChange c;
        c.Kind = TPlayingChange::TKind::Master;
        c.Value = MasterGainFromFader(settings_.MasterLevel);
        c.Fader = settings_.MasterLevel;
        engine_->Change(c);
    }
}

void TInstrument::SetLimiter(bool on) {
    settings_.Limiter = on;
    if (engine_) {
        engine_->Limit.store(on, std::memory_order_relaxed);
    }
}

void TInstrument::SetResonanceControl(int index) {
    settings_.ResonanceControl = std::clamp(index, -1, 1);
    // No button chosen leaves the buttons as they are.
    if (settings_.ResonanceControl == 0) {
        playing_.ResonanceRaiseButton = TMouseButton::mbMiddle;
        playing_.ResonanceLowerButton = TMouseButton::mbRight;
    } else if (settings_.ResonanceControl == 1) {
        playing_.ResonanceRaiseButton = TMouseButton::mbRight;
        playing_.ResonanceLowerButton = TMouseButton::mbMiddle;
    }
}

void TInstrument::SetResonanceRate(int rate) {
    settings_.ResonanceRate = std::clamp(rate, ResonanceRateMin, ResonanceRateMax);
}

void TInstrument::SetMousePressure(bool on) {
    if (settings_.AllowMouse == on && playing_.MousePressure == on) {
        return;
    }
    settings_.AllowMouse = on;
    playing_.MousePressure = on;
    if (on && CursorPosition) {
        // Mouse speed is measured from here, so the first move does not jump.
        std::tie(playing_.LastPointerX, playing_.LastPointerY) = CursorPosition();
    } else {
        playing_.LastPointerX = 0;
        playing_.LastPointerY = 0;
    }
}

void TInstrument::SetMouseGlide(bool on) {
    settings_.MouseGlide = on;
    playing_.MouseGlide = on;
}

void TInstrument::SetShowMainLevels(bool on) {
    settings_.ShowMainLevels = on;
    if (engine_) {
        engine_->MeterPeaks.store(on, std::memory_order_relaxed);
    }
}

void TInstrument::SetShowPressureLevel(bool on) {
    settings_.ShowPressureLevel = on;
    playing_.ShowPressureLevel = on;
}

void TInstrument::SetShowFrequencyLabels(bool on) {
    settings_.ShowFrequencyLabels = on;
}

void TInstrument::SetPaint2Rows(bool on) {
    settings_.Paint2Rows = on;
    UpdateStereoConstants();
}

void TInstrument::SetColoredToneZone(bool on) {
    settings_.ColoredToneZone = on;
}

void TInstrument::SetMidiInput(const std::string& port) {
    settings_.MidiInput = port;
}

void TInstrument::SetReferenceNote(int note) {
    settings_.ReferenceNote = std::clamp(note, 0, 127);
    midi_.SetReferenceNote(settings_.ReferenceNote);
}

void TInstrument::SetMpe(bool on) {
    settings_.MPE = on;
    midi_.SetMpe(on);
}

void TInstrument::SetBendPitch(bool on) {
    const bool changed = settings_.BendPitch != on;
    settings_.BendPitch = on;
    midi_.SetBendPitch(on);
    // The rings' room to bend down comes with the bank.
    if (changed && engine_ && !engine_->Oscillators.empty()) {
        RefreshTones();
    }
}

void TInstrument::SetKeyReleaseDamps(bool on) {
    settings_.KeyReleaseDamps = on;
    midi_.SetReleaseDamps(on);
}

void TInstrument::SetToneThreads(bool perCore, int poolThreads) {
    poolThreads = std::clamp(poolThreads, 0, MaxPoolThreads);
    if (settings_.ToneThreadsPerCore == perCore && settings_.PoolThreads == poolThreads) {
        return;
    }
    settings_.ToneThreadsPerCore = perCore;
    settings_.PoolThreads = poolThreads;
    if (engine_ && !engine_->Oscillators.empty()) {
        RefreshTones();
    }
}

void TInstrument::ApplySettings(const TVarkoSettings& s) {
    SelectDriver(DriverIndexFor(DriverList(), s));
    SelectChannelPair(s.ASIOchannel);
    SetStereoSeparation(s.StereoSeparation);
    SetMasterLevel(s.MasterLevel);
    SetLimiter(s.Limiter);
    SetInterpolateDelays(s.InterpolateDelays);
    SetResonanceControl(s.ResonanceControl);
    SetResonanceRate(s.ResonanceRate);
    if (!MousePressureForced) {
        SetMousePressure(s.AllowMouse);
    }
    SetMouseGlide(s.MouseGlide);
    SetShowMainLevels(s.ShowMainLevels);
    SetShowPressureLevel(s.ShowPressureLevel);
    SetShowFrequencyLabels(s.ShowFrequencyLabels);
    SetPaint2Rows(s.Paint2Rows);
    SetColoredToneZone(s.ColoredToneZone);
    SetMidiInput(s.MidiInput);
    SetReferenceNote(s.ReferenceNote);
    SetMpe(s.MPE);
    SetBendPitch(s.BendPitch);
    SetKeyReleaseDamps(s.KeyReleaseDamps);
    SetPanelChoice(s.PanelDriver, s.PanelBufferSize, s.PanelSampleRate);
    SetShowNoTabletNotice(s.ShowNoTabletNotice);
    SetLabelKind(s.LabelKind);
    SetRestoreSession(s.RestoreSession);
    // The session is opened by the owner, when it is ready to show it.
    settings_.SessionScale = s.SessionScale;
    settings_.SessionKeyboardMapping = s.SessionKeyboardMapping;
    settings_.SessionFrequency = s.SessionFrequency;
    settings_.SessionRepeatDown = s.SessionRepeatDown;
    settings_.SessionRepeatUp = s.SessionRepeatUp;
    settings_.SessionRepeatEnds = s.SessionRepeatEnds;
    settings_.SessionModeFile = s.SessionModeFile;
    settings_.SessionEnd = s.SessionEnd;
    settings_.SessionModeLimit = s.SessionModeLimit;
    settings_.SessionWeighting = s.SessionWeighting;
    settings_.SessionResonance = s.SessionResonance;
    SetToneThreads(s.ToneThreadsPerCore, s.PoolThreads);
    Changed();
}

bool TInstrument::LoadSettingsFile(const std::string& path, std::string& message) {
    message.clear();
    try {
        TIniFile ini;
        const bool readable = ini.Load(path) != TIniFile::TLoadResult::Unreadable;
        // A file that cannot be read still leaves the audio started as on a first run.
        ApplySettings(readable ? ReadSettings(ini) : TVarkoSettings{});
        if (readable) {
            return true;
        }
    } catch (...) {
    }
    message = text::SettingsNotRetrieved;
    return false;
}

bool TInstrument::SaveSettingsFile(const std::string& path, std::string& message) const {
    message.clear();
    try {
        const std::string folder = std::filesystem::path(path).parent_path().string();
        TIniFile ini;
        // An existing file that cannot be read is not overwritten: the player's other keys
        // would be lost.
        if ((folder.empty() || EnsureFolder(folder)) &&
            ini.Load(path) != TIniFile::TLoadResult::Unreadable) {
            WriteSettings(ini, SettingsWithSession());
            if (ini.Save(path)) {
                return true;
            }
        }
    } catch (...) {
    }
    message = text::SettingsNotSaved;
    return false;
}

} // namespace varko
