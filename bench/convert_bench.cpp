// Conversion speed in samples per second (items_per_second), for one channel's block of
// kBlock samples held in the cache, as during a buffer switch. Each sample type's routines run
// beside "memcpy/<bytes>", a copy of the same number of bytes the routine writes or reads.
#include "audio/AsioConvert.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace varko;

namespace {

constexpr int Block = 1024;

struct TypeName {
    ASIOSampleType Type;
    const char* Name;
};
constexpr TypeName Types[] = {
    {ASIOSTInt16MSB, "Int16MSB"},     {ASIOSTInt24MSB, "Int24MSB"},
    {ASIOSTInt32MSB, "Int32MSB"},     {ASIOSTFloat32MSB, "Float32MSB"},
    {ASIOSTFloat64MSB, "Float64MSB"}, {ASIOSTInt32MSB16, "Int32MSB16"},
    {ASIOSTInt32MSB18, "Int32MSB18"}, {ASIOSTInt32MSB20, "Int32MSB20"},
    {ASIOSTInt32MSB24, "Int32MSB24"}, {ASIOSTInt16LSB, "Int16LSB"},
    {ASIOSTInt24LSB, "Int24LSB"},     {ASIOSTInt32LSB, "Int32LSB"},
    {ASIOSTFloat32LSB, "Float32LSB"}, {ASIOSTFloat64LSB, "Float64LSB"},
    {ASIOSTInt32LSB16, "Int32LSB16"}, {ASIOSTInt32LSB18, "Int32LSB18"},
    {ASIOSTInt32LSB20, "Int32LSB20"}, {ASIOSTInt32LSB24, "Int32LSB24"},
};

std::vector<float> Floats() {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> v(Block);
    for (float& x : v) {
        x = dist(rng);
    }
    return v;
}

void Memcpy(benchmark::State& state, size_t bytes) {
    std::vector<uint8_t> src(Block * bytes, 1);
    std::vector<uint8_t> dst(Block * bytes);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        std::memcpy(dst.data(), src.data(), dst.size());
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Block);
}

template <typename T>
void Out(benchmark::State& state, void (*routine)(const T*, void*, int32_t), size_t bytes) {
    const std::vector<float> f = Floats();
    const std::vector<T> src(f.begin(), f.end());
    std::vector<uint8_t> dst(Block * bytes);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        routine(src.data(), dst.data(), Block);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Block);
}

template <typename T>
void In(benchmark::State& state, void (*routine)(const void*, T*, int32_t), ASIOSampleType type) {
    const std::vector<float> f = Floats();
    std::vector<uint8_t> src(Block * static_cast<size_t>(ASIOSampleBytes(type)));
    PlainOutputConverter(type).Float32(f.data(), src.data(), Block);
    std::vector<T> dst(Block);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        routine(src.data(), dst.data(), Block);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Block);
}

void Clip(benchmark::State& state, void (*routine)(float*, int32_t)) {
    std::vector<float> data = Floats();
    for (float& x : data) {
        x *= 1.5f;
    }
    std::vector<float> work(Block);
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        std::memcpy(work.data(), data.data(), sizeof(float) * Block);
        routine(work.data(), Block);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * Block);
}

int Register() {
    for (size_t bytes : {2, 3, 4, 8}) {
        benchmark::RegisterBenchmark(("memcpy/" + std::to_string(bytes)).c_str(), Memcpy, bytes);
    }
    for (const TypeName& t : Types) {
        const auto bytes = static_cast<size_t>(ASIOSampleBytes(t.Type));
        const std::string name = t.Name;
        const TOutConverter out = PlainOutputConverter(t.Type);
        const TInConverter in = PlainInputConverter(t.Type);
        benchmark::RegisterBenchmark(("out32/" + name + "/plain").c_str(), Out<float>, out.Float32,
                                     bytes);
        if (const TOutConverter v = VectorOutputConverter(t.Type)) {
            benchmark::RegisterBenchmark(("out32/" + name + "/avx2").c_str(), Out<float>, v.Float32,
                                         bytes);
        }
        for (TASIOOutputDither d : {odUDF, odTDF}) {
            if (const TOutConverter dc = DitherOutputConverter(t.Type, d)) {
                benchmark::RegisterBenchmark(
                    ("out32/" + name + (d == odUDF ? "/udf" : "/tdf")).c_str(), Out<float>,
                    dc.Float32, bytes);
            }
        }
        benchmark::RegisterBenchmark(("out64/" + name + "/plain").c_str(), Out<double>, out.Float64,
                                     bytes);
        benchmark::RegisterBenchmark(("in32/" + name + "/plain").c_str(), In<float>, in.Float32,
                                     t.Type);
        if (const TInConverter v = VectorInputConverter(t.Type)) {
            benchmark::RegisterBenchmark(("in32/" + name + "/avx2").c_str(), In<float>, v.Float32,
                                         t.Type);
        }
        benchmark::RegisterBenchmark(("in64/" + name + "/plain").c_str(), In<double>, in.Float64,
                                     t.Type);
    }
    benchmark::RegisterBenchmark("clip32/digital/plain", Clip, PlainClipDigital().Float32);
    benchmark::RegisterBenchmark("clip32/analog/plain", Clip, PlainClipAnalog().Float32);
    if (VectorClipDigital()) {
        benchmark::RegisterBenchmark("clip32/digital/avx2", Clip, VectorClipDigital().Float32);
        benchmark::RegisterBenchmark("clip32/analog/avx2", Clip, VectorClipAnalog().Float32);
    }
    return 0;
}

const int Registered = Register();

} // namespace

BENCHMARK_MAIN();
