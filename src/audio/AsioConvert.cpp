#include "audio/AsioConvert.h"

#include "audio/AsioConvertKernels.h"

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>

namespace varko {

using namespace convert_detail;

namespace {

// Sample type numbers run from 0 to 27; the gaps are types without routines.
constexpr int TypeSlots = 28;

bool Handled(ASIOSampleType type) {
    return type >= 0 && type < TypeSlots && ASIOSampleBytes(type) > 0;
}

// The dither's noise generator. Process-wide because the conversion routines are plain
// function pointers chosen per sample type; only the one callback thread of the running
// stream converts, so the relaxed atomic never sees two writers at once.
std::atomic<uint32_t> gDitherState{0};

template <typename T, int Bytes, int Bits, bool Big>
void OutIntRoutine(const T* src, void* dst, int32_t count) {
    OutInt<T, Bytes, Bits, Big>(src, dst, count);
}
template <typename T, int Bytes, int Bits, bool Big>
void InIntRoutine(const void* src, T* dst, int32_t count) {
    InInt<T, Bytes, Bits, Big>(src, dst, count);
}
template <typename T, typename D, bool Big>
void OutFloatRoutine(const T* src, void* dst, int32_t count) {
    OutFloat<T, D, Big>(src, dst, count);
}
template <typename T, typename D, bool Big>
void InFloatRoutine(const void* src, T* dst, int32_t count) {
    InFloat<T, D, Big>(src, dst, count);
}
// The state is read once per block and written back after it: one driver thread advances it.
template <typename T, int Bytes, int Bits, int Kind>
void OutDitherRoutine(const T* src, void* dst, int32_t count) {
    uint32_t state = gDitherState.load(std::memory_order_relaxed);
    OutIntDither<T, Bytes, Bits, Kind>(src, dst, count, state);
    gDitherState.store(state, std::memory_order_relaxed);
}
template <typename T> void ClipDigitalRoutine(T* data, int32_t count) {
    ClipDigital<T>(data, count);
}
template <typename T> void ClipAnalogRoutine(T* data, int32_t count) {
    ClipAnalog<T>(data, count);
}

template <int Bytes, int Bits, bool Big> constexpr TOutConverter OutIntPair() {
    return {&OutIntRoutine<float, Bytes, Bits, Big>, &OutIntRoutine<double, Bytes, Bits, Big>};
}
template <int Bytes, int Bits, bool Big> constexpr TInConverter InIntPair() {
    return {&InIntRoutine<float, Bytes, Bits, Big>, &InIntRoutine<double, Bytes, Bits, Big>};
}
template <typename D, bool Big> constexpr TOutConverter OutFloatPair() {
    return {&OutFloatRoutine<float, D, Big>, &OutFloatRoutine<double, D, Big>};
}
template <typename D, bool Big> constexpr TInConverter InFloatPair() {
    return {&InFloatRoutine<float, D, Big>, &InFloatRoutine<double, D, Big>};
}
template <int Bytes, int Bits, int Kind> constexpr TOutConverter DitherPair() {
    return {&OutDitherRoutine<float, Bytes, Bits, Kind>,
            &OutDitherRoutine<double, Bytes, Bits, Kind>};
}

template <int Kind> TOutConverter DitherPairFor(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16LSB:
        return DitherPair<2, 16, Kind>();
    case ASIOSTInt24LSB:
        return DitherPair<3, 24, Kind>();
    case ASIOSTInt32LSB16:
        return DitherPair<4, 16, Kind>();
    case ASIOSTInt32LSB18:
        return DitherPair<4, 18, Kind>();
    case ASIOSTInt32LSB20:
        return DitherPair<4, 20, Kind>();
    case ASIOSTInt32LSB24:
        return DitherPair<4, 24, Kind>();
    default:
        return {};
    }
}

int32_t DetectProcessorClass() {
#if defined(__x86_64__)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) {
        return 1;
    }
#endif
    return 0;
}

