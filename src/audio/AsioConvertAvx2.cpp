// AVX2 builds of the conversion loops; selected at run time by processor identification, so the
// rest of the program needs no -mavx2. FMA is not enabled here: a fused multiply-add would round
// differently from the plain routines.
#if defined(__x86_64__)

#include "audio/AsioConvertKernels.h"

#include <immintrin.h>

#define VARKO_AVX2 __attribute__((target("avx2")))

namespace varko::convert_detail::avx2 {

namespace {

// QuantizeBlock for floats, eight samples per step; the same steps as QuantizeSse2.
VARKO_AVX2 __m128i Quantize4(__m256d x, __m256d lo, __m256d hi) {
    x = _mm256_and_pd(x, _mm256_cmp_pd(x, x, _CMP_ORD_Q));
    x = _mm256_max_pd(x, lo);
    x = _mm256_min_pd(x, hi);
    return _mm256_cvtpd_epi32(x);
}

VARKO_AVX2 void QuantizeBlockAvx2(const float* src, int32_t* q, int32_t n, double scale, double lo,
                                  double hi) {
    const __m256d vs = _mm256_set1_pd(scale);
    const __m256d vlo = _mm256_set1_pd(lo);
    const __m256d vhi = _mm256_set1_pd(hi);
    int32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 f = _mm256_loadu_ps(src + i);
        const __m256d a = _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(f)), vs);
        const __m256d b = _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(f, 1)), vs);
        const __m256i both = _mm256_set_m128i(Quantize4(b, vlo, vhi), Quantize4(a, vlo, vhi));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + i), both);
    }
    for (; i < n; ++i) {
        q[i] = QuantizeScalar(static_cast<double>(src[i]) * scale, lo, hi);
    }
}

constexpr auto Block = &QuantizeBlockAvx2;

} // namespace

VARKO_AVX2 void OutInt16LSB(const float* s, void* d, int32_t n) {
    OutInt<float, 2, 16, false, Block>(s, d, n);
}
VARKO_AVX2 void OutInt16MSB(const float* s, void* d, int32_t n) {
    OutInt<float, 2, 16, true, Block>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 32, false, Block>(s, d, n);
}
VARKO_AVX2 void OutInt32MSB(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 32, true, Block>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB16(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 16, false, Block>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB18(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 18, false, Block>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB20(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 20, false, Block>(s, d, n);
}
VARKO_AVX2 void OutInt32LSB24(const float* s, void* d, int32_t n) {
    OutInt<float, 4, 24, false, Block>(s, d, n);
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
