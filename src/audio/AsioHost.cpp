#include "audio/AsioHost.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace varko {

namespace {

// The driver callbacks carry no context: they reach the newest host.
std::atomic<TASIOHost*> gHost{nullptr};

void CbBufferSwitch(int32_t index, ASIOBool) {
    if (TASIOHost* host = gHost.load(std::memory_order_acquire)) {
        host->BufferSwitch(index);
    }
}

void CbSampleRateDidChange(ASIOSampleRate) {
    if (TASIOHost* host = gHost.load(std::memory_order_acquire)) {
        host->AsioMessage(-1, 0, nullptr, nullptr); // handled as a rate notice below
    }
}

int32_t CbAsioMessage(int32_t selector, int32_t value, void* message, double* opt) {
    TASIOHost* host = gHost.load(std::memory_order_acquire);
    if (host) {
        return host->AsioMessage(selector, value, message, opt);
    }
    // Without a host, answer as a host with the default selector support would.
    if (selector == kAsioSelectorSupported) {
        return value >= kAsioEngineVersion && value <= kAsioLatenciesChanged ? 1 : 0;
    }
    return 0;
}

ASIOTime* CbBufferSwitchTimeInfo(ASIOTime* params, int32_t index, ASIOBool) {
    TASIOHost* host = gHost.load(std::memory_order_acquire);
    if (host && params) {
        host->BufferSwitchTimeInfo(index, *params);
    }
    return nullptr;
}

// Rate notices are passed as this private selector so that they share the queue.
constexpr int32_t kRateNotice = -1;

int SilenceBytes(ASIOSampleType type) {
    const int bytes = ASIOSampleBytes(type);
    return bytes ? bytes : 4;
}

} // namespace

TASIOTimeSub::TASIOTimeSub() {
    FTime.timeInfo.speed = 1.0;
    FTime.timeInfo.sampleRate = 44100.0;
    FTime.timeInfo.flags =
        kSystemTimeValid | kSamplePositionValid | kSampleRateValid | kSpeedValid;
}

void TASIOTimeSub::SetSamplePos(int64_t value) {
    if (value == SamplePos()) {
        return;
    }
    FTime.timeInfo.samplePosition = ASIOFromInt64(value);
    if (OnChanged) {
        OnChanged();
    }
}

void TASIOTimeSub::SetSpeed(double value) {
    if (value == FTime.timeInfo.speed) {
        return;
    }
    FTime.timeInfo.speed = value;
    if (OnChanged) {
        OnChanged();
    }
}

void TASIOTimeSub::SetSampleRate(double value) {
    if (value == FTime.timeInfo.sampleRate) {
        return;
    }
    FTime.timeInfo.sampleRate = value;
    if (OnChanged) {
        OnChanged();
    }
}

void TASIOTimeSub::SetFlags(TATFlags value) {
    FTime.timeInfo.flags = (FTime.timeInfo.flags & ~0x3Fu) | (value & 0x3Fu);
}

TASIOHost::TASIOHost(const TDriverListSource& source) {
    gHost.store(this, std::memory_order_release);
    FRecords = source ? source() : BuildDriverList();
    for (const TAsioDriverRecord& record : FRecords) {
        FDriverList.push_back(record.Name);
    }
    FCallbacks.bufferSwitch = CbBufferSwitch;
    FCallbacks.sampleRateDidChange = CbSampleRateDidChange;
    FCallbacks.asioMessage = CbAsioMessage;
    FCallbacks.bufferSwitchTimeInfo = CbBufferSwitchTimeInfo;
    FClip = GetClipDigital();
    ::varko::SetConvertOptimizations(FConvertOptimizations);
    if (OnCreate) {
        OnCreate(this);
    }
}

