// The driver's stream: starting and stopping it, its buffers, and the watchdog that follows the
// device.
#include "audio/RtAudioDriver.h"

#include <algorithm>
#include <cmath>

namespace varko {

using namespace rtaudio;

ASIOError TRtAudioDriver::start() {
    std::shared_ptr<TStreamCore> core;
    {
        std::lock_guard lock(mutex_);
        if (halves_.empty()) {
            return ASE_InvalidMode;
        }
        if (running_) {
            return ASE_OK;
        }
        core = core_;
    }
    // After a loss the stream is gone; open it again on the device if it is back.
    if (!core) {
        const ASIOError reopened = Open(bufferSize_);
        if (reopened != ASE_OK) {
            return reopened;
        }
        std::lock_guard lock(mutex_);
        core = core_;
    }
    core->Half = 0;
    core->PrefillLeft = core->Bursty ? MaxPrefill : 0;
    core->LastCallbackNs = 0;
    core->SizeMismatch.store(false, std::memory_order_relaxed);
    core->Gate.Open();
    const uint32_t errorsBefore = gRtErrors.load(std::memory_order_relaxed);
    const std::optional<bool> started = Worker()->Call<bool>(
        [core] {
            core->Audio->startStream();
            return core->Audio->isStreamRunning();
        },
        OpenLimit);
    if (!started || !*started || gRtErrors.load(std::memory_order_relaxed) != errorsBefore) {
        core->Gate.Shut();
        std::lock_guard lock(mutex_);
        error_ = "The stream did not start.";
        GiveUpStream();
        return ASE_HWMalfunction;
    }
    std::lock_guard lock(mutex_);
    errorsAtStart_ = gRtErrors.load(std::memory_order_relaxed);
    resizesAtStart_ = gJackResizes.load(std::memory_order_relaxed);
    lastCount_ = core->CallbackCount.load(std::memory_order_relaxed);
    lastWriteErrors_ = gRtWriteErrors.load(std::memory_order_relaxed);
    lastProgress_ = lastCheck_ = Clock::now();
    stallCallbacks_ = 0;
    serverAnswer_.reset();
    lost_ = false;
    running_ = true;
    return ASE_OK;
}

ASIOError TRtAudioDriver::stop() {
    std::shared_ptr<TStreamCore> core;
    {
        std::lock_guard lock(mutex_);
        if (!running_) {
            return ASE_OK;
        }
        running_ = false;
        core = core_;
    }
    if (!core) {
        return ASE_OK;
    }
    // From here on no callback reaches the host, whatever the back end does.
    core->Gate.Shut();
    // Without draining: what the device still holds is not worth waiting for.
    const std::optional<bool> stopped = Worker()->Call<bool>(
        [core] {
            if (core->Audio && core->Audio->isStreamRunning()) {
                core->Audio->abortStream();
            }
            return true;
        },
        StopLimit);
    if (!stopped) {
        std::lock_guard lock(mutex_);
        error_ = "The device does not answer.";
        GiveUpStream();
    }
    return ASE_OK;
}

// The host's buffer switch, on the callback thread, while the gate holds the stream.
ASIOError TRtAudioDriver::getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) {
    TStreamCore* core = liveCore_.load(std::memory_order_acquire);
    if (sPos) {
        *sPos = ASIOFromInt64(core ? core->SamplePos.load(std::memory_order_relaxed) : 0);
    }
    if (tStamp) {
        *tStamp = ASIOFromInt64(core ? core->SystemTime.load(std::memory_order_relaxed) : 0);
    }
    return ASE_OK;
}

ASIOError TRtAudioDriver::createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels,
                                        int32_t bufferSize, ASIOCallbacks* callbacks) {
    {
        std::lock_guard lock(mutex_);
        if (!bufferInfos || numChannels <= 0 || !callbacks || bufferSize < 1) {
            return ASE_InvalidParameter;
        }
        if (running_ || !halves_.empty()) {
            return ASE_InvalidMode;
        }
        for (int32_t i = 0; i < numChannels; ++i) {
            const ASIOBufferInfo& b = bufferInfos[i];
            if (b.isInput || b.channelNum < 0 || b.channelNum >= outputs_) {
                return ASE_InvalidParameter;
            }
        }
        const size_t half = static_cast<size_t>(bufferSize) * static_cast<size_t>(bytes_);
        halves_.assign(static_cast<size_t>(numChannels) * 2 * half, 0);
        channels_.clear();
        deviceHalf_.assign(static_cast<size_t>(outputs_), nullptr);
        for (int32_t i = 0; i < numChannels; ++i) {
            uint8_t* base = halves_.data() + static_cast<size_t>(i) * 2 * half;
            bufferInfos[i].buffers[0] = base;
            bufferInfos[i].buffers[1] = base + half;
            channels_.push_back({bufferInfos[i].channelNum, base});
            deviceHalf_[static_cast<size_t>(bufferInfos[i].channelNum)] = base;
        }
        bufferSize_ = bufferSize;
        callbacks_ = callbacks;
    }
    const ASIOError opened = Open(bufferSize);
    if (opened != ASE_OK) {
        std::lock_guard lock(mutex_);
        ReleaseBuffers();
        return opened;
    }
    return ASE_OK;
}

