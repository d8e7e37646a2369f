#include "render/RenderTool.h"

#include "core/Texts.h"
#include "engine/NullHost.h"
#include "midi/MidiFile.h"
#include "render/PlayTool.h"
#include "render/Renderer.h"
#include "render/WavWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace varko {

namespace {

// Renders longer than this show a progress line.
constexpr double ProgressAfterSeconds = 5.0;

// Prints the warnings told since the last call (from printed on), and moves printed past them.
void PrintWarnings(const TRenderSession& s, std::FILE* err, size_t& printed) {
    for (; printed < s.Warnings.size(); ++printed) {
        std::fprintf(err, "varko-render: warning: %s\n", s.Warnings[printed].c_str());
    }
}

void PrintWarnings(const TRenderSession& s, std::FILE* err) {
    size_t printed = 0;
    PrintWarnings(s, err, printed);
}

// Shows whole seconds as they pass: each once, and the last one (the whole length) once.
class TProgressLine {
public:
    // atMost: the render may end sooner (when its sound dies away).
    TProgressLine(double seconds, std::FILE* err, bool atMost = false)
        : seconds_(seconds), total_(std::llround(seconds)), err_(err),
          tty_(::isatty(::fileno(err)) != 0), atMost_(atMost) {}

    // A render that ended before its longest length: the line ends where it stopped.
    void End() {
        if (shown_ != 0 && !finished_ && tty_) {
            std::fputc('\n', err_);
            std::fflush(err_);
        }
        finished_ = true;
    }

