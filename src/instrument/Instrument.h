// The instrument without a window: a thin front over its parts, which the window, varko-render
// and the tests drive. It tells its owner what changed through callbacks, on the owner's thread.
//
// Where things are:
// - A setting is stored in one place: the player's settings (those the settings file keeps) in
//   Settings().Stored(); the scale, the tone list and the bank's parameters in Bank(); the
//   mode files and their history in ModeFiles(); the driver and channel pair are the settings'
//   too, chosen through Audio().
// - A rebuild is decided in one place: Bank()'s setters, and the settings a bank reads
//   (interpolated delays, pitch bend's room, who renders the tones), leave work pending (the
//   tone list, the bank); ApplyPending() below does exactly that. The Apply button does it all
//   even with nothing pending: a bank built anew silences ringing bars and the player expects
//   that. Pitch bend's room and who renders the tones build the bank at once while tones
//   exist; the driver's resets do, through the engine.
// - Threads: every part and every method here belongs to the owner's thread, except the MIDI
//   input (PlayMidiInput, TickMidiInput, ArrivalStamp: any thread; TMidiPlaying and
//   TOscillatorTones say what they guard and in which order). The audio thread touches only
//   the engine's atomics and the recorder's rings; the engine's and the recorder's fields say
//   which.
#pragma once

#include "engine/AudioEngine.h"
#include "engine/ToneBank.h"
#include "files/GestureScript.h"
#include "files/SettingsFile.h"
#include "instrument/AudioSession.h"
#include "instrument/BankSetup.h"
#include "instrument/InstrumentMessage.h"
#include "instrument/InstrumentSettings.h"
#include "instrument/MidiPlaying.h"
#include "instrument/ModeFiles.h"
#include "instrument/OscillatorTones.h"
#include "instrument/Playing.h"
#include "instrument/RecordingSession.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace varko {

class TInstrument {
public:
    TInstrument();
    ~TInstrument();
    TInstrument(const TInstrument&) = delete;
    TInstrument& operator=(const TInstrument&) = delete;

    // What the owner hears of. All run on the owner's thread; none is required.
    std::function<void(const TInstrumentMessage&)> OnMessage; // at the moment it arises
    std::function<void()> OnStateChanged; // status texts, warnings, tones or mode files changed
    std::function<void(bool preparing)> OnRebuild; // a rebuild of the bank begins, ends
    std::function<void()> OnDeviceLost; // the device is gone; it plays again when it is back
    std::function<void(const std::string& crashText)> OnOscillatorCrash; // a tone thread died
    // A recording that stopped by itself (the disk) ended.
    std::function<void(const TRecordingResult&)> OnRecordingStopped;
    // The mouse cursor in screen pixels, where mouse playing measures its speed from.
    std::function<std::pair<float, float>()> CursorPosition;

    // ---- The parts

    TAudioSession& Audio() { return audio_; }
    const TAudioSession& Audio() const { return audio_; }
    TBankSetup& Bank() { return bank_; }
    const TBankSetup& Bank() const { return bank_; }
    TModeFiles& ModeFiles() { return modeFiles_; }
    const TModeFiles& ModeFiles() const { return modeFiles_; }
    TInstrumentSettings& Settings() { return settings_; }
    const TInstrumentSettings& Settings() const { return settings_; }
    TRecordingSession& Recording() { return recording_; }
    const TRecordingSession& Recording() const { return recording_; }
    TPlaying& Playing() { return playing_; }
    // Where playing values go: the oscillators of the bank (no tones without an engine).
    IToneTarget& ToneTarget() { return tones_; }
    // MIDI playing: its messages may come from another thread at any time.
    TMidiPlaying& Midi() { return midi_; }

    // ---- The engine

    // Creates the engine over host (a device host, the null host or a test's). dispatch runs a
    // job later on the owner's thread; driver resets rebuild the bank through it.
    void AttachHost(std::unique_ptr<IAudioHost> host, TOwnerDispatcher dispatch = {});
    // At exit: stops the audio and ends every oscillator; the settings stay readable.
    void ReleaseEngine();
    // The tones held now: the pen's bar while it presses, and every held MIDI key's.
    std::vector<bool> HeldTones();

    // ---- Building the bank

    // Reads the scale (Error when it cannot be opened: the previous scale stays; Warning when it
    // holds errors), then computes the tone list and rebuilds the bank, even after a failure.
    void OpenScale(const std::string& path);
    // Reads a .kbm (see TBankSetup), then the tone list and the bank anew. "" drops it.
    void OpenKeyboardMapping(const std::string& path);
    // The tone list (see TBankSetup), the MIDI keys' tones, and the mouse's start.
    void CalculateRepeats();
    // The Apply button: the tone list and the bank anew, pending or not.
    void Apply();
    // The pending work only: the tone list when its inputs changed, then the bank. Returns what
    // it did.
    TPending ApplyPending();
    // Builds the bank anew from everything above (nothing without an engine).
    TToneBankResult RefreshTones();
    TToneBankInput BankInput() const;
    // How the next bank is rendered.
    TToneRendering Rendering() const { return bank_.Rendering(settings_.Stored()); }

