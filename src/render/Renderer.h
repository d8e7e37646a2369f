// The instrument without a window: a scale, a tone bank and a performance script rendered
// offline, block by block, exactly as a device would ask for the blocks.
#pragma once

#include "instrument/Instrument.h"
#include "instrument/ToneZoneGeometry.h"
#include "render/GestureScript.h"
#include "render/RenderOptions.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varko {

class TRenderSession {
public:
    // Reads the scale (and mode file) and computes the tone list. On failure returns false with
    // a message. Warnings (the window's scale and mode-file warnings) go to Warnings.
    bool Prepare(const TRenderOptions& options, std::string& error);

    // Builds the bank on the given host (offline: a TNullHost that is never started); dispatch
    // runs the host's and the engine's jobs on the caller's thread (--play). Returns false with
    // a message when the bank cannot be built.
    bool Build(std::unique_ptr<IAudioHost> host, std::string& error,
               TOwnerDispatcher dispatch = {});

    // Applies one script event at now, the time the tones hear it (tone index out of range:
    // false with a message naming the line).
    bool Apply(const TGestureEvent& e, std::string& error, double now);
    // Brings MIDI's strikes and movement up to now; the seconds until it wants this again, or a
    // negative number.
    double Tick(double now) { return Instrument.Midi().Tick(now); }

    // Renders the whole performance into interleaved stereo frames, calling onBlock after each
    // block with the frames done. The first block is the one every oscillator rendered right
    // after building; the events of block k are applied before its switch.
    bool RenderOffline(const TGestureScript& script, double seconds,
                       const std::function<bool(const float*, size_t)>& onFrames,
                       const std::function<void(double)>& onProgress, std::string& error);

    // The --print-tones JSON.
    std::string TonesJson() const;

    TAudioEngine& Engine() { return Instrument.Engine(); }

    std::vector<std::string> Warnings;
    TRenderOptions Options;
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
