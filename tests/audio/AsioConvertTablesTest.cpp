// The process-wide tables and their selection, the output dither, and the vector routines
// against the plain ones.
#include "audio/AsioConvert.h"

#include "AsioConvertTestUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <thread>
#include <vector>

using namespace varko;
using namespace varko::test;

namespace {

bool Same(TInConverter a, TInConverter b) {
    return a.Float32 == b.Float32 && a.Float64 == b.Float64;
}
bool Same(TOutConverter a, TOutConverter b) {
    return a.Float32 == b.Float32 && a.Float64 == b.Float64;
}
bool Same(TClipBuffer a, TClipBuffer b) {
    return a.Float32 == b.Float32 && a.Float64 == b.Float64;
}

bool IsDitherType(ASIOSampleType type) {
    for (ASIOSampleType t : DitherTypes) {
        if (t == type) {
            return true;
        }
    }
    return false;
}

uint32_t Advance(uint32_t s, int times) {
    for (int i = 0; i < times; ++i) {
        s = s * 0x08088405u + 1u;
    }
    return s;
}

// Restores the start-up selection after each test.
class AsioConvertTables : public ::testing::Test {
protected:
    void TearDown() override {
        SetOutputDither(odNone);
        SetConvertOptimizations(coSSE | co3DNow);
    }
};

} // namespace

TEST_F(AsioConvertTables, TypesWithoutRoutinesGiveEmptyPairs) {
    for (ASIOSampleType type : {-1, 5, 6, 7, 12, 15, 21, 23, 28, 100, 0x7fffffff}) {
        EXPECT_FALSE(GetInputConverter(type)) << type;
        EXPECT_FALSE(GetOutputConverter(type)) << type;
        EXPECT_FALSE(PlainInputConverter(type)) << type;
    }
    for (ASIOSampleType type : AllTypes) {
        EXPECT_TRUE(GetInputConverter(type)) << type;
        EXPECT_TRUE(GetOutputConverter(type)) << type;
    }
    EXPECT_TRUE(GetClipDigital());
    EXPECT_TRUE(GetClipAnalog());
}

TEST_F(AsioConvertTables, StartsWithVectorRoutinesWhereTheProcessorHasThem) {
    EXPECT_NE(ProcessorClass(), 2); // 3DNow is never offered
    EXPECT_EQ(GetConvertOptimizations(), coSSE | co3DNow);
    EXPECT_EQ(GetOutputDither(), odNone);
    for (ASIOSampleType type : AllTypes) {
        const TOutConverter vector = VectorOutputConverter(type);
        EXPECT_TRUE(Same(GetOutputConverter(type), vector ? vector : PlainOutputConverter(type)));
        const TInConverter vin = VectorInputConverter(type);
        EXPECT_TRUE(Same(GetInputConverter(type), vin ? vin : PlainInputConverter(type)));
    }
    if (ProcessorClass() == 1) {
        EXPECT_TRUE(Same(GetClipDigital(), VectorClipDigital()));
        EXPECT_TRUE(VectorOutputConverter(ASIOSTInt32LSB));
    } else {
        EXPECT_FALSE(VectorOutputConverter(ASIOSTInt32LSB));
    }
}

TEST_F(AsioConvertTables, WithoutSSEInTheSetOnlyPlainRoutines) {
    SetConvertOptimizations(co3DNow);
    for (ASIOSampleType type : AllTypes) {
        EXPECT_TRUE(Same(GetOutputConverter(type), PlainOutputConverter(type))) << type;
        EXPECT_TRUE(Same(GetInputConverter(type), PlainInputConverter(type))) << type;
    }
    EXPECT_TRUE(Same(GetClipDigital(), PlainClipDigital()));
    EXPECT_TRUE(Same(GetClipAnalog(), PlainClipAnalog()));
}

TEST_F(AsioConvertTables, DitherReplacesTheSixOutputsAndDisablesVectorRoutines) {
    for (TASIOOutputDither dither : {odUDF, odTDF}) {
        SetOutputDither(dither);
        // Changing the optimizations while dithering keeps the dither.
        SetConvertOptimizations(coSSE);
        EXPECT_EQ(GetOutputDither(), dither);
        for (ASIOSampleType type : AllTypes) {
            const TOutConverter want = IsDitherType(type) ? DitherOutputConverter(type, dither)
                                                          : PlainOutputConverter(type);
            EXPECT_TRUE(Same(GetOutputConverter(type), want)) << type;
            EXPECT_TRUE(Same(GetInputConverter(type), PlainInputConverter(type))) << type;
        }
        EXPECT_TRUE(Same(GetClipDigital(), PlainClipDigital()));
    }
    EXPECT_FALSE(DitherOutputConverter(ASIOSTInt32LSB, odUDF));
    EXPECT_FALSE(DitherOutputConverter(ASIOSTInt16LSB, odNone));

    SetOutputDither(odNone);
    const TOutConverter vector = VectorOutputConverter(ASIOSTInt16LSB);
    EXPECT_TRUE(Same(GetOutputConverter(ASIOSTInt16LSB),
                     vector ? vector : PlainOutputConverter(ASIOSTInt16LSB)));
}

