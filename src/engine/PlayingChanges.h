// The playing values the owner's thread changes while the audio runs (a tone's pressure, speed
// and strike position, the resonance, the master gain, the panning), carried to the audio
// callback, which applies them between two blocks. A value written straight into a tone could
// land anywhere inside the block the tone is rendering; applied here, every change takes effect
// at a block boundary the callback knows, so a recording can name the sample exactly.
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

    // The first sample a change applied before the block starting at blockStart affects: a
    // tone's values reach the block its oscillator renders next, which is mixed one block
    // later; the mixer's values reach the block being mixed.
    uint64_t EffectPosition(uint64_t blockStart, uint32_t blockSize) const {
        return Kind == TKind::Tone || Kind == TKind::Resonance || Kind == TKind::Pitch
                   ? blockStart + blockSize
                   : blockStart;
    }
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
    // apply, in order.
    template <typename F> void Drain(F&& apply) {
        TPlayingChange c;
        while (ring_.Pop(c)) {
            apply(c);
            drained_.fetch_add(1, std::memory_order_release);
        }
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
};

} // namespace varko
