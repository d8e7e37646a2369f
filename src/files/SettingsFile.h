// The player's settings as Varko.ini stores them, with their defaults, limits and the paths
// of the settings and history files.
#pragma once

#include "files/IniFile.h"

#include <cstdint>
#include <string>

namespace varko {

struct TVarkoSettings {
    // [Sound]
    int32_t ASIOdriver = 0;     // index in the driver list, -1 for none
    std::string ASIOdriverName; // the driver's name; device lists change between runs
    int32_t ASIOchannel = 0;    // output channel pair, -1 for none
    bool StereoSeparation = true;
    // Exact-length delay lines: every bar at its pitch. Files written before it keep theirs.
    bool InterpolateDelays = true;
    int32_t MasterLevel = 20; // master fader 0..200
    // A look-ahead peak limiter after the master gain: no clipping. Files without it get it.
    bool Limiter = true;
    // [Input]
    int32_t ResonanceControl = 0; // 0: middle raises, right lowers; 1: the reverse
    int32_t ResonanceRate = 4;    // 1 (faster) .. 10 (slower)
    bool AllowMouse = false;
    bool MouseGlide = false; // a mouse drag plays every bar it crosses
    // [UI]
    bool ShowMainLevels = true;
    bool ShowPressureLevel = true;
    bool ShowFrequencyLabels = true;
    bool Paint2Rows = false;
    bool ColoredToneZone = true;
    // [MIDI]
    std::string MidiInput;        // the chosen input port, "" for none
    int32_t ReferenceNote = 60;   // the note that plays the scale's 1/1, 0..127
    bool MPE = true;              // channel 1 reaches every note (an MPE lower zone)
    bool KeyReleaseDamps = false; // a released key damps its bar; off: the bar rings on
    bool BendPitch = true;        // PitchBend=Pitch: bend moves the pitch; Bow: it bows the bar
    // [Sound] again: what the player chose in a driver's own panel (0: the device's own), and
    // the driver it was chosen for. Kept for the next start.
    std::string PanelDriver;
    int32_t PanelBufferSize = 0;
    int32_t PanelSampleRate = 0;
    // [UI] again
    bool ShowNoTabletNotice = true;
    int32_t LabelKind = 0; // the bars' labels: 0 Hz, 1 cents, 2 ratio, 3 degree
    // [Session]: what was open at the last exit, opened again at start when RestoreSession.
    bool RestoreSession = true;
    std::string SessionScale;           // the scale file, "" for none
    std::string SessionKeyboardMapping; // the .kbm beside it, "" for one key per bar
    std::string SessionFrequency;       // the initial frequency as text, "" for the default
    int32_t SessionRepeatDown = 0;      // 0..10
    int32_t SessionRepeatUp = 0;        // 0..10
    bool SessionRepeatEnds = false;
    std::string SessionModeFile;   // the vibration mode file, "" for the uniform bar
    int32_t SessionEnd = 1;        // 1 free, 2 fixed, 3 hinged
    int32_t SessionModeLimit = 8;  // 1..100
    int32_t SessionWeighting = 6;  // 0..11
    int32_t SessionResonance = 10; // the resonance fader, 0..200
    // [Engine]
    bool ToneThreadsPerCore =
        false;               // ToneThreads: "PerCore" a pool, "PerTone" (or none) a thread each
    int32_t PoolThreads = 0; // the pool's threads, 0 for one per processor core
};

// Most threads the pool may be given: more than any desktop's cores, few enough to start.
inline constexpr int32_t MaxPoolThreads = 64;

// Reads every key with its default and limit; a missing key or a value that is not a whole
// number gives the default.
TVarkoSettings ReadSettings(const TIniFile& ini);
// Writes every key in its section and order; other keys and sections are left alone.
void WriteSettings(TIniFile& ini, const TVarkoSettings& s);

// The folder of Varko's files: $XDG_CONFIG_HOME/Varko, or ~/.config/Varko.
std::string SettingsFolder();
std::string SettingsFilePath();
std::string HistoryFilePath();

// Creates the folder (with any missing parents). Returns false when it cannot.
bool EnsureFolder(const std::string& folder);

} // namespace varko
