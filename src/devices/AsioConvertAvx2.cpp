// AVX2 builds of the conversion loops; selected at run time by processor identification, so the
// rest of the program needs no -mavx2. FMA is not enabled here: a fused multiply-add would round
// differently from the plain routines.
#if defined(__x86_64__)

#include "devices/AsioConvertKernels.h"

#define VARKO_AVX2 __attribute__((target("avx2")))

namespace varko::convert_detail::avx2 {

VARKO_AVX2 void OutInt16LSB(const float* s, void* d, int32_t n) {
    OutInt<float, 2, 16, false>(s, d, n);
}
VARKO_AVX2 void OutInt16MSB(const float* s, void* d, int32_t n) {
    OutInt<float, 2, 16, true>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 32, false>(s, d, n);
}
VARKO_AVX2 void OutInt32MSB(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 32, true>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB16(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 16, false>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB18(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 18, false>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB20(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 20, false>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB24(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 24, false>(s, d, n);
}

VARKO_AVX2 void InInt16LSB(const void* s, float* d, int32_t n) {
    InInt<float, 2, 16, false>(s, d, n);
}
VARKO_AVX2 void InInt32LSB(const void* s, float* d, int32_t n) {
    InInt<float, 4, 32, false>(s, d, n);
}
VARKO_AVX2 void InInt32LSB16(const void* s, float* d, int32_t n) {
    InInt<float, 4, 16, false>(s, d, n);
}
VARKO_AVX2 void InInt32LSB18(const void* s, float* d, int32_t n) {
    InInt<float, 4, 18, false>(s, d, n);
}
VARKO_AVX2 void InInt32LSB20(const void* s, float* d, int32_t n) {
    InInt<float, 4, 20, false>(s, d, n);
}
VARKO_AVX2 void InInt32LSB24(const void* s, float* d, int32_t n) {
    InInt<float, 4, 24, false>(s, d, n);
}

VARKO_AVX2 void ClipDigital32(float* data, int32_t n) {
    ClipDigital<float>(data, n);
}
VARKO_AVX2 void ClipAnalog32(float* data, int32_t n) {
    ClipAnalog<float>(data, n);
}

} // namespace varko::convert_detail::avx2

#endif
