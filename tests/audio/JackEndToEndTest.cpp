// Plays through the JACK driver into a JACK server of the test's own and listens to what
// arrives at the server's playback ports.
#include "HostedEngine.h"
#include "JackServer.h"
#include "audio/AsioHost.h"
#include "audio/RtAudioDriver.h"
#include "engine/AudioEngine.h"
#include "engine/ToneBank.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <numbers>

namespace varko::test {
namespace {

constexpr unsigned Rate = 48000;
constexpr unsigned Period = 1024;
// Tone 1 of the four (200 Hz times 2.205): weighted (N - t)/N = 0.75 on the left
// and (t + 1)/N = 0.5 on the right.
constexpr double ToneHz = 441.0;
constexpr float LeftWeight = 0.75f, RightWeight = 0.5f;

class JackEndToEnd : public THostedEngineTest<::testing::Test> {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.Start()) << "jackd did not start";
        AttachEngine();
        const auto& list = host_->DriverList();
        auto it = std::find(list.begin(), list.end(), "JACK: system");
        std::string names;
        for (const std::string& name : list) {
            names += "[" + name + "] ";
        }
        ASSERT_NE(it, list.end()) << "no JACK driver listed: " << names;
        jackIndex_ = static_cast<int>(it - list.begin());
    }
    void TearDown() override {
        server_.Resume();
        capture_.reset();
        engine_.reset();
        server_.Stop();
    }

    // Selects the JACK driver, builds the bank and starts the engine with tone 1 held.
    void Play() {
        host_->SetDriverIndex(jackIndex_);
        ASSERT_NO_FATAL_FAILURE(Build());
        engine_->Start();
        ASSERT_TRUE(host_->Active()) << host_->DriverErrorMessage();
        heldTone_ = 1;
    }
    void Listen() {
        capture_ = std::make_unique<TJackCapture>(Rate * 11);
        ASSERT_TRUE(capture_->Ok());
        ASSERT_TRUE(WaitFor([&] { return capture_->Connect() == 2; }, std::chrono::seconds(30)))
            << "Varko's ports do not feed the playback ports; active " << host_->Active()
            << ", lost " << host_->DeviceLost() << ", found " << capture_->Connect()
            << ", driver says " << host_->DriverErrorMessage();
    }
    // Records seconds of audio (pumping notices meanwhile).
    void Record(double seconds) {
        capture_->Record();
        const auto frames = static_cast<size_t>(seconds * Rate);
        ASSERT_TRUE(WaitFor([&] { return capture_->Recorded() >= frames; },
                            std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 5000)));
    }
    // Records from now on, following Varko's ports wherever they reappear, until a 10 ms
    // stretch is louder than -40 dBFS; the seconds that took, or a negative value after limit.
    double SecondsUntilSound(std::chrono::milliseconds limit) {
        capture_->Record();
        const size_t window = Rate / 100;
        size_t checked = 0;
        double found = -1;
        WaitFor(
            [&] {
                capture_->Connect();
                for (; checked + window <= capture_->Recorded(); checked += window) {
                    double sum = 0;
                    for (size_t i = checked; i < checked + window; ++i) {
                        sum += double{capture_->Left[i]} * capture_->Left[i];
                    }
                    if (std::sqrt(sum / window) > 0.01) {
                        found = static_cast<double>(checked) / Rate;
                        return true;
                    }
                }
                return false;
            },
            limit);
        return found;
    }
    // The audio is really running: active, not lost, blocks flowing, the bank at the host's
    // block size and rate.
    void ExpectFlowing() {
        EXPECT_TRUE(host_->Active());
        EXPECT_FALSE(host_->DeviceLost());
        EXPECT_TRUE(engine_->BankMatchesHost());
        const uint64_t before = engine_->SwitchCount.load();
        EXPECT_TRUE(WaitFor([&] { return engine_->SwitchCount.load() > before + 2; },
                            std::chrono::seconds(2)));
    }
    float Peak() const {
        float peak = 0;
        for (size_t i = 0; i < capture_->Recorded(); ++i) {
            peak = std::max({peak, std::abs(capture_->Left[i]), std::abs(capture_->Right[i])});
        }
        return peak;
    }

    TJackServer server_{"varko_e2e_" + std::to_string(getpid()), Rate, Period};
    std::unique_ptr<TJackCapture> capture_;
    int jackIndex_ = -1;
};