ASIOError TRtAudioDriver::disposeBuffers() {
    stop();
    std::shared_ptr<TStreamCore> core;
    {
        std::lock_guard lock(mutex_);
        core = std::move(core_);
        liveCore_.store(nullptr, std::memory_order_release);
    }
    if (core) {
        core->Gate.Shut();
        if (!Worker()->Call<bool>(
                [core] {
                    CloseStream(core);
                    return true;
                },
                StopLimit)) {
            GiveUpWorker();
        }
    }
    std::lock_guard lock(mutex_);
    ReleaseBuffers();
    return ASE_OK;
}

std::shared_ptr<TDeviceWorker> TRtAudioDriver::Worker() {
    std::lock_guard lock(workerMutex_);
    if (!worker_) {
        worker_ = std::make_shared<TDeviceWorker>();
    }
    return worker_;
}

// The worker is stuck in a call the server does not answer: it finishes alone.
void TRtAudioDriver::GiveUpWorker() {
    std::shared_ptr<TDeviceWorker> worker;
    {
        std::lock_guard lock(workerMutex_);
        worker = std::move(worker_);
    }
    if (worker) {
        worker->Abandon();
    }
}

// Caller holds FMutex. The stream is shut and handed to its worker to close whenever the
// server lets it; the next start opens a new one.
void TRtAudioDriver::GiveUpStream() {
    liveCore_.store(nullptr, std::memory_order_release);
    std::shared_ptr<TStreamCore> core = std::move(core_);
    running_ = false;
    if (!core) {
        return;
    }
    core->Gate.Shut();
    std::shared_ptr<TDeviceWorker> worker;
    {
        std::lock_guard lock(workerMutex_);
        worker = std::move(worker_);
    }
    if (worker) {
        worker->Post([core] { CloseStream(core); });
        worker->Abandon();
    }
}

// Opens the stream for the buffers at frames per period. Not under FMutex.
ASIOError TRtAudioDriver::Open(int32_t frames) {
    auto core = std::make_shared<TStreamCore>();
    TOpenRequest request;
    {
        std::lock_guard lock(mutex_);
        core->Api = api_;
        core->Callbacks = callbacks_;
        core->DeviceHalf = deviceHalf_;
        core->HalfBytes = static_cast<size_t>(frames) * static_cast<size_t>(bytes_);
        core->SampleBytes = static_cast<size_t>(bytes_);
        core->Frames = static_cast<unsigned>(frames);
        core->Outputs = outputs_;
        core->PeriodNs = static_cast<int64_t>(1e9 * frames / (rate_ > 0 ? rate_ : 48000.0));
        core->Bursty = api_ != RtAudio::UNIX_JACK;
        request = {api_, device_, outputs_, format_, rate_, static_cast<unsigned>(frames)};
    }
    const std::optional<TOpenResult> opened = Worker()->Call<TOpenResult>(
        [core, request] { return OpenStream(core, request); }, OpenLimit);
    std::lock_guard lock(mutex_);
    if (!opened) {
        error_ = "The device does not answer.";
        lost_ = true;
        std::shared_ptr<TDeviceWorker> worker;
        {
            std::lock_guard workerLock(workerMutex_);
            worker = std::move(worker_);
        }
        if (worker) {
            worker->Post([core] { CloseStream(core); });
            worker->Abandon();
        }
        return ASE_NotPresent;
    }
    if (!opened->Ok) {
        error_ = opened->Error;
        lost_ = opened->Absent;
        Worker()->Post([core] { CloseStream(core); });
        return opened->Absent ? ASE_NotPresent : ASE_HWMalfunction;
    }
    if (opened->Frames != static_cast<unsigned>(frames)) {
        // The device insists on another period: the host asks us again, and a reloaded
        // driver asks for that period at once.
        const auto granted = static_cast<int32_t>(opened->Frames);
        RememberGranted(name_, preferred_, granted);
        preferred_ = min_ = max_ = granted;
        Worker()->Post([core] { CloseStream(core); });
        error_ = "The device runs at another buffer size.";
        return ASE_InvalidMode;
    }
    latency_ = static_cast<int32_t>(opened->Latency);
    if (latency_ <= 0 && api_ == RtAudio::LINUX_PULSE) {
        latency_ = frames * static_cast<int32_t>(PulseBuffers);
    }
    core_ = core;
    liveCore_.store(core.get(), std::memory_order_release);
    return ASE_OK;
}

// Caller holds FMutex.
void TRtAudioDriver::ReleaseBuffers() {
    callbacks_ = nullptr;
    channels_.clear();
    deviceHalf_.clear();
    halves_.clear();
    bufferSize_ = 0;
}

