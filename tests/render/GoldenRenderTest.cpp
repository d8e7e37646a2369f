// Short renders of the example performances: their bytes are pinned by a checksum, and a few
// facts of their sound are checked directly.
#include "ToolRun.h"
#include "dsp/BarModes.h"
#include "engine/NullHost.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>
#include <unistd.h>

using namespace varko;

namespace {

const std::string Examples = VARKO_EXAMPLES_DIR;

std::string TempPath(const std::string& name) {
    return (std::filesystem::temp_directory_path() /
            ("varko-golden-" + std::to_string(::getpid()) + "-" + name))
        .string();
}

int Render(std::vector<std::string> args) {
    std::FILE* sink = std::tmpfile();
    const int status = RunRenderTool(args, sink, sink);
    std::fclose(sink);
    return status;
}

// FNV-1a over the file's bytes.
uint64_t Checksum(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint64_t h = 1469598103934665603ull;
    for (const char c : bytes) {
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return h;
}

struct Audio {
    int Rate = 0;
    std::vector<float> Left, Right;
};

Audio Read(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    Audio a;
    if (f == nullptr) {
        return a;
    }
    std::vector<float> inter(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, inter.data(), info.frames);
    sf_close(f);
    a.Rate = info.samplerate;
    for (sf_count_t i = 0; i < info.frames; ++i) {
        a.Left.push_back(inter[static_cast<size_t>(i * info.channels)]);
        a.Right.push_back(inter[static_cast<size_t>(i * info.channels + 1)]);
    }
    return a;
}

double Rms(const std::vector<float>& x, double from, double to, int rate) {
    const auto a = static_cast<size_t>(from * rate);
    const auto b = std::min(x.size(), static_cast<size_t>(to * rate));
    double s = 0;
    for (size_t i = a; i < b; ++i) {
        s += static_cast<double>(x[i]) * x[i];
    }
    return b > a ? std::sqrt(s / static_cast<double>(b - a)) : 0.0;
}

// Power at frequency f of a windowed block (Goertzel).
double Power(const std::vector<double>& w, double f, int rate) {
    const double c = 2 * std::cos(2 * M_PI * f / rate);
    double s1 = 0, s2 = 0;
    for (const double x : w) {
        const double s0 = x + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - c * s1 * s2;
}

// The strongest frequency between lo and hi hertz in one second from `from`: a 2 Hz search,
// then a 0.1 Hz one around the best.
double PeakFrequency(const std::vector<float>& x, double from, int rate, double lo, double hi) {
    const auto a = static_cast<size_t>(from * rate);
    const size_t n = std::min<size_t>(static_cast<size_t>(rate), x.size() - a);
    std::vector<double> w(n);
    for (size_t i = 0; i < n; ++i) {
        w[i] = x[a + i] * (0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / n));
    }
    auto search = [&](double from, double to, double step) {
        double best = -1, bestF = from;
        for (double f = from; f <= to; f += step) {
            const double p = Power(w, f, rate);
            if (p > best) {
                best = p;
                bestF = f;
            }
        }
        return bestF;
    };
    const double coarse = search(lo, hi, 2.0);
    return search(coarse - 2.0, coarse + 2.0, 0.1);
}

struct Golden {
    const char* Gesture;
    uint64_t Checksum;
};

} // namespace

class GoldenRender : public ::testing::TestWithParam<std::tuple<Golden, const char*>> {};

// The checksums were taken when every tone had a thread of its own: the calling thread and a
// pool render the same bytes.
TEST_P(GoldenRender, ChecksumIsPinned) {
    const auto& [golden, threads] = GetParam();
    const std::string out = TempPath(std::string(golden.Gesture) + ".wav");
    std::vector<std::string> args{"--scale",
                                  Examples + "/scales/12-equal.scl",
                                  "--up",
                                  "1",
                                  "--gesture",
                                  Examples + "/gestures/" + golden.Gesture + ".txt",
                                  "--seconds",
                                  "1.5",
                                  "--format",
                                  "wav16",
                                  "--no-interpolate",
                                  "-o",
                                  out};
    if (threads[0] != '\0') {
        args.insert(args.end(), {"--threads", threads});
    }
    ASSERT_EQ(Render(args), 0);
    EXPECT_EQ(Checksum(out), golden.Checksum) << std::hex << Checksum(out);
    std::remove(out.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, GoldenRender,
    ::testing::Combine(::testing::Values(Golden{"glissando", 12446191579229331826ull},
                                         Golden{"roll", 234357422311283587ull},
                                         Golden{"drag", 5843644529828153806ull}),
                       ::testing::Values("", "1", "3")),
    [](const auto& info) {
        const char* threads = std::get<1>(info.param);
        return std::string(std::get<0>(info.param).Gesture) +
               (threads[0] != '\0' ? std::string("Pool") + threads : std::string("Inline"));
    });

TEST(GoldenSound, RollRingsAtItsBarsFundamental) {
    // x = 0.31 of a 700-pixel zone of 25 bars (28 pixels wide) is bar 7: 200 x 2^(7/12) Hz.
    const std::string out = TempPath("roll-spectrum.wav");
    ASSERT_EQ(Render({"--scale", Examples + "/scales/12-equal.scl", "--up", "1", "--gesture",
                      Examples + "/gestures/roll.txt", "-o", out}),
              0);
    const Audio a = Read(out);
    std::remove(out.c_str());
    ASSERT_EQ(a.Rate, 48000);
    const double expected = 200.0 * std::pow(2.0, 7.0 / 12.0);
    EXPECT_NEAR(PeakFrequency(a.Left, 3.2, a.Rate, 100, 1000), expected, expected * 0.01);
    // The roll sounds while it plays and rings out, quieter, after the lift.
    EXPECT_GT(Rms(a.Left, 1.0, 2.0, a.Rate), 1e-3);
    EXPECT_LT(Rms(a.Left, 4.5, 5.0, a.Rate), Rms(a.Left, 1.0, 2.0, a.Rate));
}

TEST(GoldenSound, DragRingsAtItsBarsFundamentalAndPansRight) {
    // x = 0.52 is bar 13 of 25: 200 x 2^(13/12) Hz, right of the middle.
    const std::string out = TempPath("drag-spectrum.wav");
    ASSERT_EQ(Render({"--scale", Examples + "/scales/12-equal.scl", "--up", "1", "--gesture",
                      Examples + "/gestures/drag.txt", "-o", out}),
              0);
    const Audio a = Read(out);
    std::remove(out.c_str());
    const double expected = 200.0 * std::pow(2.0, 13.0 / 12.0);
    EXPECT_NEAR(PeakFrequency(a.Right, 3.0, a.Rate, 100, 1000), expected, expected * 0.01);
    // Tone 13 of 25: weight 12/25 on the left, 14/25 on the right.
    const double ratio = Rms(a.Right, 1.0, 4.0, a.Rate) / Rms(a.Left, 1.0, 4.0, a.Rate);
    EXPECT_NEAR(ratio, 14.0 / 12.0, 0.01);
}

// Whole-sample delay lines put neighbouring degrees of 53 equal steps on one pitch above 1 kHz;
// by default every bar sounds where its label says.
TEST(GoldenSound, EveryBarOf53EqualStepsFrom1kHzIsWithinACentByDefault) {
    const std::string scale = TempPath("53-equal.scl"), script = TempPath("53-strike.txt"),
                      out = TempPath("53-equal.wav");
    {
        std::ofstream scl(scale);
        scl << "! 53-equal.scl\n53 equal steps of the octave\n53\n!\n"
            << std::fixed << std::setprecision(6);
        for (int i = 1; i <= 53; ++i) {
            scl << 1200.0 * i / 53 << "\n";
        }
        // Every bar struck at once, then let ring: the bars lie 13 Hz and more apart.
        std::ofstream g(script);
        for (int i = 0; i <= 53; ++i) {
            g << "tone 0 " << i << " 0.5 1 0.3\ntone 0.05 " << i << " 0 0 0.3\n";
        }
    }
    ASSERT_EQ(Render({"--scale", scale, "--initial-frequency", "1000", "--gesture", script,
                      "--resonance", "0", "--seconds", "2.5", "-o", out}),
              0);
    const Audio a = Read(out);
    ASSERT_EQ(a.Rate, 48000);
    // Both channels, Hann-windowed once over 1.5 s from 0.5 s.
    const size_t from = 24000, n = 72000;
    ASSERT_GE(a.Left.size(), from + n);
    std::vector<double> w(n);
    for (size_t i = 0; i < n; ++i) {
        w[i] = (a.Left[from + i] + a.Right[from + i]) *
               (0.5 - 0.5 * std::cos(2 * M_PI * static_cast<double>(i) / n));
    }
    double worst = 0;
    for (int i = 0; i <= 53; ++i) {
        const double f = 1000.0 * std::pow(2.0, i / 53.0);
        const double step = f * (std::pow(2.0, 1.0 / 53.0) - 1.0);
        // Coarse then fine: the strongest frequency within half a step of the bar's.
        double best = -1, at = f;
        for (double g = f - step / 2; g <= f + step / 2; g += 0.25) {
            if (const double p = Power(w, g, a.Rate); p > best) {
                best = p;
                at = g;
            }
        }
        for (double g = at - 0.25; g <= at + 0.25; g += 0.02) {
            if (const double p = Power(w, g, a.Rate); p > best) {
                best = p;
                at = g;
            }
        }
        const double cents = 1200.0 * std::log2(at / f);
        worst = std::max(worst, std::abs(cents));
        EXPECT_LT(std::abs(cents), 1.0) << "bar " << i << " (" << f << " Hz) sounds " << at;
    }
    RecordProperty("WorstCents", std::to_string(worst));
    std::remove(scale.c_str());
    std::remove(script.c_str());
    std::remove(out.c_str());
}

// The README's roll went to +3.6 dBFS and, written as 16 bits, clipped thousands of samples
// without a word.
TEST(GoldenSound, TheRollClipsWithAWarningAndStaysBelowFullScaleWithTheLimiter) {
    const std::string plain = TempPath("roll16.wav"), limited = TempPath("roll16-limited.wav");
    const std::vector<std::string> roll{
        "--scale",   Examples + "/scales/12-equal.scl", "--up",     "1",
        "--gesture", Examples + "/gestures/roll.txt",   "--format", "wav16"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> v = roll;
        v.insert(v.end(), extra.begin(), extra.end());
        return v;
    };
    const test::TRun loud = test::RunTool(with({"-o", plain}));
    ASSERT_EQ(loud.Status, 0) << loud.Out;
    EXPECT_NE(loud.Out.find("samples clipped (peak +"), std::string::npos) << loud.Out;
    const test::TRun quiet = test::RunTool(with({"--limit", "-o", limited}));
    ASSERT_EQ(quiet.Status, 0) << quiet.Out;
    EXPECT_EQ(quiet.Out.find("clipped"), std::string::npos) << quiet.Out;
    const Audio a = Read(limited);
    ASSERT_FALSE(a.Left.empty());
    float peak = 0.0f;
    for (size_t i = 0; i < a.Left.size(); ++i) {
        peak = std::max({peak, std::fabs(a.Left[i]), std::fabs(a.Right[i])});
    }
    EXPECT_LT(peak, 0.95f); // -0.45 dBFS
    EXPECT_GT(peak, 0.5f);
    std::remove(plain.c_str());
    std::remove(limited.c_str());
}

// The examples and --demo ended two seconds after their last event, with their bars still
// ringing; they now end once the sound is below a 16-bit step.
TEST(GoldenSound, ExamplesEndOnceTheirSoundHasDiedAway) {
    const auto lastEvent = [](const std::string& script) {
        std::ifstream in(script);
        double last = 0;
        for (std::string kind, line; std::getline(in, line);) {
            std::istringstream words(line);
            double t = 0;
            if (words >> kind >> t && kind[0] != '#') {
                last = std::max(last, t);
            }
        }
        return last;
    };
    const std::string demo = TempPath("demo.wav"), roll = TempPath("roll.wav");
    const std::string rollScript = Examples + "/gestures/roll.txt";
    ASSERT_EQ(Render({"--demo", "-o", demo}), 0);
    ASSERT_EQ(Render({"--scale", Examples + "/scales/12-equal.scl", "--up", "1", "--gesture",
                      rollScript, "-o", roll}),
              0);
    for (const auto& [path, last] :
         {std::pair{demo, lastEvent(Examples + "/gestures/glissando.txt")},
          std::pair{roll, lastEvent(rollScript)}}) {
        SCOPED_TRACE(path);
        const Audio a = Read(path);
        ASSERT_EQ(a.Rate, 48000);
        const double seconds = static_cast<double>(a.Left.size()) / a.Rate;
        ASSERT_GT(last, 1.0);
        // Still sounding where the output used to end.
        EXPECT_GT(Rms(a.Left, last + 1.9, last + 2.0, a.Rate), 1e-4);
        EXPECT_GT(seconds, last + 2.0);
        EXPECT_LT(seconds, last + TTailEnd::CapSeconds);
        float end = 0;
        for (size_t i = a.Left.size() - 4800; i < a.Left.size(); ++i) {
            end = std::max({end, std::fabs(a.Left[i]), std::fabs(a.Right[i])});
        }
        EXPECT_LT(end, 1.0f / 32768.0f) << "the output ends while sounding";
        std::remove(path.c_str());
    }
}

// A sound that never dies away ends at the cap, and says so; a quiet moment between the events
// does not end it early.
TEST(GoldenSound, TailEndsWhenQuietAfterTheLastEventOrAtTheCap) {
    TTailEnd quiet(2.0);
    double t = 0;
    for (; t < 1.0; t += 0.01) {
        ASSERT_FALSE(quiet.Over(t, 0.0f)) << t; // before the last event
    }
    for (; t < 3.0; t += 0.01) {
        ASSERT_FALSE(quiet.Over(t, 0.01f)) << t; // ringing
    }
    EXPECT_FALSE(quiet.Over(3.05, 0.0f));
    EXPECT_TRUE(quiet.Over(3.11, 0.0f));
    EXPECT_FALSE(quiet.Capped());

    TTailEnd endless(1.0);
    bool over = false;
    for (t = 0.01; !over && t < 100.0; t += 0.01) {
        over = endless.Over(t, 0.5f);
    }
    EXPECT_NEAR(t, 1.0 + TTailEnd::CapSeconds, 0.02);
    EXPECT_TRUE(endless.Capped());
}

TEST(GoldenSound, SameSeedSameBytesOtherSeedOtherBytes) {
    const std::string a = TempPath("seed-a.wav"), b = TempPath("seed-b.wav"),
                      c = TempPath("seed-c.wav");
    const std::vector<std::string> base{"--scale",   Examples + "/scales/just-12.scl",
                                        "--gesture", Examples + "/gestures/glissando.txt",
                                        "--seconds", "1"};
    auto with = [&](std::vector<std::string> extra) {
        std::vector<std::string> v = base;
        v.insert(v.end(), extra.begin(), extra.end());
        return v;
    };
    ASSERT_EQ(Render(with({"-o", a})), 0);
    ASSERT_EQ(Render(with({"-o", b})), 0);
    ASSERT_EQ(Render(with({"--seed", "7", "-o", c})), 0);
    EXPECT_EQ(Checksum(a), Checksum(b));
    EXPECT_NE(Checksum(a), Checksum(c));
    std::remove(a.c_str());
    std::remove(b.c_str());
    std::remove(c.c_str());
}

TEST(RenderTool, MissingFilesAndBadScriptsFailWithAMessage) {
    const std::string out = TempPath("bad.wav");
    EXPECT_NE(Render({"--scale", "/nonexistent.scl", "-o", out}), 0);
    EXPECT_NE(Render({"--scale", Examples + "/scales/12-equal.scl", "--modes", "/nonexistent.vmod",
                      "-o", out}),
              0);
    const std::string script = TempPath("bad-script.txt");
    std::ofstream(script) << "pen 0 0.5 0.5 0.5\ntone 0.1 99 1 0.1 0.5\n";
    EXPECT_NE(
        Render({"--scale", Examples + "/scales/12-equal.scl", "--gesture", script, "-o", out}), 0);
    EXPECT_FALSE(std::filesystem::exists(out)); // no half-written output left behind
    std::remove(script.c_str());
}

TEST(RenderTool, PrintTonesGivesNumbersThatReadBackExactly) {
    const std::string scale = TempPath("latin1.scl");
    std::ofstream(scale, std::ios::binary) << "! x\nCaf\xe9 scale\n2\n3/2\n2/1\n";
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ASSERT_EQ(RunRenderTool({"--scale", scale, "--up", "1", "--print-tones"}, out, err), 0);
    std::rewind(out);
    std::string json;
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) {
        json.append(buf, n);
    }
    std::fclose(out);
    std::fclose(err);
    std::remove(scale.c_str());
    EXPECT_NE(json.find("\"description\": \"Caf\\u00e9 scale\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"degrees\": [1, 1.5, 2]"), std::string::npos) << json;
    EXPECT_NE(json.find("\"tones\": [1, 1.5, 2, 3, 4]"), std::string::npos) << json;
    // The free bar's second mode, printed shortest, reads back as the same float.
    const float second = UniformBarRatio(TEndType::Free, 2);
    char printed[32];
    const auto [end, ec] = std::to_chars(printed, printed + sizeof printed, second);
    ASSERT_EQ(ec, std::errc());
    const std::string text(printed, end);
    EXPECT_NE(json.find("{\"ratios\": [1, " + text), std::string::npos) << json;
    EXPECT_EQ(std::strtof(text.c_str(), nullptr), second);
}

// The bars' light: the mixer tells each tone's level, and only the sounding bar has one.
TEST(GoldenSound, OnlyTheRolledBarReportsALevel) {
    TRenderOptions o;
    o.Scale = Examples + "/scales/12-equal.scl";
    o.Up = 1;
    TRenderSession session;
    std::string error;
    ASSERT_TRUE(session.Prepare(o, error)) << error;
    ASSERT_TRUE(session.Build(std::make_unique<TNullHost>(48000.0, 256u, false), error)) << error;
    const auto script = LoadGestureScript(Examples + "/gestures/roll.txt", error);
    ASSERT_TRUE(script) << error;
    ASSERT_TRUE(session.RenderOffline(
        *script, 1.0, [](const float*, size_t) { return true; }, {}, error))
        << error;
    const std::vector<float> levels = session.Instrument.Audio().TakeToneLevels();
    ASSERT_EQ(levels.size(), 25u);
    for (size_t t = 0; t < levels.size(); ++t) {
        if (t == 7) {
            EXPECT_GT(levels[t], 0.01f);
        } else {
            EXPECT_EQ(levels[t], 0.0f) << t;
        }
    }
    // Taken: none until the next blocks.
    EXPECT_EQ(session.Instrument.Audio().TakeToneLevels()[7], 0.0f);
}
