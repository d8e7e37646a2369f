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
    explicit TFakeDriver(std::shared_ptr<TFakeScript> script) : S(std::move(script)) {
        ++S->Created;
    }
    ~TFakeDriver() override {
        if (InCall)
            S->ClosedInsideOwnCall = true;
        Halt();
        ++S->Destroyed;
    }

    ASIOBool init(void*) override { return S->InitOk ? ASIOTrue : ASIOFalse; }
    void getDriverName(char* name) override { std::strcpy(name, "Fake"); }
    int32_t getDriverVersion() override { return 7; }
    void getErrorMessage(char* s) override { s[0] = 0; }
    ASIOError start() override {
        ++S->Starts;
        if (S->StartResult != ASE_OK)
            return S->StartResult;
        if (S->ThreadedSwitches) {
            Run = true;
            Thread = std::thread([this] {
                int half = 0;
                while (Run.load()) {
                    S->Callbacks->bufferSwitch(half, ASIOTrue);
                    half = 1 - half;
                    ++S->Switches;
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });
        }
        return ASE_OK;
    }
    ASIOError stop() override {
        ++S->Stops;
        Halt();
        return ASE_OK;
    }
    ASIOError getChannels(int32_t* in, int32_t* out) override {
        *in = S->Inputs;
        *out = S->Outputs;
        return ASE_OK;
    }
    ASIOError getLatencies(int32_t* in, int32_t* out) override {
        *in = 0;
        *out = S->CreatedSize;
        return ASE_OK;
    }
    ASIOError getBufferSize(int32_t* mn, int32_t* mx, int32_t* pref, int32_t* gran) override {
        *mn = S->Min;
        *mx = S->Max;
        *pref = S->Preferred;
        *gran = S->Granularity;
        return ASE_OK;
    }
    ASIOError canSampleRate(ASIOSampleRate r) override {
        return r == S->Rate ? ASE_OK : ASE_NoClock;
    }
    ASIOError getSampleRate(ASIOSampleRate* r) override {
        *r = S->Rate;
        return ASE_OK;
    }
    ASIOError setSampleRate(ASIOSampleRate r) override {
        S->RatesSet.push_back(r);
        return ASE_OK;
    }
    ASIOError getClockSources(ASIOClockSource*, int32_t* n) override {
        *n = 0;
        return ASE_OK;
    }
    ASIOError setClockSource(int32_t) override { return ASE_OK; }
    ASIOError getSamplePosition(ASIOSamples* pos, ASIOTimeStamp* ts) override {
        *pos = ASIOFromInt64(int64_t{S->Switches.load()} * S->CreatedSize);
        *ts = ASIOFromInt64(0);
        return ASE_OK;
    }
    ASIOError getChannelInfo(ASIOChannelInfo* info) override {
        info->type = info->isInput ? S->InputType : S->OutputType;
        std::snprintf(info->name, sizeof info->name, "%s %d", info->isInput ? "In" : "Out",
                      info->channel + 1);
        return ASE_OK;
    }
    ASIOError createBuffers(ASIOBufferInfo* infos, int32_t n, int32_t size,
                            ASIOCallbacks* callbacks) override {
        if (S->Grants && size != S->Grants) {
            S->Min = S->Max = S->Preferred = S->Grants;
            return ASE_InvalidMode;
        }
        S->CreatedSize = size;
        S->Callbacks = callbacks;
        Memory.assign(static_cast<size_t>(n),
                      std::vector<uint8_t>(static_cast<size_t>(size) * 16 + 64, 0xAB));
        for (int32_t i = 0; i < n; ++i) {
            infos[i].buffers[0] = Memory[static_cast<size_t>(i)].data();
            infos[i].buffers[1] = Memory[static_cast<size_t>(i)].data() + size * 8 + 16;
        }
        S->Infos.assign(infos, infos + n);
        return ASE_OK;
    }
    ASIOError disposeBuffers() override {
        Halt();
        S->Callbacks = nullptr;
        Memory.clear();
        S->Infos.clear();
        return ASE_OK;
    }
    ASIOError controlPanel() override {
        InCall = true;
        if (S->PanelMessage && S->Callbacks)
            S->Callbacks->asioMessage(S->PanelMessage, 0, nullptr, nullptr);
        InCall = false;
        return ASE_OK;
    }
    ASIOError future(int32_t selector, void*) override {
        return selector == kAsioCanTimeInfo ? ASE_SUCCESS : ASE_NotPresent;
    }
    ASIOError outputReady() override { return ASE_OK; }

private:
    void Halt() {
        Run = false;
        if (Thread.joinable())
            Thread.join();
    }

    std::shared_ptr<TFakeScript> S;
    // Halves are 8 bytes per sample wide whatever the type, so a wrong width shows up as
    // untouched 0xAB bytes rather than as an overrun.
    std::vector<std::vector<uint8_t>> Memory;
    bool InCall = false;
    std::atomic<bool> Run{false};
    std::thread Thread;
};

inline TAsioDriverRecord FakeRecord(const std::string& name, std::shared_ptr<TFakeScript> script) {
    return {name, [script] { return std::unique_ptr<IAsioDriver>(new TFakeDriver(script)); }};
}

} // namespace varko::test
