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
    if (!FDriver) {
        return;
    }
    if (value != FActive || !value) {
        FWantActive = value;
    }
    if (value == FActive) {
        return;
    }
    if (value) {
        ASIOError started = ASE_HWMalfunction;
        try {
            started = FDriver->start();
        } catch (...) {
        }
        FActive = started == ASE_OK;
        // A device that is not there now may come back; the driver looks for it.
        FDeviceLost.store(started == ASE_NotPresent, std::memory_order_relaxed);
        if (!FActive) {
            try {
                FDriver->stop();
            } catch (...) {
            }
        }
        return;
    }
    FActive = false;
    FDeviceLost.store(false, std::memory_order_relaxed);
    try {
        FDriver->stop();
    } catch (...) {
    }
    SilenceBuffers();
}

void TASIOHost::SilenceBuffers() {
    if (!FBuffersCreated || !FBufferInfo) {
        return;
    }
    const int inputs = FInputChannelCount;
    const int outputs = FOutputChannelCount;
    auto clear = [this](const ASIOBufferInfo& info, ASIOSampleType type) {
        const size_t bytes = static_cast<size_t>(FBufferSize) * SilenceBytes(type);
        for (void* half : info.buffers) {
            if (half) {
                std::memset(half, 0, bytes);
            }
        }
    };
    for (int i = 0; i < outputs; ++i) {
        clear(FBufferInfo[inputs + i], FOutputChannelInfos[i].type);
    }
    for (int i = 0; i < inputs; ++i) {
        clear(FBufferInfo[i], FInputChannelInfos[i].type);
    }
}

void TASIOHost::SetDriverIndex(int index) {
    if (index == FDriverIndex) {
        return;
    }
    const bool wasActive = FActive;
    SetActive(false);
    index = std::max(index, -1);
    if (index >= GetNumDrivers()) {
        index = GetNumDrivers() - 1;
    }
    FDriverIndex = index;
    if (index == -1) {
        FDriverName.clear();
        FInputLatency = FOutputLatency = 0;
        FInputChannelCount = FOutputChannelCount = 0;
        FBufferSize = 0;
        CloseDriver();
    } else {
        try {
            CloseDriver();
            FDriverName = FDriverList[static_cast<size_t>(index)];
            OpenDriver();
        } catch (...) {
            return;
        }
    }
    if (FDriver) {
        char scratch[64] = {};
        FDriver->getDriverName(scratch);
        FDriverVersion = FDriver->getDriverVersion();
        FCanDos = 0;
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
    auto it = std::find(FDriverList.begin(), FDriverList.end(), name);
    if (it != FDriverList.end()) {
        SetDriverIndex(static_cast<int>(it - FDriverList.begin()));
    }
}

std::string TASIOHost::GetOutputChannelName(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(FOutputChannelInfos.size())) {
        return {};
    }
    const ASIOChannelInfo& info = FOutputChannelInfos[static_cast<size_t>(channel)];
    return std::string(info.name, strnlen(info.name, sizeof info.name));
}

void TASIOHost::SetOutputChannelOffset(uint16_t offset) {
    if (offset != FOutputChannelOffset && offset < FOutputChannelCount) {
        FOutputChannelOffset = offset;
    }
}

void TASIOHost::SetInputChannelOffset(uint16_t offset) {
    if (offset != FInputChannelOffset && offset < FInputChannelCount) {
        FInputChannelOffset = offset;
    }
}

void TASIOHost::SetSampleRate(double rate) {
    FSampleRate = (rate <= 0 || rate > 1048575) ? 44100.0 : rate;
    FASIOTime.SetSampleRate(rate);
    if (FDriver) {
        FDriver->setSampleRate(rate);
    }
}

void TASIOHost::SetConvertOptimizations(TConvertOptimizations value) {
    ::varko::SetConvertOptimizations(value);
    FConvertOptimizations = value;
}

void TASIOHost::SetOutputDither(TASIOOutputDither value) {
    if (value == FOutputDither) {
        return;
    }
    FOutputDither = value;
    ::varko::SetOutputDither(value);
}

void TASIOHost::SetPreventClipping(TPreventClipping value) {
    FPreventClipping = value;
    if (value != pcNone) {
        FClip = value == pcAnalog ? GetClipAnalog() : GetClipDigital();
    }
}

void TASIOHost::SetCustomGenerator(TASIOGenerator* generator) {
    FCustomGenerator = generator;
    if (generator) {
        generator->BlockSize = FBufferSize;
        generator->SampleRate = FSampleRate;
    }
}

