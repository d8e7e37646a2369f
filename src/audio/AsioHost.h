// The audio host over the ASIO driver model: lists the drivers, loads one, gives it buffers,
// converts each half the driver switches to into float arrays for the owner's handler and
// back, and answers the driver's notices.
#pragma once

#include "audio/Asio.h"
#include "audio/AsioConvert.h"
#include "audio/AsioGenerator.h"
#include "audio/DriverBridge.h"
#include "audio/DriverList.h"
#include "engine/AudioHost.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace varko {

// Capabilities (bit flags of TASIOCanDos)
// NOLINTBEGIN(readability-identifier-naming): the ASIO host's own names
enum TASIOCanDo : uint32_t {
    acdInputMonitor = 1u << 0,
    acdTimeInfo = 1u << 1,
    acdTimeCode = 1u << 2,
    acdTransport = 1u << 3,
    acdInputGain = 1u << 4,
    acdInputMeter = 1u << 5,
    acdOutputGain = 1u << 6,
    acdOutputMeter = 1u << 7,
};
using TASIOCanDos = uint32_t;

// The host's answers to the driver's "selector supported" queries (bit flags)
enum TASIOSelectorSupport : uint32_t {
    assEngineVersion = 1u << 0,
    assResetRequest = 1u << 1,
    assBufferSizeChange = 1u << 2,
    assResyncRequest = 1u << 3,
    assLatenciesChanged = 1u << 4,
    assSupportsTimeInfo = 1u << 5,
    assSupportsTimeCode = 1u << 6,
    assSupportsInputMonitor = 1u << 7,
};
using TASIOSelectorSupports = uint32_t;

// TConvertOptimizations and TASIOOutputDither come with the converters.
enum TPreventClipping { pcNone, pcDigital, pcAnalog };
enum TBufferPreFill { bpfNone, bpfZero, bpfNoise, bpfCustom };
enum TInputMonitor { imDisabled, imMono, imStereo, imAll };
// NOLINTEND(readability-identifier-naming)

// Time-info flags: the k*Valid and k*Changed bits of AsioTimeInfo.
using TATFlags = uint32_t;

using TArrayOfDoubleArray = std::vector<std::vector<double>>;
using TBufferSwitchEvent64 = std::function<void(
    IAudioHost* sender, const TArrayOfDoubleArray& inBuffer, TArrayOfDoubleArray& outBuffer)>;
using TBufferSwitchEventNative =
    std::function<void(IAudioHost* sender, ASIOBufferInfo* bufferInfo, int32_t bufferIndex)>;
using TSamplePositionUpdateEvent = std::function<void(IAudioHost* sender, int64_t samplePosition)>;

// What OpenDriver raises when the driver cannot be created or initialised.
class EASIOHostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One ASIOTime record with its time-info fields as properties.
class TASIOTimeSub {
public:
    TASIOTimeSub();

    int64_t SamplePos() const { return ASIOToInt64(time_.timeInfo.samplePosition); }
    void SetSamplePos(int64_t value);
    double Speed() const { return time_.timeInfo.speed; }
    void SetSpeed(double value);
    double SampleRate() const { return time_.timeInfo.sampleRate; }
    void SetSampleRate(double value);
    TATFlags Flags() const { return time_.timeInfo.flags & 0x3Fu; }
    void SetFlags(TATFlags value);

    ASIOTime& Record() { return time_; }
    const ASIOTime& Record() const { return time_; }

    std::function<void()> OnChanged;

private:
    ASIOTime time_;
};

class TASIOHost final : public IAudioHost {
public:
    // Builds the driver list from source (the RtAudio devices when empty). The newest host
    // is the one the driver callbacks reach; one host per process is supported.
    explicit TASIOHost(const TDriverListSource& source = {});
    ~TASIOHost() override;
    TASIOHost(const TASIOHost&) = delete;
    TASIOHost& operator=(const TASIOHost&) = delete;

