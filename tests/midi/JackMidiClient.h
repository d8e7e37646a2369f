// A JACK client that plays a keyboard and listens: it sends MIDI from its output port at the
// start of a period and records two audio inputs, both on the server's frame clock, so that the
// time from a note-on to the sound it starts is counted in frames exactly.
#pragma once

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varko::test {

class TJackMidiClient {
public:
    TJackMidiClient(const std::string& name, size_t capacity) : Left(capacity), Right(capacity) {
        jack_status_t status{};
        Client = jack_client_open(name.c_str(), JackNoStartServer, &status);
        if (!Client) {
            return;
        }
        out_ = jack_port_register(Client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        in_[0] = jack_port_register(Client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        in_[1] = jack_port_register(Client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(Client, &TJackMidiClient::Process, this);
        jack_on_shutdown(
            Client, [](void* self) { static_cast<TJackMidiClient*>(self)->ServerGone = true; },
            this);
        jack_activate(Client);
    }
    ~TJackMidiClient() {
        // Closing a client whose server was killed crashes inside libjack: it is left behind.
        if (Client && !ServerGone) {
            jack_client_close(Client);
        }
    }
    std::atomic<bool> ServerGone{false};
    bool Ok() const { return Client != nullptr && out_ != nullptr; }
    std::string PortName() const { return out_ ? jack_port_name(out_) : ""; }

    // Connects the MIDI output to every MIDI input port whose name matches the pattern (a
    // regular expression); returns how many.
    int ConnectMidiTo(const std::string& pattern) {
        int n = 0;
        if (const char** ports =
                jack_get_ports(Client, pattern.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
            for (const char** p = ports; *p; ++p) {
                if (jack_connect(Client, jack_port_name(out_), *p) == 0 ||
                    jack_port_connected_to(out_, *p)) {
                    ++n;
                }
            }
            jack_free(ports);
        }
        return n;
    }
    // Listens to whatever feeds the server's playback ports; returns how many are connected.
    int ListenToPlayback() {
        int n = 0;
        for (int ch = 0; ch < 2; ++ch) {
            const std::string target = "system:playback_" + std::to_string(ch + 1);
            jack_port_t* port = jack_port_by_name(Client, target.c_str());
            if (!port) {
                continue;
            }
            if (const char** sources = jack_port_get_all_connections(Client, port)) {
                for (const char** s = sources; *s; ++s) {
                    if (jack_connect(Client, *s, jack_port_name(in_[ch])) == 0 ||
                        jack_port_connected_to(in_[ch], *s)) {
                        ++n;
                    }
                }
                jack_free(sources);
            }
        }
        return n;
    }
    // Takes the MIDI port away, as a device that is unplugged.
    void RemoveMidiPort() {
        std::lock_guard lock(mutex_);
        jack_port_unregister(Client, out_);
        out_ = nullptr;
    }

    // Sends the messages at frame `offset` of the next period (offset below the period);
    // returns the frame they carry.
    jack_nframes_t Send(const std::vector<std::vector<uint8_t>>& messages,
                        jack_nframes_t offset = 0) {
        {
            std::lock_guard lock(mutex_);
            pending_ = messages;
            offset_ = offset;
            sentFrame_ = 0;
            sent_.store(false);
        }
        while (!sent_.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return sentFrame_;
    }

    // Records from the next period on, up to the capacity.
    void Record() {
        recording_.store(false);
        frames_.store(0);
        recording_.store(true);
    }
    size_t Recorded() const { return frames_.load(); }
    jack_nframes_t RecordStart() const { return startFrame_.load(); }
    // Waits until at least frames are recorded; false when that takes past the limit.
    bool WaitRecorded(size_t frames, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (Recorded() < frames) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    std::vector<float> Left, Right;
    jack_client_t* Client = nullptr;

private:
    static int Process(jack_nframes_t n, void* arg) {
        auto* self = static_cast<TJackMidiClient*>(arg);
        const jack_nframes_t cycle = jack_last_frame_time(self->Client);
        // A test client: a lock the test thread holds only for a moment is good enough here.
        if (self->mutex_.try_lock()) {
            if (self->out_) {
                void* buffer = jack_port_get_buffer(self->out_, n);
                jack_midi_clear_buffer(buffer);
                if (!self->sent_.load() && !self->pending_.empty()) {
                    const jack_nframes_t at = std::min(self->offset_, n - 1);
                    for (const auto& m : self->pending_) {
                        jack_midi_event_write(buffer, at, m.data(), m.size());
                    }
                    self->pending_.clear();
                    self->sentFrame_ = cycle + at;
                    self->sent_.store(true);
                }
            }
            self->mutex_.unlock();
        }
        if (self->recording_.load()) {
            const auto* l = static_cast<const float*>(jack_port_get_buffer(self->in_[0], n));
            const auto* r = static_cast<const float*>(jack_port_get_buffer(self->in_[1], n));
            size_t at = self->frames_.load();
            if (at == 0) {
                self->startFrame_.store(cycle);
            }
            for (jack_nframes_t i = 0; i < n && at < self->Left.size(); ++i, ++at) {
                self->Left[at] = l[i];
                self->Right[at] = r[i];
            }
            self->frames_.store(at);
        }
        return 0;
    }

    jack_port_t* out_ = nullptr;
    jack_port_t* in_[2] = {nullptr, nullptr};
    std::mutex mutex_;
    std::vector<std::vector<uint8_t>> pending_;
    jack_nframes_t sentFrame_ = 0;
    jack_nframes_t offset_ = 0;
    std::atomic<bool> sent_{true};
    std::atomic<bool> recording_{false};
    std::atomic<size_t> frames_{0};
    std::atomic<jack_nframes_t> startFrame_{0};
};

} // namespace varko::test
