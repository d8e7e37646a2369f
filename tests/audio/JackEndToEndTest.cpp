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
        StopPen();
        Capture.reset();
        Engine.reset();
        Server.Stop();
    }

    // The tone bank for the host's rate and block size; the fundamental mode alone, so that the
    // spectrum's peak is the tone's.
    void Build() {
        TToneBankInput input;
        input.ToneRatios = kRatios;
        input.InitialFrequency = 200.0f;
        input.ModeLimit = 1;
        input.ResonanceFader = 150;
        input.InterpolateDelays = true;
        input.Seed = 1;
        const TToneBankResult result = RefreshTones(*Engine, input);
        ASSERT_EQ(result.BuiltTones, 4);
    }
    // Selects the JACK driver, builds the bank and starts the engine with tone 1 held.
    void Play() {
        Host->SetDriverIndex(JackIndex);
        ASSERT_NO_FATAL_FAILURE(Build());
        Engine->Start();
        ASSERT_TRUE(Host->Active()) << Host->DriverErrorMessage();
        HoldTone(1);
    }
    // A pen resting on the bar with a little movement now and then keeps exciting it.
    void HoldTone(size_t tone) {
        StopPen();
        Pen = std::thread([this, tone] {
            float speed = 0.05f;
            while (!PenUp.load()) {
                if (tone < Engine->Oscillators.size()) {
                    TWaveguideThread& osc = *Engine->Oscillators[tone];
                    osc.StrikePosition = 0.5f;
                    osc.Pressure = 0.6f;
                    osc.Speed = speed;
                }
                speed = speed == 0.05f ? 0.06f : 0.05f;
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
            }
        });
    }
    void StopPen() {
        PenUp = true;
        if (Pen.joinable()) {
            Pen.join();
        }
        PenUp = false;
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
        ASSERT_TRUE(WaitFor([&] { return Capture->Connect() == 2; }, std::chrono::seconds(5)))
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
    std::thread Pen;
    std::atomic<bool> PenUp{false};
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
    double best = 0, bestF = 0;
    for (double f = 50; f <= 5000; f += 1.0) {
        const double m = Magnitude(second, kRate, f);
        if (m > best) {
            best = m, bestF = f;
        }
    }
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

} // namespace
} // namespace varko::test