uint32_t MillisecondTick() {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

struct Tables {
    std::mutex Lock;
    std::array<TInConverter, TypeSlots> In{};
    std::array<TOutConverter, TypeSlots> Out{};
    TClipBuffer Digital{};
    TClipBuffer Analog{};
    TConvertOptimizations Optimizations = coSSE | co3DNow;
    TASIOOutputDither Dither = odNone;

    Tables() { Select(); }

    // Plain tables, then either the dithering output routines or the allowed vector routines.
    void Select() {
        for (int type = 0; type < TypeSlots; ++type) {
            In[type] = PlainInputConverter(type);
            Out[type] = PlainOutputConverter(type);
        }
        Digital = PlainClipDigital();
        Analog = PlainClipAnalog();
        if (Dither != odNone) {
            for (int type = 0; type < TypeSlots; ++type) {
                if (const TOutConverter d = DitherOutputConverter(type, Dither)) {
                    Out[type] = d;
                }
            }
            return;
        }
        if ((Optimizations & coSSE) == 0) {
            return;
        }
        for (int type = 0; type < TypeSlots; ++type) {
            if (const TInConverter v = VectorInputConverter(type)) {
                In[type] = v;
            }
            if (const TOutConverter v = VectorOutputConverter(type)) {
                Out[type] = v;
            }
        }
        if (const TClipBuffer v = VectorClipDigital()) {
            Digital = v;
        }
        if (const TClipBuffer v = VectorClipAnalog()) {
            Analog = v;
        }
    }
};

Tables& TheTables() {
    static Tables tables;
    return tables;
}

} // namespace

int32_t ProcessorClass() {
    static const int32_t processorClass = DetectProcessorClass();
    return processorClass;
}

TInConverter GetInputConverter(ASIOSampleType type) {
    if (!Handled(type)) {
        return {};
    }
    Tables& t = TheTables();
    const std::lock_guard guard(t.Lock);
    return t.In[type];
}

TOutConverter GetOutputConverter(ASIOSampleType type) {
    if (!Handled(type)) {
        return {};
    }
    Tables& t = TheTables();
    const std::lock_guard guard(t.Lock);
    return t.Out[type];
}

TClipBuffer GetClipDigital() {
    Tables& t = TheTables();
    const std::lock_guard guard(t.Lock);
    return t.Digital;
}

TClipBuffer GetClipAnalog() {
    Tables& t = TheTables();
    const std::lock_guard guard(t.Lock);
    return t.Analog;
}

void SetConvertOptimizations(TConvertOptimizations optimizations) {
    Tables& t = TheTables();
    const std::lock_guard guard(t.Lock);
    t.Optimizations = optimizations;
    t.Select();
}

TConvertOptimizations GetConvertOptimizations() {
    Tables& t = TheTables();
    const std::lock_guard guard(t.Lock);
    return t.Optimizations;
}

void SetOutputDither(TASIOOutputDither dither) {
    if (dither != odUDF && dither != odTDF) {
        dither = odNone;
    }
    Tables& t = TheTables();
    const std::lock_guard guard(t.Lock);
    if (dither != odNone) {
        gDitherState.store(MillisecondTick(), std::memory_order_relaxed);
    }
    t.Dither = dither;
    t.Select();
}

TASIOOutputDither GetOutputDither() {
    Tables& t = TheTables();
    const std::lock_guard guard(t.Lock);
    return t.Dither;
}

uint32_t GetDitherState() {
    return gDitherState.load(std::memory_order_relaxed);
}

void SetDitherState(uint32_t state) {
    gDitherState.store(state, std::memory_order_relaxed);
}

TInConverter PlainInputConverter(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16MSB:
        return InIntPair<2, 16, true>();
    case ASIOSTInt24MSB:
        return InIntPair<3, 24, true>();
    case ASIOSTInt32MSB:
        return InIntPair<4, 32, true>();
    case ASIOSTFloat32MSB:
        return InFloatPair<float, true>();
    case ASIOSTFloat64MSB:
        return InFloatPair<double, true>();
    case ASIOSTInt32MSB16:
        return InIntPair<4, 16, true>();
    case ASIOSTInt32MSB18:
        return InIntPair<4, 18, true>();
    case ASIOSTInt32MSB20:
        return InIntPair<4, 20, true>();
    case ASIOSTInt32MSB24:
        return InIntPair<4, 24, true>();
    case ASIOSTInt16LSB:
        return InIntPair<2, 16, false>();
    case ASIOSTInt24LSB:
        return InIntPair<3, 24, false>();
    case ASIOSTInt32LSB:
        return InIntPair<4, 32, false>();
    case ASIOSTFloat32LSB:
        return InFloatPair<float, false>();
    case ASIOSTFloat64LSB:
        return InFloatPair<double, false>();
    case ASIOSTInt32LSB16:
        return InIntPair<4, 16, false>();
    case ASIOSTInt32LSB18:
        return InIntPair<4, 18, false>();
    case ASIOSTInt32LSB20:
        return InIntPair<4, 20, false>();
    case ASIOSTInt32LSB24:
        return InIntPair<4, 24, false>();
    default:
        return {};
    }
}

