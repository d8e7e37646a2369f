// Interim little-endian converters for the types our drivers deliver, until the full
// conversion unit is wired in.
#include "devices/AsioHostConvert.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace varko {

namespace {

template <typename F> int64_t RoundSat(F x, double scale, double lo, double hi) {
    double v = static_cast<double>(x) * scale;
    if (!(v == v)) {
        return 0;
    }
    v = std::clamp(v, lo, hi);
    return static_cast<int64_t>(std::nearbyint(v));
}

template <typename F> void InF32(const void* s, F* d, int32_t n) {
    const auto* p = static_cast<const float*>(s);
    for (int32_t i = 0; i < n; ++i) {
        d[i] = static_cast<F>(p[i]);
    }
}
template <typename F> void OutF32(const F* s, void* d, int32_t n) {
    auto* p = static_cast<float*>(d);
    for (int32_t i = 0; i < n; ++i) {
        p[i] = static_cast<float>(s[i]);
    }
}
template <typename F> void InF64(const void* s, F* d, int32_t n) {
    const auto* p = static_cast<const double*>(s);
    for (int32_t i = 0; i < n; ++i) {
        d[i] = static_cast<F>(p[i]);
    }
}
template <typename F> void OutF64(const F* s, void* d, int32_t n) {
    auto* p = static_cast<double*>(d);
    for (int32_t i = 0; i < n; ++i) {
        p[i] = static_cast<double>(s[i]);
    }
}
template <typename F> void InI16(const void* s, F* d, int32_t n) {
    const auto* p = static_cast<const int16_t*>(s);
    for (int32_t i = 0; i < n; ++i) {
        d[i] = static_cast<F>(p[i] / 32767.0);
    }
}
template <typename F> void OutI16(const F* s, void* d, int32_t n) {
    auto* p = static_cast<int16_t*>(d);
    for (int32_t i = 0; i < n; ++i) {
        p[i] = static_cast<int16_t>(RoundSat(s[i], 32767.0, -32768.0, 32767.0));
    }
}
template <typename F> void InI32(const void* s, F* d, int32_t n) {
    const auto* p = static_cast<const int32_t*>(s);
    for (int32_t i = 0; i < n; ++i) {
        d[i] = static_cast<F>(p[i] / 2147483647.0);
    }
}
template <typename F> void OutI32(const F* s, void* d, int32_t n) {
    auto* p = static_cast<int32_t*>(d);
    for (int32_t i = 0; i < n; ++i) {
        p[i] = static_cast<int32_t>(RoundSat(s[i], 2147483647.0, -2147483648.0, 2147483647.0));
    }
}
template <typename F> void InI24(const void* s, F* d, int32_t n) {
    const auto* p = static_cast<const uint8_t*>(s);
    for (int32_t i = 0; i < n; ++i, p += 3) {
        int32_t v = p[0] | (p[1] << 8) | (p[2] << 16);
        v = (v ^ 0x800000) - 0x800000;
        d[i] = static_cast<F>(v / 8388607.0);
    }
}
template <typename F> void OutI24(const F* s, void* d, int32_t n) {
    auto* p = static_cast<uint8_t*>(d);
    for (int32_t i = 0; i < n; ++i, p += 3) {
        const auto v = static_cast<int32_t>(RoundSat(s[i], 8388607.0, -8388608.0, 8388607.0));
        p[0] = static_cast<uint8_t>(v);
        p[1] = static_cast<uint8_t>(v >> 8);
        p[2] = static_cast<uint8_t>(v >> 16);
    }
}
template <typename F> void ClipDigital(F* d, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        d[i] = std::clamp<F>(d[i], F(-1), F(1));
    }
}

} // namespace

bool HostInConverter(ASIOSampleType type, THostInConverter& pair) {
    switch (type) {
    case ASIOSTFloat32LSB:
        pair = {InF32<float>, InF32<double>};
        return true;
    case ASIOSTFloat64LSB:
        pair = {InF64<float>, InF64<double>};
        return true;
    case ASIOSTInt16LSB:
        pair = {InI16<float>, InI16<double>};
        return true;
    case ASIOSTInt24LSB:
        pair = {InI24<float>, InI24<double>};
        return true;
    case ASIOSTInt32LSB:
        pair = {InI32<float>, InI32<double>};
        return true;
    default:
        pair = {};
        return false;
    }
}

bool HostOutConverter(ASIOSampleType type, THostOutConverter& pair) {
    switch (type) {
    case ASIOSTFloat32LSB:
        pair = {OutF32<float>, OutF32<double>};
        return true;
    case ASIOSTFloat64LSB:
        pair = {OutF64<float>, OutF64<double>};
        return true;
    case ASIOSTInt16LSB:
        pair = {OutI16<float>, OutI16<double>};
        return true;
    case ASIOSTInt24LSB:
        pair = {OutI24<float>, OutI24<double>};
        return true;
    case ASIOSTInt32LSB:
        pair = {OutI32<float>, OutI32<double>};
        return true;
    default:
        pair = {};
        return false;
    }
}

void HostClipRoutines(bool, THostClip32& clip32, THostClip64& clip64) {
    clip32 = ClipDigital<float>;
    clip64 = ClipDigital<double>;
}

void HostSelectOptimizations(bool) {}
void HostSelectDither(int) {}

} // namespace varko
