// The instrument without a window: the open scale and its tone list, the vibration modes, the
// player's settings, the audio driver and engine, the tone bank and the playing logic. The
// window and varko-render both drive it. It tells its owner what changed through callbacks, on
// the owner's thread.
#pragma once

#include "engine/AudioEngine.h"
#include "engine/ToneBank.h"
#include "files/GestureScript.h"
#include "files/KeyboardMapping.h"
#include "files/ModeFileHistory.h"
#include "files/PerformanceFolder.h"
#include "files/ScalaFile.h"
#include "files/SettingsFile.h"
#include "files/ToneList.h"
#include "instrument/MidiPlaying.h"
#include "instrument/OscillatorTones.h"
#include "instrument/Playing.h"
#include "instrument/Recorder.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace varko {

// Something the player must be told: an error (the action did not happen) or a warning.
struct TInstrumentMessage {
    enum class TKind { Error, Warning };
    TKind Kind = TKind::Error;
    std::string Text; // one of the program's texts, complete
};

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
    // The mouse cursor in screen pixels, where mouse playing measures its speed from.
    std::function<std::pair<float, float>()> CursorPosition;

    // ---- Audio

    // Creates the engine over host (a device host, the null host or a test's). dispatch runs a
    // job later on the owner's thread; driver resets rebuild the bank through it.
    void AttachHost(std::unique_ptr<IAudioHost> host, TOwnerDispatcher dispatch = {});
    bool HasEngine() const { return engine_ != nullptr; }
    TAudioEngine& Engine() { return *engine_; }
    // At exit: stops the audio and ends every oscillator; the settings stay readable.
    void ReleaseEngine();

    const std::vector<std::string>& DriverList() const;
    // The open driver's index in DriverList, -1 for none.
    int DriverIndex() const { return settings_.ASIOdriver; }
    // Stops the audio, opens the driver (a name listed twice opens its first entry; -1 or an
    // index out of the list: none) and starts the audio on its first channel pair.
    void SelectDriver(int index);
    // "left / right" for each pair of the open driver's output channels.
    std::vector<std::string> ChannelPairNames() const;
    int ChannelPair() const { return settings_.ASIOchannel; }
    // Restarts the audio on another pair; nothing without a driver or with pair -1.
    void SelectChannelPair(int pair);
    // The driver's own panel, opened with the audio stopped; audio that ran runs again.
    void OpenDriverPanel();
    void StartAudio();
    void StopAudio();
    bool Running() const;
    // The largest |left| and |right| since the last call (for the level meters).
    std::pair<float, float> TakePeaks();
    // The master limiter's least gain (0 .. 1) since the last call, 1 when it did not act.
    float TakeLimiterGain();
    // Each tone's largest |sample| since the last call (the bars' light), one per tone.
    std::vector<float> TakeToneLevels();
    // The tones held now: the pen's bar while it presses, and every held MIDI key's.
    std::vector<bool> HeldTones();
    // Looks at the audio as it really is and updates AudioStatus and the glitch counts; raises
    // OnStateChanged when they changed. The owner calls it a few times a second.
    void WatchAudio();

    // ---- Scale, tone list and bank

    ScalaFile Scale;       // the open scale (raw lines and description)
    std::string ScalePath; // where it was read from
    ToneRatios Tones;
    float InitialFrequency = DefaultInitialFrequency;
    int RepeatDownCount = 0;
    int RepeatUpCount = 0;
    bool RepeatEnds = false;
    bool ExternalObject = false; // modes from the mode file instead of the uniform bar
    TEndType End = TEndType::Free;
    int ModeWeighting = 6; // 0..11
    int ModeLimit = 8;     // at least 1
    // Tone i's noise starts from Seed + i; none: from the clock (the window).
    std::optional<uint32_t> Seed;
    // Tone i's seed where listed (a recorded performance's), before Seed.
    std::vector<uint32_t> ToneSeeds;
    bool TimeCritical = true; // the tones' threads at real-time priority where allowed
    // Who renders the tones, when not the settings' choice (a thread per tone or a pool): the
    // render tool renders inline, or on a pool of its own size.
    std::optional<TToneThreads> RenderingOverride;
    int PoolThreadsOverride = 0; // with RenderingOverride PerCore: 0 one thread per core
    // How the next bank is rendered.
    TToneRendering Rendering() const;
    // Makes each tone; none: a plain TTone (tests supply their own).
    std::function<std::unique_ptr<TTone>()> MakeTone;

    // Reads the scale (Error when it cannot be opened: the previous scale stays; Warning when it
    // holds errors), then computes the tone list and rebuilds the bank, even after a failure.
    void OpenScale(const std::string& path);
    // The tone list from the degrees and the repeats; unchanged without degrees. With a
    // keyboard mapping, also the keys' tones and the initial frequency it gives.
    void CalculateRepeats();

    // The Scala keyboard mapping beside the scale (Kbm.Usable false: none, one key per bar
    // from the reference note). It decides which key plays which degree, and its reference
    // key and frequency set InitialFrequency.
    KeyboardMapping Kbm;
    std::string KbmPath;
    // Reads a .kbm (Error when it cannot be opened or used: the previous mapping stays;
    // Warning naming each faulty line), then the tone list and the bank anew. "" drops it.
    void OpenKeyboardMapping(const std::string& path);
    // The tone each key 0..127 plays under Kbm (-1: none); nothing without a usable mapping
    // or scale.
    std::optional<std::array<int, 128>> KeyTones() const;
    // The Apply button: the tone list and the bank anew.
    void Apply();
    // Builds the bank anew from everything above (nothing without an engine).
    TToneBankResult RefreshTones();
    // The engine position where the bank built last plays its first sample.
    uint64_t LastRebuildPosition = 0;
    TToneBankInput BankInput() const;
    // The tones that get a bar: the tone list up to the bank's cap.
    std::vector<float> BarRatios() const;
    // The mixer's stereo flags and pan constants from the settings and the bank.
    void UpdateStereoConstants();

    // What the status bar and the warning icons show.
    bool Preparing = false;      // a rebuild is under way
    bool NoSoundWarning = false; // some tone has no band
    bool ModeFileWarning = false;
    // "Running" only while the device asks for blocks; "Stopped", "Device lost" or "Device
    // silent" (no block for a second) otherwise.
    std::string AudioStatus;
    uint64_t LateBlocks = 0; // tone blocks not ready in time, since the audio last started
    uint64_t Xruns = 0;      // the device's over- and underruns, since the audio last started
    uint64_t ToneResets = 0; // tone blocks silenced because their bands ran away, likewise
    // Late blocks pile up under a thread per tone with far more tones than processor cores:
    // the pool would serve this bank better.
    bool PoolAdvised() const;
    std::string ObjectStatus; // the object of the last bank built

    // ---- Vibration mode files

    ModeFileHistory History;
    std::vector<float> ModeRatios, ModeLevels;
    // Reads a file chosen by the player: it goes on top of the history and is selected.
    bool LoadModeFile(const std::string& path);
    // Reads history entry i; one that cannot be opened leaves the history.
    bool LoadModeFileFromHistory(int entry);
    // Which entry names the object in the status bar (-1: none), without reading it.
    void SelectModeFile(int entry) { selectedModeFile_ = entry; }
    int SelectedModeFile() const { return selectedModeFile_; }
    std::string ModeFileName() const;

    // ---- The player's settings, as the settings file stores them

    const TVarkoSettings& Settings() const { return settings_; }
    void SetStereoSeparation(bool on);
    void SetInterpolateDelays(bool on);
    void SetMasterLevel(int position);   // master fader 0..200
    void SetLimiter(bool on);            // the master limiter after the master gain
    void SetResonanceControl(int index); // 0 middle raises, 1 right raises, -1 neither chosen
    void SetResonanceRate(int rate);     // 1..10
    void SetMousePressure(bool on);      // the left mouse button applies pressure
    // Without a tablet the mouse is the input for good: the stored choice is not read.
    bool MousePressureForced = false;
    void SetMouseGlide(bool on); // a mouse drag plays every bar it crosses
    void SetShowMainLevels(bool on);
    void SetShowPressureLevel(bool on);
    void SetShowFrequencyLabels(bool on);
    void SetPaint2Rows(bool on);
    void SetColoredToneZone(bool on);
    // MIDI: the chosen input port ("" for none; the owner opens it), the note that plays the
    // scale's 1/1 (0..127), MPE, and whether pitch bend moves the pitch (else it bows; the
    // bank is built anew, with room to bend down, when the tones exist).
    void SetMidiInput(const std::string& port);
    void SetReferenceNote(int note);
    void SetMpe(bool on);
    void SetBendPitch(bool on);
    void SetKeyReleaseDamps(bool on); // a released key damps its bar; off: it rings on
    // Who renders the tones: a pool (perCore, of poolThreads threads, 0 one per core) or a
    // thread per tone. A bank that plays is built anew for it.
    void SetToneThreads(bool perCore, int poolThreads);

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

    // ---- The session: what is open and set, kept in the settings file for the next start

    // The settings with the session as it stands now (scale, parameters, object, resonance).
    TVarkoSettings SettingsWithSession() const;
    void SetRestoreSession(bool on); // open the last session at start
    void SetShowNoTabletNotice(bool on);
    void SetLabelKind(int kind); // the bars' labels: 0 Hz, 1 cents, 2 ratio, 3 degree
    // The driver panel's choice for a driver (0: the device's own), kept for the next start.
    void SetPanelChoice(const std::string& driver, int bufferSize, int sampleRate);
    // Puts the stored session's parameters in place; reads nothing, builds nothing.
    void RestoreSessionParameters();
    // Reads the stored session's mode file and scale and builds the bank. A file that is gone
    // is left out (no scale; the uniform bar) and named in `missing`, one line each.
    void RestoreSessionFiles(std::string& missing);

    // ---- Playing

    TPlaying& Playing() { return playing_; }
    // Where playing values go: the oscillators of the bank (no tones without an engine).
    IToneTarget& ToneTarget() { return tones_; }
    // MIDI playing: its messages may come from another thread at any time.
    TMidiPlaying& Midi() { return midi_; }
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
    // The tone of the scale's 1/1 in the tone list (-1 before the first scale).
    int ScaleStart() const { return scaleStart_; }

    // ---- Recording and replay

    // Starts recording into a new performance folder under root. The bank is built anew first
    // (ringing tones stop) so that a re-render starts from the same silence the recording does.
    // False, with the player told why, when the folder or its files cannot be made.
    bool StartRecording(const std::string& root);
    // Ends the recording and completes its folder.
    TRecordingResult StopRecording();
    bool Recording() const { return recorder_.Recording(); }
    TRecorder& Recorder() { return recorder_; }
    const std::string& RecordingFolder() const { return folder_.Path(); }
    double RecordedSeconds() const;
    // Ends a recording that stopped by itself (the disk), tells the player and OnRecordingStopped.
    // Runs by itself through the owner's dispatcher; without one, the owner calls it.
    void CheckRecording();
    std::function<void(const TRecordingResult&)> OnRecordingStopped;

    // Builds the bank as a performance's rebuild says: its scale and mode file (in folder), its
    // parameters and seeds; interpolate forces interpolated delay lines. False with the reason.
    bool ApplyRebuild(const TGestureRebuild& r, const std::string& folder, bool interpolate,
                      std::string& error);

private:
    void Tell(TInstrumentMessage::TKind kind, std::string text);
    void Changed();
    bool ReadScale(const std::string& path);
    void SetAudioStatus(const char* text);
    TToneBankResult RebuildBank(bool restart);
    void LogRebuild(const TToneBankInput& in);
    void EndRecordingWith(const char* message, const std::string& why);
    // The audio (re)starts: the glitch counts start from zero, blocks get a second to flow.
    void AudioStarted();

    // Declared before the engine, whose tap it is, so that it outlives it.
    TRecorder recorder_;
    TPerformanceFolder folder_;
    TPerformanceInfo info_;
    std::unique_ptr<TAudioEngine> engine_;
    TOscillatorTones tones_;
    TMidiPlaying midi_{tones_};
    // The pen leaves the pressure of a tone that a MIDI note holds alone.
    TPlaying playing_{midi_.PenTones()};
    int scaleStart_ = -1;
    TVarkoSettings settings_;
    int selectedModeFile_ = -1;
    uint64_t lateBase_ = 0, xrunBase_ = 0, resetBase_ = 0, lastSwitches_ = 0;
    std::chrono::steady_clock::time_point lastSwitchTime_;
    // Guards jobs posted to the owner's thread against outliving the instrument.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace varko
