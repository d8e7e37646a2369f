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
    : api_(api), device_(std::move(device)), name_(std::string(ApiLabel(api)) + ": " + device_) {}

TRtAudioDriver::~TRtAudioDriver() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    if (watchdog_.joinable()) {
        watchdog_.join();
    }
    disposeBuffers();
    std::lock_guard lock(mutex_);
    worker_.reset(); // lets a healthy device close; a stuck one finishes on its own
}

ASIOBool TRtAudioDriver::init(void*) {
    std::shared_ptr<TDeviceWorker> worker = Worker();
    const RtAudio::Api api = api_;
    const std::string device = device_;
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
    std::lock_guard lock(mutex_);
    outputs_ = static_cast<int32_t>(info.outputChannels);
    // ALSA's plugin devices ("default" through a sound server) accept up to 32 or 64
    // channels of a stereo sink; the two Varko plays are all they get.
    if (api_ == RtAudio::LINUX_ALSA && !device_.starts_with("hw:")) {
        outputs_ = std::min(outputs_, 2);
    }

    const unsigned f = info.nativeFormats;
    // Float unless the device's own format is another handled one; without any, RtAudio
    // converts from float.
    format_ = RTAUDIO_FLOAT32;
    type_ = ASIOSTFloat32LSB;
    if (!(f & RTAUDIO_FLOAT32)) {
        if (f & RTAUDIO_SINT32) {
            format_ = RTAUDIO_SINT32, type_ = ASIOSTInt32LSB;
        } else if (f & RTAUDIO_SINT24) {
            format_ = RTAUDIO_SINT24, type_ = ASIOSTInt24LSB;
        } else if (f & RTAUDIO_SINT16) {
            format_ = RTAUDIO_SINT16, type_ = ASIOSTInt16LSB;
        } else if (f & RTAUDIO_FLOAT64) {
            format_ = RTAUDIO_FLOAT64, type_ = ASIOSTFloat64LSB;
        }
    }
    bytes_ = ASIOSampleBytes(type_);

    rates_.clear();
    for (unsigned r : info.sampleRates) {
        rates_.push_back(r);
    }
    std::sort(rates_.begin(), rates_.end());
    const TDriverPanelChoice choice = DriverChoice(name_);

    names_.clear();
    if (api_ == RtAudio::UNIX_JACK) {
        min_ = max_ = preferred_ = static_cast<int32_t>(probed->JackPeriod);
        granularity_ = 0;
        rates_ = {probed->JackRate};
        rate_ = probed->JackRate;
        names_ = probed->Ports;
    } else {
        min_ = 32;
        max_ = 4096;
        granularity_ = -1; // powers of two
        preferred_ = choice.BufferSize ? static_cast<int32_t>(choice.BufferSize) : 512;
        if (const auto g = GrantedFor(name_); g.Asked == preferred_ && g.Granted > 0) {
            preferred_ = g.Granted;
        }
        if (rates_.empty()) {
            rates_ = {44100.0, 48000.0};
        }
        rate_ = info.preferredSampleRate ? info.preferredSampleRate : rates_.back();
        if (std::find(rates_.begin(), rates_.end(), choice.SampleRate) != rates_.end()) {
            rate_ = choice.SampleRate;
        } else if (std::find(rates_.begin(), rates_.end(), rate_) == rates_.end()) {
            rate_ = rates_.back();
        }
    }
    names_.resize(static_cast<size_t>(outputs_));
    for (int32_t c = 0; c < outputs_; ++c) {
        if (names_[static_cast<size_t>(c)].empty()) {
            names_[static_cast<size_t>(c)] = "Output " + std::to_string(c + 1);
        }
    }

    watchdog_ = std::thread([this] { Watch(); });
    return ASIOTrue;
}

void TRtAudioDriver::getDriverName(char* name) {
    if (!name) {
        return;
    }
    std::strncpy(name, name_.c_str(), 31);
    name[31] = 0;
}

int32_t TRtAudioDriver::getDriverVersion() {
    return 2;
}

void TRtAudioDriver::getErrorMessage(char* string) {
    if (!string) {
        return;
    }
    std::lock_guard lock(mutex_);
    std::strncpy(string, error_.c_str(), 123);
    string[123] = 0;
}

