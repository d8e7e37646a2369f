// MIDI playing: notes strike the bars and let them ring as a struck bar on a keyboard does,
// and what the fingers do while holding them (pressure, slide, bend, the modulation wheel)
// presses and bows them, through the same three playing values that the pen sets; pitch bend
// moves the pitch of the bar (or, as a setting, bows it). A released key lets its bar ring on or
// damps it; the sustain pedal (CC64) holds off the damping. Plain MIDI on any channel and MPE
// zones (a lower zone managed on channel 1, an upper one on channel 16, members one note each,
// set by the MPE Configuration Message) both play. Messages come from a MIDI thread (or the render
// loop) and are written to the oscillators at once; a lock keeps them off an oscillator that a
// rebuild of the bank is ending. A plugin's process thread, the one caller of its own bank, takes
// no lock (TCallers::OneThread). No Qt, no devices: raw messages in.
#pragma once

#include "engine/ToneBank.h"
#include "instrument/Playing.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace varko {

class TMidiPlaying {
public:
    // oscillators: where the playing values go (the bank's tones). OneThread: every call comes
    // from one thread at a time, handed over with a release and an acquire; nothing is locked.
    explicit TMidiPlaying(IToneTarget& oscillators, TCallers callers = TCallers::AnyThread);
    TMidiPlaying(const TMidiPlaying&) = delete;
    TMidiPlaying& operator=(const TMidiPlaying&) = delete;

    // Senders that each keep their own channels and notes (ports, files, scripts).
    static constexpr int Sources = 4;
    static constexpr int DefaultReferenceNote = 60;
    // How often strikes and movement are brought up to date while they last, in seconds.
    static constexpr double TickSeconds = 0.005;

    // ---- Settings (any thread)

    // The note that plays the scale's 1/1, 0..127; each note above or below it plays the next
    // tone up or down the tone list.
    void SetReferenceNote(int note);
    int ReferenceNote() const;
    // MPE: until a sender configures its zones, one lower zone of 15 members (what comes on
    // channel 1 reaches the notes of every channel). Off: each channel's messages reach its own
    // notes only, and every channel bends 2 semitones until RPN 0 says otherwise.
    void SetMpe(bool on);
    bool Mpe() const;
    // Pitch bend moves the pitch of the note's bar within the channel's bend range (on), or
    // bows the bar as a movement (off).
    void SetBendPitch(bool on);
    bool BendPitch() const;
    // Which tone each key 0..127 plays (-1: none), as a keyboard mapping decides; null: one key
    // per tone from the reference note. Held notes keep their tones until ReplaceBank.
    void SetKeyTones(const std::array<int, 128>* keyTones);
    // A released key damps its bar (pressed with DampPressure, no movement, until the bar is
    // played again); off, the bar rings on.
    void SetReleaseDamps(bool on);
    bool ReleaseDamps() const;

    // ---- The bank (owner's thread)

    // Runs replace, which ends or makes oscillators, while no message touches them (replace may
    // itself replace the bank again). Held notes carry over: each strikes its bar in the new
    // bank anew (the new tones start silent); a note without a bar there is forgotten.
    // scaleStart: the tone of the scale's 1/1 in the new bank, -1 when there is no scale.
    void ReplaceBank(int scaleStart, const std::function<void()>& replace);
    // Called (on the replacing thread) when held notes were struck anew: strikes need ticks.
    std::function<void()> OnStruck;
    // The clock that messages and ticks are timed on, for those strikes; none: the latest
    // time a message or a tick brought. Set before messages flow.
    std::function<double()> Clock;

    // ---- Messages (a MIDI thread, or the render loop)

    // One complete message, status byte first. seconds: the time it takes effect, on the clock
    // that Tick is given. Anything but a well-formed channel message is ignored.
    void Message(int source, const uint8_t* bytes, size_t size, double seconds);
    // Lets strikes decay and turns movement into speed. Returns the seconds until it wants to
    // be called again, or a negative number when nothing moves.
    double Tick(double seconds);
    // The source's sender went away: its notes are released (the tones ring out).
    void ReleaseSource(int source);
    void ReleaseAll();

    // The tones as the pen and the mouse play them: a tone that a MIDI note holds keeps the
    // note's pressure until the note is released.
    IToneTarget& PenTones() { return penTones_; }

    // Called with each pressure that MIDI gives a tone (0..1), after the message, on its thread.
    std::function<void(float)> OnPressure;

    int HeldNotes() const;
    // Sets held[t] for every tone t a held note holds (within held's size).
    void MarkHeldTones(std::vector<bool>& held) const;

    // ---- The mapping's constants (what a key or a finger does to the bar)

