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
        Out = jack_port_register(Client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        In[0] = jack_port_register(Client, "in_1", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        In[1] = jack_port_register(Client, "in_2", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
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
    bool Ok() const { return Client != nullptr && Out != nullptr; }
    std::string PortName() const { return Out ? jack_port_name(Out) : ""; }

    // Connects the MIDI output to every MIDI input port whose name matches the pattern (a
    // regular expression); returns how many.
    int ConnectMidiTo(const std::string& pattern) {
        int n = 0;
        if (const char** ports =
                jack_get_ports(Client, pattern.c_str(), JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
            for (const char** p = ports; *p; ++p) {
                if (jack_connect(Client, jack_port_name(Out), *p) == 0 ||
                    jack_port_connected_to(Out, *p)) {
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
                    if (jack_connect(Client, *s, jack_port_name(In[ch])) == 0 ||
                        jack_port_connected_to(In[ch], *s)) {
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
        std::lock_guard lock(Mutex);
        jack_port_unregister(Client, Out);
        Out = nullptr;
    }

    // Sends the messages at frame `offset` of the next period (offset below the period);
    // returns the frame they carry.
    jack_nframes_t Send(const std::vector<std::vector<uint8_t>>& messages,
                        jack_nframes_t offset = 0) {
        {
            std::lock_guard lock(Mutex);
            Pending = messages;
            Offset = offset;
            SentFrame = 0;
            Sent.store(false);
        }
        while (!Sent.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return SentFrame;
    }

    // Records from the next period on, up to the capacity.
    void Record() {
        Recording.store(false);
        Frames.store(0);
        Recording.store(true);
    }
    size_t Recorded() const { return Frames.load(); }
    jack_nframes_t RecordStart() const { return StartFrame.load(); }
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
        if (self->Mutex.try_lock()) {
            if (self->Out) {
                void* buffer = jack_port_get_buffer(self->Out, n);
                jack_midi_clear_buffer(buffer);
                if (!self->Sent.load() && !self->Pending.empty()) {
                    const jack_nframes_t at = std::min(self->Offset, n - 1);
                    for (const auto& m : self->Pending) {
                        jack_midi_event_write(buffer, at, m.data(), m.size());
                    }
                    self->Pending.clear();
                    self->SentFrame = cycle + at;
                    self->Sent.store(true);
                }
            }
            self->Mutex.unlock();
        }
        if (self->Recording.load()) {
            const auto* l = static_cast<const float*>(jack_port_get_buffer(self->In[0], n));
            const auto* r = static_cast<const float*>(jack_port_get_buffer(self->In[1], n));
            size_t at = self->Frames.load();
            if (at == 0) {
                self->StartFrame.store(cycle);
            }
            for (jack_nframes_t i = 0; i < n && at < self->Left.size(); ++i, ++at) {
                self->Left[at] = l[i];
                self->Right[at] = r[i];
            }
            self->Frames.store(at);
        }
        return 0;
    }

    jack_port_t* Out = nullptr;
    jack_port_t* In[2] = {nullptr, nullptr};
    std::mutex Mutex;
    std::vector<std::vector<uint8_t>> Pending;
    jack_nframes_t SentFrame = 0;
    jack_nframes_t Offset = 0;
    std::atomic<bool> Sent{true};
    std::atomic<bool> Recording{false};
    std::atomic<size_t> Frames{0};
    std::atomic<jack_nframes_t> StartFrame{0};
};

} // namespace varko::test
