// The driver's side of the host: the callbacks it calls (which reach the newest host), the
// buffer switch that converts and hands the buffers on, and its messages, queued for the owner's
// thread. The constructor and destructor live here because they make the host the callbacks'
// target.
#include "audio/AsioHost.h"

#include <algorithm>
#include <cstring>

namespace varko {

namespace {

// The driver callbacks carry no context: they reach the newest host.
std::atomic<TASIOHost*> gHost{nullptr};

void CbBufferSwitch(int32_t index, ASIOBool) {
    if (TASIOHost* host = gHost.load(std::memory_order_acquire)) {
        host->BufferSwitch(index);
    }
}

void CbSampleRateDidChange(ASIOSampleRate) {
    if (TASIOHost* host = gHost.load(std::memory_order_acquire)) {
        host->AsioMessage(-1, 0, nullptr, nullptr); // handled as a rate notice below
    }
}

int32_t CbAsioMessage(int32_t selector, int32_t value, void* message, double* opt) {
    TASIOHost* host = gHost.load(std::memory_order_acquire);
    if (host) {
        return host->AsioMessage(selector, value, message, opt);
    }
    // Without a host, answer as a host with the default selector support would.
    if (selector == kAsioSelectorSupported) {
        return value >= kAsioEngineVersion && value <= kAsioLatenciesChanged ? 1 : 0;
    }
    return 0;
}

ASIOTime* CbBufferSwitchTimeInfo(ASIOTime* params, int32_t index, ASIOBool) {
    TASIOHost* host = gHost.load(std::memory_order_acquire);
    if (host && params) {
        host->BufferSwitchTimeInfo(index, *params);
    }
    return nullptr;
}

// Rate notices are passed as this private selector so that they share the queue.
constexpr int32_t RateNotice = -1;
} // namespace

TASIOTimeSub::TASIOTimeSub() {
    time_.timeInfo.speed = 1.0;
    time_.timeInfo.sampleRate = 44100.0;
    time_.timeInfo.flags = kSystemTimeValid | kSamplePositionValid | kSampleRateValid | kSpeedValid;
}

void TASIOTimeSub::SetSamplePos(int64_t value) {
    if (value == SamplePos()) {
        return;
    }
    time_.timeInfo.samplePosition = ASIOFromInt64(value);
    if (OnChanged) {
        OnChanged();
    }
}

void TASIOTimeSub::SetSpeed(double value) {
    if (value == time_.timeInfo.speed) {
        return;
    }
    time_.timeInfo.speed = value;
    if (OnChanged) {
        OnChanged();
    }
}

void TASIOTimeSub::SetSampleRate(double value) {
    if (value == time_.timeInfo.sampleRate) {
        return;
    }
    time_.timeInfo.sampleRate = value;
    if (OnChanged) {
        OnChanged();
    }
}

void TASIOTimeSub::SetFlags(TATFlags value) {
    time_.timeInfo.flags = (time_.timeInfo.flags & ~0x3Fu) | (value & 0x3Fu);
}

TASIOHost::TASIOHost(const TDriverListSource& source) {
    gHost.store(this, std::memory_order_release);
    records_ = source ? source() : BuildDriverList();
    for (const TAsioDriverRecord& record : records_) {
        driverList_.push_back(record.Name);
    }
    callbacks_.bufferSwitch = CbBufferSwitch;
    callbacks_.sampleRateDidChange = CbSampleRateDidChange;
    callbacks_.asioMessage = CbAsioMessage;
    callbacks_.bufferSwitchTimeInfo = CbBufferSwitchTimeInfo;
    clip_ = GetClipDigital();
    ::varko::SetConvertOptimizations(convertOptimizations_);
    if (OnCreate) {
        OnCreate(this);
    }
}

TASIOHost::~TASIOHost() {
    if (OnDestroy) {
        OnDestroy(this);
    }
    TASIOHost::SetActive(false);
    CloseDriver();
    TASIOHost* self = this;
    gHost.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel);
}

