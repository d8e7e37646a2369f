#include "dsp/WaveguideBands.h"

#include <algorithm>
#include <cmath>

namespace varko {

void TWaveguideBands::Build(float frequency, float sampleRate, TEndType endType, bool interpolate,
                            const std::vector<float>& ratios, const std::vector<float>& gains,
                            float resonance, uint32_t seed, float bendRoom) {
    (void)resonance;
    Excitation.Reset(sampleRate, endType, seed);
    const bool rateOk = sampleRate > 0.0f && sampleRate <= MaxSampleRate;

    Filters.clear();
    std::vector<float> lengths, bandGains;
    const size_t count = std::min(ratios.size(), gains.size());
    if (rateOk) {
        Filters.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            const float fm = ratios[i] * frequency;
            if (fm > sampleRate / 2.0f) {
                break; // the band list ends at the first mode above half the rate
            }
            if (!(fm > 0.0f) || !std::isfinite(fm)) {
                continue;
            }
            const float length = sampleRate / fm;
            if (!(length <= sampleRate * MaxDelaySeconds)) {
                continue; // memory stays bounded whatever the frequency
            }
            lengths.push_back(length);
            Filters.emplace_back();
            Filters.back().SetParams(fm, sampleRate, BandQ);
            bandGains.push_back(gains[i]);
        }
    }
    filterLanes_.Assign(Filters, bandGains);
    bendRoom_ = bendRoom >= 1.0f ? std::min(bendRoom, MaxBendUp) : 1.0f;
    builtRate_ = sampleRate;
    pitch_ = tunedPitch_ = 1.0f;
    bendGlide_ = rateOk ? 1.0f - std::exp(-1.0f / (BendGlideSeconds * sampleRate)) : 1.0f;
    pitchBuf_.assign(MaxChunk, 1.0f);
    delayLanes_.Assign(lengths, interpolate, bendRoom_, sampleRate * MaxDelaySeconds);
    x0Buf_.assign(MaxChunk, 0.0f);
    fbBuf_.assign(MaxChunk, 0.0f);
    zeros_.assign(MaxChunk, 0.0f);
    const size_t bands = Filters.size();
    // The filters write every lane, padding lanes too.
    bandOut_ =
        hwy::AllocateAligned<float>(std::max<size_t>(filterLanes_.LaneCount(), 1) * MaxChunk);
    lineInputs_.assign(bands, nullptr);
    lineInputZero_.assign(bands, 0);
    silent_ = true;
}

void TWaveguideBands::RenderBlock(const TWaveguidePlaying& playing, float* output, int n) {
    TWaveguideBands* self = this;
    const TWaveguidePlaying* in = &playing;
    RenderTogether({&self, 1}, {&in, 1}, &output, n);
}

void TWaveguideBands::RenderTogether(std::span<TWaveguideBands* const> bands,
                                     std::span<const TWaveguidePlaying* const> in,
                                     float* const* outputs, int n) {
    // Room for the filter blocks of every tone of a chunk: 8 tones of 100 modes need 104.
    constexpr size_t JobRoom = 128;
    bandkernels::TFilterJob jobs[JobRoom];
    const size_t count = std::min({bands.size(), in.size(), MaxTogether});
    bool active[MaxTogether] = {};
    bool excited[MaxTogether] = {};
    for (int done = 0; done < n;) {
        const int m = std::min(n - done, MaxChunk);
        size_t held = 0;
        for (size_t t = 0; t < count; ++t) {
            TWaveguideBands& b = *bands[t];
            float* out = outputs[t] + done;
            if (b.delayLanes_.Bent() || in[t]->Pitch.load(std::memory_order_relaxed) != 1.0f) {
                b.RenderBent(*in[t], out, m);
                active[t] = false;
                continue;
            }
            std::fill(out, out + m, 0.0f);
            active[t] = !(b.silent_ && b.Excitation.SkipQuiet(*in[t], m));
            if (!active[t]) {
                continue;
            }
            excited[t] = b.Excitation.Render(*in[t], b.x0Buf_.data(), b.fbBuf_.data(), m);
            if (b.filterLanes_.BlockCount() > JobRoom) {
                b.filterLanes_.Run(b.x0Buf_.data(), excited[t], m, b.bandOut_.get());
                continue;
            }
            if (held + b.filterLanes_.BlockCount() > JobRoom) {
                bandkernels::RunFilterJobs(jobs, held, m);
                held = 0;
            }
            held +=
                b.filterLanes_.AddJobs(b.x0Buf_.data(), excited[t], b.bandOut_.get(), jobs + held);
        }
        bandkernels::RunFilterJobs(jobs, held, m);
        for (size_t t = 0; t < count; ++t) {
            if (!active[t]) {
                continue;
            }
            TWaveguideBands& b = *bands[t];
            for (int band = 0; band < b.BandCount(); ++band) {
                const bool skipped = b.filterLanes_.Skipped(band);
                b.lineInputs_[band] = skipped
                                          ? b.zeros_.data()
                                          : b.bandOut_.get() + static_cast<size_t>(band) * MaxChunk;
                b.lineInputZero_[band] = skipped;
            }
            // Each line adds into the output in band order, as the per-sample sum does.
            b.delayLanes_.Run(b.lineInputs_.data(), b.lineInputZero_.data(), b.fbBuf_.data(),
                              outputs[t] + done, m);
            b.silent_ = !excited[t] && b.filterLanes_.AllSkipped() && b.delayLanes_.AllSilent();
        }
        done += m;
    }
}

