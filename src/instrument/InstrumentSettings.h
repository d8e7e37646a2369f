// The player's settings as the settings file stores them, and what each choice changes at
// once (the mixer, the playing, the MIDI). Owner's thread only.
#pragma once

#include "files/SettingsFile.h"
#include "instrument/MidiPlaying.h"
#include "instrument/Playing.h"

#include <functional>
#include <string>
#include <utility>

namespace varko {

class TAudioSession;

class TInstrumentSettings {
public:
    // bankChanged: a choice the bank is built from changed; the owner marks the bank pending,
    // and builds it at once when now is true. cursor: the mouse in screen pixels, where mouse
    // speed is measured from.
    TInstrumentSettings(TAudioSession& audio, TPlaying& playing, TMidiPlaying& midi,
                        const std::function<std::pair<float, float>()>& cursor,
                        std::function<void(bool now)> bankChanged);
    TInstrumentSettings(const TInstrumentSettings&) = delete;
    TInstrumentSettings& operator=(const TInstrumentSettings&) = delete;

    // Every setting where it is stored.
    const TVarkoSettings& Stored() const { return settings_; }

    // The audio session's choice of driver and pair (it applies them itself).
    void StoreDriver(int index, std::string name);
    void StoreChannelPair(int pair) { settings_.ASIOchannel = pair; }

    void SetStereoSeparation(bool on);
    // Read at the next rebuild: the bank is left pending.
    void SetInterpolateDelays(bool on);
    void SetMasterLevel(int position);   // master fader 0..200
    void SetLimiter(bool on);            // the master limiter after the master gain
    void SetResonanceControl(int index); // 0 middle raises, 1 right raises, -1 neither chosen
    void SetResonanceRate(int rate);     // 1..10
    void SetMousePressure(bool on);      // the left mouse button applies pressure
    // Without a tablet the mouse is the input for good: the stored choice is not read.
    void ForceMousePressure() { mousePressureForced_ = true; }
    bool MousePressureForced() const { return mousePressureForced_; }
    void SetMouseGlide(bool on); // a mouse drag plays every bar it crosses
    void SetShowMainLevels(bool on);
    void SetShowPressureLevel(bool on);
    void SetShowFrequencyLabels(bool on) { settings_.ShowFrequencyLabels = on; }
    void SetPaint2Rows(bool on);
    void SetColoredToneZone(bool on) { settings_.ColoredToneZone = on; }
    // MIDI: the chosen input port ("" for none; the owner opens it), the note that plays the
    // scale's 1/1 (0..127), MPE, and whether pitch bend moves the pitch (else it bows; the
    // bank is built anew, with room to bend down, when the tones exist).
    void SetMidiInput(const std::string& port) { settings_.MidiInput = port; }
    void SetReferenceNote(int note);
    void SetMpe(bool on);
    void SetBendPitch(bool on);
    void SetKeyReleaseDamps(bool on); // a released key damps its bar; off: it rings on
    // Who renders the tones: a pool (perCore, of poolThreads threads, 0 one per core) or a
    // thread per tone. A bank that plays is built anew for it.
    void SetToneThreads(bool perCore, int poolThreads);
    void SetRestoreSession(bool on) {
        settings_.RestoreSession = on;
    } // open the last session at start
    void SetShowNoTabletNotice(bool on) { settings_.ShowNoTabletNotice = on; }
    void SetLabelKind(int kind); // the bars' labels: 0 Hz, 1 cents, 2 ratio, 3 degree
    // The driver panel's choice for a driver (0: the device's own), kept for the next start.
    void SetPanelChoice(const std::string& driver, int bufferSize, int sampleRate);
    // The session as the file had it, kept until the owner opens it.
    void StoreSession(const TVarkoSettings& s);

    // The mixer's stereo flags and pan constants from the settings and the bank.
    void UpdateStereoConstants();

private:
    TAudioSession& audio_;
    TPlaying& playing_;
    TMidiPlaying& midi_;
    const std::function<std::pair<float, float>()>& cursor_;
    std::function<void(bool now)> bankChanged_;
    TVarkoSettings settings_;
    bool mousePressureForced_ = false;
};

} // namespace varko