void TASIOHost::BufferSwitch(int32_t index) {
    ::varko::ASIOTime& time = asioTime_.Record();
    time = ::varko::ASIOTime{};
    if (driver_ && driver_->getSamplePosition(&time.timeInfo.samplePosition,
                                              &time.timeInfo.systemTime) == ASE_OK) {
        time.timeInfo.flags |= kSystemTimeValid | kSamplePositionValid;
    }
    BufferSwitchTimeInfo(index, time);
}

float TASIOHost::Noise() {
    noiseState_ ^= noiseState_ << 13;
    noiseState_ ^= noiseState_ >> 17;
    noiseState_ ^= noiseState_ << 5;
    return static_cast<float>(2.0 * (noiseState_ * (1.0 / 4294967296.0)) - 1.0);
}

template <typename T, typename InConv, typename OutConv, typename Clip>
void TASIOHost::RunSwitch(int32_t index, std::vector<std::vector<T>>& in,
                          std::vector<std::vector<T>>& out, InConv inConv, OutConv outConv,
                          Clip clip) {
    const bool wide = std::is_same_v<T, double>;
    const auto n = static_cast<int32_t>(bufferSize_);
    const int inputs = static_cast<int>(in.size());
    const int outputs = static_cast<int>(out.size());

    auto prefill = [&](std::vector<std::vector<T>>& arrays, TBufferPreFill mode, bool isOutput) {
        switch (mode) {
        case bpfZero:
            for (auto& a : arrays) {
                std::fill(a.begin(), a.end(), T(0));
            }
            return true;
        case bpfNoise:
            for (auto& a : arrays) {
                for (T& v : a) {
                    v = static_cast<T>(Noise());
                }
            }
            return true;
        case bpfCustom:
            if constexpr (!std::is_same_v<T, double>) {
                if (customGenerator_) {
                    customGenerator_->ProcessBlock(arrays, isOutput);
                }
                return true;
            }
            return false;
        default:
            return false;
        }
    };

    if (!prefill(in, PreFillInBuffer, false)) {
        for (int i = 0; i < inputs; ++i) {
            void* half = bufferInfo_[i].buffers[index & 1];
            if (half && inConvertible_[static_cast<size_t>(i)]) {
                inConv(i, half, in[static_cast<size_t>(i)].data(), n);
            }
        }
    }
    if (preventClipping_ != pcNone && clip) {
        for (auto& a : in) {
            clip(a.data(), n);
        }
    }
    prefill(out, PreFillOutBuffer, true);

    auto copy = [&](int from, int to) {
        if (from >= 0 && from < inputs && to >= 0 && to < outputs) {
            std::copy(in[static_cast<size_t>(from)].begin(), in[static_cast<size_t>(from)].end(),
                      out[static_cast<size_t>(to)].begin());
        }
    };
    switch (InputMonitor) {
    case imMono:
        copy(inputChannelOffset_, outputChannelOffset_);
        break;
    case imStereo:
        copy(inputChannelOffset_, outputChannelOffset_);
        copy(inputChannelOffset_ + 1, outputChannelOffset_ + 1);
        break;
    case imAll:
        for (int i = 0; i < std::min(inputs, outputs); ++i) {
            copy(i, i);
        }
        break;
    default:
        break;
    }

    if constexpr (wide) {
        OnBufferSwitch64(this, in, out);
    } else {
        if (OnBufferSwitch32) {
            OnBufferSwitch32(this, in, out);
        }
    }

    if (preventClipping_ != pcNone && clip) {
        for (auto& a : out) {
            clip(a.data(), n);
        }
    }
    for (int i = 0; i < outputs; ++i) {
        void* half = bufferInfo_[inputs + i].buffers[index & 1];
        if (half && outConvertible_[static_cast<size_t>(i)]) {
            outConv(i, half, out[static_cast<size_t>(i)].data(), n);
        }
    }
}