    void Show(double done) {
        if (seconds_ <= ProgressAfterSeconds || finished_) {
            return;
        }
        finished_ = done >= seconds_;
        const long long whole = finished_ ? total_ : static_cast<long long>(done);
        if (whole == shown_ && !finished_) {
            return; // within the second last shown
        }
        if (whole != shown_) {
            std::fprintf(err_, "%srendering %lld of %s%lld s%s", tty_ ? "\r" : "", whole,
                         atMost_ ? "at most " : "", total_, tty_ ? "" : "\n");
            shown_ = whole;
        }
        if (finished_ && tty_) {
            std::fputc('\n', err_);
        }
        std::fflush(err_);
    }

private:
    double seconds_;
    long long total_;
    std::FILE* err_;
    bool tty_;
    bool atMost_;
    long long shown_ = 0;
    bool finished_ = false;
};

int RenderToFile(TRenderSession& session, std::FILE* err) {
    const TRenderOptions& o = session.Options;
    std::string error;
    std::vector<std::string> inputs = {o.Scale, o.Gesture, o.Midi, o.Modes, o.Kbm};
    if (!o.Performance.empty()) {
        // A re-render never replaces any file of the take it comes from (its ini and copies as
        // much as its sound and gesture), whatever path names it.
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(o.Performance, ec)) {
            inputs.push_back(entry.path().string());
        }
        inputs.push_back(o.Performance + "/" + PerformanceScriptName);
        inputs.push_back(o.Performance + "/" + PerformanceWavName);
    }
    for (const std::string& input : inputs) {
        if (!input.empty() && SameFile(o.Output, input)) {
            std::fprintf(err, "varko-render: the output \"%s\" is the input file \"%s\"\n",
                         o.Output.c_str(), input.c_str());
            return 2;
        }
    }
    TGestureScript script;
    if (!LoadScriptOption(o, script, err)) {
        return 2;
    }
    // Without a length the output ends when its sound has died away, not at a fixed time.
    std::optional<TTailEnd> tail;
    if (!o.Seconds && !session.RecordedSeconds()) {
        tail.emplace(session.LastEventSeconds(script));
    }
    const double seconds =
        o.Seconds ? *o.Seconds : (tail ? tail->MaxSeconds() : *session.RecordedSeconds());
    if (script.Events.empty() && o.Performance.empty()) {
        std::fprintf(err,
                     "varko-render: warning: nothing is played (no --gesture or --midi): the "
                     "output is %.1f s of silence\n",
                     tail ? TTailEnd::QuietSeconds : seconds);
    }
    if (!session.Build(std::make_unique<TNullHost>(o.Rate, static_cast<uint32_t>(o.Block),
                                                   /*RealTimePace=*/false),
                       error)) {
        PrintWarnings(session, err);
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 1;
    }
    size_t printed = 0;
    PrintWarnings(session, err, printed);
    // Every event is checked before the output is touched.
    if (!CheckScriptTones(script, static_cast<int>(session.Engine().Oscillators.size()), o.Gesture,
                          error)) {
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 2;
    }
    TWavWriter::TFormat format = TWavWriter::TFormat::Float;
    TWavWriter::ParseFormat(o.Format, format);
    TWavWriter wav;
    const auto frames = static_cast<uint64_t>(std::llround(seconds * o.Rate));
    if (!wav.Open(o.Output, format, static_cast<int>(o.Rate), 2, frames, error)) {
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 1;
    }
    TProgressLine progress(seconds, err, tail.has_value());
    // The rebuilds of a re-render happen as it plays: their warnings are told then, and a take
    // they leave silent is not a success. Integer samples cannot hold what lies beyond full
    // scale: the player is told how much.
    const size_t warnedBefore = session.Warnings.size();
    uint64_t clipped = 0;
    float peak = 0.0f;
    const bool integer = format != TWavWriter::TFormat::Float;
    const bool rendered = session.RenderOffline(
        script, seconds,
        [&](const float* f, size_t n) {
            for (size_t i = 0; i < 2 * n; ++i) {
                const float a = std::fabs(f[i]);
                peak = std::max(peak, a);
                clipped += integer && a > 1.0f ? 1 : 0;
            }
            return wav.Write(f, n);
        },
        [&](double done) {
            PrintWarnings(session, err, printed);
            progress.Show(done);
        },
        error, tail ? &*tail : nullptr);
    PrintWarnings(session, err, printed);
    progress.End();
    if (!rendered) {
        // A full disk: its reason, not the render's echo of it.
        const std::string why = wav.WriteError();
        wav.Abandon();
        if (why.empty()) {
            std::fprintf(err, "varko-render: %s\n", error.c_str());
        } else {
            std::fprintf(err, "varko-render: cannot write \"%s\": %s\n", o.Output.c_str(),
                         why.c_str());
        }
        return 1;
    }
    if (!wav.Finish(error)) {
        std::fprintf(err, "varko-render: cannot write \"%s\": %s\n", o.Output.c_str(),
                     error.c_str());
        return 1;
    }
    if (tail && tail->Capped()) {
        std::fprintf(err,
                     "varko-render: warning: still sounding %.0f s after the last event, where "
                     "the output ends; give --seconds for a longer one\n",
                     TTailEnd::CapSeconds);
    }
    if (clipped != 0) {
        std::fprintf(err,
                     "varko-render: warning: %llu samples clipped (peak %+.1f dBFS); lower "
                     "--master, add --limit or use --format float\n",
                     static_cast<unsigned long long>(clipped), 20.0 * std::log10(peak));
    }
    if (const uint64_t resets = session.Engine().ToneResets.load(); resets != 0) {
        std::fprintf(err,
                     "varko-render: warning: %llu tone blocks were silenced: their bands ran "
                     "away\n",
                     static_cast<unsigned long long>(resets));
    }
    if (peak == 0.0f && session.Warnings.size() > warnedBefore) {
        std::fprintf(err, "varko-render: \"%s\" is silent: see the warnings above\n",
                     o.Output.c_str());
        return 1;
    }
    return 0;
}

// The examples folder: in the source tree when run from a build, else where the installation
// put it (share/varko/examples beside lib/varko).
std::string ExamplesDir() {
    std::error_code ec;
    if (std::filesystem::is_directory(VARKO_EXAMPLES_DIR, ec)) {
        return VARKO_EXAMPLES_DIR;
    }
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (exe.parent_path() / "../../share/varko/examples").lexically_normal().string();
}

} // namespace

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

bool CheckScriptTones(const TGestureScript& script, int toneCount, const std::string& scriptPath,
                      std::string& error) {
    for (const TGestureEvent& e : script.Events) {
        if (e.Kind == TGestureEvent::TKind::Rebuild) {
            break; // the bank changes here: later tones are checked as they are played
        }
        if (e.Kind == TGestureEvent::TKind::Tone && e.Tone >= toneCount) {
            error = scriptPath + ", line " + std::to_string(e.Line) + ": there is no tone " +
                    std::to_string(e.Tone) + " (the scale gives " + std::to_string(toneCount) +
                    " tones)";
            return false;
        }
    }
    return true;
}

