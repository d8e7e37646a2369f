// Drivers over RtAudio: one per output device of the JACK, ALSA and PulseAudio back ends.
// Each keeps two halves per output channel in the device's native sample format; the device's
// callback asks the host to fill one half and hands it to RtAudio, then the other.
#pragma once

#include "audio/DeviceWorker.h"
#include "audio/DriverBridge.h"
#include "audio/DriverList.h"
#include "audio/DriverPanel.h"
#include "audio/RtAudioStream.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace varko {

// The driver over one output device of an RtAudio back end: two halves per output channel in
// the device's native format; the device's callback asks the host to fill one half and hands it
// to RtAudio, then the other. Every device call runs on a worker with a bounded wait, so that a
// stalled server never holds the caller; a watchdog thread reports a lost device and its return.
class TRtAudioDriver final : public IAsioDriver {
public:
    TRtAudioDriver(RtAudio::Api api, std::string device);
    ~TRtAudioDriver() override;
    ASIOBool init(void*) override;
    void getDriverName(char* name) override;
    int32_t getDriverVersion() override;
    void getErrorMessage(char* string) override;
    ASIOError start() override;
    ASIOError stop() override;
    ASIOError getChannels(int32_t* numInputChannels, int32_t* numOutputChannels) override;
    ASIOError getLatencies(int32_t* inputLatency, int32_t* outputLatency) override;
    ASIOError getBufferSize(int32_t* minSize, int32_t* maxSize, int32_t* preferredSize,
                            int32_t* granularity) override;
    ASIOError canSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getSampleRate(ASIOSampleRate* sampleRate) override;
    ASIOError setSampleRate(ASIOSampleRate sampleRate) override;
    ASIOError getClockSources(ASIOClockSource* clocks, int32_t* numSources) override;
    ASIOError setClockSource(int32_t reference) override;
    // The host's buffer switch, on the callback thread, while the gate holds the stream.
    ASIOError getSamplePosition(ASIOSamples* sPos, ASIOTimeStamp* tStamp) override;
    ASIOError getChannelInfo(ASIOChannelInfo* info) override;
    ASIOError createBuffers(ASIOBufferInfo* bufferInfos, int32_t numChannels, int32_t bufferSize,
                            ASIOCallbacks* callbacks) override;
    ASIOError disposeBuffers() override;
    ASIOError controlPanel() override;
    ASIOError future(int32_t selector, void* opt) override;
    // Our callback hands the half to the device as soon as the host returns.
    ASIOError outputReady() override;

private:
    struct TChannel {
        int32_t Device = 0;
        uint8_t* Base = nullptr;
    };
    static rtaudio::TGranted GrantedFor(const std::string& name);
    static void RememberGranted(const std::string& name, int32_t asked, int32_t granted);
    ASIOBool Fail(const char* text);
    bool Accepts(double rate) const;
    std::shared_ptr<TDeviceWorker> Worker();
    // The worker is stuck in a call the server does not answer: it finishes alone.
    void GiveUpWorker();
    // Caller holds FMutex. The stream is shut and handed to its worker to close whenever the
    // server lets it; the next start opens a new one.
    void GiveUpStream();
    // Opens the stream for the buffers at frames per period. Not under FMutex.
    ASIOError Open(int32_t frames);
    // Caller holds FMutex.
    void ReleaseBuffers();
    // Notices leave the audio thread here: a lost device and its return, a period or rate the
    // buffers no longer match. Never inside the device's callback, and never holding our lock
    // while the host hears of it, so that the host may stop or reload us at once.
    void Watch();
    // Caller holds FMutex. An error that aborted the stream, or no block played for longer
    // than a slow machine explains while the server is gone or does not come back in time.
    bool Lost(const rtaudio::TStreamCore& core);
    // Caller holds FMutex. Asks on a thread of its own whether the device's server is there.
    void AskServer();

    const RtAudio::Api api_;
    const std::string device_;
    const std::string name_;

    // Guards what the owner's calls and the watchdog share; never held across a device call.
    std::mutex mutex_;
    std::string error_;
    int32_t outputs_ = 0;
    RtAudioFormat format_ = RTAUDIO_FLOAT32;
    ASIOSampleType type_ = ASIOSTFloat32LSB;
    int32_t bytes_ = 4;
    std::vector<std::string> names_;
    std::vector<double> rates_;
    double rate_ = 44100.0;
    int32_t min_ = 0, max_ = 0, preferred_ = 0, granularity_ = 0;
    int32_t latency_ = 0; // samples the device buffers, as the stream reports it

    std::vector<uint8_t> halves_;
    std::vector<TChannel> channels_;
    std::vector<uint8_t*> deviceHalf_; // per device channel, its two halves or none
    int32_t bufferSize_ = 0;
    ASIOCallbacks* callbacks_ = nullptr;

    std::shared_ptr<rtaudio::TStreamCore> core_; // the open stream
    std::atomic<rtaudio::TStreamCore*> liveCore_{nullptr};
    std::mutex workerMutex_; // inside FMutex when both are held
    std::shared_ptr<TDeviceWorker> worker_;

    std::condition_variable wake_;
    std::thread watchdog_;
    bool quit_ = false;
    bool running_ = false;
    bool lost_ = false; // the device went away; the watchdog looks for it
    uint32_t errorsAtStart_ = 0;
    uint32_t resizesAtStart_ = 0;
    uint64_t lastCount_ = 0;
    uint32_t lastWriteErrors_ = 0;
    rtaudio::Clock::time_point lastCheck_;
    rtaudio::Clock::time_point lastProgress_;
    uint64_t stallCallbacks_ = 0; // callbacks since the last progress that played nothing
    // While the stream stalls: 0 asking the server, 1 it answered, -1 it is gone.
    std::shared_ptr<std::atomic<int>> serverAnswer_;
    rtaudio::Clock::time_point serverAsked_;
    uint64_t xrunsBefore_ = 0;

    std::atomic<bool> resetWanted_{false};
    std::atomic<uint64_t> xruns_{0};
};

TAsioDriverRecords EnumerateRtAudioDrivers();

// The back ends compiled into RtAudio that drivers are made for: "JACK", "ALSA", "PulseAudio".
std::vector<std::string> RtAudioBackEnds();

} // namespace varko