// Magnitude of the recording at f (Goertzel over the given samples).
double Magnitude(const float* x, size_t n, double f) {
    const double w = 2 * std::numbers::pi * f / Rate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double s0 = x[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(s1 * s1 + s2 * s2 - c * s1 * s2);
}

// The strongest frequency of one second of x from 50 Hz to 5 kHz in 1 Hz steps, and its
// magnitude.
std::pair<double, double> SpectralPeak(const float* x) {
    double best = 0, bestF = 0;
    for (double f = 50; f <= 5000; f += 1.0) {
        const double m = Magnitude(x, Rate, f);
        if (m > best) {
            best = m, bestF = f;
        }
    }
    return {bestF, best};
}

double Rms(const std::vector<float>& x, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; ++i) {
        sum += double{x[i]} * x[i];
    }
    return std::sqrt(sum / static_cast<double>(n));
}

TEST_F(JackEndToEnd, PlaysAHeldToneAtPitchPannedAndWithoutXruns) {
    host_->SetDriverIndex(jackIndex_);
    EXPECT_EQ(host_->BufferSize(), Period);
    EXPECT_EQ(host_->SampleRate(), Rate);
    ASSERT_GE(host_->OutputChannelCount(), 2);
    EXPECT_EQ(host_->GetOutputChannelName(0), "system:playback_1");
    EXPECT_EQ(host_->GetOutputChannelInfo(0).type, ASIOSTFloat32LSB);
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    Sleep(std::chrono::milliseconds(1000)); // past the start-up period and the tone's attack
    ASSERT_NO_FATAL_FAILURE(Record(10.0));
    EXPECT_EQ(capture_->XRuns.load(), 0);
    EXPECT_FALSE(host_->DeviceLost());

    const size_t n = capture_->Recorded();
    // The spectral peak, searched from 50 Hz to 5 kHz in 1 Hz steps over one second.
    const float* second = capture_->Left.data() + n / 2;
    const auto [bestF, best] = SpectralPeak(second);
    EXPECT_NEAR(bestF, ToneHz, ToneHz * 0.01);
    const double left = Rms(capture_->Left, n), right = Rms(capture_->Right, n);
    EXPECT_GT(left, 1e-3);
    EXPECT_NEAR(right / left, RightWeight / LeftWeight, 0.01);
    std::printf("peak %.0f Hz, rms left %.4f right %.4f, ratio %.4f, xruns %d, late blocks %llu\n",
                bestF, left, right, right / left, capture_->XRuns.load(),
                static_cast<unsigned long long>(engine_->LateBlocks.load()));
}

TEST_F(JackEndToEnd, StoppingSilencesAndSelectingAgainResumes) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(1.0));
    const float playing = Peak();
    EXPECT_GT(playing, 1e-3f);

    engine_->Stop();
    ASSERT_NO_FATAL_FAILURE(Record(1.0));
    EXPECT_EQ(Peak(), 0.0f);

    // As the settings dialog does: select the driver (the same one), start the engine.
    host_->SetDriverIndex(jackIndex_);
    engine_->Start();
    ASSERT_TRUE(host_->Active()) << host_->DriverErrorMessage();
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(1.0));
    EXPECT_GT(Peak(), playing / 10);
}

TEST_F(JackEndToEnd, PanelOffersWhatTheServerRuns) {
    TDriverPanelOffer seen;
    SetDriverPanelPresenter([&](const TDriverPanelOffer& offer, TDriverPanelChoice&) {
        seen = offer;
        return false;
    });
    host_->SetDriverIndex(jackIndex_);
    host_->ControlPanel();
    SetDriverPanelPresenter({});
    EXPECT_EQ(seen.DriverName, "JACK: system");
    EXPECT_EQ(seen.BufferSizes, std::vector<uint32_t>{Period});
    EXPECT_EQ(seen.SampleRates, std::vector<double>{double{Rate}});
    Pump();
    EXPECT_EQ(engine_->ResetPending.load(), false); // cancelled: no reset
}

