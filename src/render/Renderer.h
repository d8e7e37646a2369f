// The instrument without a window: a scale, a tone bank and a performance script rendered
// offline, block by block, exactly as a device would ask for the blocks.
#pragma once

#include "files/GestureScript.h"
#include "files/PerformanceFolder.h"
#include "instrument/GesturePlayer.h"
#include "instrument/Instrument.h"
#include "instrument/ToneZoneGeometry.h"
#include "render/RenderOptions.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varko {

// Where a performance given no length ends: once its last event is past and the output has
// stayed below a 16-bit step for a tenth of a second, so that no ringing bar is cut; at the
// latest a minute after the last event (a pen left pressing sounds for ever).
class TTailEnd {
public:
    static constexpr float QuietLevel = 1.0f / 32768.0f; // -90 dBFS
    static constexpr double QuietSeconds = 0.1;
    static constexpr double CapSeconds = 60.0;

    explicit TTailEnd(double lastEvent) : lastEvent_(lastEvent), quietFrom_(lastEvent) {}

    // The output up to `to` seconds peaked at `peak` (either channel) since the last call: true
    // when it ends at `to`.
    bool Over(double to, float peak) {
        if (peak >= QuietLevel) {
            quietFrom_ = std::max(quietFrom_, to);
        }
        const bool quiet = to - quietFrom_ >= QuietSeconds;
        capped_ = !quiet && to >= lastEvent_ + CapSeconds;
        return quiet || capped_;
    }
    // It ended at the cap while still sounding.
    bool Capped() const { return capped_; }
    // The longest output: the cap.
    double MaxSeconds() const { return lastEvent_ + CapSeconds; }

private:
    double lastEvent_;
    double quietFrom_; // the output is below QuietLevel since then
    bool capped_ = false;
};

class TRenderSession {
public:
    // Reads the scale (and mode file) and computes the tone list; with --performance, the
    // folder's performance.ini instead (its rate and block size unless the options give them).
    // On failure returns false with a message. Warnings (the window's scale and mode-file
    // warnings) go to Warnings.
    bool Prepare(const TRenderOptions& options, std::string& error);

    // Builds the bank on the given host (offline: a TNullHost that is never started); dispatch
    // runs the host's and the engine's jobs on the caller's thread (--play). Returns false with a
    // message when the bank cannot be built. A performance builds its bank with its first event.
    bool Build(std::unique_ptr<IAudioHost> host, std::string& error,
               TOwnerDispatcher dispatch = {});

    // Plays the script through the instrument (the session's zone for pen events).
    TGesturePlayer MakePlayer(const TGestureScript& script);
    // Brings MIDI's strikes and movement up to now; the seconds until it wants this again, or a
    // negative number.
    double Tick(double now) { return Instrument.Midi().Tick(now); }

    // Renders the whole performance into interleaved stereo frames, calling onFrames after each
    // block with the frames done. The first block is the one every oscillator rendered right
    // after building; the events due before block k are applied before its switch.
    // With tail, it ends where the tail says, after `seconds` at the latest.
    bool RenderOffline(const TGestureScript& script, double seconds,
                       const std::function<bool(const float*, size_t)>& onFrames,
                       const std::function<void(double)>& onProgress, std::string& error,
                       TTailEnd* tail = nullptr);

    // The recorded length of a performance that has one; none: the output ends with its tail.
    std::optional<double> RecordedSeconds() const;
    // Where the script's last event is heard, in seconds.
    double LastEventSeconds(const TGestureScript& script) const;

    // The --print-tones JSON.
    std::string TonesJson() const;

    TAudioEngine& Engine() { return Instrument.Audio().Engine(); }

    std::vector<std::string> Warnings;
    TRenderOptions Options;       // as given, with a performance's rate and block size filled in
    TPerformanceInfo Performance; // with --performance
    TInstrument Instrument;
    TToneZoneGeometry Zone;
};

// The events of --gesture and --midi merged in time order (at equal times the script's first);
// the MIDI file's notes are released at its end. Empty without either. On failure prints the
// message to err and returns false; a damaged MIDI file is played as far as it could be read,
// with a warning.
bool LoadScriptOption(const TRenderOptions& o, TGestureScript& script, std::FILE* err);

// Whole program: parses args, runs, returns the exit status. Messages go to out and err.
int RunRenderTool(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);

} // namespace varko