    // What a damping key presses the bar with: the most damping the bar's loop allows.
    static constexpr float DampPressure = 1.0f;
    // A struck key: this speed, falling to 0 over StrikeSeconds, like a short pen stroke.
    static constexpr float StrikeSpeed = 0.5f;
    static constexpr double StrikeSeconds = 0.03;
    // The modulation wheel at its top bows every held tone at this speed.
    static constexpr float WheelSpeed = 0.05f;
    // Pitch bend movement counts eight times its share of the bend range: an MPE finger's
    // vibrato spans a small part of its range of several octaves.
    static constexpr float BendMovement = 8.0f;
    // Bend ranges in semitones until RPN 0 sets them: an MPE zone's member channels, its
    // manager channel (and every channel of plain MIDI).
    static constexpr float MemberBendRange = 48.0f;
    static constexpr float ManagerBendRange = 2.0f;
    // The lowest a bend reaches (four octaves down): the tones' rings have room for it.
    static constexpr float BendRoom = 16.0f;
    // The most notes held at once; beyond it a new note is ignored.
    static constexpr int MaxNotes = MaxTones;

private:
    struct TNote {
        bool Held = false;
        int Source = 0;
        int Channel = 0;
        int Number = 0;
        int Tone = 0;
        float Velocity = 0.0f;    // the pressure the key struck with
        float Aftertouch = -1.0f; // the last pressure message for the note, -1 for none
        float Pressure = 0.0f;    // what the note presses with now
        bool Striking = false;
        double StrikeStart = 0.0;
        float Movement = 0.0f; // since the last tick, in fractions of each control's range
    };
    struct TChannel {
        int Bend = 8192;
        int Slide = -1;          // CC74, -1 until the first
        float BendRange = -1.0f; // semitones; -1: the default for the channel's role
        int RpnMsb = 127;        // the registered parameter selected (127, 127: none)
        int RpnLsb = 127;
        int DataMsb = 0; // the last data entry (CC6, CC38)
        int DataLsb = 0;
    };
    struct TSource {
        std::array<TChannel, 16> Channels{};
        int Wheel = 0;      // CC1
        bool Pedal = false; // CC64 down
        // Member channels of the lower zone (manager channel 1: channels 2..) and of the upper
        // zone (manager channel 16: channels 15 and down); 0: no zone.
        int LowerMembers = 15;
        int UpperMembers = 0;
    };

    // What pen writes look like to the tones.
    class TPenTones : public IToneTarget {
    public:
        explicit TPenTones(TMidiPlaying& midi) : midi_(midi) {}
        int ToneCount() const override { return midi_.tones_.ToneCount(); }
        void SetPressure(int tone, float value) override;
        void SetSpeed(int tone, float value) override { midi_.tones_.SetSpeed(tone, value); }
        void SetStrikePosition(int tone, float value) override {
            midi_.tones_.SetStrikePosition(tone, value);
        }
        void SetResonance(float value, int fader) override {
            midi_.tones_.SetResonance(value, fader);
        }

    private:
        TMidiPlaying& midi_;
    };

    // The lock for a call: mutex_ held, or nothing for a OneThread caller.
    std::unique_lock<std::recursive_mutex> Lock() const;

    // All below under Lock().
    bool Reaches(const TNote& n, int source, int channel) const;
    TNote* Find(int source, int channel, int number);
    void NoteOn(int source, int channel, int number, int velocity, double seconds);
    void Release(TNote& n);
    void Damp(int tone);
    void SetAftertouch(TNote& n, float value);
    void ApplyPressure(TNote& n);
    void WritePressure(int tone, float value);
    void WriteSpeed(int tone, float speed);
    void Controller(int source, int channel, int number, int value);
    void DataEntry(int source, int channel);
    void ConfigureZone(TSource& s, int manager, int members);
    // The zone manager channel whose messages reach notes on channel, or -1.
    int ManagerOf(const TSource& s, int channel) const;
    float BendRangeOf(const TSource& s, int channel) const;
    // The note's pitch as its channels' bends set it, as a frequency ratio.
    float NotePitch(const TNote& n) const;
    int ToneOf(int number) const;
    void WritePitch(int tone, float ratio);

    IToneTarget& tones_;
    TPenTones penTones_{*this};
    const TCallers callers_;
    // Recursive: a rebuild may start another one (the engine's Start rebuilds the bank when the
    // device changed its period meanwhile).
    // The lock order, the only one: this mutex, then TOscillatorTones' (the tones it plays),
    // then TAudioEngine::ChangesMutex. No path takes them the other way round.
    mutable std::recursive_mutex mutex_;
    int referenceNote_ = DefaultReferenceNote;
    bool mpe_ = true;
    bool releaseDamps_ = false;
    bool bendPitch_ = true;
    bool keyMapped_ = false;
    std::array<int, 128> keyTones_{};
    double lastSeconds_ = 0.0; // the latest time a message or a tick brought
    int scaleStart_ = -1;
    std::array<TSource, Sources> sources_{};
    std::array<TNote, MaxNotes> notes_{};
    std::array<uint16_t, MaxTones> holders_{}; // MIDI notes holding each tone
    // Released under a source's pedal: damped when the pedal lifts (a bit per source).
    std::array<uint8_t, MaxTones> sustained_{};
    std::array<float, MaxTones> speeds_{};     // the speed MIDI last wrote to each tone
    std::array<float, MaxTones> tickSpeeds_{}; // a tick's speed for each tone, -1 for none
    std::array<float, MaxTones> pitches_{};    // the pitch MIDI last wrote to each tone, 0: 1
    bool pressureShown_ = false;               // a pressure to report after the lock
    float shownPressure_ = 0.0f;
};

} // namespace varko
