#include "dsp/WaveguideBands.h"

#include <gtest/gtest.h>

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
    bands.Build(1000, 44100, 1, false, {1, 2.7571f, 5.4040f, 30.0f}, {1, 1, 1, 1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 3);
    bands.Build(1000, 44100, 1, false, {1, 30.0f, 2.0f}, {1, 1, 1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 1);   // the lower mode after 30 kHz is not used
    EXPECT_EQ(bands.DelaySize(0), 44); // round(44.1)
    bands.Build(30000, 44100, 1, false, {1}, {1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 0);
}

TEST(WaveguideBands, MemoryStaysBoundedWhateverTheFrequency) {
    TWaveguideBands bands;
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    bands.Build(200, 48000, 1, true, {nan, -1.0f, 0.0f, 1e-6f, 0.004f, 1.0f}, {1, 1, 1, 1, 1, 1},
                0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 1); // only 200 Hz; 0.8 Hz would need 60000 samples
    bands.Build(0.5f, 48000, 1, false, {1, 2}, {1, 1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 1); // 1 Hz exactly one second long is kept
    EXPECT_EQ(bands.DelaySize(0), 48000);
    bands.Build(200, inf, 1, false, {1}, {1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 0);
    bands.Build(200, 1e12f, 1, false, {1}, {1}, 0.999f, 1);
    EXPECT_EQ(bands.BandCount(), 0);
}

TEST(WaveguideBands, RampAndEnvelopeLengths) {
    const std::pair<float, std::pair<int, int>> rates[] = {
        {44100.0f, {470, 7526}}, {48000.0f, {512, 8192}}, {96000.0f, {1024, 16384}}};
    for (const auto& [fs, lengths] : rates) {
        TWaveguideBands bands;
        bands.Build(200, fs, 1, false, {1}, {1}, 0.999f, 1);
        EXPECT_EQ(bands.Excitation.RampLength, lengths.first);
        EXPECT_EQ(bands.Excitation.EnvelopeLength, lengths.second);
    }
}

TEST(WaveguideBands, PressureRampReachesExactlyOneIn512Steps) {
    TWaveguideBands bands;
    bands.Build(200, 48000, 1, false, {1}, {1}, 0.999f, 1);
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
    bands.Build(200, 48000, 1, false, {1}, {1}, 0.999f, 1);
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
        bands.Build(200, 48000, 2, false, {1}, {1}, 0.999f, 7);
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
    bands.Build(200, 48000, 1, true, {1, 2.75715f}, {1, 0.125f}, 0.999f, 3);
    TPlay play(0.0f, 0.3f, 0.999f);
    std::vector<float> out(4096, 1.0f);
    bands.RenderBlock(play, out.data(), 4096);
    for (float v : out) {
        ASSERT_EQ(v, 0.0f);
    }
}

// The plain per-sample formulas of a tone: one filter Tick and one delay Tick per band and
// sample, the excitation computed sample by sample.
class TReferenceTone {
public:
    TReferenceTone(float f, float fs, int32_t endType, bool interpolate,
                   const std::vector<float>& ratios, const std::vector<float>& gains,
                   uint32_t seed) {
        Shape.Reset(fs, endType, seed);
        for (size_t b = 0; b < ratios.size(); ++b) {
            const float fm = ratios[b] * f;
            if (fm > fs / 2) {
                break;
            }
            Filters.emplace_back();
            Filters.back().SetParams(fm, fs, 4.0f);
            if (interpolate) {
                Delays.push_back(std::make_unique<TWaveguideInterpolatedDelay>(fs / fm));
            } else {
                Delays.push_back(std::make_unique<TWaveguideDelay>(std::lrint(fs / fm)));
            }
            Gains.push_back(gains[b]);
        }
        Quiet.assign(Gains.size(), 0);
    }

    float Tick(const TWaveguidePlaying& in) {
        TExcitation& e = Shape;
        const float pressure = in.Pressure, speed = std::fabs(in.Speed.load());
        if (e.LevelTarget != pressure) {
            e.LevelTarget = pressure;
            e.LevelStep = (e.LevelTarget - e.Level) * e.RampLengthReciprocal;
            e.RampPosition = 0;
        }
        if (e.Level != e.LevelTarget) {
            if (e.RampPosition >= e.RampLength) {
                e.Level = e.LevelTarget;
            } else {
                e.Level = e.Level + e.LevelStep;
                ++e.RampPosition;
            }
        }
        if (speed != e.EnvelopeTarget) {
            e.EnvelopeTarget = speed;
            e.EnvelopeStep = (e.EnvelopeTarget - e.Envelope) * e.HalfEnvelopeReciprocal;
            e.EnvelopePosition = 0;
            e.EnvelopeFalling = false;
        }
        const double noise = (2.0 * e.NextNoise() - 1.0) * e.Level * e.Envelope;
        const float distance = std::fabs(in.StrikePosition - e.StrikeCentre) * e.StrikeFalloff;
        const float x0 = static_cast<float>((1.0f - distance) * noise);
        const float feedback =
            (1.0f - distance * 0.01f * e.Level) * ((1.0f - e.Level / 100.0f) * in.Resonance);
        float sum = 0.0f;
        for (size_t b = 0; b < Filters.size(); ++b) {
            float x = x0 * Gains[b];
            if (x == 0.0f) {
                if (Quiet[b] < 1000) {
                    ++Quiet[b];
                    x = Filters[b].Tick(x);
                }
            } else {
                x = Filters[b].Tick(x);
                Quiet[b] = 0;
            }
            Delays[b]->Feedback = feedback;
            sum = sum + Delays[b]->Tick(x);
        }
        if (static_cast<float>(e.EnvelopePosition) < e.EnvelopeLength / 2.0f) {
            e.Envelope = e.Envelope + e.EnvelopeStep;
            ++e.EnvelopePosition;
        } else {
            if (!e.EnvelopeFalling) {
                e.EnvelopeStep = e.Envelope * e.HalfEnvelopeReciprocal;
                e.EnvelopeFalling = true;
            }
            if (e.EnvelopePosition == e.EnvelopeLength - 1) {
                e.Envelope = 0.0f;
                ++e.EnvelopePosition;
            }
            if (e.EnvelopePosition < e.EnvelopeLength) {
                e.Envelope = e.Envelope - e.EnvelopeStep;
                ++e.EnvelopePosition;
            }
        }
        return sum;
    }

private:
    TExcitation Shape; // its state only: the reference computes every sample itself
    std::vector<TWaveguideBPFilter4p> Filters;
    std::vector<std::unique_ptr<TWaveguideDelay>> Delays;
    std::vector<float> Gains;
    std::vector<int32_t> Quiet;
};

struct TToneCase {
    const char* Name;
    float Frequency;
    int32_t EndType;
    bool Interpolate;
    std::vector<float> Ratios, Gains;
    float Resonance;
};

// A performance in blocks of uneven sizes: struck, rung out until the filters go quiet, struck
// softly, left until every line is silent, struck again, with the resonance moved on the way.
std::vector<float> Perform(const TToneCase& c,
                           const std::function<void(TWaveguidePlaying&, float*, int)>& render) {
    TPlay play(0.8f, 0.05f, c.Resonance, 0.2f);
    const int sizes[] = {128, 37, 300, 1, 256, 64, 1024, 7, 19};
    std::vector<float> out;
    std::vector<float> block(1024);
    int total = 0;
    for (int k = 0; total < 60000; ++k) {
        const int n = sizes[k % 9];
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
        render(play, block.data(), n);
        out.insert(out.end(), block.begin(), block.begin() + n);
        total += n;
    }
    return out;
}

// Every processor family compiled in and run by this processor gives the samples of the plain
// per-sample formulas, bit for bit.
TEST(WaveguideBands, EveryVectorPathEqualsThePerSampleFormulas) {
    const TToneCase cases[] = {
        {"four modes",
         523.25f,
         3,
         false,
         {1, 2.75715f, 5.40402f, 8.93317f},
         {1, 0.125f, 1.0f / 27, 0.0f},
         0.9989f},
        {"four modes, interpolated",
         523.25f,
         3,
         true,
         {1, 2.75715f, 5.40402f, 8.93317f},
         {1, 0.125f, 1.0f / 27, 0.0f},
         0.9989f},
        // Eleven bands: a second block of lanes, lines shorter than a vector, a quick decay
        // that leaves every line silent before the last strike.
        {"eleven short modes",
         1733.3f,
         2,
         false,
         {1, 1.5f, 2, 2.5f, 3, 3.5f, 4, 5, 6, 7, 9, 40},
         std::vector<float>(12, 0.5f),
         0.9f},
        {"eleven short modes, interpolated",
         1733.3f,
         2,
         true,
         {1, 1.5f, 2, 2.5f, 3, 3.5f, 4, 5, 6, 7, 9, 40},
         std::vector<float>(12, 0.5f),
         0.9f},
        {"one long mode", 61.7f, 1, false, {1}, {1}, 0.99f},
        // A gain so small that the band's input is 0 at some samples and not at others: its
        // filter goes quiet before the others'.
        {"a gain at the edge of zero",
         440.0f,
         1,
         false,
         {1, 2.75715f, 5.40402f},
         {1, 1e-44f, 0.5f},
         0.999f},
        // Lines longer than most blocks that fall silent well before the last strike.
        {"quick decay", 200.0f, 1, false, {1, 2.75715f}, {1, 0.5f}, 0.5f},
        {"quick decay, interpolated", 207.3f, 1, true, {1, 2.75715f}, {1, 0.5f}, 0.5f},
    };
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

// Interpolated bands ring at their mode frequency.
TEST(WaveguideBands, InterpolatedBandsRingAtTheModeFrequency) {
    const double fs = 48000;
    const std::pair<float, double> cases[] = {{551.0f, 0.05}, {733.7f, 0.05}, {997.3f, 0.05},
                                              {1234.5f, 1.5}, {2718.3f, 1.5}, {4567.8f, 1.5}};
    for (const auto& [f, tolerance] : cases) {
        TWaveguideBands bands;
        bands.Build(f, static_cast<float>(fs), 1, true, {1}, {1}, 0.99995f, 5);
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

TEST(WaveguideBands, LongResonanceDecays) {
    for (bool interpolate : {false, true}) {
        TWaveguideBands bands;
        const std::vector<float> ratios{1, 2.75715f, 5.40402f, 8.93317f, 13.3446f, 18.6384f};
        bands.Build(1733.3f, 48000, 1, interpolate, ratios, std::vector<float>(6, 1.0f), 0.9999f,
                    9);
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
