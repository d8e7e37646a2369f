// Engine micro-benchmarks: band cost excited and ringing, the mixer, the offline bank.
#include "engine_bank.h"

#include "dsp/BandKernels.h"
#include "engine/NullHost.h"

#include <benchmark/benchmark.h>

using namespace varko;

namespace {

enum class TBandState { Excited, Ringing, Silent };

// ns per band-sample of excitation, filter and delay (8 bands of a 200 Hz tone, 256-sample
// blocks): excited; ringing out (filters past their quiet counter, lines ringing, with a
// resonance that keeps them ringing for the whole run); silent (every line rung out).
void BandSamples(benchmark::State& state, TBandState what, bool interpolate) {
    std::vector<float> ratios, gains;
    bench::FreeBarModes(200.0f, 48000.0f, 8, ratios, gains);
    TWaveguideBands bands;
    bands.Build(200.0f, 48000.0f, 1, interpolate, ratios, gains, 0.999f, 1);
    TWaveguidePlaying play;
    play.Resonance = what == TBandState::Ringing ? 0.99999f : 0.999f;
    play.Pressure = 1.0f;
    play.Speed = 0.5f;
    std::vector<float> out(256);
    const bool excited = what == TBandState::Excited;
    if (!excited) {
        bands.RenderBlock(play, out.data(), 256);
        play.Pressure = 0.0f;
        play.Resonance = what == TBandState::Ringing ? 0.99999f : 0.5f;
        for (int i = 0; i < 200; ++i) { // past the quiet counter, and the silence at 0.5
            bands.RenderBlock(play, out.data(), 256);
        }
    }
    int block = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        if (excited) {
            play.Speed = ++block % 2 ? 0.5f : 0.45f;
        }
        bands.RenderBlock(play, out.data(), 256);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ns_per_band_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 256 * bands.BandCount(),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_BandExcited(benchmark::State& s) {
    BandSamples(s, TBandState::Excited, false);
}
void BM_BandExcitedInterpolated(benchmark::State& s) {
    BandSamples(s, TBandState::Excited, true);
}
void BM_BandRinging(benchmark::State& s) {
    BandSamples(s, TBandState::Ringing, false);
}
void BM_BandRingingInterpolated(benchmark::State& s) {
    BandSamples(s, TBandState::Ringing, true);
}
void BM_BandSilent(benchmark::State& s) {
    BandSamples(s, TBandState::Silent, false);
}

// The excited band on one vector path: the processor family given by the index into the
// families this processor runs, best first.
void BM_BandExcitedOnPath(benchmark::State& s) {
    const std::vector<int64_t> targets = bandkernels::AvailableTargets();
    const auto index = static_cast<size_t>(s.range(0));
    if (index >= targets.size()) {
        s.SkipWithError("no such path here");
        return;
    }
    bandkernels::UseTarget(targets[index]);
    s.SetLabel(bandkernels::TargetName(targets[index]));
    BandSamples(s, TBandState::Excited, false);
    bandkernels::UseTarget(0);
}

// ns per tone-sample of the mixer: 37 silent tones (no bands), BufferSwitch including the
// releases of the oscillators; ns per tone-block is what one tone's wake-up and its mixing
// cost, whatever its bands.
void BM_Mixer(benchmark::State& state) {
    const auto block = static_cast<uint32_t>(state.range(0));
    TAudioEngine engine(std::make_unique<TNullHost>(48000.0, block, false));
    engine.SetRendering({static_cast<TToneThreads>(state.range(1)), 0, false});
    state.SetLabel(bench::RenderingName(static_cast<TToneThreads>(state.range(1))));
    for (int i = 0; i < 37; ++i) {
        auto osc = std::make_unique<TTone>();
        osc->SampleRate = 48000.0f;
        osc->BlockSize = static_cast<int32_t>(block);
        engine.AddTone(std::move(osc));
    }
    engine.PanOffset = 38.0f / 37.0f;
    engine.PanStep = 1.0f / 37.0f;
    TArrayOfSingleArray out(2, TSingleArray(block));
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        engine.RenderOffline(out);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.counters["ns_per_tone_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * block * 37,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["ns_per_tone_block"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 37,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The 37 x 8 bank offline: audio seconds per wall second.
void BM_BankOffline(benchmark::State& state) {
    const auto block = static_cast<uint32_t>(state.range(0));
    TAudioEngine engine(std::make_unique<TNullHost>(48000.0, block, false));
    const auto how = static_cast<TToneThreads>(state.range(1));
    state.SetLabel(bench::RenderingName(how));
    const int bands = bench::BuildBank(engine, {how, 0, false});
    TArrayOfSingleArray out(2, TSingleArray(block));
    int n = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        bench::Stir(engine, ++n);
        engine.RenderOffline(out);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.counters["bands"] = bands;
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * block / 48000.0, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_BandExcited);
BENCHMARK(BM_BandExcitedInterpolated);
BENCHMARK(BM_BandRinging);
BENCHMARK(BM_BandRingingInterpolated);
BENCHMARK(BM_BandSilent);
BENCHMARK(BM_BandExcitedOnPath)->DenseRange(0, 4);
// Second argument: the renderer (0 a thread per tone, 1 the pool, 2 inline).
BENCHMARK(BM_Mixer)->ArgsProduct({{64, 128, 1024}, {0, 1, 2}})->UseRealTime();
BENCHMARK(BM_BankOffline)->ArgsProduct({{128, 1024}, {0, 1, 2}})->UseRealTime()->MinTime(3.0);

BENCHMARK_MAIN();
