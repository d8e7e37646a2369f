// Shared helpers of the conversion tests: the handled integer types and byte-level readers.
#pragma once

#include "audio/Asio.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varko::test {

struct IntType {
    ASIOSampleType Type;
    int Bytes;
    int Bits;
    bool Big;
};

inline constexpr IntType IntTypes[] = {
    {ASIOSTInt16MSB, 2, 16, true},    {ASIOSTInt24MSB, 3, 24, true},
    {ASIOSTInt32MSB, 4, 32, true},    {ASIOSTInt32MSB16, 4, 16, true},
    {ASIOSTInt32MSB18, 4, 18, true},  {ASIOSTInt32MSB20, 4, 20, true},
    {ASIOSTInt32MSB24, 4, 24, true},  {ASIOSTInt16LSB, 2, 16, false},
    {ASIOSTInt24LSB, 3, 24, false},   {ASIOSTInt32LSB, 4, 32, false},
    {ASIOSTInt32LSB16, 4, 16, false}, {ASIOSTInt32LSB18, 4, 18, false},
    {ASIOSTInt32LSB20, 4, 20, false}, {ASIOSTInt32LSB24, 4, 24, false},
};

inline constexpr ASIOSampleType AllTypes[] = {0,  1,  2,  3,  4,  8,  9,  10, 11,
                                              16, 17, 18, 19, 20, 24, 25, 26, 27};

// Types whose outputs dither.
inline constexpr ASIOSampleType DitherTypes[] = {ASIOSTInt16LSB,   ASIOSTInt24LSB,
                                                 ASIOSTInt32LSB16, ASIOSTInt32LSB18,
                                                 ASIOSTInt32LSB20, ASIOSTInt32LSB24};

inline int64_t MaxOf(const IntType& t) {
    return (int64_t{1} << (t.Bits - 1)) - 1;
}
inline int64_t MinOf(const IntType& t) {
    return -MaxOf(t) - 1;
}

inline IntType IntTypeOf(ASIOSampleType type) {
    for (const IntType& t : IntTypes) {
        if (t.Type == type) {
            return t;
        }
    }
    return {-1, 0, 0, false};
}

// Sample i of a driver buffer as a signed value (packed 24-bit sign-extended; 16-bit
// sign-extended; 32-bit containers read whole).
inline int64_t ReadInt(const std::vector<uint8_t>& buf, const IntType& t, int i) {
    uint32_t u = 0;
    for (int b = 0; b < t.Bytes; ++b) {
        const uint8_t byte = buf[static_cast<size_t>(i * t.Bytes + b)];
        const int shift = t.Big ? 8 * (t.Bytes - 1 - b) : 8 * b;
        u |= uint32_t{byte} << shift;
    }
    const int unused = 32 - 8 * t.Bytes;
    return static_cast<int32_t>(u << unused) >> unused;
}

inline void WriteInt(std::vector<uint8_t>& buf, const IntType& t, int i, int64_t value) {
    const auto u = static_cast<uint32_t>(value);
    for (int b = 0; b < t.Bytes; ++b) {
        const int shift = t.Big ? 8 * (t.Bytes - 1 - b) : 8 * b;
        buf[static_cast<size_t>(i * t.Bytes + b)] = static_cast<uint8_t>(u >> shift);
    }
}

} // namespace varko::test
