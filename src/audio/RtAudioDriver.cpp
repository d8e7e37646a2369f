#include "audio/RtAudioDriver.h"

#include "audio/DeviceWorker.h"
#include "core/CallbackGate.h"
#include "core/RealTime.h"

#include <RtAudio.h>
#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace varko {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// How long the driver's caller waits for a device call before it gives the device up.
constexpr auto ProbeLimit = 5s; // a JACK client opening on a loaded machine takes a while
constexpr auto OpenLimit = 5s;
constexpr auto StopLimit = 1500ms;
// How often a lost device is looked for.
constexpr auto ProbeInterval = 500ms;
// Device buffers of the back ends that fill theirs in bursts: the period count that keeps
// PulseAudio from asking for several periods at once while adding the least latency.
constexpr unsigned PulseBuffers = 3;
constexpr unsigned AlsaBuffers = 3;
// The burst that fills a device's buffer at the start is answered with silence; never more
// callbacks than this.
constexpr int MaxPrefill = 8;

std::mutex gPanelMutex;
TDriverPanelPresenter gPresenter;
std::map<std::string, TDriverPanelChoice> gChoices;
// A period the device granted in place of the one asked for, per driver: a reloaded driver
// asks for it at once.
struct TGranted {
    int32_t Asked = 0;
    int32_t Granted = 0;
};
std::map<std::string, TGranted> gGranted;