TEST_F(JackEndToEnd, KillingTheServerWhilePlayingIsReportedAndALaterStartWorks) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    EXPECT_GT(Peak(), 1e-3f);
    capture_.reset();

    server_.Kill(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return lostEvents_ > 0; }, std::chrono::seconds(10)))
        << "the loss was not reported";
    EXPECT_TRUE(host_->DeviceLost());
    EXPECT_FALSE(host_->Active());

    // Starting without a server fails cleanly.
    engine_->Stop();
    engine_->Start();
    EXPECT_FALSE(host_->Active());

    ASSERT_TRUE(server_.Start());
    engine_->Stop();
    engine_->Start();
    ASSERT_TRUE(host_->Active()) << host_->DriverErrorMessage();
    EXPECT_FALSE(host_->DeviceLost());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(1.0));
    EXPECT_GT(Peak(), 1e-3f);
}

TEST_F(JackEndToEnd, BufferSizeChangeWhilePlayingResumesAtTheNewSize) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    EXPECT_GT(Peak(), 1e-2f);
    for (unsigned period : {256u, 2048u}) {
        ASSERT_TRUE(server_.ChangePeriod(period));
        const double after = SecondsUntilSound(std::chrono::seconds(4));
        std::printf("period %u: sound again after %.2f s\n", period, after);
        EXPECT_GE(after, 0.0) << "silent after the change to " << period;
        EXPECT_LT(after, 2.0);
        EXPECT_EQ(host_->BufferSize(), period);
        ASSERT_FALSE(engine_->Oscillators.empty());
        EXPECT_EQ(engine_->Oscillators[0]->BlockSize, static_cast<int32_t>(period));
        ExpectFlowing();
        EXPECT_EQ(lostEvents_, 0);
    }
}

TEST_F(JackEndToEnd, ServerRestartAtAnotherRateResumesAtPitchWithoutTheRestartButton) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    EXPECT_GT(Peak(), 1e-2f);
    capture_.reset();

    server_.Kill(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return lostEvents_ > 0; }, std::chrono::seconds(5)))
        << "the loss was not reported";
    EXPECT_TRUE(host_->DeviceLost());
    EXPECT_FALSE(host_->Active());
    EXPECT_TRUE(engine_->Running.load()) << "the player did not stop the audio";

    server_.Rate = 44100;
    server_.Period = 512;
    ASSERT_TRUE(server_.Start());
    capture_ = std::make_unique<TJackCapture>(Rate * 11);
    ASSERT_TRUE(capture_->Ok());
    const double after = SecondsUntilSound(std::chrono::seconds(5));
    std::printf("sound again %.2f s after the server came back\n", after);
    EXPECT_GE(after, 0.0) << "silent after the server came back";
    EXPECT_LT(after, 2.0);
    EXPECT_EQ(host_->SampleRate(), 44100.0);
    EXPECT_EQ(host_->BufferSize(), 512u);
    ExpectFlowing();

    // The bank was built for the new rate: the tone keeps its pitch.
    ASSERT_NO_FATAL_FAILURE(Record(1.5));
    const size_t n = capture_->Recorded();
    const float* last = capture_->Left.data() + n - 44100;
    double best = 0, bestF = 0;
    for (double f = 300; f <= 600; f += 1.0) {
        const double w = 2 * std::numbers::pi * f / 44100, c = 2 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (size_t i = 0; i < 44100; ++i) {
            const double s0 = last[i] + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double m = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (m > best) {
            best = m, bestF = f;
        }
    }
    EXPECT_NEAR(bestF, ToneHz, ToneHz * 0.01);
}

