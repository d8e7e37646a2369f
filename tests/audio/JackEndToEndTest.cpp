// Plays through the JACK driver into a JACK server of the test's own and listens to what
// arrives at the server's playback ports.
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

constexpr unsigned kRate = 48000;
constexpr unsigned kPeriod = 1024;
// Tone 1 of four in one row (200 Hz times the ratios): weighted (N - t)/N = 0.75 on the left
// and (t + 1)/N = 0.5 on the right.
constexpr double kTone = 441.0;
constexpr float kLeftWeight = 0.75f, kRightWeight = 0.5f;
const std::vector<float> kRatios = {1.0f, 2.205f, 3.0f, 4.0f};

class JackEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Server.Start()) << "jackd did not start";
        auto host = std::make_unique<TASIOHost>();
        Host = host.get();
        Engine = std::make_unique<TAudioEngine>(std::move(host));
        auto post = [this](std::function<void()> job) {
            std::lock_guard lock(QueueMutex);
            Queue.push_back(std::move(job));
        };
        Host->OwnerDispatcher = post;
        Engine->Dispatch = post;
        Engine->OnRebuildTones = [this] { Build(); };
        Host->OnDeviceLost = [this](IAudioHost*) { ++LostEvents; };
        const auto& list = Host->DriverList();
        auto it = std::find(list.begin(), list.end(), "JACK: system");
        std::string names;
        for (const std::string& name : list) {
            names += "[" + name + "] ";
        }
        ASSERT_NE(it, list.end()) << "no JACK driver listed: " << names;
        JackIndex = static_cast<int>(it - list.begin());
    }
    void TearDown() override {
        Server.Resume();
        Capture.reset();
        Engine.reset();
        Server.Stop();
    }

    // The tone bank for the host's rate and block size; the fundamental mode alone, so that the
    // spectrum's peak is the tone's.
    void Build() {
        const TToneBankResult result = RefreshTones(*Engine, Bank);
        ASSERT_EQ(result.BuiltTones, static_cast<int>(Bank.ToneRatios.size()));
    }
    TToneBankInput Bank = [] {
        TToneBankInput input;
        input.ToneRatios = kRatios;
        input.InitialFrequency = 200.0f;
        input.ModeLimit = 1;
        input.ResonanceFader = 150;
        input.InterpolateDelays = true;
        input.Seed = 1;
        return input;
    }();
    // Selects the JACK driver, builds the bank and starts the engine with tone 1 held.
    void Play() {
        Host->SetDriverIndex(JackIndex);
        ASSERT_NO_FATAL_FAILURE(Build());
        Engine->Start();
        ASSERT_TRUE(Host->Active()) << Host->DriverErrorMessage();
        HeldTone = 1;
    }
    // A pen resting on the bar with a little movement now and then keeps exciting it. Moved
    // on the owner's thread, as the window does, so that rebuilds never race with it.
    void MovePen() {
        const auto now = std::chrono::steady_clock::now();
        if (HeldTone >= Engine->Oscillators.size() ||
            now - LastPen < std::chrono::milliseconds(30)) {
            return;
        }
        LastPen = now;
        PenSpeed = PenSpeed == 0.05f ? 0.06f : 0.05f;
        for (size_t t = 0; t < Engine->Oscillators.size(); ++t) {
            if (t != HeldTone && !StirAll) {
                continue;
            }
            TTone& osc = *Engine->Oscillators[t];
            osc.StrikePosition = 0.5f;
            osc.Pressure = 0.6f;
            osc.Speed = PenSpeed;
        }
    }

    // Runs the host's queued notices on this (the owner's) thread.
    void Pump() {
        std::deque<std::function<void()>> jobs;
        {
            std::lock_guard lock(QueueMutex);
            jobs.swap(Queue);
        }
        for (auto& job : jobs) {
            job();
        }
        MovePen();
    }
    // Waits up to limit for cond, pumping notices; true when it came.
    bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            Pump();
            if (cond()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        Pump();
        return cond();
    }
    void Sleep(std::chrono::milliseconds ms) {
        WaitFor([] { return false; }, ms);
    }

    void Listen() {
        Capture = std::make_unique<TJackCapture>(kRate * 11);
        ASSERT_TRUE(Capture->Ok());
        ASSERT_TRUE(WaitFor([&] { return Capture->Connect() == 2; }, std::chrono::seconds(30)))
            << "Varko's ports do not feed the playback ports; active " << Host->Active()
            << ", lost " << Host->DeviceLost() << ", found " << Capture->Connect()
            << ", driver says " << Host->DriverErrorMessage();
    }
    // Records seconds of audio (pumping notices meanwhile).
    void Record(double seconds) {
        Capture->Record();
        const auto frames = static_cast<size_t>(seconds * kRate);
        ASSERT_TRUE(WaitFor([&] { return Capture->Recorded() >= frames; },
                            std::chrono::milliseconds(static_cast<int>(seconds * 1000) + 5000)));
    }
    // Records from now on, following Varko's ports wherever they reappear, until a 10 ms
    // stretch is louder than -40 dBFS; the seconds that took, or a negative value after limit.
    double SecondsUntilSound(std::chrono::milliseconds limit) {
        Capture->Record();
        const size_t window = kRate / 100;
        size_t checked = 0;
        double found = -1;
        WaitFor(
            [&] {
                Capture->Connect();
                for (; checked + window <= Capture->Recorded(); checked += window) {
                    double sum = 0;
                    for (size_t i = checked; i < checked + window; ++i) {
                        sum += double{Capture->Left[i]} * Capture->Left[i];
                    }
                    if (std::sqrt(sum / window) > 0.01) {
                        found = static_cast<double>(checked) / kRate;
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
        EXPECT_TRUE(Host->Active());
        EXPECT_FALSE(Host->DeviceLost());
        EXPECT_TRUE(Engine->BankMatchesHost());
        const uint64_t before = Engine->SwitchCount.load();
        EXPECT_TRUE(WaitFor([&] { return Engine->SwitchCount.load() > before + 2; },
                            std::chrono::seconds(2)));
    }
    float Peak() const {
        float peak = 0;
        for (size_t i = 0; i < Capture->Recorded(); ++i) {
            peak = std::max({peak, std::abs(Capture->Left[i]), std::abs(Capture->Right[i])});
        }
        return peak;
    }

    TJackServer Server{"varko_e2e_" + std::to_string(getpid()), kRate, kPeriod};
    TASIOHost* Host = nullptr; // owned by the engine
    std::unique_ptr<TAudioEngine> Engine;
    std::unique_ptr<TJackCapture> Capture;
    size_t HeldTone = SIZE_MAX;
    bool StirAll = false; // every tone played, not only the held one
    std::chrono::steady_clock::time_point LastPen;
    float PenSpeed = 0.05f;
    int JackIndex = -1;
    int LostEvents = 0;
    std::mutex QueueMutex;
    std::deque<std::function<void()>> Queue;
};

// Magnitude of the recording at f (Goertzel over the given samples).
double Magnitude(const float* x, size_t n, double f) {
    const double w = 2 * std::numbers::pi * f / kRate, c = 2 * std::cos(w);
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
        const double m = Magnitude(x, kRate, f);
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
    Host->SetDriverIndex(JackIndex);
    EXPECT_EQ(Host->BufferSize(), kPeriod);
    EXPECT_EQ(Host->SampleRate(), kRate);
    ASSERT_GE(Host->OutputChannelCount(), 2);
    EXPECT_EQ(Host->GetOutputChannelName(0), "system:playback_1");
    EXPECT_EQ(Host->GetOutputChannelInfo(0).type, ASIOSTFloat32LSB);
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    Sleep(std::chrono::milliseconds(1000)); // past the start-up period and the tone's attack
    ASSERT_NO_FATAL_FAILURE(Record(10.0));
    EXPECT_EQ(Capture->XRuns.load(), 0);
    EXPECT_FALSE(Host->DeviceLost());

    const size_t n = Capture->Recorded();
    // The spectral peak, searched from 50 Hz to 5 kHz in 1 Hz steps over one second.
    const float* second = Capture->Left.data() + n / 2;
    const auto [bestF, best] = SpectralPeak(second);
    EXPECT_NEAR(bestF, kTone, kTone * 0.01);
    const double left = Rms(Capture->Left, n), right = Rms(Capture->Right, n);
    EXPECT_GT(left, 1e-3);
    EXPECT_NEAR(right / left, kRightWeight / kLeftWeight, 0.01);
    std::printf("peak %.0f Hz, rms left %.4f right %.4f, ratio %.4f, xruns %d, late blocks %llu\n",
                bestF, left, right, right / left, Capture->XRuns.load(),
                static_cast<unsigned long long>(Engine->LateBlocks.load()));
}

TEST_F(JackEndToEnd, StoppingSilencesAndSelectingAgainResumes) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(1.0));
    const float playing = Peak();
    EXPECT_GT(playing, 1e-3f);

    Engine->Stop();
    ASSERT_NO_FATAL_FAILURE(Record(1.0));
    EXPECT_EQ(Peak(), 0.0f);

    // As the settings dialog does: select the driver (the same one), start the engine.
    Host->SetDriverIndex(JackIndex);
    Engine->Start();
    ASSERT_TRUE(Host->Active()) << Host->DriverErrorMessage();
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
    Host->SetDriverIndex(JackIndex);
    Host->ControlPanel();
    SetDriverPanelPresenter({});
    EXPECT_EQ(seen.DriverName, "JACK: system");
    EXPECT_EQ(seen.BufferSizes, std::vector<uint32_t>{kPeriod});
    EXPECT_EQ(seen.SampleRates, std::vector<double>{double{kRate}});
    Pump();
    EXPECT_EQ(Engine->ResetPending.load(), false); // cancelled: no reset
}

TEST_F(JackEndToEnd, KillingTheServerWhilePlayingIsReportedAndALaterStartWorks) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    EXPECT_GT(Peak(), 1e-3f);
    Capture.reset();

    Server.Kill(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return LostEvents > 0; }, std::chrono::seconds(10)))
        << "the loss was not reported";
    EXPECT_TRUE(Host->DeviceLost());
    EXPECT_FALSE(Host->Active());

    // Starting without a server fails cleanly.
    Engine->Stop();
    Engine->Start();
    EXPECT_FALSE(Host->Active());

    ASSERT_TRUE(Server.Start());
    Engine->Stop();
    Engine->Start();
    ASSERT_TRUE(Host->Active()) << Host->DriverErrorMessage();
    EXPECT_FALSE(Host->DeviceLost());
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
        ASSERT_TRUE(Server.ChangePeriod(period));
        const double after = SecondsUntilSound(std::chrono::seconds(4));
        std::printf("period %u: sound again after %.2f s\n", period, after);
        EXPECT_GE(after, 0.0) << "silent after the change to " << period;
        EXPECT_LT(after, 2.0);
        EXPECT_EQ(Host->BufferSize(), period);
        ASSERT_FALSE(Engine->Oscillators.empty());
        EXPECT_EQ(Engine->Oscillators[0]->BlockSize, static_cast<int32_t>(period));
        ExpectFlowing();
        EXPECT_EQ(LostEvents, 0);
    }
}

