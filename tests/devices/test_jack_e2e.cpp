// Plays through the JACK driver into a JACK server of the test's own and listens to what
// arrives at the server's playback ports.
#include "JackServer.h"
#include "devices/AsioHost.h"
#include "devices/drivers/RtAudioDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <mutex>
#include <numbers>

namespace varko::test {
namespace {

constexpr unsigned kRate = 48000;
constexpr unsigned kPeriod = 1024;
constexpr double kTone = 441.0;
// The pan weights of tone 1 of 4 in one row: (N - t)/N left, (t + 1)/N right.
constexpr float kLeftWeight = 0.75f, kRightWeight = 0.5f;

// A held tone from the buffer switch; nothing allocated on the driver's thread.
struct TToneHandler {
    double Phase = 0.0;
    double Step = 0.0;
    void operator()(IAudioHost* sender, const TArrayOfSingleArray&, TArrayOfSingleArray& out) {
        if (Step == 0.0) {
            Step = 2 * std::numbers::pi * kTone / sender->SampleRate();
        }
        const uint32_t n = sender->BufferSize();
        for (uint32_t i = 0; i < n; ++i) {
            const auto s = static_cast<float>(0.4 * std::sin(Phase));
            Phase = std::fmod(Phase + Step, 2 * std::numbers::pi);
            out[0][i] = s * kLeftWeight;
            out[1][i] = s * kRightWeight;
        }
    }
};

class JackEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(Server.Start()) << "jackd did not start";
        Host = std::make_unique<TASIOHost>();
        Host->OwnerDispatcher = [this](std::function<void()> job) {
            std::lock_guard lock(QueueMutex);
            Queue.push_back(std::move(job));
        };
        Host->OnBufferSwitch32 = [this](IAudioHost* s, const TArrayOfSingleArray& in,
                                        TArrayOfSingleArray& out) { Tone(s, in, out); };
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
        Capture.reset();
        Host.reset();
        Server.Stop();
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
    std::unique_ptr<TASIOHost> Host;
    std::unique_ptr<TJackCapture> Capture;
    TToneHandler Tone;
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
    Host->SetActive(true);
    ASSERT_TRUE(Host->Active()) << Host->DriverErrorMessage();
    ASSERT_NO_FATAL_FAILURE(Listen());
    Sleep(std::chrono::milliseconds(500)); // past the start-up period
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
    EXPECT_GT(left, 0.1);
    EXPECT_NEAR(right / left, kRightWeight / kLeftWeight, 0.01);
}

TEST_F(JackEndToEnd, StoppingSilencesAndSelectingAgainResumes) {
    Host->SetDriverIndex(JackIndex);
    Host->SetActive(true);
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    EXPECT_GT(Peak(), 0.1f);

    Host->SetActive(false);
    ASSERT_NO_FATAL_FAILURE(Record(1.0));
    EXPECT_EQ(Peak(), 0.0f);

    // As the settings dialog does: select the driver (the same one), start.
    Host->SetDriverIndex(JackIndex);
    Host->SetActive(true);
    ASSERT_TRUE(Host->Active());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    EXPECT_GT(Peak(), 0.1f);
}

TEST_F(JackEndToEnd, PanelOffersWhatTheServerRuns) {
    TDriverPanelOffer seen;
    SetDriverPanelPresenter([&](const TDriverPanelOffer& offer, TDriverPanelChoice&) {
        seen = offer;
        return false;
    });
    Host->SetDriverIndex(JackIndex);
    int resets = 0;
    Host->OnReset = [&](IAudioHost*) { ++resets; };
    Host->ControlPanel();
    SetDriverPanelPresenter({});
    EXPECT_EQ(seen.DriverName, "JACK: system");
    EXPECT_EQ(seen.BufferSizes, std::vector<uint32_t>{kPeriod});
    EXPECT_EQ(seen.SampleRates, std::vector<double>{double{kRate}});
    EXPECT_EQ(resets, 0); // cancelled
}

TEST_F(JackEndToEnd, KillingTheServerWhilePlayingIsReportedAndALaterStartWorks) {
    Host->SetDriverIndex(JackIndex);
    Host->SetActive(true);
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.3));
    Capture.reset();

    Server.Kill(SIGKILL);
    ASSERT_TRUE(WaitFor([&] { return LostEvents > 0; }, std::chrono::seconds(10)))
        << "the loss was not reported";
    EXPECT_TRUE(Host->DeviceLost());
    EXPECT_FALSE(Host->Active());

    // Starting without a server fails cleanly.
    Host->SetActive(true);
    EXPECT_FALSE(Host->Active());

    ASSERT_TRUE(Server.Start());
    Host->SetActive(true);
    ASSERT_TRUE(Host->Active());
    EXPECT_FALSE(Host->DeviceLost());
    ASSERT_NO_FATAL_FAILURE(Listen());
    ASSERT_NO_FATAL_FAILURE(Record(0.5));
    EXPECT_GT(Peak(), 0.1f);
}

} // namespace
} // namespace varko::test