void TASIOHost::BufferSwitchTimeInfo(int32_t index, const ::varko::ASIOTime& params) {
    if (!driver_ || !bufferInfo_) {
        return;
    }
    if (&params != &asioTime_.Record()) {
        asioTime_.Record() = params;
    }
    if (OnUpdateSamplePos) {
        OnUpdateSamplePos(this, ASIOToInt64(params.timeInfo.samplePosition));
    }
    if (OnBufferSwitchNative) {
        OnBufferSwitchNative(this, bufferInfo_.get(), index);
    } else if (OnBufferSwitch64) {
        RunSwitch<double>(
            index, doubleInBuffer_, doubleOutBuffer_,
            [this](int i, void* half, double* data, int32_t n) {
                inConverters_[static_cast<size_t>(i)].Float64(half, data, n);
            },
            [this](int i, void* half, double* data, int32_t n) {
                outConverters_[static_cast<size_t>(i)].Float64(data, half, n);
            },
            clip_.Float64);
    } else {
        RunSwitch<float>(
            index, singleInBuffer_, singleOutBuffer_,
            [this](int i, void* half, float* data, int32_t n) {
                inConverters_[static_cast<size_t>(i)].Float32(half, data, n);
            },
            [this](int i, void* half, float* data, int32_t n) {
                outConverters_[static_cast<size_t>(i)].Float32(data, half, n);
            },
            clip_.Float32);
    }
    driver_->outputReady();
}

int32_t TASIOHost::AsioMessage(int32_t selector, int32_t value, void*, double*) {
    switch (selector) {
    case kAsioSelectorSupported: {
        static constexpr TASIOSelectorSupport BySelector[] = {
            assEngineVersion,    assResetRequest,     assBufferSizeChange, assResyncRequest,
            assLatenciesChanged, assSupportsTimeInfo, assSupportsTimeCode, assSupportsInputMonitor};
        if (value < kAsioEngineVersion || value > kAsioSupportsInputMonitor) {
            return 0;
        }
        return (selectorSupport_ & BySelector[value - kAsioEngineVersion]) ? 1 : 0;
    }
    case kAsioEngineVersion:
        return 2;
    case kAsioResetRequest:
    case kAsioBufferSizeChange:
        // Reloading closes the driver: never inside the driver's own call.
        if (!reloadPending_.exchange(true)) {
            Post([this] {
                reloadPending_.store(false);
                if (!driver_) {
                    return;
                }
                try {
                    Reset();
                } catch (...) {
                    active_ = false;
                    deviceLost_.store(true, std::memory_order_relaxed);
                    if (OnDeviceLost) {
                        OnDeviceLost(this);
                    }
                }
            });
        }
        return 1;
    case kAsioResyncRequest:
        return 0;
    case kAsioLatenciesChanged:
        Post([this] {
            if (!driver_) {
                return;
            }
            driver_->getLatencies(&inputLatency_, &outputLatency_);
            if (OnLatencyChanged) {
                OnLatencyChanged(this);
            }
        });
        return 1;
    case kAsioSupportsTimeInfo:
        return 1;
    case kAsioSupportsTimeCode:
        return 0;
    case kAsioSupportsInputMonitor:
        return 1;
    case kAsioDeviceLost:
        deviceLost_.store(true, std::memory_order_relaxed);
        Post([this] {
            if (!driver_) {
                return;
            }
            // Stopped, but still wanted: the driver looks for the device's return.
            active_ = false;
            try {
                driver_->stop();
            } catch (...) {
            }
            SilenceBuffers();
            deviceLost_.store(true, std::memory_order_relaxed);
            if (OnDeviceLost) {
                OnDeviceLost(this);
            }
        });
        return 1;
    case kAsioDeviceBack:
        Post([this] {
            if (driver_ && deviceLost_.load(std::memory_order_relaxed)) {
                ReloadLostDriver();
            }
        });
        return 1;
    case RateNotice:
        Post([this] {
            if (OnSampleRateChanged) {
                OnSampleRateChanged(this);
            }
        });
        return 1;
    default:
        return 0;
    }
}

void TASIOHost::Post(std::function<void()> job) {
    std::weak_ptr<int> alive = alive_;
    auto guarded = [alive, job = std::move(job)] {
        if (alive.lock()) {
            job();
        }
    };
    if (OwnerDispatcher) {
        OwnerDispatcher(std::move(guarded));
        return;
    }
    std::lock_guard lock(queueMutex_);
    queue_.push_back(std::move(guarded));
}

void TASIOHost::ProcessMessages() {
    std::vector<std::function<void()>> jobs;
    {
        std::lock_guard lock(queueMutex_);
        jobs.swap(queue_);
    }
    for (auto& job : jobs) {
        job();
    }
}

} // namespace varko
