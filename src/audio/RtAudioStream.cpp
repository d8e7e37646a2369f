#include "audio/RtAudioStream.h"

#include <dlfcn.h>
#include <jack/jack.h>
#include <pulse/context.h>
#include <pulse/mainloop.h>

#include <thread>

namespace varko::rtaudio {
namespace {
// The stream whose client RtAudio is opening on this thread.
thread_local TStreamCore* gOpening = nullptr;

void OnJackShutdown(void* core) {
    static_cast<TStreamCore*>(core)->ServerGone.store(true, std::memory_order_relaxed);
}
} // namespace
} // namespace varko::rtaudio

// RtAudio's JACK shutdown callback prints and closes the client on a thread of its own, while
// libjack's thread is still inside the callback; jack_client_close then cancels that thread in
// the middle of the print, and the process terminates. Its clients get a callback that only
// marks the stream instead; the watchdog closes it on the device worker. Every other caller's
// callback is passed on unchanged.
extern "C" void jack_on_shutdown(jack_client_t* client, JackShutdownCallback callback, void* arg) {
    using TReal = void (*)(jack_client_t*, JackShutdownCallback, void*);
    static const auto real = reinterpret_cast<TReal>(dlsym(RTLD_NEXT, "jack_on_shutdown"));
    if (varko::rtaudio::TStreamCore* core = varko::rtaudio::gOpening) {
        callback = &varko::rtaudio::OnJackShutdown;
        arg = core;
        core->ShutdownHooked = true;
    }
    if (real) {
        real(client, callback, arg);
    }
}

namespace varko::rtaudio {

std::atomic<uint32_t> gRtErrors{0};
std::atomic<uint32_t> gJackResizes{0};
std::atomic<uint32_t> gRtWriteErrors{0};

void RtErrorCallback(RtAudioError::Type type, const std::string& message) {
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING) {
        if (message.find("buffer size has changed") != std::string::npos) {
            gJackResizes.fetch_add(1, std::memory_order_relaxed);
        } else if (message.find("callbackEvent") != std::string::npos &&
                   message.find("underrun") == std::string::npos) {
            gRtWriteErrors.fetch_add(1, std::memory_order_relaxed);
        }
    } else {
        gRtErrors.fetch_add(1, std::memory_order_relaxed);
    }
}

const char* ApiLabel(RtAudio::Api api) {
    switch (api) {
    case RtAudio::UNIX_JACK:
        return "JACK";
    case RtAudio::LINUX_ALSA:
        return "ALSA";
    case RtAudio::LINUX_PULSE:
        return "PulseAudio";
    default:
        return "";
    }
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

std::unique_ptr<RtAudio> MakeRtAudio(RtAudio::Api api) {
    try {
        auto audio = std::make_unique<RtAudio>(api);
        audio->showWarnings(false);
        return audio;
    } catch (...) {
        return nullptr;
    }
}

int FindDevice(RtAudio& audio, const std::string& name, RtAudio::DeviceInfo* info) {
    try {
        const unsigned count = audio.getDeviceCount();
        for (unsigned i = 0; i < count; ++i) {
            RtAudio::DeviceInfo d = audio.getDeviceInfo(i);
            if (d.probed && d.outputChannels > 0 && d.name == name) {
                if (info) {
                    *info = d;
                }
                return static_cast<int>(i);
            }
        }
    } catch (...) {
    }
    return -1;
}

namespace {

std::string RegexEscape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (std::strchr("\\^$.|?*+()[]{}", c)) {
            out += '\\';
        }
        out += c;
    }
    return out;
}

// RtAudio keeps its JACK client to itself. Varko's MIDI input belongs on that client, so that
// one client named "Varko" carries the sound and the MIDI, and the MIDI is read in the same
// process callback as the audio is written. The client is the first member of the stream's
// JACK handle in RtAudio 5.2, the version this is built against; any other leaves the MIDI
// input off rather than guess.
struct TRtAudioAccess : RtAudio {
    static RtApi* Api(RtAudio& audio) { return audio.*(&TRtAudioAccess::rtapi_); }
};
struct TRtApiAccess : RtApi {
    static void* Handle(RtApi& api) { return (api.*(&TRtApiAccess::stream_)).apiHandle; }
};

jack_client_t* JackClientOf(RtAudio& audio) {
    if (std::string(RTAUDIO_VERSION) != "5.2.0" || audio.getCurrentApi() != RtAudio::UNIX_JACK) {
        return nullptr;
    }
    RtApi* api = TRtAudioAccess::Api(audio);
    void* handle = api != nullptr ? TRtApiAccess::Handle(*api) : nullptr;
    return handle != nullptr ? *static_cast<jack_client_t**>(handle) : nullptr;
}

} // namespace