void TWaveguideBands::RetuneFilters(float ratio) {
    tunedPitch_ = ratio;
    for (int band = 0; band < BandCount(); ++band) {
        const TWaveguideBPFilter4p& built = Filters[static_cast<size_t>(band)];
        if (ratio == 1.0f) {
            filterLanes_.Retune(band, built); // exactly the coefficients it was built with
            continue;
        }
        TWaveguideBPFilter4p f;
        // The filter's design holds below half the rate; a mode bent past it stays near there.
        f.SetParams(std::min(built.Frequency * ratio, 0.45f * builtRate_), builtRate_, built.Q);
        filterLanes_.Retune(band, f);
    }
}

void TWaveguideBands::RenderBent(const TWaveguidePlaying& in, float* out, int n) {
    const float played =
        std::clamp(in.Pitch.load(std::memory_order_relaxed), 1.0f / bendRoom_, MaxBendUp);
    std::fill(out, out + n, 0.0f);
    if (silent_ && Excitation.SkipQuiet(in, n)) {
        // Nothing sounds: no glide to hear.
        pitch_ = played;
        if (played == 1.0f) {
            delayLanes_.Unbend();
            if (tunedPitch_ != 1.0f) {
                RetuneFilters(1.0f);
            }
        }
        return;
    }
    const bool excited = Excitation.Render(in, x0Buf_.data(), fbBuf_.data(), n);
    for (int i = 0; i < n; ++i) {
        pitch_ += (played - pitch_) * bendGlide_;
        // Within a fifth of a cent it is there (the float steps would stall short of it), and
        // an unbent tone sounds exactly as built.
        if (std::fabs(pitch_ - played) <= 1e-4f * played) {
            pitch_ = played;
        }
        pitchBuf_[static_cast<size_t>(i)] = pitch_;
    }
    bool allSkipped = true;
    for (int from = 0; from < n; from += BendStep) {
        const int len = std::min(BendStep, n - from);
        const float at = pitchBuf_[static_cast<size_t>(from)];
        if (at != tunedPitch_) {
            RetuneFilters(at);
        }
        filterLanes_.Run(x0Buf_.data() + from, excited, len, bandOut_.get() + from);
        for (int band = 0; band < BandCount(); ++band) {
            if (filterLanes_.Skipped(band)) {
                float* o = bandOut_.get() + static_cast<size_t>(band) * MaxChunk + from;
                std::fill(o, o + len, 0.0f);
            } else {
                allSkipped = false;
            }
        }
    }
    for (int band = 0; band < BandCount(); ++band) {
        lineInputs_[band] = bandOut_.get() + static_cast<size_t>(band) * MaxChunk;
        lineInputZero_[band] = allSkipped;
    }
    delayLanes_.RunBent(lineInputs_.data(), lineInputZero_.data(), fbBuf_.data(), pitchBuf_.data(),
                        out, n);
    silent_ = !excited && allSkipped && delayLanes_.AllSilent();
}

} // namespace varko