bool LoadScriptOption(const TRenderOptions& o, TGestureScript& script, std::FILE* err) {
    script = {};
    std::string error;
    if (!o.Midi.empty() && !o.Performance.empty()) {
        // A recording's events are stamped in samples; a MIDI file's times do not merge in.
        std::fprintf(err, "varko-render: --midi and --performance cannot be given together\n");
        return false;
    }
    const std::string path =
        !o.Performance.empty() ? o.Performance + "/" + PerformanceScriptName : o.Gesture;
    if (!path.empty()) {
        auto loaded = LoadGestureScript(path, error);
        if (!loaded) {
            std::fprintf(err, "varko-render: %s\n", error.c_str());
            return false;
        }
        script = std::move(*loaded);
        if (script.StoppedEarlyAt != 0) {
            std::fprintf(err,
                         "varko-render: warning: %s stops early: line %d was cut short (the "
                         "recording was ended there); rendered up to it\n",
                         path.c_str(), script.StoppedEarlyAt);
        }
    }
    if (o.Midi.empty()) {
        return true;
    }
    const auto midi = ReadMidiFile(o.Midi, error);
    if (!midi) {
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return false;
    }
    if (midi->Damaged) {
        std::fprintf(err,
                     "varko-render: warning: the MIDI file \"%s\" is damaged; it is played "
                     "as far as it could be read\n",
                     o.Midi.c_str());
    }
    TGestureEvent e;
    e.Kind = TGestureEvent::TKind::Midi;
    // Room for them all at once: an 8 MB file of running-status bytes gives four million events,
    // and a list that doubles as it grows held twice their room.
    script.Events.reserve(script.Events.size() + midi->Events.size() + 16);
    for (const TMidiFileEvent& m : midi->Events) {
        e.Time = m.Seconds;
        e.Bytes = m.Message.Bytes;
        e.Size = m.Message.Size;
        script.Events.push_back(e);
    }
    // A file that ends with notes held (or lost their note-offs) leaves no tone pressed.
    double end = midi->EndSeconds;
    if (!midi->Events.empty()) {
        end = std::max(end, midi->Events.back().Seconds);
    }
    // Without --seconds the output lasts as long as the file: a file of a day's length or more
    // would write until the disk is full.
    if (end > MaxScriptSeconds) {
        std::fprintf(err, "varko-render: the MIDI file \"%s\" lasts longer than a day\n",
                     o.Midi.c_str());
        return false;
    }
    e.Time = end;
    e.Size = 3;
    for (uint8_t channel = 0; channel < 16; ++channel) {
        e.Bytes = {static_cast<uint8_t>(0xB0 | channel), 123, 0}; // all notes off
        script.Events.push_back(e);
    }
    const auto earlier = [&o](const TGestureEvent& a, const TGestureEvent& b) {
        return a.Seconds(o.Rate) < b.Seconds(o.Rate);
    };
    // Sorting takes a copy's room; a file alone is in order already.
    if (!std::is_sorted(script.Events.begin(), script.Events.end(), earlier)) {
        std::stable_sort(script.Events.begin(), script.Events.end(), earlier);
    }
    return true;
}

int RunRenderTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::string error;
    auto options = ParseRenderOptions(args, error);
    if (!options) {
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 2;
    }
    TRenderOptions o = *options;
    if (o.Help) {
        std::fputs(RenderUsage().c_str(), out);
        return 0;
    }
    if (o.Demo) {
        o.Scale = ExamplesDir() + "/scales/12-equal.scl";
        o.Gesture = ExamplesDir() + "/gestures/glissando.txt";
        o.Up = 1;
        if (o.Output.empty()) {
            o.Output = "varko-demo.wav";
        }
    }
    if (o.ListDevices) {
        return ListDevices(out, err);
    }
    TRenderSession session;
    if (!session.Prepare(o, error)) {
        PrintWarnings(session, err);
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 1;
    }
    if (o.PrintTones) {
        PrintWarnings(session, err);
        std::fputs(session.TonesJson().c_str(), out);
        return 0;
    }
    if (o.Play) {
        return PlayOnDevice(session, o, out, err);
    }
    const int status = RenderToFile(session, err);
    if (status == 0 && o.Demo) {
        std::fprintf(out, "Rendered a glissando over 12 equal steps to %s.\n", o.Output.c_str());
    }
    return status;
}

} // namespace varko
