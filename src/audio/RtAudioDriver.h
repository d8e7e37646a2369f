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

    const RtAudio::Api FApi;
    const std::string FDevice;
    const std::string FName;

    // Guards what the owner's calls and the watchdog share; never held across a device call.
    std::mutex FMutex;
    std::string FError;
    int32_t FOutputs = 0;
    RtAudioFormat FFormat = RTAUDIO_FLOAT32;
    ASIOSampleType FType = ASIOSTFloat32LSB;
    int32_t FBytes = 4;
    std::vector<std::string> FNames;
    std::vector<double> FRates;
    double FRate = 44100.0;
    int32_t FMin = 0, FMax = 0, FPreferred = 0, FGranularity = 0;
    int32_t FLatency = 0; // samples the device buffers, as the stream reports it

    std::vector<uint8_t> FHalves;
    std::vector<TChannel> FChannels;
    std::vector<uint8_t*> FDeviceHalf; // per device channel, its two halves or none
    int32_t FBufferSize = 0;
    ASIOCallbacks* FCallbacks = nullptr;

    std::shared_ptr<rtaudio::TStreamCore> FCore; // the open stream
    std::atomic<rtaudio::TStreamCore*> FLiveCore{nullptr};
    std::mutex FWorkerMutex; // inside FMutex when both are held
    std::shared_ptr<TDeviceWorker> FWorker;

    std::condition_variable FWake;
    std::thread FWatchdog;
    bool FQuit = false;
    bool FRunning = false;
    bool FLost = false; // the device went away; the watchdog looks for it
    uint32_t FErrorsAtStart = 0;
    uint32_t FResizesAtStart = 0;
    uint64_t FLastCount = 0;
    uint32_t FLastWriteErrors = 0;
    rtaudio::Clock::time_point FLastCheck;
    rtaudio::Clock::time_point FLastProgress;
    uint64_t FStallCallbacks = 0; // callbacks since the last progress that played nothing
    // While the stream stalls: 0 asking the server, 1 it answered, -1 it is gone.
    std::shared_ptr<std::atomic<int>> FServerAnswer;
    rtaudio::Clock::time_point FServerAsked;
    uint64_t FXrunsBefore = 0;

    std::atomic<bool> FResetWanted{false};
    std::atomic<uint64_t> FXruns{0};
};

TAsioDriverRecords EnumerateRtAudioDrivers();

// The back ends compiled into RtAudio that drivers are made for: "JACK", "ALSA", "PulseAudio".
std::vector<std::string> RtAudioBackEnds();

} // namespace varko