// RtAudio's error callback carries no user data; the counters are process-wide and each
// stream compares them with their value at its start. Non-warning errors mean the stream was
// aborted; RtAudio's JACK back end warns when the server's period changed under the stream
// and from then on is no longer called.
std::atomic<uint32_t> gRtErrors{0};
std::atomic<uint32_t> gJackResizes{0};
void RtErrorCallback(RtAudioError::Type type, const std::string& message) {
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING) {
        if (message.find("buffer size has changed") != std::string::npos) {
            gJackResizes.fetch_add(1, std::memory_order_relaxed);
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

// Index of the device named name with output channels, or -1.
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

    // The callback thread's own.
    int Half = 0;
    int PrefillLeft = 0;
    int64_t LastCallbackNs = 0;

    // Read by the driver.
    std::atomic<uint64_t> CallbackCount{0};
    std::atomic<uint64_t> Underflows{0};
    std::atomic<bool> SizeMismatch{false};
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
        SystemTime.store(NowNs(), std::memory_order_relaxed);
        Callbacks->bufferSwitch(half, ASIOTrue);
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
    try {
        core->Audio->openStream(&out, nullptr, r.Format, static_cast<unsigned>(r.Rate), &frames,
                                &TStreamCore::Callback, core.get(), &options, &RtErrorCallback);
    } catch (const RtAudioError& e) {
        result.Error = e.getMessage();
        return result;
    }
    if (!core->Audio->isStreamOpen() || gRtErrors.load(std::memory_order_relaxed) != errorsBefore) {
        result.Error = "The stream did not open.";
        return result;
    }
    result.Ok = true;
    result.Frames = frames;
    try {
        result.Latency = core->Audio->getStreamLatency();
    } catch (...) {
    }
    return result;
}

// On the device worker. A JACK server that goes away makes RtAudio close the stream on a
// thread of its own while the stream still counts as running; that close is let finish first.
void CloseStream(const std::shared_ptr<TStreamCore>& core) {
    if (!core->Audio) {
        return;
    }
    try {
        if (core->Api == RtAudio::UNIX_JACK) {
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

class TRtAudioDriver final : public IAsioDriver {
public:
    TRtAudioDriver(RtAudio::Api api, std::string device)
        : FApi(api), FDevice(std::move(device)),
          FName(std::string(ApiLabel(api)) + ": " + FDevice) {}

    ~TRtAudioDriver() override {
        {
            std::lock_guard lock(FMutex);
            FQuit = true;
        }
        FWake.notify_all();
        if (FWatchdog.joinable()) {
            FWatchdog.join();
        }
        disposeBuffers();
        std::lock_guard lock(FMutex);
        FWorker.reset(); // lets a healthy device close; a stuck one finishes on its own
    }

    ASIOBool init(void*) override {
        std::shared_ptr<TDeviceWorker> worker = Worker();
        const RtAudio::Api api = FApi;
        const std::string device = FDevice;
        const std::optional<TDeviceFacts> probed = worker->Call<TDeviceFacts>(
            [api, device] { return ProbeDevice(api, device); }, ProbeLimit);
        if (!probed) {
            GiveUpWorker();
            return Fail("The device does not answer.");
        }
        if (!probed->Found) {
            return Fail(probed->Error.c_str());
        }
        const RtAudio::DeviceInfo& info = probed->Info;
        std::lock_guard lock(FMutex);
        FOutputs = static_cast<int32_t>(info.outputChannels);
        // ALSA's plugin devices ("default" through a sound server) accept up to 32 or 64
        // channels of a stereo sink; the two Varko plays are all they get.
        if (FApi == RtAudio::LINUX_ALSA && !FDevice.starts_with("hw:")) {
            FOutputs = std::min(FOutputs, 2);
        }

        const unsigned f = info.nativeFormats;
        // Float unless the device's own format is another handled one; without any, RtAudio
        // converts from float.
        FFormat = RTAUDIO_FLOAT32;
        FType = ASIOSTFloat32LSB;
        if (!(f & RTAUDIO_FLOAT32)) {
            if (f & RTAUDIO_SINT32) {
                FFormat = RTAUDIO_SINT32, FType = ASIOSTInt32LSB;
            } else if (f & RTAUDIO_SINT24) {
                FFormat = RTAUDIO_SINT24, FType = ASIOSTInt24LSB;
            } else if (f & RTAUDIO_SINT16) {
                FFormat = RTAUDIO_SINT16, FType = ASIOSTInt16LSB;
            } else if (f & RTAUDIO_FLOAT64) {
                FFormat = RTAUDIO_FLOAT64, FType = ASIOSTFloat64LSB;
            }
        }
        FBytes = ASIOSampleBytes(FType);

        FRates.clear();
        for (unsigned r : info.sampleRates) {
            FRates.push_back(r);
        }
        std::sort(FRates.begin(), FRates.end());
        const TDriverPanelChoice choice = DriverChoice(FName);

        FNames.clear();
        if (FApi == RtAudio::UNIX_JACK) {
            FMin = FMax = FPreferred = static_cast<int32_t>(probed->JackPeriod);
            FGranularity = 0;
            FRates = {probed->JackRate};
            FRate = probed->JackRate;
            FNames = probed->Ports;
        } else {
            FMin = 32;
            FMax = 4096;
            FGranularity = -1; // powers of two
            FPreferred = choice.BufferSize ? static_cast<int32_t>(choice.BufferSize) : 512;
            if (const auto g = GrantedFor(FName); g.Asked == FPreferred && g.Granted > 0) {
                FPreferred = g.Granted;
            }
            if (FRates.empty()) {
                FRates = {44100.0, 48000.0};
            }
            FRate = info.preferredSampleRate ? info.preferredSampleRate : FRates.back();
            if (std::find(FRates.begin(), FRates.end(), choice.SampleRate) != FRates.end()) {
                FRate = choice.SampleRate;
            } else if (std::find(FRates.begin(), FRates.end(), FRate) == FRates.end()) {
                FRate = FRates.back();
            }
        }
        FNames.resize(static_cast<size_t>(FOutputs));
        for (int32_t c = 0; c < FOutputs; ++c) {
            if (FNames[static_cast<size_t>(c)].empty()) {
                FNames[static_cast<size_t>(c)] = "Output " + std::to_string(c + 1);
            }
        }

        FWatchdog = std::thread([this] { Watch(); });
        return ASIOTrue;
    }

    void getDriverName(char* name) override {
        if (!name) {
            return;
        }
        std::strncpy(name, FName.c_str(), 31);
        name[31] = 0;
    }
    int32_t getDriverVersion() override { return 2; }
    void getErrorMessage(char* string) override {
        if (!string) {
            return;
        }
        std::lock_guard lock(FMutex);
        std::strncpy(string, FError.c_str(), 123);
        string[123] = 0;
    }

    ASIOError start() override {
        std::shared_ptr<TStreamCore> core;
        {
            std::lock_guard lock(FMutex);
            if (FHalves.empty()) {
                return ASE_InvalidMode;
            }
            if (FRunning) {
                return ASE_OK;
            }
            core = FCore;
        }
        // After a loss the stream is gone; open it again on the device if it is back.
        if (!core) {
            const ASIOError reopened = Open(FBufferSize);
            if (reopened != ASE_OK) {
                return reopened;
            }
            std::lock_guard lock(FMutex);
            core = FCore;
        }
        core->Half = 0;
        core->PrefillLeft = core->Bursty ? MaxPrefill : 0;
        core->LastCallbackNs = 0;
        core->SizeMismatch.store(false, std::memory_order_relaxed);
        core->Gate.Open();
        const uint32_t errorsBefore = gRtErrors.load(std::memory_order_relaxed);
        const std::optional<bool> started = Worker()->Call<bool>(
            [core] {
                core->Audio->startStream();
                return core->Audio->isStreamRunning();
            },
            OpenLimit);
        if (!started || !*started || gRtErrors.load(std::memory_order_relaxed) != errorsBefore) {
            core->Gate.Shut();
            std::lock_guard lock(FMutex);
            FError = "The stream did not start.";
            GiveUpStream();
            return ASE_HWMalfunction;
        }
        std::lock_guard lock(FMutex);
        FErrorsAtStart = gRtErrors.load(std::memory_order_relaxed);
        FResizesAtStart = gJackResizes.load(std::memory_order_relaxed);
        FLastCount = core->CallbackCount.load(std::memory_order_relaxed);
        FLastProgress = Clock::now();
        FLost = false;
        FRunning = true;
        return ASE_OK;
    }

    ASIOError stop() override {
        std::shared_ptr<TStreamCore> core;
        {
            std::lock_guard lock(FMutex);
            if (!FRunning) {
                return ASE_OK;
            }
            FRunning = false;
            core = FCore;
        }
        if (!core) {
            return ASE_OK;
        }
        // From here on no callback reaches the host, whatever the back end does.
        core->Gate.Shut();
        // Without draining: what the device still holds is not worth waiting for.
        const std::optional<bool> stopped = Worker()->Call<bool>(
            [core] {
                if (core->Audio && core->Audio->isStreamRunning()) {
                    core->Audio->abortStream();
                }
                return true;
            },
            StopLimit);
        if (!stopped) {
            std::lock_guard lock(FMutex);
            FError = "The device does not answer.";
            GiveUpStream();
        }
        return ASE_OK;
    }

    ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override {
        if (numInputChannels) {
            *numInputChannels = 0;
        }
        if (numOutputChannels) {
            *numOutputChannels = FOutputs;
        }
        return ASE_OK;
    }

    ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override {
        std::lock_guard lock(FMutex);
        if (inputLatency) {
            *inputLatency = 0;
        }
        if (outputLatency) {
            *outputLatency = FLatency ? FLatency : (FBufferSize ? FBufferSize : FPreferred);
        }
        return ASE_OK;
    }

    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) override {
        std::lock_guard lock(FMutex);
        if (minSize) {
            *minSize = FMin;
        }
        if (maxSize) {
            *maxSize = FMax;
        }
        if (preferredSize) {
            *preferredSize = FPreferred;
        }
        if (granularity) {
            *granularity = FGranularity;
        }
        return ASE_OK;
    }

    ASIOError canSampleRate(ASIOSampleRate sampleRate) override {
        return Accepts(sampleRate) ? ASE_OK : ASE_NoClock;
    }

    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override {
        if (!sampleRate) {
            return ASE_InvalidParameter;
        }
        *sampleRate = FRate;
        return ASE_OK;
    }

    ASIOError setSampleRate(ASIOSampleRate sampleRate) override {
        if (!Accepts(sampleRate)) {
            return ASE_NoClock;
        }
        if (sampleRate == FRate) {
            return ASE_OK;
        }
        std::lock_guard lock(FMutex);
        FRate = sampleRate;
        // An open stream runs at the old rate until the host reloads us.
        if (!FHalves.empty()) {
            FResetWanted.store(true, std::memory_order_relaxed);
        }
        return ASE_OK;
    }

    ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override {
        if (!clocks || !numSources || *numSources < 1) {
            return ASE_InvalidParameter;
        }
        clocks[0] = ASIOClockSource{};
        clocks[0].isCurrentSource = ASIOTrue;
        std::strcpy(clocks[0].name, "Internal");
        *numSources = 1;
        return ASE_OK;
    }

    ASIOError setClockSource(int32_t reference) override {
        return reference == 0 ? ASE_OK : ASE_InvalidParameter;
    }

    // The host's buffer switch, on the callback thread, while the gate holds the stream.
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override {
        TStreamCore* core = FLiveCore.load(std::memory_order_acquire);
        if (sPos) {
            *sPos = ASIOFromInt64(core ? core->SamplePos.load(std::memory_order_relaxed) : 0);
        }
        if (tStamp) {
            *tStamp = ASIOFromInt64(core ? core->SystemTime.load(std::memory_order_relaxed) : 0);
        }
        return ASE_OK;
    }

    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        if (!info) {
            return ASE_InvalidParameter;
        }
        if (info->isInput || info->channel < 0 || info->channel >= FOutputs) {
            return ASE_NotPresent;
        }
        std::lock_guard lock(FMutex);
        info->isActive = ASIOFalse;
        for (const TChannel& ch : FChannels) {
            if (ch.Device == info->channel) {
                info->isActive = ASIOTrue;
            }
        }
        info->channelGroup = 0;
        info->type = FType;
        std::strncpy(info->name, FNames[static_cast<size_t>(info->channel)].c_str(), 31);
        info->name[31] = 0;
        return ASE_OK;
    }

    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                            ASIOCallbacks* callbacks) override {
        {
            std::lock_guard lock(FMutex);
            if (!bufferInfos || numChannels <= 0 || !callbacks || bufferSize < 1) {
                return ASE_InvalidParameter;
            }
            if (FRunning || !FHalves.empty()) {
                return ASE_InvalidMode;
            }
            for (int32_t i = 0; i < numChannels; ++i) {
                const ASIOBufferInfo& b = bufferInfos[i];
                if (b.isInput || b.channelNum < 0 || b.channelNum >= FOutputs) {
                    return ASE_InvalidParameter;
                }
            }
            const size_t half = static_cast<size_t>(bufferSize) * static_cast<size_t>(FBytes);
            FHalves.assign(static_cast<size_t>(numChannels) * 2 * half, 0);
            FChannels.clear();
            FDeviceHalf.assign(static_cast<size_t>(FOutputs), nullptr);
            for (int32_t i = 0; i < numChannels; ++i) {
                uint8_t* base = FHalves.data() + static_cast<size_t>(i) * 2 * half;
                bufferInfos[i].buffers[0] = base;
                bufferInfos[i].buffers[1] = base + half;
                FChannels.push_back({bufferInfos[i].channelNum, base});
                FDeviceHalf[static_cast<size_t>(bufferInfos[i].channelNum)] = base;
            }
            FBufferSize = bufferSize;
            FCallbacks = callbacks;
        }
        const ASIOError opened = Open(bufferSize);
        if (opened != ASE_OK) {
            std::lock_guard lock(FMutex);
            ReleaseBuffers();
            return opened;
        }
        return ASE_OK;
    }

    ASIOError disposeBuffers() override {
        stop();
        std::shared_ptr<TStreamCore> core;
        {
            std::lock_guard lock(FMutex);
            core = std::move(FCore);
            FLiveCore.store(nullptr, std::memory_order_release);
        }
        if (core) {
            core->Gate.Shut();
            if (!Worker()->Call<bool>(
                    [core] {
                        CloseStream(core);
                        return true;
                    },
                    StopLimit)) {
                GiveUpWorker();
            }
        }
        std::lock_guard lock(FMutex);
        ReleaseBuffers();
        return ASE_OK;
    }

    ASIOError controlPanel() override {
        TDriverPanelPresenter presenter;
        {
            std::lock_guard lock(gPanelMutex);
            presenter = gPresenter;
        }
        if (!presenter) {
            return ASE_NotPresent;
        }
        TDriverPanelOffer offer;
        {
            std::lock_guard lock(FMutex);
            offer.DriverName = FName;
            for (int32_t s = FMin; s <= FMax && s > 0; s = FGranularity == -1 ? s * 2 : FMax + 1) {
                offer.BufferSizes.push_back(static_cast<uint32_t>(s));
            }
            if (FGranularity != -1 && FMax != FMin) {
                offer.BufferSizes.push_back(static_cast<uint32_t>(FMax));
            }
            offer.CurrentBufferSize = static_cast<uint32_t>(FBufferSize ? FBufferSize : FPreferred);
            // A period the device granted outside the usual steps is offered too.
            if (std::find(offer.BufferSizes.begin(), offer.BufferSizes.end(),
                          offer.CurrentBufferSize) == offer.BufferSizes.end()) {
                offer.BufferSizes.push_back(offer.CurrentBufferSize);
                std::sort(offer.BufferSizes.begin(), offer.BufferSizes.end());
            }
            offer.SampleRates = FRates;
            offer.CurrentSampleRate = FRate;
            offer.OutputLatency = static_cast<uint32_t>(FLatency);
        }
        TDriverPanelChoice choice{offer.CurrentBufferSize, offer.CurrentSampleRate};
        if (!presenter(offer, choice)) {
            return ASE_OK;
        }
        const bool sizeOk = std::find(offer.BufferSizes.begin(), offer.BufferSizes.end(),
                                      choice.BufferSize) != offer.BufferSizes.end();
        if (!sizeOk || !Accepts(choice.SampleRate)) {
            return ASE_InvalidParameter;
        }
        if (choice.BufferSize == offer.CurrentBufferSize &&
            choice.SampleRate == offer.CurrentSampleRate) {
            return ASE_OK;
        }
        SetDriverChoice(FName, choice);
        ASIOCallbacks* callbacks = nullptr;
        {
            std::lock_guard lock(FMutex);
            FPreferred = static_cast<int32_t>(choice.BufferSize);
            FRate = choice.SampleRate;
            callbacks = FCallbacks;
        }
        // Buffers in use were made for the old settings: the host reloads us.
        if (callbacks && callbacks->asioMessage) {
            callbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        }
        return ASE_OK;
    }

    ASIOError future(int32_t selector, void* opt) override {
        if (selector == kAsioGetXruns && opt) {
            *static_cast<uint64_t*>(opt) = FXruns.load(std::memory_order_relaxed);
            return ASE_SUCCESS;
        }
        // None of the optional features (gains, meters, monitoring, time code, transport).
        return ASE_NotPresent;
    }

    // Our callback hands the half to the device as soon as the host returns.
    ASIOError outputReady() override { return ASE_OK; }

private:
    struct TChannel {
        int32_t Device = 0;
        uint8_t* Base = nullptr;
    };

    static TGranted GrantedFor(const std::string& name) {
        std::lock_guard lock(gPanelMutex);
        auto it = gGranted.find(name);
        return it == gGranted.end() ? TGranted{} : it->second;
    }
    static void RememberGranted(const std::string& name, int32_t asked, int32_t granted) {
        std::lock_guard lock(gPanelMutex);
        gGranted[name] = {asked, granted};
    }

    ASIOBool Fail(const char* text) {
        std::lock_guard lock(FMutex);
        FError = text;
        return ASIOFalse;
    }

    bool Accepts(double rate) const {
        return std::any_of(FRates.begin(), FRates.end(),
                           [rate](double r) { return std::abs(r - rate) < 0.5; });
    }

    std::shared_ptr<TDeviceWorker> Worker() {
        std::lock_guard lock(FWorkerMutex);
        if (!FWorker) {
            FWorker = std::make_shared<TDeviceWorker>();
        }
        return FWorker;
    }
    // The worker is stuck in a call the server does not answer: it finishes alone.
    void GiveUpWorker() {
        std::shared_ptr<TDeviceWorker> worker;
        {
            std::lock_guard lock(FWorkerMutex);
            worker = std::move(FWorker);
        }
        if (worker) {
            worker->Abandon();
        }
    }

    // Caller holds FMutex. The stream is shut and handed to its worker to close whenever the
    // server lets it; the next start opens a new one.
    void GiveUpStream() {
        FLiveCore.store(nullptr, std::memory_order_release);
        std::shared_ptr<TStreamCore> core = std::move(FCore);
        FRunning = false;
        if (!core) {
            return;
        }
        core->Gate.Shut();
        std::shared_ptr<TDeviceWorker> worker;
        {
            std::lock_guard lock(FWorkerMutex);
            worker = std::move(FWorker);
        }
        if (worker) {
            worker->Post([core] { CloseStream(core); });
            worker->Abandon();
        }
    }

    // Opens the stream for the buffers at frames per period. Not under FMutex.
    ASIOError Open(int32_t frames) {
        auto core = std::make_shared<TStreamCore>();
        TOpenRequest request;
        {
            std::lock_guard lock(FMutex);
            core->Api = FApi;
            core->Callbacks = FCallbacks;
            core->DeviceHalf = FDeviceHalf;
            core->HalfBytes = static_cast<size_t>(frames) * static_cast<size_t>(FBytes);
            core->SampleBytes = static_cast<size_t>(FBytes);
            core->Frames = static_cast<unsigned>(frames);
            core->Outputs = FOutputs;
            core->PeriodNs = static_cast<int64_t>(1e9 * frames / (FRate > 0 ? FRate : 48000.0));
            core->Bursty = FApi != RtAudio::UNIX_JACK;
            request = {FApi, FDevice, FOutputs, FFormat, FRate, static_cast<unsigned>(frames)};
        }
        const std::optional<TOpenResult> opened = Worker()->Call<TOpenResult>(
            [core, request] { return OpenStream(core, request); }, OpenLimit);
        std::lock_guard lock(FMutex);
        if (!opened) {
            FError = "The device does not answer.";
            FLost = true;
            std::shared_ptr<TDeviceWorker> worker;
            {
                std::lock_guard workerLock(FWorkerMutex);
                worker = std::move(FWorker);
            }
            if (worker) {
                worker->Post([core] { CloseStream(core); });
                worker->Abandon();
            }
            return ASE_NotPresent;
        }
        if (!opened->Ok) {
            FError = opened->Error;
            FLost = opened->Absent;
            Worker()->Post([core] { CloseStream(core); });
            return opened->Absent ? ASE_NotPresent : ASE_HWMalfunction;
        }
        if (opened->Frames != static_cast<unsigned>(frames)) {
            // The device insists on another period: the host asks us again, and a reloaded
            // driver asks for that period at once.
            const auto granted = static_cast<int32_t>(opened->Frames);
            RememberGranted(FName, FPreferred, granted);
            FPreferred = FMin = FMax = granted;
            Worker()->Post([core] { CloseStream(core); });
            FError = "The device runs at another buffer size.";
            return ASE_InvalidMode;
        }
        FLatency = static_cast<int32_t>(opened->Latency);
        if (FLatency <= 0 && FApi == RtAudio::LINUX_PULSE) {
            FLatency = frames * static_cast<int32_t>(PulseBuffers);
        }
        FCore = core;
        FLiveCore.store(core.get(), std::memory_order_release);
        return ASE_OK;
    }

    // Caller holds FMutex.
    void ReleaseBuffers() {
        FCallbacks = nullptr;
        FChannels.clear();
        FDeviceHalf.clear();
        FHalves.clear();
        FBufferSize = 0;
    }

    // Notices leave the audio thread here: a lost device and its return, a period or rate the
    // buffers no longer match. Never inside the device's callback, and never holding our lock
    // while the host hears of it, so that the host may stop or reload us at once.
    void Watch() {
        NameThisThread("VarkoWatchdog");
        std::unique_lock lock(FMutex);
        auto lastProbe = Clock::now() - ProbeInterval;
        std::shared_ptr<std::atomic<int>> probe; // 0 looking, 1 found, -1 not found
        while (!FQuit) {
            FWake.wait_for(lock, 50ms);
            if (FQuit) {
                break;
            }
            int32_t message = 0;
            if (FRunning && FCore) {
                TStreamCore& core = *FCore;
                FXruns.store(FXrunsBefore + core.Underflows.load(std::memory_order_relaxed),
                             std::memory_order_relaxed);
                if (FApi == RtAudio::UNIX_JACK &&
                    gJackResizes.load(std::memory_order_relaxed) != FResizesAtStart) {
                    // The server changed its period and dropped our client.
                    FResizesAtStart = gJackResizes.load(std::memory_order_relaxed);
                    message = kAsioBufferSizeChange;
                } else if (core.SizeMismatch.exchange(false, std::memory_order_relaxed)) {
                    message = kAsioBufferSizeChange;
                } else if (Stalled(core)) {
                    FXrunsBefore = FXruns.load(std::memory_order_relaxed);
                    GiveUpStream();
                    FLost = true;
                    probe.reset();
                    lastProbe = Clock::now();
                    message = kAsioDeviceLost;
                }
            } else if (FResetWanted.exchange(false, std::memory_order_relaxed)) {
                message = kAsioResetRequest;
            } else if (FLost && FCallbacks) {
                // Looked for on a worker of its own time, so a stalled server holds no one.
                if (probe && probe->load() == 1) {
                    probe.reset();
                    message = kAsioDeviceBack;
                } else if ((!probe || probe->load() == -1) &&
                           Clock::now() - lastProbe >= ProbeInterval) {
                    lastProbe = Clock::now();
                    probe = std::make_shared<std::atomic<int>>(0);
                    const RtAudio::Api api = FApi;
                    const std::string device = FDevice;
                    lock.unlock();
                    Worker()->Post([probe, api, device] {
                        probe->store(ProbeDevice(api, device).Found ? 1 : -1);
                    });
                    lock.lock();
                }
            }
            ASIOCallbacks* callbacks = FCallbacks;
            if (message && callbacks && callbacks->asioMessage) {
                lock.unlock();
                callbacks->asioMessage(message, 0, nullptr, nullptr);
                lock.lock();
            }
        }
    }

    // Caller holds FMutex. No callback for longer than a slow machine explains, or an error
    // that aborted the stream.
    bool Stalled(const TStreamCore& core) {
        const auto now = Clock::now();
        const uint64_t count = core.CallbackCount.load(std::memory_order_relaxed);
        if (count != FLastCount) {
            FLastCount = count;
            FLastProgress = now;
        }
        const double period = FRate > 0 ? FBufferSize / FRate : 0.1;
        const auto limit = std::chrono::duration<double>(std::max(1.5, 16 * period));
        return now - FLastProgress > limit ||
               gRtErrors.load(std::memory_order_relaxed) != FErrorsAtStart;
    }

    const RtAudio::Api FApi;
    const std::string FDevice;
    const std::string FName;

    // Guards what the owner's calls and the watchdog share; never held across a device call.
    std::mutex FMutex;
    std::string FError;
    int32_t FOutputs = 0;
    RtAudioFormat FFormat = RTAUDIO_FLOAT32;
    ASIOSampleType FType = ASIOSTFloat32LSB;
    int32_t FBytes = 4;
    std::vector<std::string> FNames;
    std::vector<double> FRates;
    double FRate = 44100.0;
    int32_t FMin = 0, FMax = 0, FPreferred = 0, FGranularity = 0;
    int32_t FLatency = 0; // samples the device buffers, as the stream reports it

    std::vector<uint8_t> FHalves;
    std::vector<TChannel> FChannels;
    std::vector<uint8_t*> FDeviceHalf; // per device channel, its two halves or none
    int32_t FBufferSize = 0;
    ASIOCallbacks* FCallbacks = nullptr;

    std::shared_ptr<TStreamCore> FCore; // the open stream
    std::atomic<TStreamCore*> FLiveCore{nullptr};
    std::mutex FWorkerMutex; // inside FMutex when both are held
    std::shared_ptr<TDeviceWorker> FWorker;

    std::condition_variable FWake;
    std::thread FWatchdog;
    bool FQuit = false;
    bool FRunning = false;
    bool FLost = false; // the device went away; the watchdog looks for it
    uint32_t FErrorsAtStart = 0;
    uint32_t FResizesAtStart = 0;
    uint64_t FLastCount = 0;
    Clock::time_point FLastProgress;
    uint64_t FXrunsBefore = 0;

    std::atomic<bool> FResetWanted{false};
    std::atomic<uint64_t> FXruns{0};
};

} // namespace