    // IAudioHost
    bool Active() const override { return active_; }
    void SetActive(bool value) override;
    uint32_t BufferSize() const override { return bufferSize_; }
    double SampleRate() const override { return sampleRate_; }
    const std::vector<std::string>& DriverList() const override { return driverList_; }
    int DriverIndex() const override { return driverIndex_; }
    void SetDriverIndex(int index) override;
    int OutputChannelCount() const override { return outputChannelCount_; }
    std::string GetOutputChannelName(int channel) const override;
    uint16_t OutputChannelOffset() const override { return outputChannelOffset_; }
    void SetOutputChannelOffset(uint16_t offset) override;
    void ControlPanel() override;
    bool DeviceLost() const override { return deviceLost_.load(std::memory_order_relaxed); }
    uint64_t DeviceXruns() override;

    const std::string& DriverName() const { return driverName_; }
    // Selects the driver of that name; a name not in DriverList is ignored.
    void SetDriverName(const std::string& name);
    int32_t DriverVersion() const { return driverVersion_; }
    int32_t BufferMinimum() const { return bufferMinimum_; }
    int32_t BufferMaximum() const { return bufferMaximum_; }
    int32_t BufferPreferredSize() const { return bufferPreferredSize_; }
    int32_t BufferGranularity() const { return bufferGranularity_; }
    int32_t InputLatency() const { return inputLatency_; }   // samples
    int32_t OutputLatency() const { return outputLatency_; } // samples
    int InputChannelCount() const { return inputChannelCount_; }
    uint16_t InputChannelOffset() const { return inputChannelOffset_; }
    void SetInputChannelOffset(uint16_t offset);
    // Stores the rate (44100 when not in 0 < rate <= 1048575) and asks the driver for it.
    void SetSampleRate(double rate);
    TASIOCanDos CanDos() const { return canDos_; }
    TASIOSelectorSupports SelectorSupport() const { return selectorSupport_; }
    void SetSelectorSupport(TASIOSelectorSupports value) { selectorSupport_ = value; }
    TConvertOptimizations ConvertOptimizations() const { return convertOptimizations_; }
    void SetConvertOptimizations(TConvertOptimizations value);
    TASIOOutputDither OutputDither() const { return outputDither_; }
    void SetOutputDither(TASIOOutputDither value);
    TPreventClipping PreventClipping() const { return preventClipping_; }
    void SetPreventClipping(TPreventClipping value);
    TBufferPreFill PreFillInBuffer = bpfNone;
    TBufferPreFill PreFillOutBuffer = bpfNone;
    TInputMonitor InputMonitor = imDisabled;
    TASIOGenerator* CustomGenerator() const { return customGenerator_; }
    // Not owned; gets the host's BlockSize and SampleRate.
    void SetCustomGenerator(TASIOGenerator* generator);
    TASIOTimeSub& ASIOTime() { return asioTime_; }

    // Driver notices that need the driver closed or restarted run through OwnerDispatcher, on
    // the owner's thread. Without one they wait for ProcessMessages (ControlPanel runs them).
    // Runs the notices queued while no dispatcher was set. Owner's thread only.
    void ProcessMessages();

    void OpenDriver(); // raises EASIOHostError("ASIO Driver Failed!")
    // A fresh driver for a lost device that is back, playing again if the owner still wants
    // it to, then OnReset. The lost driver stays when the fresh one fails.
    void ReloadLostDriver();
    void CloseDriver();
    void Reset();
    bool CreateBuffers();
    void DisposeBuffers();
    ASIOError CanSampleRate(double rate);
    // The loaded driver's own account of its last failure; empty without a driver.
    std::string DriverErrorMessage();
    int GetNumDrivers() const { return static_cast<int>(records_.size()); }
    // Raises std::out_of_range("Assertion failure") for a channel outside the device.
    ASIOChannelInfo GetOutputChannelInfo(int channel) const;
    ASIOChannelInfo GetInputChannelInfo(int channel) const;
    int32_t GetInputMeter(int32_t channel);
    int32_t GetOutputMeter(int32_t channel);
    void SetInputGain(int32_t channel, int32_t gain);
    void SetOutputGain(int32_t channel, int32_t gain);
    bool CanTimeInfo();
    bool CanTimeCode();
    bool CanTransport();
    bool CanInputGain();
    bool CanInputMeter();
    bool CanOutputGain();
    bool CanOutputMeter();

