// The plain conversion and clip routines: known values, rounding, saturation, byte order and
// round trips for every sample type.
#include "audio/AsioConvert.h"

#include "AsioConvertTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

using namespace varko;
using namespace varko::test;

namespace {

constexpr float InfF = std::numeric_limits<float>::infinity();
constexpr double Inf = std::numeric_limits<double>::infinity();
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

template <typename T> std::vector<uint8_t> Out(ASIOSampleType type, const std::vector<T>& src) {
    std::vector<uint8_t> buf(src.size() * static_cast<size_t>(ASIOSampleBytes(type)), 0xAA);
    const TOutConverter c = PlainOutputConverter(type);
    if constexpr (std::is_same_v<T, float>) {
        c.Float32(src.data(), buf.data(), static_cast<int32_t>(src.size()));
    } else {
        c.Float64(src.data(), buf.data(), static_cast<int32_t>(src.size()));
    }
    return buf;
}

template <typename T> std::vector<T> In(ASIOSampleType type, const std::vector<uint8_t>& buf) {
    const size_t bytes = std::max(1, ASIOSampleBytes(type));
    std::vector<T> dst(buf.size() / bytes, T(-99));
    const TInConverter c = PlainInputConverter(type);
    if constexpr (std::is_same_v<T, float>) {
        c.Float32(buf.data(), dst.data(), static_cast<int32_t>(dst.size()));
    } else {
        c.Float64(buf.data(), dst.data(), static_cast<int32_t>(dst.size()));
    }
    return dst;
}

std::vector<int64_t> OutInts(const IntType& t, const std::vector<double>& src) {
    const std::vector<uint8_t> buf = Out(t.Type, src);
    std::vector<int64_t> values;
    values.reserve(src.size());
    for (int i = 0; i < static_cast<int>(src.size()); ++i) {
        values.push_back(ReadInt(buf, t, i));
    }
    return values;
}

} // namespace

TEST(AsioConvertKnownValues, OutputsOfTheStatedExamples) {
    // 16383.5 rounds to the even neighbour.
    EXPECT_EQ(Out<float>(ASIOSTInt16LSB, {0.5f}), (std::vector<uint8_t>{0x00, 0x40}));
    EXPECT_EQ(Out<double>(ASIOSTInt16LSB, {0.5}), (std::vector<uint8_t>{0x00, 0x40}));
    EXPECT_EQ(Out<float>(ASIOSTInt24LSB, {-1.0f}), (std::vector<uint8_t>{0x01, 0x00, 0x80}));
    EXPECT_EQ(Out<double>(ASIOSTInt24LSB, {-1.0}), (std::vector<uint8_t>{0x01, 0x00, 0x80}));
    EXPECT_EQ(Out<float>(ASIOSTInt32LSB, {0.25f}), (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x20}));
    EXPECT_EQ(Out<double>(ASIOSTInt32MSB, {0.25}), (std::vector<uint8_t>{0x20, 0x00, 0x00, 0x00}));
}

TEST(AsioConvertKnownValues, InputsOfTheStatedExamples) {
    EXPECT_EQ(In<float>(ASIOSTInt16LSB, {0x00, 0x80})[0], -1.000030517578125f);
    EXPECT_EQ(In<double>(ASIOSTInt16LSB, {0x00, 0x80})[0], -1.000030517578125);
    EXPECT_EQ(In<double>(ASIOSTInt16MSB, {0x80, 0x00})[0], -1.000030517578125);

    // Little-endian packed 24-bit into floats is read as the top of a 32-bit value.
    EXPECT_FLOAT_EQ(In<float>(ASIOSTInt24LSB, {0xFF, 0xFF, 0xFF})[0], -256.0 / 2147483647.0);
    EXPECT_DOUBLE_EQ(In<double>(ASIOSTInt24LSB, {0xFF, 0xFF, 0xFF})[0], -1.0 / 8388607.0);
    EXPECT_EQ(In<double>(ASIOSTInt24LSB, {0xFF, 0xFF, 0x7F})[0], 1.0);
    EXPECT_DOUBLE_EQ(In<double>(ASIOSTInt24MSB, {0x80, 0x00, 0x00})[0], -8388608.0 / 8388607.0);
    EXPECT_FLOAT_EQ(In<float>(ASIOSTInt24MSB, {0x80, 0x00, 0x00})[0], -8388608.0 / 8388607.0);

    EXPECT_DOUBLE_EQ(In<double>(ASIOSTInt32LSB18, {0xFF, 0xFF, 0x01, 0x00})[0], 1.0);
    EXPECT_DOUBLE_EQ(In<double>(ASIOSTInt32MSB20, {0xFF, 0xF8, 0x00, 0x00})[0],
                     -524288.0 / 524287.0);
}

