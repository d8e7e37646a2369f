#include "render/GestureScript.h"

#include "files/NumberParse.h"
#include "files/TextFile.h"
#include "instrument/Playing.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <sstream>

namespace varko {

namespace {

// Performance scripts are small; anything bigger is not one.
constexpr std::size_t MaxScriptBytes = 64u << 20;

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> w;
    std::string cur;
    for (const char c : line) {
        if (c == ' ' || c == '\t') {
            if (!cur.empty()) {
                w.push_back(cur);
                cur.clear();
            }
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) {
        w.push_back(cur);
    }
    return w;
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
    return Events.empty() ? 0.0 : Events.back().Time;
}

std::optional<TGestureScript> ParseGestureScript(const std::string& text, std::string& error) {
    TGestureScript script;
    std::istringstream in(text);
    std::string line;
    int lineNo = 0;
    auto fail = [&](const std::string& why) {
        error = "line " + std::to_string(lineNo) + ": " + why;
        return std::nullopt;
    };
    while (std::getline(in, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const auto w = Words(line);
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
        } else {
            return fail("unknown event \"" + kind + "\" (expected pen, tone or fader)");
        }
        if (w.size() != want) {
            return fail("\"" + kind + "\" takes " + std::to_string(want - 1) + " values, found " +
                        std::to_string(w.size() - 1));
        }
        if (!ReadDecimal(w[1], e.Time) || e.Time < 0.0 || e.Time > MaxScriptSeconds) {
            return fail("the time \"" + w[1] + "\" is not a number of seconds from 0 to " +
                        ReadableNumber(MaxScriptSeconds));
        }
        switch (e.Kind) {
        case TGestureEvent::TKind::Pen:
            if (!ReadDecimal(w[2], e.X) || !ReadDecimal(w[3], e.Y)) {
                return fail("the pen position must be two numbers");
            }
            if (!ReadDecimal(w[4], e.Pressure) || e.Pressure < 0.0 || e.Pressure > 1.0) {
                return fail("the pressure \"" + w[4] + "\" must be a number from 0 to 1");
            }
            break;
        case TGestureEvent::TKind::Tone:
            if (!Whole(w[2], e.Tone) || e.Tone < 0) {
                return fail("the tone \"" + w[2] + "\" must be a tone index >= 0");
            }
            if (!ReadDecimal(w[3], e.Pressure) || e.Pressure < 0.0 || e.Pressure > 1.0) {
                return fail("the pressure \"" + w[3] + "\" must be a number from 0 to 1");
            }
            if (!ReadDecimal(w[4], e.Speed) || e.Speed < 0.0 || e.Speed > MaxSpeed) {
                return fail("the speed \"" + w[4] + "\" must be a number from 0 to " +
                            ReadableNumber(MaxSpeed));
            }
            if (!ReadDecimal(w[5], e.X) || e.X < 0.0 || e.X > 1.0) {
                return fail("the strike position \"" + w[5] + "\" must be a number from 0 to 1");
            }
            break;
        case TGestureEvent::TKind::Fader:
            if (!Whole(w[2], e.Position) || e.Position < 0 || e.Position > 200) {
                return fail("the fader position \"" + w[2] +
                            "\" must be a whole number from 0 "
                            "to 200");
            }
            break;
        }
        script.Events.push_back(e);
    }
    std::stable_sort(
        script.Events.begin(), script.Events.end(),
        [](const TGestureEvent& a, const TGestureEvent& b) { return a.Time < b.Time; });
    return script;
}

std::optional<TGestureScript> LoadGestureScript(const std::string& path, std::string& error) {
    const auto text = ReadFileCapped(path, MaxScriptBytes);
    if (!text) {
        error = "cannot read the performance script \"" + path + "\"";
        return std::nullopt;
    }
    std::string inner;
    auto script = ParseGestureScript(*text, inner);
    if (!script) {
        error = path + ", " + inner;
    }
    return script;
}

} // namespace varko
