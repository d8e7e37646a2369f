// One RtAudio stream and what the drivers over RtAudio share: the device calls they make on
// their worker, and the stream core the device's callback reaches.
#pragma once

#include "audio/Asio.h"
#include "core/CallbackGate.h"
#include "core/MidiFeed.h"
#include "core/RealTime.h"

#include <RtAudio.h>
#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace varko::rtaudio {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long the driver's caller waits for a device call before it gives the device up.
inline constexpr auto ProbeLimit = 5s; // a JACK client opening on a loaded machine takes a while
inline constexpr auto OpenLimit = 5s;
inline constexpr auto StopLimit = 1500ms;
// How often a lost device is looked for, and a stalled server asked whether it is still there.
inline constexpr auto ProbeInterval = 500ms;
// An ALSA or PulseAudio stream whose server still answers is waited for this long before it
// counts as lost: a server stalled under load goes on by itself.
inline constexpr auto ServerStallLimit = 10s;
// Device buffers of the back ends that fill theirs in bursts: the period count that keeps
// PulseAudio from asking for several periods at once while adding the least latency.
inline constexpr unsigned PulseBuffers = 3;
inline constexpr unsigned AlsaBuffers = 3;
// The burst that fills a device's buffer at the start is answered with silence; never more
// callbacks than this.
inline constexpr int MaxPrefill = 8;

// A period the device granted in place of the one asked for, per driver: a reloaded driver
// asks for it at once.
struct TGranted {
    int32_t Asked = 0;
    int32_t Granted = 0;
};

// RtAudio's error callback carries no user data; the counters are process-wide and each
// stream compares them with their value at its start. Non-warning errors mean the stream was
// aborted; RtAudio's JACK back end warns when the server's period changed under the stream
// and from then on is no longer called. The ALSA and PulseAudio back ends only warn when a
// write fails and call back again at once: a dead server makes them spin without playing.
extern std::atomic<uint32_t> gRtErrors;
extern std::atomic<uint32_t> gJackResizes;
extern std::atomic<uint32_t> gRtWriteErrors; // failed writes, underruns (recovered) not counted
void RtErrorCallback(RtAudioError::Type type, const std::string& message);

// "JACK", "ALSA" or "PulseAudio", as the driver names begin.
const char* ApiLabel(RtAudio::Api api);
int64_t NowNs();
// The back end's RtAudio object, or none when it cannot be made.
std::unique_ptr<RtAudio> MakeRtAudio(RtAudio::Api api);
// Index of the device named name with output channels, or -1.
int FindDevice(RtAudio& audio, const std::string& name, RtAudio::DeviceInfo* info);

// What a device offers, found on the device worker.
struct TDeviceFacts {
    bool Found = false;
    std::string Error;
    RtAudio::DeviceInfo Info;
    // JACK: the server's period and rate, and the device's playback ports in the order RtAudio
    // connects them.
    uint32_t JackPeriod = 0;
    double JackRate = 0.0;
    std::vector<std::string> Ports;
};
TDeviceFacts ProbeDevice(RtAudio::Api api, const std::string& device);
// Whether the device's server is there: true when it answers, false when it is gone or refuses
// (or has not answered within limit). Blocks while the server does not answer.
bool ServerAnswers(RtAudio::Api api, const std::string& device, Clock::duration limit);

// One open RtAudio stream and what its callback reaches. Shared with the device worker's jobs,
// so that a stream given up while its server stalls stays valid until it is closed.
struct TStreamCore {
    std::unique_ptr<RtAudio> Audio; // used on the device worker alone
    RtAudio::Api Api = RtAudio::UNSPECIFIED;
    TCallbackGate Gate;

    // Written while the gate is shut, read by the callback behind it.
    ASIOCallbacks* Callbacks = nullptr;
    std::vector<uint8_t*> DeviceHalf; // per device channel, its two halves or none
    size_t HalfBytes = 0;             // one channel's half
    size_t SampleBytes = 4;
    unsigned Frames = 0;
    int32_t Outputs = 0;
    int64_t PeriodNs = 0;
    bool Bursty = false;
    // JACK: the stream's client and Varko's MIDI input on it ("midi_in"), read in the callback.
    // Set on the device worker before the stream starts; gone with the client.
    jack_client_t* Jack = nullptr;
    jack_port_t* MidiIn = nullptr;
    double Rate = 0.0;

    // The callback thread's own.
    int Half = 0;
    int PrefillLeft = 0;
    int64_t LastCallbackNs = 0;

    // Read by the driver.
    std::atomic<uint64_t> CallbackCount{0};
    std::atomic<uint64_t> Underflows{0};
    std::atomic<bool> SizeMismatch{false};
    // JACK: the server shut the client down. Set on libjack's thread; see jack_on_shutdown.
    std::atomic<bool> ServerGone{false};
    bool ShutdownHooked = false; // written while the stream opens, on the device worker
    std::atomic<int64_t> SamplePos{0};
    std::atomic<int64_t> SystemTime{0};

