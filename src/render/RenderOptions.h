// Command-line options of varko-render.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varko {

struct TRenderOptions {
    std::string Scale;               // --scale FILE (required)
    double InitialFrequency = 200.0; // --initial-frequency HZ
    int Down = 0;                    // --down N (0..10)
    int Up = 0;                      // --up N (0..10)
    bool RepeatEnds = false;         // --repeat-ends
    int End = 1;                     // --end free|fixed|hinged -> 1, 2, 3
    std::string Modes;               // --modes FILE: a vibration mode file instead of the bar
    int ModeLimit = 8;               // --mode-limit N (1..100)
    int Weighting = 6;               // --weighting P (0..11)
    int Resonance = 10;              // --resonance Q (0..200)
    int Master = 20;                 // --master P (0..200)
    bool Mono = false;               // --mono: stereo separation off
    bool Limit = false;              // --limit: the master limiter (a performance: as recorded)
    bool TwoRows = false;            // --two-rows: two-row layout and panning
    bool Interpolate = true;         // false with --no-interpolate: whole-sample delay lines
    bool ForceInterpolate = false;   // --interpolate: a performance's rebuilds interpolate too
    double Rate = 48000.0;           // --rate HZ
    int Block = 256;                 // --block N
    bool RateGiven = false;          // --rate was given (a performance keeps its own otherwise)
    bool BlockGiven = false;         // --block was given
    std::string Performance;         // --performance DIR: re-render a recorded performance
    uint32_t Seed = 1;               // --seed N
    std::string Gesture;             // --gesture FILE
    std::string Midi;                // --midi FILE: a Standard MIDI File played with the script
    int ReferenceNote = 60;          // --reference-note N: the note of the scale's 1/1
    std::string Kbm;                 // --kbm FILE: a Scala keyboard mapping for the MIDI keys
    std::optional<double> Seconds;   // --seconds T
    std::string Format = "float";    // --format wav16|wav24|float
    std::string Output;              // -o FILE
    bool PrintTones = false;         // --print-tones
    bool Help = false;               // --help
    bool Demo = false;               // --demo: render the bundled example, for a first try
    bool ListDevices = false;        // --list-devices
    bool Play = false;               // --play
    int Threads = 0;                 // --threads N: render on a pool of N threads (0: inline)
    std::string Device;              // --device NAME
    int ZoneWidth = 700;             // --zone-width PX: the tone zone the pen plays on
    int ZoneHeight = 500;            // --zone-height PX
};

// Parses argv. On an error returns nothing and sets error to a message naming the option.
std::optional<TRenderOptions> ParseRenderOptions(const std::vector<std::string>& args,
                                                 std::string& error);

// The text printed by --help.
std::string RenderUsage();

} // namespace varko