TEST(AsioConvertRounding, HalfwayValuesGoToTheEvenNeighbour) {
    // Full scales are odd, so +-0.5 lands exactly halfway between two integers.
    for (const IntType& t : IntTypes) {
        const int64_t half = (MaxOf(t) + 1) / 2; // even
        EXPECT_EQ(OutInts(t, {0.5, -0.5}), (std::vector<int64_t>{half, -half})) << t.Type;
    }
}

TEST(AsioConvertRounding, MatchesNearbyintOnRandomValues) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> src(4000);
    for (float& x : src) {
        x = dist(rng);
    }
    for (const IntType& t : IntTypes) {
        const std::vector<uint8_t> buf = Out(t.Type, src);
        const double scale = static_cast<double>(MaxOf(t));
        for (int i = 0; i < static_cast<int>(src.size()); ++i) {
            const auto want = static_cast<int64_t>(std::nearbyint(double(src[i]) * scale));
            ASSERT_EQ(ReadInt(buf, t, i), want) << t.Type << " x=" << src[i];
        }
    }
}

TEST(AsioConvertSaturation, OutOfRangeInfAndNaNOnEveryIntegerType) {
    const std::vector<double> src = {2.0, -2.0, Inf, -Inf, NaN, -NaN, 1e300, -1e300, 1.0, -1.0};
    for (const IntType& t : IntTypes) {
        const int64_t hi = MaxOf(t);
        const int64_t lo = MinOf(t);
        const std::vector<int64_t> want = {hi, lo, hi, lo, 0, 0, hi, lo, hi, -hi};
        EXPECT_EQ(OutInts(t, src), want) << t.Type;

        std::vector<float> src32(src.begin(), src.end());
        const std::vector<uint8_t> buf = Out(t.Type, src32);
        for (int i = 0; i < static_cast<int>(src.size()); ++i) {
            EXPECT_EQ(ReadInt(buf, t, i), want[static_cast<size_t>(i)]) << t.Type << " " << i;
        }
    }
}

TEST(AsioConvertSaturation, ContainerTypesStayWithinTheirWidth) {
    // One step beyond full scale must not spill into the container's unused bits.
    const IntType t18 = IntTypeOf(ASIOSTInt32LSB18);
    EXPECT_EQ(OutInts(t18, {-1.0 - 1.0 / 131071.0, -1.0 - 2.0 / 131071.0, 1.0 + 1.0 / 131071.0}),
              (std::vector<int64_t>{-131072, -131072, 131071}));
    const IntType t24 = IntTypeOf(ASIOSTInt24MSB);
    EXPECT_EQ(Out<float>(ASIOSTInt24MSB, {-InfF, 3.0f}),
              (std::vector<uint8_t>{0x80, 0x00, 0x00, 0x7F, 0xFF, 0xFF}));
    EXPECT_EQ(OutInts(t24, {-1.0}), (std::vector<int64_t>{-8388607}));
}

