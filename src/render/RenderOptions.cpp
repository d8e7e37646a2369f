#include "render/RenderOptions.h"

#include "engine/ToneBank.h"
#include "files/GestureScript.h"
#include "files/SettingsFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <functional>
#include <map>

namespace varko {

std::string RenderUsage() {
    return "Usage: varko-render --scale FILE [options] -o OUT.wav\n"
           "       varko-render --scale FILE --print-tones\n"
           "       varko-render --list-devices\n"
           "       varko-render --scale FILE --gesture FILE --play [--device NAME]\n"
           "       varko-render --performance DIR -o OUT.wav [--rate HZ] [--interpolate]\n"
           "\n"
           "Plays a scripted performance on Varko's tone bank and writes it to a WAV file.\n"
           "\n"
           "  --scale FILE              the Scala scale file (required)\n"
           "  --initial-frequency HZ    frequency of the scale's 1/1 (200)\n"
           "  --down N, --up N          repeat the scale N octaves down / up, 0..10 (0)\n"
           "  --repeat-ends             repeat the first and last tones of the scale\n"
           "  --end free|fixed|hinged   end condition of the uniform bar (free)\n"
           "  --modes FILE              a vibration mode file instead of the uniform bar\n"
           "  --mode-limit N            at most N vibration modes per tone, 1..100 (8)\n"
           "  --weighting P             mode weighting 0..11: 1/n^(P/2), 11 = 1/n! (6)\n"
           "  --resonance Q             resonance fader 0..200, 0 rings longest (10)\n"
           "  --master P                master fader 0..200, 20 = unity gain (20)\n"
           "  --mono                    stereo separation off\n"
           "  --limit                   the master limiter: no sample beyond -0.5 dBFS\n"
           "  --two-rows                two-row layout and panning\n"
           "  --no-interpolate          whole-sample delay lines: less processor time, but\n"
           "                            high bars sound off their pitch (--interpolate forces\n"
           "                            exact lines on a performance recorded without them)\n"
           "  --rate HZ, --block N      sample rate (48000) and block size (256)\n"
           "  --seed N                  tone i's noise starts from N + i (1)\n"
           "  --threads N               render the tones on a pool of N threads, 1..64 (the\n"
           "                            calling thread alone; --play: as the window is set)\n"
           "  --gesture FILE            the performance script\n"
           "  --performance DIR         re-render a performance Varko recorded, with its seeds\n"
           "                            (its scale, modes, rate and block size unless given)\n"
           "  --midi FILE               a Standard MIDI File to play (with the script, if any)\n"
           "  --reference-note N        the MIDI note that plays the scale's 1/1, 0..127 (60)\n"
           "  --kbm FILE                a Scala keyboard mapping: which key plays which degree,\n"
           "                            and the frequency that tunes the scale\n"
           "  --seconds T               length of the output, up to 86400 (last event + 2 s)\n"
           "  --format wav16|wav24|float  WAV sample format (float)\n"
           "  -o FILE                   the output file (never one of the input files)\n"
           "  --print-tones             print the tones as JSON and render nothing\n"
           "  --zone-width PX, --zone-height PX  the tone zone the pen plays on (700 x 500)\n"
           "  --list-devices            list the audio output devices\n"
           "  --play [--device NAME]    play the performance in real time on a device\n"
           "  --demo                    render a bundled glissando to varko-demo.wav (-o FILE, "
           "--play)\n"
           "  --help                    this text\n"
           "\n"
           "Performance script, one event per line (# starts a comment):\n"
           "  pen T X Y P      the pen at X, Y (0..1 across and down the zone), pressure P\n"
           "  tone T I P S X   tone I gets pressure P, speed S and strike position X\n"
           "  fader T Q        the resonance fader moves to Q\n"
           "  master T Q       the master fader moves to Q\n"
           "  stereo T S R     stereo separation S and two-row panning R (0 or 1)\n"
           "  rebuild T KEY=VALUE...  the bank built anew (recordings write these)\n"
           "  note T N V       MIDI note N struck with velocity V (V = 0 releases it)\n"
           "T is in seconds, or @N: sample N, where the event is heard.\n";
}

std::optional<TRenderOptions> ParseRenderOptions(const std::vector<std::string>& args,
                                                 std::string& error) {
    TRenderOptions o;
    using Setter = std::function<bool(const std::string&)>;
    auto real = [](double& dst, double lo, double hi) -> Setter {
        return [&dst, lo, hi](const std::string& s) {
            double v = 0;
            if (!ReadDecimal(s, v) || v < lo || v > hi) {
                return false;
            }
            dst = v;
            return true;
        };
    };
    auto whole = [](int& dst, long long lo, long long hi) -> Setter {
        return [&dst, lo, hi](const std::string& s) {
            long long v = 0;
            if (!ReadWhole(s, v) || v < lo || v > hi) {
                return false;
            }
            dst = static_cast<int>(v);
            return true;
        };
    };
    auto text = [](std::string& dst) -> Setter {
        return [&dst](const std::string& s) {
            dst = s;
            return !s.empty();
        };
    };
    double seconds = 0;
    bool noInterpolate = false;
    const std::map<std::string, std::pair<Setter, std::string>> valued{
        {"--scale", {text(o.Scale), "a file name"}},
        {"--initial-frequency", {real(o.InitialFrequency, 1e-3, 1e9), "a frequency above 0"}},
        {"--down", {whole(o.Down, 0, 10), "a whole number from 0 to 10"}},
        {"--up", {whole(o.Up, 0, 10), "a whole number from 0 to 10"}},
        {"--end",
         {[&o](const std::string& s) {
              o.End = s == "free" ? 1 : s == "fixed" ? 2 : s == "hinged" ? 3 : 0;
              return o.End != 0;
          },
          "free, fixed or hinged"}},
        {"--modes", {text(o.Modes), "a file name"}},
        {"--mode-limit", {whole(o.ModeLimit, 1, MaxModeLimit), "a whole number from 1 to 100"}},
        {"--weighting", {whole(o.Weighting, 0, 11), "a whole number from 0 to 11"}},
        {"--resonance", {whole(o.Resonance, 0, 200), "a whole number from 0 to 200"}},
        {"--master", {whole(o.Master, 0, 200), "a whole number from 0 to 200"}},
        {"--rate", {real(o.Rate, 8000, 384000), "a sample rate from 8000 to 384000"}},
        {"--block", {whole(o.Block, 16, 8192), "a whole number from 16 to 8192"}},
        {"--seed",
         {[&o](const std::string& s) {
              long long v = 0;
              if (!ReadWhole(s, v) || v < 0 || v > 0xFFFFFFFFLL) {
                  return false;
              }
              o.Seed = static_cast<uint32_t>(v);
              return true;
          },
          "a whole number from 0 to 4294967295"}},
        {"--threads", {whole(o.Threads, 1, MaxPoolThreads), "a whole number from 1 to 64"}},
        {"--gesture", {text(o.Gesture), "a file name"}},
        {"--performance", {text(o.Performance), "a folder name"}},
        {"--midi", {text(o.Midi), "a file name"}},
        {"--reference-note", {whole(o.ReferenceNote, 0, 127), "a whole number from 0 to 127"}},
        {"--kbm", {text(o.Kbm), "a file name"}},
        {"--seconds", {real(seconds, 0, MaxScriptSeconds), "a number of seconds from 0 to 86400"}},
        {"--format",
         {[&o](const std::string& s) {
              o.Format = s;
              return s == "wav16" || s == "wav24" || s == "float";
          },
          "wav16, wav24 or float"}},
        {"-o", {text(o.Output), "a file name"}},
        {"--device", {text(o.Device), "a device name"}},
        {"--zone-width", {whole(o.ZoneWidth, 1, 100000), "a width in pixels"}},
        {"--zone-height", {whole(o.ZoneHeight, 1, 100000), "a height in pixels"}},
    };
    const std::map<std::string, bool*> flags{
        {"--repeat-ends", &o.RepeatEnds},
        {"--mono", &o.Mono},
        {"--limit", &o.Limit},
        {"--two-rows", &o.TwoRows},
        {"--interpolate", &o.ForceInterpolate},
        {"--no-interpolate", &noInterpolate},
        {"--print-tones", &o.PrintTones},
        {"--help", &o.Help},
        {"-h", &o.Help},
        {"--demo", &o.Demo},
        {"--list-devices", &o.ListDevices},
        {"--play", &o.Play},
    };
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (auto f = flags.find(name); f != flags.end() && !inlineValue) {
            *f->second = true;
            continue;
        }
        auto v = valued.find(name);
        if (v == valued.end()) {
            error = "unknown option \"" + args[i] + "\" (see --help)";
            return std::nullopt;
        }
        std::string value;
        if (inlineValue) {
            value = *inlineValue;
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = "option " + name + " needs a value: " + v->second.second;
            return std::nullopt;
        }
        if (!v->second.first(value)) {
            error = "option " + name;
            error += ": \"" + value + "\" is not " + v->second.second;
            return std::nullopt;
        }
        if (name == "--seconds") {
            o.Seconds = seconds;
        }
        o.RateGiven = o.RateGiven || name == "--rate";
        o.BlockGiven = o.BlockGiven || name == "--block";
    }
    if (noInterpolate && o.ForceInterpolate) {
        error = "--interpolate and --no-interpolate contradict each other";
        return std::nullopt;
    }
    o.Interpolate = !noInterpolate;
    // Only WAV is written: another audio format's name would hold WAV data under a false name.
    if (const auto dot = o.Output.rfind('.');
        dot != std::string::npos && o.Output.find('/', dot) == std::string::npos) {
        std::string ext = o.Output.substr(dot + 1);
        for (char& c : ext) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        static const char* const other[] = {"mp3",  "ogg", "oga", "opus", "flac", "aif", "aiff",
                                            "aifc", "m4a", "aac", "wma",  "caf",  "mp4"};
        if (std::find(std::begin(other), std::end(other), ext) != std::end(other)) {
            error = "-o " + o.Output + ": varko-render writes WAV files only (give -o NAME.wav)";
            return std::nullopt;
        }
    }
    if (o.Help || o.ListDevices || o.Demo) {
        return o;
    }
    if (!o.Performance.empty()) {
        if (!o.Scale.empty() || !o.Gesture.empty() || !o.Modes.empty() || !o.Kbm.empty()) {
            error = "--performance takes its scale, modes and gesture from its folder (its "
                    "bars as they were played: no --kbm)";
            return std::nullopt;
        }
        if (o.Play || o.PrintTones || o.Output.empty()) {
            error = "--performance renders to a file: give -o FILE";
            return std::nullopt;
        }
        return o;
    }
    if (o.Scale.empty()) {
        error = "the option --scale FILE is required (see --help)";
        return std::nullopt;
    }
    if (!o.PrintTones && !o.Play && o.Output.empty()) {
        error = "the option -o FILE is required unless --print-tones or --play is given";
        return std::nullopt;
    }
    return o;
}

} // namespace varko
