#include "audio/RtAudioDriver.h"

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

std::mutex gPanelMutex;
TDriverPanelPresenter gPresenter;
std::map<std::string, TDriverPanelChoice> gChoices;

// RtAudio's error callback carries no user data; one stream runs at a time, so process-wide
// counters serve. Non-warning errors mean the stream was aborted.
std::atomic<uint32_t> gRtErrors{0};
std::atomic<uint32_t> gRtWarnings{0};
void RtErrorCallback(RtAudioError::Type type, const std::string&) {
    if (type == RtAudioError::WARNING || type == RtAudioError::DEBUG_WARNING) {
        gRtWarnings.fetch_add(1, std::memory_order_relaxed);
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
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
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

// The JACK device's playback ports in the order RtAudio connects them, its period and rate.
struct TJackFacts {
    std::vector<std::string> Ports;
    uint32_t Period = 0;
    double Rate = 0.0;
};
TJackFacts QueryJack(const std::string& device) {
    TJackFacts facts;
    jack_status_t status{};
    jack_client_t* client = jack_client_open("VarkoProbe", JackNoStartServer, &status);
    if (!client) {
        return facts;
    }
    facts.Period = jack_get_buffer_size(client);
    facts.Rate = jack_get_sample_rate(client);
    const std::string pattern = "^" + RegexEscape(device) + ":";
    if (const char** ports =
            jack_get_ports(client, pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput)) {
        for (const char** p = ports; *p; ++p) {
            facts.Ports.emplace_back(*p);
        }
        jack_free(ports);
    }
    jack_client_close(client);
    return facts;
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
        std::lock_guard lock(FMutex);
        CloseStream();
    }

    ASIOBool init(void*) override {
        std::lock_guard lock(FMutex);
        FAudio = MakeRtAudio(FApi);
        if (!FAudio) {
            return Fail("The audio back end is not available.");
        }
        RtAudio::DeviceInfo info;
        if (FindDevice(*FAudio, FDevice, &info) < 0) {
            return Fail("The device is not present.");
        }
        FOutputs = static_cast<int32_t>(info.outputChannels);

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

        for (unsigned r : info.sampleRates) {
            FRates.push_back(r);
        }
        std::sort(FRates.begin(), FRates.end());
        const TDriverPanelChoice choice = DriverChoice(FName);

        FNames.clear();
        if (FApi == RtAudio::UNIX_JACK) {
            TJackFacts jack = QueryJack(FDevice);
            if (jack.Period == 0) {
                return Fail("The JACK server does not answer.");
            }
            FMin = FMax = FPreferred = static_cast<int32_t>(jack.Period);
            FGranularity = 0;
            FRates = {jack.Rate};
            FRate = jack.Rate;
            for (const std::string& port : jack.Ports) {
                FNames.push_back(port);
            }
        } else {
            FMin = 32;
            FMax = 4096;
            FGranularity = -1; // powers of two
            FPreferred = choice.BufferSize ? static_cast<int32_t>(choice.BufferSize) : 512;
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
    int32_t getDriverVersion() override { return 1; }
    void getErrorMessage(char* string) override {
        if (!string) {
            return;
        }
        std::lock_guard lock(FMutex);
        std::strncpy(string, FError.c_str(), 123);
        string[123] = 0;
    }

    ASIOError start() override {
        std::lock_guard lock(FMutex);
        if (FHalves.empty()) {
            return ASE_InvalidMode;
        }
        if (FRunning) {
            return ASE_OK;
        }
        // After a loss the stream is gone; open it again on the device if it is back.
        if ((!FAudio || !FAudio->isStreamOpen()) && OpenStream() != ASE_OK) {
            return ASE_NotPresent;
        }
        FLost.store(false, std::memory_order_relaxed);
        FSizeMismatch.store(false, std::memory_order_relaxed);
        // With an error callback installed RtAudio reports through it instead of throwing.
        const uint32_t errorsBefore = gRtErrors.load(std::memory_order_relaxed);
        try {
            FAudio->startStream();
        } catch (const RtAudioError& e) {
            FError = e.getMessage();
            CloseStream();
            return ASE_HWMalfunction;
        }
        if (gRtErrors.load(std::memory_order_relaxed) != errorsBefore ||
            !FAudio->isStreamRunning()) {
            FError = "The stream did not start.";
            CloseStream();
            return ASE_HWMalfunction;
        }
        FErrorsAtStart = gRtErrors.load(std::memory_order_relaxed);
        FLastCount = FCallbackCount.load(std::memory_order_relaxed);
        FLastProgress = std::chrono::steady_clock::now();
        FRunning = true;
        return ASE_OK;
    }

    ASIOError stop() override {
        std::lock_guard lock(FMutex);
        if (!FRunning) {
            return ASE_OK;
        }
        FRunning = false;
        try {
            if (FAudio && FAudio->isStreamRunning()) {
                FAudio->stopStream();
            }
        } catch (...) {
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
        if (inputLatency) {
            *inputLatency = 0;
        }
        if (outputLatency) {
            *outputLatency = FBufferSize ? FBufferSize : FPreferred;
        }
        return ASE_OK;
    }

    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) override {
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

    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override {
        if (sPos) {
            *sPos = ASIOFromInt64(FSamplePos.load(std::memory_order_relaxed));
        }
        if (tStamp) {
            *tStamp = ASIOFromInt64(FSystemTime.load(std::memory_order_relaxed));
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
        FHalf = 0;
        const ASIOError opened = OpenStream();
        if (opened != ASE_OK) {
            ReleaseBuffers();
            return opened;
        }
        return ASE_OK;
    }

    ASIOError disposeBuffers() override {
        std::lock_guard lock(FMutex);
        if (FRunning) {
            FRunning = false;
            try {
                if (FAudio && FAudio->isStreamRunning()) {
                    FAudio->stopStream();
                }
            } catch (...) {
            }
        }
        CloseStream();
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
        offer.DriverName = FName;
        for (int32_t s = FMin; s <= FMax && s > 0; s = FGranularity == -1 ? s * 2 : FMax + 1) {
            offer.BufferSizes.push_back(static_cast<uint32_t>(s));
        }
        if (FGranularity != -1 && FMax != FMin) {
            offer.BufferSizes.push_back(static_cast<uint32_t>(FMax));
        }
        offer.CurrentBufferSize = static_cast<uint32_t>(FBufferSize ? FBufferSize : FPreferred);
        offer.SampleRates = FRates;
        offer.CurrentSampleRate = FRate;
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
        FPreferred = static_cast<int32_t>(choice.BufferSize);
        FRate = choice.SampleRate;
        ASIOCallbacks* callbacks = nullptr;
        {
            std::lock_guard lock(FMutex);
            callbacks = FCallbacks;
        }
        // Buffers in use were made for the old settings: the host reloads us.
        if (callbacks && callbacks->asioMessage) {
            callbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
        }
        return ASE_OK;
    }

    // None of the optional features (gains, meters, monitoring, time code, transport).
    ASIOError future(int32_t, void*) override { return ASE_NotPresent; }

    // Our callback hands the half to the device as soon as the host returns.
    ASIOError outputReady() override { return ASE_OK; }

private:
    struct TChannel {
        int32_t Device = 0;
        uint8_t* Base = nullptr;
    };

    ASIOBool Fail(const char* text) {
        FError = text;
        FAudio.reset();
        return ASIOFalse;
    }

    bool Accepts(double rate) const {
        return std::any_of(FRates.begin(), FRates.end(),
                           [rate](double r) { return std::abs(r - rate) < 0.5; });
    }

    // Caller holds FMutex.
    ASIOError OpenStream() {
        if (!FAudio) {
            FAudio = MakeRtAudio(FApi);
        }
        if (!FAudio) {
            return ASE_NotPresent;
        }
        const int device = FindDevice(*FAudio, FDevice, nullptr);
        if (device < 0) {
            FError = "The device is not present.";
            return ASE_NotPresent;
        }
        RtAudio::StreamParameters out;
        out.deviceId = static_cast<unsigned>(device);
        out.nChannels = static_cast<unsigned>(FOutputs);
        out.firstChannel = 0;
        RtAudio::StreamOptions options;
        options.flags = RTAUDIO_NONINTERLEAVED | RTAUDIO_SCHEDULE_REALTIME;
        options.streamName = "Varko";
        options.priority = 80;
        unsigned frames = static_cast<unsigned>(FBufferSize);
        try {
            FAudio->openStream(&out, nullptr, FFormat, static_cast<unsigned>(FRate), &frames,
                               &TRtAudioDriver::Callback, this, &options, &RtErrorCallback);
        } catch (const RtAudioError& e) {
            FError = e.getMessage();
            return ASE_HWMalfunction;
        }
        if (!FAudio->isStreamOpen()) {
            FError = "The stream did not open.";
            return ASE_HWMalfunction;
        }
        if (frames != static_cast<unsigned>(FBufferSize)) {
            // The device insists on another period; the host must reload us with it.
            FPreferred = FMin = FMax = static_cast<int32_t>(frames);
            CloseStream();
            FError = "The device runs at another buffer size.";
            return ASE_InvalidMode;
        }
        return ASE_OK;
    }

    // Caller holds FMutex.
    void CloseStream() {
        if (!FAudio) {
            return;
        }
        try {
            if (FAudio->isStreamOpen()) {
                FAudio->closeStream();
            }
        } catch (...) {
        }
    }

    void ReleaseBuffers() {
        FCallbacks = nullptr;
        FChannels.clear();
        FDeviceHalf.clear();
        FHalves.clear();
        FBufferSize = 0;
    }

    static int Callback(void* output, void*, unsigned frames, double, RtAudioStreamStatus status,
                        void* user) {
        static_cast<TRtAudioDriver*>(user)->Process(static_cast<uint8_t*>(output), frames, status);
        return 0;
    }

    // The device's callback thread: no locks, no allocation.
    void Process(uint8_t* out, unsigned frames, RtAudioStreamStatus status) {
        SetFlushDenormals();
        const size_t bytes = static_cast<size_t>(frames) * static_cast<size_t>(FBytes);
        if (status & RTAUDIO_OUTPUT_UNDERFLOW) {
            FUnderflows.fetch_add(1, std::memory_order_relaxed);
        }
        if (FLost.load(std::memory_order_relaxed) || static_cast<int32_t>(frames) != FBufferSize) {
            if (static_cast<int32_t>(frames) != FBufferSize) {
                FSizeMismatch.store(true, std::memory_order_relaxed);
            }
            std::memset(out, 0, bytes * static_cast<size_t>(FOutputs));
            return;
        }
        const int half = FHalf;
        FSystemTime.store(NowNs(), std::memory_order_relaxed);
        FCallbacks->bufferSwitch(half, ASIOTrue);
        const size_t offset = half ? bytes : 0;
        for (int32_t c = 0; c < FOutputs; ++c) {
            uint8_t* dest = out + static_cast<size_t>(c) * bytes;
            if (uint8_t* src = FDeviceHalf[static_cast<size_t>(c)]) {
                std::memcpy(dest, src + offset, bytes);
            } else {
                std::memset(dest, 0, bytes);
            }
        }
        FHalf = 1 - half;
        FSamplePos.fetch_add(frames, std::memory_order_relaxed);
        FCallbackCount.fetch_add(1, std::memory_order_relaxed);
    }

    // Notices leave the audio thread here: a lost device, a period or rate the buffers no
    // longer match. Never inside the device's callback, so the host may stop us at once.
    void Watch() {
        std::unique_lock lock(FMutex);
        while (!FQuit) {
            FWake.wait_for(lock, std::chrono::milliseconds(50));
            if (FQuit) {
                break;
            }
            int32_t message = 0;
            if (FRunning && IsLost()) {
                FLost.store(true, std::memory_order_relaxed);
                FRunning = false;
                ForgetDeadStream();
                message = kAsioDeviceLost;
            } else if (FRunning && FSizeMismatch.exchange(false, std::memory_order_relaxed)) {
                message = kAsioBufferSizeChange;
            } else if (FResetWanted.exchange(false, std::memory_order_relaxed)) {
                message = kAsioResetRequest;
            }
            ASIOCallbacks* callbacks = FCallbacks;
            if (message && callbacks && callbacks->asioMessage) {
                lock.unlock();
                callbacks->asioMessage(message, 0, nullptr, nullptr);
                lock.lock();
            }
        }
    }

    // Caller holds FMutex.
    bool IsLost() {
        const auto now = std::chrono::steady_clock::now();
        const uint64_t count = FCallbackCount.load(std::memory_order_relaxed);
        if (count != FLastCount) {
            FLastCount = count;
            FLastProgress = now;
        }
        // A stall of a second and more periods than a slow machine explains.
        const double period = FRate > 0 ? FBufferSize / FRate : 0.1;
        const auto limit = std::chrono::duration<double>(std::max(1.5, 16 * period));
        if (now - FLastProgress > limit) {
            return true;
        }
        if (gRtErrors.load(std::memory_order_relaxed) != FErrorsAtStart) {
            return true;
        }
        // JACK closes the stream itself when its server goes away.
        return !FAudio || !FAudio->isStreamOpen() || !FAudio->isStreamRunning();
    }

    // Caller holds FMutex. RtAudio's JACK back end closes a dead stream on a thread of its
    // own; wait for it before the object goes, and start over with a fresh one.
    void ForgetDeadStream() {
        if (!FAudio) {
            return;
        }
        for (int i = 0; i < 40 && FAudio->isStreamOpen() && FAudio->isStreamRunning(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (FApi == RtAudio::UNIX_JACK) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        try {
            if (FAudio->isStreamOpen()) {
                FAudio->abortStream();
            }
        } catch (...) {
        }
        CloseStream();
        FAudio.reset();
    }

    const RtAudio::Api FApi;
    const std::string FDevice;
    const std::string FName;
    std::unique_ptr<RtAudio> FAudio;
    std::string FError;

    int32_t FOutputs = 0;
    RtAudioFormat FFormat = RTAUDIO_FLOAT32;
    ASIOSampleType FType = ASIOSTFloat32LSB;
    int32_t FBytes = 4;
    std::vector<std::string> FNames;
    std::vector<double> FRates;
    double FRate = 44100.0;
    int32_t FMin = 0, FMax = 0, FPreferred = 0, FGranularity = 0;

    std::vector<uint8_t> FHalves;
    std::vector<TChannel> FChannels;
    std::vector<uint8_t*> FDeviceHalf; // per device channel, its two halves or none
    int32_t FBufferSize = 0;
    ASIOCallbacks* FCallbacks = nullptr;
    int FHalf = 0; // audio thread only

    std::mutex FMutex;
    std::condition_variable FWake;
    std::thread FWatchdog;
    bool FQuit = false;
    bool FRunning = false;
    uint32_t FErrorsAtStart = 0;
    uint64_t FLastCount = 0;
    std::chrono::steady_clock::time_point FLastProgress;

    std::atomic<bool> FLost{false};
    std::atomic<bool> FSizeMismatch{false};
    std::atomic<bool> FResetWanted{false};
    std::atomic<int64_t> FSamplePos{0};
    std::atomic<int64_t> FSystemTime{0};
    std::atomic<uint64_t> FCallbackCount{0};
    std::atomic<uint32_t> FUnderflows{0};
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
