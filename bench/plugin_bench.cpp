// The cost of a host's block for the 37-tone bank (12 equal steps an octave either side) inside
// the plugin, beside the same bank as varko-render drives it. Every key is held, and one is
// struck anew each block, so that every tone sounds.
#include "engine/NullHost.h"
#include "plugin/PluginInstrument.h"
#include "render/Renderer.h"

#include <benchmark/benchmark.h>

#include <vector>

using namespace varko;

namespace {

constexpr double Rate = 48000.0;
constexpr int Lowest = 48, Keys = 37;

void BM_PluginBlock(benchmark::State& state) {
    const auto block = static_cast<uint32_t>(state.range(0));
    TPluginInstrument plugin(Rate);
    plugin.Activate();
    std::vector<float> left(block), right(block);
    std::vector<TPluginEvent> chord;
    for (int k = 0; k < Keys; ++k) {
        chord.push_back({0, 3, {0x91, static_cast<uint8_t>(Lowest + k), 100}});
    }
    plugin.Process(left.data(), right.data(), block, chord.data(),
                   static_cast<uint32_t>(chord.size()));
    int n = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        const TPluginEvent again{0, 3, {0x91, static_cast<uint8_t>(Lowest + n++ % Keys), 100}};
        plugin.Process(left.data(), right.data(), block, &again, 1);
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["tones"] = plugin.ToneCount();
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * block / Rate, benchmark::Counter::kIsRate);
}

void BM_RenderToolBlock(benchmark::State& state) {
    const auto block = static_cast<uint32_t>(state.range(0));
    TRenderOptions o;
    o.Scale = VARKO_EXAMPLES_DIR "/scales/12-equal.scl";
    o.Down = 1;
    o.Up = 1;
    o.InitialFrequency = 261.63;
    o.Block = static_cast<int>(block);
    TRenderSession session;
    std::string error;
    if (!session.Prepare(o, error) ||
        !session.Build(std::make_unique<TNullHost>(Rate, block, false), error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    TArrayOfSingleArray out(2, TSingleArray(block));
    for (int k = 0; k < Keys; ++k) {
        const uint8_t on[3] = {0x91, static_cast<uint8_t>(Lowest + k), 100};
        session.Instrument.Midi().Message(0, on, 3, 0.0);
    }
    int n = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        const double now = static_cast<double>(n) * block / Rate;
        const uint8_t on[3] = {0x91, static_cast<uint8_t>(Lowest + n++ % Keys), 100};
        session.Instrument.Midi().Message(0, on, 3, now);
        session.Tick(now);
        session.Engine().RenderOffline(out);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.counters["tones"] = static_cast<double>(session.Engine().Oscillators.size());
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * block / Rate, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_PluginBlock)->Arg(64)->Arg(512)->MinTime(2.0);
BENCHMARK(BM_RenderToolBlock)->Arg(64)->Arg(512)->MinTime(2.0);

BENCHMARK_MAIN();
