// MIDI read by the audio device's own callback (Varko's JACK client carries its MIDI input next
// to its audio outputs), on its way to the thread that plays it. Each message keeps the time of
// its frame in the block, so that the player can place it at the same frame of a later block.
// One per process: the audio and the MIDI input are opened and closed apart, by different
// layers, and only one audio stream runs at a time.
#pragma once

#include "core/SpscRing.h"

#include <atomic>
#include <cstdint>
#include <semaphore>

namespace varko {

struct TFedMidi {
    double Seconds = 0.0; // the steady clock's time of the message's frame
    uint8_t Size = 0;     // 1 .. 3: a message, or the next bytes of a longer one
    uint8_t Bytes[3] = {};
};

class TMidiFeed {
public:
    static TMidiFeed& Instance() {
        static TMidiFeed feed;
        return feed;
    }

    // Device callback: no lock, no allocation. A full ring drops the message and counts it.
    void Push(const TFedMidi& m) {
        if (!ring_.Push(m)) {
            Dropped.fetch_add(1, std::memory_order_relaxed);
        }
    }
    // Device callback, after its block's messages: wakes the reader (one futex call at most).
    void Signal() {
        if (!wakePending_.exchange(true, std::memory_order_acq_rel)) {
            Wake.release();
        }
    }
    // The reader: after a wake-up taken from Wake, before reading.
    void Woken() { wakePending_.store(false, std::memory_order_release); }
    bool Pop(TFedMidi& m) { return ring_.Pop(m); }

    // The reader waits on it; Signal (and whoever else wants the reader awake) releases it.
    std::counting_semaphore<1> Wake{0};
    std::atomic<uint64_t> Dropped{0};
    // Whether a device now carries the MIDI input (set and cleared by the device's driver).
    std::atomic<bool> Carried{false};

private:
    TMidiFeed() = default;
    // A burst of a few hundred messages in one block still fits.
    TSpscRing<TFedMidi> ring_{2048};
    std::atomic<bool> wakePending_{false};
};

} // namespace varko