ASIOError TRtAudioDriver::getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) {
    if (numInputChannels) {
        *numInputChannels = 0;
    }
    if (numOutputChannels) {
        *numOutputChannels = outputs_;
    }
    return ASE_OK;
}

ASIOError TRtAudioDriver::getLatencies(int32_t* inputLatency, int32_t* outputLatency) {
    std::lock_guard lock(mutex_);
    if (inputLatency) {
        *inputLatency = 0;
    }
    if (outputLatency) {
        *outputLatency = latency_ ? latency_ : (bufferSize_ ? bufferSize_ : preferred_);
    }
    return ASE_OK;
}

ASIOError TRtAudioDriver::getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                        int32_t* granularity) {
    std::lock_guard lock(mutex_);
    if (minSize) {
        *minSize = min_;
    }
    if (maxSize) {
        *maxSize = max_;
    }
    if (preferredSize) {
        *preferredSize = preferred_;
    }
    if (granularity) {
        *granularity = granularity_;
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
    *sampleRate = rate_;
    return ASE_OK;
}

ASIOError TRtAudioDriver::setSampleRate(ASIOSampleRate sampleRate) {
    if (!Accepts(sampleRate)) {
        return ASE_NoClock;
    }
    if (sampleRate == rate_) {
        return ASE_OK;
    }
    std::lock_guard lock(mutex_);
    rate_ = sampleRate;
    // An open stream runs at the old rate until the host reloads us.
    if (!halves_.empty()) {
        resetWanted_.store(true, std::memory_order_relaxed);
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
    if (info->isInput || info->channel < 0 || info->channel >= outputs_) {
        return ASE_NotPresent;
    }
    std::lock_guard lock(mutex_);
    info->isActive = ASIOFalse;
    for (const TChannel& ch : channels_) {
        if (ch.Device == info->channel) {
            info->isActive = ASIOTrue;
        }
    }
    info->channelGroup = 0;
    info->type = type_;
    std::strncpy(info->name, names_[static_cast<size_t>(info->channel)].c_str(), 31);
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
        std::lock_guard lock(mutex_);
        offer.DriverName = name_;
        for (int32_t s = min_; s <= max_ && s > 0; s = granularity_ == -1 ? s * 2 : max_ + 1) {
            offer.BufferSizes.push_back(static_cast<uint32_t>(s));
        }
        if (granularity_ != -1 && max_ != min_) {
            offer.BufferSizes.push_back(static_cast<uint32_t>(max_));
        }
        offer.CurrentBufferSize = static_cast<uint32_t>(bufferSize_ ? bufferSize_ : preferred_);
        // A period the device granted outside the usual steps is offered too.
        if (std::find(offer.BufferSizes.begin(), offer.BufferSizes.end(),
                      offer.CurrentBufferSize) == offer.BufferSizes.end()) {
            offer.BufferSizes.push_back(offer.CurrentBufferSize);
            std::sort(offer.BufferSizes.begin(), offer.BufferSizes.end());
        }
        offer.SampleRates = rates_;
        offer.CurrentSampleRate = rate_;
        offer.OutputLatency = static_cast<uint32_t>(latency_);
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
    SetDriverChoice(name_, choice);
    ASIOCallbacks* callbacks = nullptr;
    {
        std::lock_guard lock(mutex_);
        preferred_ = static_cast<int32_t>(choice.BufferSize);
        rate_ = choice.SampleRate;
        callbacks = callbacks_;
    }
    // Buffers in use were made for the old settings: the host reloads us.
    if (callbacks && callbacks->asioMessage) {
        callbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    }
    return ASE_OK;
}

ASIOError TRtAudioDriver::future(int32_t selector, void* opt) {
    if (selector == kAsioGetXruns && opt) {
        *static_cast<uint64_t*>(opt) = xruns_.load(std::memory_order_relaxed);
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
    std::lock_guard lock(mutex_);
    error_ = text;
    return ASIOFalse;
}

bool TRtAudioDriver::Accepts(double rate) const {
    return std::any_of(rates_.begin(), rates_.end(),
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
