#include "files/GestureScript.h"

#include "core/PlayingLimits.h"
#include "files/NumberParse.h"
#include "files/TextFile.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string_view>

namespace varko {

namespace {

// Most tones a rebuild line may give seeds for (the bank never holds more).
constexpr size_t MaxSeeds = 4096;
// The longest line a script may have: a rebuild with every seed fits well within it.
constexpr size_t MaxLineBytes = 1u << 17;

// A word of a message, cut short when long: a hostile script's 10 MB word must never reach a
// message box whole.
constexpr size_t ShownCharacters = 40;

// The first ShownCharacters bytes, never ending inside a UTF-8 character.
std::string Head(const std::string& word) {
    size_t cut = ShownCharacters;
    while (cut > 0 && (static_cast<unsigned char>(word[cut]) & 0xC0u) == 0x80u) {
        --cut;
    }
    return word.substr(0, cut);
}

std::string Shortened(const std::string& word) {
    return word.size() <= ShownCharacters
               ? word
               : Head(word) + "\u2026 (" + std::to_string(word.size()) + " characters)";
}

std::string Quoted(const std::string& word) {
    return word.size() <= ShownCharacters
               ? "\"" + word + "\""
               : "\"" + Head(word) + "\u2026\" (" + std::to_string(word.size()) + " characters)";
}

// The words of a line into w, whose strings keep their room from line to line: a script of
// millions of lines is read without an allocation per word.
void Words(std::string_view line, std::vector<std::string>& w) {
    size_t count = 0;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) {
            ++i;
        }
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') {
            ++i;
        }
        if (i > start) {
            if (count == w.size()) {
                w.emplace_back();
            }
            w[count++].assign(line.substr(start, i - start));
        }
    }
    w.resize(count);
}

// A bound as the message shows it: the shortest text that reads back as it.
std::string ReadableNumber(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
    return ec == std::errc() ? std::string(buf, end) : std::to_string(v);
}

bool Whole(const std::string& s, int& v) {
    long long w = 0;
    if (!ReadWhole(s, w) || w < INT32_MIN || w > INT32_MAX) {
        return false;
    }
    v = static_cast<int>(w);
    return true;
}

// A playing value as the 32-bit float the tones take: read straight as a float, so that a
// recorded value comes back bit for bit.
bool Value(const std::string& s, double& v) {
    if (!ParseDecimal(s)) {
        return false;
    }
    const char* first = s.data() + (s[0] == '+' ? 1 : 0);
    float f = 0.0f;
    const auto [end, ec] = std::from_chars(first, s.data() + s.size(), f);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(f)) {
        return false;
    }
    v = f;
    return true;
}

bool Flag(const std::string& s, bool& v) {
    if (s != "0" && s != "1") {
        return false;
    }
    v = s == "1";
    return true;
}

// The value of one key of a rebuild line; false with a reason.
bool RebuildKey(const std::string& key, const std::string& value, TGestureRebuild& r,
                std::string& why) {
    long long w = 0;
    auto whole = [&](int& dst, long long lo, long long hi) {
        if (!ReadWhole(value, w) || w < lo || w > hi) {
            why = key + "=" + Shortened(value) + " must be a whole number from " +
                  std::to_string(lo) + " to " + std::to_string(hi);
            return false;
        }
        dst = static_cast<int>(w);
        return true;
    };
    if (key == "scale" || key == "modes") {
        if (value.empty()) {
            why = key + "= needs a file name";
            return false;
        }
        // A take is a closed folder: it names its own copies, never a path out of it.
        if (value.find('/') != std::string::npos || value.find('\0') != std::string::npos ||
            value == "." || value == "..") {
            why = key + "=" + Shortened(value) + " must name a file in the take's own folder";
            return false;
        }
        (key == "scale" ? r.Scale : r.Modes) = value;
        return true;
    }
    if (key == "frequency") {
        // As the command line and the window take it: 1e300 once gave "inf Hz" bars.
        if (!ReadDecimal(value, r.InitialFrequency) || !(r.InitialFrequency >= 1e-3) ||
            !(r.InitialFrequency <= 1e9)) {
            why = "frequency=" + Shortened(value) + " must be a frequency from 0.001 to 1000000000";
            return false;
        }
        return true;
    }
    if (key == "down") {
        return whole(r.Down, 0, 10);
    }
    if (key == "up") {
        return whole(r.Up, 0, 10);
    }
    if (key == "weighting") {
        return whole(r.Weighting, 0, 11);
    }
    if (key == "limit") {
        return whole(r.ModeLimit, 1, 100); // the window's and the command line's bound
    }
    if (key == "ends" || key == "interpolate") {
        if (!Flag(value, key == "ends" ? r.RepeatEnds : r.Interpolate)) {
            why = key + "=" + Shortened(value) + " must be 0 or 1";
            return false;
        }
        return true;
    }
    if (key == "end") {
        r.End = value == "free" ? 1 : value == "fixed" ? 2 : value == "hinged" ? 3 : 0;
        if (r.End == 0) {
            why = "end=" + Shortened(value) + " must be free, fixed or hinged";
            return false;
        }
        return true;
    }
    if (key == "seeds") {
        r.Seeds.clear();
        std::string item;
        std::istringstream in(value);
        while (std::getline(in, item, ',')) {
            if (!ReadWhole(item, w) || w < 0 || w > 0xFFFFFFFFLL || r.Seeds.size() >= MaxSeeds) {
                why = "seeds= must list up to " + std::to_string(MaxSeeds) +
                      " whole numbers from 0 to 4294967295, separated by commas";
                return false;
            }
            r.Seeds.push_back(static_cast<uint32_t>(w));
        }
        return true;
    }
    why = "unknown key " + Quoted(key);
    return false;
}