// Notices leave the audio thread here: a lost device and its return, a period or rate the
// buffers no longer match. Never inside the device's callback, and never holding our lock
// while the host hears of it, so that the host may stop or reload us at once.
void TRtAudioDriver::Watch() {
    NameThisThread("VarkoWatchdog");
    std::unique_lock lock(mutex_);
    auto lastProbe = Clock::now() - ProbeInterval;
    std::shared_ptr<std::atomic<int>> probe; // 0 looking, 1 found, -1 not found
    while (!quit_) {
        wake_.wait_for(lock, 50ms);
        if (quit_) {
            break;
        }
        int32_t message = 0;
        if (running_ && core_) {
            TStreamCore& core = *core_;
            xruns_.store(xrunsBefore_ + core.Underflows.load(std::memory_order_relaxed),
                         std::memory_order_relaxed);
            if (api_ == RtAudio::UNIX_JACK &&
                gJackResizes.load(std::memory_order_relaxed) != resizesAtStart_) {
                // The server changed its period and dropped our client.
                resizesAtStart_ = gJackResizes.load(std::memory_order_relaxed);
                message = kAsioBufferSizeChange;
            } else if (core.SizeMismatch.exchange(false, std::memory_order_relaxed)) {
                message = kAsioBufferSizeChange;
            } else if (Lost(core)) {
                xrunsBefore_ = xruns_.load(std::memory_order_relaxed);
                GiveUpStream();
                serverAnswer_.reset();
                lost_ = true;
                probe.reset();
                lastProbe = Clock::now();
                message = kAsioDeviceLost;
            }
        } else if (resetWanted_.exchange(false, std::memory_order_relaxed)) {
            message = kAsioResetRequest;
        } else if (lost_ && callbacks_) {
            // Looked for on a worker of its own time, so a stalled server holds no one.
            if (probe && probe->load() == 1) {
                probe.reset();
                message = kAsioDeviceBack;
            } else if ((!probe || probe->load() == -1) &&
                       Clock::now() - lastProbe >= ProbeInterval) {
                lastProbe = Clock::now();
                probe = std::make_shared<std::atomic<int>>(0);
                const RtAudio::Api api = api_;
                const std::string device = device_;
                lock.unlock();
                Worker()->Post([probe, api, device] {
                    probe->store(ProbeDevice(api, device).Found ? 1 : -1);
                });
                lock.lock();
            }
        }
        ASIOCallbacks* callbacks = callbacks_;
        if (message && callbacks && callbacks->asioMessage) {
            lock.unlock();
            callbacks->asioMessage(message, 0, nullptr, nullptr);
            lock.lock();
        }
    }
}

// Caller holds FMutex. An error that aborted the stream, or no block played for longer than a
// slow machine explains while the server is gone or does not come back in time.
bool TRtAudioDriver::Lost(const TStreamCore& core) {
    if (gRtErrors.load(std::memory_order_relaxed) != errorsAtStart_ ||
        core.ServerGone.load(std::memory_order_relaxed)) {
        return true;
    }
    const auto now = Clock::now();
    const double period = rate_ > 0 ? bufferSize_ / rate_ : 0.1;
    const uint64_t count = core.CallbackCount.load(std::memory_order_relaxed);
    const uint32_t failed = gRtWriteErrors.load(std::memory_order_relaxed);
    // Progress is blocks played: callbacks whose writes fail, or that come far faster than the
    // device plays (a back end whose server died and that no longer waits for it), are none.
    const double elapsed = std::chrono::duration<double>(now - lastCheck_).count();
    const bool paced = static_cast<double>(count - lastCount_) <= MaxPrefill + 4 * elapsed / period;
    if (count != lastCount_ && paced &&
        (failed == lastWriteErrors_ || api_ == RtAudio::UNIX_JACK)) {
        lastProgress_ = now;
        stallCallbacks_ = 0;
        serverAnswer_.reset();
    } else {
        stallCallbacks_ += count - lastCount_;
    }
    lastCount_ = count;
    lastWriteErrors_ = failed;
    lastCheck_ = now;
    const auto limit = std::chrono::duration<double>(std::max(1.5, 16 * period));
    if (now - lastProgress_ <= limit) {
        return false;
    }
    // JACK drops a client that misses its cycles: that stream never goes on. A back end that
    // keeps calling back without playing no longer waits for its device: nothing to wait for.
    if (api_ == RtAudio::UNIX_JACK || stallCallbacks_ > static_cast<uint64_t>(MaxPrefill) ||
        now - lastProgress_ > ServerStallLimit) {
        return true;
    }
    // A back end that waits for its server: lost once the server is gone.
    if (!serverAnswer_ || (serverAnswer_->load() == 1 && now - serverAsked_ >= ProbeInterval)) {
        AskServer();
    }
    // Not answering yet is no loss: a frozen server answers once it runs again, a dead one
    // refuses at once.
    return serverAnswer_->load() == -1;
}

// Caller holds FMutex. Asks on a thread of its own whether the device's server is there.
void TRtAudioDriver::AskServer() {
    auto answer = std::make_shared<std::atomic<int>>(0);
    serverAnswer_ = answer;
    serverAsked_ = Clock::now();
    // A thread of its own: a server that does not answer holds it, not the device calls.
    auto asker = std::make_shared<TDeviceWorker>();
    asker->Post([answer, api = api_, device = device_] {
        answer->store(ServerAnswers(api, device, ServerStallLimit) ? 1 : -1);
    });
    asker->Abandon();
}

} // namespace varko
