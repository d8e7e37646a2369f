// Records, sample types, selectors and error codes of the ASIO driver model, which Varko
// keeps as the contract between its audio host and its drivers (which run over RtAudio).
#pragma once

#include <cstdint>

namespace varko {
// NOLINTBEGIN(readability-identifier-naming): the ASIO driver model's own names

using ASIOBool = int32_t;
using ASIOError = int32_t;
using ASIOSampleRate = double;
using ASIOSampleType = int32_t;

inline constexpr ASIOBool ASIOFalse = 0;
inline constexpr ASIOBool ASIOTrue = 1;

// Error codes
inline constexpr ASIOError ASE_OK = 0;
inline constexpr ASIOError ASE_SUCCESS = 0x3F4847A0; // answer of future() for a supported query
inline constexpr ASIOError ASE_NotPresent = -1000;   // no driver, or no such channel or feature
inline constexpr ASIOError ASE_HWMalfunction = -999;
inline constexpr ASIOError ASE_InvalidParameter = -998;
inline constexpr ASIOError ASE_InvalidMode = -997;
inline constexpr ASIOError ASE_SPNotAdvancing = -996;
inline constexpr ASIOError ASE_NoClock = -995;
inline constexpr ASIOError ASE_NoMemory = -994;

// Sample types
enum : ASIOSampleType {
    ASIOSTInt16MSB = 0,
    ASIOSTInt24MSB = 1,
    ASIOSTInt32MSB = 2,
    ASIOSTFloat32MSB = 3,
    ASIOSTFloat64MSB = 4,
    ASIOSTInt32MSB16 = 8,
    ASIOSTInt32MSB18 = 9,
    ASIOSTInt32MSB20 = 10,
    ASIOSTInt32MSB24 = 11,
    ASIOSTInt16LSB = 16,
    ASIOSTInt24LSB = 17,
    ASIOSTInt32LSB = 18,
    ASIOSTFloat32LSB = 19,
    ASIOSTFloat64LSB = 20,
    ASIOSTInt32LSB16 = 24,
    ASIOSTInt32LSB18 = 25,
    ASIOSTInt32LSB20 = 26,
    ASIOSTInt32LSB24 = 27,
};

// Bytes one sample of the type takes in a driver buffer (0 for a type we do not handle).
constexpr int ASIOSampleBytes(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16MSB:
    case ASIOSTInt16LSB:
        return 2;
    case ASIOSTInt24MSB:
    case ASIOSTInt24LSB:
        return 3;
    case ASIOSTFloat64MSB:
    case ASIOSTFloat64LSB:
        return 8;
    case ASIOSTInt32MSB:
    case ASIOSTFloat32MSB:
    case ASIOSTInt32MSB16:
    case ASIOSTInt32MSB18:
    case ASIOSTInt32MSB20:
    case ASIOSTInt32MSB24:
    case ASIOSTInt32LSB:
    case ASIOSTFloat32LSB:
    case ASIOSTInt32LSB16:
    case ASIOSTInt32LSB18:
    case ASIOSTInt32LSB20:
    case ASIOSTInt32LSB24:
        return 4;
    default:
        return 0;
    }
}

// Messages a driver sends to its host through asioMessage().
enum : int32_t {
    kAsioSelectorSupported = 1,
    kAsioEngineVersion = 2,
    kAsioResetRequest = 3,
    kAsioBufferSizeChange = 4,
    kAsioResyncRequest = 5,
    kAsioLatenciesChanged = 6,
    kAsioSupportsTimeInfo = 7,
    kAsioSupportsTimeCode = 8,
    kAsioSupportsInputMonitor = 9,
};

// Selectors of the driver's future() call.
enum : int32_t {
    kAsioEnableTimeCodeRead = 1,
    kAsioDisableTimeCodeRead = 2,
    kAsioSetInputMonitor = 3,
    kAsioTransport = 4,
    kAsioSetInputGain = 5,
    kAsioGetInputMeter = 6,
    kAsioSetOutputGain = 7,
    kAsioGetOutputMeter = 8,
    kAsioCanInputMonitor = 9,
    kAsioCanTimeInfo = 10,
    kAsioCanTimeCode = 11,
    kAsioCanTransport = 12,
    kAsioCanInputGain = 13,
    kAsioCanInputMeter = 14,
    kAsioCanOutputGain = 15,
    kAsioCanOutputMeter = 16,
};

// A 64-bit sample count or nanosecond time stamp, as two 32-bit halves.
struct ASIOSamples {
    uint32_t hi = 0;
    uint32_t lo = 0;
};
using ASIOTimeStamp = ASIOSamples;

constexpr int64_t ASIOToInt64(ASIOSamples s) {
    return static_cast<int64_t>((static_cast<uint64_t>(s.hi) << 32) | s.lo);
}
constexpr ASIOSamples ASIOFromInt64(int64_t v) {
    return {static_cast<uint32_t>(static_cast<uint64_t>(v) >> 32), static_cast<uint32_t>(v)};
}

struct ASIOBufferInfo {
    ASIOBool isInput = 0;
    int32_t channelNum = 0;
    void* buffers[2] = {nullptr, nullptr}; // one per half
};

struct ASIOChannelInfo {
    int32_t channel = 0;
    ASIOBool isInput = 0;
    ASIOBool isActive = 0;
    int32_t channelGroup = 0;
    ASIOSampleType type = 0;
    char name[32] = {};
};
static_assert(sizeof(ASIOChannelInfo) == 52);

struct ASIOClockSource {
    int32_t index = 0;
    int32_t associatedChannel = -1;
    int32_t associatedGroup = -1;
    ASIOBool isCurrentSource = 0;
    char name[32] = {};
};

struct ASIOChannelControls {
    int32_t channel = 0;
    ASIOBool isInput = 0;
    int32_t gain = 0;
    int32_t meter = 0;
    char future[32] = {};
};

// Time-info flags (bit i of AsioTimeInfo::flags)
enum : uint32_t {
    kSystemTimeValid = 1u << 0,
    kSamplePositionValid = 1u << 1,
    kSampleRateValid = 1u << 2,
    kSpeedValid = 1u << 3,
    kSampleRateChanged = 1u << 4,
    kClockSourceChanged = 1u << 5,
};

#pragma pack(push, 4)
struct AsioTimeInfo {
    double speed = 0.0;
    ASIOTimeStamp systemTime;
    ASIOSamples samplePosition;
    ASIOSampleRate sampleRate = 0.0;
    uint32_t flags = 0;
    char reserved[12] = {};
};

struct ASIOTimeCode {
    double speed = 0.0;
    ASIOSamples timeCodeSamples;
    uint32_t flags = 0;
    char future[64] = {};
};

struct ASIOTime {
    int32_t reserved[4] = {};
    AsioTimeInfo timeInfo;
    ASIOTimeCode timeCode;
};
#pragma pack(pop)
static_assert(sizeof(ASIOTime) == 148);

// The four entry points a driver calls back into its host. Drivers may call them from any
// thread, as a rule their own audio thread.
struct ASIOCallbacks {
    void (*bufferSwitch)(int32_t doubleBufferIndex, ASIOBool directProcess) = nullptr;
    void (*sampleRateDidChange)(ASIOSampleRate sRate) = nullptr;
    int32_t (*asioMessage)(int32_t selector, int32_t value, void* message, double* opt) = nullptr;
    ASIOTime* (*bufferSwitchTimeInfo)(ASIOTime* params, int32_t doubleBufferIndex,
                                      ASIOBool directProcess) = nullptr;
};

// NOLINTEND(readability-identifier-naming)
} // namespace varko
