// The driver interface the host talks to, and the bridge that creates a driver for a driver
// record and forwards every operation to it.
#pragma once

#include "audio/Asio.h"

#include <functional>
#include <memory>
#include <string>

namespace varko {

// Our drivers also report a lost device (server gone, interface unplugged) through
// asioMessage, and its return (the server is back); the selectors lie outside the range the
// standard messages use.
// NOLINTBEGIN(readability-identifier-naming): the ASIO driver model's own names
inline constexpr int32_t kAsioDeviceLost = 0x4C4F5354;
inline constexpr int32_t kAsioDeviceBack = 0x4241434B;
// future() selector of our drivers: the device's over- and underruns since the driver was
// loaded, into the uint64_t that opt points to.
inline constexpr int32_t kAsioGetXruns = 0x58525553;

// The 21 driver operations, in interface order.
class IAsioDriver {
public:
    virtual ~IAsioDriver() = default;

    virtual ASIOBool init(void* sysHandle) = 0;
    virtual void getDriverName(char* name) = 0; // name: at least 32 bytes
    virtual int32_t getDriverVersion() = 0;
    virtual void getErrorMessage(char* string) = 0; // string: at least 124 bytes
    virtual ASIOError start() = 0;
    virtual ASIOError stop() = 0;
    virtual ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) = 0;
    virtual ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) = 0;
    virtual ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                                    int32_t* granularity) = 0;
    virtual ASIOError canSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getSampleRate(ASIOSampleRate* sampleRate) = 0;
    virtual ASIOError setSampleRate(ASIOSampleRate sampleRate) = 0;
    virtual ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) = 0;
    virtual ASIOError setClockSource(int32_t reference) = 0;
    virtual ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) = 0;
    virtual ASIOError getChannelInfo(ASIOChannelInfo* info) = 0;
    virtual ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                    int32_t bufferSize, ASIOCallbacks* callbacks) = 0;
    virtual ASIOError disposeBuffers() = 0;
    virtual ASIOError controlPanel() = 0;
    virtual ASIOError future(int32_t selector, void* opt) = 0;
    virtual ASIOError outputReady() = 0;
};
// NOLINTEND(readability-identifier-naming)

// One usable driver: the name shown to the player and how to create its driver object
// (the part a class id plays for a COM driver).
struct TAsioDriverRecord {
    std::string Name;
    std::function<std::unique_ptr<IAsioDriver>()> Create;
};

// Creates the driver of one record and forwards the driver operations to it. Operations
// on a bridge whose driver could not be created answer as "not present".
class TDriverBridge final : public IAsioDriver {
public:
    explicit TDriverBridge(const TAsioDriverRecord& record);
    ~TDriverBridge() override;
    TDriverBridge(const TDriverBridge&) = delete;
    TDriverBridge& operator=(const TDriverBridge&) = delete;

    // True when the driver object came back from its record's factory.
    bool Succeeded() const { return driver_ != nullptr; }

    ASIOBool init(void* sysHandle) override;
    void getDriverName(char* name) override;
    int32_t getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
    ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
    ASIOError setClockSource(int32_t reference) override;
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(int32_t selector, void* opt) override;
    ASIOError outputReady() override;

private:
    std::unique_ptr<IAsioDriver> driver_;
};

} // namespace varko
