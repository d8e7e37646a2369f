// The engine's oscillators as the tones that playing writes to. Values go through the engine's
// playing changes, so that they reach the tones between two blocks. Every playing value passes
// here (pen, mouse, MIDI, script), so this is where they are held to the ranges the bands are
// built for: whatever an input sends, the oscillators (and a recording) see a sane value.
// Several writer threads take turns under a lock and queue the changes for the audio callback;
// a single writer that also renders the bank (a plugin's process thread) applies them at once
// and takes no lock.
#pragma once

#include "engine/AudioEngine.h"
#include "engine/FaderLaws.h"
#include "instrument/Playing.h"

#include <mutex>
#include <vector>

namespace varko {

class TOscillatorTones : public IToneTarget {
public:
    // OneThread: the caller renders the engine's bank itself, with RenderNow.
    explicit TOscillatorTones(TCallers callers = TCallers::AnyThread) : callers_(callers) {}

    // No engine (before the audio host is attached, after it is released): no tones.
    void SetEngine(TAudioEngine* engine) {
        const auto lock = Lock();
        engine_ = engine;
        Reset();
    }
    // The bank was built anew: every tone starts at rest.
    void BankChanged() {
        const auto lock = Lock();
        Reset();
    }

    int ToneCount() const override {
        return engine_ != nullptr ? static_cast<int>(engine_->Oscillators.size()) : 0;
    }
    void SetPressure(int tone, float value) override {
        const auto lock = Lock();
        At(tone).Pressure = Bounded(value, 0.0f, 1.0f);
        Send(tone);
    }
    void SetSpeed(int tone, float value) override {
        const auto lock = Lock();
        At(tone).Speed = Bounded(value, 0.0f, MaxSpeed);
        Send(tone);
    }
    void SetStrikePosition(int tone, float value) override {
        const auto lock = Lock();
        At(tone).Strike = Bounded(value, 0.0f, 1.0f);
        Send(tone);
    }
    void SetPitch(int tone, float ratio) override {
        const auto lock = Lock();
        if (engine_ == nullptr || tone < 0 || tone >= ToneCount()) {
            return;
        }
        TPlayingChange c;
        c.Kind = TPlayingChange::TKind::Pitch;
        c.Tone = tone;
        // Not a number: unbent.
        c.Value = ratio == ratio ? Bounded(ratio, 1.0f / TWaveguideBands::MaxBendUp,
                                           TWaveguideBands::MaxBendUp)
                                 : 1.0f;
        Post(c);
    }
    void SetResonance(float value, int fader) override {
        const auto lock = Lock();
        if (engine_ == nullptr) {
            return;
        }
        TPlayingChange c;
        c.Kind = TPlayingChange::TKind::Resonance;
        // Never a loop gain of 1 or more: the bands would grow without end.
        c.Value = Bounded(value, 0.0f, ResonanceFromFader(FaderMin));
        c.Fader = fader;
        Post(c);
    }

    // The stamp for input that arrived at steadyNs (TAudioEngine::ArrivalStamp); 0 without an
    // engine.
    uint64_t ArrivalStamp(int64_t steadyNs) {
        const auto lock = Lock();
        return engine_ != nullptr ? engine_->ArrivalStamp(steadyNs) : 0;
    }

    // value held to lo..hi; not a number gives lo.
    static float Bounded(float value, float lo, float hi) {
        return value >= lo ? (value <= hi ? value : hi) : lo;
    }

private:
    // What this thread last wrote to a tone: a change carries all three, since one may still be
    // on its way when the next is written.
    struct TValues {
        float Pressure = 0.0f;
        float Speed = 0.0f;
        float Strike = 0.0f;
    };
    TValues& At(int tone) {
        if (values_.size() != engine_->Oscillators.size()) {
            Reset();
        }
        return values_[static_cast<size_t>(tone)];
    }
    void Send(int tone) {
        const TValues& v = values_[static_cast<size_t>(tone)];
        TPlayingChange c;
        c.Kind = TPlayingChange::TKind::Tone;
        c.Tone = tone;
        c.Pressure = v.Pressure;
        c.Speed = v.Speed;
        c.Strike = v.Strike;
        c.At = TChangeTimeScope::Current();
        Post(c);
    }
    void Post(const TPlayingChange& c) {
        if (callers_ == TCallers::OneThread) {
            engine_->ChangeFromRenderer(c);
        } else {
            engine_->Change(c);
        }
    }
    std::unique_lock<std::mutex> Lock() {
        return callers_ == TCallers::AnyThread ? std::unique_lock(mutex_)
                                               : std::unique_lock(mutex_, std::defer_lock);
    }

    void Reset() { values_.assign(static_cast<size_t>(ToneCount()), TValues{}); }

    // The pen's thread and a MIDI input's write here; the audio callback never does. A
    // OneThread caller never takes it. Taken after TMidiPlaying's and before the engine's
    // ChangesMutex (the order is written at TMidiPlaying::mutex_).
    const TCallers callers_;
    std::mutex mutex_;
    // Set under mutex_ by the owner; read under it by every writer above.
    TAudioEngine* engine_ = nullptr;
    std::vector<TValues> values_;
};

} // namespace varko
