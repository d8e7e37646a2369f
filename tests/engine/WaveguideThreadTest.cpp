#include "engine/WaveguideThread.h"

#include <gtest/gtest.h>

#include <cmath>
#include <pthread.h>
#include <stdexcept>

using namespace varko;

namespace {

TWaveguideThread::TReadyResult StartAndWait(TWaveguideThread& osc) {
    osc.Start();
    return osc.WaitReady();
}

class TCountingThread : public TWaveguideThread {
public:
    std::atomic<int> Blocks{0};

protected:
    void RenderBlock(float* Out, int n) override {
        TWaveguideThread::RenderBlock(Out, n);
        Blocks.fetch_add(1);
    }
};

class TGatedThread : public TWaveguideThread {
public:
    std::atomic<int> Blocks{0};
    std::counting_semaphore<64> Gate{0};

protected:
    void RenderBlock(float* Out, int n) override {
        Blocks.fetch_add(1);
        Gate.acquire();
        TWaveguideThread::RenderBlock(Out, n);
    }
};

class TThrowingThread : public TWaveguideThread {
protected:
    void BuildBands(uint32_t) override { throw std::runtime_error("no bands today"); }
};

} // namespace

TEST(WaveguideThread, BuildsNamesItselfAndRendersItsFirstBlock) {
    TCountingThread osc;
    osc.Frequency = 200.0f;
    osc.SampleRate = 48000.0f;
    osc.BlockSize = 64;
    osc.Ratios = {1, 2.75715f};
    osc.Gains = {1, 0.125f};
    osc.Resonance = 0.999f;
    osc.Seed = 1;
    std::string name;
    osc.OnTerminate = [&name](TWaveguideThread&) {
        char buffer[32] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        name = buffer;
    };
    ASSERT_EQ(StartAndWait(osc), TWaveguideThread::TReadyResult::Ready);
    EXPECT_TRUE(osc.Ready);
    EXPECT_FALSE(osc.NoModes);
    osc.WaitBlockDone();
    EXPECT_EQ(osc.Phase(), 0);
    EXPECT_EQ(osc.Blocks.load(), 1);
    EXPECT_EQ(osc.Output[0].size(), 64u);
    EXPECT_EQ(osc.Output[1].size(), 64u);
    osc.Terminate();
    osc.Join();
    EXPECT_EQ(osc.Blocks.load(), 1); // ended while waiting: no further block
    EXPECT_TRUE(osc.Finished());
    EXPECT_EQ(name, "Osc-200");
    EXPECT_FALSE(osc.FatalException);
}

TEST(WaveguideThread, ToneAboveHalfTheRateHasNoModesAndIsSilent) {
    TWaveguideThread osc;
    osc.Frequency = 30000.0f;
    osc.SampleRate = 44100.0f;
    osc.BlockSize = 32;
    osc.Ratios = {1};
    osc.Gains = {1};
    osc.Pressure = 1.0f;
    osc.Speed = 0.5f;
    ASSERT_EQ(StartAndWait(osc), TWaveguideThread::TReadyResult::Ready);
    EXPECT_TRUE(osc.NoModes);
    osc.WaitBlockDone();
    for (float v : osc.Output[0]) {
        EXPECT_EQ(v, 0.0f);
    }
}

TEST(WaveguideThread, ReleaseWhileRenderingIsNotRemembered) {
    TGatedThread osc;
    osc.Frequency = 440.0f;
    osc.SampleRate = 48000.0f;
    osc.BlockSize = 16;
    osc.Ratios = {1};
    osc.Gains = {1};
    osc.Gate.release(); // the first block renders at once
    ASSERT_EQ(StartAndWait(osc), TWaveguideThread::TReadyResult::Ready);
    for (int k = 2; k <= 6; ++k) {
        osc.WaitBlockDone();
        osc.WriteIndex = k & 1;
        osc.Release();
        while (osc.Blocks.load() < k) {
            std::this_thread::yield();
        }
        EXPECT_EQ(osc.Phase(), TWaveguideThread::Rendering);
        osc.Release(); // finds it rendering: has no effect
        osc.Gate.release();
        osc.WaitBlockDone();
        EXPECT_EQ(osc.Phase(), k & 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(osc.Blocks.load(), 6);
    EXPECT_EQ(osc.Phase(), 0); // still waiting after block 6
    osc.Gate.release();        // lets a block run if a release had been remembered
    osc.Terminate();
    osc.Join();
}

TEST(WaveguideThread, ExceptionEndsTheThreadAndIsKept) {
    TThrowingThread osc;
    osc.BlockSize = 16;
    std::atomic<bool> called{false};
    osc.OnTerminate = [&called](TWaveguideThread& t) { called = t.FatalException != nullptr; };
    EXPECT_EQ(StartAndWait(osc), TWaveguideThread::TReadyResult::Ended);
    osc.Join();
    EXPECT_TRUE(called);
    EXPECT_FALSE(osc.Ready);
    EXPECT_EQ(osc.Phase(), TWaveguideThread::Ended);
    EXPECT_EQ(osc.CrashText(), "std::runtime_error@TWaveguideThread: no bands today");
    EXPECT_THROW(std::rethrow_exception(osc.FatalException), std::runtime_error);
}

TEST(WaveguideThread, NeverStartedEndsCleanly) {
    TWaveguideThread osc;
    EXPECT_EQ(osc.WaitReady(), TWaveguideThread::TReadyResult::Ended);
    osc.WaitBlockDone(); // returns at once
    osc.Terminate();
    osc.Start(); // nothing after a termination request
    EXPECT_EQ(osc.Phase(), TWaveguideThread::Idle);
}