    // ---- Settings and the session kept in the settings file

    // Applies the values in the settings file's order, as the start-up reads them: driver (its
    // name wins over an index that names another device), channel pair, then the rest.
    void ApplySettings(const TVarkoSettings& s);
    // Reads the settings file (missing: every default, the first run) and applies it. On
    // failure (unreadable, or the driver failed) returns false with "Your settings could not be
    // retrieved."; what was applied before stays. Never throws.
    bool LoadSettingsFile(const std::string& path, std::string& message);
    // Writes the settings, keeping the file's other keys. On failure returns false with "Your
    // settings could not be saved." and leaves the file as it was. Never throws.
    bool SaveSettingsFile(const std::string& path, std::string& message) const;
    // The settings with the session as it stands now (scale, parameters, object, resonance).
    TVarkoSettings SettingsWithSession() const;
    // Puts the stored session's parameters in place; reads nothing, builds nothing.
    void RestoreSessionParameters();
    // Reads the stored session's mode file and scale and builds the bank. A file that is gone
    // is left out (no scale; the uniform bar) and named in `missing`, one line each.
    void RestoreSessionFiles(std::string& missing);

    // ---- MIDI input

    // Any thread: the sample that input which arrived at `seconds` on the steady clock is
    // heard from (for a TChangeTimeScope around the playing it does); 0 without an engine.
    uint64_t ArrivalStamp(double seconds) {
        return tones_.ArrivalStamp(static_cast<int64_t>(seconds * 1e9));
    }
    // A MIDI input's message (a MIDI thread), which arrived at `seconds` on the steady clock:
    // heard a fixed delay after its time, wherever in a block it came.
    void PlayMidiInput(int source, const uint8_t* bytes, size_t size, double seconds) {
        const TChangeTimeScope at(ArrivalStamp(seconds));
        midi_.Message(source, bytes, size, seconds);
    }
    // The MIDI input's ticks (strikes dying away), placed as its messages are: a strike's
    // decay keeps its distance from the strike.
    double TickMidiInput(double seconds) {
        const TChangeTimeScope at(ArrivalStamp(seconds));
        return midi_.Tick(seconds);
    }

    // ---- Recording and replay

    // Starts recording into a new performance folder under root. The bank is built anew first
    // (ringing tones stop) so that a re-render starts from the same silence the recording does.
    // False, with the player told why, when the folder or its files cannot be made.
    bool StartRecording(const std::string& root);
    // Ends the recording and completes its folder.
    TRecordingResult StopRecording();
    // Ends a recording that stopped by itself (the disk), tells the player and OnRecordingStopped.
    // Runs by itself through the owner's dispatcher; without one, the owner calls it.
    void CheckRecording();
    // Builds the bank as a performance's rebuild says: its scale and mode file (in folder), its
    // parameters and seeds; interpolate forces interpolated delay lines. False with the reason.
    bool ApplyRebuild(const TGestureRebuild& r, const std::string& folder, bool interpolate,
                      std::string& error);

private:
    void Tell(TInstrumentMessage::TKind kind, std::string text);
    void Changed();
    TToneBankResult RebuildBank(bool restart);
    void LogRebuild(const TToneBankInput& in);
    void EndRecordingWith(const char* message, const std::string& why);

    // Declared before the engine, whose tap it holds, so that it outlives it.
    TRecordingSession recording_;
    // The settings the bank is built from leave it pending; some build it at once.
    TInstrumentSettings settings_{audio_, playing_, midi_, CursorPosition, [this](bool now) {
                                      bank_.Mark(PendingBank);
                                      if (now) {
                                          RefreshTones();
                                      }
                                  }};
    TAudioSession audio_{settings_, [this] { Changed(); }};
    TOscillatorTones tones_;
    TMidiPlaying midi_{tones_};
    // The pen leaves the pressure of a tone that a MIDI note holds alone.
    TPlaying playing_{midi_.PenTones()};
    TBankSetup bank_{[this](TInstrumentMessage::TKind k, std::string t) { Tell(k, std::move(t)); },
                     [this] { Changed(); }};
    // A mode file read changes what the next bank is built from.
    TModeFiles modeFiles_{
        [this](TInstrumentMessage::TKind k, std::string t) { Tell(k, std::move(t)); },
        [this] {
            bank_.Mark(PendingBank);
            Changed();
        }};
    // Guards jobs posted to the owner's thread against outliving the instrument.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace varko
