// The session kept between runs: what was open and set at the last exit.
#include "instrument/Instrument.h"

#include "core/Texts.h"
#include "files/GestureScript.h"

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

} // namespace

TVarkoSettings TInstrument::SettingsWithSession() const {
    TVarkoSettings s = settings_;
    s.SessionScale = ScalePath;
    s.SessionKeyboardMapping = KbmPath;
    // The shortest text that reads back as the same float.
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, InitialFrequency);
    s.SessionFrequency = ec == std::errc() ? std::string(buf, end) : std::string();
    s.SessionRepeatDown = RepeatDownCount;
    s.SessionRepeatUp = RepeatUpCount;
    s.SessionRepeatEnds = RepeatEnds;
    const int entry = SelectedModeFile();
    s.SessionModeFile = ExternalObject && entry >= 0 && entry < static_cast<int>(History.size())
                            ? History[static_cast<size_t>(entry)]
                            : std::string();
    s.SessionEnd = static_cast<int32_t>(End);
    s.SessionModeLimit = ModeLimit;
    s.SessionWeighting = ModeWeighting;
    s.SessionResonance = playing_.ResonanceFader();
    return s;
}

void TInstrument::SetRestoreSession(bool on) {
    settings_.RestoreSession = on;
}

void TInstrument::SetShowNoTabletNotice(bool on) {
    settings_.ShowNoTabletNotice = on;
}

void TInstrument::SetLabelKind(int kind) {
    settings_.LabelKind = std::clamp(kind, 0, 3);
}

void TInstrument::SetPanelChoice(const std::string& driver, int bufferSize, int sampleRate) {
    settings_.PanelDriver = driver;
    settings_.PanelBufferSize = bufferSize;
    settings_.PanelSampleRate = sampleRate;
}

void TInstrument::RestoreSessionParameters() {
    const TVarkoSettings& s = settings_;
    double f = 0.0;
    if (!s.SessionFrequency.empty() && ReadDecimal(s.SessionFrequency, f) && f > 0.0) {
        InitialFrequency = static_cast<float>(f);
    }
    RepeatDownCount = s.SessionRepeatDown;
    RepeatUpCount = s.SessionRepeatUp;
    RepeatEnds = s.SessionRepeatEnds;
    End = static_cast<TEndType>(s.SessionEnd);
    ModeLimit = s.SessionModeLimit;
    ModeWeighting = s.SessionWeighting;
    ExternalObject = !s.SessionModeFile.empty();
    playing_.SetResonanceFader(s.SessionResonance);
}

void TInstrument::RestoreSessionFiles(std::string& missing) {
    missing.clear();
    const TVarkoSettings& s = settings_;
    if (!s.SessionModeFile.empty()) {
        if (!Exists(s.SessionModeFile) || !LoadModeFile(s.SessionModeFile)) {
            ExternalObject = false;
            missing += Filled(text::SessionModeFileMissing, s.SessionModeFile) + "\n";
        }
    }
    if (!s.SessionKeyboardMapping.empty()) {
        KeyboardMapping kbm = Exists(s.SessionKeyboardMapping)
                                  ? ReadKeyboardMapping(s.SessionKeyboardMapping)
                                  : KeyboardMapping{};
        if (kbm.Usable) {
            Kbm = std::move(kbm);
            KbmPath = s.SessionKeyboardMapping;
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
    } else if (ExternalObject) {
        RefreshTones();
    }
    if (!missing.empty()) {
        missing.pop_back();
    }
}

} // namespace varko