TEST(AsioConvertDither, SilenceStaysSilentAndTheStateAdvancesPerSample) {
    for (TASIOOutputDither dither : {odUDF, odTDF}) {
        const int advances = dither == odUDF ? 1 : 2;
        for (ASIOSampleType type : DitherTypes) {
            const IntType t = IntTypeOf(type);
            const TOutConverter c = DitherOutputConverter(type, dither);
            SetDitherState(0x80000000u); // the first advance gives the state's extreme
            const std::vector<float> zeros32(13, 0.0f);
            const std::vector<double> zeros64(13, 0.0);
            std::vector<uint8_t> buf(13 * static_cast<size_t>(t.Bytes));
            uint32_t expect = 0x80000000u;
            for (int block = 0; block < 200; ++block) {
                std::fill(buf.begin(), buf.end(), 0xAA);
                if (block % 2 == 0) {
                    c.Float32(zeros32.data(), buf.data(), 13);
                } else {
                    c.Float64(zeros64.data(), buf.data(), 13);
                }
                expect = Advance(expect, 13 * advances);
                ASSERT_EQ(GetDitherState(), expect) << type;
                for (int i = 0; i < 13; ++i) {
                    ASSERT_EQ(ReadInt(buf, t, i), 0) << type << " dither " << dither;
                }
            }
        }
    }
}

TEST(AsioConvertDither, NoiseIsAddedBeforeRoundingWithTheRightShape) {
    // A quarter step: rounds up only where the noise exceeds +0.25 of a step, which happens for
    // a quarter of rectangular and an eighth of triangular noise.
    const int n = 40000;
    const std::vector<double> src(n, 0.25 / 32767.0);
    std::vector<uint8_t> buf(static_cast<size_t>(n) * 2);
    const IntType t = IntTypeOf(ASIOSTInt16LSB);
    for (auto [dither, share] : {std::pair{odUDF, 0.25}, std::pair{odTDF, 0.125}}) {
        SetDitherState(12345);
        DitherOutputConverter(ASIOSTInt16LSB, dither).Float64(src.data(), buf.data(), n);
        int ones = 0;
        for (int i = 0; i < n; ++i) {
            const int64_t v = ReadInt(buf, t, i);
            ASSERT_TRUE(v == 0 || v == 1) << v;
            ones += static_cast<int>(v);
        }
        EXPECT_NEAR(static_cast<double>(ones) / n, share, 0.01) << dither;
    }
}

TEST(AsioConvertDither, SaturatesLikeThePlainRoutines) {
    const std::vector<double> src = {2.0,
                                     -2.0,
                                     std::numeric_limits<double>::infinity(),
                                     std::numeric_limits<double>::quiet_NaN(),
                                     1.0,
                                     -1.0};
    for (TASIOOutputDither dither : {odUDF, odTDF}) {
        for (ASIOSampleType type : DitherTypes) {
            const IntType t = IntTypeOf(type);
            std::vector<uint8_t> buf(src.size() * static_cast<size_t>(t.Bytes));
            DitherOutputConverter(type, dither).Float64(src.data(), buf.data(), 6);
            EXPECT_EQ(ReadInt(buf, t, 0), MaxOf(t)) << type;
            EXPECT_EQ(ReadInt(buf, t, 1), MinOf(t)) << type;
            EXPECT_EQ(ReadInt(buf, t, 2), MaxOf(t)) << type;
            EXPECT_EQ(ReadInt(buf, t, 3), 0) << type;
            EXPECT_GE(ReadInt(buf, t, 4), MaxOf(t) - 1) << type;
            EXPECT_LE(ReadInt(buf, t, 5), -MaxOf(t) + 1) << type;
        }
    }
}