    static int Callback(void* output, void*, unsigned frames, double, RtAudioStreamStatus status,
                        void* user) {
        static_cast<TStreamCore*>(user)->Process(static_cast<uint8_t*>(output), frames, status);
        return 0;
    }

    // The device's callback thread: no locks, no allocation.
    void Process(uint8_t* out, unsigned frames, RtAudioStreamStatus status) {
        CallbackCount.fetch_add(1, std::memory_order_relaxed);
        if (!Gate.Enter()) {
            // Stopped: the halves and the host may be gone. Only the device's own buffer.
            Silence(out, frames);
            return;
        }
        SetFlushDenormals();
        const size_t bytes = HalfBytes;
        if (status & RTAUDIO_OUTPUT_UNDERFLOW) {
            Underflows.fetch_add(1, std::memory_order_relaxed);
        }
        if (frames != Frames) {
            SizeMismatch.store(true, std::memory_order_relaxed);
        }
        if (frames != Frames || Prefilling()) {
            Silence(out, frames);
            Gate.Leave();
            return;
        }
        const int half = Half;
        const int64_t now = NowNs();
        SystemTime.store(now, std::memory_order_relaxed);
        Callbacks->bufferSwitch(half, ASIOTrue);
        // After the switch: the player maps a message's time onto this block's samples, which
        // the engine has noted by now. Before it, a reader woken at once could map it onto the
        // block before, and be off by however much the callbacks' spacing wavered.
        if (MidiIn != nullptr) {
            FeedMidi(now, frames);
        }
        const size_t offset = half ? bytes : 0;
        for (int32_t c = 0; c < Outputs; ++c) {
            uint8_t* dest = out + static_cast<size_t>(c) * bytes;
            if (uint8_t* src = DeviceHalf[static_cast<size_t>(c)]) {
                std::memcpy(dest, src + offset, bytes);
            } else {
                std::memset(dest, 0, bytes);
            }
        }
        Half = 1 - half;
        SamplePos.fetch_add(frames, std::memory_order_relaxed);
        Gate.Leave();
    }

    // This period's MIDI, each message with the time of its frame: the player places it at
    // the same frame of a later block. Bytes go on in threes, so that the reader's parser sees
    // a short system exclusive message end (and what it does to running status); a long one is
    // no playing and is left out.
    void FeedMidi(int64_t nowNs, unsigned frames) {
        static constexpr size_t Longest = 48;
        void* buffer = jack_port_get_buffer(MidiIn, frames);
        if (buffer == nullptr) {
            return;
        }
        TMidiFeed& feed = TMidiFeed::Instance();
        const uint32_t count = jack_midi_get_event_count(buffer);
        for (uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t e;
            if (jack_midi_event_get(&e, buffer, i) != 0 || e.size == 0 || e.size > Longest) {
                continue;
            }
            TFedMidi m;
            m.Seconds = static_cast<double>(nowNs) * 1e-9 + static_cast<double>(e.time) / Rate;
            for (size_t done = 0; done < e.size; done += sizeof m.Bytes) {
                m.Size = static_cast<uint8_t>(std::min(sizeof m.Bytes, e.size - done));
                std::memcpy(m.Bytes, e.buffer + done, m.Size);
                feed.Push(m);
            }
        }
        if (count != 0) {
            feed.Signal();
        }
    }

    void Silence(uint8_t* out, unsigned frames) const {
        std::memset(out, 0,
                    static_cast<size_t>(frames) * SampleBytes * static_cast<size_t>(Outputs));
    }

    // A back end that fills the device's whole buffer at the start calls back several times at
    // once; mixing those blocks would find every tone still rendering. They are answered with
    // silence until the first callback that comes at the device's pace.
    bool Prefilling() {
        if (PrefillLeft <= 0) {
            return false;
        }
        const int64_t now = NowNs();
        const bool paced = LastCallbackNs != 0 && now - LastCallbackNs >= PeriodNs / 2;
        LastCallbackNs = now;
        if (paced) {
            PrefillLeft = 0;
            return false;
        }
        --PrefillLeft;
        return true;
    }
};

struct TOpenRequest {
    RtAudio::Api Api = RtAudio::UNSPECIFIED;
    std::string Device;
    int32_t Outputs = 0;
    RtAudioFormat Format = RTAUDIO_FLOAT32;
    double Rate = 0.0;
    unsigned Frames = 0;
};
struct TOpenResult {
    bool Ok = false;
    bool Absent = false;
    unsigned Frames = 0;
    long Latency = 0;
    std::string Error;
};

// On the device worker.
TOpenResult OpenStream(const std::shared_ptr<TStreamCore>& core, const TOpenRequest& r);
// On the device worker. A JACK server that goes away makes RtAudio close the stream on a
// thread of its own while the stream still counts as running; that close is let finish first.
void CloseStream(const std::shared_ptr<TStreamCore>& core);

} // namespace varko::rtaudio
