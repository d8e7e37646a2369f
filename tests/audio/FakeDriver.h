// A scripted driver for the host's tests: it reports what the script says, records what the
// host asks, and switches buffers when the test (or its own thread) says so.
#pragma once

#include "audio/DriverBridge.h"

#include <atomic>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace varko::test {

struct TFakeScript {
    // What the driver reports
    bool InitOk = true;
    int32_t Inputs = 0, Outputs = 2;
    ASIOSampleType OutputType = ASIOSTFloat32LSB;
    ASIOSampleType InputType = ASIOSTFloat32LSB;
    int32_t Min = 64, Max = 1024, Preferred = 256, Granularity = -1;
    double Rate = 48000.0;
    ASIOError StartResult = ASE_OK;
    // Nonzero: the device runs at this period whatever it is asked for; createBuffers refuses
    // another size and the driver offers this one from then on (as ALSA's dmix does).
    int32_t Grants = 0;
    bool ThreadedSwitches = false; // switch halves from a thread of its own while started
    // Run by controlPanel(), as a hardware driver would after the player's choice
    int32_t PanelMessage = 0;

    // What the host did
    std::vector<double> RatesSet;
    int32_t CreatedSize = 0;
    int Created = 0, Destroyed = 0, Starts = 0, Stops = 0;
    bool ClosedInsideOwnCall = false;
    std::atomic<int> Switches{0};
    ASIOCallbacks* Callbacks = nullptr;
    std::vector<ASIOBufferInfo> Infos; // as the host handed them, with our halves
};

class TFakeDriver final : public IAsioDriver {
public:
    explicit TFakeDriver(std::shared_ptr<TFakeScript> script) : s_(std::move(script)) {
        ++s_->Created;
    }
    ~TFakeDriver() override {
        if (inCall_)
            s_->ClosedInsideOwnCall = true;
        Halt();
        ++s_->Destroyed;
    }

    ASIOBool init(void*) override { return s_->InitOk ? ASIOTrue : ASIOFalse; }
    void getDriverName(char* name) override { std::strcpy(name, "Fake"); }
    int32_t getDriverVersion() override { return 7; }
    void getErrorMessage(char* s) override { s[0] = 0; }
    ASIOError start() override {
        ++s_->Starts;
        if (s_->StartResult != ASE_OK)
            return s_->StartResult;
        if (s_->ThreadedSwitches) {
            run_ = true;
            thread_ = std::thread([this] {
                int half = 0;
                while (run_.load()) {
                    s_->Callbacks->bufferSwitch(half, ASIOTrue);
                    half = 1 - half;
                    ++s_->Switches;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        return ASE_OK;
    }
    ASIOError stop() override {
        ++s_->Stops;
        Halt();
        return ASE_OK;
    }
    ASIOError getChannels(int32_t* in, int32_t* out) override {
        *in = s_->Inputs;
        *out = s_->Outputs;
        return ASE_OK;
    }
    ASIOError getLatencies(int32_t* in, int32_t* out) override {
        *in = 0;
        *out = s_->CreatedSize;
        return ASE_OK;
    }
    ASIOError getBufferSize(int32_t* mn, int32_t* mx, int32_t* pref, int32_t* gran) override {
        *mn = s_->Min;
        *mx = s_->Max;
        *pref = s_->Preferred;
        *gran = s_->Granularity;
        return ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate r) override {
        return r == s_->Rate ? ASE_OK : ASE_NoClock;
    }
    ASIOError getSampleRate(ASIOSampleRate* r) override {
        *r = s_->Rate;
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate r) override {
        s_->RatesSet.push_back(r);
        return ASE_OK;
    }
    ASIOError getClockSources(ASIOClockSource*, int32_t* n) override {
        *n = 0;
        return ASE_OK;
    }
    ASIOError setClockSource(int32_t) override { return ASE_OK; }
    ASIOError getSamplePosition(ASIOSamples* pos, ASIOTimeStamp* ts) override {
        *pos = ASIOFromInt64(int64_t{s_->Switches.load()} * s_->CreatedSize);
        *ts = ASIOFromInt64(0);
        return ASE_OK;
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        info->type = info->isInput ? s_->InputType : s_->OutputType;
        std::snprintf(info->name, sizeof info->name, "%s %d", info->isInput ? "In" : "Out",
                      info->channel + 1);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, int32_t n, int32_t size,
                            ASIOCallbacks* callbacks) override {
        if (s_->Grants && size != s_->Grants) {
            s_->Min = s_->Max = s_->Preferred = s_->Grants;
            return ASE_InvalidMode;
        }
        s_->CreatedSize = size;
        s_->Callbacks = callbacks;
        memory_.assign(static_cast<size_t>(n),
                       std::vector<uint8_t>(static_cast<size_t>(size) * 16 + 64, 0xAB));
        for (int32_t i = 0; i < n; ++i) {
            infos[i].buffers[0] = memory_[static_cast<size_t>(i)].data();
            infos[i].buffers[1] = memory_[static_cast<size_t>(i)].data() + size * 8 + 16;
        }
        s_->Infos.assign(infos, infos + n);
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        Halt();
        s_->Callbacks = nullptr;
        memory_.clear();
        s_->Infos.clear();
        return ASE_OK;
    }
    ASIOError controlPanel() override {
        inCall_ = true;
        if (s_->PanelMessage && s_->Callbacks)
            s_->Callbacks->asioMessage(s_->PanelMessage, 0, nullptr, nullptr);
        inCall_ = false;
        return ASE_OK;
    }
    ASIOError future(int32_t selector, void*) override {
        return selector == kAsioCanTimeInfo ? ASE_SUCCESS : ASE_NotPresent;
    }
    ASIOError outputReady() override { return ASE_OK; }

private:
    void Halt() {
        run_ = false;
        if (thread_.joinable())
            thread_.join();
    }

    std::shared_ptr<TFakeScript> s_;
    // Halves are 8 bytes per sample wide whatever the type, so a wrong width shows up as
    // untouched 0xAB bytes rather than as an overrun.
    std::vector<std::vector<uint8_t>> memory_;
    bool inCall_ = false;
    std::atomic<bool> run_{false};
    std::thread thread_;
};

inline TAsioDriverRecord FakeRecord(const std::string& name, std::shared_ptr<TFakeScript> script) {
    return {name, [script] { return std::unique_ptr<IAsioDriver>(new TFakeDriver(script)); }};
}

} // namespace varko::test
