// The per-sample loops behind every conversion and clip routine. The plain routines and the
// vector ones instantiate the same loops (the vector ones inside functions compiled for a wider
// instruction set), which is what keeps their results bit for bit alike.
// Private to the AsioConvert files.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#define VARKO_CONVERT_INLINE [[gnu::always_inline]] inline

namespace varko::convert_detail {

// Little-endian samples are stored in the host's own byte order.
static_assert(std::endian::native == std::endian::little);

// Largest value of a signed integer of `bits` bits; the smallest is -FullScale - 1.
constexpr double FullScale(int bits) {
    return static_cast<double>((uint64_t{1} << (bits - 1)) - 1);
}

// 1/32767 rounded to float: the 16-bit input scale, for both float widths.
inline constexpr float In16Scale = 1.0f / 32767.0f;

// Saturates v to lo .. hi (NaN to 0) and rounds it to nearest, ties to even, as lrint does under
// the default rounding mode. Clamping first keeps the conversion to int defined for every input.
// The steps are the same instructions, lane for lane, as the vector forms below and in
// AsioConvertAvx2.cpp, so every form gives the same integers.
VARKO_CONVERT_INLINE int32_t QuantizeScalar(double v, double lo, double hi) {
#if defined(__SSE2__)
    __m128d x = _mm_set_sd(v);
    x = _mm_and_pd(x, _mm_cmpord_sd(x, x));
    x = _mm_max_sd(x, _mm_set_sd(lo));
    x = _mm_min_sd(x, _mm_set_sd(hi));
    return _mm_cvtsd_si32(x);
#else
    v = (v == v) ? v : 0.0;
    v = v < lo ? lo : v;
    v = v > hi ? hi : v;
    return static_cast<int32_t>(std::lrint(v));
#endif
}

#if defined(__SSE2__)
VARKO_CONVERT_INLINE __m128i QuantizeSse2(__m128d x, __m128d lo, __m128d hi) {
    x = _mm_and_pd(x, _mm_cmpord_pd(x, x));
    x = _mm_max_pd(x, lo);
    x = _mm_min_pd(x, hi);
    return _mm_cvtpd_epi32(x); // two values in the low half
}
#endif

// q[i] = the rounded, saturated src[i] * scale, for n samples.
template <typename T>
VARKO_CONVERT_INLINE void QuantizeBlock(const T* src, int32_t* q, int32_t n, double scale,
                                        double lo, double hi) {
    int32_t i = 0;
#if defined(__SSE2__)
    const __m128d vs = _mm_set1_pd(scale);
    const __m128d vlo = _mm_set1_pd(lo);
    const __m128d vhi = _mm_set1_pd(hi);
    for (; i + 4 <= n; i += 4) {
        __m128d a;
        __m128d b;
        if constexpr (std::is_same_v<T, float>) {
            const __m128 f = _mm_loadu_ps(src + i);
            a = _mm_cvtps_pd(f);
            b = _mm_cvtps_pd(_mm_movehl_ps(f, f));
        } else {
            a = _mm_loadu_pd(src + i);
            b = _mm_loadu_pd(src + i + 2);
        }
        const __m128i qa = QuantizeSse2(_mm_mul_pd(a, vs), vlo, vhi);
        const __m128i qb = QuantizeSse2(_mm_mul_pd(b, vs), vlo, vhi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + i), _mm_unpacklo_epi64(qa, qb));
    }
#endif
    for (; i < n; ++i) {
        q[i] = QuantizeScalar(static_cast<double>(src[i]) * scale, lo, hi);
    }
}

