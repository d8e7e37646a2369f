#include "core/Texts.h"
#include "engine/NullHost.h"
#include "midi/MidiFile.h"
#include "render/PlayTool.h"
#include "render/Renderer.h"
#include "render/WavWriter.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace varko {

namespace {

// Renders longer than this show a progress line.
constexpr double ProgressAfterSeconds = 5.0;

void PrintWarnings(const TRenderSession& s, std::FILE* err) {
    for (const auto& w : s.Warnings) {
        std::fprintf(err, "varko-render: warning: %s\n", w.c_str());
    }
}

int RenderToFile(TRenderSession& session, const TRenderOptions& o, std::FILE* err) {
    TGestureScript script;
    std::string error;
    if (!LoadScriptOption(o, script, err)) {
        return 2;
    }
    const double seconds = o.Seconds.value_or(script.EndTime() + 2.0);
    if (!session.Build(std::make_unique<TNullHost>(o.Rate, static_cast<uint32_t>(o.Block),
                                                   /*RealTimePace=*/false),
                       error)) {
        PrintWarnings(session, err);
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 1;
    }
    PrintWarnings(session, err);
    TWavWriter::TFormat format = TWavWriter::TFormat::Float;
    TWavWriter::ParseFormat(o.Format, format);
    TWavWriter wav;
    if (!wav.Open(o.Output, format, static_cast<int>(o.Rate), 2, error)) {
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        return 1;
    }
    const bool tty = ::isatty(::fileno(err)) != 0;
    double lastShown = 0.0;
    auto progress = [&](double done) {
        if (seconds <= ProgressAfterSeconds) {
            return;
        }
        if (done - lastShown >= 1.0 || done >= seconds) {
            lastShown = done;
            std::fprintf(err, "%srendering %.0f of %.0f s%s", tty ? "\r" : "", done, seconds,
                         tty && done < seconds ? "" : "\n");
            std::fflush(err);
        }
    };
    const bool ok = session.RenderOffline(
        script, seconds, [&](const float* f, size_t n) { return wav.Write(f, n); }, progress,
        error);
    if (!wav.Close() && ok) {
        std::fprintf(err, "varko-render: cannot finish \"%s\"\n", o.Output.c_str());
        return 1;
    }
    if (!ok) {
        std::fprintf(err, "varko-render: %s\n", error.c_str());
        std::remove(o.Output.c_str());
        return 2;
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

bool LoadScriptOption(const TRenderOptions& o, TGestureScript& script, std::FILE* err) {
    script = {};
    std::string error;
    if (!o.Gesture.empty()) {
        auto loaded = LoadGestureScript(o.Gesture, error);
        if (!loaded) {
            std::fprintf(err, "varko-render: %s\n", error.c_str());
            return false;
        }
        script = std::move(*loaded);
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
    e.Time = end;
    e.Size = 3;
    for (uint8_t channel = 0; channel < 16; ++channel) {
        e.Bytes = {static_cast<uint8_t>(0xB0 | channel), 123, 0}; // all notes off
        script.Events.push_back(e);
    }
    std::stable_sort(
        script.Events.begin(), script.Events.end(),
        [](const TGestureEvent& a, const TGestureEvent& b) { return a.Time < b.Time; });
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
    const int status = RenderToFile(session, o, err);
    if (status == 0 && o.Demo) {
        std::fprintf(out, "Rendered a glissando over 12 equal steps to %s.\n", o.Output.c_str());
    }
    return status;
}

} // namespace varko