TEST(AsioConvertByteOrder, BigEndianTypesAreTheLittleEndianBytesReversed) {
    const std::pair<ASIOSampleType, ASIOSampleType> pairs[] = {
        {ASIOSTInt16MSB, ASIOSTInt16LSB},     {ASIOSTInt24MSB, ASIOSTInt24LSB},
        {ASIOSTInt32MSB, ASIOSTInt32LSB},     {ASIOSTFloat32MSB, ASIOSTFloat32LSB},
        {ASIOSTFloat64MSB, ASIOSTFloat64LSB}, {ASIOSTInt32MSB16, ASIOSTInt32LSB16},
        {ASIOSTInt32MSB18, ASIOSTInt32LSB18}, {ASIOSTInt32MSB20, ASIOSTInt32LSB20},
        {ASIOSTInt32MSB24, ASIOSTInt32LSB24},
    };
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> dist(-1.2, 1.2);
    std::vector<double> src(37);
    for (double& x : src) {
        x = dist(rng);
    }
    const std::vector<float> src32(src.begin(), src.end());
    for (const auto& [msb, lsb] : pairs) {
        const auto n = static_cast<size_t>(ASIOSampleBytes(msb));
        auto reversed = [n](std::vector<uint8_t> b) {
            for (size_t i = 0; i < b.size(); i += n) {
                std::reverse(b.begin() + static_cast<ptrdiff_t>(i),
                             b.begin() + static_cast<ptrdiff_t>(i + n));
            }
            return b;
        };
        EXPECT_EQ(Out(msb, src), reversed(Out(lsb, src))) << msb;
        EXPECT_EQ(Out(msb, src32), reversed(Out(lsb, src32))) << msb;

        const std::vector<uint8_t> bytes = Out(lsb, src);
        EXPECT_EQ(In<double>(msb, reversed(bytes)), In<double>(lsb, bytes)) << msb;
        if (msb != ASIOSTInt24MSB) { // packed LSB into floats is scaled differently
            EXPECT_EQ(In<float>(msb, reversed(bytes)), In<float>(lsb, bytes)) << msb;
        }
    }
}

TEST(AsioConvertRoundTrip, IntegerCodesSurviveInAndOut) {
    std::mt19937 rng(11);
    for (const IntType& t : IntTypes) {
        std::uniform_int_distribution<int64_t> dist(MinOf(t), MaxOf(t));
        std::vector<int64_t> codes = {MinOf(t), MaxOf(t), 0, 1, -1, MinOf(t) + 1, MaxOf(t) - 1};
        while (codes.size() < 500) {
            codes.push_back(dist(rng));
        }
        std::vector<uint8_t> buf(codes.size() * static_cast<size_t>(t.Bytes));
        for (int i = 0; i < static_cast<int>(codes.size()); ++i) {
            WriteInt(buf, t, i, codes[static_cast<size_t>(i)]);
        }
        EXPECT_EQ(Out(t.Type, In<double>(t.Type, buf)), buf) << t.Type;

        // A float holds 24 bits: the 32-bit types come back within 2^7, and packed little-endian
        // 24-bit (read at 2^31 scale) within one step.
        const int64_t tolerance = t.Bits == 32 ? 128 : (t.Type == ASIOSTInt24LSB ? 1 : 0);
        const std::vector<uint8_t> back = Out(t.Type, In<float>(t.Type, buf));
        for (int i = 0; i < static_cast<int>(codes.size()); ++i) {
            ASSERT_LE(std::abs(ReadInt(back, t, i) - codes[static_cast<size_t>(i)]), tolerance)
                << t.Type << " code " << codes[static_cast<size_t>(i)];
        }
    }
}

TEST(AsioConvertRoundTrip, FloatTypesCopyWidenAndNarrow) {
    const std::vector<double> src = {0.0, -0.0, 1.0, -1.0, 0.1, 1e-40, 3.5e38, Inf, -Inf, 1e300};
    const std::vector<float> src32(src.begin(), src.end());
    for (ASIOSampleType type : {ASIOSTFloat32LSB, ASIOSTFloat32MSB}) {
        EXPECT_EQ(In<float>(type, Out(type, src32)), src32);
        // 64-bit sources are narrowed to nearest, overflowing to infinity.
        EXPECT_EQ(In<float>(type, Out(type, src)), src32);
    }
    for (ASIOSampleType type : {ASIOSTFloat64LSB, ASIOSTFloat64MSB}) {
        EXPECT_EQ(In<double>(type, Out(type, src)), src);
        EXPECT_EQ(In<float>(type, Out(type, src)), src32);
        const std::vector<double> widened(src32.begin(), src32.end());
        EXPECT_EQ(In<double>(type, Out(type, src32)), widened);
    }
    const std::vector<uint8_t> nan = Out<double>(ASIOSTFloat32LSB, {NaN});
    EXPECT_TRUE(std::isnan(In<float>(ASIOSTFloat32LSB, nan)[0]));
}

