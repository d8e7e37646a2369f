// The performance script of the render tool and of recordings: one timed event per line.
//   pen T X Y P          the pen at X, Y (0..1 across and down the tone zone), pressure P (0 lifts)
//   tone T I P S X       tone I gets pressure P, speed S and strike position X directly
//   fader T Q            the resonance fader moves to position Q (0..200)
//   master T Q           the master fader moves to position Q (0..200)
//   stereo T S R         stereo separation S and two-row panning R, each 0 or 1
//   note T N V           MIDI note N (0..127) struck with velocity V (1..127) on channel 1, or
//                        released with V = 0, played as a MIDI keyboard plays it
//   rebuild T KEY=VALUE...  the tone bank is built anew (keys: see TGestureRebuild)
//   pitch T I R          tone I sounds at R times its built frequency (1/16..16; 1 unbent)
// T is a time in seconds (0 .. MaxScriptSeconds), or @N: sample N of the performance, the first
// one the event is heard in (N at most MaxScriptSeconds at the highest rate). "#" starts a comment
// line; numbers use "." whatever the locale.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varko {

// Longest performance, in seconds, for a script's times and for --seconds: a day.
inline constexpr double MaxScriptSeconds = 86400.0;
// The highest sample rate a performance is rendered at.
inline constexpr double MaxScriptRate = 384000.0;

// Everything a rebuild needs besides the player's settings; files are named relative to the
// script's folder.
struct TGestureRebuild {
    std::string Scale;               // scale=FILE
    std::string Modes;               // modes=FILE, or "-": the uniform bar
    double InitialFrequency = 200.0; // frequency=HZ
    int Down = 0;                    // down=N (0..10)
    int Up = 0;                      // up=N (0..10)
    bool RepeatEnds = false;         // ends=0|1
    int End = 1;                     // end=free|fixed|hinged -> 1, 2, 3
    int Weighting = 6;               // weighting=P (0..11)
    int ModeLimit = 8;               // limit=N (>= 1)
    bool Interpolate = false;        // interpolate=0|1
    std::vector<uint32_t> Seeds;     // seeds=S0,S1,...: tone i's noise seed (optional)
};

struct TGestureEvent {
    enum class TKind { Pen, Tone, Fader, Master, Stereo, Rebuild, Midi, Pitch };
    TKind Kind = TKind::Pen;
    double Time = 0.0;              // seconds, when Sample is not given
    std::optional<uint64_t> Sample; // @N
    int Line = 0;                   // line number in the script, from 1
    // pen: X, Y, Pressure; tone: Tone, Pressure, Speed, X (strike position); fader, master:
    // Position; stereo: Stereo, TwoRows; rebuild: Rebuild, an index into the script's Rebuilds;
    // pitch: Tone, X (the ratio)
    double X = 0.0;
    double Y = 0.0;
    double Pressure = 0.0;
    double Speed = 0.0;
    int Tone = 0;
    int Position = 0;
    bool Stereo = true;
    bool TwoRows = false;
    int Rebuild = -1;
    // midi: one channel message (from a note line or a MIDI file), status byte first
    std::array<uint8_t, 3> Bytes{};
    int Size = 0;

    // When the event happens, in seconds, at a rate for sample positions.
    double Seconds(double rate) const {
        return Sample ? static_cast<double>(*Sample) / rate : Time;
    }
};

struct TGestureScript {
    // Scripts timed in seconds only: in time order, equal times in the script's order. With
    // sample positions: in the script's order (a player orders them by the block they reach).
    std::vector<TGestureEvent> Events;
    std::vector<TGestureRebuild> Rebuilds;
    // The line the script was cut off in (a recording ended by a crash or a full disk), left
    // out; 0 for a script read to its end.
    int StoppedEarlyAt = 0;
    // Time of the last event timed in seconds, 0 without such events.
    double EndTime() const;
    // Largest sample position of an event, 0 without such events.
    uint64_t EndSample() const;
};

// A recording of an hour of busy playing stays well below this; anything bigger is not a
// performance script (and a recording stops before its gesture grows past it).
inline constexpr std::size_t MaxScriptBytes = 256u << 20;

// A decimal or whole number of a script or an option ("." whatever the locale).
bool ReadDecimal(const std::string& text, double& value);
bool ReadWhole(const std::string& text, long long& value);

// Parses a script. On the first malformed line returns nothing and sets error to a message
// that names the line ("line 7: ..."). A last line without its line end that does not read is
// a line cut short: the events before it are kept, and StoppedEarlyAt names it. Once *stop is
// set (from another thread) the parse gives up soon with nothing.
std::optional<TGestureScript> ParseGestureScript(const std::string& text, std::string& error,
                                                 const std::atomic<bool>* stop = nullptr);

// Reads and parses a file; a file that cannot be read gives a message naming it.
std::optional<TGestureScript> LoadGestureScript(const std::string& path, std::string& error,
                                                const std::atomic<bool>* stop = nullptr);

// The line of an event stamped with a sample position (rebuild: the script's Rebuilds[e.Rebuild]),
// without its line end. Every number reads back as the same value.
std::string GestureLine(const TGestureEvent& e, uint64_t sample, const TGestureRebuild* rebuild);

} // namespace varko