void SetDriverPanelPresenter(TDriverPanelPresenter presenter) {
    std::lock_guard lock(gPanelMutex);
    gPresenter = std::move(presenter);
}

TDriverPanelChoice DriverChoice(const std::string& driverName) {
    std::lock_guard lock(gPanelMutex);
    auto it = gChoices.find(driverName);
    return it == gChoices.end() ? TDriverPanelChoice{} : it->second;
}

void SetDriverChoice(const std::string& driverName, const TDriverPanelChoice& choice) {
    std::lock_guard lock(gPanelMutex);
    gChoices[driverName] = choice;
}

// ALSA reports every card it cannot open on stderr; an absent device is no news here.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

std::vector<std::string> RtAudioBackEnds() {
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    std::vector<std::string> names;
    for (RtAudio::Api api : {RtAudio::UNIX_JACK, RtAudio::LINUX_ALSA, RtAudio::LINUX_PULSE}) {
        if (std::find(compiled.begin(), compiled.end(), api) != compiled.end()) {
            names.emplace_back(ApiLabel(api));
        }
    }
    return names;
}

TAsioDriverRecords EnumerateRtAudioDrivers() {
    snd_lib_error_set_handler(&QuietAlsa);
    TAsioDriverRecords records;
    std::vector<RtAudio::Api> compiled;
    RtAudio::getCompiledApi(compiled);
    for (RtAudio::Api api : {RtAudio::UNIX_JACK, RtAudio::LINUX_ALSA, RtAudio::LINUX_PULSE}) {
        if (std::find(compiled.begin(), compiled.end(), api) == compiled.end()) {
            continue;
        }
        std::unique_ptr<RtAudio> audio = MakeRtAudio(api);
        if (!audio) {
            continue;
        }
        unsigned count = 0;
        try {
            count = audio->getDeviceCount();
        } catch (...) {
            continue;
        }
        for (unsigned i = 0; i < count; ++i) {
            RtAudio::DeviceInfo info;
            try {
                info = audio->getDeviceInfo(i);
            } catch (...) {
                continue;
            }
            if (!info.probed || info.outputChannels == 0) {
                continue;
            }
            const std::string device = info.name;
            records.push_back({std::string(ApiLabel(api)) + ": " + device, [api, device] {
                                   return std::unique_ptr<IAsioDriver>(
                                       std::make_unique<TRtAudioDriver>(api, device));
                               }});
        }
    }
    return records;
}

} // namespace varko
