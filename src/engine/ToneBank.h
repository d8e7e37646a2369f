// Building the tone bank: one oscillator per tone of the tone list, for the uniform bar or a
// vibration mode file, replacing the whole bank in the engine. Returns what the window shows.
#pragma once

#include "dsp/BarModes.h"
#include "engine/AudioEngine.h"
#include "engine/FaderLaws.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace varko {

// The most tones a bank holds: 72 steps to the octave over 14 octaves, and a bound on the mix's
// work per block (memory is bounded by MaxBankBytes).
inline constexpr int MaxTones = 1024;

// The most vibration modes per tone the mode limit allows.
inline constexpr int MaxModeLimit = 100;

// Largest magnitude of a mode level: a mode file's levels are taken as they are up to this, 60 dB
// above the uniform bar's fundamental, so that no level can overflow the bands.
inline constexpr float MaxModeLevel = 1000.0f;

// Most memory the bands of a whole bank may take (their delay lines, mostly): a bank beyond
// this is not built, rather than the machine run out of memory. Real objects need far less:
// 256 tones of 100 modes at 20 Hz and above take a few megabytes.
inline constexpr uint64_t MaxBankBytes = uint64_t{256} << 20;

struct TToneBankInput {
    std::vector<float> ToneRatios;   // one ratio per tone, lowest first
    float InitialFrequency = 200.0f; // hertz
    bool ExternalObject = false;     // modes from the mode file instead of the uniform bar
    TEndType End = TEndType::Free;   // the checked end type
    int ModeWeighting = 6;           // weighting position 0..11
    int ModeLimit = 8;               // 1..MaxModeLimit
    int ResonanceFader = 10;         // 0..200
    bool InterpolateDelays = false;
    // How far below its built pitch a tone may be bent, as a frequency ratio (>= 1; see
    // TWaveguideBands::Build): its rings grow by as much.
    float BendRoom = 1.0f;
    bool Paint2Rows = false;
    std::vector<float> ModeRatios; // the last mode file read
    std::vector<float> ModeLevels;
    std::string ModeFileName;        // the selected mode file's name in the list
    std::optional<uint32_t> Seed;    // tone i's noise starts from Seed + i; none: the clock
    std::vector<uint32_t> ToneSeeds; // tone i's seed, where listed (a recording's), before Seed
    // Who renders the tones; its threads at real-time priority where allowed.
    TToneRendering Rendering{TToneThreads::PerTone, 0, true};
    // A tone's build or render threw (on the rendering thread): post the news and return.
    std::function<void(TTone&)> OnFailed;
    // Makes each tone; none: a plain TTone (tests supply their own).
    std::function<std::unique_ptr<TTone>()> MakeTone;
};

struct TToneBankResult {
    int RequestedTones = 0;    // tones the tone list asks for
    int BuiltTones = 0;        // oscillators in the bank now
    bool Capped = false;       // the list was longer than MaxTones
    bool Abandoned = false;    // an oscillator died while building: bank left incomplete
    bool TooLarge = false;     // the bands would need more than MaxBankBytes: bank left empty
    uint64_t BankBytes = 0;    // the memory the bands need (or would have needed)
    bool WarnNoSound = false;  // some tone has no band: show NoSoundWarning
    bool WarnModeFile = false; // mode file unusable: show ModeFileWarning
    // The object for the status bar, when the bank is not empty.
    std::optional<std::string> ObjectDescription;
    bool Running = false;  // the engine runs again (it ran before)
    std::string CrashText; // when Abandoned: the failed tone's "class@sender: message"
};

// The modes a tone of f0 hertz gets at fs hertz: the mode file's or the uniform bar's, the mode
// limit held to 1..MaxModeLimit and the levels to +-MaxModeLevel.
TToneModes ModesOfTone(const TToneBankInput& input, float f0, float fs);

// Throws the bank away and builds it anew from the input: stops the engine if it ran, ends the
// renderer, creates one tone per entry of the tone list and has the new renderer build it and
// render its first block, sets the pan constants and ReadIndex, and restarts the engine if it
// ran. Runs on the owner's thread. A bank whose
// bands would need more than MaxBankBytes is not built (TooLarge; the bank stays empty).
TToneBankResult RefreshTones(TAudioEngine& engine, const TToneBankInput& input);

// The memory, in bytes, that the bands of the tone of f0 hertz with these modes take at fs hertz
// (an upper bound).
uint64_t BandBytes(const TToneModes& modes, float f0, float fs);

struct TStereoConstants {
    float PanOffset = 0.0f;
    float PanStep = 0.0f;
};

// Pan constants for toneCount tones in one row, or in two rows of ceil(n/2). Returns false
// (and leaves nothing to set) when there are no tones.
bool StereoConstants(int toneCount, bool twoRows, TStereoConstants& out);

// Sets the engine's pan constants for its oscillators in one or two rows.
void UpdateStereoConstants(TAudioEngine& engine, bool paint2Rows);

// The object description for the status bar.
std::string ObjectDescription(bool externalObject, TEndType end, const std::string& modeFileName);

} // namespace varko
