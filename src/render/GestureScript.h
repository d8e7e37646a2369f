// The performance script of the render tool: one timed event per line.
//   pen T X Y P     the pen at X, Y (0..1 across and down the tone zone), pressure P (0 lifts)
//   tone T I P S X  tone I gets pressure P, speed S and strike position X directly
//   fader T Q       the resonance fader moves to position Q (0..200)
// T is in seconds (0 .. MaxScriptSeconds); "#" starts a comment line; numbers use "." whatever
// the locale.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace varko {

// Longest performance, in seconds, for a script's times and for --seconds: a day.
inline constexpr double MaxScriptSeconds = 86400.0;

struct TGestureEvent {
    enum class TKind { Pen, Tone, Fader };
    TKind Kind = TKind::Pen;
    double Time = 0.0; // seconds
    int Line = 0;      // line number in the script, from 1
    // pen: X, Y, Pressure; tone: Tone, Pressure, Speed, X (strike position); fader: Position
    double X = 0.0;
    double Y = 0.0;
    double Pressure = 0.0;
    double Speed = 0.0;
    int Tone = 0;
    int Position = 0;
};

struct TGestureScript {
    std::vector<TGestureEvent> Events; // in time order; equal times keep the script's order
    // Time of the last event, 0 without events.
    double EndTime() const;
};

// A decimal or whole number of a script or an option ("." whatever the locale).
bool ReadDecimal(const std::string& text, double& value);
bool ReadWhole(const std::string& text, long long& value);

// Parses a script. On the first malformed line returns nothing and sets error to a message
// that names the line ("line 7: ...").
std::optional<TGestureScript> ParseGestureScript(const std::string& text, std::string& error);

// Reads and parses a file; a file that cannot be read gives a message naming it.
std::optional<TGestureScript> LoadGestureScript(const std::string& path, std::string& error);

} // namespace varko
