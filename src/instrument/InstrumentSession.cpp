// The settings as a whole and the session kept between runs: what was open and set at the last
// exit.
#include "instrument/Instrument.h"

#include "core/Texts.h"
#include "files/GestureScript.h"
#include "files/IniFile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace varko {

namespace {

std::string Filled(const char* text, const std::string& file) {
    std::string s = text;
    const size_t at = s.find("%1");
    return at == std::string::npos ? s : s.replace(at, 2, file);
}

bool Exists(const std::string& path) {
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

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

void TInstrument::ApplySettings(const TVarkoSettings& s) {
    audio_.SelectDriver(DriverIndexFor(audio_.DriverList(), s));
    audio_.SelectChannelPair(s.ASIOchannel);
    TInstrumentSettings& to = settings_;
    to.SetStereoSeparation(s.StereoSeparation);
    to.SetMasterLevel(s.MasterLevel);
    to.SetLimiter(s.Limiter);
    to.SetInterpolateDelays(s.InterpolateDelays);
    to.SetResonanceControl(s.ResonanceControl);
    to.SetResonanceRate(s.ResonanceRate);
    if (!to.MousePressureForced()) {
        to.SetMousePressure(s.AllowMouse);
    }
    to.SetMouseGlide(s.MouseGlide);
    to.SetShowMainLevels(s.ShowMainLevels);
    to.SetShowPressureLevel(s.ShowPressureLevel);
    to.SetShowFrequencyLabels(s.ShowFrequencyLabels);
    to.SetPaint2Rows(s.Paint2Rows);
    to.SetColoredToneZone(s.ColoredToneZone);
    to.SetMidiInput(s.MidiInput);
    to.SetReferenceNote(s.ReferenceNote);
    to.SetMpe(s.MPE);
    to.SetBendPitch(s.BendPitch);
    to.SetKeyReleaseDamps(s.KeyReleaseDamps);
    to.SetPanelChoice(s.PanelDriver, s.PanelBufferSize, s.PanelSampleRate);
    to.SetShowNoTabletNotice(s.ShowNoTabletNotice);
    to.SetLabelKind(s.LabelKind);
    to.SetRestoreSession(s.RestoreSession);
    // The session is opened by the owner, when it is ready to show it.
    to.StoreSession(s);
    to.SetToneThreads(s.ToneThreadsPerCore, s.PoolThreads);
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

TVarkoSettings TInstrument::SettingsWithSession() const {
    TVarkoSettings s = settings_.Stored();
    s.SessionScale = bank_.ScalePath();
    s.SessionKeyboardMapping = bank_.KbmPath();
    // The shortest text that reads back as the same float.
    char buf[32];
    const TBankParameters& p = bank_.Parameters();
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, p.InitialFrequency);
    s.SessionFrequency = ec == std::errc() ? std::string(buf, end) : std::string();
    s.SessionRepeatDown = p.RepeatDownCount;
    s.SessionRepeatUp = p.RepeatUpCount;
    s.SessionRepeatEnds = p.RepeatEnds;
    s.SessionModeFile = bank_.ExternalObject() ? modeFiles_.SelectedPath() : std::string();
    s.SessionEnd = static_cast<int32_t>(p.End);
    s.SessionModeLimit = p.ModeLimit;
    s.SessionWeighting = p.ModeWeighting;
    s.SessionResonance = playing_.ResonanceFader();
    return s;
}

void TInstrument::RestoreSessionParameters() {
    const TVarkoSettings& s = settings_.Stored();
    TBankParameters p = bank_.Parameters();
    double f = 0.0;
    if (!s.SessionFrequency.empty() && ReadDecimal(s.SessionFrequency, f) && f > 0.0) {
        p.InitialFrequency = static_cast<float>(f);
    }
    p.RepeatDownCount = s.SessionRepeatDown;
    p.RepeatUpCount = s.SessionRepeatUp;
    p.RepeatEnds = s.SessionRepeatEnds;
    p.End = static_cast<TEndType>(s.SessionEnd);
    p.ModeLimit = s.SessionModeLimit;
    p.ModeWeighting = s.SessionWeighting;
    bank_.SetParameters(p);
    bank_.SetExternalObject(!s.SessionModeFile.empty());
    playing_.SetResonanceFader(s.SessionResonance);
}

void TInstrument::RestoreSessionFiles(std::string& missing) {
    missing.clear();
    const TVarkoSettings& s = settings_.Stored();
    if (!s.SessionModeFile.empty()) {
        if (!Exists(s.SessionModeFile) || !modeFiles_.Load(s.SessionModeFile)) {
            bank_.SetExternalObject(false);
            missing += Filled(text::SessionModeFileMissing, s.SessionModeFile) + "\n";
        }
    }
    if (!s.SessionKeyboardMapping.empty()) {
        KeyboardMapping kbm = Exists(s.SessionKeyboardMapping)
                                  ? ReadKeyboardMapping(s.SessionKeyboardMapping)
                                  : KeyboardMapping{};
        if (kbm.Usable) {
            bank_.UseKeyboardMapping(std::move(kbm), s.SessionKeyboardMapping);
        } else {
            missing += Filled(text::SessionKeyboardMappingMissing, s.SessionKeyboardMapping) + "\n";
        }
    }
    if (!s.SessionScale.empty()) {
        if (Exists(s.SessionScale)) {
            OpenScale(s.SessionScale);
        } else {
            missing += Filled(text::SessionScaleMissing, s.SessionScale) + "\n";
        }
    } else if (bank_.ExternalObject()) {
        RefreshTones();
    }
    if (!missing.empty()) {
        missing.pop_back();
    }
}

} // namespace varko
