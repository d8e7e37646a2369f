#include "files/SettingsFile.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace varko {

namespace {
constexpr const char* Sound = "Sound";
constexpr const char* Input = "Input";
constexpr const char* UI = "UI";
constexpr const char* Midi = "MIDI";
constexpr const char* Session = "Session";
constexpr const char* Engine = "Engine";
constexpr const char* PerCore = "PerCore";
constexpr const char* PerTone = "PerTone";
} // namespace

TVarkoSettings ReadSettings(const TIniFile& ini) {
    TVarkoSettings s;
    s.ASIOdriver = ini.ReadInteger(Sound, "ASIOdriver", s.ASIOdriver);
    s.ASIOdriverName = ini.ReadString(Sound, "ASIOdriverName").value_or("");
    s.ASIOchannel = ini.ReadInteger(Sound, "ASIOchannel", s.ASIOchannel);
    s.StereoSeparation = ini.ReadBool(Sound, "StereoSeparation", s.StereoSeparation);
    s.InterpolateDelays = ini.ReadBool(Sound, "InterpolateDelays", s.InterpolateDelays);
    s.MasterLevel = std::clamp(ini.ReadInteger(Sound, "MasterLevel", s.MasterLevel), 0, 200);
    s.Limiter = ini.ReadBool(Sound, "Limiter", s.Limiter);
    s.ResonanceControl =
        std::clamp(ini.ReadInteger(Input, "ResonanceControl", s.ResonanceControl), -1, 1);
    s.ResonanceRate = std::clamp(ini.ReadInteger(Input, "ResonanceRate", s.ResonanceRate), 1, 10);
    s.AllowMouse = ini.ReadBool(Input, "AllowMouse", s.AllowMouse);
    s.MouseGlide = ini.ReadBool(Input, "MouseGlide", s.MouseGlide);
    s.ShowMainLevels = ini.ReadBool(UI, "ShowMainLevels", s.ShowMainLevels);
    s.ShowPressureLevel = ini.ReadBool(UI, "ShowPressureLevel", s.ShowPressureLevel);
    s.ShowFrequencyLabels = ini.ReadBool(UI, "ShowFrequencyLabels", s.ShowFrequencyLabels);
    s.Paint2Rows = ini.ReadBool(UI, "Paint2Rows", s.Paint2Rows);
    s.ColoredToneZone = ini.ReadBool(UI, "ColoredToneZone", s.ColoredToneZone);
    s.MidiInput = ini.ReadString(Midi, "Input").value_or("");
    s.ReferenceNote = std::clamp(ini.ReadInteger(Midi, "ReferenceNote", s.ReferenceNote), 0, 127);
    s.MPE = ini.ReadBool(Midi, "MPE", s.MPE);
    s.KeyReleaseDamps = ini.ReadBool(Midi, "KeyReleaseDamps", s.KeyReleaseDamps);
    s.BendPitch = ini.ReadString(Midi, "PitchBend").value_or("Pitch") != "Bow";
    s.PanelDriver = ini.ReadString(Sound, "PanelDriver").value_or("");
    s.PanelBufferSize = std::clamp(ini.ReadInteger(Sound, "PanelBufferSize", 0), 0, 65536);
    s.PanelSampleRate = std::clamp(ini.ReadInteger(Sound, "PanelSampleRate", 0), 0, 1000000);
    s.ShowNoTabletNotice = ini.ReadBool(UI, "ShowNoTabletNotice", s.ShowNoTabletNotice);
    s.LabelKind = std::clamp(ini.ReadInteger(UI, "LabelKind", s.LabelKind), 0, 3);
    s.RestoreSession = ini.ReadBool(Session, "Restore", s.RestoreSession);
    s.SessionScale = ini.ReadString(Session, "Scale").value_or("");
    s.SessionKeyboardMapping = ini.ReadString(Session, "KeyboardMapping").value_or("");
    s.SessionFrequency = ini.ReadString(Session, "InitialFrequency").value_or("");
    s.SessionRepeatDown = std::clamp(ini.ReadInteger(Session, "RepeatDown", 0), 0, 10);
    s.SessionRepeatUp = std::clamp(ini.ReadInteger(Session, "RepeatUp", 0), 0, 10);
    s.SessionRepeatEnds = ini.ReadBool(Session, "RepeatEnds", false);
    s.SessionModeFile = ini.ReadString(Session, "ModeFile").value_or("");
    s.SessionEnd = std::clamp(ini.ReadInteger(Session, "End", 1), 1, 3);
    s.SessionModeLimit = std::clamp(ini.ReadInteger(Session, "ModeLimit", 8), 1, 100);
    s.SessionWeighting = std::clamp(ini.ReadInteger(Session, "Weighting", 6), 0, 11);
    s.SessionResonance = std::clamp(ini.ReadInteger(Session, "Resonance", 10), 0, 200);
    s.ToneThreadsPerCore = ini.ReadString(Engine, "ToneThreads").value_or(PerTone) == PerCore;
    s.PoolThreads =
        std::clamp(ini.ReadInteger(Engine, "PoolThreads", s.PoolThreads), 0, MaxPoolThreads);
    return s;
}

