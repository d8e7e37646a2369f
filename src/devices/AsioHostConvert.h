// The host's view of the sample converters: one routine pair per sample type and direction,
// taken per channel when buffers are created, and the clip routines.
#pragma once

#include "devices/Asio.h"

#include <cstdint>

namespace varko {

struct THostInConverter {
    void (*ic32)(const void* source, float* target, int32_t count) = nullptr;
    void (*ic64)(const void* source, double* target, int32_t count) = nullptr;
};
struct THostOutConverter {
    void (*oc32)(const float* source, void* target, int32_t count) = nullptr;
    void (*oc64)(const double* source, void* target, int32_t count) = nullptr;
};
using THostClip32 = void (*)(float* data, int32_t count);
using THostClip64 = void (*)(double* data, int32_t count);

// From the current process-wide tables; false for a type without an entry.
bool HostInConverter(ASIOSampleType type, THostInConverter& pair);
bool HostOutConverter(ASIOSampleType type, THostOutConverter& pair);
// analog = false: the digital (hard) clip routines.
void HostClipRoutines(bool analog, THostClip32& clip32, THostClip64& clip64);
// Re-select the tables: processor-specific variants allowed (sse), output dither 0/1/2.
void HostSelectOptimizations(bool sse);
void HostSelectDither(int dither);

} // namespace varko
