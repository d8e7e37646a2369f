#include "audio/RtAudioDriver.h"

#include <alsa/asoundlib.h>
#include <jack/jack.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace varko {

using namespace rtaudio;

namespace {

// Process-wide, under gPanelMutex: a driver is destroyed and made anew at every reload, and what
// the player chose in its panel (and the period a device granted) must outlive it. Any thread
// that makes or reloads a driver may touch them.
std::mutex gPanelMutex;
TDriverPanelPresenter gPresenter;
std::map<std::string, TDriverPanelChoice> gChoices;
std::map<std::string, TGranted> gGranted;

} // namespace

TRtAudioDriver::TRtAudioDriver(RtAudio::Api api, std::string device)
    : FApi(api), FDevice(std::move(device)), FName(std::string(ApiLabel(api)) + ": " + FDevice) {}

TRtAudioDriver::~TRtAudioDriver() {
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

ASIOBool TRtAudioDriver::init(void*) {
    std::shared_ptr<TDeviceWorker> worker = Worker();
    const RtAudio::Api api = FApi;
    const std::string device = FDevice;
    const std::optional<TDeviceFacts> probed =
        worker->Call<TDeviceFacts>([api, device] { return ProbeDevice(api, device); }, ProbeLimit);
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

void TRtAudioDriver::getDriverName(char* name) {
    if (!name) {
        return;
    }
    std::strncpy(name, FName.c_str(), 31);
    name[31] = 0;
}

int32_t TRtAudioDriver::getDriverVersion() {
    return 2;
}

void TRtAudioDriver::getErrorMessage(char* string) {
    if (!string) {
        return;
    }
    std::lock_guard lock(FMutex);
    std::strncpy(string, FError.c_str(), 123);
    string[123] = 0;
}

ASIOError TRtAudioDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    if (numInputChannels) {
        *numInputChannels = 0;
    }
    if (numOutputChannels) {
        *numOutputChannels = FOutputs;
    }
    return ASE_OK;
}

ASIOError TRtAudioDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    std::lock_guard lock(FMutex);
    if (inputLatency) {
        *inputLatency = 0;
    }
    if (outputLatency) {
        *outputLatency = FLatency ? FLatency : (FBufferSize ? FBufferSize : FPreferred);
    }
    return ASE_OK;
}

ASIOError TRtAudioDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                        int32_t* granularity) {
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

ASIOError TRtAudioDriver::canSampleRate(ASIOSampleRate sampleRate) {
    return Accepts(sampleRate) ? ASE_OK : ASE_NoClock;
}

ASIOError TRtAudioDriver::getSampleRate(ASIOSampleRate* sampleRate) {
    if (!sampleRate) {
        return ASE_InvalidParameter;
    }
    *sampleRate = FRate;
    return ASE_OK;
}

ASIOError TRtAudioDriver::setSampleRate(ASIOSampleRate sampleRate) {
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

ASIOError TRtAudioDriver::getClockSources(ASIOClockSource* clocks, int32_t* numSources) {
    if (!clocks || !numSources || *numSources < 1) {
        return ASE_InvalidParameter;
    }
    clocks[0] = ASIOClockSource{};
    clocks[0].isCurrentSource = ASIOTrue;
    std::strcpy(clocks[0].name, "Internal");
    *numSources = 1;
    return ASE_OK;
}

ASIOError TRtAudioDriver::setClockSource(int32_t reference) {
    return reference == 0 ? ASE_OK : ASE_InvalidParameter;
}

ASIOError TRtAudioDriver::getChannelInfo(ASIOChannelInfo* info) {
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

ASIOError TRtAudioDriver::controlPanel() {
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

ASIOError TRtAudioDriver::future(int32_t selector, void* opt) {
    if (selector == kAsioGetXruns && opt) {
        *static_cast<uint64_t*>(opt) = FXruns.load(std::memory_order_relaxed);
        return ASE_SUCCESS;
    }
    // None of the optional features (gains, meters, monitoring, time code, transport).
    return ASE_NotPresent;
}

// Our callback hands the half to the device as soon as the host returns.
ASIOError TRtAudioDriver::outputReady() {
    return ASE_OK;
}

TGranted TRtAudioDriver::GrantedFor(const std::string& name) {
    std::lock_guard lock(gPanelMutex);
    auto it = gGranted.find(name);
    return it == gGranted.end() ? TGranted{} : it->second;
}

void TRtAudioDriver::RememberGranted(const std::string& name, int32_t asked, int32_t granted) {
    std::lock_guard lock(gPanelMutex);
    gGranted[name] = {asked, granted};
}

ASIOBool TRtAudioDriver::Fail(const char* text) {
    std::lock_guard lock(FMutex);
    FError = text;
    return ASIOFalse;
}

bool TRtAudioDriver::Accepts(double rate) const {
    return std::any_of(FRates.begin(), FRates.end(),
                       [rate](double r) { return std::abs(r - rate) < 0.5; });
}

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
