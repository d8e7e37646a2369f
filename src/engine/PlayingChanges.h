// The playing values the owner's thread changes while the audio runs (a tone's pressure, speed
// and strike position, the resonance, the master gain, the panning), carried to the audio
// callback, which applies them between two blocks. A value written straight into a tone could
// land anywhere inside the block the tone is rendering; applied here, every change takes effect
// at a sample the callback knows: a block boundary, or for a tone's change that names its sample,
// that sample inside the block the tone renders next, so a recording can name it exactly.
#pragma once

#include "core/SpscRing.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>

namespace varko {

struct TPlayingChange {
    enum class TKind : uint8_t {
        Tone,      // one tone's Pressure, Speed and Strike
        Resonance, // every tone's loop gain Value, from resonance fader position Fader
        Master,    // the master gain Value, from master fader position Fader
        Mix,       // Stereo, TwoRows, PanOffset and PanStep
        Pitch,     // one tone's Pitch: Value, its frequency against the built one
    };
    TKind Kind = TKind::Tone;
    bool Stereo = true;
    bool TwoRows = false;
    int32_t Tone = 0;
    int32_t Fader = 0;
    float Pressure = 0.0f;
    float Speed = 0.0f;
    float Strike = 0.0f;
    float Value = 0.0f;
    float PanOffset = 0.0f;
    float PanStep = 0.0f;
    // Tone changes: the sample (on the engine's SamplePosition count) to be heard from. One
    // before the block the tone renders next, 0 included, means at that block's start; one past
    // that block waits for its own.
    uint64_t At = 0;

    // The first sample a change applied before the block starting at blockStart affects: a
    // tone's values reach the block its oscillator renders next, which is mixed one block
    // later, at frame inside it (a pitch and the resonance at its start); the mixer's values
    // reach the block being mixed.
    uint64_t EffectPosition(uint64_t blockStart, uint32_t blockSize, uint32_t frame = 0) const {
        if (Kind == TKind::Tone) {
            return blockStart + blockSize + frame;
        }
        return Kind == TKind::Resonance || Kind == TKind::Pitch ? blockStart + blockSize
                                                                : blockStart;
    }
};

// The sample that the tone changes made on this thread are stamped with (TPlayingChange::At)
// while the scope lives: a sender that knows when its input happened (a MIDI event's frame, a
// script's sample) opens one around the playing code, which need not know about time.
class TChangeTimeScope {
public:
    explicit TChangeTimeScope(uint64_t at) : previous_(gCurrent) { gCurrent = at; }
    ~TChangeTimeScope() { gCurrent = previous_; }
    TChangeTimeScope(const TChangeTimeScope&) = delete;
    TChangeTimeScope& operator=(const TChangeTimeScope&) = delete;
    // 0 with no scope: as soon as possible.
    static uint64_t Current() { return gCurrent; }

private:
    uint64_t previous_;
    // Initial-exec: in a plugin loaded by dlopen, the general model would allocate this on the
    // host's audio thread at its first use.
    static inline thread_local uint64_t gCurrent [[gnu::tls_model("initial-exec")]] = 0;
};

class TPlayingChanges {
public:
    // Changes in flight between two blocks; a player makes a few hundred a second.
    static constexpr size_t RingCapacity = 8192;

    TPlayingChanges() : ring_(RingCapacity) {}

    // Owner's thread, while the callback runs: queues the change behind every earlier one. A
    // full ring (the callback has stalled) keeps it here, to follow with a later Post or Flush.
    void Post(const TPlayingChange& change) {
        MoveBacklog();
        if (!backlog_.empty() || !ring_.Push(change)) {
            backlog_.push_back(change);
        } else {
            ++posted_;
        }
    }

    // Owner's thread: changes posted that the callback has not applied yet.
    size_t Pending() const {
        return posted_ - drained_.load(std::memory_order_acquire) + backlog_.size();
    }

    // Callback (or the owner's thread while no callback runs): hands every queued change to
    // apply, in order, up to the first one that ready(change) says is not due yet; that one
    // and those behind it wait for a later Drain.
    template <typename F, typename R> void Drain(F&& apply, R&& ready) {
        if (heldBack_) {
            if (!ready(held_)) {
                return;
            }
            heldBack_ = false;
            apply(held_);
            drained_.fetch_add(1, std::memory_order_release);
        }
        TPlayingChange c;
        while (ring_.Pop(c)) {
            if (!ready(c)) {
                held_ = c;
                heldBack_ = true;
                return;
            }
            apply(c);
            drained_.fetch_add(1, std::memory_order_release);
        }
    }
    template <typename F> void Drain(F&& apply) {
        Drain(apply, [](const TPlayingChange&) { return true; });
    }

    // Owner's thread, no callback running: everything queued and held back, in order.
    template <typename F> void Flush(F&& apply) {
        Drain(apply);
        for (const TPlayingChange& c : backlog_) {
            apply(c);
        }
        backlog_.clear();
    }

private:
    void MoveBacklog() {
        while (!backlog_.empty() && ring_.Push(backlog_.front())) {
            backlog_.pop_front();
            ++posted_;
        }
    }

    TSpscRing<TPlayingChange> ring_;
    std::deque<TPlayingChange> backlog_; // the owner's thread's alone
    size_t posted_ = 0;                  // the owner's thread's alone
    std::atomic<size_t> drained_{0};
    // The receiver's alone: a change popped before its block.
    TPlayingChange held_;
    bool heldBack_ = false;
};

} // namespace varko