template <int Bytes, bool Big> VARKO_CONVERT_INLINE void StoreInt(unsigned char* p, int32_t value) {
    const auto u = static_cast<uint32_t>(value);
    if constexpr (Bytes == 2) {
        auto h = static_cast<uint16_t>(u);
        if constexpr (Big) {
            h = __builtin_bswap16(h);
        }
        std::memcpy(p, &h, 2);
    } else if constexpr (Bytes == 3) {
        const auto b0 = static_cast<unsigned char>(u);
        const auto b1 = static_cast<unsigned char>(u >> 8);
        const auto b2 = static_cast<unsigned char>(u >> 16);
        p[0] = Big ? b2 : b0;
        p[1] = b1;
        p[2] = Big ? b0 : b2;
    } else {
        const uint32_t w = Big ? __builtin_bswap32(u) : u;
        std::memcpy(p, &w, 4);
    }
}

template <int Bytes, bool Big> VARKO_CONVERT_INLINE int32_t LoadInt(const unsigned char* p) {
    if constexpr (Bytes == 2) {
        uint16_t h;
        std::memcpy(&h, p, 2);
        if constexpr (Big) {
            h = __builtin_bswap16(h);
        }
        return static_cast<int16_t>(h);
    } else if constexpr (Bytes == 3) {
        const uint32_t hi = Big ? p[0] : p[2];
        const uint32_t lo = Big ? p[2] : p[0];
        const uint32_t u = (hi << 24) | (uint32_t{p[1]} << 16) | (lo << 8);
        return static_cast<int32_t>(u) >> 8; // sign-extends the 24-bit value
    } else {
        uint32_t w;
        std::memcpy(&w, p, 4);
        if constexpr (Big) {
            w = __builtin_bswap32(w);
        }
        return static_cast<int32_t>(w);
    }
}

template <int Bytes, bool Big>
VARKO_CONVERT_INLINE void StoreInts(const int32_t* q, unsigned char* p, int32_t n) {
    int32_t i = 0;
    if constexpr (Bytes == 3) {
        // Four samples as three 32-bit words instead of twelve byte stores.
        auto bytes24 = [](int32_t v) {
            const auto u = static_cast<uint32_t>(v);
            return Big ? (__builtin_bswap32(u) >> 8) : (u & 0xFFFFFFu);
        };
        for (; i + 4 <= n; i += 4) {
            const uint32_t s0 = bytes24(q[i]);
            const uint32_t s1 = bytes24(q[i + 1]);
            const uint32_t s2 = bytes24(q[i + 2]);
            const uint32_t s3 = bytes24(q[i + 3]);
            const uint32_t w0 = s0 | (s1 << 24);
            const uint32_t w1 = (s1 >> 8) | (s2 << 16);
            const uint32_t w2 = (s2 >> 16) | (s3 << 8);
            unsigned char* out = p + static_cast<intptr_t>(i) * 3;
            std::memcpy(out, &w0, 4);
            std::memcpy(out + 4, &w1, 4);
            std::memcpy(out + 8, &w2, 4);
        }
    }
#if defined(__SSE2__)
    if constexpr (Bytes == 2) {
        for (; i + 8 <= n; i += 8) {
            const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i));
            const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i + 4));
            __m128i h = _mm_packs_epi32(lo, hi); // values already fit 16 bits
            if constexpr (Big) {
                h = _mm_or_si128(_mm_slli_epi16(h, 8), _mm_srli_epi16(h, 8));
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + static_cast<intptr_t>(i) * 2), h);
        }
    } else if constexpr (Bytes == 4 && Big) {
        for (; i + 4 <= n; i += 4) {
            __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + i));
            w = _mm_or_si128(_mm_slli_epi16(w, 8), _mm_srli_epi16(w, 8));
            w = _mm_shufflehi_epi16(_mm_shufflelo_epi16(w, 0xB1), 0xB1);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p + static_cast<intptr_t>(i) * 4), w);
        }
    }
#endif
    for (; i < n; ++i) {
        StoreInt<Bytes, Big>(p + static_cast<intptr_t>(i) * Bytes, q[i]);
    }
}

// Quantizes a chunk onto the stack and then stores it, so that both loops vectorise.
inline constexpr int32_t Chunk = 256;