TEST_F(JackEndToEnd, ServerRestartAtAnotherRateResumesAtPitchWithoutTheRestartButton) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    EXPECT_GT(Peak(), 1e-2f);
    Capture.reset();

    Server.Kill(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return LostEvents > 0; }, std::chrono::seconds(5)))
        << "the loss was not reported";
    EXPECT_TRUE(Host->DeviceLost());
    EXPECT_FALSE(Host->Active());
    EXPECT_TRUE(Engine->Running.load()) << "the player did not stop the audio";

    Server.Rate = 44100;
    Server.Period = 512;
    ASSERT_TRUE(Server.Start());
    Capture = std::make_unique<TJackCapture>(kRate * 11);
    ASSERT_TRUE(Capture->Ok());
    const double after = SecondsUntilSound(std::chrono::seconds(5));
    std::printf("sound again %.2f s after the server came back\n", after);
    EXPECT_GE(after, 0.0) << "silent after the server came back";
    EXPECT_LT(after, 2.0);
    EXPECT_EQ(Host->SampleRate(), 44100.0);
    EXPECT_EQ(Host->BufferSize(), 512u);
    ExpectFlowing();

    // The bank was built for the new rate: the tone keeps its pitch.
    ASSERT_NO_FATAL_FAILURE(Record(1.5));
    const size_t n = Capture->Recorded();
    const float* last = Capture->Left.data() + n - 44100;
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
    EXPECT_NEAR(bestF, kTone, kTone * 0.01);
}