    // The driver callbacks' work; the driver's thread.
    void BufferSwitch(int32_t index);
    void BufferSwitchTimeInfo(int32_t index, const ::varko::ASIOTime& params);
    int32_t AsioMessage(int32_t selector, int32_t value, void* message, double* opt);

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;
    TNotifyEvent OnDriverChanged;
    TNotifyEvent OnLatencyChanged;
    TNotifyEvent OnBuffersCreate;
    TNotifyEvent OnBuffersDestroy;
    TSamplePositionUpdateEvent OnUpdateSamplePos;
    TBufferSwitchEvent64 OnBufferSwitch64;
    TBufferSwitchEventNative OnBufferSwitchNative;

private:
    void Post(std::function<void()> job);
    std::unique_ptr<TDriverBridge> LoadDriver();
    bool TryCreateBuffers();
    void SilenceBuffers();
    bool AskFuture(int32_t selector, TASIOCanDo flag);
    int32_t ChannelControl(int32_t selector, int32_t channel, bool input, int32_t gain);
    float Noise();
    template <typename T, typename InConv, typename OutConv, typename Clip>
    void RunSwitch(int32_t index, std::vector<std::vector<T>>& in, std::vector<std::vector<T>>& out,
                   InConv inConv, OutConv outConv, Clip clip);

    // Which thread touches what. The owner's thread (the one that made the host) alone: the
    // driver list, the driver, the flags and the settings below, up to FASIOTime. Those the
    // driver's callback also reads (sizes, rate, channel offsets, dither, clipping, generator)
    // change while no buffers exist, or through a setter the owner calls only while the host is
    // inactive. From FASIOTime to FNoiseState:
    // written by the callback while buffers exist, by the owner while they do not.
    // FDeviceLost, FReloadPending and the queue: any thread.
    TAsioDriverRecords records_;
    std::vector<std::string> driverList_;
    std::unique_ptr<TDriverBridge> driver_;
    bool active_ = false;
    bool wantActive_ = false; // the owner's last word: SetActive(true) until SetActive(false)
    int driverIndex_ = -1;
    std::string driverName_;
    int32_t driverVersion_ = 0;
    uint32_t bufferSize_ = 0;
    int32_t bufferMinimum_ = 0, bufferMaximum_ = 0, bufferPreferredSize_ = 0,
            bufferGranularity_ = 0;
    int32_t inputLatency_ = 0, outputLatency_ = 0;
    int inputChannelCount_ = 0, outputChannelCount_ = 0;
    uint16_t inputChannelOffset_ = 0, outputChannelOffset_ = 0;
    double sampleRate_ = 44100.0;
    TASIOCanDos canDos_ = 0;
    TASIOSelectorSupports selectorSupport_ = assEngineVersion | assResetRequest |
                                             assBufferSizeChange | assResyncRequest |
                                             assLatenciesChanged;
    TConvertOptimizations convertOptimizations_ = coSSE | co3DNow;
    TASIOOutputDither outputDither_ = odNone;
    TPreventClipping preventClipping_ = pcNone;
    TASIOGenerator* customGenerator_ = nullptr;
    TASIOTimeSub asioTime_;

    bool buffersCreated_ = false;
    ASIOCallbacks callbacks_;
    std::unique_ptr<ASIOBufferInfo[]> bufferInfo_; // inputs, then outputs
    std::vector<ASIOChannelInfo> inputChannelInfos_, outputChannelInfos_;
    std::vector<TInConverter> inConverters_;
    std::vector<TOutConverter> outConverters_;
    std::vector<bool> inConvertible_, outConvertible_;
    TArrayOfSingleArray singleInBuffer_, singleOutBuffer_;
    TArrayOfDoubleArray doubleInBuffer_, doubleOutBuffer_;
    TClipBuffer clip_; // the routines PreventClipping chose last
    uint32_t noiseState_ = 1;

    std::atomic<bool> deviceLost_{false};
    std::atomic<bool> reloadPending_{false};
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::mutex queueMutex_;
    std::vector<std::function<void()>> queue_;
};

} // namespace varko