TOutConverter PlainOutputConverter(ASIOSampleType type) {
    switch (type) {
    case ASIOSTInt16MSB:
        return OutIntPair<2, 16, true>();
    case ASIOSTInt24MSB:
        return OutIntPair<3, 24, true>();
    case ASIOSTInt32MSB:
        return OutIntPair<4, 32, true>();
    case ASIOSTFloat32MSB:
        return OutFloatPair<float, true>();
    case ASIOSTFloat64MSB:
        return OutFloatPair<double, true>();
    case ASIOSTInt32MSB16:
        return OutIntPair<4, 16, true>();
    case ASIOSTInt32MSB18:
        return OutIntPair<4, 18, true>();
    case ASIOSTInt32MSB20:
        return OutIntPair<4, 20, true>();
    case ASIOSTInt32MSB24:
        return OutIntPair<4, 24, true>();
    case ASIOSTInt16LSB:
        return OutIntPair<2, 16, false>();
    case ASIOSTInt24LSB:
        return OutIntPair<3, 24, false>();
    case ASIOSTInt32LSB:
        return OutIntPair<4, 32, false>();
    case ASIOSTFloat32LSB:
        return OutFloatPair<float, false>();
    case ASIOSTFloat64LSB:
        return OutFloatPair<double, false>();
    case ASIOSTInt32LSB16:
        return OutIntPair<4, 16, false>();
    case ASIOSTInt32LSB18:
        return OutIntPair<4, 18, false>();
    case ASIOSTInt32LSB20:
        return OutIntPair<4, 20, false>();
    case ASIOSTInt32LSB24:
        return OutIntPair<4, 24, false>();
    default:
        return {};
    }
}

TClipBuffer PlainClipDigital() {
    return {&ClipDigitalRoutine<float>, &ClipDigitalRoutine<double>};
}

TClipBuffer PlainClipAnalog() {
    return {&ClipAnalogRoutine<float>, &ClipAnalogRoutine<double>};
}

TOutConverter DitherOutputConverter(ASIOSampleType type, TASIOOutputDither dither) {
    switch (dither) {
    case odUDF:
        return DitherPairFor<1>(type);
    case odTDF:
        return DitherPairFor<2>(type);
    default:
        return {};
    }
}

TInConverter VectorInputConverter(ASIOSampleType type) {
#if defined(__x86_64__)
    if (ProcessorClass() != 1) {
        return {};
    }
    TInConvert32 v = nullptr;
    switch (type) {
    case ASIOSTInt16LSB:
        v = &avx2::InInt16LSB;
        break;
    case ASIOSTInt32LSB:
        v = &avx2::InInt32LSB;
        break;
    case ASIOSTInt32LSB16:
        v = &avx2::InInt32LSB16;
        break;
    case ASIOSTInt32LSB18:
        v = &avx2::InInt32LSB18;
        break;
    case ASIOSTInt32LSB20:
        v = &avx2::InInt32LSB20;
        break;
    case ASIOSTInt32LSB24:
        v = &avx2::InInt32LSB24;
        break;
    default:
        return {};
    }
    return {v, PlainInputConverter(type).Float64};
#else
    (void)type;
    return {};
#endif
}

TOutConverter VectorOutputConverter(ASIOSampleType type) {
#if defined(__x86_64__)
    if (ProcessorClass() != 1) {
        return {};
    }
    TOutConvert32 v = nullptr;
    switch (type) {
    case ASIOSTInt16LSB:
        v = &avx2::OutInt16LSB;
        break;
    case ASIOSTInt16MSB:
        v = &avx2::OutInt16MSB;
        break;
    case ASIOSTInt32LSB:
        v = &avx2::OutInt32LSB;
        break;
    case ASIOSTInt32MSB:
        v = &avx2::OutInt32MSB;
        break;
    case ASIOSTInt32LSB16:
        v = &avx2::OutInt32LSB16;
        break;
    case ASIOSTInt32LSB18:
        v = &avx2::OutInt32LSB18;
        break;
    case ASIOSTInt32LSB20:
        v = &avx2::OutInt32LSB20;
        break;
    case ASIOSTInt32LSB24:
        v = &avx2::OutInt32LSB24;
        break;
    default:
        return {};
    }
    return {v, PlainOutputConverter(type).Float64};
#else
    (void)type;
    return {};
#endif
}

TClipBuffer VectorClipDigital() {
#if defined(__x86_64__)
    if (ProcessorClass() == 1) {
        return {&avx2::ClipDigital32, PlainClipDigital().Float64};
    }
#endif
    return {};
}

TClipBuffer VectorClipAnalog() {
#if defined(__x86_64__)
    if (ProcessorClass() == 1) {
        return {&avx2::ClipAnalog32, PlainClipAnalog().Float64};
    }
#endif
    return {};
}

} // namespace varko