std::unique_ptr<TDriverBridge> TASIOHost::LoadDriver() {
    if (FDriverIndex < 0 || FDriverIndex >= GetNumDrivers()) {
        return nullptr;
    }
    try {
        auto driver = std::make_unique<TDriverBridge>(FRecords[static_cast<size_t>(FDriverIndex)]);
        if (driver->Succeeded() && driver->init(nullptr)) {
            return driver;
        }
    } catch (...) {
    }
    return nullptr;
}

void TASIOHost::OpenDriver() {
    const bool resume = FWantActive;
    if (FDriver) {
        try {
            SetActive(false);
            CloseDriver();
        } catch (...) {
        }
    }
    FDriver = LoadDriver();
    if (!FDriver) {
        throw EASIOHostError("ASIO Driver Failed!");
    }
    FBuffersCreated = CreateBuffers();
    if (resume) {
        SetActive(true);
    }
}

void TASIOHost::ReloadLostDriver() {
    std::unique_ptr<TDriverBridge> fresh = LoadDriver();
    if (!fresh) {
        return;
    }
    const bool resume = FWantActive;
    CloseDriver();
    FDriver = std::move(fresh);
    FBuffersCreated = CreateBuffers();
    FDeviceLost.store(false, std::memory_order_relaxed);
    FWantActive = false;
    if (resume) {
        SetActive(true);
    }
    if (OnReset) {
        OnReset(this);
    }
}

void TASIOHost::CloseDriver() {
    if (FActive) {
        SetActive(false);
    }
    DisposeBuffers();
    FDriver.reset();
    FInputLatency = FOutputLatency = 0;
    FInputChannelCount = FOutputChannelCount = 0;
    FSampleRate = 44100.0;
}

void TASIOHost::Reset() {
    OpenDriver();
    if (OnReset) {
        OnReset(this);
    }
}

void TASIOHost::ControlPanel() {
    if (FDriver) {
        FDriver->controlPanel();
    }
    // The panel's reset request was queued when no dispatcher is set; carry it out now that
    // the driver has returned.
    ProcessMessages();
}

uint64_t TASIOHost::DeviceXruns() {
    uint64_t xruns = 0;
    if (FDriver && FDriver->future(kAsioGetXruns, &xruns) == ASE_SUCCESS) {
        return xruns;
    }
    return 0;
}

ASIOError TASIOHost::CanSampleRate(double rate) {
    return FDriver ? FDriver->canSampleRate(rate) : ASE_NotPresent;
}

std::string TASIOHost::DriverErrorMessage() {
    char text[128] = {};
    if (FDriver) {
        FDriver->getErrorMessage(text);
    }
    return std::string(text, strnlen(text, sizeof text));
}

bool TASIOHost::CreateBuffers() {
    if (!FDriver) {
        return false;
    }
    if (FBuffersCreated) {
        DisposeBuffers();
    }
    if (TryCreateBuffers()) {
        return true;
    }
    // A device may grant another period than the one it offered (ALSA's dmix fixes its own);
    // the driver then offers that one, and the buffers are made again at its size.
    const int32_t tried = FBufferPreferredSize;
    int32_t min = 0, max = 0, preferred = 0, granularity = 0;
    FDriver->getBufferSize(&min, &max, &preferred, &granularity);
    const int32_t offered = min == max ? min : preferred;
    return offered != tried && TryCreateBuffers();
}