TDeviceFacts ProbeDevice(RtAudio::Api api, const std::string& device) {
    TDeviceFacts facts;
    if (api == RtAudio::UNIX_JACK) {
        jack_status_t status{};
        jack_client_t* client = jack_client_open("VarkoProbe", JackNoStartServer, &status);
        if (!client) {
            facts.Error = "The JACK server does not answer.";
            return facts;
        }
        facts.JackPeriod = jack_get_buffer_size(client);
        facts.JackRate = jack_get_sample_rate(client);
        const std::string pattern = "^" + RegexEscape(device) + ":";
        if (const char** ports =
                jack_get_ports(client, pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput)) {
            for (const char** p = ports; *p; ++p) {
                facts.Ports.emplace_back(*p);
            }
            jack_free(ports);
        }
        jack_client_close(client);
        if (facts.Ports.empty()) {
            facts.Error = "The device is not present.";
            return facts;
        }
    }
    std::unique_ptr<RtAudio> audio = MakeRtAudio(api);
    if (!audio) {
        facts.Error = "The audio back end is not available.";
        return facts;
    }
    if (FindDevice(*audio, device, &facts.Info) < 0) {
        facts.Error = "The device is not present.";
        return facts;
    }
    facts.Found = true;
    return facts;
}

namespace {

// PulseAudio's own answer: RtAudio keeps the sinks it once listed for the life of the process,
// so listing them again says nothing about the server.
bool PulseServerAnswers(Clock::duration limit) {
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop) {
        return false;
    }
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "Varko");
    bool answers = false;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const auto until = Clock::now() + limit;
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                answers = true;
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(state) || Clock::now() > until) {
                break;
            }
            // Polls at most 10 ms at a time, so that the limit holds.
            pa_mainloop_prepare(loop, 10000);
            pa_mainloop_poll(loop);
            pa_mainloop_dispatch(loop);
        }
        pa_context_disconnect(context);
    }
    if (context) {
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return answers;
}

} // namespace

bool ServerAnswers(RtAudio::Api api, const std::string& device, Clock::duration limit) {
    if (api == RtAudio::LINUX_PULSE) {
        return PulseServerAnswers(limit);
    }
    // ALSA opens the device to list it: through a sound server, that asks the server.
    return ProbeDevice(api, device).Found;
}

TOpenResult OpenStream(const std::shared_ptr<TStreamCore>& core, const TOpenRequest& r) {
    TOpenResult result;
    core->Audio = MakeRtAudio(r.Api);
    if (!core->Audio) {
        result.Error = "The audio back end is not available.";
        result.Absent = true;
        return result;
    }
    const int device = FindDevice(*core->Audio, r.Device, nullptr);
    if (device < 0) {
        result.Error = "The device is not present.";
        result.Absent = true;
        return result;
    }
    RtAudio::StreamParameters out;
    out.deviceId = static_cast<unsigned>(device);
    out.nChannels = static_cast<unsigned>(r.Outputs);
    out.firstChannel = 0;
    RtAudio::StreamOptions options;
    options.flags = RTAUDIO_NONINTERLEAVED | RTAUDIO_SCHEDULE_REALTIME;
    options.streamName = "Varko";
    options.priority = 80;
    options.numberOfBuffers = r.Api == RtAudio::LINUX_PULSE  ? PulseBuffers
                              : r.Api == RtAudio::LINUX_ALSA ? AlsaBuffers
                                                             : 0;
    unsigned frames = r.Frames;
    const uint32_t errorsBefore = gRtErrors.load(std::memory_order_relaxed);
    gOpening = core.get();
    try {
        core->Audio->openStream(&out, nullptr, r.Format, static_cast<unsigned>(r.Rate), &frames,
                                &TStreamCore::Callback, core.get(), &options, &RtErrorCallback);
    } catch (const RtAudioError& e) {
        gOpening = nullptr;
        result.Error = e.getMessage();
        return result;
    }
    gOpening = nullptr;
    if (!core->Audio->isStreamOpen() || gRtErrors.load(std::memory_order_relaxed) != errorsBefore) {
        result.Error = "The stream did not open.";
        return result;
    }
    core->Rate = r.Rate;
    if (r.Api == RtAudio::UNIX_JACK) {
        core->Jack = JackClientOf(*core->Audio);
        if (core->Jack != nullptr) {
            core->Rate = jack_get_sample_rate(core->Jack);
            core->MidiIn = core->Rate > 0
                               ? jack_port_register(core->Jack, "midi_in", JACK_DEFAULT_MIDI_TYPE,
                                                    JackPortIsInput, 0)
                               : nullptr;
        }
        TMidiFeed::Instance().Carried.store(core->MidiIn != nullptr);
    }
    result.Ok = true;
    result.Frames = frames;
    try {
        result.Latency = core->Audio->getStreamLatency();
    } catch (...) {
    }
    return result;
}

// On the device worker. Should RtAudio's own JACK shutdown callback be in place, a server that
// goes away makes RtAudio close the stream on a thread of its own; that close is let finish.
void CloseStream(const std::shared_ptr<TStreamCore>& core) {
    if (!core->Audio) {
        return;
    }
    if (core->Jack != nullptr) {
        TMidiFeed::Instance().Carried.store(false);
    }
    try {
        if (core->Api == RtAudio::UNIX_JACK && !core->ShutdownHooked) {
            for (int i = 0;
                 i < 100 && core->Audio->isStreamOpen() && core->Audio->isStreamRunning(); ++i) {
                std::this_thread::sleep_for(10ms);
            }
        }
        if (core->Audio->isStreamOpen()) {
            core->Audio->closeStream();
        }
    } catch (...) {
    }
    core->Audio.reset();
}
} // namespace varko::rtaudio