// Float arrays -> integer samples of `Bytes` bytes holding a `Bits`-bit value. `Block` is the
// block quantizer: QuantizeBlock<T> or a vector form of it.
template <typename T, int Bytes, int Bits, bool Big, auto Block = &QuantizeBlock<T>>
VARKO_CONVERT_INLINE void OutInt(const T* src, void* dst, int32_t count) {
    auto* p = static_cast<unsigned char*>(dst);
    if constexpr (Bytes == 4 && !Big) {
        // Little-endian 32-bit samples are the quantizer's own output: no second pass.
        if (reinterpret_cast<uintptr_t>(dst) % alignof(int32_t) == 0) {
            Block(src, static_cast<int32_t*>(dst), count, FullScale(Bits), -FullScale(Bits) - 1.0,
                  FullScale(Bits));
            return;
        }
    }
    alignas(32) int32_t q[Chunk];
    for (int32_t done = 0; done < count; done += Chunk) {
        const int32_t n = count - done < Chunk ? count - done : Chunk;
        Block(src + done, q, n, FullScale(Bits), -FullScale(Bits) - 1.0, FullScale(Bits));
        StoreInts<Bytes, Big>(q, p + static_cast<intptr_t>(done) * Bytes, n);
    }
}

inline constexpr uint32_t DitherMultiplier = 0x08088405u;

// As OutInt with dither added after scaling: Kind 1 rectangular, 2 triangular. The state is the
// caller's copy of the shared dither state.
template <typename T, int Bytes, int Bits, int Kind>
VARKO_CONVERT_INLINE void OutIntDither(const T* src, void* dst, int32_t count, uint32_t& state) {
    constexpr double RectScale = 1.0 / 4294967296.0; // 2^-32
    constexpr double TriScale = 1.0 / 8589934592.0;  // 2^-33
    auto* p = static_cast<unsigned char*>(dst);
    uint32_t s = state;
    for (int32_t i = 0; i < count; ++i) {
        double v = static_cast<double>(src[i]) * FullScale(Bits);
        s = s * DitherMultiplier + 1u;
        if constexpr (Kind == 1) {
            v += static_cast<double>(static_cast<int32_t>(s)) * RectScale;
        } else {
            const auto s1 = static_cast<double>(static_cast<int32_t>(s));
            s = s * DitherMultiplier + 1u;
            v += (s1 + static_cast<double>(static_cast<int32_t>(s))) * TriScale;
        }
        StoreInt<Bytes, false>(p + static_cast<intptr_t>(i) * Bytes,
                               QuantizeScalar(v, -FullScale(Bits) - 1.0, FullScale(Bits)));
    }
    state = s;
}

// Integer samples -> float arrays.
template <typename T, int Bytes, int Bits, bool Big>
VARKO_CONVERT_INLINE void InInt(const void* src, T* dst, int32_t count) {
    const auto* p = static_cast<const unsigned char*>(src);
    for (int32_t i = 0; i < count; ++i) {
        const int32_t v = LoadInt<Bytes, Big>(p + static_cast<intptr_t>(i) * Bytes);
        if constexpr (Bits == 16) {
            dst[i] = static_cast<T>(v) * static_cast<T>(In16Scale);
        } else if constexpr (Bytes == 3 && !Big && std::is_same_v<T, float>) {
            // Little-endian packed 24-bit into floats is read as the top of a 32-bit value.
            dst[i] = static_cast<float>(static_cast<double>(v * 256) * (1.0 / 2147483647.0));
        } else {
            dst[i] = static_cast<T>(static_cast<double>(v) * (1.0 / FullScale(Bits)));
        }
    }
}

template <typename D> using SameSizeUint = std::conditional_t<sizeof(D) == 4, uint32_t, uint64_t>;

template <typename U> VARKO_CONVERT_INLINE U ByteSwap(U u) {
    if constexpr (sizeof(U) == 4) {
        return __builtin_bswap32(u);
    } else {
        return __builtin_bswap64(u);
    }
}

