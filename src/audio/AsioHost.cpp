#include "audio/AsioHost.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace varko {

namespace {

int SilenceBytes(ASIOSampleType type) {
    const int bytes = ASIOSampleBytes(type);
    return bytes ? bytes : 4;
}

} // namespace

void TASIOHost::SetActive(bool value) {
    if (!driver_) {
        return;
    }
    if (value != active_ || !value) {
        wantActive_ = value;
    }
    if (value == active_) {
        return;
    }
    if (value) {
        ASIOError started = ASE_HWMalfunction;
        try {
            started = driver_->start();
        } catch (...) {
        }
        active_ = started == ASE_OK;
        // A device that is not there now may come back; the driver looks for it.
        deviceLost_.store(started == ASE_NotPresent, std::memory_order_relaxed);
        if (!active_) {
            try {
                driver_->stop();
            } catch (...) {
            }
        }
        return;
    }
    active_ = false;
    deviceLost_.store(false, std::memory_order_relaxed);
    try {
        driver_->stop();
    } catch (...) {
    }
    SilenceBuffers();
}

void TASIOHost::SilenceBuffers() {
    if (!buffersCreated_ || !bufferInfo_) {
        return;
    }
    const int inputs = inputChannelCount_;
    const int outputs = outputChannelCount_;
    auto clear = [this](const ASIOBufferInfo& info, ASIOSampleType type) {
        const size_t bytes = static_cast<size_t>(bufferSize_) * SilenceBytes(type);
        for (void* half : info.buffers) {
            if (half) {
                std::memset(half, 0, bytes);
            }
        }
    };
    for (int i = 0; i < outputs; ++i) {
        clear(bufferInfo_[inputs + i], outputChannelInfos_[i].type);
    }
    for (int i = 0; i < inputs; ++i) {
        clear(bufferInfo_[i], inputChannelInfos_[i].type);
    }
}

void TASIOHost::SetDriverIndex(int index) {
    if (index == driverIndex_) {
        return;
    }
    const bool wasActive = active_;
    SetActive(false);
    index = std::max(index, -1);
    if (index >= GetNumDrivers()) {
        index = GetNumDrivers() - 1;
    }
    driverIndex_ = index;
    if (index == -1) {
        driverName_.clear();
        inputLatency_ = outputLatency_ = 0;
        inputChannelCount_ = outputChannelCount_ = 0;
        bufferSize_ = 0;
        CloseDriver();
    } else {
        try {
            CloseDriver();
            driverName_ = driverList_[static_cast<size_t>(index)];
            OpenDriver();
        } catch (...) {
            return;
        }
    }
    if (driver_) {
        char scratch[64] = {};
        driver_->getDriverName(scratch);
        driverVersion_ = driver_->getDriverVersion();
        canDos_ = 0;
        CanTimeCode();
        CanTimeInfo();
        CanTransport();
        CanInputGain();
        CanInputMeter();
        CanOutputGain();
        CanOutputMeter();
    }
    if (OnDriverChanged) {
        OnDriverChanged(this);
    }
    SetActive(wasActive);
}

void TASIOHost::SetDriverName(const std::string& name) {
    auto it = std::find(driverList_.begin(), driverList_.end(), name);
    if (it != driverList_.end()) {
        SetDriverIndex(static_cast<int>(it - driverList_.begin()));
    }
}

std::string TASIOHost::GetOutputChannelName(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(outputChannelInfos_.size())) {
        return {};
    }
    const ASIOChannelInfo& info = outputChannelInfos_[static_cast<size_t>(channel)];
    return std::string(info.name, strnlen(info.name, sizeof info.name));
}

void TASIOHost::SetOutputChannelOffset(uint16_t offset) {
    if (offset != outputChannelOffset_ && offset < outputChannelCount_) {
        outputChannelOffset_ = offset;
    }
}

void TASIOHost::SetInputChannelOffset(uint16_t offset) {
    if (offset != inputChannelOffset_ && offset < inputChannelCount_) {
        inputChannelOffset_ = offset;
    }
}

