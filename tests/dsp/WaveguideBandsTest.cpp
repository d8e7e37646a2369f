#include "dsp/WaveguideBands.h"

#include <gtest/gtest.h>

#include <cmath>
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
    EXPECT_EQ(bands.BandCount(), 1);      // the lower mode after 30 kHz is not used
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

// The block-major renderer gives the same samples as the plain per-sample formulas.
TEST(WaveguideBands, BlockRenderEqualsPerSampleReference) {
    for (bool interpolate : {false, true}) {
        const std::vector<float> ratios{1, 2.75715f, 5.40402f, 8.93317f};
        const std::vector<float> gains{1, 0.125f, 1.0f / 27, 0.0f};
        TWaveguideBands fast, excitation;
        fast.Build(523.25f, 48000, 3, interpolate, ratios, gains, 0.9989f, 42);
        excitation.Build(523.25f, 48000, 3, interpolate, ratios, gains, 0.9989f, 42);
        std::vector<TWaveguideBPFilter4p> filters(4);
        std::vector<std::unique_ptr<TWaveguideDelay>> delays;
        for (int b = 0; b < 4; ++b) {
            const float fm = ratios[b] * 523.25f;
            filters[b].SetParams(fm, 48000, 4.0f);
            if (interpolate) {
                delays.push_back(std::make_unique<TWaveguideInterpolatedDelay>(48000 / fm));
            } else {
                delays.push_back(std::make_unique<TWaveguideDelay>(std::lrint(48000 / fm)));
            }
        }
        std::vector<int32_t> quiet(4, 0);
        TPlay play(0.8f, 0.05f, 0.9989f, 0.2f);
        std::vector<float> out(256), x0(256), fb(256);
        for (int block = 0; block < 60; ++block) {
            if (block == 10) {
                play.Pressure = 0.0f; // rings out; filters go quiet after 1000 zeros
            }
            if (block == 40) {
                play.Pressure = 0.3f;
                play.Speed = 0.01f;
            }
            fast.RenderBlock(play, out.data(), 256);
            excitation.Excitation.Render(play, x0.data(), fb.data(), 256);
            for (int n = 0; n < 256; ++n) {
                float sum = 0.0f;
                for (int b = 0; b < 4; ++b) {
                    float x = x0[n] * gains[b];
                    if (x == 0.0f) {
                        if (quiet[b] < 1000) {
                            ++quiet[b];
                            x = filters[b].Tick(x);
                        }
                    } else {
                        x = filters[b].Tick(x);
                        quiet[b] = 0;
                    }
                    delays[b]->Feedback = fb[n];
                    sum = sum + delays[b]->Tick(x);
                }
                ASSERT_EQ(out[n], sum) << "block " << block << " sample " << n;
            }
        }
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
