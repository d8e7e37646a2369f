#include "audio/AsioHost.h"
#include "FakeDriver.h"
#include "audio/DriverList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <thread>

namespace varko::test {
namespace {

std::shared_ptr<TFakeScript> Script() {
    return std::make_shared<TFakeScript>();
}

TDriverListSource Source(std::vector<std::shared_ptr<TFakeScript>> scripts) {
    return [scripts] {
        TAsioDriverRecords records;
        for (size_t i = 0; i < scripts.size(); ++i) {
            records.push_back(FakeRecord("Fake " + std::to_string(i), scripts[i]));
        }
        return records;
    };
}

template <typename T> T Sample(const TFakeScript& s, int channel, int half, int i) {
    T v;
    std::memcpy(&v,
                static_cast<uint8_t*>(s.Infos[static_cast<size_t>(channel)].buffers[half]) +
                    sizeof(T) * static_cast<size_t>(i),
                sizeof(T));
    return v;
}

TEST(HostBuffers, MinEqualToMaxWinsOverPreferred) {
    auto s = Script();
    s->Min = s->Max = 128;
    s->Preferred = 512;
    TASIOHost host(Source({s}));
    host.SetDriverIndex(0);
    EXPECT_EQ(host.BufferSize(), 128u);
    EXPECT_EQ(s->CreatedSize, 128);
}

TEST(HostBuffers, UnusablePreferredSizeGives4096AndTheDriverIsAskedForIt) {
    for (int32_t preferred : {0, 65531, 100000}) {
        auto s = Script();
        s->Preferred = preferred;
        s->Max = 200000;
        TASIOHost host(Source({s}));
        host.SetDriverIndex(0);
        EXPECT_EQ(host.BufferSize(), 4096u) << preferred;
        // Halves and float arrays must agree, or conversion would run past the halves.
        EXPECT_EQ(s->CreatedSize, 4096) << preferred;
    }
    auto s = Script();
    s->Preferred = 65530;
    s->Max = 65530;
    TASIOHost host(Source({s}));
    host.SetDriverIndex(0);
    EXPECT_EQ(host.BufferSize(), 65530u);
}

TEST(HostBuffers, ADeviceGrantingAnotherPeriodGetsBuffersAtThatPeriod) {
    auto s = Script();
    s->Preferred = 512;
    s->Grants = 768;
    TASIOHost host(Source({s}));
    host.SetDriverIndex(0);
    EXPECT_EQ(host.BufferSize(), 768u);
    EXPECT_EQ(s->CreatedSize, 768);
    host.SetActive(true);
    EXPECT_TRUE(host.Active());
}

TEST(HostRates, OutOfRangeRateStores44100ButAsksTheDriverForIt) {
    auto s = Script();
    TASIOHost host(Source({s}));
    host.SetDriverIndex(0);
    EXPECT_EQ(host.SampleRate(), 48000.0);
    for (double rate : {0.0, 2000000.0, -5.0}) {
        s->RatesSet.clear();
        host.SetSampleRate(rate);
        EXPECT_EQ(host.SampleRate(), 44100.0);
        ASSERT_EQ(s->RatesSet.size(), 1u);
        EXPECT_EQ(s->RatesSet[0], rate);
        EXPECT_EQ(host.ASIOTime().SampleRate(), rate);
    }
    host.SetSampleRate(1048575.0);
    EXPECT_EQ(host.SampleRate(), 1048575.0);
}

TEST(HostSelection, IndexIsClampedAndMinusOneClearsTheName) {
    auto a = Script(), b = Script(), c = Script();
    TASIOHost host(Source({a, b, c}));
    ASSERT_EQ(host.DriverList().size(), 3u);
    EXPECT_EQ(host.DriverIndex(), -1);
    int changed = 0;
    host.OnDriverChanged = [&](IAudioHost*) { ++changed; };
    host.SetDriverIndex(7);
    EXPECT_EQ(host.DriverIndex(), 2);
    EXPECT_EQ(host.DriverName(), "Fake 2");
    EXPECT_EQ(c->Created, 1);
    EXPECT_EQ(host.DriverVersion(), 7);
    EXPECT_EQ(host.CanDos(), TASIOCanDos{acdTimeInfo});
    EXPECT_EQ(changed, 1);
    host.SetDriverIndex(-5);
    EXPECT_EQ(host.DriverIndex(), -1);
    EXPECT_EQ(host.DriverName(), "");
    EXPECT_EQ(host.OutputChannelCount(), 0);
    EXPECT_EQ(host.BufferSize(), 0u);
    EXPECT_EQ(c->Destroyed, 1);
    host.SetDriverName("Fake 1");
    EXPECT_EQ(host.DriverIndex(), 1);
    host.SetDriverName("No such driver");
    EXPECT_EQ(host.DriverIndex(), 1);
}

TEST(HostSelection, NoDriversClampsToNone) {
    TASIOHost host(Source({}));
    EXPECT_TRUE(host.DriverList().empty());
    host.SetDriverIndex(3);
    EXPECT_EQ(host.DriverIndex(), -1);
}

TEST(HostSelection, FailingDriverIsSwallowedInsideSelection) {
    auto bad = Script();
    bad->InitOk = false;
    TASIOHost host(Source({bad}));
    int changed = 0;
    host.OnDriverChanged = [&](IAudioHost*) { ++changed; };
    host.SetDriverIndex(0);
    EXPECT_EQ(host.DriverIndex(), 0);
    EXPECT_EQ(changed, 0);
    host.SetActive(true);
    EXPECT_FALSE(host.Active());
    EXPECT_EQ(bad->Destroyed, bad->Created);
    try {
        host.OpenDriver();
        FAIL() << "no exception";
    } catch (const EASIOHostError& e) {
        EXPECT_STREQ(e.what(), "ASIO Driver Failed!");
    }
}

TEST(HostWithoutDriver, AnswersNotPresent) {
    TASIOHost host(Source({Script()}));
    EXPECT_EQ(host.CanSampleRate(44100.0), ASE_NotPresent);
    EXPECT_EQ(host.GetInputMeter(0), -1);
    EXPECT_FALSE(host.CanTimeInfo());
    host.SetActive(true);
    EXPECT_FALSE(host.Active());
    EXPECT_THROW(host.GetOutputChannelInfo(0), std::out_of_range);
}

TEST(HostMessages, AnswersBySelector) {
    TASIOHost host(Source({Script()}));
    EXPECT_EQ(host.AsioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr), 0);
    EXPECT_EQ(host.AsioMessage(kAsioSupportsTimeInfo, 0, nullptr, nullptr), 1);
    EXPECT_EQ(host.AsioMessage(kAsioSelectorSupported, kAsioResetRequest, nullptr, nullptr), 1);
    EXPECT_EQ(host.AsioMessage(kAsioSelectorSupported, kAsioLatenciesChanged, nullptr, nullptr), 1);
    EXPECT_EQ(host.AsioMessage(kAsioSelectorSupported, 42, nullptr, nullptr), 0);
    EXPECT_EQ(host.AsioMessage(kAsioEngineVersion, 0, nullptr, nullptr), 2);
    EXPECT_EQ(host.AsioMessage(kAsioResyncRequest, 0, nullptr, nullptr), 0);
    EXPECT_EQ(host.AsioMessage(kAsioSupportsTimeCode, 0, nullptr, nullptr), 0);
    EXPECT_EQ(host.AsioMessage(kAsioSupportsInputMonitor, 0, nullptr, nullptr), 1);
    EXPECT_EQ(host.AsioMessage(99, 0, nullptr, nullptr), 0);
    host.SetSelectorSupport(host.SelectorSupport() | assSupportsTimeInfo);
    EXPECT_EQ(host.AsioMessage(kAsioSelectorSupported, kAsioSupportsTimeInfo, nullptr, nullptr), 1);
}

// A driver asks for a reset from inside its own panel call: the reload must wait for the
// owner's thread, after the driver has returned.
TEST(HostReset, ReloadRunsOnTheOwnersThreadAfterTheDriverReturned) {
    auto s = Script();
    s->PanelMessage = kAsioResetRequest;
    TASIOHost host(Source({s}));
    std::vector<std::function<void()>> queue;
    host.OwnerDispatcher = [&](std::function<void()> job) { queue.push_back(std::move(job)); };
    host.SetDriverIndex(0);
    host.SetActive(true);
    std::thread::id resetThread;
    int resets = 0;
    host.OnReset = [&](IAudioHost*) {
        ++resets;
        resetThread = std::this_thread::get_id();
    };
    host.ControlPanel();
    EXPECT_EQ(resets, 0);
    EXPECT_EQ(s->Created, 1);
    ASSERT_EQ(queue.size(), 1u);

    // A second notice before the first is handled is folded into it.
    std::thread([&] { host.AsioMessage(kAsioBufferSizeChange, 0, nullptr, nullptr); }).join();
    EXPECT_EQ(queue.size(), 1u);

    for (auto& job : std::exchange(queue, {})) {
        job();
    }
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(resetThread, std::this_thread::get_id());
    EXPECT_EQ(s->Created, 2);
    EXPECT_EQ(s->Destroyed, 1);
    EXPECT_FALSE(s->ClosedInsideOwnCall);
    EXPECT_TRUE(host.Active()); // restarted as it was
}

TEST(HostReset, WithoutDispatcherThePanelResetRunsAfterThePanelReturns) {
    auto s = Script();
    s->PanelMessage = kAsioResetRequest;
    TASIOHost host(Source({s}));
    host.SetDriverIndex(0);
    int resets = 0;
    host.OnReset = [&](IAudioHost*) { ++resets; };
    host.ControlPanel();
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(s->Created, 2);
    EXPECT_FALSE(s->ClosedInsideOwnCall);
}

TEST(HostReset, QueuedJobsOfADestroyedHostDoNothing) {
    auto s = Script();
    std::vector<std::function<void()>> queue;
    {
        TASIOHost host(Source({s}));
        host.OwnerDispatcher = [&](std::function<void()> job) { queue.push_back(std::move(job)); };
        host.SetDriverIndex(0);
        host.AsioMessage(kAsioResetRequest, 0, nullptr, nullptr);
    }
    ASSERT_EQ(queue.size(), 1u);
    queue[0]();
    EXPECT_EQ(s->Created, 1);
}

TEST(HostSwitch, StopLeavesBothHalvesSilentForEveryType) {
    for (ASIOSampleType type :
         {ASIOSTInt16LSB, ASIOSTInt24LSB, ASIOSTFloat32LSB, ASIOSTFloat64LSB}) {
        auto s = Script();
        s->OutputType = type;
        s->Inputs = 1;
        s->ThreadedSwitches = true;
        TASIOHost host(Source({s}));
        host.OnBufferSwitch32 = [](IAudioHost*, const TArrayOfSingleArray&,
                                   TArrayOfSingleArray& out) {
            for (auto& channel : out) {
                std::fill(channel.begin(), channel.end(), 0.5f);
            }
        };
        host.SetDriverIndex(0);
        host.SetActive(true);
        ASSERT_TRUE(host.Active());
        while (s->Switches.load() < 4) {
            std::this_thread::yield();
        }
        host.SetActive(false);
        EXPECT_FALSE(host.Active());
        for (const ASIOBufferInfo& info : s->Infos) {
            for (void* half : info.buffers) {
                const size_t bytes =
                    host.BufferSize() *
                    static_cast<size_t>(ASIOSampleBytes(info.isInput ? s->InputType : type));
                const auto* p = static_cast<const uint8_t*>(half);
                EXPECT_TRUE(std::all_of(p, p + bytes, [](uint8_t b) { return b == 0; })) << type;
                // Not one byte beyond the half's samples.
                EXPECT_EQ(p[bytes], 0xAB) << type;
            }
        }
    }
}

TEST(HostSwitch, OutputArraysGoToTheirOwnChannelsWhateverTheOffset) {
    auto s = Script();
    s->Outputs = 4;
    TASIOHost host(Source({s}));
    host.OnBufferSwitch32 = [](IAudioHost*, const TArrayOfSingleArray&, TArrayOfSingleArray& out) {
        std::fill(out[0].begin(), out[0].end(), 0.25f);
        std::fill(out[1].begin(), out[1].end(), -0.5f);
        std::fill(out[2].begin(), out[2].end(), 0.0f);
        std::fill(out[3].begin(), out[3].end(), 0.0f);
    };
    host.SetDriverIndex(0);
    host.SetOutputChannelOffset(2);
    EXPECT_EQ(host.OutputChannelOffset(), 2);
    host.SetOutputChannelOffset(4); // not below the channel count: ignored
    EXPECT_EQ(host.OutputChannelOffset(), 2);
    host.SetActive(true);
    s->Callbacks->bufferSwitch(1, ASIOTrue);
    EXPECT_EQ(Sample<float>(*s, 0, 1, 0), 0.25f);
    EXPECT_EQ(Sample<float>(*s, 1, 1, 10), -0.5f);
    EXPECT_EQ(Sample<float>(*s, 2, 1, 0), 0.0f);
    EXPECT_EQ(host.GetOutputChannelName(3), "Out 4");
}

TEST(HostSwitch, PreFillMonitorAndClipping) {
    auto s = Script();
    s->Inputs = 2;
    TASIOHost host(Source({s}));
    int64_t position = -1;
    host.OnUpdateSamplePos = [&](IAudioHost*, int64_t p) { position = p; };
    host.SetDriverIndex(0);
    ASSERT_EQ(host.InputChannelCount(), 2);
    const uint32_t n = host.BufferSize();
    // Input channel 0 holds 2.0 in half 0.
    auto* in0 = static_cast<float*>(s->Infos[0].buffers[0]);
    std::fill(in0, in0 + n, 2.0f);
    host.InputMonitor = imMono;
    host.SetPreventClipping(pcDigital);
    host.PreFillOutBuffer = bpfZero;
    host.SetActive(true);
    s->Switches = 3;
    s->Callbacks->bufferSwitch(0, ASIOTrue);
    EXPECT_EQ(position, 3 * int64_t{n});
    EXPECT_EQ(Sample<float>(*s, 2, 0, 5), 1.0f); // monitored, then clipped
    EXPECT_EQ(Sample<float>(*s, 3, 0, 5), 0.0f);

    host.PreFillOutBuffer = bpfNoise;
    host.InputMonitor = imDisabled;
    s->Callbacks->bufferSwitch(0, ASIOTrue);
    bool varied = false;
    for (uint32_t i = 1; i < n; ++i) {
        const float v = Sample<float>(*s, 2, 0, static_cast<int>(i));
        EXPECT_GE(v, -1.0f);
        EXPECT_LT(v, 1.0f);
        varied |= v != Sample<float>(*s, 2, 0, 0);
    }
    EXPECT_TRUE(varied);

    TASIOGenerator generator;
    host.SetCustomGenerator(&generator);
    EXPECT_EQ(generator.BlockSize, n);
    host.PreFillOutBuffer = bpfCustom;
    s->Callbacks->bufferSwitch(0, ASIOTrue);
    EXPECT_EQ(Sample<float>(*s, 3, 0, 7), 0.0f);
}

TEST(HostSwitch, SixtyFourBitHandlerWinsAndTimeInfoSwitchCopiesTheRecord) {
    auto s = Script();
    TASIOHost host(Source({s}));
    host.OnBufferSwitch64 = [](IAudioHost*, const TArrayOfDoubleArray&, TArrayOfDoubleArray& out) {
        std::fill(out[1].begin(), out[1].end(), 0.125);
    };
    bool called32 = false;
    host.OnBufferSwitch32 = [&](IAudioHost*, const TArrayOfSingleArray&, TArrayOfSingleArray&) {
        called32 = true;
    };
    host.SetDriverIndex(0);
    host.SetActive(true);
    ASIOTime time;
    time.timeInfo.samplePosition = ASIOFromInt64(int64_t{1} << 40);
    EXPECT_EQ(s->Callbacks->bufferSwitchTimeInfo(&time, 1, ASIOTrue), nullptr);
    EXPECT_FALSE(called32);
    EXPECT_EQ(Sample<float>(*s, 1, 1, 3), 0.125f);
    EXPECT_EQ(host.ASIOTime().SamplePos(), int64_t{1} << 40);
}

TEST(HostStart, AFailingStartLeavesTheHostStoppedAndStopsTheDriver) {
    auto s = Script();
    s->StartResult = ASE_HWMalfunction;
    TASIOHost host(Source({s}));
    host.SetDriverIndex(0);
    host.SetActive(true);
    EXPECT_FALSE(host.Active());
    EXPECT_EQ(s->Stops, 1);
}

TEST(HostDeviceLoss, ADeviceThatComesBackIsReloadedAndPlaysAgainUnasked) {
    auto s = Script();
    TASIOHost host(Source({s}));
    std::vector<std::function<void()>> queue;
    host.OwnerDispatcher = [&](std::function<void()> job) { queue.push_back(std::move(job)); };
    auto run = [&] {
        auto jobs = std::move(queue);
        queue.clear();
        for (auto& job : jobs) {
            job();
        }
    };
    int resets = 0;
    host.OnReset = [&](IAudioHost*) { ++resets; };
    host.SetDriverIndex(0);
    host.SetActive(true);
    host.AsioMessage(kAsioDeviceLost, 0, nullptr, nullptr);
    run();
    EXPECT_FALSE(host.Active());
    // The device is back at another period: a fresh driver, buffers at its size, playing, and
    // the owner told to rebuild.
    s->Preferred = 128;
    host.AsioMessage(kAsioDeviceBack, 0, nullptr, nullptr);
    run();
    EXPECT_EQ(s->Created, 2);
    EXPECT_EQ(host.BufferSize(), 128u);
    EXPECT_TRUE(host.Active());
    EXPECT_FALSE(host.DeviceLost());
    EXPECT_EQ(resets, 1);

    // Stopped by the owner while lost: reloaded when back, but left stopped.
    host.AsioMessage(kAsioDeviceLost, 0, nullptr, nullptr);
    run();
    host.SetActive(false);
    host.AsioMessage(kAsioDeviceBack, 0, nullptr, nullptr);
    run();
    EXPECT_FALSE(host.Active());
}

TEST(HostDeviceLoss, IsReportedStopsTheAudioAndALaterStartClearsIt) {
    auto s = Script();
    s->ThreadedSwitches = true;
    TASIOHost host(Source({s}));
    std::vector<std::function<void()>> queue;
    std::mutex queueMutex;
    host.OwnerDispatcher = [&](std::function<void()> job) {
        std::lock_guard lock(queueMutex);
        queue.push_back(std::move(job));
    };
    int lost = 0;
    host.OnDeviceLost = [&](IAudioHost*) { ++lost; };
    host.SetDriverIndex(0);
    host.SetActive(true);
    std::thread([&] { host.AsioMessage(kAsioDeviceLost, 0, nullptr, nullptr); }).join();
    EXPECT_TRUE(host.DeviceLost());
    {
        std::lock_guard lock(queueMutex);
        ASSERT_EQ(queue.size(), 1u);
        queue[0]();
        queue.clear();
    }
    EXPECT_EQ(lost, 1);
    EXPECT_FALSE(host.Active());
    host.SetActive(true);
    EXPECT_TRUE(host.Active());
    EXPECT_FALSE(host.DeviceLost());
    host.SetActive(false);
}

TEST(HostConverters, TypesWithoutAConverterAreLeftAlone) {
    auto s = Script();
    s->OutputType = 77; // no such type
    TASIOHost host(Source({s}));
    host.OnBufferSwitch32 = [](IAudioHost*, const TArrayOfSingleArray&, TArrayOfSingleArray& out) {
        std::fill(out[0].begin(), out[0].end(), 0.5f);
    };
    host.SetDriverIndex(0);
    host.SetActive(true);
    s->Callbacks->bufferSwitch(0, ASIOTrue);
    EXPECT_EQ(static_cast<const uint8_t*>(s->Infos[0].buffers[0])[0], 0xAB);
}

TEST(DriverList, RtAudioDevicesAreNamedAfterTheirBackEnd) {
    for (const TAsioDriverRecord& record : BuildDriverList()) {
        EXPECT_TRUE(record.Name.rfind("JACK: ", 0) == 0 || record.Name.rfind("ALSA: ", 0) == 0 ||
                    record.Name.rfind("PulseAudio: ", 0) == 0)
            << record.Name;
        EXPECT_TRUE(record.Create);
    }
}

TEST(DriverBridge, ABridgeWithoutDriverAnswersNotPresent) {
    TDriverBridge bridge(TAsioDriverRecord{"none", {}});
    EXPECT_FALSE(bridge.Succeeded());
    EXPECT_EQ(bridge.init(nullptr), ASIOFalse);
    EXPECT_EQ(bridge.start(), ASE_NotPresent);
    EXPECT_EQ(bridge.future(kAsioCanTimeInfo, nullptr), ASE_NotPresent);
}

} // namespace
} // namespace varko::test