void TASIOHost::SetSampleRate(double rate) {
    sampleRate_ = (rate <= 0 || rate > 1048575) ? 44100.0 : rate;
    asioTime_.SetSampleRate(rate);
    if (driver_) {
        driver_->setSampleRate(rate);
    }
}

void TASIOHost::SetConvertOptimizations(TConvertOptimizations value) {
    ::varko::SetConvertOptimizations(value);
    convertOptimizations_ = value;
}

void TASIOHost::SetOutputDither(TASIOOutputDither value) {
    if (value == outputDither_) {
        return;
    }
    outputDither_ = value;
    ::varko::SetOutputDither(value);
}

void TASIOHost::SetPreventClipping(TPreventClipping value) {
    preventClipping_ = value;
    if (value != pcNone) {
        clip_ = value == pcAnalog ? GetClipAnalog() : GetClipDigital();
    }
}

void TASIOHost::SetCustomGenerator(TASIOGenerator* generator) {
    customGenerator_ = generator;
    if (generator) {
        generator->BlockSize = bufferSize_;
        generator->SampleRate = sampleRate_;
    }
}

std::unique_ptr<TDriverBridge> TASIOHost::LoadDriver() {
    if (driverIndex_ < 0 || driverIndex_ >= GetNumDrivers()) {
        return nullptr;
    }
    try {
        auto driver = std::make_unique<TDriverBridge>(records_[static_cast<size_t>(driverIndex_)]);
        if (driver->Succeeded() && driver->init(nullptr)) {
            return driver;
        }
    } catch (...) {
    }
    return nullptr;
}

void TASIOHost::OpenDriver() {
    const bool resume = wantActive_;
    if (driver_) {
        try {
            SetActive(false);
            CloseDriver();
        } catch (...) {
        }
    }
    driver_ = LoadDriver();
    if (!driver_) {
        throw EASIOHostError("ASIO Driver Failed!");
    }
    buffersCreated_ = CreateBuffers();
    if (resume) {
        SetActive(true);
    }
}

void TASIOHost::ReloadLostDriver() {
    std::unique_ptr<TDriverBridge> fresh = LoadDriver();
    if (!fresh) {
        return;
    }
    const bool resume = wantActive_;
    CloseDriver();
    driver_ = std::move(fresh);
    buffersCreated_ = CreateBuffers();
    deviceLost_.store(false, std::memory_order_relaxed);
    wantActive_ = false;
    if (resume) {
        SetActive(true);
    }
    if (OnReset) {
        OnReset(this);
    }
}

void TASIOHost::CloseDriver() {
    if (active_) {
        SetActive(false);
    }
    DisposeBuffers();
    driver_.reset();
    inputLatency_ = outputLatency_ = 0;
    inputChannelCount_ = outputChannelCount_ = 0;
    sampleRate_ = 44100.0;
}

void TASIOHost::Reset() {
    OpenDriver();
    if (OnReset) {
        OnReset(this);
    }
}

void TASIOHost::ControlPanel() {
    if (driver_) {
        driver_->controlPanel();
    }
    // The panel's reset request was queued when no dispatcher is set; carry it out now that
    // the driver has returned.
    ProcessMessages();
}

uint64_t TASIOHost::DeviceXruns() {
    uint64_t xruns = 0;
    if (driver_ && driver_->future(kAsioGetXruns, &xruns) == ASE_SUCCESS) {
        return xruns;
    }
    return 0;
}

ASIOError TASIOHost::CanSampleRate(double rate) {
    return driver_ ? driver_->canSampleRate(rate) : ASE_NotPresent;
}

std::string TASIOHost::DriverErrorMessage() {
    char text[128] = {};
    if (driver_) {
        driver_->getErrorMessage(text);
    }
    return std::string(text, strnlen(text, sizeof text));
}