namespace {

std::vector<float> EdgeAndRandomFloats(std::mt19937& rng, int n) {
    static const float edges[] = {0.0f,
                                  -0.0f,
                                  1.0f,
                                  -1.0f,
                                  0.5f,
                                  -0.5f,
                                  1.0001f,
                                  -1.0001f,
                                  0.5f / 32767.0f,
                                  1.5f / 32767.0f,
                                  1e-42f,
                                  3e38f,
                                  -3e38f,
                                  std::numeric_limits<float>::infinity(),
                                  -std::numeric_limits<float>::infinity(),
                                  std::numeric_limits<float>::quiet_NaN(),
                                  -std::numeric_limits<float>::quiet_NaN()};
    std::uniform_real_distribution<float> dist(-1.5f, 1.5f);
    std::uniform_int_distribution<size_t> pick(0, std::size(edges) - 1);
    std::vector<float> v(static_cast<size_t>(n));
    for (float& x : v) {
        x = (rng() % 3 == 0) ? edges[pick(rng)] : dist(rng);
    }
    return v;
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

} // namespace

// Every length from 0 to 70 covers blocks shorter than a vector and every remainder; the
// one-byte offset covers driver buffers at odd addresses.
TEST(AsioConvertVector, OutputsMatchThePlainRoutinesBitForBit) {
    if (ProcessorClass() != 1) {
        GTEST_SKIP() << "no vector routines on this processor";
    }
    std::mt19937 rng(21);
    int checked = 0;
    for (ASIOSampleType type : AllTypes) {
        const TOutConverter vector = VectorOutputConverter(type);
        if (!vector) {
            continue;
        }
        ++checked;
        const auto bytes = static_cast<size_t>(ASIOSampleBytes(type));
        EXPECT_EQ(vector.Float64, PlainOutputConverter(type).Float64);
        for (int n = 0; n <= 70; ++n) {
            for (size_t offset : {size_t{0}, size_t{1}}) {
                std::vector<float> src = EdgeAndRandomFloats(rng, n + 1);
                std::vector<uint8_t> plain(static_cast<size_t>(n + 2) * bytes + 1, 0x5A);
                std::vector<uint8_t> fast = plain;
                PlainOutputConverter(type).Float32(src.data() + offset, plain.data() + offset, n);
                vector.Float32(src.data() + offset, fast.data() + offset, n);
                ASSERT_EQ(fast, plain) << "type " << type << " length " << n;
            }
        }
    }
    EXPECT_GE(checked, 1);
}

TEST(AsioConvertVector, InputsMatchThePlainRoutinesBitForBit) {
    if (ProcessorClass() != 1) {
        GTEST_SKIP() << "no vector routines on this processor";
    }
    std::mt19937 rng(22);
    int checked = 0;
    for (ASIOSampleType type : AllTypes) {
        const TInConverter vector = VectorInputConverter(type);
        if (!vector) {
            continue;
        }
        ++checked;
        const auto bytes = static_cast<size_t>(ASIOSampleBytes(type));
        for (int n = 0; n <= 70; ++n) {
            std::vector<uint8_t> src(static_cast<size_t>(n + 1) * bytes + 1);
            for (uint8_t& b : src) {
                b = static_cast<uint8_t>(rng());
            }
            for (size_t offset : {size_t{0}, size_t{1}}) {
                std::vector<float> plain(static_cast<size_t>(n + 2), -7.0f);
                std::vector<float> fast = plain;
                PlainInputConverter(type).Float32(src.data() + offset, plain.data() + offset, n);
                vector.Float32(src.data() + offset, fast.data() + offset, n);
                ASSERT_TRUE(SameBits(fast, plain)) << "type " << type << " length " << n;
            }
        }
    }
    EXPECT_GE(checked, 1);
}

TEST(AsioConvertVector, ClipsMatchThePlainRoutinesBitForBit) {
    if (ProcessorClass() != 1) {
        GTEST_SKIP() << "no vector routines on this processor";
    }
    std::mt19937 rng(23);
    const std::pair<TClipBuffer, TClipBuffer> pairs[] = {
        {VectorClipDigital(), PlainClipDigital()},
        {VectorClipAnalog(), PlainClipAnalog()},
    };
    for (const auto& [vector, plain] : pairs) {
        ASSERT_TRUE(vector);
        EXPECT_EQ(vector.Float64, plain.Float64);
        for (int n = 0; n <= 70; ++n) {
            for (size_t offset : {size_t{0}, size_t{1}}) {
                std::vector<float> a = EdgeAndRandomFloats(rng, n + 2);
                std::vector<float> b = a;
                plain.Float32(a.data() + offset, n);
                vector.Float32(b.data() + offset, n);
                ASSERT_TRUE(SameBits(a, b)) << "length " << n;
            }
        }
    }
}

// The tables change on one thread while another converts with routines it took earlier, as
// the settings dialog and the driver's thread do.
TEST(AsioConvertThreads, SelectionWhileConvertingIsSafe) {
    const TOutConverter dithered = DitherOutputConverter(ASIOSTInt16LSB, odTDF);
    std::atomic<bool> stop{false};
    std::atomic<int> nonzero{0};
    std::thread audio([&] {
        const std::vector<float> zeros(64, 0.0f);
        std::vector<uint8_t> buf(128);
        while (!stop.load(std::memory_order_relaxed)) {
            dithered.Float32(zeros.data(), buf.data(), 64);
            for (uint8_t b : buf) {
                if (b != 0) {
                    nonzero.fetch_add(1, std::memory_order_relaxed);
                }
            }
        }
    });
    for (int i = 0; i < 200; ++i) {
        SetOutputDither(i % 3 == 0 ? odNone : (i % 3 == 1 ? odUDF : odTDF));
        SetConvertOptimizations(i % 2 == 0 ? TConvertOptimizations{coSSE} : 0u);
        EXPECT_TRUE(GetOutputConverter(ASIOSTInt24LSB));
    }
    stop.store(true);
    audio.join();
    SetOutputDither(odNone);
    SetConvertOptimizations(coSSE | co3DNow);
    EXPECT_EQ(nonzero.load(), 0);
}
