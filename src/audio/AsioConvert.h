// Conversion of one channel's block between a driver buffer in an ASIO sample type and the
// host's float arrays, the clip routines, the output dither and the process-wide tables the
// host takes its routines from when it creates buffers.
//
// Every routine works on `count` samples, allocates nothing and takes no lock, so it may run
// on the driver's audio thread. Float full scale is -1.0 .. 1.0.
//
// Integer outputs saturate: a value beyond full scale becomes the largest or smallest value of
// the type's width (for the 32-bit container types, of the contained 16, 18, 20 or 24 bits,
// e.g. 131071 / -131072 for 18 bits, never a wrapped value); NaN becomes 0. Rounding is to
// nearest, ties to even, on the product computed in double precision.
#pragma once

#include "audio/Asio.h"

#include <cstdint>

namespace varko {

// driver buffer -> float array
using TInConvert32 = void (*)(const void* source, float* target, int32_t count);
using TInConvert64 = void (*)(const void* source, double* target, int32_t count);
// float array -> driver buffer
using TOutConvert32 = void (*)(const float* source, void* target, int32_t count);
using TOutConvert64 = void (*)(const double* source, void* target, int32_t count);
// in place
using TClipBuffer32 = void (*)(float* data, int32_t count);
using TClipBuffer64 = void (*)(double* data, int32_t count);

// A routine pair for 32-bit and 64-bit float arrays; both empty for a type without a routine.
struct TInConverter {
    TInConvert32 Float32 = nullptr;
    TInConvert64 Float64 = nullptr;
    explicit operator bool() const { return Float32 != nullptr && Float64 != nullptr; }
};
struct TOutConverter {
    TOutConvert32 Float32 = nullptr;
    TOutConvert64 Float64 = nullptr;
    explicit operator bool() const { return Float32 != nullptr && Float64 != nullptr; }
};
struct TClipBuffer {
    TClipBuffer32 Float32 = nullptr;
    TClipBuffer64 Float64 = nullptr;
    explicit operator bool() const { return Float32 != nullptr && Float64 != nullptr; }
};

// Allowed processor-specific routines (a set of bit flags). co3DNow is accepted and ignored:
// no current processor has 3DNow.
// NOLINTBEGIN(readability-identifier-naming): the converter options' own names
enum TConvertOptimization : uint32_t {
    coSSE = 1u << 0,
    co3DNow = 1u << 1,
};
using TConvertOptimizations = uint32_t;

enum TASIOOutputDither : int32_t {
    odNone = 0,
    odUDF = 1, // rectangular: one state advance per sample, +-0.5 of the last bit
    odTDF = 2, // triangular: two advances per sample, sum scaled to +-0.5 of the last bit
};
// NOLINTEND(readability-identifier-naming)

// Processor class found at start: 0 plain, 1 vector routines (AVX2 on x86-64). Class 2
// (3DNow) is never reported.
int32_t ProcessorClass();

// --- Current tables (what the host uses when it creates buffers) ---------------------------
// Thread-safe; the returned pointers stay valid for the life of the process.
TInConverter GetInputConverter(ASIOSampleType type);
TOutConverter GetOutputConverter(ASIOSampleType type);
TClipBuffer GetClipDigital();
TClipBuffer GetClipAnalog();

// Re-selects the tables: plain routines, then, without dither, the vector routines when the
// processor class is 1 and coSSE is in the set. Starts as coSSE | co3DNow.
void SetConvertOptimizations(TConvertOptimizations optimizations);
TConvertOptimizations GetConvertOptimizations();

// odUDF / odTDF seed the dither state from the millisecond tick and put the dithering output
// routines of ASIOSTInt16LSB, ASIOSTInt24LSB and ASIOSTInt32LSB16..24 in the table, with no
// vector routine while dithering; odNone goes back to the tables of the optimizations set.
void SetOutputDither(TASIOOutputDither dither);
TASIOOutputDither GetOutputDither();

// The one dither state all dithering routines share; each advance is s = s * 0x08088405 + 1.
// Meant to be advanced from one driver thread at a time.
uint32_t GetDitherState();
void SetDitherState(uint32_t state);

// --- Every variant, whatever the tables hold (tests and benchmarks) ------------------------
TInConverter PlainInputConverter(ASIOSampleType type);
TOutConverter PlainOutputConverter(ASIOSampleType type);
TClipBuffer PlainClipDigital();
TClipBuffer PlainClipAnalog();
// Empty unless `type` has a dithering routine and `dither` is odUDF or odTDF.
TOutConverter DitherOutputConverter(ASIOSampleType type, TASIOOutputDither dither);
// Vector routines replace only the 32-bit float member of a pair; the other is the plain one.
// Empty when the routine has no vector variant or the processor cannot run it.
TInConverter VectorInputConverter(ASIOSampleType type);
TOutConverter VectorOutputConverter(ASIOSampleType type);
TClipBuffer VectorClipDigital();
TClipBuffer VectorClipAnalog();

} // namespace varko
