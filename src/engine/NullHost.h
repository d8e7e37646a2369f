// An audio host without a device: a clock thread asks for blocks at real-time pace or as fast
// as it can. Tests, benchmarks and machines without sound use it.
#pragma once

#include "engine/AudioHost.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace varko {

class TNullHost : public IAudioHost {
public:
    // SampleRate in hertz (> 0), BufferSize 1 .. 65536 samples, OutputChannels 0 .. 64;
    // RealTimePace false: blocks follow each other without pause.
    explicit TNullHost(double sampleRate = 48000.0, uint32_t bufferSize = 128,
                       bool realTimePace = true, int aOutputChannels = 2);
    ~TNullHost() override;
    TNullHost(const TNullHost&) = delete;
    TNullHost& operator=(const TNullHost&) = delete;

    bool Active() const override { return activeFlag_.load(); }
    // true starts the clock thread; false stops it and returns when no block runs any more
    // (from the clock thread itself: no block follows the current one).
    void SetActive(bool value) override;
    uint32_t BufferSize() const override { return size_; }
    double SampleRate() const override { return rate_; }
    const std::vector<std::string>& DriverList() const override { return drivers_; }
    int DriverIndex() const override { return index_; }
    // 0 selects the null driver, anything else none (-1).
    void SetDriverIndex(int index) override { index_ = index == 0 ? 0 : -1; }
    int OutputChannelCount() const override { return static_cast<int>(OutBuffer.size()); }
    std::string GetOutputChannelName(int channel) const override;
    uint16_t OutputChannelOffset() const override { return offset_; }
    void SetOutputChannelOffset(uint16_t offset) override { offset_ = offset; }
    void ControlPanel() override {}

    // Changes rate and block size while inactive (recreates the buffers), then raises
    // OnSampleRateChanged when the rate changed, OnReset otherwise, on the calling thread.
    void Reconfigure(double sampleRate, uint32_t bufferSize);
    // Has the clock thread raise OnReset before its next block (a driver's reset notice).
    void RequestReset() { resetRequested_.store(true); }

    std::atomic<bool> RealTimePace{true};
    bool TimeCritical = false;           // clock thread at SCHED_FIFO where allowed
    std::atomic<uint64_t> BlockCount{0}; // blocks requested since creation
    // Called on the clock thread after each block with the output arrays (tests, benchmarks).
    std::function<void(const TArrayOfSingleArray&)> OnBlockDone;

    TArrayOfSingleArray InBuffer;
    TArrayOfSingleArray OutBuffer;

private:
    void Clock();
    void JoinClock();

    double rate_;
    uint32_t size_;
    int index_ = 0;
    uint16_t offset_ = 0;
    std::vector<std::string> drivers_{"Null"};
    std::atomic<bool> activeFlag_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> resetRequested_{false};
    std::thread clockThread_;
};

} // namespace varko