bool TASIOHost::TryCreateBuffers() {
    FDriver->getBufferSize(&FBufferMinimum, &FBufferMaximum, &FBufferPreferredSize,
                           &FBufferGranularity);
    if (FBufferMinimum == FBufferMaximum) {
        FBufferPreferredSize = FBufferMinimum;
    }
    // A preferred size past 16 bits is a driver's garbage, not a period: a safe one instead.
    constexpr int32_t LargestPeriod = 65530;
    constexpr uint32_t FallbackPeriod = 4096;
    FBufferSize = (FBufferPreferredSize <= 0 || FBufferPreferredSize > LargestPeriod)
                      ? FallbackPeriod
                      : static_cast<uint32_t>(FBufferPreferredSize);
    if (FCustomGenerator) {
        FCustomGenerator->BlockSize = FBufferSize;
    }
    double rate = 44100.0;
    if (FDriver->getSampleRate(&rate) == ASE_OK) {
        SetSampleRate(rate);
    }
    int32_t inputs = 0, outputs = 0;
    FDriver->getChannels(&inputs, &outputs);
    FInputChannelCount = std::max(inputs, 0);
    FOutputChannelCount = std::max(outputs, 0);
    const int total = FInputChannelCount + FOutputChannelCount;
    FBufferInfo = std::make_unique<ASIOBufferInfo[]>(static_cast<size_t>(std::max(total, 1)));
    FInputChannelInfos.assign(static_cast<size_t>(FInputChannelCount), ASIOChannelInfo{});
    FOutputChannelInfos.assign(static_cast<size_t>(FOutputChannelCount), ASIOChannelInfo{});
    FInConverters.assign(FInputChannelInfos.size(), TInConverter{});
    FOutConverters.assign(FOutputChannelInfos.size(), TOutConverter{});
    FInConvertible.assign(FInputChannelInfos.size(), false);
    FOutConvertible.assign(FOutputChannelInfos.size(), false);
    FSingleInBuffer.assign(FInputChannelInfos.size(), TSingleArray(FBufferSize, 0.0f));
    FDoubleInBuffer.assign(FInputChannelInfos.size(), std::vector<double>(FBufferSize, 0.0));
    FSingleOutBuffer.assign(FOutputChannelInfos.size(), TSingleArray(FBufferSize, 0.0f));
    FDoubleOutBuffer.assign(FOutputChannelInfos.size(), std::vector<double>(FBufferSize, 0.0));
    for (int i = 0; i < FInputChannelCount; ++i) {
        ASIOChannelInfo& info = FInputChannelInfos[static_cast<size_t>(i)];
        info.channel = i;
        info.isInput = ASIOTrue;
        FDriver->getChannelInfo(&info);
        FInConverters[static_cast<size_t>(i)] = GetInputConverter(info.type);
        FInConvertible[static_cast<size_t>(i)] =
            static_cast<bool>(FInConverters[static_cast<size_t>(i)]);
        FBufferInfo[i] = ASIOBufferInfo{ASIOTrue, i, {nullptr, nullptr}};
    }
    for (int i = 0; i < FOutputChannelCount; ++i) {
        ASIOChannelInfo& info = FOutputChannelInfos[static_cast<size_t>(i)];
        info.channel = i;
        info.isInput = ASIOFalse;
        FDriver->getChannelInfo(&info);
        FOutConverters[static_cast<size_t>(i)] = GetOutputConverter(info.type);
        FOutConvertible[static_cast<size_t>(i)] =
            static_cast<bool>(FOutConverters[static_cast<size_t>(i)]);
        FBufferInfo[FInputChannelCount + i] = ASIOBufferInfo{ASIOFalse, i, {nullptr, nullptr}};
    }
    // The driver's halves must hold what the arrays convert, so it is asked for BufferSize.
    const bool created =
        FDriver->createBuffers(FBufferInfo.get(), total, static_cast<int32_t>(FBufferSize),
                               &FCallbacks) == ASE_OK;
    FBuffersCreated = created;
    FDriver->getLatencies(&FInputLatency, &FOutputLatency);
    if (OnBuffersCreate) {
        OnBuffersCreate(this);
    }
    if (OnLatencyChanged) {
        OnLatencyChanged(this);
    }
    FNoiseState =
        static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()) | 1u;
    return created;
}

void TASIOHost::DisposeBuffers() {
    if (!FDriver || !FBuffersCreated) {
        return;
    }
    if (OnBuffersDestroy) {
        OnBuffersDestroy(this);
    }
    // The driver lets go of the halves before the host forgets where they are.
    try {
        FDriver->disposeBuffers();
    } catch (...) {
    }
    FBufferInfo.reset();
    FBuffersCreated = false;
    FSingleInBuffer.clear();
    FSingleOutBuffer.clear();
    FInputChannelInfos.clear();
    FOutputChannelInfos.clear();
}

ASIOChannelInfo TASIOHost::GetOutputChannelInfo(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(FOutputChannelInfos.size())) {
        throw std::out_of_range("Assertion failure");
    }
    return FOutputChannelInfos[static_cast<size_t>(channel)];
}

ASIOChannelInfo TASIOHost::GetInputChannelInfo(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(FInputChannelInfos.size())) {
        throw std::out_of_range("Assertion failure");
    }
    return FInputChannelInfos[static_cast<size_t>(channel)];
}

// A channel's meter or gain goes through the driver's future call; -1 reads as no meter.
int32_t TASIOHost::ChannelControl(int32_t selector, int32_t channel, bool input, int32_t gain) {
    if (!FDriver) {
        return -1;
    }
    ASIOChannelControls controls;
    controls.channel = channel;
    controls.isInput = input ? ASIOTrue : ASIOFalse;
    controls.gain = gain;
    FDriver->future(selector, &controls);
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
    const bool can = FDriver && FDriver->future(selector, nullptr) == ASE_SUCCESS;
    FCanDos = can ? (FCanDos | flag) : (FCanDos & ~flag);
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