TASIOHost::~TASIOHost() {
    if (OnDestroy) {
        OnDestroy(this);
    }
    TASIOHost::SetActive(false);
    CloseDriver();
    TASIOHost* self = this;
    gHost.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

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
    FBufferSize = (FBufferPreferredSize <= 0 || FBufferPreferredSize > 65530)
                      ? 4096u
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

int32_t TASIOHost::GetInputMeter(int32_t channel) {
    if (!FDriver) {
        return -1;
    }
    ASIOChannelControls controls;
    controls.channel = channel;
    controls.isInput = ASIOTrue;
    FDriver->future(kAsioGetInputMeter, &controls);
    return controls.meter;
}

int32_t TASIOHost::GetOutputMeter(int32_t channel) {
    if (!FDriver) {
        return -1;
    }
    ASIOChannelControls controls;
    controls.channel = channel;
    controls.isInput = ASIOFalse;
    FDriver->future(kAsioGetOutputMeter, &controls);
    return controls.meter;
}

void TASIOHost::SetInputGain(int32_t channel, int32_t gain) {
    if (!FDriver) {
        return;
    }
    ASIOChannelControls controls;
    controls.channel = channel;
    controls.isInput = ASIOTrue;
    controls.gain = gain;
    FDriver->future(kAsioSetInputGain, &controls);
}

void TASIOHost::SetOutputGain(int32_t channel, int32_t gain) {
    if (!FDriver) {
        return;
    }
    ASIOChannelControls controls;
    controls.channel = channel;
    controls.isInput = ASIOFalse;
    controls.gain = gain;
    FDriver->future(kAsioSetOutputGain, &controls);
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

void TASIOHost::BufferSwitch(int32_t index) {
    ::varko::ASIOTime& time = FASIOTime.Record();
    time = ::varko::ASIOTime{};
    if (FDriver && FDriver->getSamplePosition(&time.timeInfo.samplePosition,
                                              &time.timeInfo.systemTime) == ASE_OK) {
        time.timeInfo.flags |= kSystemTimeValid | kSamplePositionValid;
    }
    BufferSwitchTimeInfo(index, time);
}

float TASIOHost::Noise() {
    FNoiseState ^= FNoiseState << 13;
    FNoiseState ^= FNoiseState >> 17;
    FNoiseState ^= FNoiseState << 5;
    return static_cast<float>(2.0 * (FNoiseState * (1.0 / 4294967296.0)) - 1.0);
}

template <typename T, typename InConv, typename OutConv, typename Clip>
void TASIOHost::RunSwitch(int32_t index, std::vector<std::vector<T>>& in,
                          std::vector<std::vector<T>>& out, InConv inConv, OutConv outConv,
                          Clip clip) {
    const bool wide = std::is_same_v<T, double>;
    const auto n = static_cast<int32_t>(FBufferSize);
    const int inputs = static_cast<int>(in.size());
    const int outputs = static_cast<int>(out.size());

    auto prefill = [&](std::vector<std::vector<T>>& arrays, TBufferPreFill mode, bool isOutput) {
        switch (mode) {
        case bpfZero:
            for (auto& a : arrays) {
                std::fill(a.begin(), a.end(), T(0));
            }
            return true;
        case bpfNoise:
            for (auto& a : arrays) {
                for (T& v : a) {
                    v = static_cast<T>(Noise());
                }
            }
            return true;
        case bpfCustom:
            if constexpr (!std::is_same_v<T, double>) {
                if (FCustomGenerator) {
                    FCustomGenerator->ProcessBlock(arrays, isOutput);
                }
                return true;
            }
            return false;
        default:
            return false;
        }
    };

    if (!prefill(in, PreFillInBuffer, false)) {
        for (int i = 0; i < inputs; ++i) {
            void* half = FBufferInfo[i].buffers[index & 1];
            if (half && FInConvertible[static_cast<size_t>(i)]) {
                inConv(i, half, in[static_cast<size_t>(i)].data(), n);
            }
        }
    }
    if (FPreventClipping != pcNone && clip) {
        for (auto& a : in) {
            clip(a.data(), n);
        }
    }
    prefill(out, PreFillOutBuffer, true);

    auto copy = [&](int from, int to) {
        if (from >= 0 && from < inputs && to >= 0 && to < outputs) {
            std::copy(in[static_cast<size_t>(from)].begin(), in[static_cast<size_t>(from)].end(),
                      out[static_cast<size_t>(to)].begin());
        }
    };
    switch (InputMonitor) {
    case imMono:
        copy(FInputChannelOffset, FOutputChannelOffset);
        break;
    case imStereo:
        copy(FInputChannelOffset, FOutputChannelOffset);
        copy(FInputChannelOffset + 1, FOutputChannelOffset + 1);
        break;
    case imAll:
        for (int i = 0; i < std::min(inputs, outputs); ++i) {
            copy(i, i);
        }
        break;
    default:
        break;
    }

    if constexpr (wide) {
        OnBufferSwitch64(this, in, out);
    } else {
        if (OnBufferSwitch32) {
            OnBufferSwitch32(this, in, out);
        }
    }

    if (FPreventClipping != pcNone && clip) {
        for (auto& a : out) {
            clip(a.data(), n);
        }
    }
    for (int i = 0; i < outputs; ++i) {
        void* half = FBufferInfo[inputs + i].buffers[index & 1];
        if (half && FOutConvertible[static_cast<size_t>(i)]) {
            outConv(i, half, out[static_cast<size_t>(i)].data(), n);
        }
    }
}

void TASIOHost::BufferSwitchTimeInfo(int32_t index, const ::varko::ASIOTime& params) {
    if (!FDriver || !FBufferInfo) {
        return;
    }
    if (&params != &FASIOTime.Record()) {
        FASIOTime.Record() = params;
    }
    if (OnUpdateSamplePos) {
        OnUpdateSamplePos(this, ASIOToInt64(params.timeInfo.samplePosition));
    }
    if (OnBufferSwitchNative) {
        OnBufferSwitchNative(this, FBufferInfo.get(), index);
    } else if (OnBufferSwitch64) {
        RunSwitch<double>(
            index, FDoubleInBuffer, FDoubleOutBuffer,
            [this](int i, void* half, double* data, int32_t n) {
                FInConverters[static_cast<size_t>(i)].ic64(half, data, n);
            },
            [this](int i, void* half, double* data, int32_t n) {
                FOutConverters[static_cast<size_t>(i)].oc64(data, half, n);
            },
            FClip.cb64);
    } else {
        RunSwitch<float>(
            index, FSingleInBuffer, FSingleOutBuffer,
            [this](int i, void* half, float* data, int32_t n) {
                FInConverters[static_cast<size_t>(i)].ic32(half, data, n);
            },
            [this](int i, void* half, float* data, int32_t n) {
                FOutConverters[static_cast<size_t>(i)].oc32(data, half, n);
            },
            FClip.cb32);
    }
    FDriver->outputReady();
}

int32_t TASIOHost::AsioMessage(int32_t selector, int32_t value, void*, double*) {
    switch (selector) {
    case kAsioSelectorSupported: {
        static constexpr TASIOSelectorSupport bySelector[] = {
            assEngineVersion,    assResetRequest,     assBufferSizeChange, assResyncRequest,
            assLatenciesChanged, assSupportsTimeInfo, assSupportsTimeCode, assSupportsInputMonitor};
        if (value < kAsioEngineVersion || value > kAsioSupportsInputMonitor) {
            return 0;
        }
        return (FSelectorSupport & bySelector[value - kAsioEngineVersion]) ? 1 : 0;
    }
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest:
    case kAsioBufferSizeChange:
        // Reloading closes the driver: never inside the driver's own call.
        if (!FReloadPending.exchange(true)) {
            Post([this] {
                FReloadPending.store(false);
                if (!FDriver) {
                    return;
                }
                try {
                    Reset();
                } catch (...) {
                    FActive = false;
                    FDeviceLost.store(true, std::memory_order_relaxed);
                    if (OnDeviceLost) {
                        OnDeviceLost(this);
                    }
                }
            });
        }
        return 1;
    case kAsioResyncRequest:
        return 0;
    case kAsioLatenciesChanged:
        Post([this] {
            if (!FDriver) {
                return;
            }
            FDriver->getLatencies(&FInputLatency, &FOutputLatency);
            if (OnLatencyChanged) {
                OnLatencyChanged(this);
            }
        });
        return 1;
    case kAsioSupportsTimeInfo:
        return 1;
    case kAsioSupportsTimeCode:
        return 0;
    case kAsioSupportsInputMonitor:
        return 1;
    case kAsioDeviceLost:
        FDeviceLost.store(true, std::memory_order_relaxed);
        Post([this] {
            if (!FDriver) {
                return;
            }
            // Stopped, but still wanted: the driver looks for the device's return.
            FActive = false;
            try {
                FDriver->stop();
            } catch (...) {
            }
            SilenceBuffers();
            FDeviceLost.store(true, std::memory_order_relaxed);
            if (OnDeviceLost) {
                OnDeviceLost(this);
            }
        });
        return 1;
    case kAsioDeviceBack:
        Post([this] {
            if (FDriver && FDeviceLost.load(std::memory_order_relaxed)) {
                ReloadLostDriver();
            }
        });
        return 1;
    case kRateNotice:
        Post([this] {
            if (OnSampleRateChanged) {
                OnSampleRateChanged(this);
            }
        });
        return 1;
    default:
        return 0;
    }
}

void TASIOHost::Post(std::function<void()> job) {
    std::weak_ptr<int> alive = FAlive;
    auto guarded = [alive, job = std::move(job)] {
        if (alive.lock()) {
            job();
        }
    };
    if (OwnerDispatcher) {
        OwnerDispatcher(std::move(guarded));
        return;
    }
    std::lock_guard lock(FQueueMutex);
    FQueue.push_back(std::move(guarded));
}

void TASIOHost::ProcessMessages() {
    std::vector<std::function<void()>> jobs;
    {
        std::lock_guard lock(FQueueMutex);
        jobs.swap(FQueue);
    }
    for (auto& job : jobs) {
        job();
    }
}

} // namespace varko