// A server that freezes (SIGSTOP) answers nothing: the loss is reported within a bound, and
// neither stopping nor closing waits for the server.
TEST_F(JackEndToEnd, StalledServerIsReportedLostAndStoppingDoesNotWaitForIt) {
    ASSERT_NO_FATAL_FAILURE(Play());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    Capture.reset();

    Server.Pause();
    const auto paused = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitFor([&] { return LostEvents > 0; }, std::chrono::seconds(5)))
        << "the stall was not reported";
    const double reported =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - paused).count();
    EXPECT_LT(reported, 3.0);
    EXPECT_TRUE(Host->DeviceLost());

    const auto before = std::chrono::steady_clock::now();
    Engine->Stop();
    Engine.reset(); // the driver, its threads and the host
    const double closing =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
    std::printf("loss reported after %.2f s; stopped and closed in %.2f s\n", reported, closing);
    EXPECT_LT(closing, 5.0);
    Server.Resume();
}

// A bank of 512 tones of 8 modes on the pool, every tone struck over and over for 4 s, then all
// lifted but one: the bank keeps time, and that tone sounds at its pitch, panned as its place
// in the bank says.
TEST_F(JackEndToEnd, PoolPlaysFiveHundredTwelveTonesAndOneOfThemAtPitch) {
    constexpr int Tones = 512;
    constexpr size_t Held = 216; // 50 Hz x 2^(216 / 72) = 400 Hz
    Bank.ToneRatios.clear();
    for (int i = 0; i < Tones; ++i) {
        Bank.ToneRatios.push_back(static_cast<float>(std::pow(2.0, i / 72.0)));
    }
    Bank.InitialFrequency = 50.0f;
    Bank.ModeLimit = 8;
    Bank.Rendering = {TToneThreads::PerCore, 0, true};
    ASSERT_NO_FATAL_FAILURE(Play());
    HeldTone = Held;
    StirAll = true;
    ASSERT_NO_FATAL_FAILURE(Listen());
    Sleep(std::chrono::milliseconds(1000));
    const uint64_t lateBefore = Engine->LateBlocks.load();
    const uint64_t switchesBefore = Engine->SwitchCount.load();
    ASSERT_NO_FATAL_FAILURE(Record(4.0));
    const uint64_t late = Engine->LateBlocks.load() - lateBefore;
    const uint64_t toneBlocks = (Engine->SwitchCount.load() - switchesBefore) * Tones;
    const int xruns = Capture->XRuns.load();
    EXPECT_EQ(Engine->RenderingInUse().Threads, TToneThreads::PerCore);
    EXPECT_LT(late * 1000, toneBlocks) << late << " late of " << toneBlocks << " tone-blocks";
    EXPECT_EQ(Engine->ToneResets.load(), 0u);

    // The others lifted: their bars ring out (resonance fader 150) under the held one.
    StirAll = false;
    for (size_t t = 0; t < Engine->Oscillators.size(); ++t) {
        if (t != Held) {
            Engine->Oscillators[t]->Pressure = 0.0f;
            Engine->Oscillators[t]->Speed = 0.0f;
        }
    }
    Sleep(std::chrono::milliseconds(1500));
    ASSERT_NO_FATAL_FAILURE(Record(2.0));
    const size_t n = Capture->Recorded();
    const float* second = Capture->Left.data() + n / 2;
    const auto [bestF, best] = SpectralPeak(second);
    EXPECT_NEAR(bestF, 400.0, 400.0 * 0.005);
    const double left = Rms(Capture->Left, n), right = Rms(Capture->Right, n);
    EXPECT_GT(left, 1e-3);
    // Tone t of N: (N - t)/N on the left, (t + 1)/N on the right; measured at its pitch, where
    // the lower bars still ringing out to the left add nothing.
    const double atPitch = Magnitude(Capture->Right.data() + n / 2, kRate, bestF) / best;
    EXPECT_NEAR(atPitch, (Held + 1.0) / (Tones - Held), 0.02);
    std::printf("512 tones on the pool: late %llu of %llu tone-blocks, xruns %d; tone %zu: peak "
                "%.0f Hz, rms left %.4f right %.4f, right/left at its pitch %.3f\n",
                static_cast<unsigned long long>(late), static_cast<unsigned long long>(toneBlocks),
                xruns, Held, bestF, left, right, atPitch);
}

} // namespace
} // namespace varko::test
