// Engine micro-benchmarks: band cost excited and ringing, the mixer, the offline bank.
#include "engine_bank.h"

#include "dsp/BandKernels.h"
#include "dsp/ReferenceTone.h"
#include "engine/NullHost.h"

#include <benchmark/benchmark.h>

using namespace varko;

namespace {

enum class TBandState { Excited, Ringing, Silent };

// ns per band-sample of excitation, filter and delay (8 bands of each of `tones` tones of 200 Hz
// with their own noise, 256-sample blocks, rendered together: the lines as long as the single
// tone's, so that only the kernels' sharing differs): excited; ringing out
// (filters past their quiet counter, lines ringing, with a resonance that keeps them ringing
// for the whole run); silent (every line rung out).
void BandSamples(benchmark::State& state, TBandState what, bool interpolate, int tones = 1) {
    std::vector<TWaveguideBands> bands(static_cast<size_t>(tones));
    std::vector<std::unique_ptr<TWaveguidePlaying>> plays;
    std::vector<TWaveguideBands*> bandPointers;
    std::vector<const TWaveguidePlaying*> playPointers;
    std::vector<std::vector<float>> outs(static_cast<size_t>(tones), std::vector<float>(256));
    std::vector<float*> outPointers;
    int bandCount = 0;
    for (int t = 0; t < tones; ++t) {
        const float f = 200.0f;
        std::vector<float> ratios, gains;
        bench::FreeBarModes(f, 48000.0f, 8, ratios, gains);
        TWaveguideBands& b = bands[static_cast<size_t>(t)];
        b.Build(f, 48000.0f, TEndType::Free, interpolate, ratios, gains, 0.999f,
                1 + static_cast<uint32_t>(t));
        bandCount += b.BandCount();
        auto play = std::make_unique<TWaveguidePlaying>();
        play->Resonance = what == TBandState::Ringing ? 0.99999f : 0.999f;
        play->Pressure = 1.0f;
        play->Speed = 0.5f;
        playPointers.push_back(play.get());
        plays.push_back(std::move(play));
        bandPointers.push_back(&b);
        outPointers.push_back(outs[static_cast<size_t>(t)].data());
    }
    const auto render = [&] {
        TWaveguideBands::RenderTogether(bandPointers, playPointers, outPointers.data(), 256);
    };
    const bool excited = what == TBandState::Excited;
    if (!excited) {
        render();
        for (auto& p : plays) {
            p->Pressure = 0.0f;
            p->Resonance = what == TBandState::Ringing ? 0.99999f : 0.5f;
        }
        for (int i = 0; i < 200; ++i) { // past the quiet counter, and the silence at 0.5
            render();
        }
    }
    int block = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        if (excited) {
            ++block;
            for (auto& p : plays) {
                p->Speed = block % 2 ? 0.5f : 0.45f;
            }
        }
        render();
        benchmark::DoNotOptimize(outPointers.data());
    }
    state.counters["ns_per_band_sample"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * 256 * bandCount,
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
// Eight tones at once, as the pool's groups and the calling thread render them.
void BM_BandExcitedTogether(benchmark::State& s) {
    BandSamples(s, TBandState::Excited, false, 8);
}
void BM_BandExcitedTogetherInterpolated(benchmark::State& s) {
    BandSamples(s, TBandState::Excited, true, 8);
}
void BM_BandRingingTogether(benchmark::State& s) {
    BandSamples(s, TBandState::Ringing, false, 8);
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

// The same 37 x 8 bank through the plain per-sample formulas (one filter and delay Tick per
// band and sample): what the kernels and renderers are measured against.
void BM_BankScalarModel(benchmark::State& state) {
    std::vector<std::unique_ptr<TReferenceTone>> tones;
    std::vector<std::unique_ptr<TWaveguidePlaying>> plays;
    int bands = 0;
    for (int i = 0; i < 37; ++i) {
        const auto f = static_cast<float>(100.0 * std::pow(2.0, i / 12.0));
        std::vector<float> ratios, gains;
        bench::FreeBarModes(f, 48000.0f, 8, ratios, gains);
        bands += static_cast<int>(ratios.size());
        tones.push_back(std::make_unique<TReferenceTone>(f, 48000.0f, TEndType::Free, false, ratios,
                                                         gains, 1000u + static_cast<uint32_t>(i)));
        auto play = std::make_unique<TWaveguidePlaying>();
        play->Resonance = std::pow(0.9999f, 11.0f);
        play->Pressure = 1.0f;
        play->StrikePosition = 0.3f;
        plays.push_back(std::move(play));
    }
    constexpr int Block = 1024;
    std::vector<float> left(Block), right(Block);
    int n = 0;
    for (auto _ : state) { // NOLINT(clang-analyzer-deadcode.DeadStores)
        ++n;
        for (size_t t = 0; t < tones.size(); ++t) {
            plays[t]->Speed = n % 2 ? 0.5f : 0.45f;
            const float wr = static_cast<float>(t + 1) / 37.0f;
            for (int i = 0; i < Block; ++i) {
                const float v = tones[t]->Tick(*plays[t]);
                left[static_cast<size_t>(i)] += v * (38.0f / 37.0f - wr);
                right[static_cast<size_t>(i)] += v * wr;
            }
        }
        benchmark::DoNotOptimize(left.data());
        benchmark::DoNotOptimize(right.data());
    }
    state.counters["bands"] = bands;
    state.counters["x_real_time"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * Block / 48000.0, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_BandExcited);
BENCHMARK(BM_BandExcitedTogether);
BENCHMARK(BM_BandExcitedTogetherInterpolated);
BENCHMARK(BM_BandRingingTogether);
BENCHMARK(BM_BandExcitedInterpolated);
BENCHMARK(BM_BandRinging);
BENCHMARK(BM_BandRingingInterpolated);
BENCHMARK(BM_BandSilent);
BENCHMARK(BM_BandExcitedOnPath)->DenseRange(0, 4);
// Second argument: the renderer (0 a thread per tone, 1 the pool, 2 inline).
BENCHMARK(BM_Mixer)->ArgsProduct({{64, 128, 1024}, {0, 1, 2}})->UseRealTime();
BENCHMARK(BM_BankOffline)->ArgsProduct({{128, 1024}, {0, 1, 2}})->UseRealTime()->MinTime(3.0);
BENCHMARK(BM_BankScalarModel)->UseRealTime()->MinTime(3.0);

BENCHMARK_MAIN();
