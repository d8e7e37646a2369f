// A device whose driver thread asks for blocks one after another, each only once every tone has
// finished the block it owes: no block is ever late, however loaded the machine, while the
// test's own thread changes playing values at any moment.
#pragma once

#include "engine/AudioEngine.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace varko::test {

class TSteadyHost : public IAudioHost {
public:
    TSteadyHost(double rate, uint32_t block) : rate_(rate), block_(block) {}
    ~TSteadyHost() override { TSteadyHost::SetActive(false); }

    // The engine whose tones each block waits for (set before the first start).
    TAudioEngine* Engine = nullptr;
    // Pause between blocks, so that changes also arrive while the driver waits.
    std::chrono::microseconds Gap{200};
    std::atomic<uint64_t> Blocks{0};
    // Every sample sent, interleaved, when set before the start; read it once the host stopped.
    bool Capture = false;
    std::vector<float> Played;

    bool Active() const override { return driver_.joinable(); }
    void SetActive(bool value) override {
        if (!value) {
            stop_.store(true);
            if (driver_.joinable()) {
                driver_.join();
            }
            return;
        }
        if (driver_.joinable()) {
            return;
        }
        stop_.store(false);
        driver_ = std::thread([this] {
            TArrayOfSingleArray out(2, TSingleArray(block_, 0.0f));
            while (!stop_.load()) {
                Engine->WaitForOscillators();
                OnBufferSwitch32(this, {}, out);
                if (Capture) {
                    for (uint32_t i = 0; i < block_; ++i) {
                        Played.push_back(out[0][i]);
                        Played.push_back(out[1][i]);
                    }
                }
                Blocks.fetch_add(1);
                std::this_thread::sleep_for(Gap);
            }
        });
    }
    uint32_t BufferSize() const override { return block_; }
    double SampleRate() const override { return rate_; }
    const std::vector<std::string>& DriverList() const override { return names_; }
    int DriverIndex() const override { return 0; }
    void SetDriverIndex(int) override {}
    int OutputChannelCount() const override { return 2; }
    std::string GetOutputChannelName(int channel) const override {
        return channel == 0 ? "left" : "right";
    }
    uint16_t OutputChannelOffset() const override { return 0; }
    void SetOutputChannelOffset(uint16_t) override {}
    void ControlPanel() override {}

private:
    double rate_;
    uint32_t block_;
    std::vector<std::string> names_{"Steady"};
    std::atomic<bool> stop_{false};
    std::thread driver_;
};

} // namespace varko::test
