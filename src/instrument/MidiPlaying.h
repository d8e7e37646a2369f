// MIDI playing: notes strike the bars and let them ring as a struck bar on a keyboard does,
// and what the fingers do while holding them (pressure, slide, bend, the modulation wheel)
// presses and bows them, through the same three playing values that the pen sets. A released
// key lets its bar ring on or damps it; the sustain pedal (CC64) holds off the damping. Plain MIDI
// on any channel and an MPE lower zone (manager channel 1, one note per member channel 2..16) both
// play. Messages come from a MIDI thread (or the render loop) and are written to the oscillators at
// once; a lock keeps them off an oscillator that a rebuild of the bank is ending. No Qt, no
// devices: raw messages in.
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
    // oscillators: where the playing values go (the bank's tones).
    explicit TMidiPlaying(IToneTarget& oscillators);
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
    // An MPE lower zone: what comes on channel 1 reaches the notes of every channel. Off:
    // each channel's messages reach its own notes only.
    void SetMpe(bool on);
    bool Mpe() const;
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
        int Slide = -1; // CC74, -1 until the first
    };
    struct TSource {
        std::array<TChannel, 16> Channels{};
        int Wheel = 0;      // CC1
        bool Pedal = false; // CC64 down
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

    // All below with mutex_ held.
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

    IToneTarget& tones_;
    TPenTones penTones_{*this};
    // Recursive: a rebuild may start another one (the engine's Start rebuilds the bank when the
    // device changed its period meanwhile).
    mutable std::recursive_mutex mutex_;
    int referenceNote_ = DefaultReferenceNote;
    bool mpe_ = true;
    bool releaseDamps_ = false;
    double lastSeconds_ = 0.0; // the latest time a message or a tick brought
    int scaleStart_ = -1;
    std::array<TSource, Sources> sources_{};
    std::array<TNote, MaxNotes> notes_{};
    std::array<uint16_t, MaxTones> holders_{}; // MIDI notes holding each tone
    // Released under a source's pedal: damped when the pedal lifts (a bit per source).
    std::array<uint8_t, MaxTones> sustained_{};
    std::array<float, MaxTones> speeds_{};     // the speed MIDI last wrote to each tone
    std::array<float, MaxTones> tickSpeeds_{}; // a tick's speed for each tone, -1 for none
    bool pressureShown_ = false;               // a pressure to report after the lock
    float shownPressure_ = 0.0f;
};

} // namespace varko