// Float arrays <-> float samples of type D (copied, widened or narrowed to nearest).
template <typename T, typename D, bool Big>
VARKO_CONVERT_INLINE void OutFloat(const T* src, void* dst, int32_t count) {
    using U = SameSizeUint<D>;
    auto* p = static_cast<unsigned char*>(dst);
    for (int32_t i = 0; i < count; ++i) {
        U u = std::bit_cast<U>(static_cast<D>(src[i]));
        if constexpr (Big) {
            u = ByteSwap(u);
        }
        std::memcpy(p + static_cast<intptr_t>(i) * sizeof(D), &u, sizeof(D));
    }
}

template <typename T, typename D, bool Big>
VARKO_CONVERT_INLINE void InFloat(const void* src, T* dst, int32_t count) {
    using U = SameSizeUint<D>;
    const auto* p = static_cast<const unsigned char*>(src);
    for (int32_t i = 0; i < count; ++i) {
        U u;
        std::memcpy(&u, p + static_cast<intptr_t>(i) * sizeof(D), sizeof(D));
        if constexpr (Big) {
            u = ByteSwap(u);
        }
        dst[i] = static_cast<T>(std::bit_cast<D>(u));
    }
}

// Magnitudes above 1.0 become 1.0 with the sample's sign. Compared on the bit pattern with the
// sign cleared, so infinities and NaN count as above.
template <typename T> VARKO_CONVERT_INLINE void ClipDigital(T* data, int32_t count) {
    using U = SameSizeUint<T>;
    using S = std::make_signed_t<U>;
    constexpr U Sign = U{1} << (sizeof(U) * 8 - 1);
    constexpr U One = std::bit_cast<U>(T(1));
    for (int32_t i = 0; i < count; ++i) {
        const U u = std::bit_cast<U>(data[i]);
        const U magnitude = u & ~Sign;
        const U clipped = (u & Sign) | One;
        data[i] = std::bit_cast<T>(static_cast<S>(magnitude) > static_cast<S>(One) ? clipped : u);
    }
}

// y = 2x(3 + |x|) / (6 + |x|(3 + |x|)): about x near 0, 0.8 at 1, towards +-2 beyond. Inputs are
// held to +-1e9 first (where y is already +-2 to the last bit) so that nothing overflows to
// inf / inf; NaN becomes 0.
template <typename T> VARKO_CONVERT_INLINE void ClipAnalog(T* data, int32_t count) {
    constexpr T Limit = T(1e9);
    for (int32_t i = 0; i < count; ++i) {
        T x = data[i];
        x = (x == x) ? x : T(0);
        x = x < -Limit ? -Limit : x;
        x = x > Limit ? Limit : x;
        const T a = x < T(0) ? -x : x;
        data[i] = T(2) * x * (T(3) + a) / (T(6) + a * (T(3) + a));
    }
}

#if defined(__x86_64__)
// AVX2 builds of the loops above for 32-bit float arrays (AsioConvertAvx2.cpp). Call only when
// the processor reports AVX2.
namespace avx2 {
void OutInt16LSB(const float* src, void* dst, int32_t count);
void OutInt16MSB(const float* src, void* dst, int32_t count);
void OutInt32LSB(const float* src, void* dst, int32_t count);
void OutInt32MSB(const float* src, void* dst, int32_t count);
void OutInt32LSB16(const float* src, void* dst, int32_t count);
void OutInt32LSB18(const float* src, void* dst, int32_t count);
void OutInt32LSB20(const float* src, void* dst, int32_t count);
void OutInt32LSB24(const float* src, void* dst, int32_t count);
void InInt16LSB(const void* src, float* dst, int32_t count);
void InInt32LSB(const void* src, float* dst, int32_t count);
void InInt32LSB16(const void* src, float* dst, int32_t count);
void InInt32LSB18(const void* src, float* dst, int32_t count);
void InInt32LSB20(const void* src, float* dst, int32_t count);
void InInt32LSB24(const void* src, float* dst, int32_t count);
void ClipDigital32(float* data, int32_t count);
void ClipAnalog32(float* data, int32_t count);
} // namespace avx2
#endif

} // namespace varko::convert_detail