// A server that freezes (SIGSTOP) answers nothing: the loss is reported within a bound, and
// neither stopping nor closing waits for the server.
TEST_F(JackEndToEnd, StalledServerIsReportedLostAndStoppingDoesNotWaitForIt) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    capture_.reset();

    server_.Pause();
    const auto paused = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return lostEvents_ > 0; }, std::chrono::seconds(5)))
        << "the stall was not reported";
    const double reported =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - paused).count();
    EXPECT_LT(reported, 3.0);
    EXPECT_TRUE(host_->DeviceLost());

    const auto before = std::chrono::steady_clock::now();
    engine_->Stop();
    engine_.reset(); // the driver, its threads and the host
    const double closing =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    std::printf("loss reported after %.2f s; stopped and closed in %.2f s\n", reported, closing);
    EXPECT_LT(closing, 5.0);
    server_.Resume();
}

// A bank of 512 tones of 8 modes on the pool, every tone struck over and over for 4 s, then all
// lifted but one: the bank keeps time, and that tone sounds at its pitch, panned as its place
// in the bank says.
TEST_F(JackEndToEnd, PoolPlaysFiveHundredTwelveTonesAndOneOfThemAtPitch) {
    constexpr int Tones = 512;
    constexpr size_t Held = 216; // 50 Hz x 2^(216 / 72) = 400 Hz
    bank_.ToneRatios.clear();
    for (int i = 0; i < Tones; ++i) {
        bank_.ToneRatios.push_back(static_cast<float>(std::pow(2.0, i / 72.0)));
    }
    bank_.InitialFrequency = 50.0f;
    bank_.ModeLimit = 8;
    bank_.Rendering = {TToneThreads::PerCore, 0, true};
    ASSERT_NO_FATAL_FAILURE(Play());
    heldTone_ = Held;
    stirAll_ = true;
    ASSERT_NO_FATAL_FAILURE(Listen());
    Sleep(std::chrono::milliseconds(1000));
    const uint64_t lateBefore = engine_->LateBlocks.load();
    const uint64_t switchesBefore = engine_->SwitchCount.load();
    ASSERT_NO_FATAL_FAILURE(Record(4.0));
    const uint64_t late = engine_->LateBlocks.load() - lateBefore;
    const uint64_t toneBlocks = (engine_->SwitchCount.load() - switchesBefore) * Tones;
    const int xruns = capture_->XRuns.load();
    EXPECT_EQ(engine_->RenderingInUse().Threads, TToneThreads::PerCore);
    EXPECT_LT(late * 1000, toneBlocks) << late << " late of " << toneBlocks << " tone-blocks";
    EXPECT_EQ(engine_->ToneResets.load(), 0u);

    // The others lifted: their bars ring out (resonance fader 150) under the held one.
    stirAll_ = false;
    for (size_t t = 0; t < engine_->Oscillators.size(); ++t) {
        if (t != Held) {
            engine_->Oscillators[t]->Pressure = 0.0f;
            engine_->Oscillators[t]->Speed = 0.0f;
        }
    }
    Sleep(std::chrono::milliseconds(1500));
    ASSERT_NO_FATAL_FAILURE(Record(2.0));
    const size_t n = capture_->Recorded();
    const float* second = capture_->Left.data() + n / 2;
    const auto [bestF, best] = SpectralPeak(second);
    EXPECT_NEAR(bestF, 400.0, 400.0 * 0.005);
    const double left = Rms(capture_->Left, n), right = Rms(capture_->Right, n);
    EXPECT_GT(left, 1e-3);
    // Tone t of N: (N - t)/N on the left, (t + 1)/N on the right; measured at its pitch, where
    // the lower bars still ringing out to the left add nothing.
    const double atPitch = Magnitude(capture_->Right.data() + n / 2, Rate, bestF) / best;
    EXPECT_NEAR(atPitch, (Held + 1.0) / (Tones - Held), 0.02);
    std::printf("512 tones on the pool: late %llu of %llu tone-blocks, xruns %d; tone %zu: peak "
                "%.0f Hz, rms left %.4f right %.4f, right/left at its pitch %.3f\n",
                static_cast<unsigned long long>(late), static_cast<unsigned long long>(toneBlocks),
                xruns, Held, bestF, left, right, atPitch);
}

} // namespace
} // namespace varko::test