TEST(AsioConvertBlocks, OnlyCountSamplesAreWrittenAndZeroWritesNothing) {
    for (ASIOSampleType type : AllTypes) {
        const auto bytes = static_cast<size_t>(ASIOSampleBytes(type));
        std::vector<float> src(13, 0.25f);
        std::vector<uint8_t> buf(16 * bytes, 0xAA);
        PlainOutputConverter(type).Float32(src.data(), buf.data(), 13);
        EXPECT_TRUE(std::all_of(buf.begin() + static_cast<ptrdiff_t>(13 * bytes), buf.end(),
                                [](uint8_t b) { return b == 0xAA; }))
            << type;
        EXPECT_FALSE(std::all_of(buf.begin(), buf.begin() + static_cast<ptrdiff_t>(13 * bytes),
                                 [](uint8_t b) { return b == 0xAA; }));
        std::vector<double> dst(16, 5.0);
        PlainInputConverter(type).Float64(buf.data(), dst.data(), 13);
        EXPECT_NE(dst[12], 5.0) << type;
        EXPECT_EQ(dst[13], 5.0) << type;
        PlainInputConverter(type).Float64(buf.data(), dst.data() + 14, 0);
        EXPECT_EQ(dst[14], 5.0) << type;
    }
}

TEST(AsioConvertClip, DigitalLimitsToFullScaleKeepingTheSign) {
    std::vector<float> f = {1.5f, -3.0f, 0.99f, 1.0f, -1.0f, InfF, -InfF, 1e-30f};
    f.push_back(std::numeric_limits<float>::quiet_NaN());
    f.push_back(-std::numeric_limits<float>::quiet_NaN());
    PlainClipDigital().Float32(f.data(), static_cast<int32_t>(f.size()));
    EXPECT_EQ(
        f, (std::vector<float>{1.0f, -1.0f, 0.99f, 1.0f, -1.0f, 1.0f, -1.0f, 1e-30f, 1.0f, -1.0f}));

    std::vector<double> d = {1.5, -3.0, 0.99, 0.3, 1e-30, Inf, -Inf, NaN, -NaN, -1.0};
    PlainClipDigital().Float64(d.data(), static_cast<int32_t>(d.size()));
    // In-range values come back unchanged, to the last bit.
    EXPECT_EQ(d, (std::vector<double>{1.0, -1.0, 0.99, 0.3, 1e-30, 1.0, -1.0, 1.0, -1.0, -1.0}));
}

TEST(AsioConvertClip, AnalogCurveStaysBelowTwoForEveryInput) {
    std::vector<float> f = {1.0f, 2.0f, -2.0f, 0.0f};
    PlainClipAnalog().Float32(f.data(), 4);
    EXPECT_FLOAT_EQ(f[0], 0.8f);
    EXPECT_FLOAT_EQ(f[1], 1.25f);
    EXPECT_FLOAT_EQ(f[2], -1.25f);
    EXPECT_EQ(f[3], 0.0f);

    std::vector<double> d = {1.0, 2.0, 1e-3, Inf, -Inf, NaN, 1e300, -1e20};
    PlainClipAnalog().Float64(d.data(), static_cast<int32_t>(d.size()));
    EXPECT_DOUBLE_EQ(d[0], 0.8);
    EXPECT_DOUBLE_EQ(d[1], 1.25);
    EXPECT_NEAR(d[2], 1e-3, 1e-6); // about x - x^2/6 near 0
    EXPECT_EQ(d[3], 2.0);
    EXPECT_EQ(d[4], -2.0);
    EXPECT_EQ(d[5], 0.0);
    EXPECT_EQ(d[6], 2.0);
    EXPECT_EQ(d[7], -2.0);

    // Rising all the way (up to float rounding), never past 2.
    std::vector<float> sweep;
    for (int i = 290; i >= -70; --i) { // -1e12 .. -1e-3
        sweep.push_back(-std::pow(1.1f, static_cast<float>(i)));
    }
    for (int i = -70; i <= 290; ++i) {
        sweep.push_back(std::pow(1.1f, static_cast<float>(i)));
    }
    std::vector<float> y = sweep;
    PlainClipAnalog().Float32(y.data(), static_cast<int32_t>(y.size()));
    for (size_t i = 1; i < y.size(); ++i) {
        ASSERT_GE(y[i], y[i - 1] - 1e-6f) << sweep[i]; // up to float rounding
        ASSERT_LE(std::abs(y[i]), 2.0f) << sweep[i];
    }
}