void WriteSettings(TIniFile& ini, const TVarkoSettings& s) {
    ini.WriteInteger(Sound, "ASIOdriver", s.ASIOdriver);
    ini.WriteString(Sound, "ASIOdriverName", s.ASIOdriverName);
    ini.WriteInteger(Sound, "ASIOchannel", s.ASIOchannel);
    ini.WriteBool(Sound, "StereoSeparation", s.StereoSeparation);
    ini.WriteBool(Sound, "InterpolateDelays", s.InterpolateDelays);
    ini.WriteInteger(Sound, "MasterLevel", s.MasterLevel);
    ini.WriteBool(Sound, "Limiter", s.Limiter);
    ini.WriteInteger(Input, "ResonanceControl", s.ResonanceControl);
    ini.WriteInteger(Input, "ResonanceRate", s.ResonanceRate);
    ini.WriteBool(Input, "AllowMouse", s.AllowMouse);
    ini.WriteBool(Input, "MouseGlide", s.MouseGlide);
    ini.WriteBool(UI, "ShowMainLevels", s.ShowMainLevels);
    ini.WriteBool(UI, "ShowPressureLevel", s.ShowPressureLevel);
    ini.WriteBool(UI, "ShowFrequencyLabels", s.ShowFrequencyLabels);
    ini.WriteBool(UI, "Paint2Rows", s.Paint2Rows);
    ini.WriteBool(UI, "ColoredToneZone", s.ColoredToneZone);
    ini.WriteString(Midi, "Input", s.MidiInput);
    ini.WriteInteger(Midi, "ReferenceNote", s.ReferenceNote);
    ini.WriteBool(Midi, "MPE", s.MPE);
    ini.WriteBool(Midi, "KeyReleaseDamps", s.KeyReleaseDamps);
    ini.WriteString(Midi, "PitchBend", s.BendPitch ? "Pitch" : "Bow");
    ini.WriteString(Sound, "PanelDriver", s.PanelDriver);
    ini.WriteInteger(Sound, "PanelBufferSize", s.PanelBufferSize);
    ini.WriteInteger(Sound, "PanelSampleRate", s.PanelSampleRate);
    ini.WriteBool(UI, "ShowNoTabletNotice", s.ShowNoTabletNotice);
    ini.WriteInteger(UI, "LabelKind", s.LabelKind);
    ini.WriteBool(Session, "Restore", s.RestoreSession);
    ini.WriteString(Session, "Scale", s.SessionScale);
    ini.WriteString(Session, "KeyboardMapping", s.SessionKeyboardMapping);
    ini.WriteString(Session, "InitialFrequency", s.SessionFrequency);
    ini.WriteInteger(Session, "RepeatDown", s.SessionRepeatDown);
    ini.WriteInteger(Session, "RepeatUp", s.SessionRepeatUp);
    ini.WriteBool(Session, "RepeatEnds", s.SessionRepeatEnds);
    ini.WriteString(Session, "ModeFile", s.SessionModeFile);
    ini.WriteInteger(Session, "End", s.SessionEnd);
    ini.WriteInteger(Session, "ModeLimit", s.SessionModeLimit);
    ini.WriteInteger(Session, "Weighting", s.SessionWeighting);
    ini.WriteInteger(Session, "Resonance", s.SessionResonance);
    ini.WriteString(Engine, "ToneThreads", s.ToneThreadsPerCore ? PerCore : PerTone);
    ini.WriteInteger(Engine, "PoolThreads", s.PoolThreads);
}

std::string SettingsFolder() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    // Relative values are to be ignored, as the XDG base directory rules say.
    if (xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* pw = getpwuid(getuid());
            home = pw != nullptr ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.config";
    }
    return base + "/Varko";
}

std::string SettingsFilePath() {
    return SettingsFolder() + "/Varko.ini";
}

std::string HistoryFilePath() {
    return SettingsFolder() + "/Varko.history";
}

bool EnsureFolder(const std::string& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

} // namespace varko
