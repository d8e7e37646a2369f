#include "engine/ToneBank.h"

#include "core/Texts.h"
#include "dsp/WaveguideBands.h"

#include <algorithm>
#include <cmath>

namespace varko {

std::string ObjectDescription(bool externalObject, TEndType end, const std::string& modeFileName) {
    if (!externalObject) {
        switch (end) {
        case TEndType::Fixed:
            return text::BarFixed;
        case TEndType::Hinged:
            return text::BarHinged;
        default:
            return text::BarFree;
        }
    }
    const char* ends = end == TEndType::Fixed    ? text::EndFixed
                       : end == TEndType::Hinged ? text::EndHinged
                                                 : text::EndFree;
    return modeFileName + " (" + ends + ")";
}

bool StereoConstants(int toneCount, bool twoRows, TStereoConstants& out) {
    if (toneCount < 1) {
        return false;
    }
    const int n = twoRows ? (toneCount + 1) / 2 : toneCount;
    out.PanOffset = static_cast<float>((n + 1.0) / n);
    out.PanStep = static_cast<float>(1.0 / n);
    return true;
}

void UpdateStereoConstants(TAudioEngine& engine, bool paint2Rows) {
    TStereoConstants c;
    if (StereoConstants(static_cast<int>(engine.Oscillators.size()), paint2Rows, c)) {
        engine.PanOffset.store(c.PanOffset, std::memory_order_relaxed);
        engine.PanStep.store(c.PanStep, std::memory_order_relaxed);
    }
}

TToneModes ModesOfTone(const TToneBankInput& in, float f0, float fs) {
    const int modeLimit = std::clamp(in.ModeLimit, 1, MaxModeLimit);
    TToneModes modes = in.ExternalObject
                           ? FileModes(in.ModeRatios, in.ModeLevels, in.End, f0, fs, modeLimit)
                           : UniformBarModes(in.End, f0, fs, modeLimit, in.ModeWeighting);
    for (float& g : modes.Gains) {
        g = std::isnan(g) ? 0.0f : std::clamp(g, -MaxModeLevel, MaxModeLevel);
    }
    return modes;
}

uint64_t BandBytes(const TToneModes& modes, float f0, float fs, float bendRoom) {
    // The per-tone buffers: the double block and the bands' work buffers.
    uint64_t bytes = uint64_t{8} * TWaveguideBands::MaxChunk * sizeof(float);
    if (!(fs > 0.0f && fs <= TWaveguideBands::MaxSampleRate)) {
        return bytes;
    }
    // The bands' own rules: the list ends above half the rate, unusable modes get no band.
    for (const float r : modes.Ratios) {
        const float fm = r * f0;
        if (fm > fs / 2.0f) {
            break;
        }
        const float length = fs / fm;
        if (!(fm > 0.0f) || !std::isfinite(fm) ||
            !(length <= fs * TWaveguideBands::MaxDelaySeconds)) {
            continue;
        }
        // Its ring, its filter's lanes and copy, its output piece.
        const float ring =
            std::min(length * std::max(bendRoom, 1.0f), fs * TWaveguideBands::MaxDelaySeconds);
        bytes += (static_cast<uint64_t>(ring) + 4 + TWaveguideBands::MaxChunk) * sizeof(float) +
                 2 * sizeof(TWaveguideBPFilter4p) + 64;
    }
    return bytes;
}

TToneBankResult RefreshTones(TAudioEngine& engine, const TToneBankInput& in) {
    TToneBankResult r;
    const bool wasRunning = engine.Running.load();
    if (wasRunning) {
        engine.Stop();
    }
    engine.EndOscillators();

    r.RequestedTones = static_cast<int>(in.ToneRatios.size());
    const int count = std::min(r.RequestedTones, MaxTones);
    r.Capped = count < r.RequestedTones;
    const float fs = static_cast<float>(engine.Host().SampleRate());
    const auto blockSize = static_cast<int32_t>(engine.Host().BufferSize());
    const float resonance = ResonanceFromFader(in.ResonanceFader);

    std::vector<TToneModes> toneModes;
    toneModes.reserve(static_cast<size_t>(count));
    uint64_t unbentBytes = 0;
    for (int i = 0; i < count; ++i) {
        const float f0 = in.ToneRatios[static_cast<size_t>(i)] * in.InitialFrequency;
        TToneModes modes = ModesOfTone(in, f0, fs);
        const uint64_t buffers = 2 * static_cast<uint64_t>(std::max(blockSize, 0)) * sizeof(float);
        r.BankBytes += BandBytes(modes, f0, fs, in.BendRoom) + buffers;
        unbentBytes += BandBytes(modes, f0, fs, 1.0f) + buffers;
        toneModes.push_back(std::move(modes));
    }
    // A bank that fits only without room to bend down is built without it: its tones bend up
    // alone, rather than not sound at all.
    float bendRoom = in.BendRoom;
    if (r.BankBytes > MaxBankBytes && unbentBytes <= MaxBankBytes) {
        r.BankBytes = unbentBytes;
        bendRoom = 1.0f;
    }
    if (r.BankBytes > MaxBankBytes) {
        r.TooLarge = true;
        if (wasRunning) {
            engine.Start();
            r.Running = engine.Running.load();
        }
        return r;
    }

    engine.SetRendering(in.Rendering);
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<TTone> tone = in.MakeTone ? in.MakeTone() : std::make_unique<TTone>();
        TTone& t = *tone;
        t.OnFailed = in.OnFailed;
        t.Frequency = in.ToneRatios[static_cast<size_t>(i)] * in.InitialFrequency;
        t.SampleRate = fs;
        t.BlockSize = blockSize;
        t.Resonance.store(resonance, std::memory_order_relaxed);
        t.Interpolate = in.InterpolateDelays;
        t.BendRoom = bendRoom;
        TToneModes& modes = toneModes[static_cast<size_t>(i)];
        t.Ratios = std::move(modes.Ratios);
        t.Gains = std::move(modes.Gains);
        t.EndType = modes.EndType;
        if (static_cast<size_t>(i) < in.ToneSeeds.size()) {
            t.Seed = in.ToneSeeds[static_cast<size_t>(i)];
        } else if (in.Seed) {
            t.Seed = *in.Seed + static_cast<uint32_t>(i);
        }
        if (!engine.AddTone(std::move(tone))) {
            // The tone failed while building; its OnFailed has told.
            r.Abandoned = true;
            r.CrashText = t.CrashText();
            r.BuiltTones = static_cast<int>(engine.Oscillators.size());
            return r;
        }
        if (t.NoModes.load()) {
            if (in.ExternalObject && in.ModeRatios.empty()) {
                r.WarnModeFile = true;
            } else {
                r.WarnNoSound = true;
            }
        }
    }
    r.BuiltTones = static_cast<int>(engine.Oscillators.size());
    engine.SetBankFormat(engine.Host().BufferSize(), engine.Host().SampleRate());
    UpdateStereoConstants(engine, in.Paint2Rows);
    engine.ReadIndex.store(0);
    if (wasRunning) {
        engine.Start();
        r.Running = engine.Running.load();
    }
    if (!engine.Oscillators.empty()) {
        r.ObjectDescription = ObjectDescription(in.ExternalObject, in.End, in.ModeFileName);
    }
    return r;
}

} // namespace varko
