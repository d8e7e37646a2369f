#include "engine/NullHost.h"

#include "core/RealTime.h"

#include <chrono>
#include <stdexcept>

namespace varko {

namespace {
constexpr uint32_t MaxBufferSize = 65536;
constexpr int MaxChannels = 64;
} // namespace

TNullHost::TNullHost(double ASampleRate, uint32_t ABufferSize, bool ARealTimePace,
                     int AOutputChannels)
    : RealTimePace(ARealTimePace), Rate(ASampleRate), Size(ABufferSize) {
    if (!(ASampleRate > 0.0) || ABufferSize < 1 || ABufferSize > MaxBufferSize ||
        AOutputChannels < 0 || AOutputChannels > MaxChannels) {
        throw std::invalid_argument("TNullHost: rate, block size or channel count out of range");
    }
    OutBuffer.assign(static_cast<size_t>(AOutputChannels), TSingleArray(Size, 0.0f));
}

TNullHost::~TNullHost() {
    TNullHost::SetActive(false);
    JoinClock();
}

std::string TNullHost::GetOutputChannelName(int channel) const {
    return "Null " + std::to_string(channel + 1);
}

void TNullHost::JoinClock() {
    if (ClockThread.joinable() && ClockThread.get_id() != std::this_thread::get_id()) {
        ClockThread.join();
    }
}

void TNullHost::SetActive(bool value) {
    const bool onClock =
        ClockThread.joinable() && ClockThread.get_id() == std::this_thread::get_id();
    if (onClock) {
        // Called from a block's own notice: the loop checks the flag after this block.
        StopRequested.store(!value);
        ActiveFlag.store(value);
        return;
    }
    if (!value) {
        StopRequested.store(true);
        JoinClock();
        ActiveFlag.store(false);
        return;
    }
    if (ActiveFlag.load()) {
        return;
    }
    JoinClock();
    StopRequested.store(false);
    ActiveFlag.store(true);
    ClockThread = std::thread([this] { Clock(); });
}

void TNullHost::Reconfigure(double ASampleRate, uint32_t ABufferSize) {
    if (ActiveFlag.load() || !(ASampleRate > 0.0) || ABufferSize < 1 ||
        ABufferSize > MaxBufferSize) {
        throw std::invalid_argument("TNullHost: reconfigured while active or out of range");
    }
    const bool rateChanged = ASampleRate != Rate;
    Rate = ASampleRate;
    Size = ABufferSize;
    for (auto& channel : OutBuffer) {
        channel.assign(Size, 0.0f);
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
        std::chrono::duration<double>(static_cast<double>(Size) / Rate));
    auto next = clock::now();
    while (!StopRequested.load()) {
        if (ResetRequested.exchange(false)) {
            if (OnReset) {
                OnReset(this);
            }
            if (StopRequested.load()) {
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