std::string Float(double v) {
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, static_cast<float>(v));
    return ec == std::errc() ? std::string(buf, end) : "0";
}

} // namespace

bool ReadDecimal(const std::string& text, double& value) {
    const auto parsed = ParseDecimal(text); // fails rather than giving infinity
    if (!parsed) {
        return false;
    }
    value = *parsed;
    return true;
}

bool ReadWhole(const std::string& text, long long& value) {
    const auto parsed = ParseWhole(text);
    if (!parsed) {
        return false;
    }
    value = *parsed;
    return true;
}

double TGestureScript::EndTime() const {
    double end = 0.0;
    for (const TGestureEvent& e : Events) {
        if (!e.Sample) {
            end = std::max(end, e.Time);
        }
    }
    return end;
}

uint64_t TGestureScript::EndSample() const {
    uint64_t end = 0;
    for (const TGestureEvent& e : Events) {
        end = std::max(end, e.Sample.value_or(0));
    }
    return end;
}

namespace {

std::optional<TGestureScript> ParseLines(std::string_view text, std::string& error, int& failedLine,
                                         const std::atomic<bool>* stop);

} // namespace

std::optional<TGestureScript> ParseGestureScript(const std::string& text, std::string& error,
                                                 const std::atomic<bool>* stop) {
    int failedLine = 0;
    auto script = ParseLines(text, error, failedLine, stop);
    const size_t lastEnd = text.rfind('\n');
    if (script || text.empty() || text.back() == '\n') {
        return script;
    }
    // The failure was in the unterminated last line: the writer was stopped in the middle of it.
    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (failedLine != lines) {
        return script;
    }
    std::string ignored;
    script =
        ParseLines(lastEnd == std::string::npos ? std::string_view()
                                                : std::string_view(text).substr(0, lastEnd + 1),
                   ignored, failedLine, stop);
    if (script) {
        script->StoppedEarlyAt = lines;
        error.clear();
    }
    return script;
}

