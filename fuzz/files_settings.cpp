// Any bytes as Varko.ini: every setting lands in its range, and writing the settings back and
// reading the result gives the same settings (the player's other lines in between or not).
#include "files/IniFile.h"
#include "files/SettingsFile.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

bool Same(const varko::TVarkoSettings& a, const varko::TVarkoSettings& b) {
    return a.ASIOdriver == b.ASIOdriver && a.ASIOdriverName == b.ASIOdriverName &&
           a.ASIOchannel == b.ASIOchannel && a.StereoSeparation == b.StereoSeparation &&
           a.InterpolateDelays == b.InterpolateDelays && a.MasterLevel == b.MasterLevel &&
           a.ResonanceControl == b.ResonanceControl && a.ResonanceRate == b.ResonanceRate &&
           a.AllowMouse == b.AllowMouse && a.ShowMainLevels == b.ShowMainLevels &&
           a.ShowPressureLevel == b.ShowPressureLevel &&
           a.ShowFrequencyLabels == b.ShowFrequencyLabels && a.Paint2Rows == b.Paint2Rows &&
           a.ColoredToneZone == b.ColoredToneZone;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    varko::TIniFile ini;
    ini.SetText(std::string(reinterpret_cast<const char*>(data), size));
    const varko::TVarkoSettings s = varko::ReadSettings(ini);
    if (s.MasterLevel < 0 || s.MasterLevel > 200 || s.ResonanceRate < 1 || s.ResonanceRate > 10 ||
        s.ResonanceControl < -1 || s.ResonanceControl > 1) {
        std::abort();
    }
    varko::WriteSettings(ini, s);
    std::string text;
    for (const std::string& line : ini.Lines()) {
        text += line + "\r\n";
    }
    varko::TIniFile again;
    again.SetText(text);
    if (!Same(varko::ReadSettings(again), s)) {
        std::abort();
    }
    return 0;
}