bool TASIOHost::CreateBuffers() {
    if (!driver_) {
        return false;
    }
    if (buffersCreated_) {
        DisposeBuffers();
    }
    if (TryCreateBuffers()) {
        return true;
    }
    // A device may grant another period than the one it offered (ALSA's dmix fixes its own);
    // the driver then offers that one, and the buffers are made again at its size.
    const int32_t tried = bufferPreferredSize_;
    int32_t min = 0, max = 0, preferred = 0, granularity = 0;
    driver_->getBufferSize(&min, &max, &preferred, &granularity);
    const int32_t offered = min == max ? min : preferred;
    return offered != tried && TryCreateBuffers();
}

bool TASIOHost::TryCreateBuffers() {
    driver_->getBufferSize(&bufferMinimum_, &bufferMaximum_, &bufferPreferredSize_,
                           &bufferGranularity_);
    if (bufferMinimum_ == bufferMaximum_) {
        bufferPreferredSize_ = bufferMinimum_;
    }
    // A preferred size past 16 bits is a driver's garbage, not a period: a safe one instead.
    constexpr int32_t LargestPeriod = 65530;
    constexpr uint32_t FallbackPeriod = 4096;
    bufferSize_ = (bufferPreferredSize_ <= 0 || bufferPreferredSize_ > LargestPeriod)
                      ? FallbackPeriod
                      : static_cast<uint32_t>(bufferPreferredSize_);
    if (customGenerator_) {
        customGenerator_->BlockSize = bufferSize_;
    }
    double rate = 44100.0;
    if (driver_->getSampleRate(&rate) == ASE_OK) {
        SetSampleRate(rate);
    }
    int32_t inputs = 0, outputs = 0;
    driver_->getChannels(&inputs, &outputs);
    inputChannelCount_ = std::max(inputs, 0);
    outputChannelCount_ = std::max(outputs, 0);
    const int total = inputChannelCount_ + outputChannelCount_;
    bufferInfo_ = std::make_unique<ASIOBufferInfo[]>(static_cast<size_t>(std::max(total, 1)));
    inputChannelInfos_.assign(static_cast<size_t>(inputChannelCount_), ASIOChannelInfo{});
    outputChannelInfos_.assign(static_cast<size_t>(outputChannelCount_), ASIOChannelInfo{});
    inConverters_.assign(inputChannelInfos_.size(), TInConverter{});
    outConverters_.assign(outputChannelInfos_.size(), TOutConverter{});
    inConvertible_.assign(inputChannelInfos_.size(), false);
    outConvertible_.assign(outputChannelInfos_.size(), false);
    singleInBuffer_.assign(inputChannelInfos_.size(), TSingleArray(bufferSize_, 0.0f));
    doubleInBuffer_.assign(inputChannelInfos_.size(), std::vector<double>(bufferSize_, 0.0));
    singleOutBuffer_.assign(outputChannelInfos_.size(), TSingleArray(bufferSize_, 0.0f));
    doubleOutBuffer_.assign(outputChannelInfos_.size(), std::vector<double>(bufferSize_, 0.0));
    for (int i = 0; i < inputChannelCount_; ++i) {
        ASIOChannelInfo& info = inputChannelInfos_[static_cast<size_t>(i)];
        info.channel = i;
        info.isInput = ASIOTrue;
        driver_->getChannelInfo(&info);
        inConverters_[static_cast<size_t>(i)] = GetInputConverter(info.type);
        inConvertible_[static_cast<size_t>(i)] =
            static_cast<bool>(inConverters_[static_cast<size_t>(i)]);
        bufferInfo_[i] = ASIOBufferInfo{ASIOTrue, i, {nullptr, nullptr}};
    }
    for (int i = 0; i < outputChannelCount_; ++i) {
        ASIOChannelInfo& info = outputChannelInfos_[static_cast<size_t>(i)];
        info.channel = i;
        info.isInput = ASIOFalse;
        driver_->getChannelInfo(&info);
        outConverters_[static_cast<size_t>(i)] = GetOutputConverter(info.type);
        outConvertible_[static_cast<size_t>(i)] =
            static_cast<bool>(outConverters_[static_cast<size_t>(i)]);
        bufferInfo_[inputChannelCount_ + i] = ASIOBufferInfo{ASIOFalse, i, {nullptr, nullptr}};
    }
    // The driver's halves must hold what the arrays convert, so it is asked for BufferSize.
    const bool created =
        driver_->createBuffers(bufferInfo_.get(), total, static_cast<int32_t>(bufferSize_),
                               &callbacks_) == ASE_OK;
    buffersCreated_ = created;
    driver_->getLatencies(&inputLatency_, &outputLatency_);
    if (OnBuffersCreate) {
        OnBuffersCreate(this);
    }
    if (OnLatencyChanged) {
        OnLatencyChanged(this);
    }
    noiseState_ =
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) | 1u;
    return created;
}