namespace {

std::optional<TGestureScript> ParseLines(std::string_view text, std::string& error, int& failedLine,
                                         const std::atomic<bool>* stop) {
    TGestureScript script;
    // Every event line has at least ten characters: room for all of them at once, so that the
    // list never doubles past what the file needs.
    script.Events.reserve(std::min<size_t>(
        static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1, text.size() / 10 + 1));
    std::vector<std::string> w;
    int lineNo = 0;
    bool stamped = false;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        failedLine = lineNo;
        return std::nullopt;
    };
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        std::string_view line = text.substr(at, end - at);
        at = end + 1;
        ++lineNo;
        if (stop != nullptr && lineNo % 4096 == 0 && stop->load(std::memory_order_relaxed)) {
            return fail("stopped");
        }
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (line.size() > MaxLineBytes) {
            return fail("the line is longer than " + std::to_string(MaxLineBytes) + " characters");
        }
        Words(line, w);
        if (w.empty() || w[0][0] == '#') {
            continue;
        }
        TGestureEvent e;
        e.Line = lineNo;
        const std::string& kind = w[0];
        size_t want = 0;
        if (kind == "pen") {
            e.Kind = TGestureEvent::TKind::Pen;
            want = 5;
        } else if (kind == "tone") {
            e.Kind = TGestureEvent::TKind::Tone;
            want = 6;
        } else if (kind == "fader") {
            e.Kind = TGestureEvent::TKind::Fader;
            want = 3;
        } else if (kind == "master") {
            e.Kind = TGestureEvent::TKind::Master;
            want = 3;
        } else if (kind == "stereo") {
            e.Kind = TGestureEvent::TKind::Stereo;
            want = 4;
        } else if (kind == "note") {
            e.Kind = TGestureEvent::TKind::Midi;
            want = 4;
        } else if (kind == "pitch") {
            e.Kind = TGestureEvent::TKind::Pitch;
            want = 4;
        } else if (kind == "rebuild") {
            e.Kind = TGestureEvent::TKind::Rebuild;
            want = w.size() < 2 ? 2 : w.size();
        } else {
            return fail("unknown event " + Quoted(kind) +
                        " (expected pen, tone, fader, master, stereo, note, pitch or rebuild)");
        }
        if (w.size() != want) {
            return fail(Quoted(kind) + " takes " + std::to_string(want - 1) + " values, found " +
                        std::to_string(w.size() - 1));
        }
        if (w[1][0] == '@') {
            long long n = 0;
            if (!ReadWhole(w[1].substr(1), n) || n < 0 ||
                static_cast<double>(n) > MaxScriptSeconds * MaxScriptRate) {
                return fail("the sample position " + Quoted(w[1]) +
                            " is not @ and a whole number from 0 to " +
                            ReadableNumber(MaxScriptSeconds * MaxScriptRate));
            }
            e.Sample = static_cast<uint64_t>(n);
            stamped = true;
        } else if (!ReadDecimal(w[1], e.Time) || e.Time < 0.0 || e.Time > MaxScriptSeconds) {
            return fail("the time " + Quoted(w[1]) + " is not a number of seconds from 0 to " +
                        ReadableNumber(MaxScriptSeconds));
        }
        switch (e.Kind) {
        case TGestureEvent::TKind::Pen:
            if (!Value(w[2], e.X) || !Value(w[3], e.Y)) {
                return fail("the pen position must be two numbers");
            }
            if (!Value(w[4], e.Pressure) || e.Pressure < 0.0 || e.Pressure > 1.0) {
                return fail("the pressure " + Quoted(w[4]) + " must be a number from 0 to 1");
            }
            break;
        case TGestureEvent::TKind::Tone:
            if (!Whole(w[2], e.Tone) || e.Tone < 0) {
                return fail("the tone " + Quoted(w[2]) + " must be a tone index >= 0");
            }
            if (!Value(w[3], e.Pressure) || e.Pressure < 0.0 || e.Pressure > 1.0) {
                return fail("the pressure " + Quoted(w[3]) + " must be a number from 0 to 1");
            }
            if (!Value(w[4], e.Speed) || e.Speed < 0.0 || e.Speed > MaxSpeed) {
                return fail("the speed " + Quoted(w[4]) + " must be a number from 0 to " +
                            ReadableNumber(MaxSpeed));
            }
            if (!Value(w[5], e.X) || e.X < 0.0 || e.X > 1.0) {
                return fail("the strike position " + Quoted(w[5]) +
                            " must be a number from 0 to 1");
            }
            break;
        case TGestureEvent::TKind::Pitch:
            if (!Whole(w[2], e.Tone) || e.Tone < 0) {
                return fail("the tone " + Quoted(w[2]) + " must be a tone index >= 0");
            }
            if (!Value(w[3], e.X) || e.X < 1.0 / 16.0 || e.X > 16.0) {
                return fail("the pitch " + Quoted(w[3]) + " must be a ratio from 0.0625 to 16");
            }
            break;
        case TGestureEvent::TKind::Fader:
        case TGestureEvent::TKind::Master:
            if (!Whole(w[2], e.Position) || e.Position < 0 || e.Position > 200) {
                return fail("the fader position " + Quoted(w[2]) +
                            " must be a whole number from 0 to 200");
            }
            break;
        case TGestureEvent::TKind::Stereo:
            if (!Flag(w[2], e.Stereo) || !Flag(w[3], e.TwoRows)) {
                return fail("stereo separation and two-row panning must be 0 or 1 each");
            }
            break;
        case TGestureEvent::TKind::Midi: {
            int note = 0, velocity = 0;
            if (!Whole(w[2], note) || note < 0 || note > 127) {
                return fail("the note " + Quoted(w[2]) + " must be a whole number from 0 to 127");
            }
            if (!Whole(w[3], velocity) || velocity < 0 || velocity > 127) {
                return fail("the velocity " + Quoted(w[3]) +
                            " must be a whole number from 0 to 127");
            }
            e.Bytes = {0x90, static_cast<uint8_t>(note), static_cast<uint8_t>(velocity)};
            e.Size = 3;
            break;
        }
        case TGestureEvent::TKind::Rebuild: {
            TGestureRebuild r;
            bool scale = false, modes = false;
            for (size_t i = 2; i < w.size(); ++i) {
                const size_t eq = w[i].find('=');
                if (eq == std::string::npos) {
                    return fail(Quoted(w[i]) + " is not KEY=VALUE");
                }
                const std::string key = w[i].substr(0, eq);
                std::string why;
                if (!RebuildKey(key, w[i].substr(eq + 1), r, why)) {
                    return fail(why);
                }
                scale = scale || key == "scale";
                modes = modes || key == "modes";
            }
            if (!scale || !modes) {
                return fail("a rebuild names its scale=FILE and modes=FILE (or modes=-)");
            }
            if (r.Modes == "-") {
                r.Modes.clear();
            }
            e.Rebuild = static_cast<int>(script.Rebuilds.size());
            script.Rebuilds.push_back(std::move(r));
            break;
        }
        }
        script.Events.push_back(e);
    }
    if (!stamped) {
        std::stable_sort(
            script.Events.begin(), script.Events.end(),
            [](const TGestureEvent& a, const TGestureEvent& b) { return a.Time < b.Time; });
    }
    return script;
}

} // namespace

