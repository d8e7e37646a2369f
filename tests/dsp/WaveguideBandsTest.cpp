#include "dsp/WaveguideBands.h"
#include "dsp/ReferenceTone.h"
#include "dsp/WaveguideDelay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <vector>

using namespace varko;

namespace {

struct TPlay : TWaveguidePlaying {
    TPlay(float pressure, float speed, float resonance, float strike = 0.5f) {
        Pressure = pressure;
        Speed = speed;
        Resonance = resonance;
        StrikePosition = strike;
    }
};

// Ring frequency of an output by upward zero crossings between two sample indices.
double ZeroCrossingFrequency(const std::vector<float>& y, size_t from, size_t to, double fs) {
    double first = -1, last = -1;
    int count = 0;
    for (size_t i = from; i + 1 < to; ++i) {
        if (y[i] < 0.0f && y[i + 1] >= 0.0f) {
            const double t = static_cast<double>(i) + y[i] / (y[i] - y[i + 1]);
            if (first < 0) {
                first = t;
            } else {
                ++count;
            }
            last = t;
        }
    }
    return count * fs / (last - first);
}

} // namespace

TEST(WaveguideBands, BandListStopsAtTheFirstModeAboveHalfTheRate) {
    TWaveguideBands bands;
    bands.Build(1000, 44100, TEndType::Free, false, {1, 2.7571f, 5.4040f, 30.0f}, {1, 1, 1, 1},
                0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 3);
    bands.Build(1000, 44100, TEndType::Free, false, {1, 30.0f, 2.0f}, {1, 1, 1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 1);   // the lower mode after 30 kHz is not used
    EXPECT_EQ(bands.DelaySize(0), 44); // round(44.1)
    bands.Build(30000, 44100, TEndType::Free, false, {1}, {1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 0);
}

TEST(WaveguideBands, MemoryStaysBoundedWhateverTheFrequency) {
    TWaveguideBands bands;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    bands.Build(200, 48000, TEndType::Free, true, {nan, -1.0f, 0.0f, 1e-6f, 0.004f, 1.0f},
                {1, 1, 1, 1, 1, 1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 1); // only 200 Hz; 0.8 Hz would need 60000 samples
    bands.Build(0.5f, 48000, TEndType::Free, false, {1, 2}, {1, 1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 1); // 1 Hz exactly one second long is kept
    EXPECT_EQ(bands.DelaySize(0), 48000);
    bands.Build(200, inf, TEndType::Free, false, {1}, {1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 0);
    bands.Build(200, 1e12f, TEndType::Free, false, {1}, {1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 0);
}

TEST(WaveguideBands, RampAndEnvelopeLengths) {
    const std::pair<float, std::pair<int, int>> rates[] = {
        {44100.0f, {470, 7526}}, {48000.0f, {512, 8192}}, {96000.0f, {1024, 16384}}};
    for (const auto& [fs, lengths] : rates) {
        TWaveguideBands bands;
        bands.Build(200, fs, TEndType::Free, false, {1}, {1}, 0.999f, 1);
        EXPECT_EQ(bands.Excitation.RampLength, lengths.first);
        EXPECT_EQ(bands.Excitation.EnvelopeLength, lengths.second);
    }
}

TEST(WaveguideBands, PressureRampReachesExactlyOneIn512Steps) {
    TWaveguideBands bands;
    bands.Build(200, 48000, TEndType::Free, false, {1}, {1}, 0.999f, 1);
    TPlay play(1.0f, 0.0f, 0.999f);
    std::vector<float> x0(1), fb(1);
    float previous = 0.0f;
    for (int i = 1; i <= 511; ++i) {
        bands.Excitation.Render(play, x0.data(), fb.data(), 1);
        EXPECT_GT(bands.Excitation.Level, previous);
        EXPECT_NEAR(bands.Excitation.Level, i / 512.0f, 1e-5f);
        previous = bands.Excitation.Level;
    }
    bands.Excitation.Render(play, x0.data(), fb.data(), 1);
    bands.Excitation.Render(play, x0.data(), fb.data(), 1);
    EXPECT_EQ(bands.Excitation.Level, 1.0f);
    // Full pressure damps the loop by 1 %.
    EXPECT_FLOAT_EQ(fb[0], 0.99f * 0.999f);
}

TEST(WaveguideBands, EnvelopeRisesThenFallsToExactZeroAfterNE) {
    TWaveguideBands bands;
    bands.Build(200, 48000, TEndType::Free, false, {1}, {1}, 0.999f, 1);
    TPlay play(1.0f, 0.25f, 0.999f);
    std::vector<float> x0(1), fb(1);
    float peak = 0.0f;
    for (int i = 1; i <= 8192; ++i) {
        bands.Excitation.Render(play, x0.data(), fb.data(), 1);
        peak = std::max(peak, bands.Excitation.Envelope);
        if (i == 4096) {
            EXPECT_NEAR(bands.Excitation.Envelope, 0.25f, 1e-5f);
        }
        if (i < 8192) {
            EXPECT_GT(bands.Excitation.Envelope, 0.0f) << i;
        }
    }
    EXPECT_EQ(bands.Excitation.Envelope, 0.0f);
    EXPECT_NEAR(peak, 0.25f, 1e-5f);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_FALSE(bands.Excitation.Render(play, x0.data(), fb.data(), 1));
    }
    EXPECT_EQ(bands.Excitation.Envelope, 0.0f);
}

TEST(WaveguideBands, StrikeWeightingOfOneFixedEnd) {
    float energy[2] = {};
    for (int k = 0; k < 2; ++k) {
        TWaveguideBands bands;
        bands.Build(200, 48000, TEndType::Fixed, false, {1}, {1}, 0.999f, 7);
        TPlay play(1.0f, 0.5f, 0.999f, k == 0 ? 0.0f : 1.0f);
        std::vector<float> x0(1024), fb(1024);
        bands.Excitation.Render(play, x0.data(), fb.data(), 1024);
        for (float v : x0) {
            energy[k] += std::fabs(v);
        }
    }
    EXPECT_NEAR(energy[0] / energy[1], 0.25f, 1e-4f);
}

TEST(WaveguideBands, NoPressureNoSound) {
    TWaveguideBands bands;
    bands.Build(200, 48000, TEndType::Free, true, {1, 2.75715f}, {1, 0.125f}, 0.999f, 3);
    TPlay play(0.0f, 0.3f, 0.999f);
    std::vector<float> out(4096, 1.0f);
    bands.RenderBlock(play, out.data(), 4096);
    for (float v : out) {
        ASSERT_EQ(v, 0.0f);
    }
}

struct TToneCase {
    const char* Name;
    float Frequency;
    TEndType EndType;
    bool Interpolate;
    std::vector<float> Ratios, Gains;
    float Resonance;
};

// A performance in blocks of uneven sizes: struck, rung out until the filters go quiet, struck
// softly, left until every line is silent, struck again, with the resonance moved on the way.
constexpr int BlockSizes[] = {128, 37, 300, 1, 256, 64, 1024, 7, 19};
constexpr int PerformanceLength = 60000;

// The playing values of block k, which starts at sample total.
void Steer(TPlay& play, const TToneCase& c, int total, int k) {
    if (total >= 3000 && total < 9000) {
        play.Pressure = 0.0f;
    } else if (total >= 9000 && total < 12000) {
        play.Pressure = 0.3f;
        play.Speed = 0.01f * static_cast<float>(k % 5);
        play.Resonance = c.Resonance * 0.999f;
    } else if (total >= 12000 && total < 57000) {
        play.Pressure = 0.0f;
    } else if (total >= 57000) {
        play.Pressure = 1.0f;
        play.Speed = 0.7f;
        play.StrikePosition = 0.9f;
    }
}

std::vector<float> Perform(const TToneCase& c,
                           const std::function<void(TWaveguidePlaying&, float*, int)>& render) {
    TPlay play(0.8f, 0.05f, c.Resonance, 0.2f);
    std::vector<float> out;
    std::vector<float> block(1024);
    int total = 0;
    for (int k = 0; total < PerformanceLength; ++k) {
        const int n = BlockSizes[k % 9];
        Steer(play, c, total, k);
        render(play, block.data(), n);
        out.insert(out.end(), block.begin(), block.begin() + n);
        total += n;
    }
    return out;
}

// Tones that reach every corner of the kernels.
std::vector<TToneCase> ToneCases() {
    return {
        {"four modes",
         523.25f,
         TEndType::Hinged,
         false,
         {1, 2.75715f, 5.40402f, 8.93317f},
         {1, 0.125f, 1.0f / 27, 0.0f},
         0.9989f},
        {"four modes, interpolated",
         523.25f,
         TEndType::Hinged,
         true,
         {1, 2.75715f, 5.40402f, 8.93317f},
         {1, 0.125f, 1.0f / 27, 0.0f},
         0.9989f},
        // Eleven bands: a second block of lanes, lines shorter than a vector, a quick decay
        // that leaves every line silent before the last strike.
        {"eleven short modes",
         1733.3f,
         TEndType::Fixed,
         false,
         {1, 1.5f, 2, 2.5f, 3, 3.5f, 4, 5, 6, 7, 9, 40},
         std::vector<float>(12, 0.5f),
         0.9f},
        {"eleven short modes, interpolated",
         1733.3f,
         TEndType::Fixed,
         true,
         {1, 1.5f, 2, 2.5f, 3, 3.5f, 4, 5, 6, 7, 9, 40},
         std::vector<float>(12, 0.5f),
         0.9f},
        {"one long mode", 61.7f, TEndType::Free, false, {1}, {1}, 0.99f},
        // A gain so small that the band's input is 0 at some samples and not at others: its
        // filter goes quiet before the others'.
        {"a gain at the edge of zero",
         440.0f,
         TEndType::Free,
         false,
         {1, 2.75715f, 5.40402f},
         {1, 1e-44f, 0.5f},
         0.999f},
        // Lines longer than most blocks that fall silent well before the last strike.
        {"quick decay", 200.0f, TEndType::Free, false, {1, 2.75715f}, {1, 0.5f}, 0.5f},
        {"quick decay, interpolated", 207.3f, TEndType::Free, true, {1, 2.75715f}, {1, 0.5f}, 0.5f},
    };
}

// Every processor family compiled in and run by this processor gives the samples of the plain
// per-sample formulas, bit for bit.
TEST(WaveguideBands, EveryVectorPathEqualsThePerSampleFormulas) {
    const std::vector<TToneCase> cases = ToneCases();
    const std::vector<int64_t> targets = bandkernels::AvailableTargets();
    std::string names;
    for (const int64_t t : targets) {
        names += " " + bandkernels::TargetName(t);
    }
    std::printf("vector paths run here:%s\n", names.c_str());
    ASSERT_FALSE(targets.empty());
    for (const TToneCase& c : cases) {
        TReferenceTone reference(c.Frequency, 48000, c.EndType, c.Interpolate, c.Ratios, c.Gains,
                                 77);
        const std::vector<float> expected =
            Perform(c, [&reference](TWaveguidePlaying& play, float* out, int n) {
                for (int i = 0; i < n; ++i) {
                    out[i] = reference.Tick(play);
                }
            });
        for (const int64_t t : targets) {
            bandkernels::UseTarget(t);
            ASSERT_EQ(bandkernels::ChosenTarget(), t) << bandkernels::TargetName(t);
            TWaveguideBands bands;
            bands.Build(c.Frequency, 48000, c.EndType, c.Interpolate, c.Ratios, c.Gains,
                        c.Resonance, 77);
            const std::vector<float> got =
                Perform(c, [&bands](TWaveguidePlaying& play, float* out, int n) {
                    bands.RenderBlock(play, out, n);
                });
            ASSERT_EQ(got.size(), expected.size());
            for (size_t i = 0; i < got.size(); ++i) {
                ASSERT_EQ(got[i], expected[i])
                    << c.Name << ", " << bandkernels::TargetName(t) << ", sample " << i;
            }
            EXPECT_NE(got.back(), 0.0f) << c.Name; // the last strike sounds
        }
        bandkernels::UseTarget(0);
    }
}

// All the cases rendered together, their filters sharing the vector registers, on every path:
// each tone still gives the samples of its own per-sample formulas.
TEST(WaveguideBands, TonesRenderedTogetherEqualThePerSampleFormulasOnEveryPath) {
    const std::vector<TToneCase> cases = ToneCases();
    ASSERT_LE(cases.size(), TWaveguideBands::MaxTogether);
    std::vector<std::vector<float>> expected;
    for (const TToneCase& c : cases) {
        TReferenceTone reference(c.Frequency, 48000, c.EndType, c.Interpolate, c.Ratios, c.Gains,
                                 77);
        expected.push_back(Perform(c, [&reference](TWaveguidePlaying& play, float* out, int n) {
            for (int i = 0; i < n; ++i) {
                out[i] = reference.Tick(play);
            }
        }));
    }
    for (const int64_t t : bandkernels::AvailableTargets()) {
        bandkernels::UseTarget(t);
        std::vector<TWaveguideBands> bands(cases.size());
        std::vector<std::unique_ptr<TPlay>> plays;
        std::vector<std::vector<float>> got(cases.size());
        std::vector<TWaveguideBands*> bandPointers;
        std::vector<const TWaveguidePlaying*> playPointers;
        for (size_t i = 0; i < cases.size(); ++i) {
            const TToneCase& c = cases[i];
            bands[i].Build(c.Frequency, 48000, c.EndType, c.Interpolate, c.Ratios, c.Gains,
                           c.Resonance, 77);
            plays.push_back(std::make_unique<TPlay>(0.8f, 0.05f, c.Resonance, 0.2f));
            bandPointers.push_back(&bands[i]);
            playPointers.push_back(plays[i].get());
        }
        std::vector<std::vector<float>> blocks(cases.size(), std::vector<float>(1024));
        std::vector<float*> outs;
        for (auto& b : blocks) {
            outs.push_back(b.data());
        }
        int total = 0;
        for (int k = 0; total < PerformanceLength; ++k) {
            const int n = BlockSizes[k % 9];
            for (size_t i = 0; i < cases.size(); ++i) {
                Steer(*plays[i], cases[i], total, k);
            }
            TWaveguideBands::RenderTogether(bandPointers, playPointers, outs.data(), n);
            for (size_t i = 0; i < cases.size(); ++i) {
                got[i].insert(got[i].end(), blocks[i].begin(), blocks[i].begin() + n);
            }
            total += n;
        }
        for (size_t i = 0; i < cases.size(); ++i) {
            ASSERT_EQ(got[i].size(), expected[i].size());
            for (size_t j = 0; j < got[i].size(); ++j) {
                ASSERT_EQ(got[i][j], expected[i][j])
                    << cases[i].Name << ", " << bandkernels::TargetName(t) << ", sample " << j;
            }
        }
    }
    bandkernels::UseTarget(0);
}

// Interpolated bands ring at their mode frequency.
TEST(WaveguideBands, InterpolatedBandsRingAtTheModeFrequency) {
    const double fs = 48000;
    const std::pair<float, double> cases[] = {{551.0f, 0.05}, {733.7f, 0.05}, {997.3f, 0.05},
                                              {1234.5f, 1.5}, {2718.3f, 1.5}, {4567.8f, 1.5}};
    for (const auto& [f, tolerance] : cases) {
        TWaveguideBands bands;
        bands.Build(f, static_cast<float>(fs), TEndType::Free, true, {1}, {1}, 0.99995f, 5);
        ASSERT_NE(std::fmod(fs / f, 1.0), 0.0);
        TPlay play(1.0f, 0.5f, 0.99995f);
        const size_t total = 48000 + 4096;
        std::vector<float> y(total);
        bands.RenderBlock(play, y.data(), 2048);
        play.Pressure = 0.0f;
        bands.RenderBlock(play, y.data() + 2048, static_cast<int>(total - 2048));
        // A second band-pass removes the comb's weak upper modes before counting crossings.
        TWaveguideBPFilter4p clean;
        clean.SetParams(f, static_cast<float>(fs), 4.0f);
        for (auto& v : y) {
            v = clean.Tick(v);
        }
        const double measured = ZeroCrossingFrequency(y, 12000, total, fs);
        const double cents = 1200.0 * std::log2(measured / f);
        EXPECT_LT(std::fabs(cents), tolerance) << f << " Hz rings at " << measured;
    }
}

// Whole-sample bands ring at the rate over their rounded length, which is what the bars' labels
// show then: 1681.8 Hz at 48 kHz rounds to 29 samples and rings 27 cents flat.
TEST(WaveguideBands, WholeSampleBandsRingWhereSoundingFrequencySays) {
    const double fs = 48000;
    for (const float f : {551.0f, 1021.3f, 1681.8f, 2718.3f}) {
        TWaveguideBands bands;
        bands.Build(f, static_cast<float>(fs), TEndType::Free, false, {1}, {1}, 0.99995f, 5);
        TPlay play(1.0f, 0.5f, 0.99995f);
        const size_t total = 48000 + 4096;
        std::vector<float> y(total);
        bands.RenderBlock(play, y.data(), 2048);
        play.Pressure = 0.0f;
        bands.RenderBlock(play, y.data() + 2048, static_cast<int>(total - 2048));
        const double said = SoundingFrequency(f, static_cast<float>(fs), false);
        TWaveguideBPFilter4p clean; // the comb's weak upper modes out, as above
        clean.SetParams(static_cast<float>(said), static_cast<float>(fs), 4.0f);
        for (auto& v : y) {
            v = clean.Tick(v);
        }
        const double measured = ZeroCrossingFrequency(y, 12000, total, fs);
        EXPECT_LT(std::fabs(1200.0 * std::log2(measured / said)), 0.5)
            << f << " Hz rings at " << measured << ", said " << said;
        EXPECT_EQ(SoundingFrequency(f, static_cast<float>(fs), true), f);
    }
    EXPECT_NEAR(SoundingFrequency(1681.8f, 48000.0f, false), 48000.0 / 29.0, 1e-3);
    // Nothing to round: the frequency as given, never a division by zero.
    EXPECT_EQ(SoundingFrequency(0.0f, 48000.0f, false), 0.0f);
    EXPECT_EQ(SoundingFrequency(440.0f, 0.0f, false), 440.0f);
    EXPECT_EQ(SoundingFrequency(30000.0f, 48000.0f, false), 24000.0f); // never below 2 samples
}

TEST(WaveguideBands, LongResonanceDecays) {
    for (bool interpolate : {false, true}) {
        TWaveguideBands bands;
        const std::vector<float> ratios{1, 2.75715f, 5.40402f, 8.93317f, 13.3446f, 18.6384f};
        bands.Build(1733.3f, 48000, TEndType::Free, interpolate, ratios,
                    std::vector<float>(6, 1.0f), 0.9999f, 9);
        TPlay play(1.0f, 1.0f, 0.9999f);
        std::vector<float> y(48000);
        bands.RenderBlock(play, y.data(), 4096);
        play.Pressure = 0.0f;
        std::vector<double> peaks;
        for (int second = 0; second < 6; ++second) {
            bands.RenderBlock(play, y.data(), 48000);
            double peak = 0;
            for (float v : y) {
                peak = std::max(peak, static_cast<double>(std::fabs(v)));
            }
            peaks.push_back(peak);
        }
        for (size_t i = 1; i < peaks.size(); ++i) {
            EXPECT_LT(peaks[i], peaks[i - 1])
                << "second " << i << (interpolate ? " interpolated" : "");
        }
        EXPECT_LT(peaks.back(), 0.5 * peaks.front());
    }
}

namespace {

// A 440 Hz band struck for 2048 samples, then rung out at `pitch`, bent from the start of the
// ringing; the output from the strike on, cleaned by a band-pass at the bent frequency.
std::vector<float> RingBent(bool interpolate, float pitch, float room = 16.0f) {
    const float fs = 48000, f = 440;
    TWaveguideBands bands;
    bands.Build(f, fs, TEndType::Free, interpolate, {1}, {1}, 0.99995f, 5, room);
    TPlay play(1.0f, 0.5f, 0.99995f);
    std::vector<float> y(48000);
    bands.RenderBlock(play, y.data(), 2048);
    play.Pressure = 0.0f;
    play.Pitch = pitch;
    for (int at = 2048; at < 48000; at += 256) {
        bands.RenderBlock(play, y.data() + at, std::min(256, 48000 - at));
    }
    EXPECT_FLOAT_EQ(bands.SoundingPitch(), std::max(pitch, 1.0f / room));
    return y;
}

double Cents(const std::vector<float>& y, double expected) {
    std::vector<float> clean = y;
    TWaveguideBPFilter4p filter;
    filter.SetParams(static_cast<float>(expected), 48000, 4.0f);
    for (auto& v : clean) {
        v = filter.Tick(v);
    }
    return 1200.0 * std::log2(ZeroCrossingFrequency(clean, 12000, clean.size(), 48000) / expected);
}

} // namespace

// A bent tone rings at its bent pitch, plain lines as exactly as interpolated ones, and so
// while it rings on from before the bend (its ring carries over into the longer one).
TEST(WaveguideBands, ABentToneRingsAtItsBentPitch) {
    for (bool interpolate : {true, false}) {
        for (const double semitones : {2.0, -7.0, -12.0, 0.5}) {
            const auto pitch = static_cast<float>(std::exp2(semitones / 12.0));
            const std::vector<float> y = RingBent(interpolate, pitch);
            EXPECT_LT(std::fabs(Cents(y, 440.0 * pitch)), 2.0)
                << semitones << " semitones" << (interpolate ? " interpolated" : "");
        }
    }
}

TEST(WaveguideBands, BendingDownStopsAtTheRoomTheRingsHave) {
    // Room for a fifth down: an octave down sounds a fifth down.
    const std::vector<float> y = RingBent(true, 0.5f, 1.5f);
    EXPECT_LT(std::fabs(Cents(y, 440.0 / 1.5)), 2.0);
}

// Entering the bend must not click: the ring is laid out anew under a sounding tone.
TEST(WaveguideBands, ABendThatStartsWhileTheToneRingsDoesNotJump) {
    TWaveguideBands bands;
    bands.Build(440, 48000, TEndType::Free, true, {1, 2.75715f}, {1, 1}, 0.9999f, 5, 16.0f);
    TPlay play(1.0f, 0.5f, 0.9999f);
    std::vector<float> y(8192);
    bands.RenderBlock(play, y.data(), 2048);
    play.Pressure = 0.0f;
    bands.RenderBlock(play, y.data() + 2048, 2048);
    play.Pitch = 1.0001f;
    bands.RenderBlock(play, y.data() + 4096, 4096);
    double before = 0, across = 0;
    for (size_t i = 2048; i < 4095; ++i) {
        before = std::max(before, static_cast<double>(std::fabs(y[i + 1] - y[i])));
    }
    for (size_t i = 4095; i < 4200; ++i) {
        across = std::max(across, static_cast<double>(std::fabs(y[i + 1] - y[i])));
    }
    EXPECT_GT(before, 0.0);
    EXPECT_LT(across, 1.2 * before);
}

// Back at pitch 1 once silent, a tone takes the unbent path again and sounds as one never bent
// (all but what its filters' quiet states kept of the bent ringing).
TEST(WaveguideBands, ABentToneBackAtRestSoundsAsOneNeverBent) {
    auto render = [](bool bend) {
        TWaveguideBands bands;
        bands.Build(440, 48000, TEndType::Free, true, {1, 2.75715f}, {1, 1}, 0.99f, 5, 16.0f);
        TPlay play(1.0f, 0.5f, 0.99f);
        std::vector<float> y(4096);
        bands.RenderBlock(play, y.data(), 1024);
        play.Pressure = 0.0f;
        if (bend) {
            play.Pitch = 1.5f;
        }
        for (int i = 0; i < 200; ++i) { // rings out to silence
            bands.RenderBlock(play, y.data(), 4096);
        }
        EXPECT_EQ(bands.Bent(), bend);
        play.Pitch = 1.0f;
        bands.RenderBlock(play, y.data(), 256); // silent: the bend ends
        EXPECT_FALSE(bands.Bent());
        play.Pressure = 1.0f;
        play.Speed = 0.4f; // a new stroke
        bands.RenderBlock(play, y.data(), 4096);
        return y;
    };
    const std::vector<float> bent = render(true), never = render(false);
    double peak = 0, off = 0;
    for (size_t i = 0; i < never.size(); ++i) {
        peak = std::max(peak, static_cast<double>(std::fabs(never[i])));
        off = std::max(off, static_cast<double>(std::fabs(bent[i] - never[i])));
    }
    EXPECT_GT(peak, 0.0);
    EXPECT_LT(off, 1e-3 * peak); // -60 dB
}