void TASIOHost::DisposeBuffers() {
    if (!driver_ || !buffersCreated_) {
        return;
    }
    if (OnBuffersDestroy) {
        OnBuffersDestroy(this);
    }
    // The driver lets go of the halves before the host forgets where they are.
    try {
        driver_->disposeBuffers();
    } catch (...) {
    }
    bufferInfo_.reset();
    buffersCreated_ = false;
    singleInBuffer_.clear();
    singleOutBuffer_.clear();
    inputChannelInfos_.clear();
    outputChannelInfos_.clear();
}

ASIOChannelInfo TASIOHost::GetOutputChannelInfo(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(outputChannelInfos_.size())) {
        throw std::out_of_range("Assertion failure");
    }
    return outputChannelInfos_[static_cast<size_t>(channel)];
}

ASIOChannelInfo TASIOHost::GetInputChannelInfo(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(inputChannelInfos_.size())) {
        throw std::out_of_range("Assertion failure");
    }
    return inputChannelInfos_[static_cast<size_t>(channel)];
}

// A channel's meter or gain goes through the driver's future call; -1 reads as no meter.
int32_t TASIOHost::ChannelControl(int32_t selector, int32_t channel, bool input, int32_t gain) {
    if (!driver_) {
        return -1;
    }
    ASIOChannelControls controls;
    controls.channel = channel;
    controls.isInput = input ? ASIOTrue : ASIOFalse;
    controls.gain = gain;
    driver_->future(selector, &controls);
    return controls.meter;
}

int32_t TASIOHost::GetInputMeter(int32_t channel) {
    return ChannelControl(kAsioGetInputMeter, channel, true, 0);
}

int32_t TASIOHost::GetOutputMeter(int32_t channel) {
    return ChannelControl(kAsioGetOutputMeter, channel, false, 0);
}

void TASIOHost::SetInputGain(int32_t channel, int32_t gain) {
    ChannelControl(kAsioSetInputGain, channel, true, gain);
}

void TASIOHost::SetOutputGain(int32_t channel, int32_t gain) {
    ChannelControl(kAsioSetOutputGain, channel, false, gain);
}

// CanDos records only what the driver confirmed.
bool TASIOHost::AskFuture(int32_t selector, TASIOCanDo flag) {
    const bool can = driver_ && driver_->future(selector, nullptr) == ASE_SUCCESS;
    canDos_ = can ? (canDos_ | flag) : (canDos_ & ~flag);
    return can;
}

bool TASIOHost::CanTimeInfo() {
    return AskFuture(kAsioCanTimeInfo, acdTimeInfo);
}
bool TASIOHost::CanTimeCode() {
    return AskFuture(kAsioCanTimeCode, acdTimeCode);
}
bool TASIOHost::CanTransport() {
    return AskFuture(kAsioCanTransport, acdTransport);
}
bool TASIOHost::CanInputGain() {
    return AskFuture(kAsioCanInputGain, acdInputGain);
}
bool TASIOHost::CanInputMeter() {
    return AskFuture(kAsioCanInputMeter, acdInputMeter);
}
bool TASIOHost::CanOutputGain() {
    return AskFuture(kAsioCanOutputGain, acdOutputGain);
}
bool TASIOHost::CanOutputMeter() {
    return AskFuture(kAsioCanOutputMeter, acdOutputMeter);
}

} // namespace varko