std::optional<TGestureScript> LoadGestureScript(const std::string& path, std::string& error,
                                                const std::atomic<bool>* stop) {
    const auto text = ReadFileCapped(path, MaxScriptBytes);
    if (!text) {
        error = "cannot read the performance script \"" + path + "\"";
        return std::nullopt;
    }
    std::string inner;
    auto script = ParseGestureScript(*text, inner, stop);
    if (!script) {
        error = path + ", " + inner;
    }
    return script;
}

std::string GestureLine(const TGestureEvent& e, uint64_t sample, const TGestureRebuild* rebuild) {
    const std::string at = " @" + std::to_string(sample);
    switch (e.Kind) {
    case TGestureEvent::TKind::Pen:
        return "pen" + at + " " + Float(e.X) + " " + Float(e.Y) + " " + Float(e.Pressure);
    case TGestureEvent::TKind::Tone:
        return "tone" + at + " " + std::to_string(e.Tone) + " " + Float(e.Pressure) + " " +
               Float(e.Speed) + " " + Float(e.X);
    case TGestureEvent::TKind::Pitch:
        return "pitch" + at + " " + std::to_string(e.Tone) + " " + Float(e.X);
    case TGestureEvent::TKind::Fader:
        return "fader" + at + " " + std::to_string(e.Position);
    case TGestureEvent::TKind::Master:
        return "master" + at + " " + std::to_string(e.Position);
    case TGestureEvent::TKind::Stereo:
        return std::string("stereo") + at + (e.Stereo ? " 1" : " 0") + (e.TwoRows ? " 1" : " 0");
    case TGestureEvent::TKind::Midi:
        if (e.Size == 3 && e.Bytes[0] == 0x90) {
            return "note" + at + " " + std::to_string(e.Bytes[1]) + " " +
                   std::to_string(e.Bytes[2]);
        }
        // Other messages (from a MIDI file) have no line of their own.
        return "# MIDI message" + at;
    case TGestureEvent::TKind::Rebuild:
        break;
    }
    const TGestureRebuild r = rebuild ? *rebuild : TGestureRebuild{};
    char frequency[32];
    const auto [end, ec] =
        std::to_chars(frequency, frequency + sizeof frequency, r.InitialFrequency);
    std::string s =
        "rebuild" + at + " scale=" + r.Scale + " modes=" + (r.Modes.empty() ? "-" : r.Modes) +
        " frequency=" + (ec == std::errc() ? std::string(frequency, end) : "200") +
        " down=" + std::to_string(r.Down) + " up=" + std::to_string(r.Up) +
        " ends=" + (r.RepeatEnds ? "1" : "0") + " end=" +
        (r.End == 2   ? "fixed"
         : r.End == 3 ? "hinged"
                      : "free") +
        " weighting=" + std::to_string(r.Weighting) + " limit=" + std::to_string(r.ModeLimit) +
        " interpolate=" + (r.Interpolate ? "1" : "0");
    if (!r.Seeds.empty()) {
        s += " seeds=";
        for (size_t i = 0; i < r.Seeds.size(); ++i) {
            s += (i ? "," : "") + std::to_string(r.Seeds[i]);
        }
    }
    return s;
}

} // namespace varko
