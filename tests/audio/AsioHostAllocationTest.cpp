// The buffer switch must not allocate: count every allocation made on this thread while
// the switches run.
#include "FakeDriver.h"
#include "audio/AsioHost.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

// The replacement pairs malloc with free; the compiler cannot see that.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {
thread_local bool gCounting = false;
thread_local int gAllocations = 0;
} // namespace

void* operator new(std::size_t size) {
    if (gCounting) {
        ++gAllocations;
    }
    if (void* p = std::malloc(size ? size : 1)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace varko::test {
namespace {

TEST(HostSwitchAllocation, NoModeAllocates) {
    auto s = std::make_shared<TFakeScript>();
    s->Inputs = 2;
    s->Outputs = 4;
    TASIOHost host([s] { return TAsioDriverRecords{FakeRecord("Fake", s)}; });
    TASIOGenerator generator;
    int64_t position = 0;
    host.OnUpdateSamplePos = [&](IAudioHost*, int64_t p) { position = p; };
    host.OnBufferSwitch32 = [](IAudioHost*, const TArrayOfSingleArray& in,
                               TArrayOfSingleArray& out) { out[0][0] = in[0][0]; };
    host.SetDriverIndex(0);
    host.SetCustomGenerator(&generator);
    host.SetPreventClipping(pcAnalog);
    host.SetActive(true);
    ASSERT_TRUE(host.Active());

    auto run = [&] {
        gAllocations = 0;
        gCounting = true;
        for (int i = 0; i < 8; ++i) {
            s->Callbacks->bufferSwitch(i & 1, ASIOTrue);
        }
        gCounting = false;
        return gAllocations;
    };
    for (TBufferPreFill fill : {bpfNone, bpfZero, bpfNoise, bpfCustom}) {
        for (TInputMonitor monitor : {imDisabled, imMono, imStereo, imAll}) {
            host.PreFillInBuffer = fill;
            host.PreFillOutBuffer = fill;
            host.InputMonitor = monitor;
            EXPECT_EQ(run(), 0) << fill << " " << monitor;
        }
    }
    host.OnBufferSwitch64 = [](IAudioHost*, const TArrayOfDoubleArray&, TArrayOfDoubleArray& out) {
        out[1][1] = 0.5;
    };
    EXPECT_EQ(run(), 0);
    EXPECT_GT(position, -1);
}

} // namespace
} // namespace varko::test
