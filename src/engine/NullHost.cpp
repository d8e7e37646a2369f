#include "engine/NullHost.h"

#include "core/RealTime.h"

#include <chrono>
#include <stdexcept>

namespace varko {

namespace {
constexpr uint32_t MaxBufferSize = 65536;
constexpr int MaxChannels = 64;
} // namespace

TNullHost::TNullHost(double sampleRate, uint32_t bufferSize, bool realTimePace, int aOutputChannels)
    : RealTimePace(realTimePace), rate_(sampleRate), size_(bufferSize) {
    if (!(sampleRate > 0.0) || bufferSize < 1 || bufferSize > MaxBufferSize ||
        aOutputChannels < 0 || aOutputChannels > MaxChannels) {
        throw std::invalid_argument("TNullHost: rate, block size or channel count out of range");
    }
    OutBuffer.assign(static_cast<size_t>(aOutputChannels), TSingleArray(size_, 0.0f));
}

TNullHost::~TNullHost() {
    TNullHost::SetActive(false);
    JoinClock();
}

std::string TNullHost::GetOutputChannelName(int channel) const {
    return "Null " + std::to_string(channel + 1);
}

void TNullHost::JoinClock() {
    if (clockThread_.joinable() && clockThread_.get_id() != std::this_thread::get_id()) {
        clockThread_.join();
    }
}

void TNullHost::SetActive(bool value) {
    const bool onClock =
        clockThread_.joinable() && clockThread_.get_id() == std::this_thread::get_id();
    if (onClock) {
        // Called from a block's own notice: the loop checks the flag after this block.
        stopRequested_.store(!value);
        activeFlag_.store(value);
        return;
    }
    if (!value) {
        stopRequested_.store(true);
        JoinClock();
        activeFlag_.store(false);
        return;
    }
    if (activeFlag_.load()) {
        return;
    }
    JoinClock();
    stopRequested_.store(false);
    activeFlag_.store(true);
    clockThread_ = std::thread([this] { Clock(); });
}

void TNullHost::Reconfigure(double sampleRate, uint32_t bufferSize) {
    if (activeFlag_.load() || !(sampleRate > 0.0) || bufferSize < 1 || bufferSize > MaxBufferSize) {
        throw std::invalid_argument("TNullHost: reconfigured while active or out of range");
    }
    const bool rateChanged = sampleRate != rate_;
    rate_ = sampleRate;
    size_ = bufferSize;
    for (auto& channel : OutBuffer) {
        channel.assign(size_, 0.0f);
    }
    if (rateChanged && OnSampleRateChanged) {
        OnSampleRateChanged(this);
    } else if (!rateChanged && OnReset) {
        OnReset(this);
    }
}

void TNullHost::Clock() {
    NameThisThread("NullHost");
    SetFlushDenormals();
    if (TimeCritical) {
        RaiseToRealTimePriority();
    }
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<clock::duration>(
        std::chrono::duration<double>(static_cast<double>(size_) / rate_));
    auto next = clock::now();
    while (!stopRequested_.load()) {
        if (resetRequested_.exchange(false)) {
            if (OnReset) {
                OnReset(this);
            }
            if (stopRequested_.load()) {
                break;
            }
        }
        BlockCount.fetch_add(1, std::memory_order_relaxed);
        if (OnBufferSwitch32) {
            OnBufferSwitch32(this, InBuffer, OutBuffer);
        }
        if (OnBlockDone) {
            OnBlockDone(OutBuffer);
        }
        if (RealTimePace.load(std::memory_order_relaxed)) {
            next += period;
            const auto now = clock::now();
            if (next < now - period) {
                next = now; // far behind: keep the pace from here instead of bursting
            }
            std::this_thread::sleep_until(next);
        }
    }
}

} // namespace varko
