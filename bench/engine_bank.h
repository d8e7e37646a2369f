// The benchmark bank: 37 tones in 12 equal steps from 100 Hz, uniform bar with free ends,
// up to 8 modes weighted 1/n^3 (294 bands at 48 kHz). Larger banks repeat those 37 tones.
#pragma once

#include "engine/AudioEngine.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

namespace varko::bench {

inline void FreeBarModes(float f0, float fs, int limit, std::vector<float>& ratios,
                         std::vector<float>& gains) {
    ratios = {1.0f};
    gains = {1.0f};
    for (int n = 2; n <= limit; ++n) {
        const auto r = static_cast<float>(std::pow((2.0L * n + 1) / 3.0112L, 2));
        if (r * f0 > fs / 2) {
            break;
        }
        ratios.push_back(r);
        gains.push_back(static_cast<float>(1.0 / (n * n * n)));
    }
}

// Fills the engine with the bank, rendered as told, built and ready. Returns the number of bands.
inline int BuildBank(TAudioEngine& engine, const TToneRendering& how, int tones = 37,
                     int modes = 8) {
    const auto fs = static_cast<float>(engine.Host().SampleRate());
    int bands = 0;
    engine.SetRendering(how);
    for (int i = 0; i < tones; ++i) {
        auto osc = std::make_unique<TTone>();
        osc->Frequency = static_cast<float>(100.0 * std::pow(2.0, (i % 37) / 12.0));
        osc->SampleRate = fs;
        osc->BlockSize = static_cast<int32_t>(engine.Host().BufferSize());
        osc->EndType = TEndType::Free;
        osc->Resonance = std::pow(0.9999f, 11.0f);
        osc->Seed = 1000u + static_cast<uint32_t>(i);
        osc->Pressure = 1.0f;
        osc->Speed = 0.5f;
        osc->StrikePosition = 0.3f;
        FreeBarModes(osc->Frequency, fs, modes, osc->Ratios, osc->Gains);
        bands += static_cast<int>(osc->Ratios.size());
        engine.AddTone(std::move(osc));
    }
    engine.PanOffset = (tones + 1.0f) / tones;
    engine.PanStep = 1.0f / tones;
    return bands;
}

// A renderer by its name on the command line: "pertone", "pool" (one thread per core),
// "poolN" (N threads) or "inline".
inline TToneRendering RenderingNamed(const std::string& name, bool timeCritical) {
    TToneRendering how;
    how.TimeCritical = timeCritical;
    if (name.rfind("pool", 0) == 0) {
        how.Threads = TToneThreads::PerCore;
        how.PoolThreads = std::atoi(name.c_str() + 4);
    } else if (name == "inline") {
        how.Threads = TToneThreads::Inline;
    }
    return how;
}

inline const char* RenderingName(TToneThreads threads) {
    return threads == TToneThreads::PerCore  ? "pool"
           : threads == TToneThreads::Inline ? "inline"
                                             : "per tone";
}

// Keeps every tone excited: each change of speed starts a new envelope.
inline void Stir(TAudioEngine& engine, int block) {
    for (auto& osc : engine.Oscillators) {
        osc->Speed.store(block % 2 ? 0.5f : 0.45f, std::memory_order_relaxed);
    }
}

} // namespace varko::bench
